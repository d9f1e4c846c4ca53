#include "core/bcastlist.h"

#include "core/bcastrecord.h"
#include "core/qsf.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tk::bcast {

namespace {
constexpr char kDLE = '\x10';
} // namespace

std::string escapeField(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (const char c : field) {
        char letter = 0;
        switch (c) {
        case '"': letter = 'q'; break;
        case '\r': letter = 'r'; break;
        case '\n': letter = 'n'; break;
        case kRS: letter = 's'; break;
        case kDLE: letter = 'e'; break;
        default: out += c; continue;
        }
        out += kDLE;
        out += letter;
    }
    return out;
}

std::string unescapeField(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == kDLE && i + 1 < field.size()) {
            char c = 0;
            switch (field[i + 1]) {
            case 'q': c = '"'; break;
            case 'r': c = '\r'; break;
            case 'n': c = '\n'; break;
            case 's': c = kRS; break;
            case 'e': c = kDLE; break;
            default: break;
            }
            if (c) {
                out += c;
                ++i;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::string writeSavedRows(const std::vector<SavedRow>& rows)
{
    std::string out;
    for (const auto& row : rows) {
        out += '"';
        out += escapeField(row.serial);
        out += kRS;
        out += escapeField(row.address);
        out += kRS;
        out += escapeField(row.lastBcast);
        out += kRS;
        out += escapeField(row.discretionary);
        out += kRS;
        out += escapeField(row.record);
        out += "\"\r\n";
    }
    return out;
}

namespace {

// One value of the file as a row; false when it is not a usable one.
bool rowFromValue(std::string_view value, SavedRow& row)
{
    if (value.empty())
        return false;
    const auto f = splitFields(value, kRS);
    if (f.size() != 5)
        return false;
    row = {unescapeField(f[0]), unescapeField(f[1]), unescapeField(f[2]), unescapeField(f[3]),
           unescapeField(f[4])};
    for (const std::string* field :
         {&row.serial, &row.address, &row.lastBcast, &row.discretionary, &row.record}) {
        if (field->size() > kMaxRecordBytes)
            return false;
    }
    return true;
}

} // namespace

std::vector<SavedRow> savedRowsFromValues(const std::vector<std::string>& values)
{
    std::vector<SavedRow> rows;
    SavedRow row;
    for (const auto& value : values) {
        if (rows.size() >= kMaxRows)
            break;
        if (rowFromValue(value, row))
            rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<SavedRow> readSavedRows(std::string_view file)
{
    qsf::Reader reader(file.substr(0, kMaxSavedListBytes));
    std::vector<SavedRow> rows;
    std::string value;
    SavedRow row;
    while (rows.size() < kMaxRows && reader.next(value)) {
        if (rowFromValue(value, row))
            rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<WindowSize> parseWindowSize(std::string_view text)
{
    const auto parts = splitFields(text, ',');
    if (parts.size() != 2)
        return std::nullopt;
    const auto side = [](std::string_view part) {
        return std::clamp(leadingNumber(part), 0.0, kMaxWindowTwips);
    };
    return WindowSize{side(parts[0]), side(parts[1])};
}

namespace {

std::string singleText(double v)
{
    char buf[64]; // the largest float in plain digits takes 40
    // Plain digits, never an exponent: the shortest form of a round number
    // such as 300000 would be "3e+05", which reads back as 3.
    const auto r =
        std::to_chars(buf, buf + sizeof buf, static_cast<float>(v), std::chars_format::fixed);
    return std::string(buf, r.ptr);
}

} // namespace

std::string formatWindowSize(double width, double height)
{
    return singleText(width) + "," + singleText(height);
}

std::string formatColumnOrder(const std::vector<ColumnLayout>& columns)
{
    std::string out;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i)
            out += ',';
        out += std::to_string(columns[i].position) + ";" + std::to_string(columns[i].width);
    }
    return out;
}

std::vector<std::optional<ColumnLayout>> parseColumnOrder(std::string_view text,
                                                          std::size_t columns)
{
    std::vector<std::optional<ColumnLayout>> out;
    if (text.empty())
        return out;
    for (const auto entry : splitFields(text, ',')) {
        if (out.size() >= columns)
            break;
        const auto parts = splitFields(entry, ';');
        if (parts.size() != 2) {
            out.emplace_back();
            continue;
        }
        const double pos = leadingNumber(parts[0]);
        const double width = leadingNumber(parts[1]);
        if (pos < 1 || pos > static_cast<double>(columns) || width < 0 || width > 1e6) {
            out.emplace_back();
            continue;
        }
        out.push_back(ColumnLayout{static_cast<int>(pos), static_cast<int>(std::lround(width))});
    }
    return out;
}

SortState nextSortState(const SortState& now, int clickedColumn)
{
    if (now.sorted && now.column == clickedColumn) {
        if (now.ascending)
            return {true, clickedColumn, false};
        return {false, clickedColumn, true};
    }
    return {true, clickedColumn, true};
}

std::string sortCaption(std::string_view key, int column, const SortState& state)
{
    std::string caption(key);
    if (state.sorted && state.column == column)
        caption += state.ascending ? " >" : " <";
    return caption;
}

} // namespace tk::bcast
