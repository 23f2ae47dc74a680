#include "input/CsvParser.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <utility>

#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/Utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelkora {
namespace {

// The first read, the one the encoding is sniffed from.
constexpr std::size_t kSniffSize = 512;
// Later reads. Larger reads cost nothing in memory that matters (only the unconsumed tail and
// the current field are kept) and make refills, and the compaction that goes with each, rare.
constexpr std::size_t kReadSize = 64 * 1024;

// Byte classes: which scanning loop must look closer at a byte. The multi-byte characters
// that matter (U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000
// and a non-ASCII delimiter) are flagged by their lead byte and then decoded and compared.
constexpr std::uint8_t kStopsUnescaped = 1;  // line break, delimiter, "\" when escaping
constexpr std::uint8_t kStopsQuoted = 2;     // '"', "\" when escaping
constexpr std::uint8_t kStopsComment = 4;    // line break, "\" when escaping
constexpr std::uint8_t kMayBeWhitespace = 8;
constexpr std::uint8_t kMayBeLineBreak = 16;

constexpr std::uint8_t kLineBreakLeadBytes[] = {0xC2, 0xE2};
constexpr std::uint8_t kWhitespaceLeadBytes[] = {' ', '\t', 0xC2, 0xE1, 0xE2, 0xE3};

// A byte-order mark at the start of a stream and the encoding it announces.
struct ByteOrderMark {
    std::string_view bytes;
    TextEncoding (*encoding)();
};

// Tested in this order, so the four-byte marks win over the two-byte marks they start with.
constexpr ByteOrderMark kByteOrderMarks[] = {
    {std::string_view("\x00\x00\xFE\xFF", 4), &TextEncoding::utf32BigEndian},
    {std::string_view("\xFF\xFE\x00\x00", 4), &TextEncoding::utf32LittleEndian},
    {std::string_view("\x1B\x24\x29\x43", 4), &TextEncoding::iso2022KR},
    {std::string_view("\xFE\xFF", 2), &TextEncoding::utf16BigEndian},
    {std::string_view("\xFF\xFE", 2), &TextEncoding::utf16LittleEndian},
    {std::string_view("\xEF\xBB\xBF", 3), &TextEncoding::utf8},
};

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isWhitespace(char32_t c) {
    return c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// The code point at p and its length in bytes. The text comes from the decoder and is valid
// UTF-8; available only bounds the read.
char32_t decodeCharacter(const std::uint8_t* p, std::size_t available, std::size_t& length) {
    const std::uint8_t lead = p[0];
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    std::size_t count = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    count = std::min(count, available);
    char32_t c = count == 1 ? lead : lead & (0x7F >> count);
    for (std::size_t i = 1; i < count; ++i) c = (c << 6) | (p[i] & 0x3F);
    length = count;
    return c;
}

std::string encodeCharacter(char32_t c) {
    std::string text;
    utf8::appendCodePoint(text, c);
    return text;
}

const std::uint8_t* bytesOf(std::string_view text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

// Whether a byte at either end of a value may belong to white space or a line break; any
// byte of a multi-byte character may.
bool mayBeTrimmed(char byte) {
    const auto value = static_cast<std::uint8_t>(byte);
    return value <= ' ' || value >= 0x80;
}

// The text without white space and line breaks at either end.
std::string_view trimmed(std::string_view text) {
    // Most values begin and end with an ASCII letter or digit and need no decoding.
    if (text.empty() || (!mayBeTrimmed(text.front()) && !mayBeTrimmed(text.back()))) return text;
    std::size_t length = 0;
    while (!text.empty()) {
        const char32_t c = decodeCharacter(bytesOf(text), text.size(), length);
        if (!isWhitespace(c) && !isLineBreak(c)) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && text.size() - start < 4 && (bytesOf(text)[start] & 0xC0) == 0x80) {
            --start;
        }
        const char32_t c = decodeCharacter(bytesOf(text) + start, text.size() - start, length);
        if (!isWhitespace(c) && !isLineBreak(c)) break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

// The length of the invalid sequence at the start of bytes: for UTF-8 the longest prefix
// that could start a character, at least one byte; one byte in any other encoding.
std::size_t invalidSequenceLength(std::span<const std::uint8_t> bytes, bool utf8) {
    if (bytes.empty()) return 0;
    if (!utf8) return 1;
    return utf8::sequenceStart(
               std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
        .length;
}

std::string hexadecimal(char32_t c) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(c));
    return digits;
}

}  // namespace

void CsvParserDelegate::parserDidBeginDocument(CsvParser&) {}
void CsvParserDelegate::parserDidBeginLine(CsvParser&, std::uint64_t) {}
void CsvParserDelegate::parserDidReadField(CsvParser&, std::string_view, std::uint64_t) {}
void CsvParserDelegate::parserDidReadComment(CsvParser&, std::string_view) {}
void CsvParserDelegate::parserDidReplaceUndecodableBytes(CsvParser&, std::uint64_t, std::uint64_t) {
}
void CsvParserDelegate::parserDidEndLine(CsvParser&, std::uint64_t) {}
void CsvParserDelegate::parserDidEndDocument(CsvParser&) {}
void CsvParserDelegate::parserDidFailWithError(CsvParser&, const CsvError&) {}

CsvParser::CsvParser(std::unique_ptr<InputStream> stream, std::optional<TextEncoding>* usedEncoding,
                     char32_t delimiter)
    : stream_(std::move(stream)), streamEncoding_(TextEncoding::utf8()), delimiter_(delimiter) {
    if (!stream_) throw std::invalid_argument("Invalid parameter not satisfying: stream");
    if (delimiter == 0 || delimiter > 0x10FFFF || (delimiter >= 0xD800 && delimiter <= 0xDFFF)) {
        throw std::invalid_argument("Invalid parameter not satisfying: delimiter");
    }
    if (isLineBreak(delimiter)) {
        throw std::invalid_argument("The field delimiter may not be a newline");
    }
    if (delimiter == '"') {
        throw std::invalid_argument("The field delimiter may not be a double quote");
    }
    delimiterText_ = encodeCharacter(delimiter);
    if (usedEncoding != nullptr && usedEncoding->has_value()) {
        streamEncoding_ = **usedEncoding;
    } else {
        sniffEncoding();
        if (usedEncoding != nullptr) *usedEncoding = streamEncoding_;
    }
    decoder_ = TextDecoder::make(streamEncoding_);
    buildByteClasses();
}

CsvParser::~CsvParser() = default;

void CsvParser::setRecognizesBackslashesAsEscapes(bool recognizes) {
    if (recognizes && delimiter_ == '\\') {
        throw std::logic_error(
            "Cannot recognize backslashes as escapes when using '\\' as the delimiter");
    }
    recognizesBackslashesAsEscapes_ = recognizes;
    buildByteClasses();
}

void CsvParser::setRecognizesComments(bool recognizes) {
    if (recognizes && delimiter_ == '#') {
        throw std::logic_error("Cannot recognize comments when using '#' as the delimiter");
    }
    recognizesComments_ = recognizes;
}

void CsvParser::setRecognizesLeadingEqualSign(bool recognizes) {
    if (recognizes && delimiter_ == '=') {
        throw std::logic_error(
            "Cannot recognize leading equal sign when using '=' as the delimiter");
    }
    recognizesLeadingEqualSign_ = recognizes;
}

// Sniffing the encoding:
//   1. read up to 512 bytes (nothing read: UTF-8);
//   2. a byte-order mark names the encoding and is removed;
//   3. else the bytes, or the bytes less a cut multi-byte tail of 1 to 3 bytes, that are valid
//      UTF-8 make it UTF-8;
//   4. else a guess: Windows Latin 1, which decodes any byte.
void CsvParser::sniffEncoding() {
    undecoded_.resize(kSniffSize);
    std::size_t count = 0;
    // A stream may hand out less than asked for; the sniff wants the whole window.
    while (count < kSniffSize && stream_->hasBytesAvailable()) {
        const std::size_t read = stream_->read(undecoded_.data() + count, kSniffSize - count);
        if (read == 0) break;
        count += read;
    }
    undecoded_.resize(count);
    totalBytesRead_ += count;
    if (count == 0) return;

    const std::string_view head(reinterpret_cast<const char*>(undecoded_.data()), count);
    for (const ByteOrderMark& mark : kByteOrderMarks) {
        if (head.starts_with(mark.bytes)) {
            streamEncoding_ = mark.encoding();
            undecodedBegin_ = mark.bytes.size();
            return;
        }
    }
    const std::span<const std::uint8_t> bytes(undecoded_);
    for (std::size_t cut = 0; cut <= std::min<std::size_t>(3, count); ++cut) {
        if (decodeStrictly(bytes.first(count - cut), TextEncoding::utf8())) return;
    }
    writeLog(LogType::info, "unable to determine stream encoding; guessed Windows Latin 1");
    streamEncoding_ = TextEncoding::windowsLatin1();
}

void CsvParser::buildByteClasses() {
    byteClasses_.fill(0);
    const std::uint8_t lineBreak = kStopsUnescaped | kStopsComment | kMayBeLineBreak;
    for (std::uint8_t byte = 0x0A; byte <= 0x0D; ++byte) byteClasses_[byte] |= lineBreak;
    for (std::uint8_t byte : kLineBreakLeadBytes) byteClasses_[byte] |= lineBreak;
    for (std::uint8_t byte : kWhitespaceLeadBytes) byteClasses_[byte] |= kMayBeWhitespace;
    byteClasses_[static_cast<std::uint8_t>(delimiterText_[0])] |= kStopsUnescaped;
    byteClasses_['"'] |= kStopsQuoted;
    if (recognizesBackslashesAsEscapes_) {
        byteClasses_['\\'] |= kStopsUnescaped | kStopsQuoted | kStopsComment;
    }
    const auto delimiterLead = static_cast<std::uint8_t>(delimiterText_[0]);
    const bool escapes = recognizesBackslashesAsEscapes_;
    unescapedStops_ = {{delimiterLead, escapes ? std::uint8_t{'\\'} : delimiterLead, 0xC2, 0xE2},
                       true};
    quotedStops_ = {{'"', escapes ? std::uint8_t{'\\'} : std::uint8_t{'"'}, '"', '"'}, false};
    commentStops_ = {{escapes ? std::uint8_t{'\\'} : std::uint8_t{0xC2}, 0xC2, 0xE2, 0xE2}, true};
}

// Returns the offset of the first byte from `from` on whose class has a bit of stopClass, or
// the end of text_. The stop bytes hold the same set as the class table, as up to four single
// bytes plus, optionally, the line-break range 0x0A-0x0D.
//
// Fields are short, and a byte-by-byte loop pays a mispredicted branch at the end of each;
// with SSE2 (always there on x86-64) sixteen bytes are tested at once and a typical field
// ends inside its first block.
std::size_t CsvParser::findStop(std::size_t from, std::uint8_t stopClass,
                                const StopBytes& stops) const {
    const auto* data = bytesOf(text_);
    const std::size_t end = text_.size();
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(stops.bytes[0]));
    const __m128i second = _mm_set1_epi8(static_cast<char>(stops.bytes[1]));
    const __m128i third = _mm_set1_epi8(static_cast<char>(stops.bytes[2]));
    const __m128i fourth = _mm_set1_epi8(static_cast<char>(stops.bytes[3]));
    const __m128i lineFeed = _mm_set1_epi8(0x0A);
    const __m128i lineBreakSpan = _mm_set1_epi8(3);
    const std::size_t vectorEnd = scansSixteenBytesAtATime_ ? end : 0;
    while (from + 16 <= vectorEnd) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + from));
        __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second)),
                         _mm_or_si128(_mm_cmpeq_epi8(block, third), _mm_cmpeq_epi8(block, fourth)));
        if (stops.lineBreaks) {
            // A byte is in 0x0A-0x0D when byte - 0x0A, unsigned, is at most 3.
            const __m128i offset = _mm_sub_epi8(block, lineFeed);
            hits = _mm_or_si128(hits, _mm_cmpeq_epi8(_mm_min_epu8(offset, lineBreakSpan), offset));
        }
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask != 0) return from + static_cast<std::size_t>(std::countr_zero(mask));
        from += 16;
    }
