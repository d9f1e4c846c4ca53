// Prints the short (8.3) form of a path, for the checks under Wine that hand
// the program a short name and expect the stored long one to be used.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    const DWORD size = GetShortPathNameW(argv[1], nullptr, 0);
    std::wstring out(size, L'\0');
    if (size == 0 || GetShortPathNameW(argv[1], out.data(), size) == 0)
        return 1;
    out.resize(wcslen(out.c_str()));
    std::fputws(out.c_str(), stdout);
    return 0;
}
