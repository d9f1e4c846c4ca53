#include "faultmatrix.h"

#include "platform/wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace tk::test {

namespace {

constexpr qint64 kFileSize = 20000; // five chunks
constexpr int kChunks = 5;

QString kindName(DaemonKind k)
{
    switch (k) {
    case DaemonKind::Current: return QStringLiteral("01.02.01");
    case DaemonKind::CurrentOneCommand: return QStringLiteral("01.02.01 closing after answers");
    case DaemonKind::Clock: return QStringLiteral("01.02.00");
    case DaemonKind::Older: return QStringLiteral("older");
    }
    return {};
}

QString strikeName(sim::Strike s)
{
    switch (s) {
    case sim::Strike::None: return QStringLiteral("no fault");
    case sim::Strike::Close: return QStringLiteral("close");
    case sim::Strike::Reset: return QStringLiteral("reset");
    case sim::Strike::Silence: return QStringLiteral("silence");
    case sim::Strike::Stall: return QStringLiteral("stall");
    case sim::Strike::Flood: return QStringLiteral("flood");
    }
    return {};
}

// One run: its terminal, the program and the clock.
struct Run {
    const FaultCase* c = nullptr;
    sim::Daemon daemon;
    QProcess process;
    QTemporaryDir home;
    QElapsedTimer clock;
    qint64 endedMs = -1;
    bool done = false;
    FaultOutcome outcome;
};

} // namespace

QString FaultCase::name() const
{
    QString n = kindName(kind) + QStringLiteral(": ") + strikeName(strike);
    if (strike != sim::Strike::None)
        n += (beforeAnswer ? QStringLiteral(" before ") : QStringLiteral(" after ")) +
             QString::fromLatin1(moment);
    if (!options.isEmpty())
        n += QLatin1Char(' ') + options.join(QLatin1Char(' '));
    return n;
}

int FaultCase::boundMs() const
{
    const int connect = 5000 + 200; // the connect limit, then a 200 ms pause
    int ms = 1500;                  // start-up and the 200 ms start timer
    ms += connect + 2500;           // "VER:"
    if (options.contains(QStringLiteral("-kill")))
        ms += connect + 10000 + 4000; // "ASP:" and the pause for the applications
    ms += connect + 5000;             // "DLD:"
    ms += 200 + 4000 * kChunks;       // each chunk has 4 s to go out
    ms += kFaultRunInstallLimitS * 1000 + 500;
    if (options.contains(QStringLiteral("-reboot")) || options.contains(QStringLiteral("-run")))
        ms += connect + 10000; // "RST:" or "ART:"
    return ms + 3000;          // a loaded machine starts programs slowly
}

void FaultCase::configure(sim::DaemonConfig& c) const
{
    switch (kind) {
    case DaemonKind::Current: break;
    case DaemonKind::CurrentOneCommand: c.oneCommandPerConnection = true; break;
    case DaemonKind::Clock:
        c.version = "01.02.00";
        c.oneCommandPerConnection = true;
        break;
    case DaemonKind::Older: c = sim::DaemonConfig::olderDaemon(); break;
    }
    c.keepContent = true;
    c.faults.strike = strike;
    c.faults.strikeAt = moment;
    c.faults.strikeBeforeAnswer = beforeAnswer;
}

std::vector<FaultCase> allFaultCases()
{
    struct Moment {
        const char* at;
        bool before;
        QStringList options;
    };
    const std::vector<Moment> moments = {
        {"VER:", true, {}},
        {"VER:", false, {}},
        {"ASP:", false, {QStringLiteral("-kill")}},
        {"DLD:", true, {}},
        {"DLD:", false, {}},
        {"FILE/2", true, {}},
        {"FILE", true, {}},
        {"FILE", false, {}},
        {"RST:", true, {QStringLiteral("-reboot")}},
        {"ART:", true, {QStringLiteral("-run")}},
    };
    const sim::Strike strikes[] = {sim::Strike::Close, sim::Strike::Reset, sim::Strike::Silence,
                                   sim::Strike::Stall, sim::Strike::Flood};
    const DaemonKind kinds[] = {DaemonKind::Current, DaemonKind::CurrentOneCommand,
                                DaemonKind::Clock, DaemonKind::Older};
    std::vector<FaultCase> out;
    for (const DaemonKind kind : kinds) {
        // Without a fault, with every option.
        out.push_back({kind,
                       {},
                       false,
                       sim::Strike::None,
                       {QStringLiteral("-kill"), QStringLiteral("-reboot")}});
        out.push_back({kind, {}, false, sim::Strike::None, {QStringLiteral("-run")}});
        for (const Moment& m : moments)
            for (const sim::Strike s : strikes)
                out.push_back({kind, QByteArray(m.at), m.before, s, m.options});
    }
    return out;
}