#else
    (void)stops;
#endif
    while (from < end && (byteClasses_[data[from]] & stopClass) == 0) ++from;
    return from;
}

// Drops the delivered front of text_, moving every position kept into it along.
void CsvParser::compactText() {
    if (consumed_ == 0) return;
    textOrigin_ += consumed_;
    text_.erase(0, consumed_);
    nextIndex_ -= consumed_;
    extentStart_ -= consumed_;
    sanitizedField_.shift(consumed_);
    consumed_ = 0;
}

// Marks everything before nextIndex_ as delivered, to be dropped at the next refill; no kept
// position then lies before it.
void CsvParser::dropConsumed() {
    consumed_ = extentStart_ = nextIndex_;
    sanitizedField_.clear();
}

// Reads the next piece of the stream behind the bytes not yet decoded; false at its end.
bool CsvParser::readMore() {
    undecoded_.erase(undecoded_.begin(),
                     undecoded_.begin() + static_cast<std::ptrdiff_t>(undecodedBegin_));
    undecodedBegin_ = 0;
    // The stream may already have ended in the sniff's reads, so its error is looked at
    // whenever it gives nothing more.
    if (!stream_->hasBytesAvailable()) {
        failWithReadError();
        return false;
    }
    const std::size_t kept = undecoded_.size();
    undecoded_.resize(kept + kReadSize);
    const std::size_t count = stream_->read(undecoded_.data() + kept, kReadSize);
    undecoded_.resize(kept + count);
    totalBytesRead_ += count;
    if (count == 0) failWithReadError();
    return count > 0;
}

