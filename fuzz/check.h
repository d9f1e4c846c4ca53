#pragma once
// Property checks for the fuzz targets: a broken property aborts, which
// libFuzzer reports with the input that broke it.
#include "core/bcastrecord.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond);       \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

inline std::string_view bytes(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// The input cut into pieces at a separator byte (empty pieces kept).
inline std::vector<std::string> pieces(std::string_view text, char separator)
{
    std::vector<std::string> out;
    for (const auto piece : tk::bcast::splitFields(text, separator))
        out.emplace_back(piece);
    return out;
}

} // namespace fuzz
