#pragma once
// The ".qsf" text format of the program's own folder ("savedsettings.qsf",
// "pdtpath.qsf", "bcastlist.qsf"): single-byte text, one value per line when
// written, read value by value. Bytes in, bytes out; no file access here.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tk::qsf {

// Reads values one at a time, the way the files have always been read:
// - leading blanks (spaces and tabs) of a value are skipped;
// - an unquoted value ends at a comma or at the end of its line (CR LF, LF or CR)
//   and keeps everything before it, trailing blanks included;
// - a value that starts with a double quote runs to the next double quote,
//   commas and line breaks included, and is taken without the quotes; anything
//   after the closing quote up to the next comma or line end is dropped;
// - an empty line gives one empty value; the line end after the last value
//   does not start another one.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    // The next value into `value`; false (and `value` cleared) at the end of the text.
    bool next(std::string& value);

private:
    void skipSeparator();

    std::string_view m_text;
    std::size_t m_pos = 0;
};

// Every value of the text, or at most `most` of them.
std::vector<std::string> readValues(std::string_view text,
                                    std::size_t most = static_cast<std::size_t>(-1));

// The file as the program writes it: each value on its own line ending in CR LF,
// without quotes.
std::string writeLines(const std::vector<std::string>& values);

} // namespace tk::qsf
