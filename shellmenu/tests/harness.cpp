#include "harness.h"

#include "dataobject.h"

#include <cstdio>
#include <cstring>
#include <shellapi.h>
#include <type_traits>

namespace {

Library g_library;
Workspace g_workspace;
std::vector<ShownMessage> g_messages;

const char* const kSettingsKey = "SOFTWARE\\Quillon Inc\\Tk650Downloader";

void WINAPI takeMessage(HWND, const char* text, const char* title, UINT type)
{
    g_messages.push_back({text ? text : "", title ? title : "", type});
}

bool writeFile(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return written == content.size();
}

bool loadLibrary()
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    g_library.folder = self;
    g_library.folder.resize(g_library.folder.find_last_of('\\') + 1);
    g_library.path = g_library.folder + "tkshellmenu.dll";
    g_library.module = LoadLibraryA(g_library.path.c_str());
    if (!g_library.module)
        return false;
    auto resolve = [](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
            reinterpret_cast<void*>(GetProcAddress(g_library.module, name)));
        return slot != nullptr;
    };
    using MessageSink = void(WINAPI*)(HWND, const char*, const char*, UINT);
    void(WINAPI * setSink)(MessageSink) = nullptr;
    const bool all = resolve(g_library.getClassObject, "DllGetClassObject") &&
                     resolve(g_library.canUnloadNow, "DllCanUnloadNow") &&
                     resolve(g_library.registerServer, "DllRegisterServer") &&
                     resolve(g_library.unregisterServer, "DllUnregisterServer") &&
                     resolve(setSink, "TkShellMenuSetMessageSink");
    if (all)
        setSink(takeMessage);
    return all;
}

void removeWorkspace()
{
    std::string from = g_workspace.root;
    from.pop_back();
    from.push_back('\0'); // the list of paths ends with a second NUL
    SHFILEOPSTRUCTA operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&operation);
}

bool makeWorkspace()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    Workspace& w = g_workspace;
    w.root = std::string(temp) + "tkshellmenu test " + std::to_string(GetCurrentProcessId()) + "\\";
    w.file = w.root + "my package file.TGZ";
    w.secondFile = w.root + "second.tgz";
    w.folder = w.root + "a folder";
    w.installDir = w.root + "install dir";
    w.emptyDir = w.root + "empty";
    w.brokenDir = w.root + "broken";
    removeWorkspace(); // what an interrupted earlier run may have left
    return CreateDirectoryA(w.root.c_str(), nullptr) &&
           CreateDirectoryA(w.folder.c_str(), nullptr) &&
           CreateDirectoryA(w.installDir.c_str(), nullptr) &&
           CreateDirectoryA(w.emptyDir.c_str(), nullptr) &&
           CreateDirectoryA(w.brokenDir.c_str(), nullptr) && writeFile(w.file, "package") &&
           writeFile(w.secondFile, "package") &&
           writeFile(w.brokenDir + "\\Tk650Downloader.exe", "this is not a program") &&
           CopyFileA((g_library.folder + "fakedownloader.exe").c_str(),
                     (w.installDir + "\\Tk650Downloader.exe").c_str(), FALSE);
}

} // namespace

const Library& library()
{
    return g_library;
}

const Workspace& workspace()
{
    return g_workspace;
}

std::vector<ShownMessage>& shownMessages()
{
    return g_messages;
}

void setSetting(const char* name, const char* value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    if (value)
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>(std::strlen(value) + 1));
    else
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

void clearSettings()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
}

std::vector<MenuItem> readMenu(HMENU menu)
{
    std::vector<MenuItem> items;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
        MenuItem item;
        item.type = info.fType;
        item.state = info.fState;
        item.id = info.wID;
        if ((info.fType & (MFT_OWNERDRAW | MFT_SEPARATOR)) == 0)
            item.text = text;
        items.push_back(item);
    }
    return items;
}

MenuObject::MenuObject()
{
    IClassFactory* factory = nullptr;
    if (FAILED(library().getClassObject(kClsidTkshellmenu, IID_IClassFactory,
                                        reinterpret_cast<void**>(&factory))))
        return;
    factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init_));
    factory->Release();
    if (init_) {
        init_->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&contextMenu_));
        init_->QueryInterface(IID_IContextMenu3, reinterpret_cast<void**>(&contextMenu3_));
    }
}

MenuObject::~MenuObject()
{
    if (menu_)
        DestroyMenu(menu_);
    if (contextMenu3_)
        contextMenu3_->Release();
    if (contextMenu_)
        contextMenu_->Release();
    if (init_)
        init_->Release();
}

HRESULT MenuObject::initialize(const std::vector<std::string>& paths,
                               const std::string& folderForPidl, bool withData)
{
    if (!init_)
        return E_FAIL;
    PIDLIST_ABSOLUTE pidl = nullptr;
    if (!folderForPidl.empty())
        pidl = ILCreateFromPathA(folderForPidl.c_str());
    IDataObject* data = withData ? createFileListDataObject(paths) : nullptr;
    const HRESULT result = init_->Initialize(pidl, data, nullptr);
    if (data)
        data->Release();
    if (pidl)
        ILFree(pidl);
    return result;
}

HRESULT MenuObject::build(UINT uFlags, UINT idCmdFirst, UINT idCmdLast, UINT indexMenu)
{
    if (!contextMenu_)
        return E_FAIL;
    if (menu_)
        DestroyMenu(menu_);
    menu_ = CreatePopupMenu();
    return contextMenu_->QueryContextMenu(menu_, indexMenu, idCmdFirst, idCmdLast, uFlags);
}

HRESULT MenuObject::invoke(UINT offset)
{
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.nShow = SW_SHOWNORMAL;
    return contextMenu_ ? contextMenu_->InvokeCommand(&info) : E_FAIL;
}

std::string readFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        content.append(buffer, got);
    CloseHandle(file);
    return content;
}

void forgetLaunch(const std::string& folder)
{
    DeleteFileA((folder + "\\cmdline.txt").c_str());
}

std::string waitForLaunch(const std::string& folder, DWORD maxMs)
{
    const std::string record = folder + "\\cmdline.txt";
    const ULONGLONG deadline = GetTickCount64() + maxMs;
    while (GetTickCount64() < deadline) {
        if (GetFileAttributesA(record.c_str()) != INVALID_FILE_ATTRIBUTES)
            return readFile(record);
        Sleep(20);
    }
    return {};
}

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    CoInitialize(nullptr);
    if (!loadLibrary()) {
        std::printf("cannot load %s or its entry points\n0 passed, 1 failed\n",
                    g_library.path.c_str());
        return 1;
    }
    if (!makeWorkspace()) {
        std::printf("cannot create the scratch folder %s\n0 passed, 1 failed\n",
                    g_workspace.root.c_str());
        removeWorkspace();
        return 1;
    }
    clearSettings();
    library().unregisterServer();
    const int failed = testkit::runAll();
    clearSettings();
    library().unregisterServer();
    removeWorkspace();
    CoUninitialize();
    return failed == 0 ? 0 : 1;
}
