#pragma once

// Text encodings: naming them, decoding bytes strictly into UTF-8 (all at once or
// incrementally, for streaming parsers), and the list a user chooses from.
//
// Everything inside the program is UTF-8; bytes in another encoding become UTF-8
// here and nowhere else. Decoding is strict: a byte sequence that is not valid in the
// encoding is never turned into a replacement character, because a wrong guess must
// be detectable (the encoding page shows the failure, the parser stops there).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora {

// An encoding, named by ICU's canonical converter name ("UTF-8", "ISO-8859-1",
// "macos-0_2-10.2", "ibm-5348_P100-1997" for windows-1252 …), so that every alias of one
// converter gives the same value. Cheap to copy and compare.
class TextEncoding {
  public:
    static TextEncoding utf8();
    static TextEncoding utf16BigEndian();
    static TextEncoding utf16LittleEndian();
    static TextEncoding utf32BigEndian();
    static TextEncoding utf32LittleEndian();
    static TextEncoding ascii();
    static TextEncoding macOSRoman();
    static TextEncoding windowsLatin1();  // CP1252
    static TextEncoding isoLatin1();      // ISO-8859-1
    static TextEncoding iso2022KR();

    // The encoding for any name or alias ICU knows ("latin1", "CP1252", "Shift_JIS") and has
    // the converter for, none otherwise.
    static std::optional<TextEncoding> named(std::string_view name);

    // ICU's canonical name.
    const std::string& name() const { return name_; }
    // The preferred IANA/MIME name when there is one ("windows-1252", "UTF-16LE"), else name().
    std::string ianaName() const;
    // The user-facing name ("Western (Windows Latin 1)", "Unicode (UTF-8)").
    std::string displayName() const;

    bool operator==(const TextEncoding& other) const { return name_ == other.name_; }

  private:
    explicit TextEncoding(std::string canonicalName) : name_(std::move(canonicalName)) {}
    std::string name_;
};

// What one decode step did.
struct DecodeResult {
    std::size_t bytesConsumed = 0;  // bytes turned into text (complete characters only)
    bool invalid = false;           // stopped before a sequence that is not valid in the encoding
    bool operator==(const DecodeResult&) const = default;
};

// Incremental strict decoding into UTF-8 for a streaming reader.
class TextDecoder {
  public:
    // A decoder for the encoding; UTF-8 gets a fast validating copy. Throws
    // std::runtime_error only when ICU cannot open the converter (out of memory).
    static std::unique_ptr<TextDecoder> make(const TextEncoding& encoding);
    virtual ~TextDecoder() = default;

    // Appends the UTF-8 text of the longest valid prefix of bytes to out. A character
    // cut by the end of bytes is left unconsumed (unless endOfInput, when it is invalid),
    // so the caller keeps the rest and offers it again with more bytes.
    virtual DecodeResult decode(std::span<const std::uint8_t> bytes, std::string& out,
                                bool endOfInput) = 0;
};

// The whole text, or none when any byte sequence is invalid in the encoding.
std::optional<std::string> decodeStrictly(std::span<const std::uint8_t> bytes,
                                          const TextEncoding& encoding);

// Every encoding ICU can decode, one entry per converter, in no particular order.
std::vector<TextEncoding> availableEncodings();

}  // namespace pelkora
