#include "serialterminal.h"

#include "wire.h"

#include <QSerialPort>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace tk::sim {

namespace {
constexpr char STX = '\x02';
constexpr char ETX = '\x03';
constexpr char FS = '\x1c';
constexpr char ACK = '\x06';
constexpr char NAK = '\x15';
} // namespace

char ksynCheckByte(const QByteArray& frameWithoutCheck)
{
    char lrc = 0;
    for (qsizetype i = 1; i < frameWithoutCheck.size(); ++i)
        lrc ^= frameWithoutCheck[i];
    return lrc;
}

KsynFrame checkKsynFrame(const QByteArray& frame)
{
    KsynFrame f;
    f.bytes = frame;
    if (frame.size() < 4 || frame.front() != STX || frame[frame.size() - 2] != ETX) {
        f.error = QStringLiteral("not framed by STX ... ETX and a check byte");
        return f;
    }
    const QList<QByteArray> fields = frame.mid(1, frame.size() - 3).split(FS);
    if (fields.size() != 4 || fields[0] != "KSYN") {
        f.error = QStringLiteral("not KSYN followed by three FS-separated fields");
        return f;
    }
    f.fileName = fields[1];
    f.type = fields[2];
    f.restart = fields[3];
    const char expected = ksynCheckByte(frame.chopped(1));
    if (expected != frame.back()) {
        f.error = QStringLiteral("check byte %1 instead of %2")
                      .arg(readable(frame.right(1)), readable(QByteArray(1, expected)));
        return f;
    }
    if (f.fileName.isEmpty()) {
        f.error = QStringLiteral("empty file name");
        return f;
    }
    if (f.type != "F" && f.type != "P") {
        f.error = QStringLiteral("download type is neither F nor P");
        return f;
    }
    if (!f.restart.isEmpty() && f.restart != "1" && f.restart != "2") {
        f.error = QStringLiteral("restart is neither empty, 1 nor 2");
        return f;
    }
    f.valid = true;
    return f;
}

QList<KsynFrame> KsynReader::feed(const QByteArray& bytes)
{
    QList<KsynFrame> out;
    m_buffer += bytes;
    for (;;) {
        const qsizetype start = m_buffer.indexOf(STX);
        if (start < 0) {
            m_noise += m_buffer.size();
            m_buffer.clear();
            break;
        }
        m_noise += start;
        m_buffer.remove(0, start);
        const qsizetype etx = m_buffer.indexOf(ETX, 1);
        const qsizetype nextStart = m_buffer.indexOf(STX, 1);
        if (nextStart >= 0 && (etx < 0 || nextStart < etx)) {
            KsynFrame cut;
            cut.bytes = m_buffer.left(nextStart);
            cut.error = QStringLiteral("cut short by a new STX");
            out.append(cut);
            m_buffer.remove(0, nextStart);
            continue;
        }
        if (etx < 0 || etx + 1 >= m_buffer.size())
            break; // the rest of the frame is still on its way
        out.append(checkKsynFrame(m_buffer.left(etx + 2)));
        m_buffer.remove(0, etx + 2);
    }
    return out;
}

SerialTerminal::SerialTerminal(QObject* parent) : QObject(parent) {}

SerialTerminal::~SerialTerminal()
{
    close();
}

bool SerialTerminal::openDevice(const QString& path, qint32 baud)
{
    close();
    m_port = std::make_unique<QSerialPort>(path);
    m_port->setBaudRate(baud);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_error = m_port->errorString();
        m_port.reset();
        return false;
    }
    m_path = path;
    connect(m_port.get(), &QSerialPort::readyRead, this, [this] { onBytes(m_port->readAll()); });
    return true;
}

bool SerialTerminal::createPseudoTerminal()
{
    close();
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = QString::fromLocal8Bit(strerror(errno));
        close();
        return false;
    }
    const char* name = ::ptsname(m_master);
    m_path = QString::fromLocal8Bit(name ? name : "");
    // Raw line: no echo, no translation of CR/LF, no flow-control bytes.
    termios tio{};
    if (::tcgetattr(m_master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_master, TCSANOW, &tio);
    }
    // Holding the other end open keeps the line up between the downloader's
    // opens; otherwise every read would fail while nobody has it open.
    m_heldSlave = ::open(name, O_RDWR | O_NOCTTY);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readMaster(); });
    return true;
}

QString SerialTerminal::lineSettings() const
{
    // On a pseudo-terminal the master reads the settings of the other end.
    termios tio{};
    if (m_master < 0 || ::tcgetattr(m_master, &tio) != 0)
        return {};
    static const struct {
        speed_t code;
        int rate;
    } rates[] = {{B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
                 {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
                 {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
                 {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
                 {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    const speed_t code = ::cfgetospeed(&tio);
    QString baud = QStringLiteral("?");
    for (const auto& r : rates)
        if (r.code == code)
            baud = QString::number(r.rate);
    const char parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 'o' : 'e') : 'n';
    int bits = 8;
    switch (tio.c_cflag & CSIZE) {
    case CS5: bits = 5; break;
    case CS6: bits = 6; break;
    case CS7: bits = 7; break;
    default: break;
    }
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baud)
        .arg(QLatin1Char(parity))
        .arg(bits)
        .arg((tio.c_cflag & CSTOPB) ? 2 : 1);
}

void SerialTerminal::readMaster()
{
    QByteArray bytes;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            bytes.append(buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The line is gone; stop listening rather than spin on the error.
            emit logLine(QStringLiteral("serial: ") + QString::fromLocal8Bit(strerror(errno)));
            m_notifier->setEnabled(false);
        }
        break;
    }
    if (!bytes.isEmpty())
        onBytes(bytes);
}

void SerialTerminal::close()
{
    m_notifier.reset();
    if (m_port)
        m_port->close();
    m_port.reset();
    if (m_heldSlave >= 0)
        ::close(m_heldSlave);
    if (m_master >= 0)
        ::close(m_master);
    m_heldSlave = m_master = -1;
}

void SerialTerminal::onBytes(const QByteArray& bytes)
{
    m_received += bytes;
    emit logLine(QStringLiteral("serial <- ") + readable(bytes));
    const QString line = lineSettings();
    for (KsynFrame f : m_reader.feed(bytes)) {
        f.line = line;
        m_frames.append(f);
        if (f.valid)
            emit logLine(
                QStringLiteral("serial KSYN file %1 type %2 restart %3")
                    .arg(readable(f.fileName), readable(f.type),
                         f.restart.isEmpty() ? QStringLiteral("none") : readable(f.restart)));
        else
            emit logLine(QStringLiteral("serial bad frame: ") + f.error);
        emit frameReceived(f);
        answer(f);
    }
}

void SerialTerminal::answer(const KsynFrame& frame)
{
    const KsynAnswer a = frame.valid ? config.validAnswer : config.invalidAnswer;
    if (a == KsynAnswer::Silent)
        return;
    const QByteArray bytes = QByteArray(1, a == KsynAnswer::Ack ? ACK : NAK) + config.answerSuffix;
    if (config.answerDelayMs <= 0) {
        writeBytes(bytes);
        return;
    }
    QTimer::singleShot(config.answerDelayMs, this, [this, bytes] { writeBytes(bytes); });
}

void SerialTerminal::writeBytes(const QByteArray& bytes)
{
    emit logLine(QStringLiteral("serial -> ") + readable(bytes));
    if (m_port) {
        m_port->write(bytes);
        m_port->flush();
    } else if (m_master >= 0) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
    }
}

} // namespace tk::sim
