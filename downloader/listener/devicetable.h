#pragma once
// The listener's device table without a window: one row per terminal keyed
// by its serial number (exact, case-sensitive), at most bcast::kMaxRows; the
// sort state with its caption markers; the rows of the saved list. A list view
// shows it as a table model.
#include "core/bcastlist.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tk {

// One row of the device table.
struct DeviceRow {
    QString serial;
    QString address;
    QString status;
    QString discretionary;
    QString lastBcast;
    QString record; // the whole last datagram or probe reply, one byte per character
};

class DeviceTable : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { colSerial, colAddress, colStatus, colDiscretionary, colLastBcast, kColumns };
    // The column keys (their plain captions) and design widths in twips.
    static QString columnKey(int column);
    static int designWidth(int column);

    explicit DeviceTable(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int count() const { return static_cast<int>(m_rows.size()); }
    bool isFull() const { return m_rows.size() >= bcast::kMaxRows; }
    const DeviceRow& at(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    // Row of this serial number, -1 if there is none.
    int rowOf(const QString& serial) const { return m_index.value(serial, -1); }
    // The row of this serial number, appended when new; -1 when the table is full.
    int ensure(const QString& serial);
    void setText(int row, int column, const QString& text);
    void setRecord(int row, const QString& record);
    void setStatus(const QString& serial, const QString& status);
    void remove(const QStringList& serials);
    void clear();

    // A datagram from address: the row of its serial number gets the record,
    // the address and the time (a new row "Refreshing..."). The row's serial
    // number (which may be empty), none when the datagram is no record or the
    // table is full.
    std::optional<QString> applyBroadcast(const QString& address, const QByteArray& datagram,
                                          const QString& now);
    // A "WHO:" reply: true when it counts as an answer; a record updates (or
    // adds) its row's record and discretionary text.
    bool applyProbeReply(const QByteArray& reply);

    // The saved list: rows restored (status empty) from the file's bytes, and
    // the bytes of every row in display order.
    void restore(const QByteArray& savedList);
    QByteArray savedList() const;

    // A click on a column header: ascending, descending, unsorted. While
    // sorted, rows changed or added are put in place on the next pass of the
    // event loop; switching sorting off leaves the rows where they are.
    void sortByColumn(int column);
    const bcast::SortState& sortState() const { return m_sort; }

signals:
    // Rows were added or removed.
    void countChanged();

private:
    void reindex(std::size_t from = 0);
    void keepSorted();
    void sortNow();

    std::vector<DeviceRow> m_rows;
    QHash<QString, int> m_index;
    bcast::SortState m_sort;
    bool m_resortQueued = false;
};

} // namespace tk
