// A data object that hands the shell extension a file list as CF_HDROP, the way
// the file manager does for the selected items.
#pragma once

#include <objidl.h>
#include <string>
#include <vector>

IDataObject* createFileListDataObject(const std::vector<std::string>& paths);
