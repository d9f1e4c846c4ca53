#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cstdio>

namespace tk::push {

QByteArray reportJson(const ReportInput& in)
{
    QJsonArray terminals;
    int failed = 0;
    int delivered = 0;
    for (size_t i = 0; i < in.results.size(); ++i) {
        const engine::PushResult& r = in.results[i];
        QJsonObject t{
            {QStringLiteral("address"), r.address},
            {QStringLiteral("outcome"), engine::outcomeWord(r.outcome)},
            {QStringLiteral("exitCode"), r.exitCode},
            {QStringLiteral("bytes"), double(r.bytes)},
            {QStringLiteral("seconds"), qRound(r.seconds * 1000) / 1000.0},
        };
        if (!r.detail.isEmpty())
            t.insert(QStringLiteral("detail"), r.detail);
        QJsonArray tries;
        if (i < in.attempts.size())
            for (const engine::Outcome o : in.attempts[i])
                tries.append(engine::outcomeWord(o));
        t.insert(QStringLiteral("attempts"), int(tries.size()));
        t.insert(QStringLiteral("attemptOutcomes"), tries);
        if (!in.package.isEmpty())
            t.insert(QStringLiteral("record"),
                     engine::recordCheckWord(
                         i < in.records.size() ? in.records[i] : engine::RecordCheck::NotAsked));
        terminals.append(t);
        if (r.outcome == engine::Outcome::Delivered)
            ++delivered;
        else if (!r.ok())
            ++failed;
    }
    QJsonObject root{
        {QStringLiteral("file"), in.file},
        {QStringLiteral("size"), double(in.size)},
        {QStringLiteral("port"), int(in.port)},
        {QStringLiteral("cancelled"), in.cancelled},
        {QStringLiteral("succeeded"), int(in.results.size()) - failed - delivered},
        {QStringLiteral("failed"), failed},
        {QStringLiteral("delivered"), delivered},
        {QStringLiteral("terminals"), terminals},
    };
    if (!in.package.isEmpty())
        root.insert(QStringLiteral("package"), in.package);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<QString> writeReport(const QString& path, const QByteArray& json)
{
    if (path == QLatin1String("-")) {
        if (std::fwrite(json.constData(), 1, size_t(json.size()), stdout) != size_t(json.size()) ||
            std::fflush(stdout) != 0)
            return QStringLiteral("the report could not be written to standard output");
        return std::nullopt;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit())
        return QStringLiteral("the report could not be written to '%1': %2")
            .arg(path, file.errorString());
    return std::nullopt;
}

} // namespace tk::push
