#pragma once
// Fixtures for serial-download tests: the simulated terminal on a
// pseudo-terminal standing for COM<n> (through the TK650_COM<n> override) and
// a fake "pdt.exe" beside the program that records how it was started.
#include "serialterminal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

namespace tk::test {

// Points COM<port> at an arbitrary path while alive.
class ComPortOverride {
public:
    ComPortOverride(int port, const QString& path);
    ~ComPortOverride();
    ComPortOverride(const ComPortOverride&) = delete;
    ComPortOverride& operator=(const ComPortOverride&) = delete;

private:
    QByteArray m_name;
};

// The simulator's serial terminal on a pseudo-terminal whose device path is
// handed to the program as COM<port> for the lifetime of this object. It
// answers KSYN frames as configured (ACK by default).
class PtyComPort {
public:
    explicit PtyComPort(int port);

    QString devicePath() const { return m_terminal.devicePath(); }
    sim::SerialTerminal& terminal() { return m_terminal; }

private:
    sim::SerialTerminal m_terminal;
    bool m_created;
    ComPortOverride m_override;
};

// A shell script named "pdt.exe" in folder. Each run writes its working
// folder and then one argument per line to "pdt-call.txt", writes what say()
// gave to its standard output and error, and exits with
// the number in "pdt-exit" (0 without it). With "pdt-hang" present it starts
// a child (its pid in "pdt-child.pid") and waits for it forever.
class FakePdt {
public:
    explicit FakePdt(const QString& folder);

    QString path() const;
    void exitWith(int code) const;
    void say(const QByteArray& out, const QByteArray& err = {}) const;
    void hang() const;
    bool ran() const;
    QString workingFolder() const;
    QStringList arguments() const;
    qint64 childPid() const;

private:
    QString m_folder;
};

bool processAlive(qint64 pid);

// Runs action once, from the event loop, as soon as condition holds, while
// the code under test waits (a modal window, the running tool). Stops when
// the returned timer is destroyed.
std::unique_ptr<QTimer> when(std::function<bool()> condition, std::function<void()> action);

} // namespace tk::test
