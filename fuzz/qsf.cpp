// The ".qsf" value reader and writer.
#include "core/qsf.h"
#include "check.h"

using namespace tk::qsf;

namespace {

// A value the unquoted one-per-line form carries unchanged.
bool plain(const std::string& v)
{
    if (!v.empty() && (v[0] == ' ' || v[0] == '\t' || v[0] == '"'))
        return false;
    return v.find_first_of(",\r\n") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = fuzz::bytes(data, size);
    const auto values = readValues(text);
    // Every value takes at least one byte of input, and no value is longer
    // than the input.
    std::size_t total = 0;
    for (const auto& v : values)
        total += v.size();
    FUZZ_CHECK(values.size() <= size);
    FUZZ_CHECK(total <= size);

    // The reader one value at a time gives the same values, and a limit is kept.
    Reader reader(text);
    std::string v;
    std::size_t n = 0;
    while (reader.next(v)) {
        FUZZ_CHECK(n < values.size() && v == values[n]);
        ++n;
    }
    FUZZ_CHECK(n == values.size() && v.empty());
    const std::size_t most = size % 7;
    FUZZ_CHECK(readValues(text, most).size() == std::min(most, values.size()));

    // Values the written form can carry come back exactly.
    std::vector<std::string> plainValues;
    for (const auto& value : values) {
        if (plain(value) && !value.empty())
            plainValues.push_back(value);
    }
    const std::string written = writeLines(plainValues);
    FUZZ_CHECK(readValues(written) == plainValues);
    return 0;
}