// Appends more decoded text to text_; false when none will ever come. Refilling:
//   1. drop the delivered front of text_;
//   2. read the next piece unless bytes read earlier have not been offered to the decoder;
//   3. decode the longest valid prefix of the undecoded bytes and keep the rest (a character
//      cut by the read) for the next round;
//   4. at the end of the stream, or at bytes that are not valid in the encoding, the input
//      ends: the text before them is parsed and nothing after them.
bool CsvParser::loadMore() {
    if (inputEnded_) return false;
    if (!decoder_) {
        inputEnded_ = true;
        return false;
    }
    compactText();
    const std::size_t before = text_.size();
    for (;;) {
        bool streamEnded = false;
        if (undecodedOffered_ || undecodedBegin_ == undecoded_.size()) {
            streamEnded = !readMore();
        }
        const auto bytes = std::span<const std::uint8_t>(undecoded_).subspan(undecodedBegin_);
        const DecodeResult result =
            bytes.empty() ? DecodeResult{} : decoder_->decode(bytes, text_, streamEnded);
        undecodedBegin_ += result.bytesConsumed;
        undecodedOffered_ = true;
        if (result.invalid && replacesUndecodableBytes_) {
            const auto rest = std::span<const std::uint8_t>(undecoded_).subspan(undecodedBegin_);
            const std::uint64_t offset = totalBytesRead_ - rest.size();
            replacements_.emplace_back(textOrigin_ + text_.size(), offset);
            text_ += "\xEF\xBF\xBD";
            undecodedBegin_ += invalidSequenceLength(rest, streamEncoding_ == TextEncoding::utf8());
            // The bytes after the sequence are offered again before anything more is read.
            undecodedOffered_ = undecodedBegin_ == undecoded_.size() && streamEnded;
            if (!undecodedOffered_) continue;
            inputEnded_ = true;
            return true;
        }
        if (result.invalid || streamEnded) {
            inputEnded_ = true;
            if (result.invalid) {
                undecodableByteOffset_ = totalBytesRead_ - (undecoded_.size() - undecodedBegin_);
            }
            // The stream is not read past bytes that will never decode.
            undecoded_.clear();
            undecodedBegin_ = 0;
            return text_.size() > before;
        }
        if (text_.size() > before) return true;
    }
}

