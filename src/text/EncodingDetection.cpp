#include "text/EncodingDetection.h"

#include <uchardet/uchardet.h>
#include <unicode/locid.h>
#include <unicode/ucsdet.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "support/Utf8.h"
#include "text/TextPlausibility_p.h"

namespace pelkora {

namespace {

// Encodings that single-byte and East Asian files are commonly in; they are always
// tried, whatever the detectors say, so that a detector's miss cannot hide the answer.
constexpr std::array<std::string_view, 22> kCommonLegacyEncodings = {
    "windows-1252", "ISO-8859-1",   "macintosh",    "ISO-8859-15",  "windows-1250", "ISO-8859-2",
    "windows-1251", "KOI8-R",       "windows-1253", "ISO-8859-7",   "windows-1254", "windows-1255",
    "windows-1256", "windows-1257", "windows-874",  "windows-1258", "Shift_JIS",    "EUC-JP",
    "GB18030",      "Big5",         "EUC-KR",       "ISO-2022-JP",
};

struct LanguageEncodings {
    std::string_view language;  // ISO 639-1
    std::array<std::string_view, 3> encodings;
};

// The legacy encodings files in a language are usually in, most usual first; an empty
// name fills a row.
constexpr std::array kLanguageEncodings = {
    LanguageEncodings{"en", {"windows-1252", "macintosh", "ISO-8859-1"}},
    LanguageEncodings{"de", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"fr", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"es", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"it", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"pt", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"nl", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"da", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"sv", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"nb", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"fi", {"windows-1252", "macintosh", "ISO-8859-15"}},
    LanguageEncodings{"is", {"windows-1252", "macintosh", "ISO-8859-1"}},
    LanguageEncodings{"pl", {"windows-1250", "ISO-8859-2", "x-mac-centraleurroman"}},
    LanguageEncodings{"cs", {"windows-1250", "ISO-8859-2", "x-mac-centraleurroman"}},
    LanguageEncodings{"sk", {"windows-1250", "ISO-8859-2", "x-mac-centraleurroman"}},
    LanguageEncodings{"hu", {"windows-1250", "ISO-8859-2", "x-mac-centraleurroman"}},
    LanguageEncodings{"sl", {"windows-1250", "ISO-8859-2", "x-mac-centraleurroman"}},
    LanguageEncodings{"hr", {"windows-1250", "ISO-8859-2", "x-mac-centraleurroman"}},
    LanguageEncodings{"ro", {"windows-1250", "ISO-8859-2", "x-mac-centraleurroman"}},
    LanguageEncodings{"ru", {"windows-1251", "KOI8-R", "IBM866"}},
    LanguageEncodings{"uk", {"windows-1251", "KOI8-U", "IBM866"}},
    LanguageEncodings{"be", {"windows-1251", "KOI8-R", "IBM866"}},
    LanguageEncodings{"bg", {"windows-1251", "ISO-8859-5", "x-mac-cyrillic"}},
    LanguageEncodings{"sr", {"windows-1251", "ISO-8859-5", "x-mac-cyrillic"}},
    LanguageEncodings{"mk", {"windows-1251", "ISO-8859-5", "x-mac-cyrillic"}},
    LanguageEncodings{"el", {"windows-1253", "ISO-8859-7", "x-mac-greek"}},
    LanguageEncodings{"tr", {"windows-1254", "ISO-8859-9", "x-mac-turkish"}},
    LanguageEncodings{"he", {"windows-1255", "ISO-8859-8", "IBM862"}},
    LanguageEncodings{"ar", {"windows-1256", "ISO-8859-6", "IBM864"}},
    LanguageEncodings{"fa", {"windows-1256", "ISO-8859-6", ""}},
    LanguageEncodings{"th", {"windows-874", "TIS-620", ""}},
    LanguageEncodings{"vi", {"windows-1258", "", ""}},
    LanguageEncodings{"lt", {"windows-1257", "ISO-8859-13", "ISO-8859-4"}},
    LanguageEncodings{"lv", {"windows-1257", "ISO-8859-13", "ISO-8859-4"}},
    LanguageEncodings{"et", {"windows-1257", "ISO-8859-13", "ISO-8859-15"}},
    LanguageEncodings{"ja", {"Shift_JIS", "EUC-JP", "ISO-2022-JP"}},
    LanguageEncodings{"zh", {"GB18030", "Big5", "Big5-HKSCS"}},
    LanguageEncodings{"ko", {"EUC-KR", "windows-949", "ISO-2022-KR"}},
};

struct DetectorName {
    std::string_view detector;
    std::string_view icu;
};

// uchardet's names that ICU does not know by that name.
constexpr std::array kUchardetNames = {
    DetectorName{"UHC", "windows-949"},
    DetectorName{"MAC-CENTRALEUROPE", "x-mac-centraleurroman"},
    DetectorName{"MAC-CYRILLIC", "x-mac-cyrillic"},
};

// How much each piece of evidence adds to a candidate's plausibility (about -5 to 1).
// The detectors tell East Asian, Cyrillic and Greek encodings apart well, better than the
// plausibility score, whose differences there are small. Between Latin encodings they
// are often wrong (uchardet takes Mac OS Roman for Mac Central European or DOS Latin 2,
// ICU's detector for Windows Latin 1), while the plausibility score is reliable, so
// their weight shrinks when a candidate's text is mostly Latin.
constexpr double kUchardetWeight = 0.4;
constexpr double kIcuDetectorWeight = 0.4;  // times the confidence, 0 to 100, over 100
constexpr double kLatinTextDetectorFactor = 0.5;
constexpr double kFirstSuggestionWeight = 0.06;
constexpr double kSuggestionStep = 0.01;
constexpr double kLanguageWeight = 0.05;
constexpr double kWindowsWeight = 0.03;

// How much of the bytes the detectors and the plausibility score look at.
constexpr std::size_t kSampleSize = 65536;

// A character cut by the end of the head leaves at most this many bytes undecoded.
constexpr std::size_t kLongestCutCharacter = 7;

struct Candidate {
    TextEncoding encoding;
    double detectorEvidence = 0;  // the detectors' weight for it
    double preference = 0;        // the options' weight for it
    double score = 0;

