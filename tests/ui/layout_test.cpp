// Every window at its opening size and at its smallest: each caption (labels,
// buttons, check boxes, option buttons, group box titles, column headers and
// cells) has the room its text needs, no control pokes out of its parent, and
// modal windows keep their size. The same tests run in three ctest entries:
// plain, with QT_SCALE_FACTOR=1.5, and with TK_LAYOUT_FONT_SCALE=1.4 (a larger
// application font, set here before any window exists); TK_LAYOUT_NET gives
// each entry its own loopback network for the listener.
#include "daemon.h"
#include "mainwin_support.h"
#include "platform/dialogs.h"
#include "platform/wait.h"
#include "record.h"
#include "ui/frmabout.h"
#include "ui/frmbcastlistener.h"
#include "ui/frmdebug.h"
#include "ui/frmksyn.h"
#include "ui/frmlog.h"
#include "ui/frmporterr.h"
#include "ui/frmusage.h"
#include "ui/serialdownload.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTest>
#include <QTreeView>
#include <QUdpSocket>
#include <gmock/gmock.h>

using namespace tk;
using tk::test::MainWindowRig;
using tk::test::ProgramFolder;

namespace {

// The larger application font of the third ctest entry, applied once.
void applyFontScale()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const double scale = qEnvironmentVariable("TK_LAYOUT_FONT_SCALE").toDouble();
    if (scale > 0) {
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * scale);
        QApplication::setFont(font);
    }
}

QString nameOf(const QWidget* w)
{
    return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                     : w->objectName();
}

QString sizeText(QSize s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

bool fits(QSize need, QSize room)
{
    return need.width() <= room.width() && need.height() <= room.height();
}

// Inside an item view or scroll area a child may lie beyond the visible part.
bool scrolled(const QWidget* w)
{
    for (const QWidget* p = w->parentWidget(); p && !p->isWindow(); p = p->parentWidget()) {
        if (auto* area = qobject_cast<const QAbstractScrollArea*>(p->parentWidget()))
            if (area->viewport() == p)
                return true;
    }
    return false;
}

void checkItemView(const QAbstractItemView* view, QStringList& faults)
{
    const QString name = nameOf(view);
    auto* tree = qobject_cast<const QTreeView*>(view);
    if (!tree || !view->model())
        return;
    QHeaderView* header = tree->header();
    const int columns = view->model()->columnCount();
    for (int c = 0; c < columns; ++c) {
        if (header->isSectionHidden(c))
            continue;
        const QString caption = view->model()->headerData(c, Qt::Horizontal).toString();
        if (header->isVisible() && header->sectionSize(c) < header->sectionSizeHint(c))
            faults << QStringLiteral("%1 header \"%2\": needs %3, has %4")
                          .arg(name, caption)
                          .arg(header->sectionSizeHint(c))
                          .arg(header->sectionSize(c));
        const int rows = std::min(view->model()->rowCount(), 200);
        for (int r = 0; r < rows; ++r) {
            const QModelIndex index = view->model()->index(r, c);
            const QSize need = view->sizeHintForIndex(index);
            const QSize room(tree->columnWidth(c), view->visualRect(index).height());
            if (!fits(need, room))
                faults << QStringLiteral("%1 cell \"%2\": needs %3, has %4")
                              .arg(name, index.data().toString(), sizeText(need), sizeText(room));
        }
    }
}

// What the control's text needs and the room it gets; an empty need when it
// shows no text of its own.
struct Room {
    QString text;
    QSize need;
    QSize room;
};

std::optional<Room> roomOf(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty())
            return std::nullopt;
        const int m = label->margin() + std::max(label->indent(), 0);
        const QSize room = label->contentsRect().adjusted(m, m, -m, -m).size();
        if (label->wordWrap())
            return Room{label->text(), {1, label->heightForWidth(label->width())}, label->size()};
        return Room{label->text(), label->fontMetrics().size(Qt::TextShowMnemonic, label->text()),
                    room};
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        if (button->text().isEmpty())
            return std::nullopt;
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        QStyle::SubElement part = QStyle::SE_PushButtonContents;
        if (qobject_cast<QCheckBox*>(button))
            part = QStyle::SE_CheckBoxContents;
        else if (qobject_cast<QRadioButton*>(button))
            part = QStyle::SE_RadioButtonContents;
        else if (!qobject_cast<QPushButton*>(button))
            return std::nullopt;
        const QRect contents = button->style()->subElementRect(part, &opt, button);
        return Room{button->text(),
                    button->fontMetrics().size(Qt::TextShowMnemonic, button->text()),
                    contents.size()};
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        if (group->title().isEmpty())
            return std::nullopt;
        // The title sits on the frame, indented by a few pixels on each side.
        const QFontMetrics fm(group->font());
        return Room{group->title(),
                    {fm.horizontalAdvance(group->title()) + 2 * fm.averageCharWidth(), 1},
                    group->size()};
    }
    return std::nullopt;
}