bool CsvParser::fillUntilAvailable(std::size_t count) {
    while (text_.size() - nextIndex_ < count) {
        if (!loadMore()) return false;
    }
    return true;
}

char32_t CsvParser::characterAt(std::size_t offset, std::size_t& length) const {
    return decodeCharacter(bytesOf(text_) + offset, text_.size() - offset, length);
}

// Appends the character at nextIndex_ to the field's value and steps over it.
void CsvParser::takeCharacter() {
    std::size_t length = 0;
    characterAt(nextIndex_, length);
    if (sanitizesFields_) sanitizedField_.append(text_, nextIndex_, nextIndex_ + length);
    nextIndex_ += length;
}

std::string_view CsvParser::textBetween(std::size_t from, std::size_t to) const {
    return std::string_view(text_).substr(from, to - from);
}

// Parsing a document:
//   1. begin the document;
//   2. parse records while a record reports that more input follows;
//   3. report the error that stopped the parse, or the end of the document (also after a
//      cancel, which suppresses the error).
void CsvParser::parse() {
    buildByteClasses();
    events().parserDidBeginDocument(*this);
    currentRecord_ = 0;
    while (parseRecord()) {
    }
    if (error_ && !cancelled_) {
        events().parserDidFailWithError(*this, *error_);
    } else {
        events().parserDidEndDocument(*this);
    }
}

