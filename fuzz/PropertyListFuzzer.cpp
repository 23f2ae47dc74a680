// Feeds arbitrary bytes to the property-list decoder; whatever decodes must encode and
// decode again in both formats, and XML encoding must be stable across a round trip.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "propertylist/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelkora;
    auto decoded = decodePropertyList({reinterpret_cast<const char*>(data), size});
    if (!decoded) return 0;
    const auto xml = encodePropertyList(*decoded, PropertyListFormat::xml);
    auto again = decodePropertyList(xml);
    if (!again || encodePropertyList(*again, PropertyListFormat::xml) != xml) __builtin_trap();
    if (!decodePropertyList(encodePropertyList(*decoded, PropertyListFormat::binary)))
        __builtin_trap();
    return 0;
}
