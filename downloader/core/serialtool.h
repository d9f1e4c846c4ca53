#pragma once
// The serial download tool "pdt.exe": its command line and what its exit
// code means for an unattended run.
//
//   "<pdtPath>" [-w<timeout>] -p<port> -b<baud> -i"<file name>"
//
// -w only in unattended runs. The tool is started directly with the argument
// vector below (no shell in between), so nothing in a file name is ever read
// as a command; the text form is what the log shows.
#include <optional>
#include <string>
#include <vector>

namespace tk {

struct PdtInvocation {
    std::string pdtPath;
    std::optional<double> waitSeconds; // set in unattended runs only
    int port = 1;
    std::string baud;     // as chosen, never checked against a list
    std::string fileName; // the name only, the tool runs in the file's folder
};

// A number in plain decimal form: 4, not 4.0; 2.5 stays 2.5.
std::string formatPlainDecimal(double value);

// The command line as one text, quotes included.
std::string pdtCommandLine(const PdtInvocation& call);
// The same without the quoted program and its blank: what follows the
// program on a Windows command line.
std::string pdtArgumentText(const PdtInvocation& call);

// The arguments the tool receives (without the program itself).
std::vector<std::string> pdtArguments(const PdtInvocation& call);

// Which characters separate a path's folders: "\" and "/" on Windows, only
// "/" elsewhere (there a backslash is an ordinary file-name character).
enum class PathStyle { Windows, Posix };
#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

// A path split at its last separator. A bare drive ("C:") gets a backslash
// and the file-system root keeps its "/", so the folder can always be made
// the tool's working folder. No separator: empty folder.
struct FolderAndName {
    std::string folder;
    std::string name;
};
FolderAndName splitFolderAndName(const std::string& path, PathStyle style = kNativePathStyle);

// The program's exit code for the tool's exit code in an unattended run.
// -1 (the tool could not be started or waited for) maps like any other
// unknown result.
int programExitCodeForTool(int toolExitCode);

} // namespace tk
