#include "addresslist.h"

#include <QFile>

namespace tk::push {

namespace {
std::optional<QString> dottedAddress(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    QStringList out;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        int value = 0;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
            value = value * 10 + (c.unicode() - '0');
        }
        if (value > 255)
            return std::nullopt;
        out << QString::number(value);
    }
    return out.join(QLatin1Char('.'));
}

bool isHostLabel(QStringView label)
{
    if (label.isEmpty() || label.size() > 63 || label.front() == QLatin1Char('-') ||
        label.back() == QLatin1Char('-'))
        return false;
    for (QChar c : label) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
        if (!ok)
            return false;
    }
    return true;
}
// Text from a file as a message may show it: control characters as "?".
QString printable(QString text)
{
    for (QChar& c : text)
        if (!c.isPrint())
            c = QLatin1Char('?');
    return text;
}
} // namespace

std::optional<QString> normalAddress(const QString& text)
{
    if (text.isEmpty() || text.size() > 253)
        return std::nullopt;
    bool allDigitsAndDots = true;
    for (QChar c : text)
        allDigitsAndDots = allDigitsAndDots && ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                                                c == QLatin1Char('.'));
    // Numbers only are an IPv4 address or nothing: "10.1.1" is no host name.
    if (allDigitsAndDots)
        return dottedAddress(text);
    const QString lower = text.toLower();
    const QStringList labels = lower.split(QLatin1Char('.'));
    for (const QString& label : labels)
        if (!isHostLabel(label))
            return std::nullopt;
    return lower;
}

bool AddressSet::add(const QString& normalised)
{
    if (m_seen.contains(normalised))
        return false;
    m_seen.insert(normalised);
    m_list << normalised;
    return true;
}

std::optional<QString> readAddressFile(const QString& path, AddressSet& set)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return path + QStringLiteral(": cannot read the address list: ") + file.errorString();
    // One byte more than allowed tells a list that is too large.
    const QByteArray bytes = file.read(kMaxListBytes + 1);
    if (bytes.size() > kMaxListBytes)
        return path + QStringLiteral(": the address list is larger than 1 MiB");
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (const qsizetype hash = line.indexOf('#'); hash >= 0)
            line.truncate(hash);
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.isEmpty())
            continue;
        const auto address = normalAddress(text);
        if (!address)
            return QStringLiteral("%1:%2: not a terminal address: '%3'")
                .arg(path)
                .arg(i + 1)
                .arg(printable(text.left(80)));
        set.add(*address);
        if (set.size() > kMaxTerminals)
            return QStringLiteral("%1:%2: more than %3 terminals")
                .arg(path)
                .arg(i + 1)
                .arg(kMaxTerminals);
    }
    return std::nullopt;
}

} // namespace tk::push
