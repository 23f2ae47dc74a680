#pragma once

// Guessing the encoding of text from its bytes.
//
// The text reader asks this when a file has no byte-order mark. Every answer decodes
// the bytes without loss: a candidate that meets an invalid sequence is never chosen,
// so a wrong guess can only be one that turns valid bytes into the wrong characters.
// Among the encodings that decode, the statistical detectors (uchardet and ICU's) and a
// plausibility score of the decoded text decide; the caller's suggestions break ties.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "text/TextEncoding.h"

namespace pelkora {

struct EncodingDetectionOptions {
    std::vector<TextEncoding> suggestedEncodings;  // preferred first, when the evidence is weak
    std::string likelyLanguage = "en";  // ISO 639 code; favours that language's encodings
    bool fromWindows = true;            // favours Windows code pages over their ISO twins
    bool useOnlySuggestedEncodings = false;
    bool allowLossyConversion = false;  // answer even when no encoding decodes every byte
    // Takes text that is UTF-8 but for a few stray bytes for UTF-8 (isUtf8WithStrayBytes)
    // rather than for a legacy encoding that decodes every byte into the wrong characters;
    // the caller then replaces the stray bytes and says so.
    bool allowStrayBytesInUtf8 = false;
};

// How the bytes read as UTF-8: the valid characters of two to four bytes, and the invalid
// sequences (each a byte that cannot start a character, or a lead byte with the continuation
// bytes it allows, cut short). A character cut by the end of the bytes counts as neither.
struct Utf8Census {
    std::size_t multiByteCharacters = 0;
    std::size_t invalidSequences = 0;
};
Utf8Census countUtf8Sequences(std::span<const std::uint8_t> bytes);

// Whether bytes that are not valid UTF-8 are still UTF-8 text with a few damaged bytes: at
// least two valid multi-byte characters, and at least four of them for every invalid
// sequence. Text in a single-byte legacy encoding has almost no valid multi-byte UTF-8
// sequences (a letter from À to ß followed by one from 0x80 to 0xBF, "Ã©"), so every
// accented letter in it is an invalid sequence and it never passes.
bool isUtf8WithStrayBytes(std::span<const std::uint8_t> bytes);

// The UTF-8 bytes as text, each invalid sequence (as countUtf8Sequences counts them) replaced
// by U+FFFD; a character cut by the end of the bytes is left out.
std::string decodeUtf8ReplacingStrayBytes(std::span<const std::uint8_t> bytes);

// The encoding the bytes are most likely in, or none when no candidate decodes them
// without loss. The bytes may be the head of a longer file: a character cut by their end
// does not count against an encoding. Deterministic for the same bytes and options.
std::optional<TextEncoding> detectStringEncoding(std::span<const std::uint8_t> bytes,
                                                 const EncodingDetectionOptions& options);

// The language of the user's locale (LC_ALL, else LC_CTYPE, else LANG), as a lowercase
// ISO 639 code; "en" when none is set or the locale is "C" or "POSIX".
std::string currentLanguageCode();

}  // namespace pelkora
