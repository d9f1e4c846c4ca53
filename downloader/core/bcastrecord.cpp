#include "core/bcastrecord.h"

#include <cmath>

namespace tk::bcast {

std::vector<std::string_view> splitFields(std::string_view text, char separator)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(separator, start);
        if (at == std::string_view::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

namespace {

bool hasControlByte(std::string_view text)
{
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f)
            return true;
    }
    return false;
}

std::optional<std::string> serialOf(std::string_view record,
                                    const std::vector<std::string_view>& fields)
{
    if (record.size() > kMaxRecordBytes || fields.size() < 4 || fields[1].size() > kMaxSerialBytes)
        return std::nullopt;
    for (std::size_t i = 0; i < fields.size() && i <= 4; ++i) {
        if (hasControlByte(fields[i]))
            return std::nullopt;
    }
    return std::string(fields[1]);
}

} // namespace

std::optional<std::string> recordSerial(std::string_view record)
{
    if (record.size() > kMaxRecordBytes)
        return std::nullopt;
    return serialOf(record, splitFields(record, kFS));
}

std::optional<RecordFields> recordFields(std::string_view record)
{
    if (record.size() > kMaxRecordBytes)
        return std::nullopt;
    const auto fields = splitFields(record, kFS);
    auto serial = serialOf(record, fields);
    if (!serial)
        return std::nullopt;
    const auto field = [&](std::size_t i) {
        return i < fields.size() ? std::string(fields[i]) : std::string();
    };
    const auto list = [&](std::size_t i) {
        std::vector<std::string> out;
        if (i < fields.size() && !fields[i].empty())
            for (const auto entry : splitFields(fields[i], kGS))
                out.emplace_back(entry);
        return out;
    };
    RecordFields r;
    r.serial = std::move(*serial);
    r.model = field(2);
    r.rootFs = field(3);
    r.kernel = field(4);
    r.packages = list(5);
    r.keyStatus = list(7);
    return r;
}

bool recordListsPackage(std::string_view record, std::string_view nameAndVersion)
{
    const auto r = recordFields(record);
    if (!r || nameAndVersion.empty())
        return false;
    for (const std::string& entry : r->packages)
        if (entry == nameAndVersion)
            return true;
    return false;
}

std::string normaliseDiscretionary(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // the LF that follows is kept
        out += text[i];
    }
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

ProbeReply decodeProbeReply(std::string_view text)
{
    ProbeReply reply;
    reply.answered = !text.empty();
    if (text == "OK" || text == "BADARGS")
        return reply;
    if (text.size() > kMaxRecordBytes)
        return reply;
    const auto fields = splitFields(text, kFS);
    reply.serial = serialOf(text, fields);
    if (!reply.serial)
        return reply;
    if (fields.size() >= 7)
        reply.discretionary = normaliseDiscretionary(fields[6]);
    return reply;
}

double leadingNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    double value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 1e15) // far beyond any value used here: more digits change nothing
            value = value * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            value += (text[i] - '0') * scale;
            scale /= 10;
        }
    }
    return negative ? -value : value;
}

std::int16_t keyStatusValue(std::string_view entry)
{
    const double value = std::nearbyint(leadingNumber(entry)); // half to even
    if (value < -32768)
        return -32768;
    if (value > 32767)
        return 32767;
    return static_cast<std::int16_t>(value);
}

namespace {

// The key status list; entries the terminal did not send read as 0.
class KeyList {
public:
    explicit KeyList(std::string_view field) : m_entries(splitFields(field, kGS)) {}
    std::int16_t value(std::size_t i) const
    {
        return i < m_entries.size() ? keyStatusValue(m_entries[i]) : 0;
    }
    bool isSet(std::size_t i) const { return value(i) > 0; }
    bool isFull() const { return m_entries.size() >= 26; }
    std::string_view text(std::size_t i) const
    {
        return i < m_entries.size() ? m_entries[i] : std::string_view();
    }

private:
    std::vector<std::string_view> m_entries;
};

void addLine(std::string& out, std::string_view line)
{
    out += line;
    out += '\n';
}

void addPackages(std::string& out, std::string_view field)
{
    if (field.empty()) {
        addLine(out, "Packages: none");
        return;
    }
    addLine(out, "Packages: ");
    for (const auto entry : splitFields(field, kGS)) {
        std::string line = "   ";
        for (const char c : entry) {
            if (c == ';')
                line += " [";
            else
                line += c;
        }
        line += ']';
        addLine(out, line);
    }
}

void addIppKeys(std::string& out, const KeyList& keys)
{
    std::string lines;
    int count = 0;
    for (int slot = 0; slot <= 9; ++slot) {
        if (!keys.isSet(slot))
            continue;
        ++count;
        addLine(lines, "   MK#" + std::to_string(slot) +
                           (keys.value(slot) == 1 ? ": non ZEKTA" : ": ZEKTA"));
    }
    for (int set = 0; set <= 2; ++set) {
        if (!keys.isSet(10 + set))
            continue;
        ++count;
        if (keys.isFull())
            addLine(lines, "   DUKPT" + std::to_string(set) + " -" +
                               (keys.value(10 + set) == 5 ? "1DES" : "3DES") +
                               "- KSN: " + std::string(keys.text(23 + set)));
    }
    if (count == 0) {
        addLine(out, "IPP Key Status: none");
        return;
    }
    addLine(out, "IPP Key Status:");
    out += lines;
}

void addRklKeys(std::string& out, const KeyList& keys)
{
    if (!keys.isSet(13)) {
        addLine(out, "RKL Key Status: none");
        return;
    }
    const int bits = keys.value(13);
    addLine(out, "RKL Key Status: ");
    addLine(out, bits & 1 ? "   private: installed" : "   private: not installed");
    addLine(out, bits & 2 ? "   public: installed" : "   public: not installed");
}

void addUserKeys(std::string& out, const KeyList& keys)
{
    std::string lines;
    int count = 0;
    for (int e = 14; e <= 22; ++e) {
        if (!keys.isSet(e))
            continue;
        ++count;
        std::string line = e == 14 ? "   root: " : "   usr" + std::to_string(e - 14) + ": ";
        const int bits = keys.value(e);
        for (int b = 0; b <= 9; ++b) {
            if (bits & (1 << b))
                line += "key" + std::to_string(b) + ",";
        }
        addLine(lines, line);
    }
    if (count == 0) {
        addLine(out, "Injected User Key Status: none");
        return;
    }
    addLine(out, "Injected User Key Status:");
    out += lines;
}

} // namespace

std::string deviceDetailsText(const DetailsSource& row)
{
    const auto fields = splitFields(row.record, kFS);
    if (fields.size() < 9)
        return row.record;

    std::string out;
    addLine(out, "S/N: " + row.serial);
    addLine(out, "IP Address: " + row.address);
    addLine(out, "Model: TK " + std::string(fields[2]));
    addLine(out, "Root File System: " + std::string(fields[3]));
    addLine(out, "Kernel: " + std::string(fields[4]));
    addPackages(out, fields[5]);
    if (fields[7].empty()) {
        addLine(out, "Keys Loaded: unknown");
    } else {
        const KeyList keys(fields[7]);
        addIppKeys(out, keys);
        addRklKeys(out, keys);
        addUserKeys(out, keys);
    }
    addLine(out, "");
    addLine(out, "Status: " + row.status);
    addLine(out, "Last Bcast: " + row.lastBcast);
    if (!row.discretionary.empty())
        addLine(out, "Discretionary: " + row.discretionary);
    return out;
}

} // namespace tk::bcast
