#include "ui/frmlog.h"
#include "ui/screenfit.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tk {

frmLog::frmLog(std::function<QDateTime()> now, QWidget* owner)
    : QWidget(owner, Qt::Window), m_now(std::move(now))
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Log"));
    auto* layout = new QVBoxLayout(this);
    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    txtLog->setReadOnly(true);
    layout->addWidget(txtLog);
}

void frmLog::updatePosition()
{
    const QWidget* owner = parentWidget();
    if (!owner)
        return;
    // Before its first showing the window has no frame yet: the main
    // window's stands in, so the title bar does not cover the main window.
    const QMargins margins = frameMarginsOf(this, owner);
    const QRect main = owner->frameGeometry();
    const QRect area = availableAreaAt(main.center(), owner);
    // Directly under the main window, as wide as it. The height is the one
    // the user last gave, shortened to the room left below the main window
    // while that still leaves the window its smallest height; otherwise the
    // window is moved up into the screen.
    const int wanted = m_height > 0 ? m_height : sizeHint().height();
    int frameHeight = wanted + margins.top() + margins.bottom();
    const int below = area.bottom() - main.bottom();
    const int least = minimumSizeHint().height() + margins.top() + margins.bottom();
    if (frameHeight > below && below >= least)
        frameHeight = below;
    m_placing = true;
    placeFrame(this, QRect(main.left(), main.bottom() + 1, main.width(), frameHeight), margins);
    m_placing = false;
}

void frmLog::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (!m_placing)
        m_height = height();
}

void frmLog::closeEvent(QCloseEvent* event)
{
    txtLog->clear();
    logLineCount = 0;
    QWidget::closeEvent(event);
}

void frmLog::appendLogLine(const QString& text)
{
    QString all = txtLog->toPlainText();
    all +=
        m_now().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + text + QLatin1Char('\n');
    if (logLineCount >= 50)
        all.remove(0, all.indexOf(QLatin1Char('\n')) + 1);
    else
        ++logLineCount;
    txtLog->setPlainText(all);
    txtLog->moveCursor(QTextCursor::End);
}

QString frmLog::text() const
{
    return txtLog->toPlainText();
}

} // namespace tk
