#pragma once
// What the broadcast listener keeps across restarts, as bytes: the saved
// device list "bcastlist.qsf" and the store values for the window size and
// the column layout; plus the rule of its sortable column headers.
#include "core/bcastrecord.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tk::bcast {

inline constexpr char kRS = '\x1e';

// One saved row. The status is not kept: it is found again by a probe.
struct SavedRow {
    std::string serial;
    std::string address;
    std::string lastBcast;
    std::string discretionary;
    std::string record;
    bool operator==(const SavedRow&) const = default;
};

// The file: per row a double quote, the five fields joined by RS, a double
// quote and CR LF. Inside a field, the bytes that would break that line are
// written as DLE (0x10) + a letter: '"' as DLE 'q', CR as DLE 'r', LF as
// DLE 'n', RS as DLE 's', and DLE itself as DLE 'e'. Rows without those five
// bytes are written exactly as they stand.
std::string writeSavedRows(const std::vector<SavedRow>& rows);

// Undoes the escaping above; a DLE not followed by one of the five letters
// is kept as it is.
std::string unescapeField(std::string_view field);
std::string escapeField(std::string_view field);

// Bounds on the saved list. The listener keeps at most kMaxRows rows, so the
// file never holds more; a file that does (written by hand or by something
// else) gives its first kMaxRows good rows. A field longer than
// kMaxRecordBytes (after unescaping) makes its row unusable, like a wrong
// field count. Only the first kMaxSavedListBytes of a file are read: that
// holds kMaxRows rows of the largest the window writes (serial, address and
// time of at most 64 bytes, discretionary and record text of at most
// kMaxRecordBytes, every byte escaped).
inline constexpr std::size_t kMaxRows = 5000;
inline constexpr std::size_t kMaxSavedListBytes =
    kMaxRows * (2 * (2 * kMaxRecordBytes + 3 * kMaxSerialBytes) + 16);

// Rows from the quoted values of the file, in order, at most kMaxRows. Values
// that are empty, that do not split at RS into exactly five fields, or that
// hold a field beyond its bound are skipped.
std::vector<SavedRow> savedRowsFromValues(const std::vector<std::string>& values);

// Rows from the file's bytes (its first kMaxSavedListBytes), read one quoted
// value at a time, as savedRowsFromValues takes them.
std::vector<SavedRow> readSavedRows(std::string_view file);

// "frmBcastSize": width "," height. Nothing unless it splits into exactly two
// parts. Each side is held to 0..kMaxWindowTwips, so any stored text converts
// to an int (and on to pixels) without overflow.
inline constexpr double kMaxWindowTwips = 1'000'000;
struct WindowSize {
    double width = 0;
    double height = 0;
};
std::optional<WindowSize> parseWindowSize(std::string_view text);
std::string formatWindowSize(double width, double height);

// "bCastListOrder": one "position;width" entry per column in index order,
// positions 1-based, joined by ",".
struct ColumnLayout {
    int position = 0;
    int width = 0;
};
std::string formatColumnOrder(const std::vector<ColumnLayout>& columns);
// One entry per column (at most `columns`); an entry that does not hold two
// ";"-separated parts is nullopt.
std::vector<std::optional<ColumnLayout>> parseColumnOrder(std::string_view text,
                                                          std::size_t columns);

// The list's sort state, and what a click on a column header makes of it:
// ascending, then descending, then unsorted.
struct SortState {
    bool sorted = false;
    int column = 0; // 0-based
    bool ascending = true;
    bool operator==(const SortState&) const = default;
};
SortState nextSortState(const SortState& now, int clickedColumn);
// The caption a column shows in a sort state: its key, plus " >" while it is
// the ascending sort column, " <" while descending.
std::string sortCaption(std::string_view key, int column, const SortState& state);

} // namespace tk::bcast