    double evidence() const { return detectorEvidence + preference; }
};

bool isUtf16OrUtf32(const TextEncoding& encoding) {
    const std::string& name = encoding.name();
    return name.starts_with("UTF-16") || name.starts_with("UTF-32") || name.starts_with("UTF16_") ||
           name.starts_with("UTF32_");
}

bool isAllowed(const TextEncoding& encoding, const EncodingDetectionOptions& options) {
    if (!options.useOnlySuggestedEncodings) {
        return true;
    }
    const auto& suggested = options.suggestedEncodings;
    return std::find(suggested.begin(), suggested.end(), encoding) != suggested.end();
}

// The text of the bytes when the encoding decodes all of them, but for a character cut
// by their end.
std::optional<std::string> decodeLosslessly(std::span<const std::uint8_t> bytes,
                                            const TextEncoding& encoding) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 4);
    const DecodeResult result = TextDecoder::make(encoding)->decode(bytes, text, false);
    if (result.invalid || bytes.size() - result.bytesConsumed > kLongestCutCharacter) {
        return std::nullopt;
    }
    return text;
}

// Step 1.
std::optional<TextEncoding> byteOrderMarkEncoding(std::span<const std::uint8_t> bytes) {
    auto startsWith = [&](std::initializer_list<std::uint8_t> mark) {
        return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
    };
    if (startsWith({0xFF, 0xFE, 0x00, 0x00})) return TextEncoding::utf32LittleEndian();
    if (startsWith({0x00, 0x00, 0xFE, 0xFF})) return TextEncoding::utf32BigEndian();
    if (startsWith({0xFF, 0xFE})) return TextEncoding::utf16LittleEndian();
    if (startsWith({0xFE, 0xFF})) return TextEncoding::utf16BigEndian();
    if (startsWith({0xEF, 0xBB, 0xBF})) return TextEncoding::utf8();
    return std::nullopt;
}

// Step 2: Latin text in UTF-16 has a zero in every other byte, in UTF-32 in two or three
// of every four; single-byte and UTF-8 text has none.
std::optional<TextEncoding> zeroByteEncoding(std::span<const std::uint8_t> bytes) {
    const std::size_t sampled = std::min<std::size_t>(bytes.size(), 65536);
    if (sampled < 8) {
        return std::nullopt;
    }
    std::array<std::size_t, 4> zeros{};
    for (std::size_t i = 0; i < sampled; ++i) {
        zeros[i % 4] += bytes[i] == 0 ? 1 : 0;
    }
    const double quarter = static_cast<double>(sampled) / 4;
    auto share = [&](std::size_t position) {
        return static_cast<double>(zeros[position]) / quarter;
    };
    if (share(3) > 0.95 && share(2) > 0.5 && share(0) < 0.1)
        return TextEncoding::utf32LittleEndian();
    if (share(0) > 0.95 && share(1) > 0.5 && share(3) < 0.1) return TextEncoding::utf32BigEndian();
    const double odd = (share(1) + share(3)) / 2;
    const double even = (share(0) + share(2)) / 2;
    if (odd > 0.3 && even < 0.05) return TextEncoding::utf16LittleEndian();
    if (even > 0.3 && odd < 0.05) return TextEncoding::utf16BigEndian();
    return std::nullopt;
}

