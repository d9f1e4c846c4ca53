#include "programfolder.h"
#include "ui/frmmain.h"
#include "ui/onelinelist.h"

#include <QComboBox>
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
