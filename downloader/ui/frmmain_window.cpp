// The main window's own behaviour: closing (unload), the Exit buttons, the
// "More" toggle, the tab-change rule, the key chords and the log window that
// follows the window when it moves.
#include "ui/frmdebug.h"
#include "ui/frmlog.h"
#include "ui/frmmain.h"
#include "ui/networkdownload.h"
#include "ui/onelinelist.h"
#include "ui/screenfit.h"
#include "ui/shortcuts.h"

#include "core/startup.h"
#include "platform/wait.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>

namespace tk {

void frmmain::wireWindow()
{
    // Key chords are seen before the focused control gets them.
    qApp->installEventFilter(this);

    connect(cmdExit, &QPushButton::clicked, this, [this] {
        if (cmdExit->text() == QLatin1String("Exit"))
            close();
        else
            cancelled = true;
    });
    connect(cmdExitN, &QPushButton::clicked, this, [this] {
        if (cmdExitN->text() == QLatin1String("Exit")) {
            close();
            return;
        }
        cancelled = true;
        // The session closes its connection and tells how it ended.
        netDownload->cancel();
        closeConnection();
    });
    connect(STab, &QTabWidget::currentChanged, this, &frmmain::onTabChanged);
}

void frmmain::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (!m_unloading)
        unload();
}

// Closing the window ends the program; every step is best effort.
void frmmain::unload()
{
    m_unloading = true;
    qApp->removeEventFilter(this);
    cancelled = true;
    // Read before the socket closes: closing it must not count as the end of
    // the transfer.
    const bool transferRunning = cmdExitN->text() == QLatin1String("Cancel");
    netDownload->cancel();
    closeConnection();
    pumpPendingEvents();

    if (transferRunning && !commandLineMode)
        m_env.dialogs->message(MsgIcon::None, QStringLiteral("Exiting.."),
                               QStringLiteral("File Transfer Aborted"), MsgButtons::Ok);

    m_env.store->setValue(QStringLiteral("lastTab"), QString::number(STab->currentIndex()));
    const QString file = txtfile->text();
    const QFileInfo info(file);
    if (!file.isEmpty() && info.exists() && !info.isHidden())
        m_env.store->setValue(QStringLiteral("lastDir"),
                              QString::fromStdString(startup::folderOf(file.toStdString())));
    m_env.store->sync();

    // The other windows, in this order, so each can save what it keeps.
    static const char* const windows[] = {"frmAbout",         "frmPortErr", "frmUsage", "frmKSYN",
                                          "frmBcastListener", "frmDebug",   "frmLog"};
    for (const char* name : windows) {
        const auto found = findChildren<QWidget*>(QString::fromLatin1(name));
        for (QWidget* w : found) {
            if (w->isWindow())
                w->close();
        }
    }
    m_env.exitProcess(0);
}

void frmmain::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (!m_unloading && m_log && m_log->isVisible())
        m_log->updatePosition();
}

void frmmain::showEvent(QShowEvent* event)
{
    // Fonts and style are final now.
    fitMinimumSize();
    QWidget::showEvent(event);
}

void frmmain::setMoreExpanded(bool expanded)
{
    if (expanded == m_moreExpanded)
        return;
    m_moreExpanded = expanded;
    // Taken before the panel counts in the smallest size, which may grow the
    // window on its own.
    const QPoint before = pos();
    const int height = this->height();
    QRect frame = frameGeometry();
    cmdMore->setFrameShadow(expanded ? QFrame::Sunken : QFrame::Raised);
    framePerms->setVisible(expanded);
    fitMinimumSize();
    if (expanded) {
        // 700 twips taller, moved up where the screen ends below the window
        // (or kept as tall as the screen allows).
        if (isVisible()) {
            frame.setHeight(frame.height() + twips(700));
            placeFrame(this, frame, frameMarginsOf(this, nullptr));
        } else {
            resize(width(), height + twips(700));
        }
        m_moreGrowth = this->height() - height;
        m_moreShift = pos() - before;
        m_moreAt = pos();
        return;
    }
    // Collapsing takes back exactly what expanding gave, and the window goes
    // back down unless it has been moved since.
    resize(width(), height - m_moreGrowth);
    if (pos() == m_moreAt && !m_moreShift.isNull())
        move(pos() - m_moreShift);
}

void frmmain::onTabChanged(int index)
{
    const int left = m_shownTab;
    m_shownTab = index;
    if (left != 1 || index != 0)
        return;
    if (cmdExitN->text() == QLatin1String("Cancel")) {
        STab->setCurrentIndex(1); // a network session is running
        return;
    }
    if (m_moreExpanded) {
        setMoreExpanded(false);
        logWindow()->show();
    }
}

bool frmmain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == cmdMore) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: setMoreExpanded(!m_moreExpanded); return true;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            cmdMore->setBackgroundRole(cmdMore->hasFocus() ? QPalette::Highlight
                                                           : QPalette::Button);
            cmdMore->setForegroundRole(cmdMore->hasFocus() ? QPalette::HighlightedText
                                                           : QPalette::ButtonText);
            break;
        default: break;
        }
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (widget == cmdMore && (enter || key->key() == Qt::Key_Space)) {
        setMoreExpanded(!m_moreExpanded);
        return true;
    }
    // Enter works the focused button, as Space does.
    if (auto* button = qobject_cast<QPushButton*>(widget);
        button && enter && key->modifiers() == Qt::NoModifier) {
        if (button->isEnabled())
            button->animateClick();
        return true;
    }
    // An Alt chord that names no control of the shown tab (the other tab's
    // access keys) must not type its letter into a text box.
    if (qobject_cast<QLineEdit*>(widget) && !key->text().isEmpty() &&
        (key->modifiers() & ~Qt::ShiftModifier) == Qt::AltModifier)
        return true;
    switch (chordOf(*key)) {
    case Chord::AdvancedOptions:
        // The function key itself is not passed on: it has no use here.
        revealAdvancedOptions();
        return true;
    case Chord::DebugConsole: openDebugConsole(); return true;
    case Chord::ShowLog: showLogWindow(); return true;
    case Chord::None: break;
    }
    return QWidget::eventFilter(watched, event);
}

void frmmain::revealAdvancedOptions()
{
    if (advancedShown)
        return;
    advancedShown = true;
    lblPort->show();
    txtPort->show();
    listNetO->addEntry(QStringLiteral("root"));
    fitMinimumSize();
}

void frmmain::fitMinimumSize()
{
    frameBottom->setMinimumWidth(framePerms->minimumSizeHint().width());
    // The tab's own layout first, so a panel just shown or hidden counts.
    framePerms->parentWidget()->layout()->activate();
    // A tab page that is not shown does not tell the tab strip that its size
    // changed: the strip is asked anew.
    STab->updateGeometry();
    layout()->invalidate();
    setMinimumSize(layout()->totalMinimumSize());
}

void frmmain::openDebugConsole()
{
    // The console starts on the current destination with a sample command,
    // sending nothing.
    debugWindow()->init(getDestinationIP(), QStringLiteral("MSG:enter a message here"), false);
}

void frmmain::showLogWindow()
{
    frmLog* log = logWindow();
    // Placed before it is mapped, so it opens in its place; placed again once
    // shown, when its own frame may be known.
    log->updatePosition();
    log->show();
    log->updatePosition();
}

void frmmain::printOut(const QString& s)
{
    const QByteArray bytes = s.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace tk
