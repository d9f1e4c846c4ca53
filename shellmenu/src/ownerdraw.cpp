#include "ownerdraw.h"

#include <array>

namespace tkshell {

namespace {

// The pictures, one character per pixel. '.' is the mask colour (light grey,
// shown as transparent); the others map to the palette below.
constexpr int kPictureCount = 2;
constexpr const char* kPictures[kPictureCount][kPictureSize] = {
    {
        // 1: a document
        "................",
        "...kkkkkkkk.....",
        "...kwwwwwwkk....",
        "...kwwwwwwkwk...",
        "...kwbbbbwkkkk..",
        "...kwwwwwwwwwk..",
        "...kwbbbbbbbwk..",
        "...kwwwwwwwwwk..",
        "...kwbbbbbbbwk..",
        "...kwwwwwwwwwk..",
        "...kwbbbbbbbwk..",
        "...kwwwwwwwwwk..",
        "...kwwwwwwwwwk..",
        "...kkkkkkkkkkk..",
        "................",
        "................",
    },
    {
        // 2: a payment terminal with its screen and keys
        "................",
        "...kkkkkkkkkk...",
        "..kddddddddddk..",
        "..kdggggggggdk..",
        "..kdgbbbbbbgdk..",
        "..kdggggggggdk..",
        "..kddddddddddk..",
        "..kdwwdwwdwwdk..",
        "..kddddddddddk..",
        "..kdwwdwwdwwdk..",
        "..kddddddddddk..",
        "..kdwwdwwdrrdk..",
        "..kddddddddddk..",
        "...kkkkkkkkkk...",
        "................",
        "................",
    },
};

COLORREF paletteColour(char c)
{
    switch (c) {
    case 'k': return RGB(0, 0, 0);
    case 'w': return RGB(255, 255, 255);
    case 'b': return RGB(0, 0, 160);
    case 'd': return RGB(64, 64, 64);
    case 'g': return RGB(96, 192, 96);
    case 'r': return RGB(200, 0, 0);
    default: return RGB(192, 192, 192);
    }
}

HICON makeIcon(const char* const rows[kPictureSize])
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kPictureSize;
    info.bmiHeader.biHeight = -kPictureSize; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!colour)
        return nullptr;
    // Monochrome mask, rows padded to 16 bits: a set bit leaves the background.
    std::array<BYTE, kPictureSize* 2> maskBits = {};
    auto* pixels = static_cast<DWORD*>(bits);
    for (int y = 0; y < kPictureSize; ++y) {
        for (int x = 0; x < kPictureSize; ++x) {
            const char c = rows[y][x];
            const bool transparent = c == '.';
            const COLORREF rgb = paletteColour(c);
            // DIB pixels are 0x00RRGGBB; transparent ones stay black for the XOR pass.
            pixels[y * kPictureSize + x] =
                transparent ? 0 : (GetRValue(rgb) << 16) | (GetGValue(rgb) << 8) | GetBValue(rgb);
            if (transparent)
                maskBits[y * 2 + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
        }
    }
    HBITMAP mask = CreateBitmap(kPictureSize, kPictureSize, 1, 1, maskBits.data());
    ICONINFO iconInfo = {};
    iconInfo.fIcon = TRUE;
    iconInfo.hbmMask = mask;
    iconInfo.hbmColor = colour;
    HICON icon = mask ? CreateIconIndirect(&iconInfo) : nullptr;
    if (mask)
        DeleteObject(mask);
    DeleteObject(colour);
    return icon;
}

const MenuRecord* findRecord(const std::vector<MenuRecord>& records, UINT itemId)
{
    for (const MenuRecord& record : records)
        if (record.itemId == itemId)
            return &record;
    return nullptr;
}

// Width of a caption in the menu font, in pixels.
int captionWidth(const std::string& caption)
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof(metrics);
    HFONT font = nullptr;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        font = CreateFontIndirectA(&metrics.lfMenuFont);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    SIZE size = {};
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    if (previous)
        SelectObject(dc, previous);
    DeleteDC(dc);
    if (font)
        DeleteObject(font);
    return size.cx;
}

void measureItem(const std::vector<MenuRecord>& records, MEASUREITEMSTRUCT* measure)
{
    const MenuRecord* record = findRecord(records, measure->itemID);
    if (!record)
        return;
    measure->itemHeight = kItemHeight;
    measure->itemWidth = static_cast<UINT>(captionWidth(record->caption) + 20);
}

void drawCaption(HDC dc, const std::string& caption, RECT rect)
{
    DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &rect,
              DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
}

void drawItem(const std::vector<MenuRecord>& records, const DRAWITEMSTRUCT* draw)
{
    const MenuRecord* record = findRecord(records, draw->itemID);
    if (!record)
        return;
    HDC dc = draw->hDC;
    const bool selected = (draw->itemState & ODS_SELECTED) != 0;
    const bool disabled = (draw->itemState & ODS_DISABLED) != 0;
    const bool checked = (draw->itemState & ODS_CHECKED) != 0;
    const int top = draw->rcItem.top;

    FillRect(dc, &draw->rcItem,
             GetSysColorBrush(selected && !disabled ? COLOR_HIGHLIGHT : COLOR_MENU));
    SetBkMode(dc, TRANSPARENT);
    RECT text = draw->rcItem;
    OffsetRect(&text, kTextIndent, 0);

    COLORREF colour = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
    if (disabled)
        colour = RGB(255, 255, 255);
    SetTextColor(dc, colour);
    drawCaption(dc, record->caption, text);
    if (disabled) {
        // Grey text one pixel up and left of the white: the white reads as a shadow.
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
        OffsetRect(&text, -1, -1);
        drawCaption(dc, record->caption, text);
    }

    if (checked) {
        RECT edge = {0, top, kTextIndent, top + kItemHeight};
        DrawEdge(dc, &edge, BDR_SUNKENOUTER, BF_RECT);
        RECT inside = {1, top + 1, 16, top + 18};
        FillRect(dc, &inside, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_BTNHIGHLIGHT));
    }

    HICON icon = pictureIcon(record->pictureIndex);
    if (!icon)
        return;
    if (disabled)
        DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, 4, top + 2,
                   kPictureSize, kPictureSize, DST_ICON | DSS_DISABLED);
    else
        DrawIconEx(dc, 0, top + 2, icon, kPictureSize, kPictureSize, 0, nullptr, DI_NORMAL);
}

} // namespace

HICON pictureIcon(int pictureIndex)
{
    static HICON icons[kPictureCount] = {};
    if (pictureIndex < 1 || pictureIndex > kPictureCount)
        return nullptr;
    HICON& icon = icons[pictureIndex - 1];
    if (!icon)
        icon = makeIcon(kPictures[pictureIndex - 1]);
    return icon;
}

HRESULT handleOwnerDrawMessage(const std::vector<MenuRecord>& records, UINT message, LPARAM lParam)
{
    if (message != WM_MEASUREITEM && message != WM_DRAWITEM)
        return S_OK;
    if (lParam == 0)
        return E_INVALIDARG;
    if (message == WM_MEASUREITEM)
        measureItem(records, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
    else
        drawItem(records, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    return S_OK;
}

} // namespace tkshell
