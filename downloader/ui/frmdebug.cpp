#include "ui/frmdebug.h"

#include "ui/frmmain.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>
#include <QVBoxLayout>

namespace tk {

namespace {
const QString kSample = QStringLiteral("MSG:enter a message here");
} // namespace

frmDebug::frmDebug(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("frmDebug"));
    setWindowTitle(QStringLiteral("Debug"));
    resize(520, 360);
    auto* layout = new QVBoxLayout(this);

    frameMessage = new QGroupBox(QStringLiteral("Send Message"), this);
    frameMessage->setObjectName(QStringLiteral("frameMessage"));
    auto* grid = new QGridLayout(frameMessage);
    txtIP = new QLineEdit(frameMessage);
    txtIP->setObjectName(QStringLiteral("txtIP"));
    txtMsg = new QLineEdit(kSample, frameMessage);
    txtMsg->setObjectName(QStringLiteral("txtMsg"));
    txtMsg->installEventFilter(this);
    cmdSend = new QPushButton(QStringLiteral("Send"), frameMessage);
    cmdSend->setObjectName(QStringLiteral("cmdSend"));
    grid->addWidget(new QLabel(QStringLiteral("IP:"), frameMessage), 0, 0);
    grid->addWidget(txtIP, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Cmd:"), frameMessage), 1, 0);
    grid->addWidget(txtMsg, 1, 1);
    grid->addWidget(cmdSend, 1, 2);
    layout->addWidget(frameMessage);

    txtDebug = new QPlainTextEdit(this);
    txtDebug->setObjectName(QStringLiteral("txtDebug"));
    txtDebug->setReadOnly(true);
    txtDebug->setPlainText(QStringLiteral("Capturing tcp messages...\n"));
    // A terminal that floods must not fill the memory: the newest lines stay.
    txtDebug->setMaximumBlockCount(kTraceLines);
    layout->addWidget(txtDebug, 1);

    // The error panel lies over the window's top-left corner.
    frameError = new QFrame(this);
    frameError->setObjectName(QStringLiteral("frameError"));
    frameError->setFrameShape(QFrame::Box);
    frameError->setAutoFillBackground(true);
    auto* errorLayout = new QVBoxLayout(frameError);
    txtError = new QPlainTextEdit(QStringLiteral("Error!"), frameError);
    txtError->setObjectName(QStringLiteral("txtError"));
    txtError->setReadOnly(true);
    cmdRetry = new QPushButton(QStringLiteral("OK"), frameError);
    cmdRetry->setObjectName(QStringLiteral("cmdRetry"));
    errorLayout->addWidget(txtError);
    errorLayout->addWidget(cmdRetry, 0, Qt::AlignHCenter);
    frameError->move(0, 0);
    frameError->hide();

    tmrTimeout = new QTimer(this);
    tmrTimeout->setObjectName(QStringLiteral("tmrTimeout"));
    tmrTimeout->setInterval(2000);
    tmrTimeout->setSingleShot(true);
    tcpClient = new QTcpSocket(this);
    tcpClient->setObjectName(QStringLiteral("tcpClient"));
    // One arrival is read at a time, and never more than this of it.
    tcpClient->setReadBufferSize(kTraceEntryBytes);

    connect(cmdSend, &QPushButton::clicked, this, &frmDebug::send);
    connect(cmdRetry, &QPushButton::clicked, this, [this] {
        frameError->hide();
        cmdSend->setEnabled(true);
    });
    connect(tmrTimeout, &QTimer::timeout, this, [this] {
        showError(QStringLiteral("Error!\r\nUnable to connect to device: ") + txtIP->text());
    });
    connect(tcpClient, &QTcpSocket::connected, this, &frmDebug::onConnected);
    connect(tcpClient, &QTcpSocket::readyRead, this, &frmDebug::onData);
    connect(tcpClient, &QTcpSocket::bytesWritten, this, [this] {
        if (tcpClient->bytesToWrite() == 0)
            cmdSend->setEnabled(true);
    });
    connect(tcpClient, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // The daemon closing its end after a reply is the normal end of a
        // command, not a failure.
        if (e == QAbstractSocket::RemoteHostClosedError)
            return;
        showError(QStringLiteral("Error: ") + tcpClient->errorString());
    });
}

