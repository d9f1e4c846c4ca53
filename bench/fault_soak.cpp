// Soak of unattended network runs against misbehaving terminals: the whole
// fault matrix, or N runs drawn at random from it. Prints the runs, their
// outcomes, runs that did not end (hangs), successes for a file that did not
// arrive whole, the longest run against its bound and the peak resident
// memory of any run.
//   fault_soak [full | RUNS [SEED]]     (TK_BIN_DIR names the program's folder)
#include "faultmatrix.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <cstdio>
#include <map>
#include <sys/resource.h>

using namespace tk::test;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const std::vector<FaultCase> all = allFaultCases();
    std::vector<FaultCase> cases;
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("full");
    if (what == QLatin1String("full")) {
        cases = all;
    } else {
        const int runs = what.toInt();
        QRandomGenerator random(argc > 2 ? QString::fromLocal8Bit(argv[2]).toUInt() : 650);
        for (int i = 0; i < runs; ++i)
            cases.push_back(all[random.bounded(static_cast<quint32>(all.size()))]);
    }

    // The runs go out in rounds of one address block each.
    std::vector<FaultOutcome> outcomes;
    const size_t block = 250;
    for (size_t first = 0; first < cases.size(); first += block) {
        const std::vector<FaultCase> round(cases.begin() + first,
                                           cases.begin() + std::min(first + block, cases.size()));
        const std::vector<FaultOutcome> got = runFaultCases(round, "127.75.0.1", 16);
        outcomes.insert(outcomes.end(), got.begin(), got.end());
    }

    int hangs = 0, wrongSuccesses = 0, offTable = 0;
    double worstShare = 0;
    QString worst;
    std::map<int, int> codes;
    for (size_t i = 0; i < cases.size(); ++i) {
        const FaultOutcome& o = outcomes[i];
        if (!o.ended) {
            ++hangs;
            std::printf("did not end in %lld ms: %s %s\n", static_cast<long long>(o.ms),
                        qPrintable(cases[i].name()), o.errors.constData());
            continue;
        }
        ++codes[o.exitCode];
        if (!isTableExitCode(o.exitCode))
            ++offTable;
        if (isSuccessExitCode(o.exitCode) && !o.fileArrivedWhole &&
            cases[i].kind != DaemonKind::Older) {
            ++wrongSuccesses;
            std::printf("success for a file cut short: %s\n", qPrintable(cases[i].name()));
        }
        const double share = double(o.ms) / cases[i].boundMs();
        if (share > worstShare) {
            worstShare = share;
            worst = QStringLiteral("%1 ms of its %2 ms bound (%3)")
                        .arg(o.ms)
                        .arg(cases[i].boundMs())
                        .arg(cases[i].name());
        }
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("runs: %zu\n", cases.size());
    std::printf("outcomes (exit code as a shell sees it: runs):");
    for (const auto& [code, n] : codes)
        std::printf(" %d: %d", code, n);
    std::printf("\nhangs: %d\nwrong successes: %d\ncodes outside the table: %d\n", hangs,
                wrongSuccesses, offTable);
    std::printf("longest run against its bound: %s\n", qPrintable(worst));
    std::printf("peak resident memory of a run: %ld KiB\n", usage.ru_maxrss);
    return hangs + wrongSuccesses + offTable == 0 ? 0 : 1;
}
