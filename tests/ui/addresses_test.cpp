#include "programfolder.h"
#include "ui/frmmain.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace tk;

namespace {

class Addresses : public ::testing::Test {
protected:
    QLineEdit* box(int i) { return w->findChild<QLineEdit*>(QStringLiteral("txtIP_%1").arg(i)); }
    QAction* entry(int i) { return w->findChild<QAction*>(QStringLiteral("mnuIP_%1").arg(i)); }
    QStringList boxes() { return {box(0)->text(), box(1)->text(), box(2)->text(), box(3)->text()}; }
    void setBoxes(const QStringList& texts)
    {
        for (int i = 0; i < 4; ++i)
            box(i)->setText(texts[i]);
    }
    // Captions of the visible menu entries, in order.
    QStringList menu()
    {
        QStringList captions;
        for (int i = 0; i < 5; ++i)
            if (entry(i)->isVisible())
                captions << entry(i)->text();
        return captions;
    }
    // The list as another process would read it from disk.
    QString storedOnDisk()
    {
        QSettings disk(folder.file(QStringLiteral("store.ini")), QSettings::IniFormat);
        return disk.value(QStringLiteral("lastIP")).toString();
    }
    void start(const QString& lastIP)
    {
        if (!lastIP.isNull())
            folder.store().setValue(QStringLiteral("lastIP"), lastIP);
        w = std::make_unique<frmmain>(folder.env());
        w->loadRecentIPs();
    }
    void showNetworkTab()
    {
        w->findChild<QTabWidget*>(QStringLiteral("STab"))->setCurrentIndex(1);
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    test::ProgramFolder folder;
    std::unique_ptr<frmmain> w;
};

const QString kFive = QStringLiteral("10.0.0.1|10.0.0.2|10.0.0.3|10.0.0.4|10.0.0.5");

} // namespace

TEST_F(Addresses, EmptyListShowsOneDisabledNoneAndKeepsTheBoxes)
{
    w = std::make_unique<frmmain>(folder.env());
    setBoxes({"1", "2", "3", "4"});
    w->loadRecentIPs();
    EXPECT_EQ(menu(), QStringList{"none"});
    EXPECT_FALSE(entry(0)->isEnabled());
    EXPECT_EQ(boxes(), (QStringList{"1", "2", "3", "4"}));
}

TEST_F(Addresses, MostRecentFillsTheBoxesAsStored)
{
    start(QStringLiteral("192.168.001.020|10.0.0.7"));
    EXPECT_EQ(menu(), (QStringList{"192.168.001.020", "10.0.0.7"}));
    EXPECT_TRUE(entry(0)->isEnabled());
    EXPECT_EQ(boxes(), (QStringList{"192", "168", "001", "020"}));
    EXPECT_EQ(w->getDestinationIP(), "192.168.1.20");
}

TEST_F(Addresses, MostRecentThatIsNoAddressFillsNothing)
{
    start(QStringLiteral("10.1.2|10.0.0.7"));
    EXPECT_EQ(menu(), (QStringList{"10.1.2", "10.0.0.7"}));
    EXPECT_EQ(boxes(), (QStringList{"", "", "", ""}));
    EXPECT_EQ(w->getDestinationIP(), "");
}

TEST_F(Addresses, SavingASixthAddressDropsTheOldest)
{
    start(kFive);
    setBoxes({"10", "0", "0", "6"});
    w->saveRecentIP();
    const QString expected = QStringLiteral("10.0.0.6|10.0.0.1|10.0.0.2|10.0.0.3|10.0.0.4");
    EXPECT_EQ(storedOnDisk(), expected);
    EXPECT_EQ(menu(), expected.split('|'));
    EXPECT_TRUE(entry(0)->isEnabled());
}

TEST_F(Addresses, SavingTheThirdAgainMovesItToTheFront)
{
    start(kFive);
    setBoxes({"10", "0", "0", "3"});
    w->saveRecentIP();
    EXPECT_EQ(storedOnDisk(), "10.0.0.3|10.0.0.1|10.0.0.2|10.0.0.4|10.0.0.5");
    EXPECT_EQ(menu().size(), 5);
}

TEST_F(Addresses, AnAddressIsNotConfusedWithALongerOne)
{
    start(QStringLiteral("10.0.0.12"));
    setBoxes({"10", "0", "0", "1"});
    w->saveRecentIP();
    EXPECT_EQ(storedOnDisk(), "10.0.0.1|10.0.0.12");
    EXPECT_EQ(menu(), (QStringList{"10.0.0.1", "10.0.0.12"}));
}

TEST_F(Addresses, LeadingZerosAreStoredButNotUsedForConnecting)
{
    start(QString());
    setBoxes({"010", "000", "000", "001"});
    w->saveRecentIP();
    EXPECT_EQ(storedOnDisk(), "010.000.000.001");
    EXPECT_EQ(boxes(), (QStringList{"010", "000", "000", "001"}));
    EXPECT_EQ(w->getDestinationIP(), "10.0.0.1");
    box(2)->clear();
    EXPECT_EQ(w->getDestinationIP(), "");
}

TEST_F(Addresses, RecentLabelOpensTheMenuAndAnEntryFillsTheBoxes)
{
    start(QStringLiteral("192.168.1.20|10.1.2|172.16.0.9"));
    showNetworkTab();
    auto* label = w->findChild<QLabel*>(QStringLiteral("lblSavedIP"));
    auto* popup = w->findChild<QMenu*>(QStringLiteral("mnuSavedIP"));
    QTest::mouseClick(label, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
    QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(entry(2)).center());
    QTRY_VERIFY(!popup->isVisible());
    EXPECT_EQ(boxes(), (QStringList{"172", "16", "0", "9"}));

    entry(1)->trigger(); // three parts: nothing changes
    EXPECT_EQ(boxes(), (QStringList{"172", "16", "0", "9"}));
}

TEST_F(Addresses, FullStopMovesOnAndNeverEntersTheBox)
{
    start(QString());
    showNetworkTab();
    box(0)->setFocus();
    QTest::keyClicks(box(0), "192");
    QTest::keyClick(box(0), Qt::Key_Period, Qt::NoModifier);
    EXPECT_EQ(box(0)->text(), "192");
    EXPECT_EQ(QApplication::focusWidget(), box(1));

    QTest::keyClick(box(1), Qt::Key_Period); // empty box
    EXPECT_EQ(box(1)->text(), "0");
    EXPECT_EQ(QApplication::focusWidget(), box(2));

    QTest::keyClicks(box(2), "1");
    QTest::keyClick(box(2), Qt::Key_Period, Qt::KeypadModifier); // keypad decimal
    EXPECT_EQ(box(2)->text(), "1");
    EXPECT_EQ(QApplication::focusWidget(), box(3));

    QTest::keyClicks(box(3), "25");
    QTest::keyClick(box(3), Qt::Key_Period);
    EXPECT_EQ(box(3)->text(), "25");
    EXPECT_EQ(QApplication::focusWidget(), w->findChild<QPushButton*>(QStringLiteral("cmdSend")));
    EXPECT_EQ(w->getDestinationIP(), "192.0.1.25");
}

TEST_F(Addresses, FocusSelectsTheWholeOctetSoTypingReplacesIt)
{
    start(QStringLiteral("192.168.1.20"));
    showNetworkTab();
    QTest::mouseClick(box(2), Qt::LeftButton, {}, QPoint(2, box(2)->height() / 2));
    QTRY_COMPARE(box(2)->selectedText(), "1");
    QTest::keyClick(box(2), Qt::Key_Period); // a full stop over a selection keeps the octet
    EXPECT_EQ(box(2)->text(), "1");
    QTRY_COMPARE(box(3)->selectedText(), "20");
    QTest::keyClicks(box(3), "7");
    EXPECT_EQ(w->getDestinationIP(), "192.168.1.7");
}
