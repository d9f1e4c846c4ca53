#include "ui/frmksyn.h"

#include "core/exitcodes.h"
#include "core/ksyn.h"
#include "core/protocol.h"
#include "platform/comports.h"
#include "platform/dialogs.h"
#include "platform/openports.h"
#include "platform/wait.h"
#include "ui/frmmain.h"
#include "ui/modalwindow.h"
#include "ui/named.h"
#include "ui/serialdownload.h"

#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

namespace tk {

frmKSYN::frmKSYN(frmmain& main) : QWidget(&main, Qt::Dialog), m_main(main)
{
    setObjectName(QStringLiteral("frmKSYN"));
    setWindowTitle(QStringLiteral("Sending KSYN Command..."));
    auto* layout = new QVBoxLayout(this);
    auto* sentRow = new QHBoxLayout;
    lblSent = named(new QLabel(QStringLiteral("KSYN command sent on COM Port ")), "lblSent");
    lblPort = named(new QLabel, "lblPort");
    sentRow->addWidget(lblSent);
    sentRow->addWidget(lblPort);
    sentRow->addStretch();
    layout->addLayout(sentRow);
    lblWait = named(new QLabel(QStringLiteral("Waiting for response")), "lblWait");
    layout->addWidget(lblWait);
    pbTimeout = named(new QProgressBar, "pbTimeout");
    pbTimeout->setRange(0, 100);
    pbTimeout->setValue(0);
    layout->addWidget(pbTimeout);
    cmdCancel = named(new QPushButton(QStringLiteral("Cancel")), "cmdCancel");
    layout->addWidget(cmdCancel, 0, Qt::AlignRight);
    makeFixedSizeWindow(this, pbTimeout);

    serialPort = named(new SerialLine(this), "serialPort");
    tmrTimeout = named(new QTimer(this), "tmrTimeout");
    tmrTimeout->setInterval(kKsynTickMs);
    tmrUnload = named(new QTimer(this), "tmrUnload");
    tmrUnload->setInterval(200);

    connect(serialPort, &SerialLine::readyRead, this, &frmKSYN::serialPort_readyRead);
    connect(tmrTimeout, &QTimer::timeout, this, &frmKSYN::tmrTimeout_Timer);
    connect(tmrUnload, &QTimer::timeout, this, &frmKSYN::tmrUnload_Timer);
    connect(cmdCancel, &QPushButton::clicked, this, &frmKSYN::cmdCancel_Click);
}

bool frmKSYN::setup(const QString& port, const QString& baud, const QString& timeout)
{
    bool portOk = true;
    if (!port.isEmpty())
        port.trimmed().toInt(&portOk);
    bool timeoutOk = true;
    double seconds = 0;
    if (!timeout.isEmpty()) {
        seconds = std::nearbyint(timeout.trimmed().toDouble(&timeoutOk));
        timeoutOk = timeoutOk && seconds >= std::numeric_limits<std::int16_t>::min() &&
                    seconds <= std::numeric_limits<std::int16_t>::max();
    }
    if (!portOk || !timeoutOk)
        return false;
    load();
    if (!port.isEmpty())
        setPort = port;
    if (!baud.isEmpty())
        setBaud = baud;
    if (!timeout.isEmpty())
        setTimeout = static_cast<std::int16_t>(seconds);
    return true;
}

void frmKSYN::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    waiting = true;
    m_shown = m_main.isVisible();
    if (!m_shown)
        hide();
}

void frmKSYN::showModal()
{
    load();
    setWindowModality(Qt::ApplicationModal);
    show();
    doSend();
    if (isVisible()) // not already ended by a port failure without a display
        showModalAndWait(this);
}

