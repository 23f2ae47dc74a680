#include "input/zip/ZipChannel.h"

#include <system_error>

namespace pelkora {

Expected<std::span<const std::uint8_t>, FileError> ZipFileChannel::newInput() {
    if (!mapping_) {
        auto mapped = MappedFile::open(path_);
        if (!mapped) return Unexpected(mapped.error());
        mapping_.emplace(std::move(*mapped));
    }
    return mapping_->bytes();
}

Expected<std::span<const std::uint8_t>, FileError> ZipDataChannel::newInput() {
    if (data_.empty()) {
        const auto code = std::make_error_code(std::errc::no_such_file_or_directory);
        return Unexpected(FileError::make(FileAccess::reading, "(data in memory)", code));
    }
    return std::span<const std::uint8_t>(data_);
}

}  // namespace pelkora
