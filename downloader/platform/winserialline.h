#pragma once
// Windows only: the serial line as a QIODevice on the Win32 COM port calls,
// with the members of Qt's serial port that the program uses (readyRead,
// bytesAvailable, readAll, write, errorString, isOpen, close).
//
// Arrivals are noticed by looking at the driver every 10 ms while the port
// is open (the KSYN wait lasts seconds), and each look allows at most
// kReadLimit bytes to be read, so a line that never stops sending cannot
// keep the window thread in one read.
#ifdef _WIN32
#include "platform/win32serial.h"

#include <QIODevice>
#include <QString>
#include <QTimer>

namespace tk {

class WinSerialLine : public QIODevice {
public:
    static constexpr qint64 kReadLimit = 4096;
    static constexpr int kPollMs = 10;

    explicit WinSerialLine(QObject* parent = nullptr);
    ~WinSerialLine() override;

    // Opens a device such as "COM3" for reading and writing.
    win32::SerialOpenResult openDevice(const QString& name);
    // baud,n,8,1 without flow control on the open port.
    bool setLine(quint32 baud);
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    void poll();
    void noteSystemError();

    win32::SerialHandle m_port;
    QTimer m_poll;
    qint64 m_readBudget = kReadLimit;
    qint64 m_notified = 0; // bytes waiting when readyRead was last emitted
};

} // namespace tk
#endif