// A record: the comment lines before it, then its fields separated by delimiters, then the
// run of line breaks after it. Returns whether another record may follow.
bool CsvParser::parseRecord() {
    while (recognizesComments_ && hasCharacter() && text_[nextIndex_] == '#') parseComment();
    if (hasCharacter()) {
        if (!cancelled_) {
            fieldIndex_ = 0;
            ++currentRecord_;
            events().parserDidBeginLine(*this, currentRecord_);
        }
        while (parseField() && parseDelimiter()) {
        }
        if (!cancelled_) events().parserDidEndLine(*this, currentRecord_);
    }
    if (!parseLineBreaks() || error_) return false;
    return hasCharacter();
}

// Steps over a run of line breaks, so "\r\n" and empty lines separate records once.
bool CsvParser::parseLineBreaks() {
    if (cancelled_) return false;
    bool found = false;
    while (hasCharacter() &&
           (byteClasses_[static_cast<std::uint8_t>(text_[nextIndex_])] & kMayBeLineBreak) != 0) {
        std::size_t length = 0;
        if (!isLineBreak(characterAt(nextIndex_, length))) break;
        nextIndex_ += length;
        found = true;
    }
    if (found) dropConsumed();
    return found;
}

// A comment runs from after "#" to the line break; an escaped line break continues it, and
// the escape characters stay in the text delivered.
void CsvParser::parseComment() {
    ++nextIndex_;
    extentStart_ = nextIndex_;
    while (hasCharacter()) {
        const std::size_t position = findStop(nextIndex_, kStopsComment, commentStops_);
        nextIndex_ = position;
        if (position == text_.size()) continue;
        std::size_t length = 0;
        if (text_[position] == '\\' && recognizesBackslashesAsEscapes_) {
            ++nextIndex_;
            if (hasCharacter()) {
                characterAt(nextIndex_, length);
                nextIndex_ += length;
            }
            continue;
        }
        if (isLineBreak(characterAt(position, length))) break;
        nextIndex_ += length;
    }
    events().parserDidReadComment(*this, textBetween(extentStart_, nextIndex_));
    dropConsumed();
    parseLineBreaks();
}

// A field: white space, the quoted, equal-sign-quoted or unquoted value, white space; then
// delivered. Fails, delivering nothing, when cancelled or when a quoted value is not closed.
bool CsvParser::parseField() {
    if (cancelled_) return false;
    extentStart_ = nextIndex_;
    sanitizedField_.clear();
    trimsSanitizedField_ = false;
    if (nextHasClass(kMayBeWhitespace)) parseFieldWhitespace();
    if (hasCharacter() && text_[nextIndex_] == '"') {
        if (!parseEscapedField()) return false;
    } else if (recognizesLeadingEqualSign_ && hasCharacter() && text_[nextIndex_] == '=' &&
               fillUntilAvailable(2) && text_[nextIndex_ + 1] == '"') {
        ++nextIndex_;
        if (!parseEscapedField()) return false;
    } else {
        parseUnescapedField();
        trimsSanitizedField_ = trimsWhitespace_;
    }
    if (nextHasClass(kMayBeWhitespace)) parseFieldWhitespace();
    endField();
    return true;
}

// Steps over white space other than the delimiter, keeping it in the value unless trimming.
void CsvParser::parseFieldWhitespace() {
    while (hasCharacter() &&
           (byteClasses_[static_cast<std::uint8_t>(text_[nextIndex_])] & kMayBeWhitespace) != 0) {
        std::size_t length = 0;
        const char32_t c = characterAt(nextIndex_, length);
        if (!isWhitespace(c) || c == delimiter_) return;
        if (!trimsWhitespace_ && sanitizesFields_) {
            sanitizedField_.append(text_, nextIndex_, nextIndex_ + length);
        }
        nextIndex_ += length;
    }
}

// A quoted value: everything up to the closing quote, line breaks and delimiters included,
// with "" standing for one quote and, when escaping, "\" making the next character literal.
bool CsvParser::parseEscapedField() {
    ++nextIndex_;
    while (hasCharacter()) {
        // Runs of ordinary bytes are taken in one piece; with no doubled quote or escape in
        // it, the value stays a range of text_.
        const std::size_t position = findStop(nextIndex_, kStopsQuoted, quotedStops_);
        if (sanitizesFields_) sanitizedField_.append(text_, nextIndex_, position);
        nextIndex_ = position;
        if (position == text_.size()) continue;
        if (text_[position] == '\\') {
            ++nextIndex_;
            if (hasCharacter()) takeCharacter();
            continue;
        }
        if (fillUntilAvailable(2) && text_[nextIndex_ + 1] == '"') {
            if (sanitizesFields_) sanitizedField_.append(text_, nextIndex_, nextIndex_ + 1);
            nextIndex_ += 2;
            continue;
        }
        ++nextIndex_;
        return true;
    }
    if (!cancelled_ && !unterminatedQuotedFieldRecord_)
        unterminatedQuotedFieldRecord_ = currentRecord_;
    return false;
}