// Every shown control of the window whose text has too little room, or that
// lies partly outside its parent.
QStringList crampedControls(QWidget* window, bool withCaption = true)
{
    QStringList faults;
    const QList<QWidget*> all = window->findChildren<QWidget*>();
    for (QWidget* w : all) {
        if (w->isWindow() || !w->isVisibleTo(window))
            continue;
        if (auto* view = qobject_cast<QAbstractItemView*>(w))
            checkItemView(view, faults);
        if (!scrolled(w) && !w->parentWidget()->rect().contains(w->geometry()))
            faults << QStringLiteral("%1: %2 lies outside its parent (%3)")
                          .arg(nameOf(w), sizeText(w->size()), sizeText(w->parentWidget()->size()));
        if (const auto r = roomOf(w); r && !fits(r->need, r->room))
            faults << QStringLiteral("%1 \"%2\": needs %3, has %4")
                          .arg(nameOf(w), r->text, sizeText(r->need), sizeText(r->room));
    }
    // The caption must fit in the title bar beside its icon and buttons.
    const QFontMetrics fm(window->font());
    const int captionNeed =
        fm.horizontalAdvance(window->windowTitle()) + 6 * fm.height() + fm.averageCharWidth();
    if (withCaption && window->width() < captionNeed)
        faults << QStringLiteral("caption \"%1\": needs %2, window is %3 wide")
                      .arg(window->windowTitle())
                      .arg(captionNeed)
                      .arg(window->width());
    return faults;
}

void settle(QWidget* window)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    pumpPendingEvents();
}

// A window at its opening size, then (when it can be resized) at its smallest.
void expectRoomy(QWidget* window, bool modal = false)
{
    SCOPED_TRACE(nameOf(window).toStdString());
    settle(window);
    const QStringList opening = crampedControls(window);
    EXPECT_TRUE(opening.isEmpty()) << "at the opening size:\n" << opening.join('\n').toStdString();
    if (modal) {
        EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "a modal window is resizable";
        return;
    }
    EXPECT_GT(window->minimumWidth(), 0) << "no minimum size";
    EXPECT_GT(window->minimumHeight(), 0) << "no minimum size";
    const QSize openingSize = window->size();
    window->resize(1, 1);
    settle(window);
    // A window made small by hand may cut its own caption.
    const QStringList smallest = crampedControls(window, false);
    EXPECT_TRUE(smallest.isEmpty())
        << "at the smallest size " << sizeText(window->size()).toStdString() << ":\n"
        << smallest.join('\n').toStdString();
    window->resize(openingSize);
    settle(window);
}

// Puts the window's frame (title bar included) at `frame`'s place, as a
// window manager or a user dragging it would.
void moveFrameTo(QWidget* window, const QPoint& topLeft)
{
    window->move(topLeft);
    settle(window);
}

// What of the window's frame lies outside the available area of its screen.
std::string outsideTheScreen(const QWidget* window)
{
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    if (area.contains(frame))
        return {};
    return QStringLiteral("%1 at %2,%3 %4 leaves the available area %5,%6 %7")
        .arg(nameOf(window))
        .arg(frame.left())
        .arg(frame.top())
        .arg(sizeText(frame.size()))
        .arg(area.left())
        .arg(area.top())
        .arg(sizeText(area.size()))
        .toStdString();
}

// Dialogs that build the real message window and keep it for a look instead
// of waiting on it.
class KeptMessageWindow : public Dialogs {
public:
    MsgAnswer message(MsgIcon icon, const QString& title, const QString& text,
                      MsgButtons buttons) override
    {
        window = makeMessageWindow(icon, title, text + extraLines, buttons);
        return MsgAnswer::Ok;
    }
    QString openFile(const FileDialogRequest&) override { return {}; }
    QString saveFile(const FileDialogRequest&) override { return {}; }

    QString extraLines;
    std::unique_ptr<QDialog> window;
};

class WindowLayout : public testing::Test {
protected:
    void SetUp() override { applyFontScale(); }
};

} // namespace

