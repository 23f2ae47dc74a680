#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "text/EncodingList.h"
#include "text/TextEncoding.h"

namespace pelkora {
namespace {

// The bytes of a string literal that may hold NULs, without its terminator.
template <std::size_t N>
std::string bytesOf(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TextEncoding encodingNamed(std::string_view name) {
    auto encoding = TextEncoding::named(name);
    EXPECT_TRUE(encoding) << name;
    return encoding.value_or(TextEncoding::utf8());
}

// Decodes the bytes the way a streaming reader does: chunk by chunk, keeping what the
// decoder leaves unconsumed and offering it again with the next chunk.
struct StreamedText {
    std::string text;
    std::size_t bytesConsumed = 0;
    bool invalid = false;
};

StreamedText decodeInChunks(const TextEncoding& encoding, std::string_view bytes,
                            const std::vector<std::size_t>& splitPoints) {
    auto decoder = TextDecoder::make(encoding);
    StreamedText result;
    std::string unconsumed;
    std::size_t offered = 0;
    std::vector<std::size_t> ends = splitPoints;
    ends.push_back(bytes.size());
    for (std::size_t i = 0; i < ends.size(); ++i) {
        unconsumed.append(bytes.substr(offered, ends[i] - offered));
        offered = ends[i];
        const bool last = i + 1 == ends.size();
        const DecodeResult step = decoder->decode(asBytes(unconsumed), result.text, last);
        result.bytesConsumed += step.bytesConsumed;
        unconsumed.erase(0, step.bytesConsumed);
        if (step.invalid) {
            result.invalid = true;
            break;
        }
    }
    return result;
}

TEST(TextEncoding, NamesAndAliasesResolveToOneCanonicalEncoding) {
    EXPECT_EQ(TextEncoding::named("latin1"), TextEncoding::isoLatin1());
    EXPECT_EQ(TextEncoding::named("ISO-8859-1"), TextEncoding::isoLatin1());
    EXPECT_EQ(TextEncoding::named("cp1252"), TextEncoding::windowsLatin1());
    EXPECT_EQ(TextEncoding::named("windows-1252"), TextEncoding::windowsLatin1());
    EXPECT_EQ(TextEncoding::named("macintosh"), TextEncoding::macOSRoman());
    EXPECT_EQ(TextEncoding::named("utf8"), TextEncoding::utf8());
    EXPECT_EQ(TextEncoding::named("us-ascii"), TextEncoding::ascii());
    EXPECT_EQ(TextEncoding::named("ISO-2022-KR"), TextEncoding::iso2022KR());
    EXPECT_EQ(TextEncoding::named("Shift_JIS"), TextEncoding::named("sjis"));
    EXPECT_EQ(TextEncoding::macOSRoman().name(), "macos-0_2-10.2");
    EXPECT_FALSE(TextEncoding::named("no-such-encoding"));
    EXPECT_FALSE(TextEncoding::named(""));
    // Asked twice, the cached answer is the same.
    EXPECT_FALSE(TextEncoding::named("no-such-encoding"));
    EXPECT_NE(TextEncoding::utf16BigEndian(), TextEncoding::utf16LittleEndian());
}

TEST(TextEncoding, EveryNamedEncodingCanBeDecoded) {
    // ICU's alias table names converters whose data a build may leave out.
    for (const char* name : {"ISO-8859-16", "ISO-8859-11", "UTF-7", "HZ", "EUC-TW", "VISCII"}) {
        if (auto encoding = TextEncoding::named(name)) {
            EXPECT_EQ(decodeStrictly(asBytes("abc"), *encoding), "abc") << name;
        }
    }
    for (const TextEncoding& encoding : availableEncodings()) {
        EXPECT_NO_THROW(TextDecoder::make(encoding)) << encoding.name();
    }
}

TEST(TextEncoding, AccessorsNameTheEncodingsIcuKnowsUnderTheirStandardNames) {
    const std::vector<std::pair<TextEncoding, std::string>> expected = {
        {TextEncoding::utf8(), "UTF-8"},
        {TextEncoding::utf16BigEndian(), "UTF-16BE"},
        {TextEncoding::utf16LittleEndian(), "UTF-16LE"},
        {TextEncoding::utf32BigEndian(), "UTF-32BE"},
        {TextEncoding::utf32LittleEndian(), "UTF-32LE"},
        {TextEncoding::ascii(), "US-ASCII"},
        {TextEncoding::macOSRoman(), "macintosh"},
        {TextEncoding::windowsLatin1(), "windows-1252"},
        {TextEncoding::isoLatin1(), "ISO-8859-1"},
        {TextEncoding::iso2022KR(), "ISO-2022-KR"},
    };
    for (const auto& [encoding, iana] : expected) {
        EXPECT_EQ(encoding.ianaName(), iana) << encoding.name();
        EXPECT_EQ(TextEncoding::named(encoding.name()), encoding) << encoding.name();
        EXPECT_EQ(TextEncoding::named(iana), encoding) << iana;
    }
}

TEST(TextEncoding, DisplayNamesAreUserFacing) {
    EXPECT_EQ(TextEncoding::macOSRoman().displayName(), "Western (Mac OS Roman)");
    EXPECT_EQ(TextEncoding::windowsLatin1().displayName(), "Western (Windows Latin 1)");
    EXPECT_EQ(TextEncoding::isoLatin1().displayName(), "Western (ISO Latin 1)");
    EXPECT_EQ(TextEncoding::utf8().displayName(), "Unicode (UTF-8)");
    EXPECT_EQ(TextEncoding::utf16LittleEndian().displayName(), "Unicode (UTF-16LE)");
    EXPECT_EQ(TextEncoding::ascii().displayName(), "Western (ASCII)");
    EXPECT_EQ(encodingNamed("windows-1251").displayName(), "Cyrillic (Windows)");
    EXPECT_EQ(encodingNamed("KOI8-R").displayName(), "Cyrillic (KOI8-R)");
    EXPECT_EQ(encodingNamed("Shift_JIS").displayName(), "Japanese (Shift JIS)");
    EXPECT_EQ(encodingNamed("GB18030").displayName(), "Chinese (GB 18030)");
    EXPECT_EQ(encodingNamed("Big5").displayName(), "Traditional Chinese (Big 5)");
    EXPECT_EQ(encodingNamed("windows-1250").displayName(), "Central European (Windows Latin 2)");
    EXPECT_EQ(encodingNamed("IBM037").displayName(), "Western (EBCDIC US)");
    EXPECT_EQ(encodingNamed("ibm-1006").displayName(), "IBM 1006");
    for (const TextEncoding& encoding : availableEncodings()) {
        EXPECT_FALSE(encoding.displayName().empty()) << encoding.name();
    }
}

TEST(TextEncoding, AvailableEncodingsHoldOneEntryPerConverter) {
    const auto encodings = availableEncodings();
    const std::set<std::string> names = [&] {
        std::set<std::string> result;
        for (const auto& encoding : encodings) result.insert(encoding.name());
        return result;
    }();
    EXPECT_EQ(names.size(), encodings.size());
    EXPECT_GT(encodings.size(), 100u);
    for (const auto& encoding : {TextEncoding::utf8(), TextEncoding::macOSRoman(),
                                 TextEncoding::windowsLatin1(), TextEncoding::iso2022KR()}) {
        EXPECT_TRUE(names.contains(encoding.name())) << encoding.name();
    }
}

TEST(TextEncodingDecoding, LegacyAndUnicodeBytesBecomeUtf8) {
    struct Case {
        const char* encoding;
        std::string bytes;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"windows-1252", "M\xFCller \x80 \x93quoted\x94", "Müller € “quoted”"},
        {"ISO-8859-1", "M\xFCller \x80", "Müller \xC2\x80"},
        {"macintosh",
         "M\x9Fller Stra\xA7"
         "e",
         "Müller Straße"},
        {"UTF-16LE", bytesOf("A\0\xE9\0=\xD8\0\xDE"), "Aé😀"},
        {"UTF-16BE", bytesOf("\0A\0\xE9\xD8=\xDE\0"), "Aé😀"},
        {"UTF-32LE", bytesOf("\0\xF6\x01\0A\0\0\0"), "😀A"},
        {"UTF-32BE", bytesOf("\0\x01\xF6\0\0\0\0A"), "😀A"},
        {"Shift_JIS", "\x93\xFA\x96{\x82\xB1\xB1", "日本こｱ"},
        {"EUC-JP", "\xC6\xFC\x8F\xB0\xA1", "日丂"},
        {"GB18030", "\xD6\xD0\x95\x32\x82\x36", "中𠀀"},
        {"windows-1251", "\xC8\xE2\xE0\xED", "Иван"},
        {"KOI8-R", "\xE9\xD7\xC1\xCE", "Иван"},
        {"ISO-2022-JP", "\x1B$B$3\x1B(Ba", "こa"},
        {"US-ASCII", "plain", "plain"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeStrictly(asBytes(c.bytes), encodingNamed(c.encoding)), c.text)
            << c.encoding;
    }
}

TEST(TextEncodingDecoding, EverySplitPointGivesTheTextOfOneDecode) {
    struct Case {
        const char* encoding;
        std::string bytes;
        std::string text;
    };
    const std::string sample = "Grüße, Ωμέγα, Жуков, 日本語のテキスト, 中文𠀀, 😀!";
    // Bytes made with iconv from the texts.
    const std::vector<Case> cases = {
        {"UTF-8", sample, sample},
        {"UTF-16LE",
         bytesOf("G\x00r\x00\xFC\x00\xDF\x00\x65\x00,\x00 \x00\xA9\x03\xBC\x03\xAD\x03\xB3\x03"
                 "\xB1\x03,\x00 \x00\x16\x04\x43\x04:\x04>\x04\x32\x04,\x00 \x00\xE5\x65,g\x9E"
                 "\x8An0\xC6\x30\xAD\x30\xB9\x30\xC8\x30,\x00 \x00-N\x87\x65@\xD8\x00\xDC,\x00 "
                 "\x00=\xD8\x00\xDE!\x00"),
         sample},
        {"UTF-16BE",
         bytesOf("\x00G\x00r\x00\xFC\x00\xDF\x00\x65\x00,\x00 \x03\xA9\x03\xBC\x03\xAD\x03\xB3"
                 "\x03\xB1\x00,\x00 \x04\x16\x04\x43\x04:\x04>\x04\x32\x00,\x00 e\xE5g,\x8A\x9E"
                 "\x30n0\xC6\x30\xAD\x30\xB9\x30\xC8\x00,\x00 N-e\x87\xD8@\xDC\x00\x00,\x00 \xD8="
                 "\xDE\x00\x00!"),
         sample},
        {"GB18030",
         "Gr\xA8\xB9\x81\x30\x89\x38\x65, \xA6\xB8\xA6\xCC\x81\x30\xCB\x35\xA6\xC3\xA6\xC1, "
         "\xA7\xA8"
         "\xA7\xE5\xA7\xDC\xA7\xE0\xA7\xD3, "
         "\xC8\xD5\xB1\xBE\xD5Z\xA4\xCE\xA5\xC6\xA5\xAD\xA5\xB9\xA5"
         "\xC8, \xD6\xD0\xCE\xC4\x95\x32\x82\x36, \x94\x39\xFC\x36!",
         sample},
        {"Shift_JIS",
         "\x93\xFA\x96{\x8C\xEA\x82\xCC\x83\x65\x83L\x83X\x83g\x81\x41\xB6\xC0\xB6\xC5 \x82\xC6 "
         "ASCII",
         "日本語のテキスト、ｶﾀｶﾅ と ASCII"},
        {"EUC-JP",
         "\xC6\xFC\xCB\xDC\xB8\xEC\xA4\xCE\xA5\xC6\xA5\xAD\xA5\xB9\xA5\xC8\xA1\xA2\x8F\xB0\xA1\x8E"
         "\xB6\x8E\xC0",
         "日本語のテキスト、丂ｶﾀ"},
        // Stateful: the shift into JIS X 0208 must survive a split anywhere.
        {"ISO-2022-JP", "\x1B$BF|K\x5C\x38l\x1B(B and ASCII, \x1B$BF|K\x5C\x1B(B",
         "日本語 and ASCII, 日本"},
        {"Big5", "\xC1\x63\xC5\xE9\xA4\xA4\xA4\xE5\xB8\xEA\xAE\xC6", "繁體中文資料"},
        {"windows-1252", "M\xFCller \x80 \x93quoted\x94", "Müller € “quoted”"},
    };
    for (const Case& c : cases) {
        const TextEncoding encoding = encodingNamed(c.encoding);
        ASSERT_EQ(decodeStrictly(asBytes(c.bytes), encoding), c.text) << c.encoding;
        for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
            const StreamedText streamed = decodeInChunks(encoding, c.bytes, {split});
            EXPECT_FALSE(streamed.invalid) << c.encoding << " split at " << split;
            EXPECT_EQ(streamed.bytesConsumed, c.bytes.size())
                << c.encoding << " split at " << split;
            EXPECT_EQ(streamed.text, c.text) << c.encoding << " split at " << split;
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t i = 1; i < c.bytes.size(); ++i) everyByte.push_back(i);
        EXPECT_EQ(decodeInChunks(encoding, c.bytes, everyByte).text, c.text)
            << c.encoding << " byte by byte";
    }
}

TEST(TextEncodingDecoding, InvalidSequencesStopAtTheirExactOffset) {
    struct Case {
        const char* encoding;
        std::string bytes;
        std::size_t offset;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"UTF-8",
         "ab\xC0\x80"
         "cd",
         2, "ab"},                                      // overlong NUL
        {"UTF-8", "abc\xE0\x80\xAF", 3, "abc"},         // overlong three-byte form
        {"UTF-8", "\xC3\xA9\xED\xA0\x80", 2, "é"},      // encoded surrogate
        {"UTF-8", "x\xF4\x90\x80\x80", 1, "x"},         // above U+10FFFF
        {"UTF-8", "0123456789\xFF", 10, "0123456789"},  // stray byte after an ASCII run
        {"UTF-8", "\xC3(", 0, ""},                      // lead byte without its trail
        {"UTF-16LE",
         bytesOf("a\0b\0\x00\xDC"
                 "c\0"),
         4, "ab"},  // lone trail
        {"UTF-16LE",
         bytesOf("a\0\x00\xD8"
                 "b\0"),
         2, "a"},  // lead, no trail
        {"UTF-16BE", bytesOf("\0a\xDC\x00\0b"), 2, "a"},
        {"UTF-32LE", bytesOf("a\0\0\0\0\xD8\0\0"), 4, "a"},  // surrogate value
        {"Shift_JIS", "\x82\xA0\x82\xA2\xA0x", 4, "あい"},   // 0xA0 is unassigned
        {"Shift_JIS", "\x82\xA0\x82\x20", 2, "あ"},          // bad trail byte
        {"windows-1253", "abc\xD2", 3, "abc"},               // 0xD2 is unassigned
        {"US-ASCII", "abc\xE9", 3, "abc"},
    };
    for (const Case& c : cases) {
        std::string text;
        const DecodeResult result =
            TextDecoder::make(encodingNamed(c.encoding))->decode(asBytes(c.bytes), text, true);
        EXPECT_EQ(result, (DecodeResult{c.offset, true})) << c.encoding << " " << c.offset;
        EXPECT_EQ(text, c.text) << c.encoding << " " << c.offset;
        EXPECT_FALSE(decodeStrictly(asBytes(c.bytes), encodingNamed(c.encoding))) << c.encoding;
    }
}

