#pragma once

// A streaming, event-driven parser for delimited text (comma-, semicolon-, tab- or otherwise
// separated values). It reads the stream in pieces, decodes them into UTF-8 and reports the
// document, each record, each field and each comment to a delegate as it goes, holding only
// the unconsumed rest of the current field and a small lookahead, never the document.
//
// Grammar, in characters of the decoded text:
//   document = record (line-breaks record)*
//   record   = comment* [field (delimiter field)*]
//   comment  = "#" text up to a line break ("\" escapes the next character when enabled)
//   field    = white-space* (escaped | "=" escaped | unescaped) white-space*
//   escaped  = '"' (any character but '"' | '""' | "\" any character)* '"'
//   unescaped = (any character but a line break or the delimiter | "\" any character)*
// A run of line breaks ("\r\n", empty lines) separates two records, so empty lines make no
// records. Line breaks are U+000A-U+000D, U+0085, U+2028 and U+2029; white space is space,
// tab and the other horizontal spaces (U+00A0, U+1680, U+2000-U+200A, U+202F, U+205F, U+3000).
// Line breaks at the very start make one record of one empty field.
//
// The only grammar error is a character other than the delimiter or a line break after a
// quoted field; it ends the parse after the current record. A read error of the stream also
// ends the parse with an error, after the record it cuts short: a file that stops early must
// not read as a file that ended. A quoted field still open at the end of the input is dropped
// silently, and bytes that do not decode end the input where they start, unless the parser
// replaces them (setReplacesUndecodableBytes), when each invalid sequence becomes U+FFFD and
// is reported with the field it ends up in. A NUL character is ordinary field content.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/InputStream.h"
#include "support/Error.h"
#include "text/TextEncoding.h"

namespace pelkora {

class CsvParser;

// The error domain under which the parser's errors are numbered (the values of CsvErrorKind).
inline constexpr std::string_view csvErrorDomain = "org.pelkora.CHCSVParser";

// Why a parse stopped; each value is the error's code in csvErrorDomain.
enum class CsvErrorKind {
    // The grammar's one error: something other than a delimiter or line break after a quoted
    // field.
    unexpectedDelimiter = 1,
    // The stream reported a read error before its end.
    readFailed = 2,
};

// Why a parse stopped. For unexpectedDelimiter the message reads "Unexpected delimiter.
// Expected ',' (0x2C), but got 'x' (0x78)"; for readFailed it names the file, the byte offset
// and the system's reason, and byteOffset is the offset of the first byte not read.
using CsvError = Error<CsvErrorKind>;

// Receives a parser's events, synchronously on the thread that runs CsvParser::parse. Every
// method does nothing unless overridden. For one parse: begin document once, then records and
// comments, then exactly one of end document (also after cancelParsing) or failure.
class CsvParserDelegate {
  public:
    virtual ~CsvParserDelegate() = default;

    // Parsing has begun; nothing has been read yet.
    virtual void parserDidBeginDocument(CsvParser& parser);
    // A record begins; records are numbered from 1.
    virtual void parserDidBeginLine(CsvParser& parser, std::uint64_t recordNumber);
    // A field of the current record, numbered from 0 within it. The view points into the
    // parser's buffer and is valid only during the call.
    virtual void parserDidReadField(CsvParser& parser, std::string_view field,
                                    std::uint64_t fieldIndex);
    // A comment line's text after the "#"; the view is valid only during the call.
    virtual void parserDidReadComment(CsvParser& parser, std::string_view comment);
    // A sequence of bytes at byteOffset did not decode and is U+FFFD in the field of the current
    // record that is delivered next (numbered fieldIndex); only when replacing such bytes.
    virtual void parserDidReplaceUndecodableBytes(CsvParser& parser, std::uint64_t fieldIndex,
                                                  std::uint64_t byteOffset);
    // The record with this number has ended.
    virtual void parserDidEndLine(CsvParser& parser, std::uint64_t recordNumber);
    // The parse has ended at the end of the input or after cancelParsing.
    virtual void parserDidEndDocument(CsvParser& parser);
    // The parse stopped on a grammar or read error; this replaces parserDidEndDocument.
    virtual void parserDidFailWithError(CsvParser& parser, const CsvError& error);
};

// Parses one stream once. Not thread-safe: made, configured and run on one thread.
class CsvParser {
  public:
    // Takes the stream and settles the encoding. When usedEncoding is null or holds no
    // encoding, the encoding is sniffed from the first 512 bytes (byte-order mark, else UTF-8
    // when they are valid UTF-8, else a guess of Windows Latin 1) and written back through a
    // non-null usedEncoding; otherwise the encoding it holds is used as it is. The delimiter is one
    // Unicode code point. Throws std::invalid_argument for a null stream or a delimiter that is
    // 0, not a code point, a line break or the double quote.
    CsvParser(std::unique_ptr<InputStream> stream, std::optional<TextEncoding>* usedEncoding,
              char32_t delimiter);
    ~CsvParser();
    CsvParser(const CsvParser&) = delete;
    CsvParser& operator=(const CsvParser&) = delete;

