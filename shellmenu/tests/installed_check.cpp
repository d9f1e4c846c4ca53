// Checks an installed copy the way the file manager uses it: finds the context-menu
// handler registered for all files, creates it through COM from its registration,
// builds the menu for one file, chooses "Download to Tk650 (network)..", and then
// checks the program that started: the installed Tk650Downloader.exe, with the
// exact command line, showing a window. The program is ended afterwards.
//   tkshellmenu_installcheck.exe <file> <install folder>
// Prints one line per check and "N passed, M failed"; exit code 0 when all passed.
#include "dataobject.h"

#include <shlobj.h>
#include <tlhelp32.h>
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kNetworkCaption = "Download to Tk650 (network)..";
constexpr DWORD kDeadlineMs = 60000;

int g_passed = 0;
int g_failed = 0;

void report(bool ok, const std::string& what, const std::string& detail = {})
{
    (ok ? g_passed : g_failed)++;
    std::printf("%s: %s%s%s\n", ok ? "ok" : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(),
                        size, nullptr, nullptr);
    return result;
}

// The class identifiers listed under HKCR\*\shellex\ContextMenuHandlers: a
// handler's key names its class either in its default value or as its own name.
std::vector<std::string> handlersForAllFiles()
{
    std::vector<std::string> result;
    HKEY handlers = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers", 0, KEY_READ,
                      &handlers) != ERROR_SUCCESS)
        return result;
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(handlers, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        char value[256] = {};
        LONG valueSize = sizeof(value);
        if (RegQueryValueA(handlers, name, value, &valueSize) == ERROR_SUCCESS && value[0] == '{')
            result.emplace_back(value);
        else if (name[0] == '{')
            result.emplace_back(name);
    }
    RegCloseKey(handlers);
    return result;
}

// Builds the menu with each handler in turn; returns the one that offered the
// network entry, with the entry's command offset.
IContextMenu* handlerWithNetworkEntry(const std::string& file, UINT& offset)
{
    for (const std::string& text : handlersForAllFiles()) {
        std::wstring wide(text.begin(), text.end());
        CLSID clsid = {};
        if (FAILED(CLSIDFromString(wide.c_str(), &clsid)))
            continue;
        IShellExtInit* init = nullptr;
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                    reinterpret_cast<void**>(&init))))
            continue;
        IDataObject* data = createFileListDataObject({file});
        const HRESULT initialized = init->Initialize(nullptr, data, nullptr);
        data->Release();
        IContextMenu* menu = nullptr;
        init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
        init->Release();
        if (FAILED(initialized) || !menu)
            continue;
        constexpr UINT first = 100;
        HMENU popup = CreatePopupMenu();
        menu->QueryContextMenu(popup, 0, first, first + 100, CMF_NORMAL);
        bool found = false;
        for (int i = 0; i < GetMenuItemCount(popup) && !found; ++i) {
            char caption[256] = {};
            MENUITEMINFOA info = {};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_ID | MIIM_STRING;
            info.dwTypeData = caption;
            info.cch = sizeof(caption);
            if (GetMenuItemInfoA(popup, static_cast<UINT>(i), TRUE, &info) &&
                std::string(caption) == kNetworkCaption) {
                offset = info.wID - first;
                found = true;
            }
        }
        DestroyMenu(popup);
        if (found)
            return menu;
        menu->Release();
    }
    return nullptr;
}

// The command line another process was started with, from its process parameters.
std::wstring commandLineOf(HANDLE process)
{
    using QueryInformation = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0)
        return {};
    PEB peb = {};
    RTL_USER_PROCESS_PARAMETERS parameters = {};
    if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof(peb), nullptr) ||
        !peb.ProcessParameters ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof(parameters),
                           nullptr))
        return {};
    std::wstring line(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (line.empty() || !ReadProcessMemory(process, parameters.CommandLine.Buffer, line.data(),
                                           parameters.CommandLine.Length, nullptr))
        return {};
    return line;
}

// A process this one started (the extension starts the program from here).
DWORD childNamed(const wchar_t* exeName)
{
    DWORD found = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() &&
            lstrcmpiW(entry.szExeFile, exeName) == 0)
            found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

struct WindowSearch {
    DWORD processId = 0;
    std::string title;
};

BOOL CALLBACK visibleWindowOf(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    char title[256] = {};
    GetWindowTextA(window, title, sizeof(title));
    search->title = title[0] ? title : "(untitled)";
    return FALSE;
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) {
        std::printf("usage: tkshellmenu_installcheck <file> <install folder>\n");
        return 2;
    }
    const std::string file = argv[1];
    std::string installDir = argv[2];
    if (!installDir.empty() && installDir.back() == '\\')
        installDir.pop_back();
    const std::string program = installDir + "\\Tk650Downloader.exe";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    UINT offset = 0;
    IContextMenu* menu = handlerWithNetworkEntry(file, offset);
    report(menu != nullptr,
           "a context-menu handler for all files offers \"" + std::string(kNetworkCaption) + "\"");
    if (!menu) {
        std::printf("%d passed, %d failed\n", g_passed, g_failed);
        return 1;
    }

    CMINVOKECOMMANDINFO invoke = {};
    invoke.cbSize = sizeof(invoke);
    invoke.lpVerb = MAKEINTRESOURCEA(offset);
    invoke.nShow = SW_SHOWNORMAL;
    report(menu->InvokeCommand(&invoke) == S_OK, "choosing it succeeds");
    menu->Release();

    const DWORD start = GetTickCount();
    DWORD pid = 0;
    while (!(pid = childNamed(L"Tk650Downloader.exe")) && GetTickCount() - start < kDeadlineMs)
        Sleep(20);
    report(pid != 0, "Tk650Downloader.exe started");
    if (pid) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ |
                                         PROCESS_TERMINATE | SYNCHRONIZE,
                                     FALSE, pid);
        wchar_t image[MAX_PATH] = {};
        DWORD imageSize = MAX_PATH;
        QueryFullProcessImageNameW(process, 0, image, &imageSize);
        report(lstrcmpiW(image, std::wstring(program.begin(), program.end()).c_str()) == 0,
               "it is the installed program", narrow(image));

        // The parameters are filled in while the new process starts: read again until there.
        std::wstring line;
        while ((line = commandLineOf(process)).empty() && GetTickCount() - start < kDeadlineMs)
            Sleep(20);
        const std::string expected = "\"" + program + "\" -n \"" + file + "\"";
        const bool sameLine = narrow(line) == expected;
        report(sameLine, "its command line is " + expected, sameLine ? "" : "got " + narrow(line));

        WindowSearch search;
        search.processId = pid;
        while (search.title.empty() && WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
               GetTickCount() - start < kDeadlineMs) {
            EnumWindows(visibleWindowOf, reinterpret_cast<LPARAM>(&search));
            if (search.title.empty())
                Sleep(50);
        }
        report(!search.title.empty(), "it shows a window", search.title);
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
    CoUninitialize();
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
