// The decisions of the context menu, kept apart from COM and the window calls:
// which items go into the menu and how, the help text for a command offset,
// and the command line that starts the downloader. Standard library only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tkshell {

// One of the two download entries the menu offers.
struct DownloadEntry {
    const char* caption;
    const char* helpText;
    const char* commandSwitch;
    int pictureIndex; // into the icon list, from 1
};

extern const DownloadEntry kNetworkEntry;
extern const DownloadEntry kSerialEntry;

// Menu flags the shell passes to QueryContextMenu that the rules look at.
constexpr unsigned kFlagVerbsOnly = 0x2; // CMF_VERBSONLY

// Menu item flags as the platform's menu calls want them.
constexpr unsigned kTypeString = 0x0;      // MFT_STRING
constexpr unsigned kTypeOwnerDraw = 0x100; // MFT_OWNERDRAW
constexpr unsigned kTypeSeparator = 0x800; // MFT_SEPARATOR
constexpr unsigned kStateEnabled = 0x0;    // MFS_ENABLED
constexpr unsigned kStateDisabled = 0x3;   // MFS_DISABLED
constexpr unsigned kStateChecked = 0x8;    // MFS_CHECKED

// What Initialize recorded about the selection.
struct Selection {
    std::vector<std::string> paths; // full paths of the selected files and folders
    bool hasFolder = false;         // one of them is a folder
    std::string folderPath;         // folder given to Initialize (background click), or empty
};

// One item to insert, at consecutive positions from the shell's index.
struct PlannedItem {
    unsigned type = kTypeSeparator;
    unsigned state = kStateEnabled;
    unsigned idOffset = 0;                // command identifier = idCmdFirst + idOffset
    const DownloadEntry* entry = nullptr; // null for separators
};

struct MenuPlan {
    std::vector<PlannedItem> items;
    unsigned commandsUsed = 0; // what QueryContextMenu reports to the shell
};

// The registry switch: entries appear only when its first character is "1".
bool contextMenuEnabled(const std::string& contextDownloadTk);

// The menu for a selection. `idRoom` is how many command identifiers the shell
// left us (idCmdLast - idCmdFirst + 1); an entry that would not fit is left out.
MenuPlan planMenu(const Selection& selection, const std::string& contextDownloadTk, unsigned uFlags,
                  unsigned idRoom);

// Whether an entry may be added for this selection (the per-item filter).
bool entryFitsSelection(std::size_t fileCount, bool hasFolder, bool supportsMultiFiles,
                        bool supportsFolders, const std::string& extensionSpecific,
                        const std::string& extension);

// The entry whose caption this is, or null.
const DownloadEntry* entryByCaption(const std::string& caption);

// Help text for a caption, cut so that it and its NUL fit into cchMax characters.
std::string helpTextFor(const std::string& caption, std::size_t cchMax);

// "<folder>\Tk650Downloader.exe" from the "InstallPath" value.
std::string downloaderPath(const std::string& installPath);

// The downloader's command line: quoted program path, switch, quoted paths.
std::string launchCommandLine(const std::string& programPath, const DownloadEntry& entry,
                              const std::vector<std::string>& paths);

// Small text helpers.
std::string ensureTrailingBackslash(const std::string& path);
std::string stripEnclosingQuotes(const std::string& text);
std::string trim(const std::string& text);
std::string extensionOf(const std::string& path);
std::string toLower(std::string text);
std::vector<std::string> splitText(const std::string& text, char separator);

// The path a file-exists check should open: trimmed, one pair of enclosing
// quotes stripped, one trailing backslash dropped.
std::string pathForExistenceCheck(const std::string& path);

} // namespace tkshell
