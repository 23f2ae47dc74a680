#pragma once

// The entry of an archive that was read from existing bytes: a view of its central and local
// headers inside the archive's contents.

#include <cstdint>
#include <span>

#include "input/zip/ZipArchiveEntry.h"

namespace pelkora {

class ZipArchive;

// How an entry's data is encrypted.
enum class ZipEncryptionMode {
    none,
    traditional,  // the PKWARE stream cipher
    strong,       // PKWARE strong encryption, never decrypted
    aes,          // WinZip AES (AE-1, AE-2)
};

// An entry's sizes and local header offset, with any zip64 values standing in for 32-bit
// fields that hold 0xFFFFFFFF.
struct ZipEntryExtent {
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
};

// An entry read from an archive. It copies no header bytes: it points into the archive's
// contents, so it is valid only while the archive lives.
class ZipExistingEntry final : public ZipArchiveEntry {
  public:
    // An entry over the central header and the local header's 30 fixed bytes, both inside the
    // archive's contents; the central header's name, extra field and comment must be too.
    // The extent gives the sizes and offset with any zip64 values resolved.
    ZipExistingEntry(const ZipArchive& archive, const std::uint8_t* centralFileHeader,
                     const std::uint8_t* localFileHeader, const ZipEntryExtent& extent);

    // The encryption mode, from flag bit 0, the WinZip AES extra block and flag bit 6.
    ZipEncryptionMode encryptionMode() const { return encryptionMode_; }
    // The compression method; for an AES entry the one in its AES extra block.
    std::uint16_t compressionMethod() const;

    bool compressed() const override { return compressionMethod() != 0; }
    bool encrypted() const override;
    std::chrono::system_clock::time_point lastModified() const override;
    std::uint32_t crc32() const override;
    std::uint64_t compressedSize() const override { return extent_.compressedSize; }
    std::uint64_t uncompressedSize() const override { return extent_.uncompressedSize; }
    std::uint32_t fileMode() const override;
    std::string fileName() const override;

    Expected<std::vector<std::uint8_t>, ZipError> newDataWithPassword(
        std::optional<std::string_view> password) const override;
    Expected<std::unique_ptr<InputStream>, ZipError> newStreamWithPassword(
        std::optional<std::string_view> password) const override;
    Expected<void, ZipError> check() const override;

  private:
    // Where the entry's bytes lie: the encryption header (12 bytes, or salt and verifier)
    // and the data proper, both inside the archive.
    struct DataLocation {
        std::span<const std::uint8_t> encryptionHeader;
        std::span<const std::uint8_t> data;
        std::uint8_t aesStrength = 0;
    };
    Expected<DataLocation, ZipError> locateData() const;
    Expected<void, ZipError> checkReadable() const;
    // Whether the stored CRC-32 describes the content: not for WinZip AE-2 entries.
    bool hasMeaningfulCrc() const;
    // Fails content that is not the declared size or does not match the CRC-32.
    Expected<void, ZipError> verifyContent(std::span<const std::uint8_t> content) const;
    Expected<std::unique_ptr<InputStream>, ZipError> newDecryptingStream(
        const DataLocation& location, std::string_view password) const;
    ZipError error(ZipErrorKind kind, std::string_view problem,
                   std::error_code underlying = {}) const;

    const ZipArchive& archive_;
    const std::uint8_t* centralFileHeader_;
    const std::uint8_t* localFileHeader_;
    ZipEntryExtent extent_;
    ZipEncryptionMode encryptionMode_;
};

}  // namespace pelkora
