// The log window: time-stamped lines, a cap of 50, kept only while shown, and
// its place right under the main window.
#include "mainwin_support.h"
#include "platform/wait.h"
#include "ui/frmlog.h"

#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace tk;
using test::MainWindowRig;

namespace {

struct LogRig : MainWindowRig {
    QDateTime clock{QDate(2024, 3, 5), QTime(14, 7, 9)};
    frmmain& startWithClock()
    {
        withTool();
        auto env = folder.env();
        env.now = [this] { return clock; };
        w = std::make_unique<frmmain>(env);
        w->load(QString());
        return *w;
    }
    QStringList lines() { return w->logWindow()->text().split('\n', Qt::SkipEmptyParts); }
};

} // namespace

TEST(LogWindow, LinesCarryA24HourStampAndTheNewestIsVisible)
{
    LogRig rig;
    auto& w = rig.startWithClock();
    w.logWindow()->show();
    w.logMessage("Connecting");
    rig.clock = rig.clock.addSecs(10 * 3600);
    w.logMessage("Connection closed");
    EXPECT_EQ(rig.lines(), QStringList({"14:07:09 Connecting", "00:07:09 Connection closed"}));
    EXPECT_TRUE(w.logWindow()->txtLog->textCursor().atEnd());
}

TEST(LogWindow, The51stLinePushesOutTheFirst)
{
    LogRig rig;
    auto& w = rig.startWithClock();
    w.logWindow()->show();
    for (int i = 1; i <= 50; ++i)
        w.logMessage(QStringLiteral("line %1").arg(i));
    EXPECT_EQ(rig.lines().size(), 50);
    EXPECT_EQ(w.logWindow()->logLineCount, 50);
    w.logMessage("line 51");
    const auto lines = rig.lines();
    ASSERT_EQ(lines.size(), 50);
    EXPECT_EQ(lines.first(), "14:07:09 line 2");
    EXPECT_EQ(lines.last(), "14:07:09 line 51");
    for (int i = 52; i <= 120; ++i)
        w.logMessage(QStringLiteral("line %1").arg(i));
    EXPECT_EQ(rig.lines().size(), 50);
    EXPECT_EQ(rig.lines().first(), "14:07:09 line 71");
}

TEST(LogWindow, LinesWhileHiddenAreLostAndAReopenedLogStartsEmpty)
{
    LogRig rig;
    auto& w = rig.startWithClock();
    w.logMessage("before");
    w.logWindow()->show();
    EXPECT_TRUE(rig.lines().isEmpty());
    w.logMessage("shown");
    w.logWindow()->hide();
    w.logMessage("hidden");
    w.logWindow()->show();
    EXPECT_EQ(rig.lines(), QStringList({"14:07:09 shown"}));
    w.logWindow()->close();
    w.logWindow()->show();
    EXPECT_TRUE(rig.lines().isEmpty());
    w.logMessage("again");
    EXPECT_EQ(w.logWindow()->logLineCount, 1);
}

TEST(LogWindow, FollowsTheMainWindowOnlyWhileShown)
{
    LogRig rig;
    auto& w = rig.startWithClock();
    w.setGeometry(100, 100, 500, 300);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    frmLog* log = w.logWindow();
    QTest::keyClick(w.txtfile, Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(log->isVisible());
    const int logHeight = log->height();
    auto under = [&] {
        const QRect m = w.frameGeometry();
        const QRect l = log->frameGeometry();
        return l.left() == m.left() && l.top() == m.top() + m.height() && l.width() == m.width();
    };
    EXPECT_TRUE(under());

    w.move(250, 40);
    EXPECT_TRUE(QTest::qWaitFor(under, 5000));
    EXPECT_EQ(log->height(), logHeight);

    log->hide();
    const QPoint hiddenAt = log->pos();
    w.move(10, 10);
    pumpPendingEvents();
    EXPECT_EQ(log->pos(), hiddenAt);
}