TEST_F(WindowLayout, MainWindowBothTabsWithMoreAndAdvancedOptions)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    {
        SCOPED_TRACE("serial tab");
        expectRoomy(&w);
    }
    w.STab->setCurrentIndex(1);
    QTest::mouseClick(w.cmdMore, Qt::LeftButton);
    ASSERT_TRUE(w.moreExpanded());
    QTest::keyClick(w.txtfilen, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(w.advancedShown);
    {
        SCOPED_TRACE("network tab");
        expectRoomy(&w);
    }

    // The time-left labels come and go without moving the buttons, and the
    // idle bar shows no percentage.
    EXPECT_FALSE(w.ProgBar->isTextVisible() && !w.ProgBar->text().isEmpty());
    const QRect send = w.cmdSend->geometry();
    const QRect exit = w.cmdExitN->geometry();
    w.lblTime->setText(QStringLiteral("00:12:34"));
    w.lbletl->show();
    w.lblTime->show();
    settle(&w);
    EXPECT_EQ(w.cmdSend->geometry(), send);
    EXPECT_EQ(w.cmdExitN->geometry(), exit);
    const QStringList faults = crampedControls(&w);
    EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();

    // Maximised, the " + " toggle keeps its size.
    const QSize toggle = w.cmdMore->size();
    w.resize(w.width() * 2, w.height());
    settle(&w);
    EXPECT_EQ(w.cmdMore->size(), toggle);
}

TEST_F(WindowLayout, LogAndDebugConsole)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    QTest::keyClick(w.STab, Qt::Key_L, Qt::ControlModifier);
    auto* log = w.findChild<frmLog*>(QStringLiteral("frmLog"));
    ASSERT_TRUE(log);
    expectRoomy(log);
    QTest::keyClick(w.STab, Qt::Key_D, Qt::ControlModifier);
    auto* debug = w.findChild<frmDebug*>(QStringLiteral("frmDebug"));
    ASSERT_TRUE(debug);
    expectRoomy(debug);
}

TEST_F(WindowLayout, KsynPortInUseAboutAndUsage)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    frmKSYN* ksyn = w.serialDownload()->ksynWindow();
    ksyn->lblPort->setText(QStringLiteral("3"));
    expectRoomy(ksyn, true);
    frmPortErr* portErr = w.serialDownload()->portErrWindow();
    portErr->lblPort->setText(QStringLiteral("COM255 is already open."));
    expectRoomy(portErr, true);
    frmAbout about(&w);
    expectRoomy(&about, true);
    frmUsage usage(&w);
    usage.setWindowTitle(QStringLiteral("Tk650 Downloader"));
    expectRoomy(&usage);
}

// The listener with rows as terminals fill it (long serial numbers, the
// longest status, a two-line discretionary text) and a terminal's details.
TEST_F(WindowLayout, ListenerWithRowsAndDetails)
{
    ProgramFolder folder;
    ProgramEnv env = folder.env();
    KeptMessageWindow details;
    env.dialogs = &details;
    // Each ctest entry of these tests has its own network.
    const QString net = qEnvironmentVariable("TK_LAYOUT_NET", QStringLiteral("1"));
    const QString base = QStringLiteral("127.41.%1.").arg(net);
    env.bcastBindAddress = base + QLatin1Char('1');
    frmmain main(env);
    main.show();

    auto record = [](const QByteArray& serial, const QByteArray& discretionary) {
        sim::TerminalRecord r;
        r.serial = serial;
        r.discretionary = discretionary;
        return r.toBytes();
    };
    std::vector<std::unique_ptr<sim::Daemon>> daemons;
    for (int host = 2; host <= 3; ++host) {
        sim::DaemonConfig config;
        config.whoReply = record("650-100-200-00" + QByteArray::number(host),
                                 host == 3 ? "First line\r\nSecond line\r\n" : "");
        daemons.push_back(std::make_unique<sim::Daemon>(config));
        ASSERT_TRUE(daemons.back()->listen(QHostAddress(base + QString::number(host)), 5142));
    }
    main.chkListener->click();
    auto* l = main.findChild<frmBcastListener*>(QStringLiteral("frmBcastListener"));
    ASSERT_TRUE(l);
    for (int host = 2; host <= 3; ++host) {
        QUdpSocket s;
        ASSERT_TRUE(s.bind(QHostAddress(base + QString::number(host)), 0));
        const QByteArray data = record("650-100-200-00" + QByteArray::number(host), "");
        ASSERT_EQ(s.writeDatagram(data, QHostAddress(env.bcastBindAddress), 5143), data.size());
    }
    ASSERT_TRUE(pumpEventsUntil(
        [&] {
            return l->rowCount() == 2 && l->probesIdle() && l->row(0).status == l->row(1).status &&
                   l->row(0).status == QLatin1String("Waiting for download");
        },
        10000));
    expectRoomy(l);

    // The details of the terminal with the two-line text, as the real
    // message window shows them.
    l->lvBcast->setCurrentIndex(l->table().index(l->rowOf(QStringLiteral("650-100-200-003")), 0));
    l->showDeviceDetails();
    ASSERT_TRUE(details.window);
    expectRoomy(details.window.get(), true);

    // Details taller than the screen scroll; OK stays on the screen.
    for (int i = 0; i < 200; ++i)
        details.extraLines += QStringLiteral("\nline %1").arg(i);
    l->showDeviceDetails();
    ASSERT_TRUE(details.window);
    settle(details.window.get());
    const QRect screen = details.window->screen()->availableGeometry();
    EXPECT_LE(details.window->frameGeometry().height(), screen.height());
    const QStringList faults = crampedControls(details.window.get());
    EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
    l->close();
}

