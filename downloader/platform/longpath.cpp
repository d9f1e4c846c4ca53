#ifdef _WIN32
#include "platform/longpath.h"

#include <windows.h>

namespace tk {

std::optional<std::wstring> storedLongPath(const std::wstring& path)
{
    // The first call tells the size (terminating NUL included); a name that
    // grew in between is asked for again.
    DWORD size = GetLongPathNameW(path.c_str(), nullptr, 0);
    for (int attempt = 0; attempt < 3 && size != 0; ++attempt) {
        std::wstring buffer(size, L'\0');
        const DWORD got = GetLongPathNameW(path.c_str(), buffer.data(), size);
        if (got == 0)
            return std::nullopt;
        if (got < size) {
            buffer.resize(got);
            return buffer;
        }
        size = got;
    }
    return std::nullopt;
}

} // namespace tk
#endif