bool isSevenBit(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

std::optional<TextEncoding> uchardetGuess(std::span<const std::uint8_t> bytes) {
    std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> detector(
        uchardet_new(), &uchardet_delete);
    if (!detector ||
        uchardet_handle_data(detector.get(), reinterpret_cast<const char*>(bytes.data()),
                             bytes.size()) != 0) {
        return std::nullopt;
    }
    uchardet_data_end(detector.get());
    std::string_view name = uchardet_get_charset(detector.get());
    for (const auto& entry : kUchardetNames) {
        if (entry.detector == name) {
            name = entry.icu;
        }
    }
    return TextEncoding::named(name);
}

struct IcuGuess {
    TextEncoding encoding;
    int confidence;  // 0 to 100
};

std::vector<IcuGuess> icuDetectorGuesses(std::span<const std::uint8_t> bytes) {
    std::vector<IcuGuess> guesses;
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, decltype(&ucsdet_close)> detector(ucsdet_open(&error),
                                                                        &ucsdet_close);
    if (U_FAILURE(error)) {
        return guesses;
    }
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX));
    ucsdet_setText(detector.get(), reinterpret_cast<const char*>(bytes.data()), length, &error);
    std::int32_t count = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(detector.get(), &count, &error);
    if (U_FAILURE(error)) {
        return guesses;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const char* name = ucsdet_getName(matches[i], &error);
        const std::int32_t confidence = ucsdet_getConfidence(matches[i], &error);
        if (U_FAILURE(error)) {
            break;
        }
        auto encoding = TextEncoding::named(name);
        // Matches come best first, so the first of one encoding carries its confidence.
        if (encoding && std::none_of(guesses.begin(), guesses.end(),
                                     [&](const IcuGuess& g) { return g.encoding == *encoding; })) {
            guesses.push_back({*encoding, confidence});
        }
    }
    return guesses;
}

bool isWindowsCodePage(const TextEncoding& encoding) {
    return encoding.name().starts_with("windows-") || encoding.ianaName().starts_with("windows-");
}

// The lines that tell something about the encoding, those with a byte above 0x7F or an
// escape, up to kSampleSize bytes; the start of the bytes when there are none. Lines of
// ASCII read alike in every candidate, and scoring all candidates over a 512 KiB head
// would take a noticeable fraction of a second. A line is safe to cut out: no
// ASCII-compatible encoding uses the line feed byte inside a character.
std::vector<std::uint8_t> tellingSample(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> sample;
    if (bytes.size() <= kSampleSize) {
        sample.assign(bytes.begin(), bytes.end());
        return sample;
    }
    auto lineStart = bytes.begin();
    while (lineStart != bytes.end() && sample.size() < kSampleSize) {
        const auto lineEnd = std::find(lineStart, bytes.end(), '\n');
        const auto next = lineEnd == bytes.end() ? lineEnd : lineEnd + 1;
        const bool telling =
            std::any_of(lineStart, lineEnd, [](std::uint8_t b) { return b >= 0x80 || b == 0x1B; });
        if (telling) {
            const auto room = static_cast<std::ptrdiff_t>(kSampleSize - sample.size());
            sample.insert(sample.end(), lineStart, std::min(next, lineStart + room));
        }
        lineStart = next;
    }
    if (sample.empty()) {
        sample.assign(bytes.begin(), bytes.begin() + kSampleSize);
    }
    return sample;
}

