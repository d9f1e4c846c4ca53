#pragma once
// The debug console: shows every protocol line sent or received while it is
// shown, and sends single commands typed by hand.
#include <QWidget>

class QPlainTextEdit;

namespace tk {

class frmDebug : public QWidget {
    Q_OBJECT
public:
    explicit frmDebug(QWidget* owner);

    // One traced protocol line: CR LF + "Received: " or "Sent: " + msg.
    void appendTrace(const QString& msg, bool isReceived);

    QPlainTextEdit* txtDebug = nullptr;
};

} // namespace tk
