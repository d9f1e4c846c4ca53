// Which items the menu gets for each selection, registry switch and flag set,
// and the help texts behind them.
#include "harness.h"

#include <cstring>

namespace {

constexpr UINT kNoFlags = 0;     // CMF_NORMAL: the shell wants plain text items
constexpr UINT kExplore = 0x4;   // CMF_EXPLORE
constexpr UINT kVerbsOnly = 0x2; // CMF_VERBSONLY

bool isSeparator(const MenuItem& item)
{
    return (item.type & MFT_SEPARATOR) != 0;
}

int countSeparators(const std::vector<MenuItem>& items)
{
    int count = 0;
    for (const MenuItem& item : items)
        count += isSeparator(item) ? 1 : 0;
    return count;
}

// The menu a single plain file gets with the switch set to `flag`.
std::vector<MenuItem> menuWithSwitch(const char* flag, HRESULT* result = nullptr)
{
    setSetting("ContextDownloadTk", flag);
    MenuObject object;
    object.initialize({workspace().file});
    const HRESULT built = object.build(kNoFlags);
    if (result)
        *result = built;
    return object.items();
}

} // namespace

TEST_CASE(one_file_gets_both_entries_framed_by_separators)
{
    setSetting("ContextDownloadTk", "1");
    MenuObject object;
    CHECK_EQ(object.initialize({workspace().file}), S_OK);
    const HRESULT result = object.build(kNoFlags, 100, 200);
    CHECK(SUCCEEDED(result));
    CHECK_EQ(HRESULT_CODE(result), 2);

    const auto items = object.items();
    CHECK_EQ(items.size(), size_t(6));
    if (items.size() != 6)
        return;
    CHECK(isSeparator(items[0]) && isSeparator(items[1]));
    CHECK(isSeparator(items[4]) && isSeparator(items[5]));
    CHECK_EQ(items[2].text, std::string(kNetworkCaption));
    CHECK_EQ(items[2].id, 100u);
    CHECK_EQ(items[2].type, UINT(MFT_STRING));
    CHECK_EQ(items[2].state & (MFS_DISABLED | MFS_CHECKED), 0u);
    CHECK_EQ(items[3].text, std::string(kSerialCaption));
    CHECK_EQ(items[3].id, 101u);
    CHECK_EQ(items[3].type, UINT(MFT_STRING));
}

TEST_CASE(entries_go_in_at_the_shells_position)
{
    setSetting("ContextDownloadTk", "1");
    MenuObject object;
    object.initialize({workspace().file});
    object.build(kNoFlags); // makes the menu
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "Open");
    AppendMenuA(menu, MF_STRING, 2, "Delete");
    const HRESULT result = object.contextMenu()->QueryContextMenu(menu, 1, 30, 40, kNoFlags);
    CHECK_EQ(HRESULT_CODE(result), 2);
    const auto items = readMenu(menu);
    DestroyMenu(menu);
    CHECK_EQ(items.size(), size_t(8));
    if (items.size() != 8)
        return;
    CHECK_EQ(items[0].text, std::string("Open"));
    CHECK(isSeparator(items[1]) && isSeparator(items[2]));
    CHECK_EQ(items[3].text, std::string(kNetworkCaption));
    CHECK_EQ(items[3].id, 30u);
    CHECK_EQ(items[4].text, std::string(kSerialCaption));
    CHECK_EQ(items[4].id, 31u);
    CHECK(isSeparator(items[5]) && isSeparator(items[6]));
    CHECK_EQ(items[7].text, std::string("Delete"));
}

