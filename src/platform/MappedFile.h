#pragma once

// A whole file mapped read-only into memory, for readers that jump around in a file (the zip
// reader's central directory and entries) without copying it.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "platform/AtomicFile.h"
#include "support/Expected.h"

namespace pelkora {

// The bytes of one file, mapped read-only for the object's lifetime. Move-only; the bytes stay
// at the same address when the object is moved.
class MappedFile {
  public:
    // Maps the whole file; an empty file maps to no bytes. The error's code is the system's
    // (no_such_file_or_directory for a missing file).
    static Expected<MappedFile, FileError> open(const std::filesystem::path& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    // The file's bytes; valid while this object lives.
    std::span<const std::uint8_t> bytes() const { return {address_, size_}; }

  private:
    MappedFile(const std::uint8_t* address, std::size_t size) : address_(address), size_(size) {}
    const std::uint8_t* address_ = nullptr;
    std::size_t size_ = 0;
};

// Lets the system drop the resident pages that lie wholly inside the span, a part of the bytes
// of a MappedFile; they are read again from the file when next touched. A reader that streams
// through a large mapped file calls this for what it has read, so those pages do not stay in
// its resident set. Only for the bytes of a MappedFile: other memory would lose its content.
void releaseResidentPages(std::span<const std::uint8_t> mappedBytes);

}  // namespace pelkora
