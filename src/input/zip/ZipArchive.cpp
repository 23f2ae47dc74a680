#include "input/zip/ZipArchive.h"

#include <system_error>

#include "input/zip/ZipExistingEntry.h"
#include "input/zip/ZipRecords_p.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {

using namespace zip_detail;

namespace {

// The end record is 22 bytes plus a comment of at most 65,535 bytes, so it starts within the
// last 65,557 bytes.
constexpr std::size_t endOfCentralDirectorySearchLength = endOfCentralDirectoryLength + 0xffff;

// The offset of the last end of central directory signature that starts in the search window
// and leaves room for the record's fixed 22 bytes, none if there is none.
std::optional<std::size_t> findEndOfCentralDirectory(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < endOfCentralDirectoryLength) return std::nullopt;
    const std::size_t windowStart = bytes.size() > endOfCentralDirectorySearchLength
                                        ? bytes.size() - endOfCentralDirectorySearchLength
                                        : 0;
    // A signature must start no later than 22 bytes before the end: the last candidate.
    for (std::size_t offset = bytes.size() - endOfCentralDirectoryLength + 1;
         offset-- > windowStart;) {
        if (bytes[offset] == 0x50 && bytes[offset + 1] == 0x4b && bytes[offset + 2] == 0x05 &&
            bytes[offset + 3] == 0x06) {
            return offset;
        }
    }
    return std::nullopt;
}

// The central header's sizes and offset; the zip64 block holds the original size, the
// compressed size and the offset, each only when its field holds the placeholder.
std::optional<ZipEntryExtent> centralExtent(const ZipCentralFileHeader& header) {
    const auto values = resolveZip64Fields(
        header.extraField(),
        {header.uncompressedSize(), header.compressedSize(), header.relativeOffsetOfLocalHeader()});
    if (!values) return std::nullopt;
    return ZipEntryExtent{(*values)[1], (*values)[0], (*values)[2]};
}

std::string describe(const ZipChannel& channel) {
    if (const auto url = channel.URL()) return "“" + url->string() + "”";
    return localizedString("in memory", "Where a zip archive read from memory is");
}

}  // namespace

ZipArchive::ZipArchive(std::unique_ptr<ZipChannel> channel, TextEncoding encoding)
    : channel_(std::move(channel)),
      encoding_(std::move(encoding)),
      displayName_(describe(*channel_)) {}

ZipArchive::~ZipArchive() = default;

Expected<std::unique_ptr<ZipArchive>, ZipError> ZipArchive::archiveWithURL(
    const std::filesystem::path& path) {
    return initWithURL(path, {});
}

Expected<std::unique_ptr<ZipArchive>, ZipError> ZipArchive::archiveWithData(
    std::vector<std::uint8_t> data) {
    return initWithData(std::move(data), {});
}

Expected<std::unique_ptr<ZipArchive>, ZipError> ZipArchive::initWithURL(
    const std::filesystem::path& path, const ZipOpenOptions& options) {
    return initWithChannel(std::make_unique<ZipFileChannel>(path), options);
}

Expected<std::unique_ptr<ZipArchive>, ZipError> ZipArchive::initWithData(
    std::vector<std::uint8_t> data, const ZipOpenOptions& options) {
    return initWithChannel(std::make_unique<ZipDataChannel>(std::move(data)), options);
}

// Opening:
//   1. ask the channel for the whole archive (a missing file may open empty);
//   2. find the last end of central directory signature in the last 65,557 bytes;
//   3. check that the end record describes one disk and a central directory before it;
//   4. walk the central directory, making an entry over each header and its local header.
Expected<std::unique_ptr<ZipArchive>, ZipError> ZipArchive::initWithChannel(
    std::unique_ptr<ZipChannel> channel, const ZipOpenOptions& options) {
    std::unique_ptr<ZipArchive> archive(
        new ZipArchive(std::move(channel), options.encoding.value_or(TextEncoding::utf8())));
    auto input = archive->channel_->newInput();
    if (!input) {
        const FileError& failure = input.error();
        if (options.createIfMissing &&
            failure.code == std::make_error_code(std::errc::no_such_file_or_directory)) {
            return archive;
        }
        return Unexpected(
            ZipError{{ZipErrorKind::readFailed,
                      formatMessage(localizedString("Could not read the zip archive %1$@: %2$@."),
                                    archive->displayName_, failure.reason)},
                     std::nullopt,
                     failure.code});
    }
    archive->contents_ = *input;
    if (auto read = archive->readCentralDirectory(); !read) return Unexpected(read.error());
    return archive;
}

