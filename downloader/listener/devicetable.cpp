#include "listener/devicetable.h"

#include "core/bcastrecord.h"

#include <QTimer>
#include <algorithm>
#include <numeric>

namespace tk {

namespace {

const char* const kColumnKeys[DeviceTable::kColumns] = {"Serial Number", "IP Address", "Status",
                                                        "Discretionary", "Last Bcast"};
const int kColumnWidths[DeviceTable::kColumns] = {1300, 1200, 2000, 2000, 2000};

std::string bytesOf(const QString& s)
{
    return s.toLatin1().toStdString();
}

QString textOf(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

const QString& cell(const DeviceRow& r, int column)
{
    switch (column) {
    case DeviceTable::colSerial: return r.serial;
    case DeviceTable::colAddress: return r.address;
    case DeviceTable::colStatus: return r.status;
    case DeviceTable::colDiscretionary: return r.discretionary;
    default: return r.lastBcast;
    }
}

QString& cell(DeviceRow& r, int column)
{
    return const_cast<QString&>(cell(static_cast<const DeviceRow&>(r), column));
}

} // namespace

QString DeviceTable::columnKey(int column)
{
    return column >= 0 && column < kColumns ? QString::fromLatin1(kColumnKeys[column]) : QString();
}

int DeviceTable::designWidth(int column)
{
    return column >= 0 && column < kColumns ? kColumnWidths[column] : 0;
}

DeviceTable::DeviceTable(QObject* parent) : QAbstractTableModel(parent) {}

int DeviceTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

int DeviceTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant DeviceTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count() || role != Qt::DisplayRole)
        return {};
    return cell(at(index.row()), index.column());
}

QVariant DeviceTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kColumns)
        return QAbstractTableModel::headerData(section, orientation, role);
    return textOf(bcast::sortCaption(kColumnKeys[section], section, m_sort));
}

int DeviceTable::ensure(const QString& serial)
{
    const int existing = rowOf(serial);
    if (existing >= 0 || isFull())
        return existing;
    const int row = count();
    beginInsertRows({}, row, row);
    DeviceRow r;
    r.serial = serial;
    m_rows.push_back(std::move(r));
    m_index.insert(serial, row);
    endInsertRows();
    emit countChanged();
    keepSorted();
    return row;
}

void DeviceTable::setText(int row, int column, const QString& text)
{
    if (row < 0 || row >= count() || column <= colSerial || column >= kColumns)
        return;
    QString& c = cell(m_rows[static_cast<std::size_t>(row)], column);
    if (c == text)
        return;
    c = text;
    emit dataChanged(index(row, column), index(row, column));
    if (m_sort.sorted && column == m_sort.column)
        keepSorted();
}

void DeviceTable::setRecord(int row, const QString& record)
{
    if (row >= 0 && row < count())
        m_rows[static_cast<std::size_t>(row)].record = record;
}

void DeviceTable::setStatus(const QString& serial, const QString& status)
{
    setText(rowOf(serial), colStatus, status);
}

void DeviceTable::remove(const QStringList& serials)
{
    std::vector<int> rows;
    for (const QString& s : serials)
        if (const int r = rowOf(s); r >= 0)
            rows.push_back(r);
    if (rows.empty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        beginRemoveRows({}, *it, *it);
        m_index.remove(m_rows[static_cast<std::size_t>(*it)].serial);
        m_rows.erase(m_rows.begin() + *it);
        endRemoveRows();
    }
    reindex(static_cast<std::size_t>(rows.front()));
    emit countChanged();
}

void DeviceTable::clear()
{
    beginResetModel();
    m_rows.clear();
    m_index.clear();
    endResetModel();
    emit countChanged();
}

std::optional<QString> DeviceTable::applyBroadcast(const QString& address,
                                                   const QByteArray& datagram, const QString& now)
{
    if (address.isEmpty() || datagram.isEmpty())
        return std::nullopt;
    const auto serial = bcast::recordSerial(datagram.toStdString());
    if (!serial)
        return std::nullopt;
    const QString key = textOf(*serial);
    const bool known = rowOf(key) >= 0;
    const int row = ensure(key);
    if (row < 0)
        return std::nullopt; // the table is full
    setRecord(row, QString::fromLatin1(datagram));
    setText(row, colAddress, address);
    // A known row keeps its last status until its own probe starts.
    if (!known)
        setText(row, colStatus, QStringLiteral("Refreshing..."));
    setText(rowOf(key), colLastBcast, now);
    return key;
}

bool DeviceTable::applyProbeReply(const QByteArray& reply)
{
    const auto decoded = bcast::decodeProbeReply(reply.toStdString());
    if (!decoded.serial)
        return decoded.answered;
    const QString key = textOf(*decoded.serial);
    const int row = ensure(key);
    if (row < 0) {
        emit countChanged(); // the table is full: the count says so
        return decoded.answered;
    }
    setRecord(row, QString::fromLatin1(reply));
    if (decoded.discretionary)
        setText(row, colDiscretionary, textOf(*decoded.discretionary));
    return decoded.answered;
}

void DeviceTable::restore(const QByteArray& savedList)
{
    for (const auto& saved : bcast::readSavedRows(
             std::string_view(savedList.constData(), static_cast<std::size_t>(savedList.size())))) {
        const QString serial = textOf(saved.serial);
        const int row = ensure(serial);
        if (row < 0)
            break; // the table is full
        setText(row, colAddress, textOf(saved.address));
        setText(rowOf(serial), colLastBcast, textOf(saved.lastBcast));
        setText(rowOf(serial), colDiscretionary, textOf(saved.discretionary));
        setRecord(rowOf(serial), textOf(saved.record));
    }
}

QByteArray DeviceTable::savedList() const
{
    std::vector<bcast::SavedRow> rows;
    rows.reserve(m_rows.size());
    for (const DeviceRow& r : m_rows)
        rows.push_back({bytesOf(r.serial), bytesOf(r.address), bytesOf(r.lastBcast),
                        bytesOf(r.discretionary), bytesOf(r.record)});
    const std::string bytes = bcast::writeSavedRows(rows);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void DeviceTable::sortByColumn(int column)
{
    if (column < 0 || column >= kColumns)
        return;
    const bcast::SortState old = m_sort;
    m_sort = bcast::nextSortState(old, column);
    emit headerDataChanged(Qt::Horizontal, std::min(old.column, column),
                           std::max(old.column, column));
    if (m_sort.sorted)
        sortNow();
}

void DeviceTable::keepSorted()
{
    if (!m_sort.sorted || m_resortQueued)
        return;
    m_resortQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_resortQueued = false;
        if (m_sort.sorted)
            sortNow();
    });
}

// Cell texts compared as text, case-sensitive; equal rows keep their order.
void DeviceTable::sortNow()
{
    const int column = m_sort.column;
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    const auto less = [&](int a, int b) {
        const int c = QString::compare(cell(at(a), column), cell(at(b), column));
        return m_sort.ascending ? c < 0 : c > 0;
    };
    if (std::is_sorted(order.begin(), order.end(), less))
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::stable_sort(order.begin(), order.end(), less);
    std::vector<int> newRowOf(order.size());
    std::vector<DeviceRow> sorted;
    sorted.reserve(m_rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[static_cast<std::size_t>(order[i])]));
    }
    m_rows.swap(sorted);
    reindex();
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after << index(newRowOf[static_cast<std::size_t>(i.row())], i.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DeviceTable::reindex(std::size_t from)
{
    for (std::size_t i = from; i < m_rows.size(); ++i)
        m_index.insert(m_rows[i].serial, static_cast<int>(i));
}

} // namespace tk
