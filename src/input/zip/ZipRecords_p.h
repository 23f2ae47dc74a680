#pragma once

// The fixed-layout records of the zip format, read in place from the archive's bytes. All
// fields are little-endian. A record view never owns bytes; it is valid while the archive's
// contents are. Constructing a view does not check its length: the callers check that the
// fixed part fits before making one, and every variable-length part is bounded on access.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pelkora::zip_detail {

inline std::uint16_t readUInt16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t readUInt32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline constexpr std::uint32_t localFileHeaderSignature = 0x04034b50;
inline constexpr std::uint32_t dataDescriptorSignature = 0x08074b50;
inline constexpr std::uint16_t winZipAesExtraId = 0x9901;

inline constexpr std::size_t endOfCentralDirectoryLength = 22;
inline constexpr std::size_t centralFileHeaderLength = 46;
inline constexpr std::size_t localFileHeaderLength = 30;

// general-purpose flag bits
inline constexpr std::uint16_t encryptedFlag = 1 << 0;
inline constexpr std::uint16_t dataDescriptorFlag = 1 << 3;
inline constexpr std::uint16_t strongEncryptionFlag = 1 << 6;
inline constexpr std::uint16_t utf8NameFlag = 1 << 11;

// The end of central directory record at the given address (22 fixed bytes, then the comment).
struct EndOfCentralDirectory {
    const std::uint8_t* bytes;
    std::uint16_t numberOfThisDisk() const { return readUInt16(bytes + 4); }
    std::uint16_t diskOfCentralDirectory() const { return readUInt16(bytes + 6); }
    std::uint16_t entriesOnThisDisk() const { return readUInt16(bytes + 8); }
    std::uint16_t totalEntries() const { return readUInt16(bytes + 10); }
    std::uint32_t centralDirectoryOffset() const { return readUInt32(bytes + 16); }
    std::uint16_t commentLength() const { return readUInt16(bytes + 20); }
};

// A central file header; its name, extra field and comment have been checked to lie within
// the central directory when the archive was opened.
struct ZipCentralFileHeader {
    const std::uint8_t* bytes;
    std::uint8_t versionMadeBy() const { return bytes[4]; }
    std::uint8_t fileAttributeCompatibility() const { return bytes[5]; }
    std::uint16_t versionNeeded() const { return readUInt16(bytes + 6); }
    std::uint16_t flags() const { return readUInt16(bytes + 8); }
    std::uint16_t compressionMethod() const { return readUInt16(bytes + 10); }
    std::uint16_t lastModTime() const { return readUInt16(bytes + 12); }
    std::uint16_t lastModDate() const { return readUInt16(bytes + 14); }
    std::uint32_t crc32() const { return readUInt32(bytes + 16); }
    std::uint32_t compressedSize() const { return readUInt32(bytes + 20); }
    std::uint32_t uncompressedSize() const { return readUInt32(bytes + 24); }
    std::uint16_t fileNameLength() const { return readUInt16(bytes + 28); }
    std::uint16_t extraFieldLength() const { return readUInt16(bytes + 30); }
    std::uint16_t fileCommentLength() const { return readUInt16(bytes + 32); }
    std::uint16_t diskNumberStart() const { return readUInt16(bytes + 34); }
    std::uint32_t externalFileAttributes() const { return readUInt32(bytes + 38); }
    std::uint32_t relativeOffsetOfLocalHeader() const { return readUInt32(bytes + 42); }
    std::span<const std::uint8_t> fileName() const {
        return {bytes + centralFileHeaderLength, fileNameLength()};
    }
    std::span<const std::uint8_t> extraField() const {
        return {bytes + centralFileHeaderLength + fileNameLength(), extraFieldLength()};
    }
    std::size_t totalLength() const {
        return centralFileHeaderLength + fileNameLength() + extraFieldLength() +
               fileCommentLength();
    }
};

// A local file header: only its 30 fixed bytes are known to be inside the archive; the name
// and extra field must be bounded against the archive's end before they are read.
struct ZipLocalFileHeader {
    const std::uint8_t* bytes;
    std::uint32_t signature() const { return readUInt32(bytes); }
    std::uint16_t versionNeeded() const { return readUInt16(bytes + 4); }
    std::uint16_t flags() const { return readUInt16(bytes + 6); }
    std::uint16_t compressionMethod() const { return readUInt16(bytes + 8); }
    std::uint16_t lastModTime() const { return readUInt16(bytes + 10); }
    std::uint16_t lastModDate() const { return readUInt16(bytes + 12); }
    std::uint32_t crc32() const { return readUInt32(bytes + 14); }
    std::uint32_t compressedSize() const { return readUInt32(bytes + 18); }
    std::uint32_t uncompressedSize() const { return readUInt32(bytes + 22); }
    std::uint16_t fileNameLength() const { return readUInt16(bytes + 26); }
    std::uint16_t extraFieldLength() const { return readUInt16(bytes + 28); }
};

// The data of the first block with the id in an extra field, none when there is no such block
// or it claims more bytes than the field holds.
inline std::optional<std::span<const std::uint8_t>> findExtraBlock(
    std::span<const std::uint8_t> extraField, std::uint16_t id) {
    std::size_t offset = 0;
    // Each block needs its 4-byte id and size header inside the field.
    while (extraField.size() - offset >= 4) {
        const std::uint16_t blockId = readUInt16(extraField.data() + offset);
        const std::size_t blockSize = readUInt16(extraField.data() + offset + 2);
        offset += 4;
        // A block running past the field's end is damaged; nothing after it can be trusted.
        if (blockSize > extraField.size() - offset) return std::nullopt;
        if (blockId == id) return extraField.subspan(offset, blockSize);
        offset += blockSize;
    }
    return std::nullopt;
}

// The WinZip AES block's data: version (16), vendor "AE" (16), strength (8), method (16).
inline constexpr std::size_t aesExtraDataLength = 7;

}  // namespace pelkora::zip_detail
