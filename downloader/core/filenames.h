#pragma once
// File-name rules shared by the network announcement and the KSYN frame.
// Paths may use "\" or "/" as separators, so the rules hold on Windows and
// on Linux alike.
#include <string>

namespace tk {

// True for names that end in ".tgz", ".tar", ".gz", ".bz2" or ".ipk"
// (exact case: "A.TGZ" is not a package).
bool isPackageName(const std::string& name);

// The name the terminal is told: the part after the last separator (the
// whole text when there is none); in a package name every blank becomes "_".
std::string GetFileName(const std::string& Fname);

// A path split at its last separator. A bare drive ("C:") gets a backslash
// and the file-system root keeps its "/", so the folder can always be made
// the current one. A path without separator has an empty folder.
struct FolderAndName {
    std::string folder;
    std::string name;
};
FolderAndName splitFolderAndName(const std::string& path);

} // namespace tk
