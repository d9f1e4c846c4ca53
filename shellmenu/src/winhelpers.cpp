#include "winhelpers.h"

#include "menurules.h"

#include <algorithm>
#include <vector>

namespace tkshell {

std::string readRegistryString(HKEY hive, const char* key, const char* valueName)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(hive, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return {};
    std::string result;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(handle, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        std::vector<char> buffer(size, ' ');
        if (size == 0 ||
            RegQueryValueExA(handle, valueName, nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS) {
            buffer.resize(std::min<std::size_t>(buffer.size(), size));
            result.assign(buffer.begin(), buffer.end());
            const auto nul = result.find('\0');
            if (nul != std::string::npos)
                result.resize(nul);
        }
    }
    RegCloseKey(handle);
    return result;
}

bool fileExists(const std::string& path)
{
    const std::string checked = pathForExistenceCheck(path);
    if (checked.empty())
        return false;
    HANDLE file = CreateFileA(checked.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool isFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string describeError(DWORD error)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length && text ? std::string(text, length) : std::string();
    if (text)
        LocalFree(text);
    while (!result.empty() &&
           (result.back() == '\r' || result.back() == '\n' || result.back() == ' '))
        result.pop_back();
    if (result.empty())
        result = "system error " + std::to_string(error);
    return result;
}

} // namespace tkshell