void frmDebug::init(const QString& ipAddress, const QString& msg, bool doSend)
{
    show();
    raise();
    activateWindow();
    if (!ipAddress.isEmpty())
        txtIP->setText(ipAddress);
    if (!msg.isEmpty())
        txtMsg->setText(msg);
    if (doSend)
        send();
}

QString frmDebug::daemonPort() const
{
    if (auto* main = qobject_cast<frmmain*>(parentWidget()))
        return main->txtPort->text();
    return QStringLiteral("5142");
}

void frmDebug::trace(const QString& msg, bool isReceived)
{
    // Through the main window, so that the console logs only while it is shown.
    if (auto* main = qobject_cast<frmmain*>(parentWidget()))
        main->doDebug(msg, isReceived);
    else if (isVisible())
        appendTrace(msg, isReceived);
}

void frmDebug::send()
{
    if (tcpClient->state() != QAbstractSocket::UnconnectedState)
        tcpClient->abort();
    cmdSend->setEnabled(false);
    tmrTimeout->start();
    bool ok = false;
    const uint port = daemonPort().trimmed().toUInt(&ok);
    if (!ok || port > 65535) {
        showError(QStringLiteral("Error: ") + QStringLiteral("Invalid port: ") + daemonPort());
        return;
    }
    tcpClient->connectToHost(txtIP->text().trimmed(), static_cast<quint16>(port));
}

void frmDebug::onConnected()
{
    tmrTimeout->stop();
    const QString msg = txtMsg->text();
    trace(msg, false);
    const QByteArray bytes = msg.toLatin1(); // exactly as typed, nothing added
    // An empty command writes nothing, so no write will ever report that it
    // went out: it is sent as soon as it is connected.
    if (bytes.isEmpty()) {
        cmdSend->setEnabled(true);
        return;
    }
    tcpClient->write(bytes);
}

void frmDebug::onData()
{
    const QString text = QString::fromLatin1(tcpClient->readAll());
    trace(text, true);
    if (text.startsWith(QLatin1String("OK")))
        return;
    if (text.startsWith(QLatin1String("BADARGS")))
        showError(QStringLiteral("Command not supported.\r\n"
                                 "The command you sent was not recognized, try again."));
}

void frmDebug::showError(const QString& text)
{
    tmrTimeout->stop();
    if (tcpClient->state() != QAbstractSocket::UnconnectedState)
        tcpClient->abort();
    m_errorText = text;
    txtError->setPlainText(text);
    cmdSend->setEnabled(false); // until the panel's OK
    frameError->adjustSize();
    frameError->resize(std::max(frameError->width(), width() / 2),
                       std::max(frameError->height(), height() / 3));
    frameError->show();
    frameError->raise();
}

void frmDebug::appendTrace(const QString& msg, bool isReceived)
{
    QTextCursor cursor = txtDebug->textCursor();
    cursor.movePosition(QTextCursor::End);
    const QString shown =
        msg.size() <= kTraceEntryBytes
            ? msg
            : msg.left(kTraceEntryBytes) +
                  QStringLiteral(" ... (%1 more bytes)").arg(msg.size() - kTraceEntryBytes);
    cursor.insertText(QLatin1Char('\n') +
                      QString::fromLatin1(isReceived ? "Received: " : "Sent: ") + shown);
    txtDebug->setTextCursor(cursor);
}

bool frmDebug::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtMsg && event->type() == QEvent::MouseButtonDblClick &&
        txtMsg->text() == kSample) {
        txtMsg->selectAll();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmDebug::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    frameError->move(0, 0);
}

} // namespace tk
