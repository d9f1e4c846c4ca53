#include "wire.h"

#include <QList>

namespace tk::sim {

namespace {

bool allDigits(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

AnnouncementParse parseAnnouncement(const QByteArray& payload)
{
    AnnouncementParse result;
    if (!payload.endsWith('\0')) {
        result.error = QStringLiteral("the last field is not followed by NUL");
        return result;
    }
    QList<QByteArray> fields = payload.chopped(1).split('\0');
    if (fields.size() < 5 || fields.size() > 6) {
        result.error = QStringLiteral("%1 fields instead of 5 or 6").arg(fields.size());
        return result;
    }
    Announcement a;
    a.name = fields[0];
    if (!isPlainFileName(a.name)) {
        result.error = QStringLiteral("name is empty or a path");
        return result;
    }
    // Sizes beyond 2^53 are nonsense for a terminal; the digit limit also
    // keeps the conversion from overflowing.
    if (!allDigits(fields[1]) || fields[1].size() > 15) {
        result.error = QStringLiteral("size is not a decimal number");
        return result;
    }
    a.size = fields[1].toLongLong();
    a.permissions = fields[2];
    bool octal = a.permissions.size() == 3;
    for (char c : a.permissions)
        octal = octal && c >= '0' && c <= '7';
    if (!octal) {
        result.error = QStringLiteral("permissions are not three octal digits");
        return result;
    }
    a.owner = fields[3];
    a.group = fields[4];
    if (a.owner.isEmpty() || a.group.isEmpty()) {
        result.error = QStringLiteral("owner or group is empty");
        return result;
    }
    if (fields.size() == 6) {
        a.type = fields[5];
        a.hasType = true;
        if (a.type != "F" && a.type != "P") {
            result.error = QStringLiteral("type is neither F nor P");
            return result;
        }
    }
    result.announcement = a;
    return result;
}

std::optional<QDateTime> parseClock(const QByteArray& payload)
{
    if (payload.size() != 15 || payload[12] != '.')
        return std::nullopt;
    const QByteArray digits = payload.left(12) + payload.mid(13);
    if (!allDigits(digits))
        return std::nullopt;
    auto num = [&](int from, int len) { return payload.mid(from, len).toInt(); };
    const QDate date(num(8, 4), num(0, 2), num(2, 2));
    const QTime time(num(4, 2), num(6, 2), num(13, 2));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

qsizetype commandLength(const QByteArray& buf, bool atPause)
{
    const qsizetype all = atPause ? buf.size() : 0;
    if (buf.size() < 4)
        return all;
    const QByteArray prefix = buf.left(4);
    if (prefix == "VER:" || prefix == "ASP:" || prefix == "ART:" || prefix == "RST:" ||
        prefix == "WHO:")
        return 4;
    if (prefix == "RTC:")
        return buf.size() >= 19 ? 19 : all;
    if (prefix == "DLD:") {
        int nuls = 0;
        for (qsizetype i = 4; i < buf.size(); ++i) {
            if (buf[i] == '\0' && ++nuls == 6)
                return i + 1;
        }
        return all;
    }
    return all;
}

QByteArray commandPrefix(const QByteArray& command)
{
    return command.left(4);
}

QString readable(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0)
            out += QLatin1Char('|');
        else if (c < 0x20 || c >= 0x7f)
            out += QStringLiteral("<%1>").arg(c, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += QLatin1Char(ch);
    }
    return out;
}

bool isPlainFileName(const QByteArray& name)
{
    // The terminal's file system is a Linux one: "/" ends a folder, a
    // backslash is an ordinary character of a name.
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/');
}

} // namespace tk::sim
