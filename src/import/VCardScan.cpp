#include "import/VCardScan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "platform/Desktop.h"
#include "platform/InputStream.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "text/TextEncoding.h"
#include "text/UnicodeText.h"

namespace pelkora {
namespace {

constexpr std::string_view kCardStart = "BEGIN:VCARD";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The PRODID lines of the programs whose labels the reader takes as they are meant: Apple's
// address book and our own writer.
constexpr std::string_view kOriginalProducers[] = {"PRODID:-//Apple Inc.", "PRODID:-//Pelkora//"};

// A card at least this large that starts at the front of the unread text takes the text's
// buffer instead of a copy of it, so that a card with a huge photo is never held twice.
constexpr std::size_t kCardSizeWorthTheBuffer = std::size_t{1} << 20;

char asciiLowercase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Whether the text starts with the word (written in lower case) in any letter case.
bool startsWithIgnoringCase(std::string_view text, std::string_view lowercaseWord) {
    if (text.size() < lowercaseWord.size()) return false;
    for (std::size_t i = 0; i < lowercaseWord.size(); ++i) {
        if (asciiLowercase(text[i]) != lowercaseWord[i]) return false;
    }
    return true;
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowercaseWord) {
    return text.size() == lowercaseWord.size() && startsWithIgnoringCase(text, lowercaseWord);
}

bool isAsciiWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool isOnlyWhiteSpace(std::string_view text) {
    return std::all_of(text.begin(), text.end(), isAsciiWhiteSpace);
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The encoding of a CATEGORIES value, from the CHARSET parameter among the name and
// parameters: Mac OS Roman, ISO Latin 1, or UTF-8 for any other or none.
TextEncoding categoriesEncoding(std::string_view nameAndParameters) {
    std::size_t position = 0;
    while ((position = nameAndParameters.find(';', position)) != std::string_view::npos) {
        ++position;
        const auto parameter = nameAndParameters.substr(position);
        if (!startsWithIgnoringCase(parameter, "charset=")) continue;
        auto value = parameter.substr(std::string_view("charset=").size());
        value = value.substr(0, value.find(';'));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (equalsIgnoringCase(value, "macintosh")) return TextEncoding::macOSRoman();
        if (equalsIgnoringCase(value, "latin1") || equalsIgnoringCase(value, "iso-8859-1")) {
            return TextEncoding::isoLatin1();
        }
        return TextEncoding::utf8();
    }
    return TextEncoding::utf8();
}

// The names of a decoded CATEGORIES value: trimmed, split at commas, "\," kept as a comma in
// a name, empty names dropped.
std::vector<std::string> splitCategories(std::string_view value) {
    const std::string text = trimmedWhiteSpace(value);
    std::vector<std::string> names;
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == ',') {
            name += ',';
            ++i;
        } else if (text[i] == ',') {
            if (!name.empty()) names.push_back(std::move(name));
            name.clear();
        } else {
            name += text[i];
        }
    }
    if (!name.empty()) names.push_back(std::move(name));
    return names;
}

// What one CATEGORIES line says.
struct CategoriesLine {
    std::vector<std::string> names;
    // Set when the value is not text in its encoding; the names are then empty.
    std::optional<TextEncoding> undecodableIn;
};

CategoriesLine readCategoriesLine(std::string_view line) {
    // The pieces between colons, empty ones dropped: the first holds the name and the
    // parameters, the second is the value.
    const auto firstColon = line.find(':');
    if (firstColon == std::string_view::npos) return {};
    const auto valueStart = line.find_first_not_of(':', firstColon);
    if (valueStart == std::string_view::npos) return {};
    auto value = line.substr(valueStart);
    value = value.substr(0, value.find(':'));
    const TextEncoding encoding = categoriesEncoding(line.substr(0, firstColon));
    auto text = decodeStrictly(bytesOf(value), encoding);
    if (!text) return {{}, encoding};
    return {splitCategories(*text), std::nullopt};
}

// Whether the line (without its line end) is a CATEGORIES property, with or without a group.
bool isCategoriesLine(std::string_view line) {
    const auto isCategoriesName = [](std::string_view text) {
        constexpr std::string_view name = "categories";
        return startsWithIgnoringCase(text, name) && text.size() > name.size() &&
               (text[name.size()] == ':' || text[name.size()] == ';');
    };
    if (isCategoriesName(line)) return true;
    // A group name ("item1.") is letters, digits and hyphens.
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '.') return i > 0 && isCategoriesName(line.substr(i + 1));
        const bool groupCharacter =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!groupCharacter) return false;
    }
    return false;
}

