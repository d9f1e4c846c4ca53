#include "pushargs.h"

#include "core/downloadoptions.h"
#include "core/protocol.h"
#include "core/version.h"
#include "engine/fleetpush.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdlib>
#include <functional>

namespace tk::push {

namespace {

// A whole number within [low, high], or nothing.
std::optional<int> numberIn(const QString& text, int low, int high)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int n = text.toInt();
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

bool parseEndpoint(const QString& text, QHostAddress& address, quint16& port)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString host = colon < 0 ? text : text.left(colon);
    if (colon >= 0) {
        const auto p = numberIn(text.mid(colon + 1), 1, 65535);
        if (!p)
            return false;
        port = quint16(*p);
    }
    if (host.isEmpty())
        return colon >= 0;
    const auto dotted = normalAddress(host);
    if (!dotted || !QHostAddress(*dotted).setAddress(*dotted) ||
        QHostAddress(*dotted).protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    address = QHostAddress(*dotted);
    return true;
}

struct Option {
    const char* longName;
    char shortName; // 0: none
    bool takesValue;
    std::function<std::optional<QString>(PushArgs&, const QString&)> apply;
};

// An option taking a whole number within [low, high].
std::function<std::optional<QString>(PushArgs&, const QString&)>
wholeNumber(const char* option, int low, int high, int PushArgs::*field)
{
    return [=](PushArgs& a, const QString& v) -> std::optional<QString> {
        const auto n = numberIn(v, low, high);
        if (!n)
            return QStringLiteral("%1: '%2' is not a number from %3 to %4")
                .arg(QLatin1String(option), v)
                .arg(low)
                .arg(high);
        a.*field = *n;
        return std::nullopt;
    };
}

// An option naming a file to write.
std::function<std::optional<QString>(PushArgs&, const QString&)> fileName(const char* option,
                                                                          QString PushArgs::*field)
{
    return [=](PushArgs& a, const QString& v) -> std::optional<QString> {
        if (v.isEmpty())
            return QStringLiteral("%1: the file name is empty").arg(QLatin1String(option));
        a.*field = v;
        return std::nullopt;
    };
}

std::optional<QString> setFlag(bool& flag)
{
    flag = true;
    return std::nullopt;
}

const std::vector<Option>& options()
{
    static const std::vector<Option> table = {
        {"help", 'h', false, [](PushArgs& a, const QString&) { return setFlag(a.help); }},
        {"version", 'V', false, [](PushArgs& a, const QString&) { return setFlag(a.version); }},
        {"full", 0, false, [](PushArgs& a, const QString&) { return setFlag(a.full); }},
        {"set-time", 0, false, [](PushArgs& a, const QString&) { return setFlag(a.setTime); }},
        {"kill-apps", 0, false, [](PushArgs& a, const QString&) { return setFlag(a.killApps); }},
        {"reboot", 0, false, [](PushArgs& a, const QString&) { return setFlag(a.reboot); }},
        {"run", 0, false, [](PushArgs& a, const QString&) { return setFlag(a.run); }},
        {"permissions", 0, true,
         [](PushArgs& a, const QString& v) -> std::optional<QString> {
             static const QRegularExpression digits(QStringLiteral("^[4-7][0-7][0-7]$"));
             if (!digits.match(v).hasMatch())
                 return QStringLiteral("--permissions: '%1' is not three permission digits "
                                       "(owner 4-7, group and others 0-7)")
                     .arg(v);
             a.permissions = v;
             return std::nullopt;
         }},
        {"owner", 0, true,
         [](PushArgs& a, const QString& v) -> std::optional<QString> {
             static const QRegularExpression owners(QStringLiteral("^(root|usr[1-8])$"));
             if (!owners.match(v).hasMatch())
                 return QStringLiteral("--owner: '%1' is not root or usr1 to usr8").arg(v);
             a.owner = v;
             return std::nullopt;
         }},
        {"port", 0, true,
         [](PushArgs& a, const QString& v) -> std::optional<QString> {
             const auto n = numberIn(v, 1, 65535);
             if (!n)
                 return QStringLiteral("--port: '%1' is not a port (1-65535)").arg(v);
             a.port = quint16(*n);
             return std::nullopt;
         }},
        {"jobs", 'j', true, wholeNumber("--jobs", 1, engine::FleetPush::kMaxJobs, &PushArgs::jobs)},
        {"report", 0, true, fileName("--report", &PushArgs::report)},
        {"discover", 0, true,
         [](PushArgs& a, const QString& v) -> std::optional<QString> {
             const auto n = numberIn(v, 1, kMaxDiscoverSeconds);
             if (!n)
                 return QStringLiteral("--discover: '%1' is not a number of seconds from 1 to %2")
                     .arg(v)
                     .arg(kMaxDiscoverSeconds);
             a.discoverSeconds = *n;
             return std::nullopt;
         }},
        {"discover-address", 0, true,
         [](PushArgs& a, const QString& v) -> std::optional<QString> {
             if (!parseEndpoint(v, a.discoverAddress, a.discoverPort))
                 return QStringLiteral("--discover-address: '%1' is not ADDR, ADDR:PORT or :PORT")
                     .arg(v);
             return std::nullopt;
         }},
        {"retry", 0, true, wholeNumber("--retry", 0, kMaxRetries, &PushArgs::retries)},
        {"canary", 0, true, wholeNumber("--canary", 1, kMaxTerminals, &PushArgs::canary)},
        {"max-failures", 0, true,
         wholeNumber("--max-failures", 0, kMaxTerminals, &PushArgs::maxFailures)},
        {"package", 0, true,
         [](PushArgs& a, const QString& v) -> std::optional<QString> {
             // As the terminals list it: name;version, single-byte text
             // without separators or control characters.
             static const QRegularExpression form(
                 QStringLiteral("^[^;\\x00-\\x1f\\x7f]+;[^;\\x00-\\x1f\\x7f]+$"));
             bool latin1 = true;
             for (const QChar c : v)
                 latin1 = latin1 && c.unicode() < 0x100;
             if (!latin1 || !form.match(v).hasMatch())
                 return QStringLiteral("--package: '%1' is not NAME;VERSION").arg(v);
             a.package = v;
             return std::nullopt;
         }},
        {"inventory", 0, true, fileName("--inventory", &PushArgs::inventory)},
        {"inventory-format", 0, true,
         [](PushArgs& a, const QString& v) -> std::optional<QString> {
             const auto f = inventoryFormatNamed(v);
             if (!f)
                 return QStringLiteral("--inventory-format: '%1' is not json or csv").arg(v);
             a.inventoryFormat = *f;
             return std::nullopt;
         }},
    };
    return table;
}

const Option* findLong(const QString& name)
{
    for (const Option& o : options())
        if (name == QLatin1String(o.longName))
            return &o;
    return nullptr;
}

const Option* findShort(QChar c)
{
    for (const Option& o : options())
        if (o.shortName != 0 && c == QLatin1Char(o.shortName))
            return &o;
    return nullptr;
}

std::optional<QString> checkFile(const QString& name, QString& absolute)
{
    const QFileInfo info(name);
    if (!info.exists())
        return QStringLiteral("'%1': no such file").arg(name);
    if (!info.isFile())
        return QStringLiteral("'%1': not an ordinary file").arg(name);
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("'%1': cannot be read: %2").arg(name, file.errorString());
    if (file.size() <= 0)
        return QStringLiteral("'%1': the file is empty").arg(name);
    absolute = info.absoluteFilePath();
    return std::nullopt;
}

// A file the run will write: its folder must exist and it must not be one.
std::optional<ArgError> checkOutputFile(const QString& option, const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.isDir())
        return ArgError{QStringLiteral("%1: no folder '%2'")
                            .arg(option, QDir::toNativeSeparators(folder.filePath())),
                        kExitCannotRun};
    if (QFileInfo(path).isDir())
        return ArgError{QStringLiteral("%1: '%2' is a folder").arg(option, path), kExitCannotRun};
    return std::nullopt;
}

} // namespace

