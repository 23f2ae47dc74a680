// Parses arbitrary bytes as JSON: never a crash, however deep or damaged; and a string written
// from the input, when that is well-formed UTF-8, reads back byte for byte.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/Json.h"
#include "support/Utf8.h"

namespace {

bool isWellFormed(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length = pelkora::utf8::wellFormedSequenceLength(text);
        if (length == 0) return false;
        text.remove_prefix(length);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    (void)pelkora::json::parse(input);
    if (isWellFormed(input)) {
        const auto read = pelkora::json::parse(pelkora::json::quoted(input));
        if (!read || read->string != input) std::abort();
    }
    return 0;
}
