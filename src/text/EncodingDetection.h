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
};

// The encoding the bytes are most likely in, or none when no candidate decodes them
// without loss. The bytes may be the head of a longer file: a character cut by their end
// does not count against an encoding. Deterministic for the same bytes and options.
std::optional<TextEncoding> detectStringEncoding(std::span<const std::uint8_t> bytes,
                                                 const EncodingDetectionOptions& options);

// The language of the user's locale (LC_ALL, else LC_CTYPE, else LANG), as a lowercase
// ISO 639 code; "en" when none is set or the locale is "C" or "POSIX".
std::string currentLanguageCode();

}  // namespace pelkora
