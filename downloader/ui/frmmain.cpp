#include "ui/frmmain.h"

#include "ui/frmbcastlistener.h"
#include "ui/frmdebug.h"
#include "ui/frmlog.h"
#include "ui/networkdownload.h"
#include "ui/networkoptions.h"
#include "ui/serialdownload.h"

namespace tk {

frmmain::frmmain(ProgramEnv env, QWidget* parent) : QWidget(parent), m_env(std::move(env))
{
    if (!m_env.exitProcess)
        m_env.exitProcess = [](int code) { exitProcessNow(code); };
    buildUi();
    netOptions = new NetworkOptions(*this);
    setupAddressBoxes();
    setupAboutLabel();
    netDownload = std::make_unique<NetworkDownload>(*this);
    m_serial = new SerialDownload(*this);
    wireSerialChoice();
    wireWindow();
    wireBcastListener(*this);
    fitMinimumSize();
}

frmmain::~frmmain() = default;

void frmmain::doExitProcess(int exitCode)
{
    exitRequested = true;
    if (tcpClient->state() != QAbstractSocket::UnconnectedState)
        tcpClient->abort();
    m_env.exitProcess(exitCode);
}

void frmmain::closeConnection()
{
    if (tcpClient->state() == QAbstractSocket::UnconnectedState)
        return;
    tcpClient->abort();
    logMessage(QStringLiteral("Connection closed"));
}

void frmmain::resetAll()
{
    tmrTimeout->stop();
    closeConnection();
    lbletl->hide();
    lblTime->hide();
    tmrTime->stop();
    status(QStringLiteral("Disconnected"));
    cmdSend->setEnabled(true);
    ProgBar->setValue(0);
    cmdExitN->setText(QStringLiteral("Exit"));
}

void frmmain::status(const QString& update)
{
    lblStatus->setText(update);
}

void frmmain::logMessage(const QString& text)
{
    if (m_log && m_log->isVisible())
        m_log->appendLogLine(text);
}

void frmmain::doDebug(const QString& msg, bool isReceived)
{
    if (m_debug && m_debug->isVisible())
        m_debug->appendTrace(msg, isReceived);
}

void frmmain::doDebugBytes(const QByteArray& bytes, bool isReceived)
{
    if (m_debug && m_debug->isVisible())
        m_debug->appendTrace(QString::fromLatin1(bytes), isReceived);
}

frmLog* frmmain::logWindow()
{
    if (!m_log)
        m_log = new frmLog(m_env.now, this);
    return m_log;
}

frmDebug* frmmain::debugWindow()
{
    if (!m_debug)
        m_debug = new frmDebug(this);
    return m_debug;
}

} // namespace tk