    // Returns the encoding the bytes are decoded with.
    const TextEncoding& streamEncoding() const { return streamEncoding_; }
    // Returns the field delimiter.
    char32_t delimiter() const { return delimiter_; }

    // Returns the receiver of the events, or null; the parser does not own it.
    CsvParserDelegate* delegate() const { return delegate_; }
    // Sets the receiver of the events; it must outlive the parse.
    void setDelegate(CsvParserDelegate* delegate) { delegate_ = delegate; }

    // Whether fields are delivered without their quotes and escape characters.
    bool sanitizesFields() const { return sanitizesFields_; }
    void setSanitizesFields(bool sanitizes) { sanitizesFields_ = sanitizes; }
    // Whether white space and line breaks around unquoted values (and around quotes) are cut.
    bool trimsWhitespace() const { return trimsWhitespace_; }
    void setTrimsWhitespace(bool trims) { trimsWhitespace_ = trims; }
    // Whether "\" makes the next character literal. Throws std::logic_error when enabled with
    // "\" as the delimiter.
    bool recognizesBackslashesAsEscapes() const { return recognizesBackslashesAsEscapes_; }
    void setRecognizesBackslashesAsEscapes(bool recognizes);
    // Whether a record starting with "#" is a comment. Throws std::logic_error when enabled with
    // "#" as the delimiter.
    bool recognizesComments() const { return recognizesComments_; }
    void setRecognizesComments(bool recognizes);
    // Whether ="..." is read as the quoted text (spreadsheets' way to keep leading zeros).
    // Throws std::logic_error when enabled with "=" as the delimiter.
    bool recognizesLeadingEqualSign() const { return recognizesLeadingEqualSign_; }
    void setRecognizesLeadingEqualSign(bool recognizes);

    // Whether bytes that do not decode become U+FFFD (each invalid sequence one) and the parse
    // goes on, instead of ending the input there. For text known to be in the encoding but
    // for a few damaged bytes.
    bool replacesUndecodableBytes() const { return replacesUndecodableBytes_; }
    void setReplacesUndecodableBytes(bool replaces) { replacesUndecodableBytes_ = replaces; }

    // Whether the next quote, delimiter, escape or line break is looked for 16 bytes at a time
    // (with SSE2) rather than byte by byte. On by default; the events are the same either way,
    // which the parser's differential fuzz target checks by turning it off.
    bool scansSixteenBytesAtATime() const { return scansSixteenBytesAtATime_; }
    void setScansSixteenBytesAtATime(bool scans) { scansSixteenBytesAtATime_ = scans; }

    // Returns the number of bytes taken from the stream so far.
    std::uint64_t totalBytesRead() const { return totalBytesRead_; }
    void setTotalBytesRead(std::uint64_t count) { totalBytesRead_ = count; }

    // Where the input stopped early, for callers that must not lose data silently. The
    // grammar itself ends such a parse as at the end of the input; these tell why.
    // The offset of the first byte that is not valid in the encoding, when the parse met one.
    std::optional<std::uint64_t> undecodableByteOffset() const { return undecodableByteOffset_; }
    // The record whose quoted field was still open at the end of the input, when there was one.
    std::optional<std::uint64_t> unterminatedQuotedFieldRecord() const {
        return unterminatedQuotedFieldRecord_;
    }

    // Parses the whole stream on the calling thread, delivering the events to the delegate.
    // Call once.
    void parse();
    // Stops the parse: no record, field or error event follows, parserDidEndDocument does.
    // Meant to be called from a delegate method.
    void cancelParsing() { cancelled_ = true; }

  private:
    // The current field's value while it is read. It stays a range of text_ as long as the
    // pieces appended are adjacent there, which is the common case and then costs no copy;
    // the first piece that is not adjacent (after a doubled quote or an escape) moves it to
    // copy, which keeps its capacity from field to field.
    struct FieldValue {
        std::size_t begin = 0;
        std::size_t end = 0;
        bool copied = false;
        std::string copy;