// The text of a file as the cutter reads it: UTF-8 (or anything else ASCII-compatible) as it
// is without a leading UTF-8 byte-order mark; UTF-16 — known by its byte-order mark or by the
// zero bytes around "BEGIN", as the vCard reader knows it — converted to UTF-8 as it arrives.
// A damaged UTF-16 code unit (a lone surrogate, an odd last byte) becomes U+FFFD and is
// logged, so that the rest of the file is still read.
class FileText {
  public:
    explicit FileText(const std::filesystem::path& file) : file_(file) {}

    // Whether the file's bytes are known to be its text as they are, from here on.
    bool isPlain() const { return encodingKnown_ && !decoder_; }
    // Where the text starts in the file of plain text: after its byte-order mark.
    std::uint64_t plainTextStart() const { return plainTextStart_; }

    // Appends the text of the file's next bytes to out.
    void append(std::string_view bytes, bool endOfInput, std::string& out) {
        if (!encodingKnown_) {
            head_.append(bytes);
            // Three bytes tell a UTF-8 byte-order mark and the start of UTF-16 "BEGIN".
            if (head_.size() < 3 && !endOfInput) return;
            encodingKnown_ = true;
            const std::string head = std::move(head_);
            head_.clear();
            passOn(chooseEncoding(head), endOfInput, out);
            return;
        }
        passOn(bytes, endOfInput, out);
    }

  private:
    // Sets up the conversion the head asks for; returns the head without its byte-order mark.
    std::string_view chooseEncoding(std::string_view wholeHead) {
        std::string_view head = wholeHead;
        const auto at = [&](std::size_t i) {
            return i < head.size() ? static_cast<int>(static_cast<unsigned char>(head[i])) : -1;
        };
        std::optional<TextEncoding> utf16;
        if (at(0) == 0xFE && at(1) == 0xFF) {
            utf16 = TextEncoding::utf16BigEndian();
            head.remove_prefix(2);
        } else if (at(0) == 0xFF && at(1) == 0xFE) {
            utf16 = TextEncoding::utf16LittleEndian();
            head.remove_prefix(2);
        } else if (at(0) == 0 && (at(1) == 'B' || at(1) == 'b') && at(2) == 0) {
            utf16 = TextEncoding::utf16BigEndian();
        } else if ((at(0) == 'B' || at(0) == 'b') && at(1) == 0 && at(2) != 0) {
            utf16 = TextEncoding::utf16LittleEndian();
        } else if (head.starts_with(kUtf8ByteOrderMark)) {
            head.remove_prefix(kUtf8ByteOrderMark.size());
            plainTextStart_ = kUtf8ByteOrderMark.size();
        }
        if (utf16) {
            decoder_ = TextDecoder::make(*utf16);
            offset_ = wholeHead.size() - head.size();
        }
        return head;
    }

    void passOn(std::string_view bytes, bool endOfInput, std::string& out) {
        if (!decoder_) {
            out.append(bytes);
            return;
        }
        // The decoder leaves the bytes of a character cut by the block's end to us.
        std::string joined;
        if (!held_.empty()) {
            joined = std::move(held_);
            joined.append(bytes);
            bytes = joined;
        }
        held_.clear();
        while (true) {
            const DecodeResult result = decoder_->decode(bytesOf(bytes), out, endOfInput);
            bytes.remove_prefix(result.bytesConsumed);
            offset_ += result.bytesConsumed;
            if (!result.invalid) break;
            if (!damageLogged_) {
                writeLog(LogType::error,
                         "The UTF-16 text of the vCard file %@ is damaged at byte %llu (a lone "
                         "surrogate or an odd last byte); the damaged character is read as "
                         "U+FFFD.",
                         file_, offset_);
                damageLogged_ = true;
            }
            out.append(kReplacementCharacter);
            const std::size_t skipped = std::min<std::size_t>(2, bytes.size());
            bytes.remove_prefix(skipped);
            offset_ += skipped;
            if (bytes.empty()) break;
        }
        held_.assign(bytes);
    }

