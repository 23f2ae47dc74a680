// Feeds arbitrary bytes to the keyed-archive decoder. Whatever decodes must encode and decode
// again; the second generation must be a fixed point, and when nothing was lost to the binary
// writer's limits (a NUL ends a string) or to NaN (which equals nothing), the first too.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "propertylist/KeyedArchive.h"

namespace {

using pelkora::ArchivedObject;
using pelkora::ArchiveValue;

bool hasNul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

// Whether the value survives encoding unchanged and equals itself; each shared object is
// looked at once.
bool isFaithful(const ArchiveValue& value, std::set<const ArchivedObject*>& seen) {
    if (const auto* real = value.realValue()) return !std::isnan(*real);
    if (const auto* real = value.inlineDoubleValue()) return !std::isnan(real->value);
    if (const auto* text = value.stringValue()) return !hasNul(*text);
    if (const auto* elements = value.arrayValue()) {
        for (const auto& element : *elements) {
            if (!isFaithful(element, seen)) return false;
        }
    }
    if (const auto* entries = value.dictionaryValue()) {
        for (const auto& [key, element] : *entries) {
            if (hasNul(key) || !isFaithful(element, seen)) return false;
        }
    }
    if (const auto* object = value.objectValue(); object != nullptr && seen.insert(object).second) {
        for (const auto& name : object->classChain) {
            if (hasNul(name)) return false;
        }
        for (const auto& [key, field] : object->fields) {
            if (hasNul(key) || !isFaithful(field, seen)) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelkora;
    static const KeyedArchiveClassMap classes = [] {
        KeyedArchiveClassMap map;
        map.classes = {"SavedMapping", "MappedContactProperty", "SuggestedContactProperty"};
        map.aliases.emplace("QvDateFormat", "DateFormat");
        return map;
    }();
    const auto decoded = decodeKeyedArchive({reinterpret_cast<const char*>(data), size}, classes);
    if (!decoded) return 0;
    const auto first = encodeKeyedArchive(*decoded);
    const auto again = decodeKeyedArchive(first, classes);
    if (!again) __builtin_trap();
    const auto second = encodeKeyedArchive(*again);
    const auto third = decodeKeyedArchive(second, classes);
    if (!third || encodeKeyedArchive(*third) != second) __builtin_trap();

    std::set<const ArchivedObject*> seen;
    if (isFaithful(*decoded, seen) && (!(*again == *decoded) || second != first)) {
        __builtin_trap();
    }
    return 0;
}
