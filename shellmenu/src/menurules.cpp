#include "menurules.h"

#include <algorithm>
#include <cctype>

namespace tkshell {

const DownloadEntry kNetworkEntry = {"Download to Tk650 (network)..",
                                     "Download to Tk650 device through network connection.", " -n",
                                     2};
const DownloadEntry kSerialEntry = {"Download to Tk650 (serial)..",
                                    "Download to Tk650 device through serial connection.", " -s",
                                    2};

namespace {

const char* const kAnyExtension = "*.*";
const char* const kDownloaderExe = "Tk650Downloader.exe";

PlannedItem separatorAt(unsigned idOffset)
{
    PlannedItem item;
    item.type = kTypeSeparator;
    item.idOffset = idOffset;
    return item;
}

} // namespace

bool contextMenuEnabled(const std::string& contextDownloadTk)
{
    return !contextDownloadTk.empty() && contextDownloadTk[0] == '1';
}

bool entryFitsSelection(std::size_t fileCount, bool hasFolder, bool supportsMultiFiles,
                        bool supportsFolders, const std::string& extensionSpecific,
                        const std::string& extension)
{
    if (!(supportsMultiFiles || fileCount <= 1))
        return false;
    if (!(supportsFolders || !hasFolder))
        return false;
    if (extensionSpecific == kAnyExtension)
        return true;
    const auto parts = splitText(extensionSpecific, ';');
    return std::find(parts.begin(), parts.end(), extension) != parts.end();
}

MenuPlan planMenu(const Selection& selection, const std::string& contextDownloadTk, unsigned uFlags,
                  unsigned idRoom)
{
    MenuPlan plan;
    if (selection.paths.empty() || (uFlags & kFlagVerbsOnly) != 0)
        return plan;
    // A click on a folder's background brings a folder and no single file.
    if (!contextMenuEnabled(contextDownloadTk) || !selection.folderPath.empty())
        return plan;

    const bool plainMenu = uFlags == 0;
    const std::string extension = toLower(extensionOf(selection.paths.front()));
    unsigned offset = 0;

    // Separators carry the next free identifier but do not use it up.
    plan.items.push_back(separatorAt(offset));
    plan.items.push_back(separatorAt(offset));
    for (const DownloadEntry* entry : {&kNetworkEntry, &kSerialEntry}) {
        const bool supportsMultiFiles = false, supportsFolders = false;
        if (!entryFitsSelection(selection.paths.size(), selection.hasFolder, supportsMultiFiles,
                                supportsFolders, kAnyExtension, extension))
            continue;
        if (offset >= idRoom)
            continue;
        PlannedItem item;
        item.type = (entry->pictureIndex != -1 && !plainMenu) ? kTypeOwnerDraw : kTypeString;
        item.state = kStateEnabled;
        item.idOffset = offset;
        item.entry = entry;
        plan.items.push_back(item);
        ++offset;
    }
    plan.items.push_back(separatorAt(offset));
    plan.items.push_back(separatorAt(offset));
    plan.commandsUsed = offset;
    return plan;
}

const DownloadEntry* entryByCaption(const std::string& caption)
{
    for (const DownloadEntry* entry : {&kNetworkEntry, &kSerialEntry})
        if (caption == entry->caption)
            return entry;
    return nullptr;
}

std::string helpTextFor(const std::string& caption, std::size_t cchMax)
{
    const DownloadEntry* entry = entryByCaption(caption);
    std::string text = entry ? entry->helpText : "";
    if (cchMax == 0)
        return {};
    if (text.size() > cchMax - 1)
        text.resize(cchMax - 1);
    return text;
}

std::string downloaderPath(const std::string& installPath)
{
    return ensureTrailingBackslash(installPath) + kDownloaderExe;
}

std::string launchCommandLine(const std::string& programPath, const DownloadEntry& entry,
                              const std::vector<std::string>& paths)
{
    // The program path is quoted: an install folder such as "C:\Program Files\..."
    // would otherwise split the downloader's own arguments at its blanks.
    std::string line = "\"" + programPath + "\"" + entry.commandSwitch;
    for (const std::string& path : paths)
        line += " \"" + path + "\"";
    return line;
}

std::string ensureTrailingBackslash(const std::string& path)
{
    if (!path.empty() && path.back() == '\\')
        return path;
    return path + '\\';
}

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string stripEnclosingQuotes(const std::string& text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

std::string pathForExistenceCheck(const std::string& path)
{
    std::string result = stripEnclosingQuotes(trim(path));
    if (!result.empty() && result.back() == '\\')
        result.pop_back();
    return result;
}

std::string extensionOf(const std::string& path)
{
    const auto dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

std::string toLower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> splitText(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

} // namespace tkshell