namespace {

QString writeCaseFile(const QTemporaryDir& files)
{
    const QString file = QDir(files.path()).filePath(QStringLiteral("app.tgz"));
    QFile f(file);
    if (f.open(QIODevice::WriteOnly)) {
        QByteArray bytes(kFileSize, '\0');
        for (qint64 i = 0; i < kFileSize; ++i)
            bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
        f.write(bytes);
    }
    return file;
}

bool arrivedWhole(const sim::Daemon& daemon)
{
    for (const sim::ReceivedFile& f : daemon.files())
        if (f.complete && f.content.size() == kFileSize)
            return true;
    return false;
}

} // namespace

std::vector<FaultCase> defaultFaultCases()
{
    const bool full = qEnvironmentVariable("TK650_FAULT_MATRIX") == QLatin1String("full");
    std::vector<FaultCase> out;
    for (const FaultCase& c : allFaultCases()) {
        // Every fault at every moment against today's daemon; against the
        // older kinds the runs without a fault and the faults that end a
        // connection or a conversation (stalls and floods take the same paths
        // there).
        const bool today = c.kind == DaemonKind::Current;
        const bool common = c.strike == sim::Strike::None || c.strike == sim::Strike::Close ||
                            c.strike == sim::Strike::Silence || c.strike == sim::Strike::Reset;
        if (full || today || common)
            out.push_back(c);
    }
    return out;
}

std::vector<FaultOutcome> runFaultCases(const std::vector<FaultCase>& cases,
                                        const char* firstAddress, int parallel)
{
    QTemporaryDir files;
    const QString file = writeCaseFile(files);
    const QString program = qEnvironmentVariable("TK_BIN_DIR") + QStringLiteral("/Tk650Downloader");
    const quint32 first = QHostAddress(QString::fromLatin1(firstAddress)).toIPv4Address();

    std::vector<std::unique_ptr<Run>> runs;
    for (const FaultCase& c : cases) {
        auto r = std::make_unique<Run>();
        r->c = &c;
        c.configure(r->daemon.config);
        runs.push_back(std::move(r));
    }

    auto start = [&](size_t i) {
        Run& r = *runs[i];
        const QHostAddress address(first + static_cast<quint32>(i));
        if (!r.daemon.listen(address, 5142)) {
            r.done = true;
            r.outcome.errors = "cannot listen: " + r.daemon.errorString().toUtf8();
            return false;
        }
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), r.home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TK650_INSTALL_TIMEOUT"),
                   QString::number(kFaultRunInstallLimitS));
        r.process.setProcessEnvironment(env);
        r.process.setProgram(program);
        r.process.setArguments(QStringList{QStringLiteral("-n"), file, QStringLiteral("-ip"),
                                           address.toString(), QStringLiteral("-silent")} +
                               r.c->options);
        QObject::connect(&r.process, &QProcess::finished, &r.process,
                         [&r] { r.endedMs = r.clock.elapsed(); });
        QObject::connect(
            &r.process, &QProcess::errorOccurred, &r.process, [&r](QProcess::ProcessError e) {
                if (e == QProcess::FailedToStart)
                    r.outcome.errors = "failed to start: " + r.process.errorString().toUtf8();
            });
        r.clock.start();
        r.process.start();
        return true;
    };
    auto finish = [&](Run& r) {
        FaultOutcome& o = r.outcome;
        r.done = true;
        o.ended = r.endedMs >= 0;
        o.ms = o.ended ? r.endedMs : r.clock.elapsed();
        if (!o.ended) {
            if (o.errors.isEmpty())
                o.errors = "still running at its bound";
            r.process.kill();
            r.process.waitForFinished(5000);
            return;
        }
        o.exitCode = r.process.exitStatus() == QProcess::CrashExit ? -1000 : r.process.exitCode();
        o.output = r.process.readAllStandardOutput();
        o.errors = r.process.readAllStandardError();
        // Bytes the program handed to the system before it ended may still
        // be on their way to the terminal.
        if (isSuccessExitCode(o.exitCode))
            o.fileArrivedWhole = pumpEventsUntil([&r] { return arrivedWhole(r.daemon); }, 3000);
        r.daemon.close();
    };

    size_t next = 0;
    int running = 0;
    for (;;) {
        while (running < parallel && next < runs.size()) {
            if (start(next++))
                ++running;
        }
        if (running == 0)
            break;
        pumpEventsUntil(
            [&] {
                for (const auto& r : runs)
                    if (!r->done && r->clock.isValid() &&
                        (r->endedMs >= 0 || !r->outcome.errors.isEmpty() ||
                         r->clock.elapsed() > r->c->boundMs()))
                        return true;
                return false;
            },
            1000);
        for (auto& r : runs) {
            if (!r->done && r->clock.isValid() &&
                (r->endedMs >= 0 || !r->outcome.errors.isEmpty() ||
                 r->clock.elapsed() > r->c->boundMs())) {
                finish(*r);
                --running;
            }
        }
    }

    std::vector<FaultOutcome> out;
    for (const auto& r : runs)
        out.push_back(r->outcome);
    return out;
}

bool isTableExitCode(int shellCode)
{
    return (shellCode >= 0 && shellCode <= 2) || (shellCode >= 249 && shellCode <= 255);
}

bool isSuccessExitCode(int shellCode)
{
    return shellCode >= 0 && shellCode <= 2;
}

} // namespace tk::test
