// Feeds arbitrary bytes to the zip reader: opening must succeed or fail with a code, and every
// entry of an opened archive must read, stream and check without reading out of bounds.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "input/zip/ZipArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelkora;
    auto archive = ZipArchive::archiveWithData(std::vector<std::uint8_t>(data, data + size));
    if (!archive) return 0;
    for (const auto& entry : (*archive)->entries()) {
        (void)entry->fileName();
        (void)entry->lastModified();
        (void)entry->check();
        (void)entry->newData();
        (void)entry->newDataWithPassword("password");
        if (auto stream = entry->newStream()) {
            std::uint8_t buffer[4096];
            while ((*stream)->read(buffer, sizeof buffer) > 0) {
            }
        }
    }
    return 0;
}