TEST(TextEncodingDecoding, ACutCharacterWaitsForMoreBytesUntilTheEndOfInput) {
    struct Case {
        const char* encoding;
        std::string bytes;
        std::size_t complete;
    };
    const std::vector<Case> cases = {
        {"UTF-8", "ab\xE2\x82", 2},
        {"UTF-8", "ab\xF0\x9F\x98", 2},
        {"UTF-16LE", bytesOf("a\0\x3D\xD8"), 2},  // lone lead surrogate at the end
        {"UTF-16BE", bytesOf("\0a\0"), 2},        // odd byte
        {"UTF-32LE", bytesOf("a\0\0\0\x01"), 4},
        {"Shift_JIS", "a\x82", 1},
        {"GB18030", "a\x95\x32\x82", 1},
    };
    for (const Case& c : cases) {
        const TextEncoding encoding = encodingNamed(c.encoding);
        std::string text;
        EXPECT_EQ(TextDecoder::make(encoding)->decode(asBytes(c.bytes), text, false),
                  (DecodeResult{c.complete, false}))
            << c.encoding;
        text.clear();
        EXPECT_EQ(TextDecoder::make(encoding)->decode(asBytes(c.bytes), text, true),
                  (DecodeResult{c.complete, true}))
            << c.encoding;
    }
}

