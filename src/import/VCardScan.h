#pragma once

// The scan of vCard files: cuts every file into single vCards, notes which program wrote
// each, and collects the group names of their CATEGORIES lines. The scan works on bytes: it
// never decodes a whole file, and reads no property but PRODID and CATEGORIES, so files of
// any size and encoding are counted quickly. The contacts themselves are read by the import
// (VCardImportOperation), one card at a time.
//
// A card starts at every line that begins with "BEGIN:VCARD" in any letter case; the card's
// text starts with "BEGIN:VCARD" in capitals whatever the file wrote. A card of a file read as
// it is (UTF-8 or any other ASCII-compatible bytes) is kept as its place in the file, not its
// text, so that the cards of a large file take little memory; cardContent reads it back. Text
// before the first card that is more than white space and a byte-order mark is kept as a card of
// its own, which the import then reports as unreadable, so nothing of a file goes unseen; a file
// without any card is logged and yields nothing. A UTF-16 file is converted to UTF-8 first.
//
// One consequence of cutting at every such line: a vCard 2.1 AGENT that nests a whole vCard
// becomes two cards, as the scan cannot tell a nested card from a card whose END is missing.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/InputStream.h"
#include "support/Expected.h"

namespace pelkora {

class InputStream;
class Operation;

// One vCard as found in a file.
struct ScannedVCard {
    // From "BEGIN:VCARD" up to the next card or the end of the file; empty when the card is
    // kept as its place in the file (offset, length, fileStamp). Filled for cards converted
    // from UTF-16, for the text before a file's first card and for cards cut from bytes in
    // memory. Read it with cardContent, which handles both.
    std::string content;
    // The names of its CATEGORIES lines.
    std::set<std::string> groupTitles;
    // The file it came from, shared by the cards of the file: a path holds a list of its
    // components besides its text, which would cost every card a few hundred bytes.
    std::shared_ptr<const std::filesystem::path> file;
    // Its number in that file, counting from 1.
    std::size_t indexInFile = 0;
    // Written by a program whose labels the reader knows as they are meant: Apple's address
    // book ("PRODID:-//Apple Inc.…") or this program's own writer.
    bool isAppleOriginal = false;
    // Where the card's bytes are in the file, when content is empty.
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    // The file's size and modification time when it was scanned, when content is empty.
    FileStamp fileStamp;

    // The file it came from; empty when none.
    const std::filesystem::path& fileUrl() const {
        static const std::filesystem::path none;
        return file ? *file : none;
    }
    void setFileUrl(std::filesystem::path path) {
        file = std::make_shared<const std::filesystem::path>(std::move(path));
    }
    // Cards are equal by their file's path, whether they share it or not.
    bool operator==(const ScannedVCard& other) const {
        return content == other.content && groupTitles == other.groupTitles &&
               fileUrl() == other.fileUrl() && indexInFile == other.indexInFile &&
               isAppleOriginal == other.isAppleOriginal && offset == other.offset &&
               length == other.length && fileStamp == other.fileStamp;
    }
};

// Reads the text of scanned cards, keeping the last file open so that the cards of one file
// cost a status check and a read each. One reader per thread.
class VCardContentReader {
  public:
    // The card's text: its content when it has one, else its bytes read back from its file,
    // starting with "BEGIN:VCARD" in capitals as the scan hands cards out. An error naming the
    // file when it cannot be read or is no longer as it was scanned (another size or
    // modification time, or no card start at the card's place).
    Expected<std::string, FileError> content(const ScannedVCard& card);

  private:
    std::optional<RandomAccessFile> file_;
};

// The text of one card, as VCardContentReader::content gives it.
Expected<std::string, FileError> cardContent(const ScannedVCard& card);

// The scan's events. vCardScanDidStart and vCardScanDidScan are called on the scan's own
// thread; vCardScanWillReadFile, vCardScanDidSkipFile and vCardScanDidFinish are posted to the
// main queue. So the cards are whole only once vCardScanDidFinish arrives.
class VCardScanDelegate {
  public:
    virtual ~VCardScanDelegate() = default;
    virtual void vCardScanDidStart() {}
    // Posted before file `index` (counting from 0) is read.
    virtual void vCardScanWillReadFile(std::size_t /*index*/) {}
    virtual void vCardScanDidScan(ScannedVCard /*card*/) {}
    // A file could not be read or holds no vCard; posted to the main queue.
    virtual void vCardScanDidSkipFile(const std::filesystem::path& /*file*/,
                                      const std::string& /*reason*/) {}
    // Every group name found, sorted.
    virtual void vCardScanDidFinish(std::vector<std::string> /*groups*/) {}
};

class VCardScanOperation {
  public:
    // The delegate is held weakly; events after it went away are dropped.
    VCardScanOperation(std::vector<std::filesystem::path> files,
                       std::weak_ptr<VCardScanDelegate> delegate);

    // Scans every file in order. An unreadable file, a file without vCards and an undecodable
    // CATEGORIES value are logged and passed over; nothing stops the scan as a whole. Files
    // are read in blocks, so memory holds the cards and one block, never the whole file twice.
    // Returns early, without the finish event, once the operation is cancelled (looked at
    // between files and between cards).
    void main(Operation& operation);

  private:
    std::vector<std::filesystem::path> files_;
    std::weak_ptr<VCardScanDelegate> delegate_;
};

// The size of the blocks a file is read in: small enough for the processor's cache, which
// makes the scan several times faster than with blocks of megabytes.
inline constexpr std::size_t kVCardScanBlockSize = std::size_t{256} << 10;

// Scans one file as it is read from `input`, at most blockSize bytes at a time, and hands
// each card to `found` as soon as its end has been read (as its place in `file` when the
// input is that file and its bytes are read as they are, else with its content); stops early when
// `found` answers false. `groups` receives every group name found. A file that holds nothing but
// white space is logged as no vCard. Returns how many cards were found, or the error that stopped
// the reading (the cards found before it have been handed out).
Expected<std::size_t, FileError> scanVCardStream(InputStream& input,
                                                 const std::filesystem::path& file,
                                                 std::set<std::string>& groups,
                                                 const std::function<bool(ScannedVCard)>& found,
                                                 std::size_t blockSize = kVCardScanBlockSize);

// The cards of the bytes of one file, as the scan cuts them (for tests, the fuzzer and the
// command line); `groups` receives every group name found.
std::vector<ScannedVCard> scanVCardBytes(std::string_view bytes, const std::filesystem::path& file,
                                         std::set<std::string>& groups);

// The names of one CATEGORIES line (the whole line, with its name and parameters, without
// its line end): the text between its first and second colon (so a name holding a colon is
// cut there), decoded in the line's CHARSET (MACINTOSH: Mac OS Roman; LATIN1 or ISO-8859-1:
// ISO Latin 1; else UTF-8, in any letter case), trimmed, split at commas that are not escaped
// with a backslash, empty names dropped; the names themselves are not trimmed. None when the
// line has no value or the value is not text in its charset.
std::vector<std::string> categoriesOfLine(std::string_view line);

}  // namespace pelkora
