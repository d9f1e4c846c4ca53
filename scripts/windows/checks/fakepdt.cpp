// A stand-in for the maker's serial download tool, for the checks under
// Wine: it appends its raw command line (as the system hands it over) and
// its working folder, UTF-8, to "pdt-calls.txt" beside itself, and exits with
// the number in "pdt-exit.txt" beside itself (0 without that file).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring besideMe(const wchar_t* name)
{
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder + name;
}

std::string utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

} // namespace

int wmain()
{
    wchar_t cwd[MAX_PATH * 4];
    const DWORD cwdLength = GetCurrentDirectoryW(DWORD(std::size(cwd)), cwd);
    if (FILE* log = _wfopen(besideMe(L"pdt-calls.txt").c_str(), L"ab")) {
        const std::string line = "cmdline=" + utf8(GetCommandLineW()) +
                                 "\ncwd=" + utf8(std::wstring(cwd, cwdLength)) + "\n";
        std::fwrite(line.data(), 1, line.size(), log);
        std::fclose(log);
    }
    long code = 0;
    if (FILE* in = _wfopen(besideMe(L"pdt-exit.txt").c_str(), L"rb")) {
        if (std::fscanf(in, "%ld", &code) != 1)
            code = 0;
        std::fclose(in);
    }
    return int(code);
}
