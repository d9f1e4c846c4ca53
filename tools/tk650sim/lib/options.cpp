#include "options.h"

#include <QFile>
#include <QRegularExpression>
#include <functional>
#include <map>

namespace tk::sim {

QString simHelpText()
{
    return QStringLiteral(
        R"(Usage: tk650sim [options]

A stand-in for one or many Tk650 terminals: the download daemon on TCP, the
broadcasts on UDP and the KSYN answer on a serial line. Every exchange is
logged on standard output (NUL shown as "|", other control bytes as <XX>).
Once everything is set up it prints "listening on ADDR:PORT" for each daemon,
"serial port: PATH" for the serial line, and then "ready".

Texts accept C escapes: \n \r \t \0 \\ \xNN.

Daemon:
  --listen ADDR[:PORT]     address and port of the daemon (0.0.0.0:5142)
  --no-daemon              no daemon (broadcasts or serial line only)
  --store DIR              write received files to DIR under their announced
                           name; tk650sim-received.txt lists their metadata
  --version-text TEXT      answer to "VER:" (01.02.01)
  --version-end BYTE       byte after the version: a character, a number
                           (10, 0x0a) or "none" (0x0a)
  --ver text|badargs|silent            how "VER:" is answered (text)
  --rtc ok|badargs|silent              "RTC:"; a malformed date is BADARGS (ok)
  --asp ok|badargs|silent              "ASP:" (ok)
  --art ok|badargs|silent              "ART:" (ok)
  --rst ok|badargs|silent              "RST:"; unless badargs the connection
                                       then closes, as the terminal reboots (ok)
  --msg ok|badargs|silent              "MSG:" (ok)
  --dld ok|nospace|badargs|silent      "DLD:"; a malformed one is BADARGS (ok)
  --free-space BYTES       announcements larger than this get NOSPACE
  --install done|exp|fail|silent|close result after the file bytes (done);
                           close = the terminal reboots while installing
  --install-delay MS       time the install takes (0)
  --one-command            close the connection after each answer
  --older                  an older daemon: VER:, RTC:, ASP:, ART:, RST:
                           answered BADARGS, one command per connection, no
                           install result (later flags still change it)
  --who TEXT|none          answer to "WHO:" (the terminal's record)

Faults:
  --stall-after N          stop reading after N file bytes
  --stall-ms MS            ... and read again after MS (never)
  --drop-after N           reset the connection after N file bytes
  --split-replies          send each reply in two segments
  --split-delay MS         time between the two segments (50)
  --trailing TEXT          bytes appended to every reply
  --refuse                 refuse connections
  --close-on-accept        accept connections and close them at once
  --silent                 accept connections and never answer
  --strike close|reset|silence|stall|flood
                           one fault at the moment --strike-at names:
                           close or reset the connection, stop answering,
                           stop reading and answering, or answer nothing but
                           an endless stream without a line end
  --strike-at MOMENT       a command prefix (VER: RTC: ASP: DLD: RST: ART:),
                           FILE/2 (half the file bytes) or FILE (all of them)
  --strike-before-answer   strike before that command's answer or the install
                           result (default: right after it)

Slow or far terminal:
  --read-rate BYTES        take at most BYTES file bytes per second; the rest
                           waits in the system's buffers, so the sender feels
                           a slow link (0: no limit)
  --slow-for MS            the read rate holds for MS after a file's first
                           byte, then the link is fast again (whole file)
  --reply-delay MS         send every reply MS later, in order: a long round
                           trip (0)

Terminal record (broadcasts and "WHO:"):
  --serial-number SN       serial number (123-456-789)
  --model M                model number (650)
  --rootfs V               root file system version (R1.2)
  --kernel V               kernel version (2.6.12)
  --packages LIST          name;version entries separated by commas, or
                           "none" (app;1.0)
  --discretionary TEXT     discretionary text (empty)
  --keys LIST              key status entries separated by commas, or
                           "none" for unknown (26 empty entries)
  --terminals N            N terminals, each on the next address after the
                           --listen address and with its own serial number
                           (the serial number followed by -1, -2, ...)

First tries and fleet shares:
  --refuse-first N         reset the first N connections as soon as they are
                           accepted
  --drop-first N           reset the connection at the first N announcements
                           (DLD:) instead of answering
  --flaky-every K          with --terminals, only terminals K, 2K, 3K ...
                           (counted from 1) fail their first tries (1: all)
  --holding NAME;VERSION   the record lists this package too
  --holding-every K        ... only on terminals 1, K+1, 2K+1 ... (1: all)
  --installs NAME;VERSION  once a file is installed, "WHO:" lists this package
  --received-log FILE      append one line per file received: address, name,
                           bytes, complete or partial

Broadcasts:
  --broadcast ADDR[:PORT]  send the record to ADDR (port 5143)
  --interval MS            time between rounds (1000)
  --rounds N               stop after N rounds (no end)

Serial line:
  --pty                    create a pseudo-terminal and print its path
  --serial-port PATH       open the device PATH instead
  --baud N                 baud rate for --serial-port (115200)
  --ksyn ack|nak|silent    answer to a good KSYN frame (ack)
  --ksyn-bad ack|nak|silent  answer to a bad one (nak)
  --ksyn-suffix TEXT       bytes sent after the answer
  --ksyn-delay MS          wait before answering (0)

Other:
  --scenario FILE          read flags from FILE: one per line, "flag value",
                           the leading "--" optional, # starts a comment;
                           flags after --scenario override it
  --quiet                  log nothing but the ready lines
  --help                   this text
)");
}

QByteArray unescapeText(const QString& text)
{
    const QByteArray in = text.toLatin1();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out += in[i];
            continue;
        }
        const char c = in[++i];
        switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            bool ok = false;
            const int v = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok && i + 2 < in.size()) {
                out += char(v);
                i += 2;
            } else {
                out += "\\x";
            }
            break;
        }
        default: out += '\\'; out += c;
        }
    }
    return out;
}

