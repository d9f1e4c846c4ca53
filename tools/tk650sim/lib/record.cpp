#include "record.h"

namespace tk::sim {

namespace {
constexpr char FS = '\x1c';
constexpr char GS = '\x1d';
} // namespace

QByteArray TerminalRecord::joinPackages(const QList<QPair<QByteArray, QByteArray>>& packages)
{
    QByteArray out;
    for (qsizetype i = 0; i < packages.size(); ++i) {
        if (i > 0)
            out += GS;
        out += packages[i].first + ';' + packages[i].second;
    }
    return out;
}

QList<QPair<QByteArray, QByteArray>> TerminalRecord::splitPackageText(const QByteArray& text)
{
    QList<QPair<QByteArray, QByteArray>> out;
    for (const QByteArray& entry : text.split(',')) {
        if (entry.isEmpty())
            continue;
        const qsizetype semi = entry.indexOf(';');
        if (semi < 0)
            out.append({entry, QByteArray()});
        else
            out.append({entry.left(semi), entry.mid(semi + 1)});
    }
    return out;
}

QList<QByteArray> TerminalRecord::emptyKeyStatus()
{
    QList<QByteArray> keys(23, "0");
    keys.append({QByteArray(), QByteArray(), QByteArray()});
    return keys;
}

QByteArray TerminalRecord::toBytes() const
{
    QByteArray keys;
    for (qsizetype i = 0; i < keyStatus.size(); ++i) {
        if (i > 0)
            keys += GS;
        keys += keyStatus[i];
    }
    const QList<QByteArray> fields{
        lead, serial, model, rootFs, kernel, joinPackages(packages), discretionary, keys, trailer};
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += FS;
        out += fields[i];
    }
    return out;
}

} // namespace tk::sim
