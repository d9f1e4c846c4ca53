#include "shellmenu.h"

#include "messages.h"
#include "module.h"
#include "winhelpers.h"

#include <cstring>
#include <shellapi.h>

namespace tkshell {

namespace {

// Command identifiers handed to InvokeCommand as numbers are offsets from idCmdFirst.
bool verbIsOffset(LPCSTR verb)
{
    return IS_INTRESOURCE(verb);
}

void writeHelpText(const std::string& text, UINT uType, CHAR* name, UINT cchMax)
{
    if (!name || cchMax == 0)
        return;
    if (uType == GCS_VERBA || uType == GCS_HELPTEXTA) {
        std::memcpy(name, text.c_str(), text.size() + 1);
    } else if (uType == GCS_VERBW || uType == GCS_HELPTEXTW) {
        auto* wide = reinterpret_cast<WCHAR*>(name);
        const int written =
            MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide,
                                static_cast<int>(cchMax) - 1);
        wide[written > 0 ? written : 0] = L'\0';
    }
}

} // namespace

ShellMenu::ShellMenu()
{
    drawingMenu_.owner = this;
    objectCreated();
}

ShellMenu::~ShellMenu()
{
    objectDestroyed();
}

HRESULT ShellMenu::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IShellExtInit)
        *object = static_cast<IShellExtInit*>(this);
    else if (iid == IID_IContextMenu)
        *object = static_cast<IContextMenu*>(this);
    else if (iid == IID_IContextMenu2 || iid == IID_IContextMenu3)
        *object = static_cast<IContextMenu3*>(&drawingMenu_);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ShellMenu::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG ShellMenu::Release()
{
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT ShellMenu::Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* dataObject, HKEY)
{
    selection_ = Selection();
    if (pidlFolder) {
        char folder[MAX_PATH + 1] = {};
        if (SHGetPathFromIDListA(pidlFolder, folder))
            selection_.folderPath = ensureTrailingBackslash(folder);
    }
    if (!dataObject)
        return S_OK;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (FAILED(dataObject->GetData(&format, &medium)))
        return S_OK;
    auto drop = static_cast<HDROP>(medium.hGlobal);
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    selection_.paths.resize(count);
    for (UINT i = 0; i < count; ++i) {
        char path[1024];
        const UINT length = DragQueryFileA(drop, i, path, sizeof(path));
        if (length > 0)
            selection_.paths[i].assign(path, length);
    }
    ReleaseStgMedium(&medium);
    return S_OK;
}

void ShellMenu::insertItem(HMENU menu, UINT position, const PlannedItem& item, UINT idCmdFirst)
{
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE | MIIM_ID | MIIM_TYPE;
    info.fType = item.type;
    info.fState = item.state;
    info.wID = idCmdFirst + item.idOffset;
    if (item.entry) {
        // For an owner-drawn item this is only the item's data; the caption
        // lives in static storage, so the pointer stays good.
        info.dwTypeData = const_cast<char*>(item.entry->caption);
        info.cch = static_cast<UINT>(std::strlen(item.entry->caption));
    }
    InsertMenuItemA(menu, position, TRUE, &info);
}

HRESULT ShellMenu::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                    UINT uFlags)
{
    captions_.clear();
    records_.clear();
    if (selection_.paths.empty() || (uFlags & CMF_VERBSONLY) != 0)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

    selection_.hasFolder = false;
    for (const std::string& path : selection_.paths)
        if (isFolder(path))
            selection_.hasFolder = true;
    const std::string enabled =
        readRegistryString(HKEY_LOCAL_MACHINE, kSettingsKey, "ContextDownloadTk");
    const unsigned idRoom = idCmdLast >= idCmdFirst ? idCmdLast - idCmdFirst + 1 : 0;
    const MenuPlan plan = planMenu(selection_, enabled, uFlags, idRoom);

    UINT position = indexMenu;
    for (const PlannedItem& item : plan.items) {
        // A failed insertion is skipped like any other failed step of the build.
        insertItem(menu, position++, item, idCmdFirst);
        if (!item.entry)
            continue;
        captions_.push_back(item.entry->caption);
        if (item.entry->pictureIndex != -1)
            records_.push_back(
                {idCmdFirst + item.idOffset, item.entry->caption, item.entry->pictureIndex});
    }
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, plan.commandsUsed);
}

HRESULT ShellMenu::GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* name, UINT cchMax)
{
    if (idCmd >= captions_.size())
        return E_INVALIDARG;
    if (uType == GCS_VALIDATEA || uType == GCS_VALIDATEW)
        return S_OK;
    writeHelpText(helpTextFor(captions_[idCmd], cchMax), uType, name, cchMax);
    return S_OK;
}

HRESULT ShellMenu::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    if (!info)
        return E_INVALIDARG;
    if (!verbIsOffset(info->lpVerb))
        return S_OK; // a verb given as text is none of ours
    const UINT offset = LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb));
    if (offset >= captions_.size())
        return S_OK;

    const std::string program =
        downloaderPath(readRegistryString(HKEY_LOCAL_MACHINE, kSettingsKey, "InstallPath"));
    if (!fileExists(program)) {
        showMessage(info->hwnd,
                    "Unable to locate \"Tk650Downloader.exe\"\rTry reinstalling the application",
                    MB_ICONERROR);
        return S_OK;
    }
    const DownloadEntry* entry = entryByCaption(captions_[offset]);
    if (!entry)
        return S_OK;
    std::string commandLine = launchCommandLine(program, *entry, selection_.paths);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        showMessage(info->hwnd, "Error : " + describeError(GetLastError()), MB_OK);
        return S_OK;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return S_OK;
}

HRESULT ShellMenu::DrawingMenu::QueryInterface(REFIID iid, void** object)
{
    return owner->QueryInterface(iid, object);
}

ULONG ShellMenu::DrawingMenu::AddRef()
{
    return owner->AddRef();
}

ULONG ShellMenu::DrawingMenu::Release()
{
    return owner->Release();
}

HRESULT ShellMenu::DrawingMenu::QueryContextMenu(HMENU, UINT, UINT, UINT, UINT)
{
    return S_OK;
}

HRESULT ShellMenu::DrawingMenu::InvokeCommand(CMINVOKECOMMANDINFO*)
{
    return S_OK;
}

HRESULT ShellMenu::DrawingMenu::GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT)
{
    return S_OK;
}

HRESULT ShellMenu::DrawingMenu::HandleMenuMsg(UINT message, WPARAM, LPARAM lParam)
{
    return handleOwnerDrawMessage(owner->records_, message, lParam);
}

HRESULT ShellMenu::DrawingMenu::HandleMenuMsg2(UINT message, WPARAM, LPARAM lParam, LRESULT*)
{
    return handleOwnerDrawMessage(owner->records_, message, lParam);
}

} // namespace tkshell
