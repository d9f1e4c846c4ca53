#include "ui/frmlog.h"

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
    const QRect main = owner->frameGeometry();
    const int frameExtra = frameGeometry().width() - width();
    move(main.left(), main.top() + main.height());
    resize(main.width() - frameExtra, height());
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
