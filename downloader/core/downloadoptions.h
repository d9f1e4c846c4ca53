#pragma once
// Rules of the network download options: which files count as executables
// (they get execute rights), which names are packages (they get fixed
// permissions), the permission presets and the tips that explain them.
#include <optional>
#include <string>
#include <string_view>

namespace tk {

// The extension is the text from the path's last "." to its end, compared in
// lower case, against ".exe", ".tkl", ".bin", ".com", ".bat", ".cmd", ".sh".
// A path shorter than 4 characters, or without any ".", has none.
bool hasExecutableExtension(std::string_view path);

// A script ("#!" first) or an ELF binary ("ELF" in bytes 2 to 4).
bool hasExecutableContent(std::string_view firstBytes);

// How many leading bytes of a file the content test needs.
inline constexpr int kExecutableProbeBytes = 10;

// firstBytes: the file's first kExecutableProbeBytes bytes, or nothing when no
// file of that path exists (which counts as executable).
bool isExecutableFile(std::string_view path, const std::optional<std::string>& firstBytes);

// Permissions announced for a package (proto::isPackageName) whatever the
// lists show.
inline constexpr const char* kPackagePermissions = "644";

struct PermissionDigits {
    int owner;
    int group;
    int others;
    bool operator==(const PermissionDigits&) const = default;
};
inline constexpr PermissionDigits kExecutablePermissions{7, 5, 5};
inline constexpr PermissionDigits kPlainPermissions{6, 4, 4};

inline PermissionDigits permissionPreset(bool executable)
{
    return executable ? kExecutablePermissions : kPlainPermissions;
}

// "read", "write", "execute" joined by " & " for the bits of one octal digit.
std::string permissionTip(int digit);

// Tip of the Full option: what a full download wipes for this owner.
std::string fullTypeTip(std::string_view owner);

// The file dialog's filter written as "text|patterns|text|patterns|", turned
// into Qt's "text (patterns);;..." form. "*.*" becomes "*" so that names
// without an extension are listed too.
std::string qtFileFilter(std::string_view pipeFilter);

// Title and filter of the file dialogs that pick the file to download.
inline constexpr const char* kSelectFileTitle = "Select File to Download";
inline constexpr const char* kSelectFileFilter =
    "All Files (*.*)|*.*|TK Packages (*.tgz, *.tar, *.gz, *.ipk, *.ram)|*.tgz; *.tar; *.gz; "
    "*.bz2; *.ipk; *.ram|";

} // namespace tk