// An unquoted value: everything up to a line break or the delimiter, double quotes included,
// with "\" making the next character literal when escaping.
void CsvParser::parseUnescapedField() {
    while (hasCharacter()) {
        const std::size_t position = findStop(nextIndex_, kStopsUnescaped, unescapedStops_);
        if (sanitizesFields_) sanitizedField_.append(text_, nextIndex_, position);
        nextIndex_ = position;
        if (position == text_.size()) continue;
        if (text_[position] == '\\' && recognizesBackslashesAsEscapes_) {
            ++nextIndex_;
            if (hasCharacter()) takeCharacter();
            continue;
        }
        std::size_t length = 0;
        const char32_t c = characterAt(position, length);
        if (c == delimiter_ || isLineBreak(c)) return;
        takeCharacter();
    }
}

// Delivers the field: its value without quotes and escapes when sanitising, else its raw
// text; either trimmed of white space and line breaks when trimming (a quoted value's
// content excepted).
void CsvParser::endField() {
    if (cancelled_) return;
    std::string_view value;
    if (sanitizesFields_) {
        value = sanitizedField_.view(text_);
        if (trimsSanitizedField_) value = trimmed(value);
    } else {
        value = textBetween(extentStart_, nextIndex_);
        if (trimsWhitespace_) value = trimmed(value);
    }
    // Replacements up to the end of the field were in it (or in the line breaks before it).
    const std::uint64_t fieldEnd = textOrigin_ + nextIndex_;
    std::size_t reported = 0;
    while (reported < replacements_.size() && replacements_[reported].first < fieldEnd) {
        events().parserDidReplaceUndecodableBytes(*this, fieldIndex_,
                                                  replacements_[reported].second);
        ++reported;
    }
    replacements_.erase(replacements_.begin(),
                        replacements_.begin() + static_cast<std::ptrdiff_t>(reported));
    events().parserDidReadField(*this, value, fieldIndex_);
    dropConsumed();
    ++fieldIndex_;
}

// After a field: the delimiter (found), a line break or the end of input (not found), or
// anything else, which is the grammar's one error.
bool CsvParser::parseDelimiter() {
    if (!hasCharacter()) return false;
    std::size_t length = 0;
    const char32_t c = characterAt(nextIndex_, length);
    if (c == delimiter_) {
        nextIndex_ += length;
        return true;
    }
    if (!isLineBreak(c)) failWithUnexpectedCharacter(c);
    return false;
}

void CsvParser::failWithUnexpectedCharacter(char32_t found) {
    error_ =
        CsvError{CsvErrorKind::unexpectedDelimiter,
                 formatMessage(localizedString("Unexpected delimiter. Expected '%1$@' (0x%2$@), "
                                               "but got '%3$@' (0x%4$@)"),
                               delimiterText_, hexadecimal(delimiter_), encodeCharacter(found),
                               hexadecimal(found)),
                 stream_->filePath()};
}

// Fails the parse when the stream ended on a read error rather than at its end. The first
// error stays: a grammar error met earlier already stops the parse.
void CsvParser::failWithReadError() {
    const std::error_code code = stream_->error();
    if (!code || error_) return;
    const std::filesystem::path file = stream_->filePath();
    const std::string name = file.empty()
                                 ? localizedString("the input",
                                                   "What could not be read, in “Could not read "
                                                   "the input past byte …”")
                                 : "“" + file.string() + "”";
    error_ = CsvError{CsvErrorKind::readFailed,
                      formatMessage(localizedString("Could not read %1$@ past byte %2$@: %3$@. The "
                                                    "rest of the file is missing, so its rows are "
                                                    "not used; check that the disk or network "
                                                    "share is reachable and try again."),
                                    name, std::to_string(totalBytesRead_), code.message()),
                      file, std::nullopt, totalBytesRead_};
}

}  // namespace pelkora
