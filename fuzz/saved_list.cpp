// "bcastlist.qsf" and the listener's store values: what is read from them
// is written back and read again exactly.
#include "check.h"
#include "core/bcastlist.h"

#include <cmath>

using namespace tk::bcast;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = fuzz::bytes(data, size);

    // The saved list: read, write, read again gives the same rows.
    const auto rows = readSavedRows(text);
    FUZZ_CHECK(rows.size() <= kMaxRows);
    const std::string file = writeSavedRows(rows);
    FUZZ_CHECK(readSavedRows(file) == rows);
    // Writing at most doubles a byte (escaping) plus four bytes per field.
    std::size_t fieldBytes = 0;
    for (const auto& r : rows)
        fieldBytes += r.serial.size() + r.address.size() + r.lastBcast.size() +
                      r.discretionary.size() + r.record.size();
    FUZZ_CHECK(file.size() <= 2 * fieldBytes + 8 * rows.size());
    FUZZ_CHECK(fieldBytes <= size);

    // Any bytes survive escaping.
    FUZZ_CHECK(unescapeField(escapeField(text)) == text);

    // The window size: held to its range, and written as it is read.
    if (const auto s = parseWindowSize(text)) {
        FUZZ_CHECK(s->width >= 0 && s->width <= kMaxWindowTwips);
        FUZZ_CHECK(s->height >= 0 && s->height <= kMaxWindowTwips);
        const std::string again = formatWindowSize(s->width, s->height);
        const auto t = parseWindowSize(again);
        FUZZ_CHECK(t);
        FUZZ_CHECK(formatWindowSize(t->width, t->height) == again);
    }

    // The column layout: at most one entry per column, written and read back the same.
    const auto layout = parseColumnOrder(text, 5);
    FUZZ_CHECK(layout.size() <= 5);
    std::vector<ColumnLayout> present;
    for (const auto& entry : layout) {
        if (!entry)
            break;
        FUZZ_CHECK(entry->position >= 1 && entry->position <= 5);
        present.push_back(*entry);
    }
    const auto back = parseColumnOrder(formatColumnOrder(present), 5);
    FUZZ_CHECK(back.size() == present.size());
    for (std::size_t i = 0; i < back.size(); ++i)
        FUZZ_CHECK(back[i] && back[i]->position == present[i].position &&
                   back[i]->width == present[i].width);

    // Header clicks: the column named by the first byte, three clicks come back.
    if (size >= 1) {
        const int column = data[0] % 5;
        SortState s;
        for (int i = 0; i < 3; ++i)
            s = nextSortState(s, column);
        FUZZ_CHECK(!s.sorted);
    }
    return 0;
}