// Step 3.
std::optional<TextEncoding> sevenBitEncoding(std::span<const std::uint8_t> bytes,
                                             const EncodingDetectionOptions& options) {
    const std::string_view ascii(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (const TextEncoding& encoding : options.suggestedEncodings) {
        if (decodeLosslessly(bytes, encoding) == ascii) {
            return encoding;
        }
    }
    if (options.useOnlySuggestedEncodings) {
        return std::nullopt;
    }
    return TextEncoding::utf8();
}

// Step 5: every encoding worth trying, each once, in the order that breaks ties.
std::vector<Candidate> gatherCandidates(std::span<const std::uint8_t> bytes,
                                        const EncodingDetectionOptions& options) {
    std::vector<Candidate> candidates;
    auto add = [&](const TextEncoding& encoding, double detectorEvidence, double preference) {
        if (isUtf16OrUtf32(encoding) || !isAllowed(encoding, options)) {
            return;  // UTF-16 and UTF-32 decode nearly anything; only their zeros tell
        }
        auto existing = std::find_if(candidates.begin(), candidates.end(),
                                     [&](const Candidate& c) { return c.encoding == encoding; });
        if (existing == candidates.end()) {
            candidates.push_back({encoding, detectorEvidence, preference});
        } else {
            existing->detectorEvidence += detectorEvidence;
            existing->preference += preference;
        }
    };
    for (std::size_t i = 0; i < options.suggestedEncodings.size(); ++i) {
        add(options.suggestedEncodings[i], 0,
            std::max(kSuggestionStep,
                     kFirstSuggestionWeight - kSuggestionStep * static_cast<double>(i)));
    }
    if (auto guess = uchardetGuess(bytes)) {
        add(*guess, kUchardetWeight, 0);
    }
    for (const IcuGuess& guess : icuDetectorGuesses(bytes)) {
        add(guess.encoding, kIcuDetectorWeight * guess.confidence / 100.0, 0);
    }
    for (const auto& entry : kLanguageEncodings) {
        if (entry.language != options.likelyLanguage) {
            continue;
        }
        for (std::string_view name : entry.encodings) {
            if (auto encoding = TextEncoding::named(name)) {
                add(*encoding, 0, kLanguageWeight);
            }
        }
    }
    for (std::string_view name : kCommonLegacyEncodings) {
        if (auto encoding = TextEncoding::named(name)) {
            add(*encoding, 0, 0);
        }
    }
    if (options.fromWindows) {
        for (Candidate& candidate : candidates) {
            if (isWindowsCodePage(candidate.encoding)) {
                candidate.preference += kWindowsWeight;
            }
        }
    }
    return candidates;
}

// Scores the candidates on the sample, then takes the best one that decodes all the bytes.
std::optional<TextEncoding> bestCandidate(std::span<const std::uint8_t> bytes,
                                          const EncodingDetectionOptions& options) {
    const std::vector<std::uint8_t> sample = tellingSample(bytes);
    std::vector<Candidate> candidates = gatherCandidates(sample, options);
    std::vector<Candidate> decoding;
    for (Candidate& candidate : candidates) {
        const auto text = decodeLosslessly(sample, candidate.encoding);
        if (!text) {
            continue;
        }
        const detail::Plausibility plausibility = detail::scorePlausibility(*text);
        const double detectorFactor = plausibility.mostlyLatin() ? kLatinTextDetectorFactor : 1;
        candidate.score = plausibility.score() + candidate.detectorEvidence * detectorFactor +
                          candidate.preference;
        decoding.push_back(candidate);
    }
    // Stable, so that of equal scores the earlier candidate wins.
    std::stable_sort(decoding.begin(), decoding.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    for (const Candidate& candidate : decoding) {
        if (sample.size() == bytes.size() || decodeLosslessly(bytes, candidate.encoding)) {
            return candidate.encoding;
        }
    }
    if (options.allowLossyConversion && !candidates.empty()) {
        // Nothing reads every byte; the most likely reading is still better than none.
        return std::max_element(candidates.begin(), candidates.end(),
                                [](const Candidate& a, const Candidate& b) {
                                    return a.evidence() < b.evidence();
                                })
            ->encoding;
    }
    return std::nullopt;
}

constexpr std::size_t kMinimumMultiByteCharacters = 2;
constexpr std::size_t kMultiByteCharactersPerStrayByte = 4;

std::string languageOfLocale(std::string_view locale) {
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C.")) {
        return {};
    }
    char language[ULOC_LANG_CAPACITY] = {};
    UErrorCode error = U_ZERO_ERROR;
    // ICU understands POSIX locale names ("de_DE.UTF-8@euro") as well as BCP 47 tags.
    uloc_getLanguage(std::string(locale).c_str(), language, sizeof language, &error);
    return U_SUCCESS(error) ? std::string(language) : std::string();
}

}  // namespace

