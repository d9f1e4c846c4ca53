// tk650push: one file to many terminals, for deployment jobs.
#include "discover.h"
#include "progress.h"
#include "pushargs.h"
#include "report.h"

#include "engine/fleetpush.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#else
#include "platform/termination.h"

#include <io.h>
#endif

using namespace tk;
using namespace tk::push;

namespace {

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO) == 1;
#else
    return _isatty(_fileno(stderr)) != 0;
#endif
}

// Each running session holds a socket and, while sending, the file: a few
// hundred jobs go past the usual soft limit of 1024 descriptors. Raises the
// limit as far as allowed and returns the jobs that fit under it.
int jobsWithinDescriptorLimit(int jobs)
{
#ifdef Q_OS_UNIX
    constexpr rlim_t kSpare = 64; // the program's own descriptors
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY)
        return jobs;
    const rlim_t want = rlim_t(jobs) * 2 + kSpare;
    if (rl.rlim_cur < want) {
        rl.rlim_cur = rl.rlim_max == RLIM_INFINITY ? want : std::min(want, rl.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &rl) != 0 || getrlimit(RLIMIT_NOFILE, &rl) != 0)
            return 1;
    }
    if (rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur >= want)
        return jobs;
    return int(std::max<rlim_t>(1, (rl.rlim_cur - std::min(rl.rlim_cur, kSpare)) / 2));
#else
    return jobs;
#endif
}

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}
#endif

