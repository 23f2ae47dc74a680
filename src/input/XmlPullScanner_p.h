#pragma once

// A small pull scanner over XML bytes, for the parts of a workbook that can be large (a
// sheet, the shared strings): it hands out one token at a time (start tag, end tag, text)
// and never builds a tree, so a sheet of millions of cells is read in one pass without
// holding more than a window of its bytes.
//
// The bytes come either from a stream (an entry being inflated in chunks), read into a
// window that slides forward and grows only when a single tag is larger than it, or from a
// span held by the caller. A long text (or character data section) is handed out in pieces
// of at most kLongestTextPiece bytes, one text token after another, so a cell of a gigabyte
// costs a window of a few megabytes; callers append consecutive texts. Views a token hands out
// (names, attribute values, raw text) point into the window and stay valid only until the next call
// of next().
//
// Well-formedness is checked as far as the workbook reader relies on it: tags are closed in
// order, there is exactly one root element, nothing but white space, comments and processing
// instructions stands outside it, attributes are quoted and a document ends with its root.
// Document type declarations are skipped; their entities are never expanded.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/InputStream.h"

namespace pelkora::xml {

// Appends the text with its character and entity references replaced (&amp; &lt; &gt;
// &quot; &apos; &#NN; &#xNN;), its line ends normalised to line feeds and every byte that is
// not part of well-formed UTF-8 replaced by U+FFFD. A reference the scanner does not know is
// kept as written. Returns false for a numeric reference to something that is no character
// (0, a surrogate, beyond U+10FFFF).
bool appendDecodedText(std::string_view raw, std::string& out);
// Appends the text with every byte that is not part of well-formed UTF-8 replaced by U+FFFD.
void appendValidUtf8(std::string_view text, std::string& out);
// Where to end a piece of raw text at or just before `end` (below raw.size()) so that no
// character, line end ("\r\n" becomes one line feed) or reference (unless `literal`) is split
// between two pieces.
std::size_t textPieceEnd(std::string_view raw, std::size_t end, bool literal);

// Returns the part of a qualified name after its prefix ("x:c" gives "c").
inline std::string_view localNameOf(std::string_view qualifiedName) {
    const auto colon = qualifiedName.rfind(':');
    return colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

struct XmlAttribute {
    std::string_view qualifiedName;
    // The value as written, references not yet replaced.
    std::string_view rawValue;
};

class XmlPullScanner {
  public:
    enum class Token { startElement, endElement, text, endOfDocument, error };

    // The largest single tag, comment, processing instruction or declaration the window grows
    // to hold: far beyond any real one.
    static constexpr std::size_t kMaximumTokenSize = std::size_t{64} << 20;
    // The longest piece of a text handed out as one token.
    static constexpr std::size_t kLongestTextPiece = std::size_t{1} << 20;
    // The longest run of white space handed out as (part of) a text: longer than any cell's
    // text (32,767 characters), so a longer run is layout, never content, and it is skipped
    // as it is read instead of being held in the window.
    static constexpr std::size_t kLongestKeptWhiteSpace = std::size_t{1} << 16;

    // Scans the stream's bytes, reading them in windows. The expected size of the document,
    // when known, keeps the window of a small part small; it is only a hint. A token larger
    // than the maximum token size is an error.
    explicit XmlPullScanner(std::unique_ptr<InputStream> source, std::size_t expectedSize = 0,
                            std::size_t maximumTokenSize = kMaximumTokenSize);
    // Scans bytes the caller keeps alive for the scanner's life.
    explicit XmlPullScanner(std::span<const char> bytes);

    // Moves to the next token. After endOfDocument or error it keeps returning the same.
    Token next();

    // The current element's names (start and end tokens). An empty element <a/> gives a
    // start token and then an end token.
    std::string_view qualifiedName() const { return name_; }
    std::string_view localName() const { return localNameOf(name_); }
    // The attributes of the current start element, in document order.
    const std::vector<XmlAttribute>& attributes() const { return attributes_; }
    // The nesting depth of the current element: 1 for the root (start and end tokens).
    std::size_t depth() const { return depth_; }

    // The current text token as written; isLiteralText() tells whether it is a CDATA section,
    // whose text is taken as it stands.
    std::string_view rawText() const { return text_; }
    bool isLiteralText() const { return literalText_; }
    // Appends the current text token's characters.
    bool appendText(std::string& out) const {
        if (literalText_) {
            appendValidUtf8(text_, out);
            return true;
        }
        return appendDecodedText(text_, out);
    }

    // Why scanning stopped with an error ("unexpected end of the document at byte 123").
    const std::string& errorMessage() const { return errorMessage_; }
    // The offset in the document of the current position.
    std::uint64_t byteOffset() const { return consumedBefore_ + position_; }

  private:
    static constexpr std::size_t kInitialWindowSize = std::size_t{1} << 18;
    static constexpr std::size_t kSmallestWindowSize = std::size_t{1} << 12;

    Token fail(std::string message);
    // Reads more bytes so that at least one more byte follows end_; moves the bytes from
    // tokenStart_ on to the front of the window first, and grows it when they fill it.
    // Returns false at the end of the source (or after a read error).
    bool refill();
    // Finds the byte at or after `from` (an offset from position_), refilling as needed.
    // Returns the offset from position_, or npos at the end of the source.
    std::size_t find(char byte, std::size_t from);
    std::size_t find(std::string_view text, std::size_t from);
    Token scanMarkup();
    Token scanStartTag();
    std::string_view innermostOpenName() const;
    void closeInnermost();
    Token scanEndTag(std::size_t tagLength);
    Token scanText();
    // The length of the text at the position: up to the next '<', or a piece's end.
    std::size_t textLength(std::size_t from);
    // Hands out (a piece of) the character data section being read.
    Token scanLiteralPiece();
    // Moves past the white space at the position without holding more than
    // kLongestKeptWhiteSpace bytes of it in the window; returns how many bytes of white space
    // now start at the position (those still held), and sets `dropped` when some were skipped.
    std::size_t skipWhiteSpace(bool& dropped);
    Token finishDocument();

    std::unique_ptr<InputStream> source_;
    std::size_t maximumTokenSize_ = kMaximumTokenSize;
    std::vector<char> window_;
    const char* data_ = nullptr;
    std::size_t end_ = 0;
    std::size_t position_ = 0;
    std::uint64_t consumedBefore_ = 0;
    bool sourceEnded_ = false;

    std::string_view name_;
    std::string_view text_;
    bool literalText_ = false;
    // Inside a character data section whose first pieces were handed out.
    bool literalSectionOpen_ = false;
    std::vector<XmlAttribute> attributes_;
    std::size_t depth_ = 0;
    // An empty element's end token is still to come.
    bool pendingEnd_ = false;
    // The element of the last end token is still counted in depth_.
    bool closePending_ = false;
    bool rootSeen_ = false;
    bool rootClosed_ = false;
    // The names of the open elements back to back, and where each begins, for checking that
    // each end tag closes the right one without an allocation per element.
    std::vector<char> openNames_;
    std::vector<std::size_t> openNameStarts_;
    struct AttributeOffsets {
        std::size_t nameStart, nameLength, valueStart, valueLength;
    };
    std::vector<AttributeOffsets> attributeOffsets_;
    Token finalToken_ = Token::text;
    bool finished_ = false;
    std::string errorMessage_;
};

}  // namespace pelkora::xml