// Detection, in order:
//  1. a byte-order mark names the encoding;
//  2. a regular pattern of zero bytes means UTF-16 or UTF-32 without a mark;
//  3. 7-bit text (without the escapes of ISO-2022) is the first suggested encoding that
//     reads it as ASCII;
//  4. text with any byte above 0x7F that is valid UTF-8 is UTF-8, and so is text that is
//     UTF-8 but for a few stray bytes when the caller allows that;
//  5. otherwise every candidate that decodes the bytes without loss is scored: how
//     plausible its text is, plus the detectors' confidence in it, plus small preferences
//     for the suggestions, the language's encodings and Windows code pages. The
//     highest score wins; ties go to the earlier candidate, suggestions first.
std::optional<TextEncoding> detectStringEncoding(std::span<const std::uint8_t> bytes,
                                                 const EncodingDetectionOptions& options) {
    auto acceptable = [&](const TextEncoding& encoding) {
        return isAllowed(encoding, options) && decodeLosslessly(bytes, encoding).has_value();
    };
    if (auto marked = byteOrderMarkEncoding(bytes); marked && acceptable(*marked)) {
        return marked;
    }
    if (auto unmarked = zeroByteEncoding(bytes); unmarked && acceptable(*unmarked)) {
        return unmarked;
    }
    if (isSevenBit(bytes)) {
        const bool escapes = std::find(bytes.begin(), bytes.end(), 0x1B) != bytes.end();
        const auto guess = escapes ? std::nullopt : uchardetGuess(tellingSample(bytes));
        const bool hz = guess && guess->ianaName() == "HZ-GB-2312";
        if (!escapes && !hz) {
            return sevenBitEncoding(bytes, options);
        }
    } else if (acceptable(TextEncoding::utf8())) {
        return TextEncoding::utf8();
    } else if (options.allowStrayBytesInUtf8 && isAllowed(TextEncoding::utf8(), options) &&
               isUtf8WithStrayBytes(bytes)) {
        return TextEncoding::utf8();
    }
    return bestCandidate(bytes, options);
}

namespace {

enum class Utf8Sequence { ascii, character, invalid, cut };

// What the sequence at position is, and its length (for an invalid sequence, the lead byte
// and the continuation bytes it allows, at least one byte).
Utf8Sequence nextUtf8Sequence(std::span<const std::uint8_t> bytes, std::size_t position,
                              std::size_t& length) {
    length = 1;
    if (bytes[position] < 0x80) return Utf8Sequence::ascii;
    const auto start = utf8::sequenceStart(std::string_view(
        reinterpret_cast<const char*>(bytes.data()) + position, bytes.size() - position));
    length = start.length;
    if (start.expected > 1 && length == start.expected) return Utf8Sequence::character;
    if (start.expected > 1 && position + length == bytes.size()) return Utf8Sequence::cut;
    return Utf8Sequence::invalid;
}

}  // namespace

Utf8Census countUtf8Sequences(std::span<const std::uint8_t> bytes) {
    Utf8Census census;
    std::size_t length = 0;
    for (std::size_t position = 0; position < bytes.size(); position += length) {
        switch (nextUtf8Sequence(bytes, position, length)) {
            case Utf8Sequence::character:
                ++census.multiByteCharacters;
                break;
            case Utf8Sequence::invalid:
                ++census.invalidSequences;
                break;
            case Utf8Sequence::ascii:
            case Utf8Sequence::cut:
                break;
        }
    }
    return census;
}

std::string decodeUtf8ReplacingStrayBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t length = 0;
    for (std::size_t position = 0; position < bytes.size(); position += length) {
        switch (nextUtf8Sequence(bytes, position, length)) {
            case Utf8Sequence::ascii:
            case Utf8Sequence::character:
                text.append(reinterpret_cast<const char*>(bytes.data() + position), length);
                break;
            case Utf8Sequence::invalid:
                text += "\xEF\xBF\xBD";
                break;
            case Utf8Sequence::cut:
                break;
        }
    }
    return text;
}

bool isUtf8WithStrayBytes(std::span<const std::uint8_t> bytes) {
    const Utf8Census census = countUtf8Sequences(bytes);
    return census.invalidSequences > 0 &&
           census.multiByteCharacters >= kMinimumMultiByteCharacters &&
           census.multiByteCharacters >= kMultiByteCharactersPerStrayByte * census.invalidSequences;
}

std::string currentLanguageCode() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            const std::string language = languageOfLocale(value);
            return language.empty() ? "en" : language;
        }
    }
    const std::string language = icu::Locale::getDefault().getLanguage();
    return language.empty() ? "en" : language;
}

}  // namespace pelkora
