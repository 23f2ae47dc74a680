#pragma once

// The scan of vCard files: cuts every file into single vCards, notes which program wrote
// each, and collects the group names of their CATEGORIES lines. The scan works on bytes: it
// never decodes a whole file, and reads no property but PRODID and CATEGORIES, so files of
// any size and encoding are counted quickly. The contacts themselves are read by the import
// (VCardImportOperation), one card at a time.
//
// A card starts at every line that begins with "BEGIN:VCARD" in any letter case; the card's
// text starts with "BEGIN:VCARD" in capitals whatever the file wrote. Text before the first
// card that is more than white space and a byte-order mark is kept as a card of its own,
// which the import then reports as unreadable, so nothing of a file goes unseen; a file
// without any card is logged and yields nothing. A UTF-16 file is converted to UTF-8 first.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora {

class Operation;

// One vCard as found in a file.
struct ScannedVCard {
    // From "BEGIN:VCARD" up to the next card or the end of the file.
    std::string content;
    // The names of its CATEGORIES lines.
    std::set<std::string> groupTitles;
    // The file it came from; empty when none.
    std::filesystem::path fileUrl;
    // Its number in that file, counting from 1.
    std::size_t indexInFile = 0;
    // Written by a program whose labels the reader knows as they are meant: Apple's address
    // book ("PRODID:-//Apple Inc.…") or this program's own writer.
    bool isAppleOriginal = false;
    bool operator==(const ScannedVCard&) const = default;
};

// The scan's events. vCardScanDidStart and vCardScanDidScan are called on the scan's own
// thread; vCardScanWillReadFile and vCardScanDidFinish are posted to the main queue. So the
// cards are whole only once vCardScanDidFinish arrives.
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
    // Returns early, without the finish event, when the operation is cancelled between files.
    void main(Operation& operation);

  private:
    std::vector<std::filesystem::path> files_;
    std::weak_ptr<VCardScanDelegate> delegate_;
};

// The cards of the bytes of one file, as the scan cuts them (for tests, the fuzzer and the
// command line); `groups` receives every group name found.
std::vector<ScannedVCard> scanVCardBytes(std::string_view bytes, const std::filesystem::path& file,
                                         std::set<std::string>& groups);

// The names of one CATEGORIES line (the whole line, with its name and parameters, without
// its line end): decoded in the line's CHARSET (MACINTOSH, LATIN1, else UTF-8), trimmed,
// split at commas that are not escaped with a backslash, empty names dropped. None when the
// line has no value or the value is not text in its charset.
std::vector<std::string> categoriesOfLine(std::string_view line);

}  // namespace pelkora