    const std::filesystem::path& file_;
    bool encodingKnown_ = false;
    std::string head_;
    std::unique_ptr<TextDecoder> decoder_;  // UTF-16 only
    std::string held_;
    std::uint64_t offset_ = 0;  // of the bytes not yet decoded, in the file
    std::uint64_t plainTextStart_ = 0;
    bool damageLogged_ = false;
};

// Cuts a file's text into cards as it arrives. Lines end at LF or CR LF, or in a classic
// Mac OS file at a lone CR, as the vCard reader reads them. Every line is looked at once, by its
// first bytes: a line that begins with "begin:vcard" in any case starts a card; within a card a
// PRODID line may mark it as written by a known program and a CATEGORIES line gives group
// names. Lines are not unfolded, so a folded continuation is a line of its own.
//
// The unread text is kept from the start of the open card on, or, once cards are handed out
// as their place in the file, from the start of the unfinished line; all positions count
// from the start of the text, and base_ is the position of the text's first byte.
class CardCutter {
  public:
    CardCutter(const std::filesystem::path& file, std::set<std::string>& groups,
               const std::function<bool(ScannedVCard)>& found)
        : file_(file),
          sharedFile_(std::make_shared<const std::filesystem::path>(file)),
          groups_(groups),
          found_(found) {}

    // The text not yet cut, to which the caller appends.
    std::string& text() { return text_; }

    // From now on cards are handed out as their place in the file, whose text starts at
    // byte textStart of it, instead of their text; the file has the stamp.
    void placeCardsInFile(std::uint64_t textStart, FileStamp stamp) {
        placesCards_ = true;
        textStartInFile_ = textStart;
        fileStamp_ = stamp;
    }

    // Cuts the cards that end in the text; at the end of the input also the last one.
    // Returns false once `found` asked to stop.
    bool cut(bool endOfInput) {
        const std::uint64_t textEnd = base_ + text_.size();
        if (lineBreaks_ == LineBreaks::unknown && !chooseLineBreaks(endOfInput)) return true;
        while (!stopped_ && lineStart_ < textEnd) {
            const auto lineFeed = nextOccurrence(lineFeeds_, lineStart_);
            const auto carriageReturn = lineBreaks_ == LineBreaks::any
                                            ? nextOccurrence(carriageReturns_, lineStart_)
                                            : std::nullopt;
            // The line goes on in the next block.
            if (!lineFeed && !carriageReturn && !endOfInput) break;
            const std::uint64_t lineEnd =
                std::min(lineFeed.value_or(textEnd), carriageReturn.value_or(textEnd));
            readLine(lineEnd);
            lineStart_ = lineEnd + 1;
        }
        if (stopped_) return false;
        if (endOfInput) {
            endCard(base_ + text_.size());
        } else if (cardOpen_) {
            // Drop the cards already handed out; what stays is the open card's text, or only
            // its unfinished line when the card is handed out as its place.
            const std::uint64_t keptFrom = placesCards_ ? lineStart_ : cardBegin_;
            text_.erase(0, offsetOf(keptFrom));
            base_ = keptFrom;
        }
        return !stopped_;
    }

    std::size_t cardCount() const { return cardCount_; }

  private:
    // Lines end at a line feed, after a carriage return or not; a file whose first line
    // break is a lone carriage return (classic Mac OS) has its lines end at either byte. The
    // choice is made once per file, so that the common files are searched for one byte only.
    enum class LineBreaks { unknown, lineFeed, any };