void toStderr(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// One run: discovery (when asked), the pushes, the report.
class Run : public QObject {
public:
    explicit Run(const PushArgs& args)
        : m_args(args),
          m_printer(toStderr, stderrIsTerminal() && qEnvironmentVariable("TERM") != "dumb")
    {
        for (const QString& t : args.terminals)
            m_terminals.add(t);
    }

    void start()
    {
        if (m_args.discoverSeconds == 0) {
            startPush();
            return;
        }
        m_discovery = std::make_unique<Discovery>(kMaxTerminals);
        const quint16 port =
            m_args.discoverPort != 0 ? m_args.discoverPort : quint16(m_args.port + 1);
        const QHostAddress address = m_args.discoverAddress.isNull()
                                         ? QHostAddress(QHostAddress::AnyIPv4)
                                         : m_args.discoverAddress;
        if (!m_discovery->start(address, port, m_args.discoverSeconds)) {
            m_printer.note(m_discovery->errorString());
            end(kExitCannotRun);
            return;
        }
        m_printer.note(QStringLiteral("listening for broadcasts on %1:%2 for %3 s")
                           .arg(address.toString())
                           .arg(port)
                           .arg(m_args.discoverSeconds));
        connect(m_discovery.get(), &Discovery::finished, this, [this] {
            if (!m_discovery->limitNote().isEmpty())
                m_printer.note(m_discovery->limitNote());
            int added = 0;
            for (const QString& a : m_discovery->addresses())
                if (m_terminals.size() < kMaxTerminals && m_terminals.add(a))
                    ++added;
            m_printer.note(
                QStringLiteral("%1 found by their broadcasts").arg(terminalCount(added)));
            if (!m_args.inventory.isEmpty())
                writeInventoryAndEnd();
            else
                startPush();
        });
    }

    void stop()
    {
        if (m_stopping)
            return;
        m_stopping = true;
        m_printer.note(QStringLiteral("stopping: the pushes still running are cancelled"));
        if (m_discovery && !m_fleet) {
            m_discovery->stop(); // startPush() then ends at once; an inventory is still written
            return;
        }
        if (m_fleet) {
            m_fleet->cancel();
            // The sessions end at once when cancelled; should one not say
            // so, the report is written all the same.
            QTimer::singleShot(5000, this, [this] { finishPush(); });
        }
    }

    int exitStatus() const { return m_status; }

private:
    // Every terminal heard, in the order first heard; nothing is sent.
    void writeInventoryAndEnd()
    {
        std::vector<InventoryEntry> entries;
        for (const QString& a : m_discovery->addresses())
            entries.push_back({a, QString(), m_discovery->records().value(a)});
        if (auto error = writeInventory(m_args.inventory, entries, m_args.inventoryFormat)) {
            m_printer.note(*error);
            end(kExitCannotRun);
            return;
        }
        m_printer.note(QStringLiteral("%1 written to %2")
                           .arg(terminalCount(int(entries.size())), m_args.inventory));
        end(0);
    }

    void startPush()
    {
        const QStringList addresses = m_terminals.list();
        m_results.assign(size_t(addresses.size()), std::nullopt);
        m_printer.setTerminals(addresses);
        if (m_stopping) {
            finishPush();
            return;
        }
        m_fleet =
            std::make_unique<engine::FleetPush>(addresses, pushOptionsFor(m_args), m_args.jobs);
        engine::FleetPolicy policy = fleetPolicyFor(m_args);
        if (m_discovery && !policy.package.isEmpty())
            policy.records = m_discovery->records(); // read again with "WHO:" only when not heard
        m_fleet->setPolicy(policy);
        connect(m_fleet.get(), &engine::FleetPush::retryScheduled, this,
                [this](int, const engine::PushResult& result, int waitMs) {
                    m_printer.note(QStringLiteral("%1: %2, trying again in %3 s")
                                       .arg(result.address, engine::outcomeText(result.outcome))
                                       .arg(waitMs / 1000.0, 0, 'f', 1));
                });
        connect(m_fleet.get(), &engine::FleetPush::stageChanged, &m_printer,
                &ProgressPrinter::stageChanged);
        connect(m_fleet.get(), &engine::FleetPush::progress, &m_printer,
                &ProgressPrinter::progress);
        connect(m_fleet.get(), &engine::FleetPush::terminalFinished, this,
                [this](int index, const engine::PushResult& result) {
                    if (index < 0 || size_t(index) >= m_results.size() || m_results[size_t(index)])
                        return;
                    m_results[size_t(index)] = result;
                    m_printer.finished(index, result);
                });
        connect(m_fleet.get(), &engine::FleetPush::allFinished, this, &Run::finishPush);
        m_fleet->start();
    }

    void finishPush()
    {
        if (m_finished)
            return;
        m_finished = true;
        ReportInput report;
        report.file = m_args.file;
        report.size = QFileInfo(m_args.file).size();
        report.port = m_args.port;
        report.cancelled = m_stopping;
        report.package = m_args.package;
        const QStringList addresses = m_terminals.list();
        int failed = 0;
        int delivered = 0;
        for (size_t i = 0; i < m_results.size(); ++i) {
            engine::PushResult r;
            if (m_results[i]) {
                r = *m_results[i];
            } else {
                r.outcome = engine::Outcome::Cancelled;
                r.exitCode = engine::exitCodeOf(r.outcome);
            }
            r.address = addresses.value(int(i));
            if (m_fleet) {
                report.attempts.push_back(m_fleet->attempts(int(i)));
                report.records.push_back(m_fleet->recordCheck(int(i)));
            }
            if (r.outcome == engine::Outcome::Delivered)
                ++delivered;
            else if (!r.ok())
                ++failed;
            report.results.push_back(r);
        }
        m_printer.summary(int(report.results.size()) - failed - delivered, failed, delivered);
        // A terminal whose install was not awaited did not succeed either.
        m_status = exitStatusFor(failed + delivered);
        if (!m_args.report.isEmpty()) {
            if (auto error = writeReport(m_args.report, reportJson(report))) {
                m_printer.note(*error);
                m_status = kExitCannotRun;
            }
        }
        end(m_status);
    }

    void end(int status)
    {
        m_status = status;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
            Qt::QueuedConnection);
    }

    PushArgs m_args;
    ProgressPrinter m_printer;
    AddressSet m_terminals;
    std::unique_ptr<Discovery> m_discovery;
    std::unique_ptr<engine::FleetPush> m_fleet;
    std::vector<std::optional<engine::PushResult>> m_results;
    bool m_stopping = false;
    bool m_finished = false;
    int m_status = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const auto parsed = parsePushArguments(app.arguments().mid(1));
    if (const auto* error = std::get_if<ArgError>(&parsed)) {
        toStderr(QStringLiteral("tk650push: %1\nTry 'tk650push --help' for more information.\n")
                     .arg(error->message)
                     .toUtf8());
        return error->status;
    }
    const PushArgs& args = std::get<PushArgs>(parsed);
    if (args.help || args.version) {
        const QByteArray text = (args.help ? pushHelpText() : pushVersionText()).toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return 0;
    }

    PushArgs fitted = std::get<PushArgs>(parsed);
    fitted.jobs = jobsWithinDescriptorLimit(args.jobs);
    if (fitted.jobs < args.jobs)
        toStderr(QStringLiteral("tk650push: the open-file limit allows %1 at once, "
                                "not %2\n")
                     .arg(terminalCount(fitted.jobs))
                     .arg(args.jobs)
                     .toUtf8());
    Run run(fitted);
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        toStderr("tk650push: cannot set up signal handling\n");
        return kExitCannotRun;
    }
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &run, [&] {
        char byte;
        [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &byte, 1);
        run.stop();
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // A second signal ends the program the ordinary way.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader of the report or the progress that went away is a failed
    // write, not the end of the run.
    std::signal(SIGPIPE, SIG_IGN);
#else
    // Ctrl+C, Ctrl+Break or a closed console window: the same polite stop.
    // Without it Ctrl+C still ends the program, only without a report.
    if (!onTerminationRequest([&run] { run.stop(); }))
        toStderr("tk650push: Ctrl+C will end the program without a report\n");
#endif

    QMetaObject::invokeMethod(
        &run, [&run] { run.start(); }, Qt::QueuedConnection);
    return app.exec();
}
