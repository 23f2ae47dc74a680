// Feeds arbitrary bytes to the keyed-archive decoder. Whatever decodes must encode and decode
// again; the second generation must be a fixed point, and when nothing was lost to the binary
// writer's limits (a NUL ends a string) or to NaN (which equals nothing), the first too.
// The same bytes are read as a list of saved mappings, which must archive and read back too.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "mapping/SavedMapping.h"
#include "propertylist/KeyedArchive.h"
#include "support/Logger.h"

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

// Mappings that were read must archive and read back; from the second generation on nothing
// changes (the first may lose what the binary writer cannot keep, a NUL in a string).
void checkSavedMappings(std::string_view bytes) {
    using namespace pelkora;
    const auto mappings = unarchiveSavedMappings(bytes);
    if (!mappings) return;
    const auto again = unarchiveSavedMappings(archiveSavedMappings(*mappings));
    if (!again) __builtin_trap();
    const auto third = unarchiveSavedMappings(archiveSavedMappings(*again));
    if (!third || !(*third == *again)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelkora;
    // Unknown classes are logged; echoing every entry would be most of the time spent.
    static const bool quiet = [] {
        Logger::shared().setEcho({});
        return true;
    }();
    (void)quiet;
    checkSavedMappings({reinterpret_cast<const char*>(data), size});
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
