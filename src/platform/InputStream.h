#pragma once

// Byte sources for the streaming parsers: a file read piece by piece, or bytes already in
// memory. A parser pulls as much as it wants at a time, so a large file is never held whole.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "platform/AtomicFile.h"
#include "support/Expected.h"

namespace pelkora {

// The size and last modification time of a file: a file whose stamp has not changed is taken
// to hold the same bytes, as build tools take it.
struct FileStamp {
    std::uint64_t size = 0;
    // Nanoseconds since 1970.
    std::int64_t modificationTime = 0;
    bool operator==(const FileStamp&) const = default;
};

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
    // Returns the file's stamp as it was when the stream opened it; none for bytes in memory.
    virtual std::optional<FileStamp> fileStamp() const { return std::nullopt; }

    // Opens the file for reading; it is closed when the stream is destroyed.
    static Expected<std::unique_ptr<InputStream>, FileError> openFile(
        const std::filesystem::path& path);
    // A stream over a copy of the bytes that hands out at most maximumReadSize bytes per read,
    // so tests can make every read boundary fall where they want.
    static std::unique_ptr<InputStream> fromMemory(
        std::string bytes, std::size_t maximumReadSize = std::numeric_limits<std::size_t>::max());
};

// A file opened to read pieces of it in any order, for readers that come back to what a
// stream read earlier. Move-only; the file is closed when the object is destroyed.
class RandomAccessFile {
  public:
    static Expected<RandomAccessFile, FileError> open(const std::filesystem::path& path);
    RandomAccessFile(RandomAccessFile&& other) noexcept;
    RandomAccessFile& operator=(RandomAccessFile&& other) noexcept;
    ~RandomAccessFile();

    const std::filesystem::path& path() const { return path_; }
    // The file's stamp now.
    Expected<FileStamp, FileError> stamp() const;
    // The `length` bytes at `offset`; an error naming the file when it ends before them.
    Expected<std::string, FileError> read(std::uint64_t offset, std::size_t length) const;

  private:
    RandomAccessFile(int descriptor, std::filesystem::path path);

    int descriptor_ = -1;
    std::filesystem::path path_;
};

}  // namespace pelkora
