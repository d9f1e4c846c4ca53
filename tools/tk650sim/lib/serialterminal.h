#pragma once
// The terminal's end of a serial line: it reads KSYN frames (STX, "KSYN", FS,
// file name, FS, type, FS, restart, ETX, check byte), checks each one, and
// answers ACK, NAK or nothing as configured. It opens a given device, or
// creates a pseudo-terminal pair itself whose other end the downloader opens.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <memory>

class QSerialPort;

namespace tk::sim {

struct KsynFrame {
    QByteArray bytes;    // the whole frame as received, check byte included
    QByteArray fileName; // set when the frame could be read
    QByteArray type;     // "F" or "P"
    QByteArray restart;  // "", "1" (application) or "2" (device)
    bool valid = false;
    QString error; // why the frame is not valid
    // The line as the other end had set it up when the frame arrived, in
    // the form "19200,n,8,1"; empty when it cannot be seen (an opened device).
    QString line;
};

// XOR of every byte after STX up to and including ETX.
char ksynCheckByte(const QByteArray& frameWithoutCheck);

// Checks one complete frame (from STX to the check byte).
KsynFrame checkKsynFrame(const QByteArray& frame);

// Splits a received byte stream into frames. Bytes before STX are dropped
// (and counted as noise); a frame ends with the byte after ETX. A frame cut
// short by a new STX is returned as invalid.
class KsynReader {
public:
    QList<KsynFrame> feed(const QByteArray& bytes);
    qint64 noiseBytes() const { return m_noise; }

private:
    QByteArray m_buffer;
    qint64 m_noise = 0;
};

enum class KsynAnswer { Ack, Nak, Silent };

struct SerialConfig {
    KsynAnswer validAnswer = KsynAnswer::Ack;
    KsynAnswer invalidAnswer = KsynAnswer::Nak;
    QByteArray answerSuffix; // bytes sent after the ACK or NAK
    int answerDelayMs = 0;
};

class SerialTerminal : public QObject {
    Q_OBJECT
public:
    explicit SerialTerminal(QObject* parent = nullptr);
    ~SerialTerminal() override;

    SerialConfig config;

    // Opens an existing device (for example one end of a socat pair).
    bool openDevice(const QString& path, qint32 baud = 115200);
    // Creates a pseudo-terminal pair; devicePath() is the end to give the
    // downloader.
    bool createPseudoTerminal();
    QString devicePath() const { return m_path; }
    // The current line settings of a pseudo-terminal ("<baud>,<parity>,<data
    // bits>,<stop bits>", e.g. "115200,n,8,1"), as the downloader's end set
    // them; empty for an opened device. Baud rate and stop bits are as set;
    // a pseudo-terminal always carries 8 data bits without parity.
    QString lineSettings() const;
    QString errorString() const { return m_error; }
    void close();

    const QList<KsynFrame>& frames() const { return m_frames; }
    QByteArray receivedBytes() const { return m_received; }
    qint64 noiseBytes() const { return m_reader.noiseBytes(); }

signals:
    void frameReceived(const tk::sim::KsynFrame& frame);
    void logLine(const QString& line);

private:
    void onBytes(const QByteArray& bytes);
    void answer(const KsynFrame& frame);
    void writeBytes(const QByteArray& bytes);
    void readMaster();

    QString m_path;
    QString m_error;
    std::unique_ptr<QSerialPort> m_port;
    int m_master = -1;
    int m_heldSlave = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    KsynReader m_reader;
    QList<KsynFrame> m_frames;
    QByteArray m_received;
};

} // namespace tk::sim
