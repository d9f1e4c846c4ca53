#pragma once
// Windows only: the name a file or folder is stored under, from the system's
// long-path call (a short 8.3 form such as PROGRA~1 becomes "Program Files").
// Plain Win32 and the standard library, so it builds without Qt.
#ifdef _WIN32
#include <optional>
#include <string>

namespace tk {

// The whole path with every component as stored; nothing when it does not
// exist or cannot be read.
std::optional<std::wstring> storedLongPath(const std::wstring& path);

} // namespace tk
#endif
