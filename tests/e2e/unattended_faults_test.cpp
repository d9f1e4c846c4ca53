// Every unattended network run ends: the real program against a simulated
// terminal that closes, resets, falls silent, stops reading or floods the
// connection at each awkward moment of a session. Each run must end within
// the sum of the limits of its steps, with an exit code of the table, print
// nothing on standard output or error, and report success only for a file
// the terminal received whole.
//
// The default matrix picks the combinations that reach different paths;
// TK650_FAULT_MATRIX=full runs every combination (bench/fault_soak.sh).
#include "faultmatrix.h"

#include <gtest/gtest.h>

using namespace tk;
using namespace tk::test;

TEST(UnattendedFaults, EveryRunEndsInItsBoundAndNeverClaimsAFileThatDidNotArrive)
{
    const std::vector<FaultCase> cases = defaultFaultCases();
    const std::vector<FaultOutcome> outcomes = runFaultCases(cases, "127.73.0.1");
    ASSERT_EQ(outcomes.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const FaultCase& c = cases[i];
        const FaultOutcome& o = outcomes[i];
        SCOPED_TRACE(c.name().toStdString());
        EXPECT_TRUE(o.ended) << "still running after its bound of " << c.boundMs() << " ms";
        if (!o.ended)
            continue;
        EXPECT_TRUE(isTableExitCode(o.exitCode)) << o.exitCode;
        // An older daemon tells nothing after the file: its success means
        // every byte was handed to the system, so a terminal that drops the
        // connection after that cannot be told from one that took it all.
        if (isSuccessExitCode(o.exitCode) && c.kind != DaemonKind::Older) {
            EXPECT_TRUE(o.fileArrivedWhole) << "success " << o.exitCode << " for a file cut short";
        }
        EXPECT_TRUE(o.output.isEmpty()) << o.output.constData();
        EXPECT_TRUE(o.errors.isEmpty()) << o.errors.constData();
    }
}

// The faults seen in the field, each with the outcome it must have.
TEST(UnattendedFaults, FaultsSeenEndWithTheirOutcome)
{
    struct Seen {
        FaultCase c;
        int exitCode; // as a shell sees it
        int repeat = 1;
    };
    using sim::Strike;
    auto at = [](DaemonKind kind, const char* moment, bool before, Strike strike,
                 QStringList options = {}) {
        return FaultCase{kind, QByteArray(moment), before, strike, options};
    };
    const std::vector<Seen> seen = {
        // "OK" to "DLD:" and the connection closed at once: the file never went out.
        {at(DaemonKind::Current, "DLD:", false, Strike::Close), 250},
        // A daemon of today that closes after every answer, "DLD:" included.
        {at(DaemonKind::CurrentOneCommand, "DLD:", false, Strike::Close), 250},
        // No install result ever: the install limit ends the run.
        {at(DaemonKind::Current, "FILE", true, Strike::Silence), 252},
        // A flood instead of the version, or instead of the install result.
        {at(DaemonKind::Current, "VER:", true, Strike::Flood), 252},
        {at(DaemonKind::Current, "FILE", true, Strike::Flood), 252},
        // "DNLD_DONE" and the close in one go: the reply wins, every time.
        {at(DaemonKind::Current, "FILE", false, Strike::Close), 0, 12},
        {at(DaemonKind::Current, "FILE", false, Strike::Close, {QStringLiteral("-reboot")}), 2, 4},
        // Closed in order while installing: the terminal reboots.
        {at(DaemonKind::Current, "FILE", true, Strike::Close), 2},
        // Dropped half-way with bytes unread: a reset, not a reboot.
        {at(DaemonKind::Current, "FILE/2", true, Strike::Close), 250, 6},
    };
    std::vector<FaultCase> cases;
    for (const Seen& s : seen)
        for (int i = 0; i < s.repeat; ++i)
            cases.push_back(s.c);
    const std::vector<FaultOutcome> outcomes = runFaultCases(cases, "127.74.0.1");
    size_t i = 0;
    for (const Seen& s : seen) {
        for (int r = 0; r < s.repeat; ++r, ++i) {
            SCOPED_TRACE(s.c.name().toStdString());
            EXPECT_TRUE(outcomes[i].ended);
            EXPECT_EQ(outcomes[i].exitCode, s.exitCode) << outcomes[i].errors.constData();
        }
    }
}
