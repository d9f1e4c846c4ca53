#include "listener/inventory.h"

#include "core/bcastrecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <string_view>

namespace tk {

namespace {

// Record bytes are single-byte text.
QString text(const std::string& s)
{
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

struct Columns {
    QString address, serial, model, rootFs, kernel;
    QStringList packages;
    QStringList keyStatus; // empty: unknown
};

Columns columnsOf(const InventoryEntry& e)
{
    Columns c;
    c.address = e.address;
    c.serial = e.serial;
    const auto fields =
        bcast::recordFields(std::string_view(e.record.constData(), size_t(e.record.size())));
    if (!fields)
        return c;
    c.serial = text(fields->serial);
    c.model = text(fields->model);
    c.rootFs = text(fields->rootFs);
    c.kernel = text(fields->kernel);
    for (const auto& p : fields->packages)
        c.packages << text(p);
    for (const auto& k : fields->keyStatus)
        c.keyStatus << text(k);
    return c;
}

QByteArray json(const std::vector<InventoryEntry>& entries)
{
    QJsonArray terminals;
    for (const auto& e : entries) {
        const Columns c = columnsOf(e);
        terminals.append(QJsonObject{
            {QStringLiteral("address"), c.address},
            {QStringLiteral("serial"), c.serial},
            {QStringLiteral("model"), c.model},
            {QStringLiteral("rootFileSystem"), c.rootFs},
            {QStringLiteral("kernel"), c.kernel},
            {QStringLiteral("packages"), QJsonArray::fromStringList(c.packages)},
            // null: the terminal did not say (key status unknown)
            {QStringLiteral("keyStatus"),
             c.keyStatus.isEmpty() ? QJsonValue(QJsonValue::Null)
                                   : QJsonValue(QJsonArray::fromStringList(c.keyStatus))},
        });
    }
    return QJsonDocument(terminals).toJson(QJsonDocument::Indented);
}

// One CSV cell. Quoted when it holds a separator, a quote or a line break.
// Text from the network that a spreadsheet would run as a formula gets a
// leading apostrophe (a negative number stays as it is).
QString cell(QString v)
{
    static const QString formulaStart = QStringLiteral("=+@\t\r");
    if (!v.isEmpty() && (formulaStart.contains(v.front()) ||
                         (v.front() == QLatin1Char('-') && (v.size() < 2 || !v.at(1).isDigit()))))
        v.prepend(QLatin1Char('\''));
    if (v.contains(QLatin1Char(',')) || v.contains(QLatin1Char('"')) ||
        v.contains(QLatin1Char('\n')) || v.contains(QLatin1Char('\r'))) {
        v.replace(QLatin1String("\""), QLatin1String("\"\""));
        v = QLatin1Char('"') + v + QLatin1Char('"');
    }
    return v;
}

QByteArray csv(const std::vector<InventoryEntry>& entries)
{
    QString out =
        QStringLiteral("address,serial,model,rootFileSystem,kernel,packages,keyStatus\r\n");
    for (const auto& e : entries) {
        const Columns c = columnsOf(e);
        // Lists are joined with blanks: package entries are "name;version"
        // and package names carry no blanks.
        const QStringList row{cell(c.address),
                              cell(c.serial),
                              cell(c.model),
                              cell(c.rootFs),
                              cell(c.kernel),
                              cell(c.packages.join(QLatin1Char(' '))),
                              cell(c.keyStatus.join(QLatin1Char(' ')))};
        out += row.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

} // namespace

std::optional<InventoryFormat> inventoryFormatNamed(const QString& name)
{
    if (name.compare(QLatin1String("json"), Qt::CaseInsensitive) == 0)
        return InventoryFormat::Json;
    if (name.compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
        return InventoryFormat::Csv;
    return std::nullopt;
}

QByteArray inventoryBytes(const std::vector<InventoryEntry>& entries, InventoryFormat format)
{
    return format == InventoryFormat::Csv ? csv(entries) : json(entries);
}

std::optional<QString> writeInventory(const QString& path,
                                      const std::vector<InventoryEntry>& entries,
                                      InventoryFormat format)
{
    const QByteArray bytes = inventoryBytes(entries, format);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("the inventory could not be written to '%1': %2")
            .arg(path, file.errorString());
    return std::nullopt;
}

} // namespace tk
