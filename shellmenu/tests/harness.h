// Shared pieces of the Windows test program: the loaded DLL, a scratch folder
// with the files a user would right-click, the extension's registry values,
// a handler object driven through its real interfaces, and the message sink.
#pragma once

#include "module.h" // the class identifiers
#include "testkit.h"

#include <shlobj.h>
#include <string>
#include <vector>
#include <windows.h>

using tkshell::kClsidMnuInfo;
using tkshell::kClsidTkshellmenu;

constexpr const char* kNetworkCaption = "Download to Tk650 (network)..";
constexpr const char* kSerialCaption = "Download to Tk650 (serial)..";
constexpr const char* kNetworkHelp = "Download to Tk650 device through network connection.";
constexpr const char* kSerialHelp = "Download to Tk650 device through serial connection.";

struct Library {
    HMODULE module = nullptr;
    std::string path;   // of tkshellmenu.dll
    std::string folder; // of the test program, with a trailing backslash
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;
};
const Library& library();

// Scratch files; every path is absolute.
struct Workspace {
    std::string root;       // with a trailing backslash
    std::string file;       // "my package file.TGZ": blanks, upper-case extension
    std::string secondFile; // "second.tgz"
    std::string folder;     // "a folder" (no trailing backslash)
    std::string installDir; // "install dir" holding the fake downloader, no trailing backslash
    std::string emptyDir;   // a folder without the downloader
    std::string brokenDir;  // "Tk650Downloader.exe" there is not a program
};
const Workspace& workspace();

// The values under HKLM\SOFTWARE\Quillon Inc\Tk650Downloader; null removes one.
void setSetting(const char* name, const char* value);
void clearSettings();

// Message boxes the extension asked for (taken by the sink instead of shown).
struct ShownMessage {
    std::string text;
    std::string title;
    UINT type = 0;
};
std::vector<ShownMessage>& shownMessages();

struct MenuItem {
    UINT type = 0;
    UINT state = 0;
    UINT id = 0;
    std::string text; // for plain text items
};
std::vector<MenuItem> readMenu(HMENU menu);

// One handler object, as the shell holds it for one right-click.
class MenuObject {
public:
    MenuObject();
    ~MenuObject();
    MenuObject(const MenuObject&) = delete;
    MenuObject& operator=(const MenuObject&) = delete;

    // folderForPidl: the folder the shell names in Initialize (a background click), or empty.
    HRESULT initialize(const std::vector<std::string>& paths, const std::string& folderForPidl = "",
                       bool withData = true);
    // Builds into a fresh popup menu; returns QueryContextMenu's result.
    HRESULT build(UINT uFlags, UINT idCmdFirst = 100, UINT idCmdLast = 200, UINT indexMenu = 0);
    HMENU menu() const { return menu_; }
    std::vector<MenuItem> items() const { return readMenu(menu_); }

    IShellExtInit* init() const { return init_; }
    IContextMenu* contextMenu() const { return contextMenu_; }
    IContextMenu3* contextMenu3() const { return contextMenu3_; }

    HRESULT invoke(UINT offset);

private:
    IShellExtInit* init_ = nullptr;
    IContextMenu* contextMenu_ = nullptr;
    IContextMenu3* contextMenu3_ = nullptr;
    HMENU menu_ = nullptr;
};

// Waits up to a deadline for the fake downloader's record in `folder`; empty when none came.
std::string waitForLaunch(const std::string& folder, DWORD maxMs = 20000);
void forgetLaunch(const std::string& folder);

std::string readFile(const std::string& path);
