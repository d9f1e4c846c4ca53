#include "ui/frmdebug.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tk {

frmDebug::frmDebug(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("frmDebug"));
    setWindowTitle(QStringLiteral("Debug"));
    auto* layout = new QVBoxLayout(this);
    txtDebug = new QPlainTextEdit(this);
    txtDebug->setObjectName(QStringLiteral("txtDebug"));
    txtDebug->setReadOnly(true);
    layout->addWidget(txtDebug);
}

void frmDebug::appendTrace(const QString& msg, bool isReceived)
{
    // The box keeps the text as it is; each line is started by a line break.
    QString all = txtDebug->toPlainText();
    all += QLatin1Char('\n') + QString::fromLatin1(isReceived ? "Received: " : "Sent: ") + msg;
    txtDebug->setPlainText(all);
    txtDebug->moveCursor(QTextCursor::End);
}

} // namespace tk