TEST(TextEncodingDecoding, LongTextsCrossTheDecodersBlocksIntact) {
    // Surrogate pairs at odd positions make some pair straddle every block boundary.
    std::string text;
    std::string utf16;
    for (int i = 0; i < 30000; ++i) {
        text += "a😀";
        utf16 += bytesOf("a\0\x3D\xD8\x00\xDE");
    }
    EXPECT_EQ(decodeStrictly(asBytes(utf16), TextEncoding::utf16LittleEndian()), text);
    const StreamedText streamed =
        decodeInChunks(TextEncoding::utf16LittleEndian(), utf16, {4095, 9001, 70001});
    EXPECT_FALSE(streamed.invalid);
    EXPECT_EQ(streamed.text, text);

    std::string invalidLate = utf16;
    invalidLate.replace(150000, 2, bytesOf("\x00\xDC"));
    std::string prefix;
    const auto result = TextDecoder::make(TextEncoding::utf16LittleEndian())
                            ->decode(asBytes(invalidLate), prefix, true);
    EXPECT_EQ(result, (DecodeResult{150000, true}));
    EXPECT_EQ(prefix, text.substr(0, 150000 / 6 * 5));
}

// An invalid sequence that begins in bytes the converter held from the last chunk is placed
// where it begins, wherever the chunks split: ICU reads past some such sequences.
TEST(TextEncodingDecoding, AnInvalidSequenceCutByAChunkIsPlacedWhereItBegins) {
    struct Case {
        const char* encoding;
        std::string bytes;
        std::size_t offset;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"UTF-16LE", bytesOf("A\0B\0\xFE\xDBw\0C\0"), 4, "AB"},  // lead, no trail
        {"UTF-16BE", bytesOf("\0A\0B\xDB\xFE\0w\0C"), 4, "AB"},
        {"GB18030", "ab\x95\x32\x82\x20xy", 2, "ab"},  // a four-byte sequence gone wrong
    };
    for (const Case& c : cases) {
        for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
            const StreamedText streamed =
                decodeInChunks(encodingNamed(c.encoding), c.bytes, {split});
            EXPECT_TRUE(streamed.invalid) << c.encoding << ", split at " << split;
            EXPECT_EQ(streamed.bytesConsumed, c.offset) << c.encoding << ", split at " << split;
            EXPECT_EQ(streamed.text, c.text) << c.encoding << ", split at " << split;
        }
    }
}