std::variant<PushArgs, ArgError> parsePushArguments(const QStringList& args)
{
    PushArgs a;
    QStringList operands;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            operands << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const Option* option = nullptr;
        QString shown; // the option as the message names it
        std::optional<QString> value;
        if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            shown = eq < 0 ? arg : arg.left(eq);
            option = findLong(shown.mid(2));
            if (eq >= 0)
                value = arg.mid(eq + 1);
        } else {
            shown = arg.left(2);
            option = findShort(arg.at(1));
            if (arg.size() > 2)
                value = arg.mid(2);
        }
        if (!option)
            return ArgError{QStringLiteral("unrecognised option '%1'").arg(shown)};
        if (!option->takesValue && value)
            return ArgError{QStringLiteral("option '%1' takes no value").arg(shown)};
        if (option->takesValue && !value) {
            if (i + 1 >= args.size())
                return ArgError{QStringLiteral("option '%1' needs a value").arg(shown)};
            value = args[++i];
        }
        if (auto error = option->apply(a, value.value_or(QString())))
            return ArgError{*error};
    }
    if (a.help || a.version)
        return a;

    if (!a.inventory.isEmpty()) {
        if (a.discoverSeconds == 0)
            return ArgError{QStringLiteral("--inventory needs --discover SECONDS")};
        if (!operands.isEmpty())
            return ArgError{
                QStringLiteral("--inventory sends nothing: give no file and no terminal with it")};
        if (auto error = checkOutputFile(QStringLiteral("--inventory"), a.inventory))
            return *error;
        return a;
    }
    if (a.reboot && a.run)
        return ArgError{QStringLiteral("--reboot and --run cannot be used together")};
    if (operands.isEmpty())
        return ArgError{QStringLiteral("no file to push given")};
    if (auto error = checkFile(operands.takeFirst(), a.file))
        return ArgError{*error};
    AddressSet terminals;
    for (const QString& operand : operands) {
        if (operand.startsWith(QLatin1Char('@')) && operand.size() > 1) {
            if (auto error = readAddressFile(operand.mid(1), terminals))
                return ArgError{*error};
            continue;
        }
        const auto address = normalAddress(operand);
        if (!address)
            return ArgError{QStringLiteral("'%1' is not a terminal address").arg(operand)};
        terminals.add(*address);
        if (terminals.size() > kMaxTerminals)
            return ArgError{QStringLiteral("more than %1 terminals").arg(kMaxTerminals)};
    }
    a.terminals = terminals.list();
    if (a.terminals.isEmpty() && a.discoverSeconds == 0)
        return ArgError{QStringLiteral("no terminal given (an address, @LIST or --discover)")};
    if (a.discoverSeconds > 0 && a.discoverPort == 0 && a.port == 65535)
        return ArgError{QStringLiteral(
            "--discover: no broadcast port above 65535 (give one with --discover-address)")};
    if (a.report != QLatin1String("-"))
        if (auto error = checkOutputFile(QStringLiteral("--report"), a.report))
            return *error;
    return a;
}

