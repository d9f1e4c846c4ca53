#include "core/filenames.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tk {

namespace {

bool endsWith(const std::string& s, std::string_view tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string::size_type lastSeparator(const std::string& path)
{
    return path.find_last_of("\\/");
}

} // namespace

bool isPackageName(const std::string& name)
{
    static constexpr std::array<std::string_view, 5> kPackageExtensions = {".tgz", ".tar", ".gz",
                                                                           ".bz2", ".ipk"};
    return std::any_of(kPackageExtensions.begin(), kPackageExtensions.end(),
                       [&](std::string_view ext) { return endsWith(name, ext); });
}

std::string GetFileName(const std::string& Fname)
{
    const auto sep = lastSeparator(Fname);
    std::string name = sep == std::string::npos ? Fname : Fname.substr(sep + 1);
    if (isPackageName(name))
        std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

FolderAndName splitFolderAndName(const std::string& path)
{
    const auto sep = lastSeparator(path);
    if (sep == std::string::npos)
        return {std::string(), path};
    FolderAndName out{path.substr(0, sep), path.substr(sep + 1)};
    if (out.folder.empty())
        out.folder = path.substr(sep, 1); // "/a.tgz" runs in "/"
    else if (out.folder.size() == 2 && out.folder[1] == ':')
        out.folder += '\\'; // "C:\a.tgz" runs in "C:\"
    return out;
}

} // namespace tk
