#pragma once
// The debug console: shows every protocol line sent or received while it is
// shown, and sends single commands typed by hand, one connection per command,
// to the address in its box and the main window's daemon port.
#include <QWidget>

class QFrame;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTcpSocket;
class QTimer;

namespace tk {

class frmDebug : public QWidget {
    Q_OBJECT
public:
    // The owner is the main window: its port box gives the daemon port and
    // its doDebug the trace.
    explicit frmDebug(QWidget* owner);

    // The trace keeps its newest lines, and of one entry its first bytes.
    static constexpr int kTraceLines = 1000;
    static constexpr int kTraceEntryBytes = 4096;

    // Shows the console (not modal); a non-empty address or command replaces
    // the box's text; doSend presses Send.
    void init(const QString& ipAddress = {}, const QString& msg = {}, bool doSend = false);

    // One traced protocol line: a line break, "Received: " or "Sent: ", msg.
    void appendTrace(const QString& msg, bool isReceived);

    // Shows the error panel with the text; the connection is closed.
    void showError(const QString& text);
    // The panel's text as given (the box shows its line breaks).
    QString errorText() const { return m_errorText; }

    QGroupBox* frameMessage = nullptr;
    QLineEdit* txtIP = nullptr;
    QLineEdit* txtMsg = nullptr;
    QPushButton* cmdSend = nullptr;
    QPlainTextEdit* txtDebug = nullptr;
    QFrame* frameError = nullptr;
    QPlainTextEdit* txtError = nullptr;
    QPushButton* cmdRetry = nullptr;
    QTimer* tmrTimeout = nullptr;
    QTcpSocket* tcpClient = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void send();
    void onConnected();
    void onData();
    void trace(const QString& msg, bool isReceived);
    QString daemonPort() const;

    QString m_errorText;
};

} // namespace tk
