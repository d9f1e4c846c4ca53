// The windowless download engine ends every session the way an unattended
// run of the program ends in the same case: the same faults at the same
// moments, the same exit code, within the same bound, and never a success
// for a file the terminal did not receive whole.
#include "faultmatrix.h"

#include <gtest/gtest.h>

using namespace tk;
using namespace tk::test;

namespace {

// Where the terminal ends the connection just as the next step begins, the
// order of the two on the wire decides, for the program as for the engine:
// a daemon that claims to keep the connection but closes it after every
// answer, a close or reset right after an answer (the next command may go
// into the closing connection or over a new one), and an older daemon cut
// off mid-file (it reports nothing after the file, so the outcome depends on
// whether the system had taken every byte first). There both must only end
// in their bound, with a code of the table, and claim no file cut short.
bool racesTheNextStep(const FaultCase& c)
{
    const bool ends = c.strike == sim::Strike::Close || c.strike == sim::Strike::Reset;
    return c.kind == DaemonKind::CurrentOneCommand ||
           (ends && (!c.beforeAnswer || c.kind == DaemonKind::Older));
}

} // namespace

TEST(EngineSessions, EndEveryFaultCaseWithTheCodeOfAnUnattendedRun)
{
    const std::vector<FaultCase> cases = defaultFaultCases();
    const std::vector<FaultOutcome> engine = runEngineCases(cases, "127.76.0.1");
    const std::vector<FaultOutcome> program = runFaultCases(cases, "127.77.0.1");
    ASSERT_EQ(engine.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name().toStdString());
        EXPECT_TRUE(engine[i].ended) << "still running after " << cases[i].boundMs() << " ms";
        EXPECT_TRUE(isTableExitCode(engine[i].exitCode)) << engine[i].exitCode;
        if (!racesTheNextStep(cases[i])) {
            EXPECT_EQ(engine[i].exitCode, program[i].exitCode) << engine[i].output.constData();
        }
        if (isSuccessExitCode(engine[i].exitCode) && cases[i].kind != DaemonKind::Older) {
            EXPECT_TRUE(engine[i].fileArrivedWhole);
        }
    }
}