bool parseEndpoint(const QString& text, QHostAddress& address, quint16& port)
{
    QString host = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        bool ok = false;
        const uint p = text.mid(colon + 1).toUInt(&ok);
        if (!ok || p > 65535)
            return false;
        port = quint16(p);
        host = text.left(colon);
    }
    if (host.isEmpty())
        return colon >= 0;
    QHostAddress a;
    if (!a.setAddress(host) || a.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    address = a;
    return true;
}

QHostAddress nextAddress(const QHostAddress& a, quint32 n)
{
    return QHostAddress(a.toIPv4Address() + n);
}

QByteArray fleetSerial(const QByteArray& base, int i, int n)
{
    if (n <= 1)
        return base;
    const int width = int(QByteArray::number(n).size());
    return base + '-' + QByteArray::number(i + 1).rightJustified(width, '0');
}

namespace {

using Setter = std::function<QString(SimOptions&, const QString&)>;

bool toInt(const QString& v, qint64 min, qint64 max, qint64& out)
{
    bool ok = false;
    out = v.toLongLong(&ok);
    return ok && out >= min && out <= max;
}

template <typename T> Setter intFlag(T SimOptions::*field, qint64 min, qint64 max)
{
    return [=](SimOptions& o, const QString& v) {
        qint64 n = 0;
        if (!toInt(v, min, max, n))
            return QStringLiteral("not a number from %1 to %2: %3").arg(min).arg(max).arg(v);
        o.*field = T(n);
        return QString();
    };
}

template <typename F> Setter daemonInt(F get, qint64 min, qint64 max)
{
    return [=](SimOptions& o, const QString& v) {
        qint64 n = 0;
        if (!toInt(v, min, max, n))
            return QStringLiteral("not a number from %1 to %2: %3").arg(min).arg(max).arg(v);
        get(o.daemonConfig) = std::remove_reference_t<decltype(get(o.daemonConfig))>(n);
        return QString();
    };
}

template <typename E> Setter choice(std::function<E&(SimOptions&)> get, std::map<QString, E> values)
{
    return [=](SimOptions& o, const QString& v) {
        const auto it = values.find(v.toLower());
        if (it == values.end()) {
            QStringList names;
            for (const auto& [name, value] : values)
                names << name;
            return QStringLiteral("expected one of %1, not %2")
                .arg(names.join(QLatin1Char('|')), v);
        }
        get(o) = it->second;
        return QString();
    };
}

const std::map<QString, Reply> kOkReplies{
    {"ok", Reply::Ok}, {"badargs", Reply::BadArgs}, {"silent", Reply::Silent}};

Setter replyFlag(Reply DaemonConfig::*field)
{
    return choice<Reply>([=](SimOptions& o) -> Reply& { return o.daemonConfig.*field; },
                         kOkReplies);
}

Setter ksynFlag(KsynAnswer SerialConfig::*field)
{
    return choice<KsynAnswer>(
        [=](SimOptions& o) -> KsynAnswer& { return o.serialConfig.*field; },
        {{"ack", KsynAnswer::Ack}, {"nak", KsynAnswer::Nak}, {"silent", KsynAnswer::Silent}});
}

QString setVersionEnd(SimOptions& o, const QString& v)
{
    DaemonConfig& c = o.daemonConfig;
    if (v == QLatin1String("none")) {
        c.versionTerminated = false;
        return {};
    }
    const QByteArray text = unescapeText(v);
    bool ok = false;
    const uint n = v.startsWith(QLatin1String("0x")) ? v.mid(2).toUInt(&ok, 16) : v.toUInt(&ok);
    if (ok && n <= 255 && text.size() > 1)
        c.versionTerminator = char(n);
    else if (text.size() == 1)
        c.versionTerminator = text[0];
    else
        return QStringLiteral("not one byte: ") + v;
    c.versionTerminated = true;
    return {};
}

// A slow or far terminal.
void addLinkFlags(std::map<QString, Setter>& f)
{
    f["read-rate"] = daemonInt([](DaemonConfig& c) -> qint64& { return c.link.readRate; }, 0,
                               Q_INT64_C(1) << 40);
    f["slow-for"] = daemonInt([](DaemonConfig& c) -> int& { return c.link.slowForMs; }, 0, 3600000);
    f["reply-delay"] =
        daemonInt([](DaemonConfig& c) -> int& { return c.link.replyDelayMs; }, 0, 3600000);
}

std::map<QString, Setter> valueFlags()
{
    std::map<QString, Setter> f;
    addLinkFlags(f);
    f["listen"] = [](SimOptions& o, const QString& v) {
        return parseEndpoint(v, o.listenAddress, o.listenPort)
                   ? QString()
                   : QStringLiteral("not an IPv4 address[:port]: ") + v;
    };
    f["store"] = [](SimOptions& o, const QString& v) {
        o.daemonConfig.storeDir = v;
        return QString();
    };
    f["version-text"] = [](SimOptions& o, const QString& v) {
        o.daemonConfig.version = unescapeText(v);
        return QString();
    };
    f["version-end"] = setVersionEnd;
    f["ver"] = choice<VersionReply>(
        [](SimOptions& o) -> VersionReply& { return o.daemonConfig.versionReply; },
        {{"text", VersionReply::Text},
         {"badargs", VersionReply::BadArgs},
         {"silent", VersionReply::Silent}});
    f["rtc"] = replyFlag(&DaemonConfig::rtcReply);
    f["asp"] = replyFlag(&DaemonConfig::aspReply);
    f["art"] = replyFlag(&DaemonConfig::artReply);
    f["rst"] = replyFlag(&DaemonConfig::rstReply);
    f["msg"] = replyFlag(&DaemonConfig::msgReply);
    f["dld"] = choice<Reply>([](SimOptions& o) -> Reply& { return o.daemonConfig.dldReply; },
                             {{"ok", Reply::Ok},
                              {"nospace", Reply::NoSpace},
                              {"badargs", Reply::BadArgs},
                              {"silent", Reply::Silent}});
    f["install"] = choice<InstallResult>(
        [](SimOptions& o) -> InstallResult& { return o.daemonConfig.installResult; },
        {{"done", InstallResult::Done},
         {"exp", InstallResult::Expanded},
         {"fail", InstallResult::Failed},
         {"silent", InstallResult::Silent},
         {"close", InstallResult::Close}});
    const qint64 big = Q_INT64_C(1) << 53;
    f["free-space"] = daemonInt([](DaemonConfig& c) -> qint64& { return c.freeSpace; }, 0, big);
    f["install-delay"] =
        daemonInt([](DaemonConfig& c) -> int& { return c.installDelayMs; }, 0, 3600000);
    f["who"] = [](SimOptions& o, const QString& v) {
        o.whoReply = v == QLatin1String("none") ? QByteArray() : unescapeText(v);
        return QString();
    };
    f["stall-after"] =
        daemonInt([](DaemonConfig& c) -> qint64& { return c.faults.stallAfterFileBytes; }, 0, big);
    f["stall-ms"] = daemonInt([](DaemonConfig& c) -> int& { return c.faults.stallMs; }, 0, 3600000);
    f["drop-after"] =
        daemonInt([](DaemonConfig& c) -> qint64& { return c.faults.dropAfterFileBytes; }, 0, big);
    f["split-delay"] =
        daemonInt([](DaemonConfig& c) -> int& { return c.faults.splitDelayMs; }, 1, 60000);
    f["strike"] =
        choice<Strike>([](SimOptions& o) -> Strike& { return o.daemonConfig.faults.strike; },
                       {{"close", Strike::Close},
                        {"reset", Strike::Reset},
                        {"silence", Strike::Silence},
                        {"stall", Strike::Stall},
                        {"flood", Strike::Flood}});
    f["strike-at"] = [](SimOptions& o, const QString& v) {
        static const QStringList moments{
            "VER:", "RTC:", "ASP:", "DLD:", "RST:", "ART:", "WHO:", "MSG:", "FILE/2", "FILE"};
        if (!moments.contains(v))
            return QStringLiteral("expected one of %1, not %2").arg(moments.join('|'), v);
        o.daemonConfig.faults.strikeAt = v.toLatin1();
        return QString();
    };
    f["trailing"] = [](SimOptions& o, const QString& v) {
        o.daemonConfig.faults.trailingBytes = unescapeText(v);
        return QString();
    };
    auto recordText = [](QByteArray TerminalRecord::*field) {
        return [=](SimOptions& o, const QString& v) {
            o.record.*field = unescapeText(v);
            return QString();
        };
    };
    f["serial-number"] = recordText(&TerminalRecord::serial);
    f["model"] = recordText(&TerminalRecord::model);
    f["rootfs"] = recordText(&TerminalRecord::rootFs);
    f["kernel"] = recordText(&TerminalRecord::kernel);
    f["discretionary"] = recordText(&TerminalRecord::discretionary);
    f["packages"] = [](SimOptions& o, const QString& v) {
        o.record.packages = v == QLatin1String("none")
                                ? QList<QPair<QByteArray, QByteArray>>()
                                : TerminalRecord::splitPackageText(unescapeText(v));
        return QString();
    };
    f["keys"] = [](SimOptions& o, const QString& v) {
        o.record.keyStatus =
            v == QLatin1String("none") ? QList<QByteArray>() : unescapeText(v).split(',');
        return QString();
    };
    f["terminals"] = intFlag(&SimOptions::terminals, 1, 10000);
    f["refuse-first"] =
        daemonInt([](DaemonConfig& c) -> int& { return c.firstTries.refuse; }, 0, 1000000);
    f["drop-first"] =
        daemonInt([](DaemonConfig& c) -> int& { return c.firstTries.drop; }, 0, 1000000);
    f["flaky-every"] = intFlag(&SimOptions::flakyEvery, 1, 10000);
    const auto packageEntry = [](QByteArray SimOptions::*field) {
        return [=](SimOptions& o, const QString& v) {
            const QByteArray entry = unescapeText(v);
            if (entry.count(';') != 1 || entry.startsWith(';') || entry.endsWith(';'))
                return QStringLiteral("expected name;version, not ") + v;
            o.*field = entry;
            return QString();
        };
    };
    f["holding"] = packageEntry(&SimOptions::holding);
    f["installs"] = packageEntry(&SimOptions::installs);
    f["holding-every"] = intFlag(&SimOptions::holdingEvery, 1, 10000);
    f["received-log"] = [](SimOptions& o, const QString& v) {
        o.receivedLog = v;
        return QString();
    };
    f["broadcast"] = [](SimOptions& o, const QString& v) {
        o.broadcast = true;
        return parseEndpoint(v, o.broadcastTarget, o.broadcastPort)
                   ? QString()
                   : QStringLiteral("not an IPv4 address[:port]: ") + v;
    };
    f["interval"] = intFlag(&SimOptions::broadcastIntervalMs, 1, 3600000);
    f["rounds"] = intFlag(&SimOptions::broadcastRounds, 0, 1 << 30);
    f["serial-port"] = [](SimOptions& o, const QString& v) {
        o.serialDevice = v;
        return QString();
    };
    f["baud"] = intFlag(&SimOptions::baud, 1, 4000000);
    f["ksyn"] = ksynFlag(&SerialConfig::validAnswer);
    f["ksyn-bad"] = ksynFlag(&SerialConfig::invalidAnswer);
    f["ksyn-suffix"] = [](SimOptions& o, const QString& v) {
        o.serialConfig.answerSuffix = unescapeText(v);
        return QString();
    };
    f["ksyn-delay"] = [](SimOptions& o, const QString& v) {
        qint64 n = 0;
        if (!toInt(v, 0, 3600000, n))
            return QStringLiteral("not a number of milliseconds: ") + v;
        o.serialConfig.answerDelayMs = int(n);
        return QString();
    };
    return f;
}

std::map<QString, std::function<void(SimOptions&)>> switchFlags()
{
    std::map<QString, std::function<void(SimOptions&)>> f;
    f["help"] = [](SimOptions& o) { o.help = true; };
    f["quiet"] = [](SimOptions& o) { o.quiet = true; };
    f["no-daemon"] = [](SimOptions& o) { o.daemon = false; };
    f["one-command"] = [](SimOptions& o) { o.daemonConfig.oneCommandPerConnection = true; };
    f["older"] = [](SimOptions& o) {
        DaemonConfig older = DaemonConfig::olderDaemon();
        older.storeDir = o.daemonConfig.storeDir;
        older.keepContent = o.daemonConfig.keepContent;
        older.link = o.daemonConfig.link;
        o.daemonConfig = older;
    };
    f["split-replies"] = [](SimOptions& o) { o.daemonConfig.faults.splitReplies = true; };
    f["refuse"] = [](SimOptions& o) { o.daemonConfig.faults.refuseConnections = true; };
    f["close-on-accept"] = [](SimOptions& o) { o.daemonConfig.faults.closeOnAccept = true; };
    f["silent"] = [](SimOptions& o) { o.daemonConfig.faults.silent = true; };
    f["strike-before-answer"] = [](SimOptions& o) {
        o.daemonConfig.faults.strikeBeforeAnswer = true;
    };
    f["pty"] = [](SimOptions& o) { o.pseudoTerminal = true; };
    return f;
}

QString applyArguments(SimOptions& o, const QStringList& args, int depth);

QString applyScenario(SimOptions& o, const QString& path, int depth)
{
    if (depth > 4)
        return QStringLiteral("scenario files nest too deep: ") + path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("cannot read scenario %1: %2").arg(path, file.errorString());
    QStringList args;
    int lineNo = 0;
    while (!file.atEnd()) {
        ++lineNo;
        const QString line = QString::fromLatin1(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype space = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
        QString flag = space < 0 ? line : line.left(space);
        if (!flag.startsWith(QLatin1String("--")))
            flag.prepend(QLatin1String("--"));
        args << flag;
        if (space >= 0)
            args << line.mid(space + 1).trimmed();
    }
    const QString error = applyArguments(o, args, depth + 1);
    return error.isEmpty() ? error : QStringLiteral("%1: %2").arg(path, error);
}

QString applyArguments(SimOptions& o, const QStringList& args, int depth)
{
    static const auto values = valueFlags();
    static const auto switches = switchFlags();
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        if (!arg.startsWith(QLatin1String("--")))
            return QStringLiteral("unexpected argument: ") + arg;
        QString name = arg.mid(2);
        QString value;
        bool inlineValue = false;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            inlineValue = true;
        }
        if (const auto s = switches.find(name); s != switches.end()) {
            if (inlineValue)
                return QStringLiteral("--%1 takes no value").arg(name);
            s->second(o);
            continue;
        }
        const bool scenario = name == QLatin1String("scenario");
        const auto v = values.find(name);
        if (v == values.end() && !scenario)
            return QStringLiteral("unknown option: --") + name;
        if (!inlineValue) {
            if (i + 1 >= args.size())
                return QStringLiteral("--%1 needs a value").arg(name);
            value = args[++i];
        }
        const QString error = scenario ? applyScenario(o, value, depth) : v->second(o, value);
        if (!error.isEmpty())
            return scenario ? error : QStringLiteral("--%1: %2").arg(name, error);
    }
    return {};
}

} // namespace

std::variant<SimOptions, QString> parseSimArguments(const QStringList& args)
{
    SimOptions o;
    o.record.keyStatus = TerminalRecord::emptyKeyStatus();
    o.daemonConfig.keepContent = false; // the store folder keeps files
    const QString error = applyArguments(o, args, 0);
    if (!error.isEmpty())
        return error;
    return o;
}

} // namespace tk::sim
