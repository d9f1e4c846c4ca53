// The simulator's own parsing: where a command ends in the daemon's byte
// stream, the "DLD:" and "RTC:" payloads, and its command line.
#include "check.h"
#include "options.h"
#include "wire.h"

using namespace tk::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray buf(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    for (const bool atPause : {false, true}) {
        const qsizetype n = commandLength(buf, atPause);
        FUZZ_CHECK(n >= 0 && n <= buf.size());
        if (atPause && !buf.isEmpty())
            FUZZ_CHECK(n > 0); // after a pause everything buffered is a command
        // More bytes never shorten a command that has already ended.
        if (n > 0 && !atPause)
            FUZZ_CHECK(commandLength(buf + "MORE", false) == n);
    }
    FUZZ_CHECK(commandPrefix(buf).size() == std::min<qsizetype>(4, buf.size()));
    FUZZ_CHECK(readable(buf).size() <= 4 * buf.size());

    const auto parsed = parseAnnouncement(buf);
    FUZZ_CHECK(parsed.announcement.has_value() == parsed.error.isEmpty());
    if (parsed.announcement) {
        const Announcement& a = *parsed.announcement;
        FUZZ_CHECK(a.size >= 0);
        FUZZ_CHECK(a.name.size() + a.owner.size() + a.group.size() + a.type.size() <= buf.size());
    }
    if (const auto clock = parseClock(buf))
        FUZZ_CHECK(clock->isValid() && buf.size() == 15);
    if (isPlainFileName(buf))
        FUZZ_CHECK(!buf.contains('/') && buf != "." && buf != ".." && !buf.isEmpty());

    // The command line, one argument per NUL-separated piece.
    QStringList args;
    for (const auto& piece : buf.split('\0'))
        args << QString::fromLatin1(piece);
    const auto options = parseSimArguments(args);
    if (const auto* o = std::get_if<SimOptions>(&options))
        FUZZ_CHECK(o->terminals >= 1);
    else
        FUZZ_CHECK(!std::get<QString>(options).isEmpty());

    // Escapes never make text longer.
    FUZZ_CHECK(unescapeText(QString::fromLatin1(buf)).size() <= buf.size());
    return 0;
}