    // Chooses the file's line breaks once its first one can be seen; false while it cannot.
    bool chooseLineBreaks(bool endOfInput) {
        // Nothing but the first line is before the text, which is not searched twice.
        const std::size_t lineBreak = text_.find_first_of("\r\n", offsetOf(firstLineSearchedTo_));
        if (lineBreak == std::string::npos) {
            firstLineSearchedTo_ = base_ + text_.size();
            if (!endOfInput) return false;
            lineBreaks_ = LineBreaks::lineFeed;
        } else if (text_[lineBreak] == '\n') {
            lineBreaks_ = LineBreaks::lineFeed;
        } else if (lineBreak + 1 < text_.size()) {
            lineBreaks_ = text_[lineBreak + 1] == '\n' ? LineBreaks::lineFeed : LineBreaks::any;
        } else {
            firstLineSearchedTo_ = base_ + lineBreak;
            if (!endOfInput) return false;
            lineBreaks_ = LineBreaks::any;
        }
        return true;
    }

    // Where the search for one line-break byte got to. Lines are read front to back, so each
    // search goes on where the last one stopped and every byte is searched once.
    struct ByteSearch {
        char byte;
        bool found = false;
        std::uint64_t position = 0;  // of the byte when found, else the end of the search
    };

    std::optional<std::uint64_t> nextOccurrence(ByteSearch& search, std::uint64_t from) {
        if (search.found && search.position >= from) return search.position;
        const std::size_t start = offsetOf(search.found ? from : std::max(from, search.position));
        const void* hit = start < text_.size()
                              ? std::memchr(text_.data() + start, search.byte, text_.size() - start)
                              : nullptr;
        search.found = hit != nullptr;
        search.position =
            base_ + (search.found
                         ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data())
                         : text_.size());
        if (!search.found) return std::nullopt;
        return search.position;
    }

    std::size_t offsetOf(std::uint64_t position) const {
        return static_cast<std::size_t>(position - base_);
    }

    void readLine(std::uint64_t lineEnd) {
        const std::size_t start = offsetOf(lineStart_);
        std::string_view line(text_.data() + start, offsetOf(lineEnd) - start);
        if (!line.empty() && (line.front() == 'B' || line.front() == 'b') &&
            startsWithIgnoringCase(line, "begin:vcard")) {
            endCard(lineStart_);
            // endCard may have handed the text before the card away with its buffer.
            std::memcpy(text_.data() + offsetOf(lineStart_), kCardStart.data(), kCardStart.size());
            cardBegin_ = lineStart_;
            cardOpen_ = true;
            return;
        }
        // The first line of text before any card gets the card start put in front of it.
        if (lineStart_ == 0) return;
        if (line.starts_with("PRODID:")) {
            for (const auto producer : kOriginalProducers) {
                if (line.starts_with(producer)) isAppleOriginal_ = true;
            }
        } else if (isCategoriesLine(line)) {
            addCategories(line);
        }
    }

    void addCategories(std::string_view line) {
        auto categories = readCategoriesLine(line);
        if (categories.undecodableIn) {
            writeLog(LogType::error,
                     "VCFScanOperation [1002]: Failed to convert data to categories string using "
                     "given encoding. The CATEGORIES line of vCard %lu in %@ is not %@ text; its "
                     "groups are left out.",
                     cardCount_ + 1, desktop::fileURLString(file_),
                     categories.undecodableIn->ianaName());
            return;
        }
        for (auto& name : categories.names) {
            groups_.insert(name);
            cardGroups_.insert(std::move(name));
        }
    }

    // Hands out the open card, or the text before the first card when it is more than white
    // space, as ending before the position.
    void endCard(std::uint64_t end) {
        if (cardOpen_ && placesCards_) {
            ScannedVCard card;
            card.offset = textStartInFile_ + cardBegin_;
            card.length = end - cardBegin_;
            card.fileStamp = fileStamp_;
            handOut(std::move(card));
        } else if (cardOpen_) {
            handOut(takeText(cardBegin_, end));
        } else if (const std::string_view before(text_.data(), offsetOf(end));
                   !isOnlyWhiteSpace(before)) {
            if (before.size() == text_.size()) {
                // A file without any card: its text becomes the card, without a second copy.
                text_.insert(0, kCardStart);
                handOut(std::move(text_));
                text_.clear();
                base_ = end;
            } else {
                handOut(std::string(kCardStart).append(before));
            }
        }
        cardGroups_.clear();
        isAppleOriginal_ = false;
    }

    // The text from begin to end.
    std::string takeText(std::uint64_t begin, std::uint64_t end) {
        const std::size_t from = offsetOf(begin);
        const std::size_t size = offsetOf(end) - from;
        if (from == 0 && size >= kCardSizeWorthTheBuffer && size >= text_.size() / 2) {
            std::string rest(text_, size);
            text_.resize(size);
            std::string card = std::move(text_);
            text_ = std::move(rest);
            base_ = end;
            return card;
        }
        return text_.substr(from, size);
    }

    void handOut(std::string content) {
        ScannedVCard card;
        card.content = std::move(content);
        handOut(std::move(card));
    }

    void handOut(ScannedVCard card) {
        card.groupTitles = std::move(cardGroups_);
        card.file = sharedFile_;
        card.indexInFile = ++cardCount_;
        card.isAppleOriginal = isAppleOriginal_;
        if (!found_(std::move(card))) stopped_ = true;
    }

    const std::filesystem::path& file_;
    std::shared_ptr<const std::filesystem::path> sharedFile_;  // for the cards
    std::set<std::string>& groups_;
    const std::function<bool(ScannedVCard)>& found_;

    std::string text_;
    std::uint64_t base_ = 0;
    std::uint64_t lineStart_ = 0;  // the line not yet read
    LineBreaks lineBreaks_ = LineBreaks::unknown;
    std::uint64_t firstLineSearchedTo_ = 0;
    ByteSearch lineFeeds_{'\n'};
    ByteSearch carriageReturns_{'\r'};
    bool cardOpen_ = false;
    std::uint64_t cardBegin_ = 0;
    std::set<std::string> cardGroups_;
    bool isAppleOriginal_ = false;
    std::size_t cardCount_ = 0;
    bool stopped_ = false;
    bool placesCards_ = false;
    std::uint64_t textStartInFile_ = 0;
    FileStamp fileStamp_;
};

