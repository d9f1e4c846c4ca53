#pragma once
// Fixtures for serial-download tests: a pseudo-terminal to stand for COM<n>
// (through the TK650_COM<n> override) and a fake "pdt.exe" beside the
// program that records how it was started.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tk::test {

// A pseudo-terminal whose device path is handed to the program as COM<port>
// for the lifetime of this object.
class PtyComPort {
public:
    explicit PtyComPort(int port);
    ~PtyComPort();
    PtyComPort(const PtyComPort&) = delete;
    PtyComPort& operator=(const PtyComPort&) = delete;

    QString devicePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

private:
    int m_port;
    int m_master = -1;
    QString m_slavePath;
};

// Points COM<port> at an arbitrary path while alive.
class ComPortOverride {
public:
    ComPortOverride(int port, const QString& path);
    ~ComPortOverride();

private:
    QByteArray m_name;
};

// A shell script named "pdt.exe" in folder. Each run writes its working
// folder and then one argument per line to "pdt-call.txt", and exits with
// the number in "pdt-exit" (0 without it). With "pdt-hang" present it starts
// a child (its pid in "pdt-child.pid") and waits for it forever.
class FakePdt {
public:
    explicit FakePdt(const QString& folder);

    QString path() const;
    void exitWith(int code) const;
    void hang() const;
    bool ran() const;
    QString workingFolder() const;
    QStringList arguments() const;
    qint64 childPid() const;

private:
    QString m_folder;
};

bool processAlive(qint64 pid);

} // namespace tk::test