TEST(TextEncodingDecoding, Utf8DecodingCopiesValidTextAndFindsEveryBadPosition) {
    const std::string ascii = "The quick brown fox jumps over the lazy dog, 0123456789.";
    for (std::size_t position = 0; position < ascii.size(); ++position) {
        std::string bytes = ascii;
        bytes[position] = '\x80';
        std::string text;
        EXPECT_EQ(TextDecoder::make(TextEncoding::utf8())->decode(asBytes(bytes), text, false),
                  (DecodeResult{position, true}));
        EXPECT_EQ(text, ascii.substr(0, position));
    }
    EXPECT_EQ(decodeStrictly(asBytes(ascii), TextEncoding::utf8()), ascii);
    EXPECT_EQ(decodeStrictly(asBytes(""), TextEncoding::utf8()), "");
    EXPECT_EQ(decodeStrictly(asBytes("\xEF\xBB\xBFx"), TextEncoding::utf8()), "\xEF\xBB\xBFx");
}

TEST(TextEncodingPopUp, StartsWithTheCommonEncodingsInOrderThenASeparator) {
    const auto items = encodingPopUpItems();
    ASSERT_GT(items.size(), 8u);
    const std::vector<std::pair<TextEncoding, std::string>> common = {
        {TextEncoding::ascii(), "Western (ASCII)"},
        {TextEncoding::macOSRoman(), "Western (Mac OS Roman)"},
        {TextEncoding::windowsLatin1(), "Western (Windows Latin 1)"},
        {TextEncoding::isoLatin1(), "Western (ISO Latin 1)"},
        {TextEncoding::utf8(), "Unicode (UTF-8)"},
        {TextEncoding::utf16BigEndian(), "Unicode (UTF-16BE)"},
        {TextEncoding::utf16LittleEndian(), "Unicode (UTF-16LE)"},
    };
    for (std::size_t i = 0; i < common.size(); ++i) {
        EXPECT_EQ(items[i], (EncodingListItem{common[i].first, common[i].second})) << i;
    }
    EXPECT_TRUE(items[7].isSeparator());
    EXPECT_TRUE(items[7].title.empty());
}