        void clear() {
            begin = end = 0;
            copied = false;
            copy.clear();
        }
        void append(const std::string& text, std::size_t from, std::size_t to) {
            if (from == to) return;
            if (copied) {
                copy.append(text, from, to - from);
            } else if (begin == end) {
                begin = from;
                end = to;
            } else if (from == end) {
                end = to;
            } else {
                copy.assign(text, begin, end - begin);
                copy.append(text, from, to - from);
                copied = true;
            }
        }
        // Follows text_ when its front is dropped.
        void shift(std::size_t count) {
            if (copied || begin == end) return;
            begin -= count;
            end -= count;
        }
        std::string_view view(const std::string& text) const {
            if (copied) return copy;
            return std::string_view(text).substr(begin, end - begin);
        }
    };

    // Up to four bytes (repeated to fill) and whether 0x0A-0x0D also stop a scan.
    struct StopBytes {
        std::array<std::uint8_t, 4> bytes{};
        bool lineBreaks = false;
    };

    void sniffEncoding();
    bool fillUntilAvailable(std::size_t count);
    bool loadMore();
    bool readMore();
    void compactText();
    void dropConsumed();
    void buildByteClasses();
    std::size_t findStop(std::size_t from, std::uint8_t stopClass, const StopBytes& stops) const;

    bool parseRecord();
    bool parseLineBreaks();
    void parseComment();
    bool parseField();
    void parseFieldWhitespace();
    bool parseEscapedField();
    void parseUnescapedField();
    bool parseDelimiter();
    void endField();

    // Whether a character is at nextIndex_, refilling when needed.
    bool hasCharacter() { return nextIndex_ < text_.size() || fillUntilAvailable(1); }
    // Whether a character is at nextIndex_ and its first byte has a bit of byteClass.
    bool nextHasClass(std::uint8_t byteClass) {
        return hasCharacter() &&
               (byteClasses_[static_cast<unsigned char>(text_[nextIndex_])] & byteClass) != 0;
    }
    char32_t characterAt(std::size_t offset, std::size_t& length) const;
    void takeCharacter();
    std::string_view textBetween(std::size_t from, std::size_t to) const;
    void failWithUnexpectedCharacter(char32_t found);
    void failWithReadError();
    CsvParserDelegate& events() { return delegate_ != nullptr ? *delegate_ : ignoresEvents_; }

    std::unique_ptr<InputStream> stream_;
    TextEncoding streamEncoding_;
    std::unique_ptr<TextDecoder> decoder_;
    // Bytes read but not yet decoded, from undecodedBegin_ on.
    std::vector<std::uint8_t> undecoded_;
    std::size_t undecodedBegin_ = 0;
    // Whether the decoder has seen the undecoded bytes since the last read; what it left
    // then is a character cut by the read and needs more bytes.
    bool undecodedOffered_ = false;
    // Decoded UTF-8 text; everything before consumed_ has been delivered and is dropped at
    // the next refill.
    std::string text_;
    std::size_t consumed_ = 0;
    std::size_t nextIndex_ = 0;
    // Start of the raw extent of the current field or comment.
    std::size_t extentStart_ = 0;
    FieldValue sanitizedField_;
    bool trimsSanitizedField_ = false;
    // Set once the stream is exhausted or a byte sequence did not decode: nothing more will
    // ever be appended to text_.
    bool inputEnded_ = false;

    char32_t delimiter_;
    std::string delimiterText_;
    // Per byte value, which scanning loops must stop at it (see buildByteClasses).
    std::array<std::uint8_t, 256> byteClasses_{};
    // The same stop sets for the vectorised search: unquoted values, quoted values, comments.
    StopBytes unescapedStops_;
    StopBytes quotedStops_;
    StopBytes commentStops_;

    std::optional<CsvError> error_;
    std::uint64_t fieldIndex_ = 0;
    std::uint64_t currentRecord_ = 0;
    std::uint64_t totalBytesRead_ = 0;
    bool cancelled_ = false;
    std::optional<std::uint64_t> undecodableByteOffset_;
    std::optional<std::uint64_t> unterminatedQuotedFieldRecord_;
    bool sanitizesFields_ = false;
    bool trimsWhitespace_ = false;
    bool recognizesBackslashesAsEscapes_ = false;
    bool recognizesComments_ = false;
    bool recognizesLeadingEqualSign_ = false;
    bool replacesUndecodableBytes_ = false;
    bool scansSixteenBytesAtATime_ = true;
    // Where in the decoded stream text_ begins, and the replacements not yet reported: their
    // position in the decoded stream and the offset of their bytes in the input.
    std::uint64_t textOrigin_ = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> replacements_;
    CsvParserDelegate* delegate_ = nullptr;
    CsvParserDelegate ignoresEvents_;
};

}  // namespace pelkora