void logNoVCard(const std::filesystem::path& file) {
    writeLog(LogType::error, "Error: File seems not to be a vCard [%@=%@]", "NSFilePath",
             desktop::fileURLString(file));
}

}  // namespace

Expected<std::size_t, FileError> scanVCardStream(InputStream& input,
                                                 const std::filesystem::path& file,
                                                 std::set<std::string>& groups,
                                                 const std::function<bool(ScannedVCard)>& found,
                                                 std::size_t blockSize) {
    FileText text(file);
    CardCutter cutter(file, groups, found);
    blockSize = std::max<std::size_t>(blockSize, 1);
    // Cards are read back from the file when the input is that file, as it was scanned.
    const std::optional<FileStamp> stamp =
        input.filePath() == file ? input.fileStamp() : std::nullopt;
    bool placesChosen = false;
    std::string block;
    while (true) {
        std::size_t count = 0;
        std::string& unread = cutter.text();
        if (text.isPlain()) {
            // Plain text goes straight to the cutter: each byte is copied once, into its card.
            const std::size_t size = unread.size();
            unread.resize(size + blockSize);
            count = input.read(reinterpret_cast<std::uint8_t*>(unread.data() + size), blockSize);
            unread.resize(size + count);
        } else {
            block.resize(blockSize);
            count = input.read(reinterpret_cast<std::uint8_t*>(block.data()), blockSize);
            text.append(std::string_view(block.data(), count), count == 0, unread);
        }
        if (count == 0 && input.error()) {
            return Unexpected(FileError::make(FileAccess::reading, file, input.error()));
        }
        const bool endOfInput = count == 0;
        if (!placesChosen && text.isPlain()) {
            placesChosen = true;
            if (stamp) cutter.placeCardsInFile(text.plainTextStart(), *stamp);
        }
        if (!cutter.cut(endOfInput)) return cutter.cardCount();
        if (endOfInput) break;
    }
    if (cutter.cardCount() == 0) logNoVCard(file);
    return cutter.cardCount();
}

std::vector<ScannedVCard> scanVCardBytes(std::string_view bytes, const std::filesystem::path& file,
                                         std::set<std::string>& groups) {
    std::vector<ScannedVCard> cards;
    const std::function<bool(ScannedVCard)> collect = [&](ScannedVCard card) {
        cards.push_back(std::move(card));
        return true;
    };
    FileText text(file);
    CardCutter cutter(file, groups, collect);
    text.append(bytes, true, cutter.text());
    (void)cutter.cut(true);
    if (cards.empty()) logNoVCard(file);
    return cards;
}

