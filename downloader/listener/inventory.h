#pragma once
// The list of terminals heard, as a file: JSON (an array of objects) or CSV
// (a header line, then one line per terminal). tk650push --inventory and the
// listener window's Export write it through this one writer.
#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace tk {

struct InventoryEntry {
    QString address;
    QString serial;    // used when the record is not one (a row restored without it)
    QByteArray record; // the terminal's last broadcast or "WHO:" reply, as received
};

enum class InventoryFormat { Json, Csv };

// "json" or "csv" (any case); nothing for another word.
std::optional<InventoryFormat> inventoryFormatNamed(const QString& name);

QByteArray inventoryBytes(const std::vector<InventoryEntry>& entries, InventoryFormat format);

// Writes through a temporary file renamed into place, so a half-written
// inventory never stands under that name. A message when it failed.
std::optional<QString> writeInventory(const QString& path,
                                      const std::vector<InventoryEntry>& entries,
                                      InventoryFormat format);

} // namespace tk