// Every window opens wholly inside the screen's available area, and the log
// lies right under the main window, touching it without covering it. ctest
// runs this on the default screen, on a 1366x768 one and at scale 2 on a
// 1920x1080 one.
TEST_F(WindowLayout, WindowsStayInsideTheAvailableArea)
{
    ProgramFolder folder;
    folder.write(QStringLiteral("pdt.exe"), "#!/bin/sh\n");
    ProgramEnv env = folder.env();
    const QString net = qEnvironmentVariable("TK_LAYOUT_NET", QStringLiteral("1"));
    // Not the listener test's network: ctest may run both at once.
    env.bcastBindAddress = QStringLiteral("127.42.%1.1").arg(net);
    // A listener size stored on a larger screen.
    folder.store().setValue(QStringLiteral("frmBcastSize"), QStringLiteral("40000,30000"));
    frmmain main(env);
    main.load(QString());
    main.STab->setCurrentIndex(1);
    settle(&main);
    const QRect area = main.screen()->availableGeometry();

    // Where window managers open a new window: at the top, in the middle.
    QRect frame = main.frameGeometry();
    auto* log = main.findChild<frmLog*>(QStringLiteral("frmLog"));
    for (const bool middle : {false, true}) {
        SCOPED_TRACE(middle ? "main window in the middle" : "main window at the top");
        if (middle)
            frame.moveCenter(area.center());
        else
            frame.moveTopLeft(area.topLeft());
        moveFrameTo(&main, frame.topLeft());
        EXPECT_EQ(outsideTheScreen(&main), "");

        QTest::keyClick(main.txtfilen, Qt::Key_L, Qt::ControlModifier);
        log = main.findChild<frmLog*>(QStringLiteral("frmLog"));
        ASSERT_TRUE(log);
        settle(log);
        EXPECT_EQ(outsideTheScreen(log), "");
        // Right under the main window whenever the log fits there at its
        // smallest.
        const QRect m = main.frameGeometry();
        const QRect l = log->frameGeometry();
        const int least = log->minimumSizeHint().height() + l.height() - log->height();
        if (area.bottom() - m.bottom() >= least) {
            EXPECT_EQ(l, QRect(m.left(), m.bottom() + 1, m.width(), l.height()))
                << "the log does not lie right under the main window at " << m.left() << ","
                << m.top() << " " << sizeText(m.size()).toStdString();
        }
        log->close();
    }

    // "More" with the window at the bottom of the screen, where a user may
    // have dragged it; collapsing puts it back.
    frame.moveBottom(area.bottom());
    moveFrameTo(&main, frame.topLeft());
    const QRect before = main.frameGeometry();
    QTest::mouseClick(main.cmdMore, Qt::LeftButton);
    ASSERT_TRUE(main.moreExpanded());
    settle(&main);
    EXPECT_EQ(outsideTheScreen(&main), "") << "with More";
    QTest::mouseClick(main.cmdMore, Qt::LeftButton);
    settle(&main);
    EXPECT_EQ(main.frameGeometry(), before) << "not back where it was before More";

    // The log with the main window at the bottom: it cannot lie under it, but
    // stays on the screen.
    QTest::keyClick(main.txtfilen, Qt::Key_L, Qt::ControlModifier);
    settle(log);
    EXPECT_EQ(outsideTheScreen(log), "") << "under a main window at the bottom";
    log->close();

    frame.moveCenter(area.center());
    moveFrameTo(&main, frame.topLeft());
    main.chkListener->click();
    auto* l = main.findChild<frmBcastListener*>(QStringLiteral("frmBcastListener"));
    ASSERT_TRUE(l);
    settle(l);
    EXPECT_EQ(outsideTheScreen(l), "");
    l->close();
}
