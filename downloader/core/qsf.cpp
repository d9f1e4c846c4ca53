#include "core/qsf.h"

namespace tk::qsf {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

} // namespace

// Steps over the comma or line end that ends a value (CR LF counts as one).
void Reader::skipSeparator()
{
    if (atEnd())
        return;
    const char c = m_text[m_pos++];
    if (c == '\r' && m_pos < m_text.size() && m_text[m_pos] == '\n')
        ++m_pos;
}

bool Reader::next(std::string& value)
{
    value.clear();
    if (atEnd())
        return false;
    while (m_pos < m_text.size() && isBlank(m_text[m_pos]))
        ++m_pos;
    if (m_pos < m_text.size() && m_text[m_pos] == '"') {
        const auto close = m_text.find('"', m_pos + 1);
        const auto end = close == std::string_view::npos ? m_text.size() : close;
        value.assign(m_text.substr(m_pos + 1, end - m_pos - 1));
        m_pos = end == m_text.size() ? end : end + 1;
        while (m_pos < m_text.size() && m_text[m_pos] != ',' && !isLineEnd(m_text[m_pos]))
            ++m_pos;
    } else {
        const auto start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != ',' && !isLineEnd(m_text[m_pos]))
            ++m_pos;
        value.assign(m_text.substr(start, m_pos - start));
    }
    skipSeparator();
    return true;
}

std::vector<std::string> readValues(std::string_view text, std::size_t most)
{
    std::vector<std::string> values;
    Reader reader(text);
    std::string value;
    while (values.size() < most && reader.next(value))
        values.push_back(value);
    return values;
}

std::string writeLines(const std::vector<std::string>& values)
{
    std::string text;
    for (const auto& v : values) {
        text += v;
        text += "\r\n";
    }
    return text;
}

} // namespace tk::qsf