TEST(TextEncodingPopUp, ListsEveryOtherUsefulEncodingOnceSortedByUniqueTitle) {
    const auto items = encodingPopUpItems();
    const std::vector<EncodingListItem> rest(items.begin() + 8, items.end());
    std::set<std::string> titles;
    std::set<std::string> names;
    for (const auto& item : items) {
        if (item.isSeparator()) continue;
        EXPECT_TRUE(titles.insert(item.title).second) << "duplicate title " << item.title;
        EXPECT_TRUE(names.insert(item.encoding->name()).second) << item.encoding->name();
    }
    EXPECT_TRUE(
        std::none_of(rest.begin(), rest.end(), [](const auto& i) { return i.isSeparator(); }));
    for (const char* useful : {"windows-1251", "KOI8-R", "Shift_JIS", "EUC-JP", "GB18030", "Big5",
                               "EUC-KR", "UTF-32LE", "UTF-7", "ISO-8859-15", "IBM037"}) {
        EXPECT_TRUE(names.contains(encodingNamed(useful).name())) << useful;
    }
    for (const char* useless : {"UTF-16", "UTF-32", "UTF16_PlatformEndian", "SCSU", "BOCU-1",
                                "IMAP-mailbox-name", "UTF-16LE,version=1"}) {
        EXPECT_FALSE(names.contains(useless)) << useless;
    }
    // Every converter is either listed or deliberately left out.
    EXPECT_GT(rest.size(), availableEncodings().size() - 40);

    // Collation sorts titles by their letters first, whatever the case.
    auto folded = [](const std::string& title) {
        std::string result;
        for (char c : title.substr(0, title.find(' '))) {
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return result;
    };
    for (std::size_t i = 1; i < rest.size(); ++i) {
        const std::string previous = folded(rest[i - 1].title);
        const std::string current = folded(rest[i].title);
        if (std::isalpha(static_cast<unsigned char>(previous[0])) &&
            std::isalpha(static_cast<unsigned char>(current[0]))) {
            EXPECT_LE(previous[0], current[0]) << rest[i - 1].title << " / " << rest[i].title;
        }
    }
    auto position = [&](const std::string& title) {
        return std::find_if(rest.begin(), rest.end(),
                            [&](const auto& i) { return i.title == title; }) -
               rest.begin();
    };
    EXPECT_LT(position("Arabic (Windows)"), position("Baltic (Windows)"));
    EXPECT_LT(position("Cyrillic (KOI8-R)"), position("Cyrillic (Windows)"));
    EXPECT_LT(position("Japanese (Shift JIS)"), position("Korean (EUC)"));
    EXPECT_LT(position("Korean (EUC)"), static_cast<std::ptrdiff_t>(rest.size()));
}

}  // namespace
}  // namespace pelkora
