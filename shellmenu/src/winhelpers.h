// Registry and file look-ups the menu and the launch need.
#pragma once

#include <string>
#include <windows.h>

namespace tkshell {

constexpr const char* kSettingsKey = "SOFTWARE\\Quillon Inc\\Tk650Downloader";

// A REG_SZ value as text; empty when the key or value is missing or of another type.
std::string readRegistryString(HKEY hive, const char* key, const char* valueName);

// Whether the file can be opened for reading (after trimming quotes and a trailing backslash).
bool fileExists(const std::string& path);

// Whether the path names an existing folder.
bool isFolder(const std::string& path);

// The system's description of an error code, without the trailing line break.
std::string describeError(DWORD error);

} // namespace tkshell
