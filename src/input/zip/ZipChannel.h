#pragma once

// Where an archive's bytes come from: a file, memory-mapped, or a buffer already in memory.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/MappedFile.h"
#include "support/Expected.h"

namespace pelkora {

// A source of one archive's bytes. The archive asks once and keeps the bytes for its life.
class ZipChannel {
  public:
    virtual ~ZipChannel() = default;
    // The whole archive, valid while the channel lives; a missing source is a FileError with
    // the code no_such_file_or_directory.
    virtual Expected<std::span<const std::uint8_t>, FileError> newInput() = 0;
    // The file location, none for bytes in memory.
    virtual std::optional<std::filesystem::path> URL() const = 0;
};

// A file's bytes, always memory-mapped rather than read, so opening a large workbook costs no
// copy and only the pages the reader touches are loaded.
class ZipFileChannel final : public ZipChannel {
  public:
    explicit ZipFileChannel(std::filesystem::path path) : path_(std::move(path)) {}
    Expected<std::span<const std::uint8_t>, FileError> newInput() override;
    std::optional<std::filesystem::path> URL() const override { return path_; }

  private:
    std::filesystem::path path_;
    std::optional<MappedFile> mapping_;
};

// A buffer in memory, used as it is. An empty buffer counts as a missing file.
class ZipDataChannel final : public ZipChannel {
  public:
    explicit ZipDataChannel(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
    Expected<std::span<const std::uint8_t>, FileError> newInput() override;
    std::optional<std::filesystem::path> URL() const override { return std::nullopt; }

  private:
    std::vector<std::uint8_t> data_;
};

}  // namespace pelkora