Expected<void, ZipError> ZipArchive::readCentralDirectory() {
    const std::span<const std::uint8_t> bytes = *contents_;
    const auto endError = [&](std::string_view problem) {
        return Unexpected(
            ZipError{{ZipErrorKind::endOfCentralDirectoryInvalid,
                      formatMessage(localizedString("The zip archive %1$@ is damaged: %2$@."),
                                    displayName_, problem)},
                     std::nullopt,
                     {}});
    };
    const auto endOffset = findEndOfCentralDirectory(bytes);
    if (!endOffset)
        return endError(localizedString("its end of central directory record is missing"));
    const EndOfCentralDirectory end{bytes.data() + *endOffset};
    // Spanned archives keep the central directory on other disks this reader never sees.
    if (end.numberOfThisDisk() != 0 || end.diskOfCentralDirectory() != 0 ||
        end.entriesOnThisDisk() != end.totalEntries()) {
        return endError(localizedString("it is split over several disks"));
    }
    // Bytes after the comment mean the record found is not the archive's real end.
    if (*endOffset + endOfCentralDirectoryLength + end.commentLength() != bytes.size()) {
        return endError(localizedString("bytes follow its end of central directory record"));
    }
    std::uint64_t totalEntries = end.totalEntries();
    std::uint64_t centralDirectoryOffset = end.centralDirectoryOffset();
    // The central directory ends where the end record, or the zip64 end record, begins.
    std::uint64_t directoryEnd = *endOffset;
    // A zip64 archive has a locator just before the end record pointing at the zip64 end
    // record, whose 64-bit count and offset then replace the end record's.
    if (*endOffset >= zip64EndLocatorLength &&
        readUInt32(bytes.data() + *endOffset - zip64EndLocatorLength) == zip64EndLocatorSignature) {
        const std::uint64_t locatorOffset = *endOffset - zip64EndLocatorLength;
        const Zip64EndLocator locator{bytes.data() + locatorOffset};
        if (locator.diskOfZip64End() != 0 || locator.totalDisks() > 1) {
            return endError(localizedString("it is split over several disks"));
        }
        const std::uint64_t recordOffset = locator.zip64EndOffset();
        if (recordOffset > locatorOffset ||
            locatorOffset - recordOffset < zip64EndOfCentralDirectoryLength) {
            return endError(localizedString(
                "its zip64 end of central directory record lies outside the archive"));
        }
        const Zip64EndOfCentralDirectory record{bytes.data() + recordOffset};
        if (record.signature() != zip64EndOfCentralDirectorySignature) {
            return endError(
                localizedString("its zip64 end of central directory record is missing"));
        }
        if (record.recordSize() < zip64EndOfCentralDirectoryLength - zip64EndLeadLength ||
            record.recordSize() > locatorOffset - recordOffset - zip64EndLeadLength) {
            return endError(
                localizedString("its zip64 end of central directory record has a wrong size"));
        }
        if (record.numberOfThisDisk() != 0 || record.diskOfCentralDirectory() != 0 ||
            record.entriesOnThisDisk() != record.totalEntries()) {
            return endError(localizedString("it is split over several disks"));
        }
        totalEntries = record.totalEntries();
        centralDirectoryOffset = record.centralDirectoryOffset();
        directoryEnd = recordOffset;
    }
    // Every central header needs its 46 fixed bytes between the directory's start and its
    // end, so a directory offset or entry count the archive cannot hold is refused here.
    if (centralDirectoryOffset > directoryEnd ||
        totalEntries > (directoryEnd - centralDirectoryOffset) / centralFileHeaderLength) {
        return endError(
            localizedString("its central directory does not fit before its end record"));
    }

    entries_.reserve(totalEntries);
    std::uint64_t cursor = centralDirectoryOffset;
    for (std::size_t index = 0; index < totalEntries; ++index) {
        const auto entryError = [&](std::string_view problem) {
            return Unexpected(
                ZipError{{ZipErrorKind::centralFileHeaderInvalid,
                          formatMessage(localizedString("The zip archive %1$@ is damaged: entry "
                                                        "%2$@ %3$@."),
                                        displayName_, std::to_string(index + 1), problem)},
                         index,
                         {}});
        };
        // Earlier headers' names and comments may have used up the room the count check left.
        if (cursor + centralFileHeaderLength > directoryEnd) {
            return entryError(localizedString("runs past the end of the central directory"));
        }
        const ZipCentralFileHeader header{bytes.data() + cursor};
        // The name, extra field and comment must also end before the directory's end.
        if (cursor + header.totalLength() > directoryEnd) {
            return entryError(localizedString("runs past the end of the central directory"));
        }
        if (header.diskNumberStart() != 0)
            return entryError(localizedString("lies on another disk"));
        const auto extent = centralExtent(header);
        if (!extent)
            return entryError(localizedString("has a zip64 extra field too short for its sizes"));
        // The local header's 30 fixed bytes must lie before the central directory.
        if (centralDirectoryOffset < localFileHeaderLength ||
            extent->localHeaderOffset > centralDirectoryOffset - localFileHeaderLength) {
            return entryError(localizedString("has its local header outside the archive's data"));
        }
        entries_.push_back(std::make_unique<ZipExistingEntry>(
            *this, header.bytes, bytes.data() + extent->localHeaderOffset, *extent));
        cursor += header.totalLength();
    }
    return {};
}

Expected<std::string, ZipError> ZipArchive::contentsOfEntry(std::string_view name) const {
    for (const auto& entry : entries_) {
        if (entry->fileName() != name) continue;
        auto data = entry->newData();
        if (!data) return Unexpected(data.error());
        return std::string(data->begin(), data->end());
    }
    return Unexpected(
        ZipError{{ZipErrorKind::entryNotFound,
                  formatMessage(localizedString("The zip archive %1$@ has no part named “%2$@”."),
                                displayName_, name)},
                 std::nullopt,
                 {}});
}

}  // namespace pelkora