engine::PushOptions pushOptionsFor(const PushArgs& a)
{
    engine::PushOptions o;
    o.filePath = a.file;
    o.port = a.port;
    o.full = a.full;
    o.setClock = a.setTime;
    o.killApps = a.killApps;
    o.reboot = a.reboot;
    o.runApp = a.run;
    o.owner = a.owner;
    const std::string name = proto::GetFileName(QFile::encodeName(a.file).toStdString());
    if (proto::isPackageName(name)) {
        o.permissions = QString::fromLatin1(kPackagePermissions);
    } else if (!a.permissions.isEmpty()) {
        o.permissions = a.permissions;
    } else {
        QFile file(a.file);
        std::optional<std::string> first;
        if (file.open(QIODevice::ReadOnly))
            first = file.read(kExecutableProbeBytes).toStdString();
        const auto digits =
            permissionPreset(isExecutableFile(QFile::encodeName(a.file).toStdString(), first));
        o.permissions =
            QStringLiteral("%1%2%3").arg(digits.owner).arg(digits.group).arg(digits.others);
    }
    o.installLimitMs = proto::installLimitSeconds(std::getenv(proto::kInstallLimitVariable)) * 1000;
    return o;
}

engine::FleetPolicy fleetPolicyFor(const PushArgs& a)
{
    engine::FleetPolicy p;
    p.retries = a.retries;
    p.canary = a.canary;
    p.maxFailures = a.maxFailures;
    p.package = a.package;
    bool ok = false;
    const int base = qEnvironmentVariableIntValue(kRetryBaseVariable, &ok);
    if (ok && base >= 0)
        p.retryBaseMs = base;
    return p;
}

