#include "programfolder.h"
#include "ui/frmmain.h"
#include "ui/onelinelist.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace tk;

TEST(MainWindowControls, CarryTheirNamesCaptionsAndInitialStates)
{
    test::ProgramFolder folder;
    frmmain w(folder.env());
    EXPECT_EQ(w.windowTitle(), "Tk650 Downloader");
    auto* tabs = w.findChild<QTabWidget*>("STab");
    ASSERT_TRUE(tabs);
    EXPECT_EQ(tabs->tabText(0), "Serial");
    EXPECT_EQ(tabs->tabText(1), "Network");
    EXPECT_EQ(w.findChild<QLabel*>("lblStatus")->text(), "Disconnected");
    EXPECT_EQ(w.findChild<QPushButton*>("cmdSave")->text(), "save");
    EXPECT_EQ(w.findChild<QLineEdit*>("txtPort")->text(), "5142");
    EXPECT_TRUE(w.findChild<QLineEdit*>("txtPort")->isHidden());
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(w.findChild<QLineEdit*>(QStringLiteral("txtIP_%1").arg(i)));
    EXPECT_EQ(w.findChild<OneLineList*>("listNetP_0")->count(), 4);
    EXPECT_EQ(w.findChild<OneLineList*>("listNetO")->count(), 8);
    EXPECT_TRUE(w.findChild<QRadioButton*>("optNetworkPartial")->isChecked());
}

TEST(MainWindowControls, CarryTheirCaptionsAndTips)
{
    test::ProgramFolder folder;
    frmmain w(folder.env());
    const struct {
        const char* name;
        const char* caption;
        const char* tip;
    } controls[] = {
        {"optComOther", "COM3", ""},
        {"optSerialFull", "Full", "Cleans /home/usr1/* and environment variables"},
        {"chkSetRTC", "Set Time/Date",
         "Set the Time / Date on target device to that of your computer"},
        {"chkKillApps", "Kill Running Apps",
         "Terminates any running 'usr' applications on target device"},
        {"chkReboot", "Reboot Tk650", "Reboots target device"},
        {"chkRunApp", "Execute App (*go)", "Launches *go application on target device"},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        auto* button = w.findChild<QAbstractButton*>(QString::fromLatin1(c.name));
        ASSERT_TRUE(button);
        EXPECT_EQ(button->text(), QString::fromLatin1(c.caption));
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(c.tip));
    }
    // The pre- and post-download boxes sit in frames of those captions.
    const auto frameOf = [&w](const char* name) {
        auto* box = qobject_cast<QGroupBox*>(
            w.findChild<QWidget*>(QString::fromLatin1(name))->parentWidget());
        return box ? box->title() : QString();
    };
    EXPECT_EQ(frameOf("chkSetRTC"), "Pre-Download");
    EXPECT_EQ(frameOf("chkKillApps"), "Pre-Download");
    EXPECT_EQ(frameOf("chkReboot"), "Post-Download");
    EXPECT_EQ(frameOf("chkRunApp"), "Post-Download");
}
