// Owner drawing of the entries, measured and drawn on a memory bitmap.
#include "harness.h"

namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 40;
constexpr int kTop = 10; // the item's rectangle starts below the bitmap's top

// A 32-bit top-down bitmap selected into a memory DC.
class Canvas {
public:
    Canvas()
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                                   nullptr, 0);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas()
    {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    COLORREF at(int x, int y) const
    {
        GdiFlush();
        const DWORD pixel = bits_[y * kWidth + x];
        return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
    }
    int count(COLORREF colour, int left, int top, int right, int bottom) const
    {
        int found = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                found += at(x, y) == colour ? 1 : 0;
        return found;
    }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    DWORD* bits_ = nullptr;
};

// Wine's default menu colour is white, which would hide the white shadow of a
// disabled entry and the white box of a checked one: draw on the classic grey.
class ClassicMenuColour {
public:
    ClassicMenuColour() : saved_(GetSysColor(COLOR_MENU))
    {
        const INT element = COLOR_MENU;
        const COLORREF grey = RGB(212, 208, 200);
        SetSysColors(1, &element, &grey);
    }
    ~ClassicMenuColour()
    {
        const INT element = COLOR_MENU;
        SetSysColors(1, &element, &saved_);
    }
    ClassicMenuColour(const ClassicMenuColour&) = delete;
    ClassicMenuColour& operator=(const ClassicMenuColour&) = delete;

private:
    COLORREF saved_;
};

// An owner-drawn menu with the two entries at identifiers 100 and 101.
struct DrawnMenu {
    ClassicMenuColour colour;
    MenuObject object;
    DrawnMenu()
    {
        CHECK(GetSysColor(COLOR_MENU) != RGB(255, 255, 255));
        CHECK(GetSysColor(COLOR_MENU) != GetSysColor(COLOR_BTNHIGHLIGHT));
        setSetting("ContextDownloadTk", "1");
        object.initialize({workspace().file});
        object.build(0x4, 100, 200);
    }
    HRESULT draw(Canvas& canvas, UINT itemId, UINT state)
    {
        DRAWITEMSTRUCT draw = {};
        draw.CtlType = ODT_MENU;
        draw.itemID = itemId;
        draw.itemAction = ODA_DRAWENTIRE;
        draw.itemState = state;
        draw.hwndItem = reinterpret_cast<HWND>(object.menu());
        draw.hDC = canvas.dc();
        draw.rcItem = {0, kTop, kWidth, kTop + 20};
        return object.contextMenu3()->HandleMenuMsg(WM_DRAWITEM, 0,
                                                    reinterpret_cast<LPARAM>(&draw));
    }
};

COLORREF sys(int index)
{
    return GetSysColor(index);
}

int textWidth(const char* text)
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    HFONT font = CreateFontIndirectA(&metrics.lfMenuFont);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &size);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(font);
    return size.cx;
}

// Pixels of the 16 x 16 picture that differ from the background colour.
int picturePixels(const Canvas& canvas, int left, COLORREF background)
{
    const int box = 16 * 16;
    return box - canvas.count(background, left, kTop + 2, left + 16, kTop + 18);
}

} // namespace

TEST_CASE(measuring_gives_twenty_pixels_high_and_the_caption_plus_twenty_wide)
{
    DrawnMenu menu;
    CHECK(menu.object.contextMenu3() != nullptr);
    if (!menu.object.contextMenu3())
        return;
    MEASUREITEMSTRUCT measure = {};
    measure.CtlType = ODT_MENU;
    measure.itemID = 101;
    CHECK_EQ(menu.object.contextMenu3()->HandleMenuMsg(WM_MEASUREITEM, 0,
                                                       reinterpret_cast<LPARAM>(&measure)),
             S_OK);
    CHECK_EQ(measure.itemHeight, 20u);
    CHECK(textWidth(kSerialCaption) > 50); // the font really measures
    CHECK_EQ(int(measure.itemWidth), textWidth(kSerialCaption) + 20);

    // An item that is not ours is left as it came; HandleMenuMsg2 never writes the result.
    MEASUREITEMSTRUCT other = {};
    other.itemID = 99;
    other.itemWidth = 7;
    LRESULT result = 12345;
    CHECK_EQ(menu.object.contextMenu3()->HandleMenuMsg2(WM_MEASUREITEM, 0,
                                                        reinterpret_cast<LPARAM>(&other), &result),
             S_OK);
    CHECK_EQ(other.itemWidth, 7u);
    CHECK_EQ(other.itemHeight, 0u);
    CHECK_EQ(result, LRESULT(12345));
    CHECK(FAILED(menu.object.contextMenu3()->HandleMenuMsg(WM_MEASUREITEM, 0, 0)));
    CHECK_EQ(menu.object.contextMenu3()->HandleMenuMsg(WM_INITMENUPOPUP, 0, 0), S_OK);
}