QString pushVersionText()
{
    return QStringLiteral("tk650push (Tk650Downloader) %1.%2.%3\n")
        .arg(kVersionMajor)
        .arg(kVersionMinor)
        .arg(kVersionRevision);
}

QString pushHelpText()
{
    QString text = QStringLiteral(
        R"(Usage: tk650push [options] FILE TERMINAL...
       tk650push --discover SECONDS --inventory FILE [--inventory-format csv]

Pushes FILE to many Tk650 terminals at once over the network, as an unattended
run of Tk650Downloader would push it to one. A TERMINAL is an address (dotted
IPv4 or a host name) or @LIST, a file of addresses, one a line, "#" starting
a comment. Each terminal is pushed to once, however often it is named.

Download options (as on the network tab):
      --full               full download (partial unless given)
      --set-time           set the terminal's clock to this computer's
      --kill-apps          stop the terminal's applications first
      --reboot             reboot the terminal after the install
      --run                start the application after the install
                           (not with --reboot)
      --permissions DIGITS permissions of the file, e.g. 755 (755 for
                           executables, 644 otherwise; packages always 644)
      --owner USER         owner: root or usr1 to usr8 (usr1)
      --port N             the terminals' download port (5142)

Fleet options:
  -j, --jobs N             terminals at once, 1 to 1000 (16)
      --discover SECONDS   also push to every terminal whose broadcasts arrive
                           within SECONDS (UDP, the download port plus one)
      --discover-address ADDR[:PORT]
                           where to listen for the broadcasts (every local
                           address, the download port plus one)
      --report FILE        write a JSON report: per terminal its address,
                           outcome, the exit code of a single run, bytes,
                           seconds and its tries ("-": standard output)

Deployment options:
      --retry N            try a terminal up to N more times (0 to 10, 0)
                           when it could not be reached, timed out or lost
                           the connection before the whole file went out;
                           waits of 2 s, 4 s, 8 s ... between tries
      --package NAME;VERSION
                           first read each terminal's record (its broadcast
                           when --discover heard it, else "WHO:"); one that
                           lists NAME;VERSION is skipped as already-installed.
                           A record that cannot be read: pushed as usual
      --canary N           push to the first N terminals first; the rest only
                           when all of them succeeded (else not-attempted)
      --max-failures K     once more than K terminals failed, start no other
                           (they are not-attempted, and count as failed)

Inventory (with --discover, no FILE and no TERMINAL: nothing is sent):
      --inventory FILE     write every terminal heard: address, serial number,
                           model, versions, packages and key status
      --inventory-format json|csv
                           the inventory's format (json)
  -h, --help               this text
  -V, --version            the version

Progress goes to standard error: a live table on a terminal, one line per
event otherwise. The install wait is limited by TK650_INSTALL_TIMEOUT seconds
(600), the first wait between tries by TK650_RETRY_BASE_MS milliseconds
(2000). SIGINT or SIGTERM cancels the pushes still running; the report is
written all the same.

Exit status: 0 when every terminal succeeded, else the number of terminals
that failed (at most 100); 101 for bad arguments; 102 when the report could
not be written or the broadcasts could not be listened for.

Example:
  tk650push --reboot --jobs 32 --report result.json app.tgz @shop-terminals.txt
)");
#ifdef Q_OS_WIN
    text.replace(QStringLiteral("SIGINT or SIGTERM cancels"),
                 QStringLiteral("Ctrl+C, Ctrl+Break or closing the console cancels"));
#endif
    return text;
}

} // namespace tk::push
