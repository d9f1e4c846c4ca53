// Owner drawing of the menu entries: a 16 x 16 picture left of the caption,
// the highlight when selected, a sunken box when checked, a shadow when disabled.
#pragma once

#include <string>
#include <vector>
#include <windows.h>

namespace tkshell {

// One drawn item: what the shell's measure and draw messages are matched against.
struct MenuRecord {
    UINT itemId = 0;
    std::string caption;
    int pictureIndex = 0; // from 1
};

constexpr int kItemHeight = 20;
constexpr int kPictureSize = 16;
constexpr int kTextIndent = 17; // caption starts right of the picture

// Handles WM_MEASUREITEM and WM_DRAWITEM for the recorded items; ignores any other
// message. Fails only for a message without its structure.
HRESULT handleOwnerDrawMessage(const std::vector<MenuRecord>& records, UINT message, LPARAM lParam);

// The picture with this index (from 1), made once and kept for the process.
HICON pictureIcon(int pictureIndex);

} // namespace tkshell
