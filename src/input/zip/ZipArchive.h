#pragma once

// Reading zip archives (the PKWARE APPNOTE format), as spreadsheet workbooks are packaged.
//
// Both the classic records and their ZIP64 extensions are read: the zip64 end record and its
// locator, and the zip64 extra blocks whose 64-bit sizes and offsets stand in for 32-bit
// fields holding 0xFFFFFFFF. The archive is untrusted input. Opening checks that the end
// records and every central directory entry lie inside the archive; reading an entry checks
// that its local header, name, extra field and data do too, and that the local header names
// the entry the central directory does. An entry read to its end must have its declared size
// and CRC-32 (except WinZip AE-2 entries, which leave the CRC out); otherwise it is damaged. A
// declared uncompressed size decides how much memory a read allocates, so it is refused when the
// data could not honour it: above maximumZipEntrySize (1 GiB), or above 1,032 times the compressed
// size, the most deflate can expand. Because every entry's data must lie inside the archive,
// entries that overlap each other still cannot make one read allocate more than 1,032 times the
// archive's size.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/zip/ZipArchiveEntry.h"
#include "input/zip/ZipChannel.h"
#include "input/zip/ZipError.h"
#include "support/Expected.h"
#include "text/TextEncoding.h"

namespace pelkora {

// The largest uncompressed size a read allocates for one entry.
inline constexpr std::uint64_t maximumZipEntrySize = std::uint64_t{1} << 30;
// The most output one byte of deflate data can produce (258-byte matches of 2 bits each).
inline constexpr std::uint64_t maximumDeflateExpansion = 1032;

// How to open an archive.
struct ZipOpenOptions {
    // The encoding of names without the UTF-8 flag ("ZZOpenOptionsEncodingKey"); UTF-8 if none.
    std::optional<TextEncoding> encoding;
    // Whether a missing file opens as an empty archive ("ZZOpenOptionsCreateIfMissingKey").
    bool createIfMissing = false;
};

// An opened archive: its bytes and its entries in central-directory order. Immutable once
// opened and not thread-safe to share while reading; entries point into its bytes, so it must
// outlive them and is neither copied nor moved (it is handed out by unique_ptr).
class ZipArchive {
  public:
    // Opens the file at path with no options.
    static Expected<std::unique_ptr<ZipArchive>, ZipError> archiveWithURL(
        const std::filesystem::path& path);
    // Opens the archive in data with no options; empty data counts as a missing file.
    static Expected<std::unique_ptr<ZipArchive>, ZipError> archiveWithData(
        std::vector<std::uint8_t> data);
    // Opens the file at path with options.
    static Expected<std::unique_ptr<ZipArchive>, ZipError> initWithURL(
        const std::filesystem::path& path, const ZipOpenOptions& options);
    // Opens the archive in data with options.
    static Expected<std::unique_ptr<ZipArchive>, ZipError> initWithData(
        std::vector<std::uint8_t> data, const ZipOpenOptions& options);
    // Opens the archive whose bytes the channel gives.
    static Expected<std::unique_ptr<ZipArchive>, ZipError> initWithChannel(
        std::unique_ptr<ZipChannel> channel, const ZipOpenOptions& options);

    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;
    ~ZipArchive();

    // The file location of a file-backed archive.
    std::optional<std::filesystem::path> URL() const { return channel_->URL(); }
    // The archive's bytes; none for an archive opened empty because its file was missing.
    std::optional<std::span<const std::uint8_t>> contents() const { return contents_; }
    // The entries in central-directory order.
    const std::vector<std::unique_ptr<ZipArchiveEntry>>& entries() const { return entries_; }
    // The encoding of names without the UTF-8 flag.
    const TextEncoding& encoding() const { return encoding_; }
    // "“/x/book.xlsx”" or "archive in memory", for messages.
    const std::string& displayName() const { return displayName_; }

    // The whole content of the first entry with exactly this name, as the workbook reader
    // reads its parts; entryNotFound when there is none.
    Expected<std::string, ZipError> contentsOfEntry(std::string_view name) const;

  private:
    ZipArchive(std::unique_ptr<ZipChannel> channel, TextEncoding encoding);
    Expected<void, ZipError> readCentralDirectory();

    std::unique_ptr<ZipChannel> channel_;
    TextEncoding encoding_;
    std::string displayName_;
    std::optional<std::span<const std::uint8_t>> contents_;
    std::vector<std::unique_ptr<ZipArchiveEntry>> entries_;
};

}  // namespace pelkora