TEST_CASE(a_plain_entry_draws_picture_and_caption_on_the_menu_colour)
{
    DrawnMenu menu;
    Canvas canvas;
    CHECK_EQ(menu.draw(canvas, 100, 0), S_OK);
    const COLORREF background = sys(COLOR_MENU);
    CHECK_EQ(canvas.at(kWidth - 1, kTop), background);
    CHECK_EQ(canvas.at(kWidth - 1, kTop + 19), background);
    CHECK(canvas.at(0, kTop - 1) != background || background == 0); // above the item: untouched
    CHECK(picturePixels(canvas, 0, background) > 60);
    CHECK_EQ(canvas.at(0, kTop + 2), background); // the picture's corner is transparent
    CHECK(canvas.count(sys(COLOR_MENUTEXT), 2, kTop + 2, 3, kTop + 14) > 0); // outline at x 2
    // The caption sits right of the picture, in the menu text colour.
    CHECK(canvas.count(sys(COLOR_MENUTEXT), 17, kTop, kWidth, kTop + 20) > 20);
}

TEST_CASE(a_selected_entry_is_highlighted)
{
    DrawnMenu menu;
    Canvas canvas;
    CHECK_EQ(menu.draw(canvas, 101, ODS_SELECTED), S_OK);
    const COLORREF background = sys(COLOR_HIGHLIGHT);
    CHECK_EQ(canvas.at(kWidth - 1, kTop + 10), background);
    CHECK_EQ(canvas.at(0, kTop + 2), background);
    CHECK(picturePixels(canvas, 0, background) > 60);
    CHECK(canvas.count(sys(COLOR_HIGHLIGHTTEXT), 17, kTop, kWidth, kTop + 20) > 20);
}

TEST_CASE(a_disabled_entry_has_grey_text_over_a_white_shadow_and_a_greyed_picture)
{
    DrawnMenu menu;
    Canvas canvas;
    // Selected as well: a disabled entry is never highlighted.
    CHECK_EQ(menu.draw(canvas, 100, ODS_DISABLED | ODS_SELECTED), S_OK);
    const COLORREF background = sys(COLOR_MENU);
    const COLORREF grey = sys(COLOR_GRAYTEXT);
    const COLORREF white = RGB(255, 255, 255);
    CHECK_EQ(canvas.at(kWidth - 1, kTop + 10), background);
    CHECK(canvas.count(grey, 20, kTop, kWidth, kTop + 20) > 20);
    CHECK(canvas.count(white, 20, kTop, kWidth, kTop + 20) > 10);
    int shadowed = 0;
    for (int y = kTop; y < kTop + 19; ++y)
        for (int x = 20; x < kWidth - 1; ++x)
            shadowed += canvas.at(x, y) == grey && canvas.at(x + 1, y + 1) == white ? 1 : 0;
    CHECK(shadowed > 10);
    // The greyed picture sits four pixels in; its first columns show the background.
    CHECK_EQ(canvas.count(background, 0, kTop + 2, 4, kTop + 18), 4 * 16);
    CHECK(picturePixels(canvas, 4, background) > 20);
    CHECK_EQ(canvas.count(sys(COLOR_MENUTEXT), 20, kTop, kWidth, kTop + 20), 0);
}

TEST_CASE(a_checked_entry_gets_a_sunken_box_behind_its_picture)
{
    DrawnMenu menu;
    {
        Canvas canvas;
        CHECK_EQ(menu.draw(canvas, 100, ODS_CHECKED), S_OK);
        CHECK_EQ(canvas.at(0, kTop), sys(COLOR_BTNSHADOW));          // edge, top left
        CHECK_EQ(canvas.at(16, kTop + 19), sys(COLOR_BTNHIGHLIGHT)); // edge, bottom right
        CHECK_EQ(canvas.at(8, kTop + 1), sys(COLOR_BTNHIGHLIGHT));   // the box's inside
        CHECK_EQ(canvas.at(1, kTop + 2), sys(COLOR_BTNHIGHLIGHT));   // behind the picture's corner
    }
    {
        Canvas canvas;
        CHECK_EQ(menu.draw(canvas, 100, ODS_CHECKED | ODS_SELECTED), S_OK);
        CHECK_EQ(canvas.at(8, kTop + 1), sys(COLOR_HIGHLIGHT));
        CHECK_EQ(canvas.at(0, kTop), sys(COLOR_BTNSHADOW));
    }
    {
        Canvas canvas;
        CHECK_EQ(menu.draw(canvas, 100, 0), S_OK);
        CHECK_EQ(canvas.at(0, kTop), sys(COLOR_MENU)); // no box when not checked
        CHECK_EQ(canvas.at(8, kTop + 1), sys(COLOR_MENU));
    }
}

TEST_CASE(drawing_an_item_that_is_not_ours_leaves_the_bitmap_alone)
{
    DrawnMenu menu;
    Canvas canvas;
    const COLORREF before = canvas.at(5, kTop + 5);
    CHECK_EQ(menu.draw(canvas, 102, ODS_SELECTED), S_OK);
    CHECK_EQ(canvas.count(before, 0, 0, kWidth, kHeight), kWidth * kHeight);
}
