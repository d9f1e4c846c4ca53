// Choosing an entry starts the downloader from the registry's install folder.
#include "harness.h"

namespace {

std::string expectedLine(const std::string& installDir, const char* commandSwitch,
                         const std::string& file)
{
    return "\"" + installDir + "\\Tk650Downloader.exe\"" + commandSwitch + " \"" + file + "\"";
}

} // namespace

TEST_CASE(entries_start_the_downloader_with_their_switch_and_the_quoted_file)
{
    setSetting("ContextDownloadTk", "1");
    setSetting("InstallPath", workspace().installDir.c_str()); // no trailing backslash
    MenuObject object;
    object.initialize({workspace().file});
    object.build(0);
    shownMessages().clear();

    forgetLaunch(workspace().installDir);
    CHECK_EQ(object.invoke(0), S_OK);
    CHECK_EQ(waitForLaunch(workspace().installDir),
             expectedLine(workspace().installDir, " -n", workspace().file));

    forgetLaunch(workspace().installDir);
    CHECK_EQ(object.invoke(1), S_OK);
    CHECK_EQ(waitForLaunch(workspace().installDir),
             expectedLine(workspace().installDir, " -s", workspace().file));
    CHECK_EQ(shownMessages().size(), size_t(0));
}

TEST_CASE(an_install_path_with_its_backslash_gives_the_same_line)
{
    setSetting("ContextDownloadTk", "1");
    setSetting("InstallPath", (workspace().installDir + "\\").c_str());
    MenuObject object;
    object.initialize({workspace().secondFile});
    object.build(0x4);
    forgetLaunch(workspace().installDir);
    CHECK_EQ(object.invoke(1), S_OK);
    CHECK_EQ(waitForLaunch(workspace().installDir),
             expectedLine(workspace().installDir, " -s", workspace().secondFile));
}

TEST_CASE(verbs_that_are_not_ours_do_nothing)
{
    setSetting("ContextDownloadTk", "1");
    setSetting("InstallPath", workspace().emptyDir.c_str());
    MenuObject object;
    object.initialize({workspace().file});
    object.build(0);
    shownMessages().clear();
    CHECK_EQ(object.invoke(2), S_OK); // past the two entries
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = "open";
    CHECK_EQ(object.contextMenu()->InvokeCommand(&info), S_OK);
    // Neither went as far as looking for the program.
    CHECK_EQ(shownMessages().size(), size_t(0));
}

TEST_CASE(a_missing_program_is_reported_and_nothing_starts)
{
    const std::string expected =
        "Unable to locate \"Tk650Downloader.exe\"\rTry reinstalling the application";
    setSetting("ContextDownloadTk", "1");
    MenuObject object;
    object.initialize({workspace().file});
    object.build(0);

    for (const char* installPath :
         {workspace().emptyDir.c_str(), static_cast<const char*>(nullptr)}) {
        setSetting("InstallPath", installPath);
        shownMessages().clear();
        CHECK_EQ(object.invoke(0), S_OK);
        CHECK_EQ(shownMessages().size(), size_t(1));
        if (shownMessages().empty())
            continue;
        CHECK_EQ(shownMessages()[0].text, expected);
        CHECK_EQ(shownMessages()[0].type & MB_ICONMASK, UINT(MB_ICONERROR));
    }
}

TEST_CASE(a_program_that_cannot_start_is_reported_as_an_error)
{
    setSetting("ContextDownloadTk", "1");
    setSetting("InstallPath", workspace().brokenDir.c_str());
    MenuObject object;
    object.initialize({workspace().file});
    object.build(0);
    shownMessages().clear();
    CHECK_EQ(object.invoke(1), S_OK);
    CHECK_EQ(shownMessages().size(), size_t(1));
    if (shownMessages().empty())
        return;
    const ShownMessage& shown = shownMessages()[0];
    CHECK_EQ(shown.text.rfind("Error : ", 0), size_t(0));
    CHECK(shown.text.size() > std::string("Error : ").size());
    CHECK_EQ(shown.type, UINT(MB_OK));
}
