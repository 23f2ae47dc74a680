#include <algorithm>
#include <cstring>

#include "input/zip/ZipStreams_p.h"
#include "platform/Inflate.h"

namespace pelkora::zip_detail {

namespace {

// The CRC-32 table (reflected polynomial 0xEDB88320) the traditional cipher steps its keys with.
constexpr std::array<std::uint32_t, 256> crcTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t index = 0; index < 256; ++index) {
        std::uint32_t value = index;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
        table[index] = value;
    }
    return table;
}();

std::uint32_t crcStep(std::uint32_t crc, std::uint8_t byte) {
    return (crc >> 8) ^ crcTable[(crc ^ byte) & 0xff];
}

}  // namespace

std::size_t SpanInputStream::read(std::uint8_t* buffer, std::size_t capacity) {
    const std::size_t count = std::min(capacity, bytes_.size());
    if (count > 0) std::memcpy(buffer, bytes_.data(), count);
    bytes_ = bytes_.subspan(count);
    return count;
}

TraditionalKeys::TraditionalKeys(std::string_view password) {
    for (const char character : password) update(static_cast<std::uint8_t>(character));
}

void TraditionalKeys::update(std::uint8_t plainByte) {
    key0_ = crcStep(key0_, plainByte);
    key1_ = (key1_ + (key0_ & 0xff)) * 134775813u + 1;
    key2_ = crcStep(key2_, static_cast<std::uint8_t>(key1_ >> 24));
}

std::uint8_t TraditionalKeys::decrypt(std::uint8_t cipherByte) {
    const std::uint32_t temporary = (key2_ | 2) & 0xffff;
    const auto plainByte =
        static_cast<std::uint8_t>(cipherByte ^ ((temporary * (temporary ^ 1)) >> 8));
    update(plainByte);
    return plainByte;
}

std::size_t TraditionalDecryptingStream::read(std::uint8_t* buffer, std::size_t capacity) {
    const std::size_t count = upstream_->read(buffer, capacity);
    for (std::size_t index = 0; index < count; ++index)
        buffer[index] = keys_.decrypt(buffer[index]);
    return count;
}

std::size_t AesDecryptingStream::read(std::uint8_t* buffer, std::size_t capacity) {
    const std::size_t count = upstream_->read(buffer, capacity);
    cipher_->apply({buffer, count});
    return count;
}

std::size_t CrcCheckingStream::read(std::uint8_t* buffer, std::size_t capacity) {
    if (ended_ || capacity == 0) return 0;
    const std::size_t count = upstream_->read(buffer, capacity);
    if (count > 0) {
        size_ += count;
        crc_ = updateCrc32(crc_, {buffer, count});
        return count;
    }
    ended_ = true;
    if (!upstream_->error() &&
        (size_ != expectedSize_ || (expectedCrc_ && crc_ != *expectedCrc_))) {
        error_ = std::make_error_code(std::errc::illegal_byte_sequence);
    }
    return 0;
}

std::error_code CrcCheckingStream::error() const {
    if (const auto upstream = upstream_->error()) return upstream;
    return error_;
}

}  // namespace pelkora::zip_detail