void frmKSYN::doSend()
{
    load();
    if (!m_main.isVisible())
        hide();
    tickCount = 0;
    pbTimeout->setValue(0); // nothing of this wait is used up yet
    lblSent->hide();
    lblWait->hide();
    if (setTimeout == 0)
        setTimeout = kKsynDefaultTimeout;

    const std::string name =
        proto::GetFileName(QFile::encodeName(m_main.txtfile->text()).toStdString());
    const std::string frame =
        buildKsynFrame(name, m_main.optSerialPartial->isChecked(),
                       ksynRestartFrom(m_main.checkSerialRestartApp->isChecked(),
                                       m_main.checkSerialRestartDevice->isChecked()));

    bool numeric = true;
    const int portNumber = setPort.isEmpty() ? m_main.port : setPort.trimmed().toInt(&numeric);
    lblPort->setText(setPort.isEmpty() ? QString::number(m_main.port) : setPort);
    const QString baud = setBaud.isEmpty() ? m_main.baud : setBaud;

    if (serialPort->isOpen())
        serialPort->close();
    PortOpenResult opened =
        numeric ? openComPort(*serialPort, portNumber, baud)
                : PortOpenResult{PortFailure::Other, QStringLiteral("Invalid port number")};
    if (opened.ok()) {
        holdOpenPort(serialPort); // closed on every way out of the process
        const std::string packet = ksynPacket(frame);
        const auto size = static_cast<qint64>(packet.size());
        if (serialPort->write(packet.data(), size) != size) {
            opened = {PortFailure::Other, serialPort->errorString()};
            serialPort->close();
        }
    }
    if (!opened.ok()) {
        // Nothing was sent and no timer runs. Shown, the window stays open
        // until Cancel (without a display nobody could press it, so it is
        // pressed here); hidden, the process ends here.
        reportPortFailure(m_main, opened, portNumber, m_shown);
        if (!m_shown || !m_main.env().hasDisplay)
            cmdCancel_Click();
        return;
    }
    lblSent->show();
    lblWait->show();
    tmrTimeout->start();
}

void frmKSYN::serialPort_readyRead()
{
    if (serialPort->bytesAvailable() < 1)
        return;
    const QByteArray reply = serialPort->readAll();
    if (isKsynAck(reply.toStdString())) {
        tmrTimeout->stop();
        tmrUnload->start();
    }
}

void frmKSYN::tmrTimeout_Timer()
{
    ++tickCount;
    const KsynTick tick = ksynTick(tickCount, setTimeout);
    if (!tick.timedOut) {
        if (isVisible())
            pbTimeout->setValue(tick.percent);
        return;
    }
    tmrTimeout->stop();
    pbTimeout->setValue(100);
    if (isVisible()) {
        const MsgAnswer answer = m_main.env().dialogs->message(
            MsgIcon::None, QStringLiteral("%1: Serial Download").arg(QLatin1String(kProgramTitle)),
            QStringLiteral("Failed to receive a response from the device.\rAttempt to send the "
                           "file anyway?"),
            MsgButtons::YesNo);
        if (answer == MsgAnswer::Yes)
            closeWindow();
        else
            cmdCancel_Click();
        return;
    }
    m_main.doExitProcess(exitcode::NoConnect);
    m_main.cancelled = true;
    closeWindow();
}

void frmKSYN::tmrUnload_Timer()
{
    tmrUnload->stop();
    if (!isVisible() && !m_main.doSend)
        m_main.doExitProcess(exitcode::Success); // the command line asked for KSYN alone
    closeWindow();
}

void frmKSYN::cmdCancel_Click()
{
    m_main.cancelled = true;
    closeWindow();
}

void frmKSYN::closeWindow()
{
    unload();
    hide();
}

void frmKSYN::closeEvent(QCloseEvent* event)
{
    unload();
    event->accept();
}

void frmKSYN::unload()
{
    if (!m_loaded)
        return;
    m_loaded = false;
    tmrTimeout->stop();
    tmrUnload->stop();
    serialPort->close();
    for (int i = 0; i < 3; ++i)
        pumpPendingEvents();
    waiting = false;
}

} // namespace tk
