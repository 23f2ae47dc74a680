// The shipped vocabulary, compiled into the program from ContactPropertyStrings.tsv.

#include "mapping/StringMap.h"
#include "support/Logger.h"

namespace pelkora {
namespace resources {
extern const unsigned char kContactPropertyStrings[];
extern const std::size_t kContactPropertyStringsSize;
}  // namespace resources

const StringMap& vendorStringMap() {
    static const StringMap entries = [] {
        auto decoded = unarchiveStringMap(vendorStringMapArchive());
        if (!decoded) {
            writeLog(LogType::error,
                     "Cannot unarchive vendor string map: unarchiver.decodeObject() returned nil");
            writeLog(LogType::error, "%{public}@", decoded.error());
            return StringMap{};
        }
        return std::move(decoded).value();
    }();
    return entries;
}

std::string_view vendorStringMapArchive() {
    return {reinterpret_cast<const char*>(resources::kContactPropertyStrings),
            resources::kContactPropertyStringsSize};
}

}  // namespace pelkora