Expected<std::string, FileError> VCardContentReader::content(const ScannedVCard& card) {
    if (!card.content.empty()) return card.content;
    const auto changed = [&card] {
        return Unexpected(FileError::make(
            FileAccess::reading, card.fileUrl(), std::make_error_code(std::errc::io_error),
            localizedString("the file has changed since it was scanned; scan it again")));
    };
    if (!file_ || file_->path() != card.fileUrl()) {
        file_.reset();
        auto opened = RandomAccessFile::open(card.fileUrl());
        if (!opened) return Unexpected(std::move(opened.error()));
        file_.emplace(std::move(*opened));
    }
    // The status of the open file, not of the path: a file replaced under the same name
    // after it was opened still holds the bytes that were scanned.
    auto stamp = file_->stamp();
    if (!stamp) return Unexpected(std::move(stamp.error()));
    if (*stamp != card.fileStamp) return changed();
    auto bytes = file_->read(card.offset, static_cast<std::size_t>(card.length));
    if (!bytes) return Unexpected(std::move(bytes.error()));
    if (!startsWithIgnoringCase(*bytes, "begin:vcard")) return changed();
    bytes->replace(0, kCardStart.size(), kCardStart);
    return std::move(*bytes);
}

Expected<std::string, FileError> cardContent(const ScannedVCard& card) {
    VCardContentReader reader;
    return reader.content(card);
}

std::vector<std::string> categoriesOfLine(std::string_view line) {
    return readCategoriesLine(line).names;
}

VCardScanOperation::VCardScanOperation(std::vector<std::filesystem::path> files,
                                       std::weak_ptr<VCardScanDelegate> delegate)
    : files_(std::move(files)), delegate_(std::move(delegate)) {}

void VCardScanOperation::main(Operation& operation) {
    // Steps: tell the delegate that the scan starts; for each file, announce it, read it in
    // blocks and hand out each card as soon as it is whole (a file that cannot be read or
    // holds no card is logged and reported as skipped); then post the sorted group names.
    if (auto delegate = delegate_.lock()) delegate->vCardScanDidStart();
    std::set<std::string> groups;
    const auto skip = [this](const std::filesystem::path& file, std::string reason) {
        MainQueue::shared().post([delegate = delegate_, file, reason = std::move(reason)] {
            if (auto strong = delegate.lock()) strong->vCardScanDidSkipFile(file, reason);
        });
    };
    const std::function<bool(ScannedVCard)> found = [&](ScannedVCard card) {
        if (operation.isCancelled()) return false;
        if (auto delegate = delegate_.lock()) delegate->vCardScanDidScan(std::move(card));
        return true;
    };
    for (std::size_t index = 0; index < files_.size(); ++index) {
        if (operation.isCancelled()) return;
        MainQueue::shared().post([delegate = delegate_, index] {
            if (auto strong = delegate.lock()) strong->vCardScanWillReadFile(index);
        });
        const auto& file = files_[index];
        auto scanned = [&]() -> Expected<std::size_t, FileError> {
            auto input = InputStream::openFile(file);
            if (!input) return Unexpected(std::move(input.error()));
            return scanVCardStream(**input, file, groups, found);
        }();
        if (operation.isCancelled()) return;
        if (!scanned) {
            writeLog(LogType::error, "vCard Scan Error: %@", scanned.error().message);
            skip(file, scanned.error().message);
        } else if (*scanned == 0) {
            skip(file, formatMessage(localizedString("“%@” holds no vCard: it is empty or holds "
                                                     "only white space.",
                                                     "why a vCard file was passed over"),
                                     file.filename()));
        }
    }
    MainQueue::shared().post([delegate = delegate_, names = std::vector<std::string>(
                                                        groups.begin(), groups.end())]() mutable {
        if (auto strong = delegate.lock()) strong->vCardScanDidFinish(std::move(names));
    });
}

}  // namespace pelkora
