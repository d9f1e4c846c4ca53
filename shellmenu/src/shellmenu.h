// clsTkshellmenu: the context-menu handler the shell creates for one right-click.
#pragma once

#include "menurules.h"
#include "ownerdraw.h"

#include <shlobj.h>
#include <string>
#include <vector>
#include <windows.h>

namespace tkshell {

class ShellMenu final : public IShellExtInit, public IContextMenu {
public:
    ShellMenu();
    ShellMenu(const ShellMenu&) = delete;
    ShellMenu& operator=(const ShellMenu&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IShellExtInit
    HRESULT STDMETHODCALLTYPE Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* dataObject,
                                         HKEY progIdKey) override;

    // IContextMenu
    HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst,
                                               UINT idCmdLast, UINT uFlags) override;
    HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR idCmd, UINT uType, UINT* reserved,
                                               CHAR* name, UINT cchMax) override;

private:
    ~ShellMenu();

    // IContextMenu2 and IContextMenu3 are served by this part of the object: their
    // menu calls succeed without doing anything, their menu messages draw the entries.
    struct DrawingMenu final : public IContextMenu3 {
        ShellMenu* owner = nullptr;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) override;
        HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO*) override;
        HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT) override;
        HRESULT STDMETHODCALLTYPE HandleMenuMsg(UINT message, WPARAM wParam,
                                                LPARAM lParam) override;
        HRESULT STDMETHODCALLTYPE HandleMenuMsg2(UINT message, WPARAM wParam, LPARAM lParam,
                                                 LRESULT* result) override;
    };

    static void insertItem(HMENU menu, UINT position, const PlannedItem& item, UINT idCmdFirst);

    LONG references_ = 1;
    DrawingMenu drawingMenu_;
    Selection selection_;
    std::vector<std::string> captions_; // by command offset
    std::vector<MenuRecord> records_;   // the items drawn with a picture
};

} // namespace tkshell