TEST_CASE(the_registry_switch_decides_by_its_first_character)
{
    HRESULT result = E_FAIL;
    CHECK_EQ(menuWithSwitch("1", &result).size(), size_t(6));
    CHECK_EQ(HRESULT_CODE(result), 2);
    CHECK_EQ(menuWithSwitch("10", &result).size(), size_t(6));
    CHECK_EQ(HRESULT_CODE(result), 2);

    for (const char* hidden : {"0", "", " 1", "yes"}) {
        const auto items = menuWithSwitch(hidden, &result);
        CHECK_EQ(items.size(), size_t(0));
        CHECK(SUCCEEDED(result));
        CHECK_EQ(HRESULT_CODE(result), 0);
    }
    CHECK_EQ(menuWithSwitch(nullptr, &result).size(), size_t(0));
    CHECK_EQ(HRESULT_CODE(result), 0);
    clearSettings(); // no key at all
    MenuObject object;
    object.initialize({workspace().file});
    CHECK_EQ(HRESULT_CODE(object.build(kNoFlags)), 0);
    CHECK_EQ(object.items().size(), size_t(0));
}

TEST_CASE(selections_the_entries_do_not_serve)
{
    setSetting("ContextDownloadTk", "1");
    {
        // Two files: the separators go in, the entries do not.
        MenuObject object;
        object.initialize({workspace().file, workspace().secondFile});
        CHECK_EQ(HRESULT_CODE(object.build(kExplore)), 0);
        const auto items = object.items();
        CHECK_EQ(items.size(), size_t(4));
        CHECK_EQ(countSeparators(items), 4);
    }
    {
        // A selected folder: no entries either.
        MenuObject object;
        object.initialize({workspace().folder});
        CHECK_EQ(HRESULT_CODE(object.build(kNoFlags)), 0);
        const auto items = object.items();
        CHECK_EQ(countSeparators(items), int(items.size()));
    }
    {
        // A click on a folder's background: a folder and no data object.
        MenuObject object;
        CHECK_EQ(object.initialize({}, workspace().folder, false), S_OK);
        CHECK_EQ(HRESULT_CODE(object.build(kNoFlags)), 0);
        CHECK_EQ(object.items().size(), size_t(0));
    }
    {
        // A folder named by the shell besides the file also means a background click.
        MenuObject object;
        object.initialize({workspace().file}, workspace().folder);
        CHECK_EQ(HRESULT_CODE(object.build(kNoFlags)), 0);
        CHECK_EQ(object.items().size(), size_t(0));
    }
    {
        // The shell only wants verbs.
        MenuObject object;
        object.initialize({workspace().file});
        CHECK_EQ(HRESULT_CODE(object.build(kVerbsOnly | kExplore)), 0);
        CHECK_EQ(object.items().size(), size_t(0));
    }
    {
        // No data at all.
        MenuObject object;
        object.initialize({}, "", false);
        CHECK_EQ(HRESULT_CODE(object.build(kNoFlags)), 0);
        CHECK_EQ(object.items().size(), size_t(0));
    }
}

TEST_CASE(a_new_initialize_replaces_the_earlier_selection)
{
    setSetting("ContextDownloadTk", "1");
    MenuObject object;
    object.initialize({workspace().file, workspace().secondFile});
    CHECK_EQ(HRESULT_CODE(object.build(kNoFlags)), 0);
    object.initialize({workspace().secondFile});
    CHECK_EQ(HRESULT_CODE(object.build(kNoFlags)), 2);
    object.initialize({}, workspace().folder, false);
    CHECK_EQ(HRESULT_CODE(object.build(kNoFlags)), 0);
}

TEST_CASE(any_flag_but_none_makes_the_entries_owner_drawn)
{
    setSetting("ContextDownloadTk", "1");
    for (UINT flags : {UINT(0x1), kExplore, UINT(0x10), UINT(0x100)}) {
        MenuObject object;
        object.initialize({workspace().file});
        CHECK_EQ(HRESULT_CODE(object.build(flags)), 2);
        const auto items = object.items();
        CHECK_EQ(items.size(), size_t(6));
        if (items.size() != 6)
            continue;
        CHECK((items[2].type & MFT_OWNERDRAW) != 0);
        CHECK((items[3].type & MFT_OWNERDRAW) != 0);
        CHECK(isSeparator(items[0]) && isSeparator(items[5]));
    }
}

