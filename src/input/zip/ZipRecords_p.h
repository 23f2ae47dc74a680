#pragma once

// The fixed-layout records of the zip format, read in place from the archive's bytes. All
// fields are little-endian. A record view never owns bytes; it is valid while the archive's
// contents are. Constructing a view does not check its length: the callers check that the
// fixed part fits before making one, and every variable-length part is bounded on access.

#include <array>
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

inline std::uint64_t readUInt64(const std::uint8_t* bytes) {
    return static_cast<std::uint64_t>(readUInt32(bytes)) |
           static_cast<std::uint64_t>(readUInt32(bytes + 4)) << 32;
}

inline constexpr std::uint32_t localFileHeaderSignature = 0x04034b50;
inline constexpr std::uint32_t zip64EndOfCentralDirectorySignature = 0x06064b50;
inline constexpr std::uint32_t zip64EndLocatorSignature = 0x07064b50;
inline constexpr std::uint16_t zip64ExtraId = 0x0001;
inline constexpr std::uint32_t dataDescriptorSignature = 0x08074b50;
inline constexpr std::uint16_t winZipAesExtraId = 0x9901;

inline constexpr std::size_t endOfCentralDirectoryLength = 22;
inline constexpr std::size_t centralFileHeaderLength = 46;
inline constexpr std::size_t localFileHeaderLength = 30;
inline constexpr std::size_t zip64EndOfCentralDirectoryLength = 56;
inline constexpr std::size_t zip64EndLocatorLength = 20;
// The signature and size field that the zip64 end record's size does not count.
inline constexpr std::size_t zip64EndLeadLength = 12;
// A data descriptor: signature, CRC-32 and two sizes of 4 bytes, or of 8 in a zip64 entry.
inline constexpr std::size_t dataDescriptorLength = 16;
inline constexpr std::size_t zip64DataDescriptorLength = 24;

// A 32-bit size or offset of this value stands for one in the zip64 extra block.
inline constexpr std::uint32_t zip64Placeholder = 0xffffffff;

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

// The zip64 end of central directory locator, the 20 bytes just before the end record.
struct Zip64EndLocator {
    const std::uint8_t* bytes;
    std::uint32_t signature() const { return readUInt32(bytes); }
    std::uint32_t diskOfZip64End() const { return readUInt32(bytes + 4); }
    std::uint64_t zip64EndOffset() const { return readUInt64(bytes + 8); }
    std::uint32_t totalDisks() const { return readUInt32(bytes + 16); }
};

// The zip64 end of central directory record (56 fixed bytes, then extensible data).
struct Zip64EndOfCentralDirectory {
    const std::uint8_t* bytes;
    std::uint32_t signature() const { return readUInt32(bytes); }
    // The record's length after its signature and this field.
    std::uint64_t recordSize() const { return readUInt64(bytes + 4); }
    std::uint32_t numberOfThisDisk() const { return readUInt32(bytes + 16); }
    std::uint32_t diskOfCentralDirectory() const { return readUInt32(bytes + 20); }
    std::uint64_t entriesOnThisDisk() const { return readUInt64(bytes + 24); }
    std::uint64_t totalEntries() const { return readUInt64(bytes + 32); }
    std::uint64_t centralDirectoryOffset() const { return readUInt64(bytes + 48); }
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

// The 8-byte values of a zip64 extra block, in order, each taken only when its 32-bit field
// holds the placeholder; none when the block is too short for them. Without a block the fields are
// taken as they are, so a placeholder still reads as the 4 GiB size or offset it says and is
// bounded like any other.
inline std::optional<std::array<std::uint64_t, 3>> resolveZip64Fields(
    std::span<const std::uint8_t> extraField, std::array<std::uint32_t, 3> fields) {
    std::array<std::uint64_t, 3> values{fields[0], fields[1], fields[2]};
    const auto block = findExtraBlock(extraField, zip64ExtraId);
    if (!block) return values;
    std::size_t offset = 0;
    for (std::size_t index = 0; index < values.size(); ++index) {
        if (fields[index] != zip64Placeholder) continue;
        if (block->size() - offset < 8) return std::nullopt;
        values[index] = readUInt64(block->data() + offset);
        offset += 8;
    }
    return values;
}

// The WinZip AES block's data: version (16), vendor "AE" (16), strength (8), method (16).
inline constexpr std::size_t aesExtraDataLength = 7;

}  // namespace pelkora::zip_detail
