#pragma once
// Unattended runs of the real program against simulated terminals with a
// fault at a chosen moment, many at once, each on its own loopback address
// and bounded by the documented limits of its steps. Used by the fault
// matrix test and by the soak benchmark.
#include "daemon.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace tk::test {

enum class DaemonKind {
    Current,           // reports 01.02.01, one connection for the session
    CurrentOneCommand, // reports 01.02.01 but closes after every answer
    Clock,             // reports 01.02.00: one command per connection
    Older,             // no version, one command per connection, no install result
};

struct FaultCase {
    DaemonKind kind = DaemonKind::Current;
    QByteArray moment; // sim::DaemonFaults::strikeAt; empty with Strike::None
    bool beforeAnswer = false;
    sim::Strike strike = sim::Strike::None;
    QStringList options; // extra switches: -kill, -reboot, -run

    QString name() const;
    // The longest the run may take: the limits of every step it may go
    // through (each connect included), the install limit the runs are given,
    // and start-up.
    int boundMs() const;
    void configure(sim::DaemonConfig& c) const;
};

// Every combination: kinds x moments (with the options that reach them) x faults.
std::vector<FaultCase> allFaultCases();
// The combinations that reach different paths: every fault for today's
// daemon; for the other kinds no fault, close, reset and silence (stalls and
// floods take the same paths there). TK650_FAULT_MATRIX=full: all of them.
std::vector<FaultCase> defaultFaultCases();

struct FaultOutcome {
    bool ended = false;
    int exitCode = -1000; // as a shell sees it (0..255); -1000 when killed
    qint64 ms = 0;        // from start to end
    bool fileArrivedWhole = false;
    QByteArray output;
    QByteArray errors;
};

// The install limit the runs get (TK650_INSTALL_TIMEOUT), in seconds.
inline constexpr int kFaultRunInstallLimitS = 2;

// Runs the cases, up to `parallel` at once, the first on firstAddress and
// each next one on the next address; the outcomes in the cases' order.
std::vector<FaultOutcome> runFaultCases(const std::vector<FaultCase>& cases,
                                        const char* firstAddress, int parallel = 12);

bool isTableExitCode(int shellCode);
bool isSuccessExitCode(int shellCode);

} // namespace tk::test
