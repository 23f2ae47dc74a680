#pragma once

// One entry of an archive: its properties and the ways of reading its content.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/zip/ZipError.h"
#include "platform/InputStream.h"
#include "support/Expected.h"

namespace pelkora {

// An entry of a zip archive. Entries belong to their archive and are valid only while it lives.
class ZipArchiveEntry {
  public:
    virtual ~ZipArchiveEntry() = default;

    // Whether the compression method is not stored (0).
    virtual bool compressed() const = 0;
    // Whether general-purpose flag bit 0 is set.
    virtual bool encrypted() const = 0;
    // The MS-DOS modification time and date, as a local time in the current time zone.
    virtual std::chrono::system_clock::time_point lastModified() const = 0;
    // The CRC-32 as stored; content read to its end is checked against it.
    virtual std::uint32_t crc32() const = 0;
    // The sizes from the central directory, or from its zip64 extra block.
    virtual std::uint64_t compressedSize() const = 0;
    virtual std::uint64_t uncompressedSize() const = 0;
    // The Unix mode (type and permission bits), 0 when the host system says nothing about it.
    virtual std::uint32_t fileMode() const = 0;
    // The name, as UTF-8, exactly as stored (slashes and spaces untouched).
    virtual std::string fileName() const = 0;

    // The whole uncompressed content, read with the password (none counts as empty).
    virtual Expected<std::vector<std::uint8_t>, ZipError> newDataWithPassword(
        std::optional<std::string_view> password) const = 0;
    // The whole uncompressed content of an entry read without a password.
    Expected<std::vector<std::uint8_t>, ZipError> newData() const {
        return newDataWithPassword(std::nullopt);
    }
    // A stream of the uncompressed content; it reads from the archive, which must outlive it.
    virtual Expected<std::unique_ptr<InputStream>, ZipError> newStreamWithPassword(
        std::optional<std::string_view> password) const = 0;
    Expected<std::unique_ptr<InputStream>, ZipError> newStream() const {
        return newStreamWithPassword(std::nullopt);
    }
    // Succeeds when the local header agrees with the central header (code 3 otherwise).
    virtual Expected<void, ZipError> check() const = 0;
};

}  // namespace pelkora
