#pragma once

// Byte sources for the streaming parsers: a file read piece by piece, or bytes already in
// memory. A parser pulls as much as it wants at a time, so a large file is never held whole.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <system_error>

#include "platform/AtomicFile.h"
#include "support/Expected.h"

namespace pelkora {

// A source of bytes read front to back. Not thread-safe; one reader at a time.
class InputStream {
  public:
    virtual ~InputStream() = default;

    // Copies up to capacity bytes into buffer and returns how many; 0 only at the end of the
    // bytes or after a read error, and from then on hasBytesAvailable() is false.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t capacity) = 0;
    // Returns whether a read may still give bytes; false once a read met the end or an error.
    virtual bool hasBytesAvailable() const = 0;
    // Returns the error that ended the stream early, or no error.
    virtual std::error_code error() const { return {}; }
    // Returns the file the bytes come from, for messages; empty for bytes in memory.
    virtual std::filesystem::path filePath() const { return {}; }

    // Opens the file for reading; it is closed when the stream is destroyed.
    static Expected<std::unique_ptr<InputStream>, FileError> openFile(
        const std::filesystem::path& path);
    // A stream over a copy of the bytes that hands out at most maximumReadSize bytes per read,
    // so tests can make every read boundary fall where they want.
    static std::unique_ptr<InputStream> fromMemory(
        std::string bytes, std::size_t maximumReadSize = std::numeric_limits<std::size_t>::max());
};

}  // namespace pelkora
