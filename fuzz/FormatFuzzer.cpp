// Feeds arbitrary format strings and arguments to the formatter: it must never crash, read
// out of range or allocate without bound, whatever the placeholders say.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "support/Format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view format = input.substr(0, split);
    const std::string_view rest = split == std::string_view::npos ? "" : input.substr(split + 1);

    std::int64_t integer = 0;
    double floating = 0;
    std::memcpy(&integer, rest.data(), std::min(rest.size(), sizeof integer));
    std::memcpy(&floating, rest.data(), std::min(rest.size(), sizeof floating));
    const pelkora::FormatArgument arguments[] = {rest, integer, static_cast<std::uint64_t>(integer),
                                                 floating, !rest.empty()};
    const std::size_t count = rest.empty() ? 0 : static_cast<unsigned char>(rest[0]) % 6;
    pelkora::formatString(format, std::span(arguments, count));
    return 0;
}