TEST_CASE(entries_never_take_identifiers_beyond_the_shells_range)
{
    setSetting("ContextDownloadTk", "1");
    MenuObject object;
    object.initialize({workspace().file});
    CHECK_EQ(HRESULT_CODE(object.build(kNoFlags, 100, 100)), 1);
    const auto items = object.items();
    CHECK_EQ(items.size(), size_t(5));
    if (items.size() == 5) {
        CHECK_EQ(items[2].text, std::string(kNetworkCaption));
        CHECK_EQ(items[2].id, 100u);
    }
}

TEST_CASE(help_texts_by_command_offset)
{
    setSetting("ContextDownloadTk", "1");
    MenuObject object;
    object.initialize({workspace().file});
    object.build(kExplore);
    IContextMenu* menu = object.contextMenu();

    char ansi[128] = {};
    CHECK_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, sizeof(ansi)), S_OK);
    CHECK_EQ(std::string(ansi), std::string(kNetworkHelp));
    CHECK_EQ(menu->GetCommandString(1, GCS_VERBA, nullptr, ansi, sizeof(ansi)), S_OK);
    CHECK_EQ(std::string(ansi), std::string(kSerialHelp));

    wchar_t wide[128] = {};
    CHECK_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 128),
             S_OK);
    CHECK(std::wstring(wide) == L"Download to Tk650 device through serial connection.");

    // Past the added items: an error, and the buffer stays as it was.
    std::memset(ansi, 'x', sizeof(ansi));
    CHECK(FAILED(menu->GetCommandString(2, GCS_HELPTEXTA, nullptr, ansi, sizeof(ansi))));
    CHECK_EQ(ansi[0], 'x');

    // Validation succeeds without writing.
    CHECK_EQ(menu->GetCommandString(0, GCS_VALIDATEA, nullptr, ansi, sizeof(ansi)), S_OK);
    CHECK_EQ(ansi[0], 'x');
}

TEST_CASE(help_texts_are_cut_to_fit_with_their_nul)
{
    setSetting("ContextDownloadTk", "1");
    MenuObject object;
    object.initialize({workspace().file});
    object.build(kNoFlags);
    IContextMenu* menu = object.contextMenu();

    char ansi[32];
    std::memset(ansi, 'x', sizeof(ansi));
    CHECK_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, 10), S_OK);
    CHECK_EQ(std::string(ansi), std::string("Download "));
    CHECK_EQ(ansi[10], 'x');

    wchar_t wide[32];
    for (wchar_t& c : wide)
        c = L'x';
    CHECK_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 6),
             S_OK);
    CHECK(std::wstring(wide) == L"Downl");
    CHECK(wide[6] == L'x');

    // Room for the NUL alone.
    std::memset(ansi, 'x', sizeof(ansi));
    CHECK_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, 1), S_OK);
    CHECK_EQ(ansi[0], '\0');
    CHECK_EQ(ansi[1], 'x');
}

TEST_CASE(the_drawing_interfaces_leave_menu_calls_alone)
{
    setSetting("ContextDownloadTk", "1");
    setSetting("InstallPath", workspace().emptyDir.c_str());
    MenuObject object;
    object.initialize({workspace().file});
    IContextMenu3* menu3 = object.contextMenu3();
    CHECK(menu3 != nullptr);
    if (!menu3)
        return;

    HMENU menu = CreatePopupMenu();
    CHECK_EQ(menu3->QueryContextMenu(menu, 0, 100, 200, kExplore), S_OK);
    CHECK_EQ(GetMenuItemCount(menu), 0);
    DestroyMenu(menu);

    object.build(kExplore); // the real menu, so offset 0 exists
    char text[64];
    std::memset(text, 'x', sizeof(text));
    CHECK_EQ(menu3->GetCommandString(0, GCS_HELPTEXTA, nullptr, text, sizeof(text)), S_OK);
    CHECK_EQ(text[0], 'x');

    shownMessages().clear();
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = MAKEINTRESOURCEA(0);
    CHECK_EQ(menu3->InvokeCommand(&info), S_OK);
    CHECK_EQ(shownMessages().size(), size_t(0)); // did not even look for the program
}
