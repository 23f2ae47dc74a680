#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "text/EncodingDetection.h"

namespace pelkora {
namespace {

const std::filesystem::path kCorpus = std::filesystem::path(PELKORA_TEST_DATA_DIR) / "encodings";

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The suggestions the text reader makes for a file by its line ends.
EncodingDetectionOptions optionsForLineEnds(std::string_view lineEnds) {
    EncodingDetectionOptions options;
    if (lineEnds == "\r\n") {
        options.suggestedEncodings = {TextEncoding::windowsLatin1(), TextEncoding::isoLatin1(),
                                      TextEncoding::macOSRoman(), TextEncoding::utf8()};
    } else {
        options.suggestedEncodings = {TextEncoding::utf8(), TextEncoding::windowsLatin1(),
                                      TextEncoding::isoLatin1(), TextEncoding::macOSRoman()};
    }
    return options;
}

std::string withLineFeeds(std::string text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            result += text[i];
        }
    }
    return result;
}

std::size_t byteOrderMarkLength(std::string_view bytes) {
    for (std::string_view mark :
         {std::string_view("\xFF\xFE\0\0", 4), std::string_view("\xFF\xFE", 2),
          std::string_view("\xFE\xFF", 2), std::string_view("\xEF\xBB\xBF", 3)}) {
        if (bytes.starts_with(mark)) return mark.size();
    }
    return 0;
}

struct CorpusFile {
    std::string file;
    std::string encoding;
    std::string original;
    std::string kind;  // detect, byte-order-mark or zero-bytes
};

std::vector<CorpusFile> readManifest() {
    std::vector<CorpusFile> files;
    std::ifstream manifest(kCorpus / "manifest.tsv");
    std::string line;
    std::getline(manifest, line);  // the column names
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        CorpusFile entry;
        std::getline(fields, entry.file, '\t');
        std::getline(fields, entry.encoding, '\t');
        std::getline(fields, entry.original, '\t');
        std::getline(fields, entry.kind, '\t');
        files.push_back(entry);
    }
    return files;
}

class EncodingDetectionCorpus : public testing::TestWithParam<CorpusFile> {};

TEST_P(EncodingDetectionCorpus, FileIsReadAsItsOriginalText) {
    const CorpusFile& entry = GetParam();
    const std::string bytes = test::readFile(kCorpus / entry.file);
    const std::string original = test::readFile(kCorpus / entry.original);
    ASSERT_FALSE(bytes.empty()) << entry.file;
    ASSERT_FALSE(original.empty()) << entry.original;
    const auto expected = TextEncoding::named(entry.encoding);
    ASSERT_TRUE(expected) << entry.encoding;

    // The corpus itself: the file is the original in the encoding the manifest names.
    const std::string_view unmarked = std::string_view(bytes).substr(byteOrderMarkLength(bytes));
    const auto decodedAsExpected = decodeStrictly(asBytes(unmarked), *expected);
    ASSERT_TRUE(decodedAsExpected) << entry.file;
    EXPECT_EQ(withLineFeeds(*decodedAsExpected), original) << entry.file;

    const std::string_view lineEnds = bytes.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    // Either list of suggestions must come to the same text: the content decides.
    for (std::string_view suggestionsFor :
         {lineEnds, lineEnds == "\n" ? std::string_view("\r\n") : std::string_view("\n")}) {
        const auto detected =
            detectStringEncoding(asBytes(bytes), optionsForLineEnds(suggestionsFor));
        ASSERT_TRUE(detected) << entry.file;
        if (entry.kind != "detect") {
            EXPECT_EQ(*detected, *expected) << entry.file << " read as " << detected->name();
            continue;
        }
        const auto text = decodeStrictly(asBytes(bytes), *detected);
        ASSERT_TRUE(text) << entry.file << " read as " << detected->name();
        EXPECT_EQ(withLineFeeds(*text), original) << entry.file << " read as " << detected->name();
    }
}

class EncodingDetectionCorpusHead : public testing::TestWithParam<CorpusFile> {};

TEST_P(EncodingDetectionCorpusHead, HeadCutInsideACharacterReadsAsTheOriginalsStart) {
    const CorpusFile& entry = GetParam();
    const std::string bytes = test::readFile(kCorpus / entry.file);
    const std::string original = test::readFile(kCorpus / entry.original);
    // Cut before the last byte above 0x7F, inside the last multi-byte character, as the
    // 512 KiB head of a longer file may be; ASCII files in the middle.
    const auto last = std::find_if(bytes.rbegin(), bytes.rend(),
                                   [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    const std::size_t cut = last == bytes.rend() ? bytes.size() / 2 : bytes.rend() - last - 1;
    const auto head = asBytes(std::string_view(bytes).substr(0, cut));
    const auto detected = detectStringEncoding(head, optionsForLineEnds("\n"));
    ASSERT_TRUE(detected) << entry.file;
    std::string text;
    const DecodeResult result = TextDecoder::make(*detected)->decode(head, text, false);
    EXPECT_FALSE(result.invalid) << entry.file << " read as " << detected->name();
    EXPECT_TRUE(original.starts_with(withLineFeeds(text)))
        << entry.file << " read as " << detected->name();
}

std::string corpusCaseName(const testing::TestParamInfo<CorpusFile>& info) {
    std::string name;
    for (char c : info.param.file) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

std::vector<CorpusFile> filesDetectedByContent() {
    std::vector<CorpusFile> files = readManifest();
    std::erase_if(files, [](const CorpusFile& file) { return file.kind != "detect"; });
    return files;
}

INSTANTIATE_TEST_SUITE_P(EncodingDetection, EncodingDetectionCorpus,
                         testing::ValuesIn(readManifest()), corpusCaseName);
INSTANTIATE_TEST_SUITE_P(EncodingDetection, EncodingDetectionCorpusHead,
                         testing::ValuesIn(filesDetectedByContent()), corpusCaseName);

TEST(EncodingDetection, AsciiTextTakesTheFirstSuggestion) {
    const std::string ascii = "Name,Phone\r\nJohn Smith,555-0134\r\n";
    EXPECT_EQ(detectStringEncoding(asBytes(ascii), optionsForLineEnds("\r\n")),
              TextEncoding::windowsLatin1());
    EXPECT_EQ(detectStringEncoding(asBytes(ascii), optionsForLineEnds("\n")), TextEncoding::utf8());
    EncodingDetectionOptions macFirst;
    macFirst.suggestedEncodings = {TextEncoding::utf16LittleEndian(), TextEncoding::macOSRoman()};
    // UTF-16 would turn the ASCII into other characters, so it is passed over.
    EXPECT_EQ(detectStringEncoding(asBytes(ascii), macFirst), TextEncoding::macOSRoman());
    EXPECT_EQ(detectStringEncoding(asBytes(ascii), {}), TextEncoding::utf8());
}

TEST(EncodingDetection, SevenBitEastAsianEncodingsAreNotTakenForAscii) {
    const std::string iso2022jp =
        "\x1B$B;3ED\x1B(B,\x1B$BB@O:\x1B(B,\x1B$BEl5~ET@iBeED6h4]$NFb\x1B(B,"
        "\x1B$BKhG/$*:PJk$rAw$C$F$$$k\x1B(B\n";
    const auto detected = detectStringEncoding(asBytes(iso2022jp), optionsForLineEnds("\n"));
    ASSERT_TRUE(detected);
    EXPECT_EQ(decodeStrictly(asBytes(iso2022jp), *detected),
              "山田,太郎,東京都千代田区丸の内,毎年お歳暮を送っている\n");

    const std::string hz =
        "~{MuN0~},~{11>);*PE\x3F\x46<<SPO^9+K>~},~{3/QtGx=(9zB7~},~{@O\x3FM;'C\x3F\x44jPxT<~}\n"
        "~{@nDH~},~{IO:#J@<M4s5@~},~{OBNg7=1c=SL}5g;0~}\n";
    EXPECT_EQ(detectStringEncoding(asBytes(hz), optionsForLineEnds("\n")),
              TextEncoding::named("HZ"));
}

TEST(EncodingDetection, ValidUtf8WinsOverSuggestionsEvenWhenCut) {
    const std::string utf8 = "Name,City\r\nJürgen Müller,München\r\nZoë,Café 😀";
    EXPECT_EQ(detectStringEncoding(asBytes(utf8), optionsForLineEnds("\r\n")),
              TextEncoding::utf8());
    // The head of a longer file may end inside the emoji.
    const std::string cut = utf8.substr(0, utf8.size() - 2);
    EXPECT_EQ(detectStringEncoding(asBytes(cut), optionsForLineEnds("\r\n")), TextEncoding::utf8());
}

TEST(EncodingDetection, AnswersNoneWhenNoAllowedEncodingDecodesTheBytes) {
    const std::string bytes = "Name\n\xFF\xFE\x80\xC0 garbage \xED\xA0\x80";
    EncodingDetectionOptions options;
    options.suggestedEncodings = {TextEncoding::utf8(), TextEncoding::ascii()};
    options.useOnlySuggestedEncodings = true;
    EXPECT_FALSE(detectStringEncoding(asBytes(bytes), options));
    options.allowLossyConversion = true;
    EXPECT_EQ(detectStringEncoding(asBytes(bytes), options), TextEncoding::utf8());
}

TEST(EncodingDetection, OnlySuggestedEncodingsAreChosenWhenAskedTo) {
    const std::string koi8 = "\xe9\xd7\xc1\xce \xf0\xc5\xd4\xd2\xcf\xd7,\xed\xcf\xd3\xcb\xd7\xc1\n";
    EncodingDetectionOptions options = optionsForLineEnds("\n");
    EXPECT_EQ(detectStringEncoding(asBytes(koi8), options), TextEncoding::named("KOI8-R"));
    options.useOnlySuggestedEncodings = true;
    const auto detected = detectStringEncoding(asBytes(koi8), options);
    ASSERT_TRUE(detected);
    EXPECT_NE(
        std::find(options.suggestedEncodings.begin(), options.suggestedEncodings.end(), *detected),
        options.suggestedEncodings.end());
}

TEST(EncodingDetection, UnmarkedUtf16IsRecognisedByItsZeroBytes) {
    const std::string le("N\0a\0m\0e\0,\0J\0\xFC\0r\0g\0e\0n\0\n\0", 24);
    const std::string be("\0N\0a\0m\0e\0,\0J\0\xFC\0r\0g\0e\0n\0\n", 24);
    EXPECT_EQ(detectStringEncoding(asBytes(le), {}), TextEncoding::utf16LittleEndian());
    EXPECT_EQ(detectStringEncoding(asBytes(be), {}), TextEncoding::utf16BigEndian());
}

TEST(EncodingDetection, TellingLinesFarIntoALongHeadAreFound) {
    std::string bytes;
    while (bytes.size() < 200000) {
        bytes += "Smith,John,Acme Corporation,123 Main Street,Springfield\n";
    }
    // "Jürgen Müller, Straße" in Mac OS Roman, after 200 KB of ASCII.
    bytes +=
        "M\x9Fller,J\x9Frgen,B\x8A"
        "ckerei M\x9Fller,Hauptstra\xA7"
        "e 12,M\x9Fnchen\n";
    EXPECT_EQ(detectStringEncoding(asBytes(bytes), optionsForLineEnds("\n")),
              TextEncoding::macOSRoman());
}

TEST(EncodingDetection, AnswerDecodesAllTheBytesNotJustTheFirstTellingLines) {
    // Shift-JIS lines well beyond what is scored, then a byte Shift-JIS leaves unassigned.
    const std::string line = "\x8E\x52\x93\x63,\x91\xBE\x98\x59,\x93\x8C\x8B\x9E\x93\x73\n";
    std::string bytes;
    while (bytes.size() < 150000) {
        bytes += line;
    }
    bytes += "\xA0\xA0\n";
    const auto detected = detectStringEncoding(asBytes(bytes), optionsForLineEnds("\n"));
    ASSERT_TRUE(detected);
    EXPECT_NE(*detected, TextEncoding::named("Shift_JIS"));
    EXPECT_TRUE(decodeStrictly(asBytes(bytes), *detected)) << detected->name();
    bytes.resize(bytes.size() - 3);
    EXPECT_EQ(detectStringEncoding(asBytes(bytes), optionsForLineEnds("\n")),
              TextEncoding::named("Shift_JIS"));
}

TEST(EncodingDetection, Utf8WithAFewStrayBytesIsUtf8OnlyWhenAllowed) {
    struct Case {
        std::string bytes;
        bool strayBytesInUtf8;
    };
    const Case cases[] = {
        // Four accented letters, one stray byte.
        {"M\xC3\xBCller,J\xC3\xBCrgen\nD\xC3\xB6rte,K\xC3\xB6ln\xFF\n", true},
        // A truncated sequence is as stray as a lone byte.
        {"M\xC3\xBCller,J\xC3\xBCrgen\nD\xC3\xB6rte,\xE2\x82K\xC3\xB6ln\n", true},
        // Too many stray bytes for the valid characters.
        {"M\xC3\xBCller,\xFF\xFE\nK\xC3\xB6ln\n", false},
        // Windows Latin 1: every accented letter is invalid UTF-8.
        {"M\xFCller,J\xFCrgen\nD\xF6rte,K\xF6ln,Fran\xE7oise\n", false},
        // One valid character is no evidence.
        {"M\xC3\xBCller,K\xF6ln\n", false},
    };
    EncodingDetectionOptions options;
    options.suggestedEncodings = {TextEncoding::windowsLatin1(), TextEncoding::macOSRoman()};
    options.allowStrayBytesInUtf8 = true;
    EncodingDetectionOptions strict = options;
    strict.allowStrayBytesInUtf8 = false;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.bytes);
        const auto bytes = asBytes(testCase.bytes);
        EXPECT_EQ(isUtf8WithStrayBytes(bytes), testCase.strayBytesInUtf8);
        EXPECT_EQ(detectStringEncoding(bytes, options) == TextEncoding::utf8(),
                  testCase.strayBytesInUtf8);
        EXPECT_NE(detectStringEncoding(bytes, strict), TextEncoding::utf8());
    }
}

TEST(EncodingDetection, StrayBytesBecomeOneReplacementCharacterEach) {
    EXPECT_EQ(decodeUtf8ReplacingStrayBytes(asBytes("a\xFF"
                                                    "b\xE2\x82"
                                                    "c\xC3\xA9")),
              "a\uFFFD"
              "b\uFFFD"
              "c\u00E9");
    // A character cut by the end is left out, not replaced.
    EXPECT_EQ(decodeUtf8ReplacingStrayBytes(asBytes("K\xC3\xB6ln\xE2\x82")), "K\u00F6ln");
    const Utf8Census census =
        countUtf8Sequences(asBytes("\xC3\xA9\xFF\xED\xA0\x80\xF0\x9F\x98\x80"));
    EXPECT_EQ(census.multiByteCharacters, 2u);
    EXPECT_EQ(census.invalidSequences, 4u);  // FF, then ED A0 80 (a surrogate) byte by byte
}

TEST(EncodingDetection, LanguageCodeComesFromTheLocaleVariables) {
    {
        test::ScopedEnvironment all("LC_ALL", "de_DE.UTF-8");
        EXPECT_EQ(currentLanguageCode(), "de");
    }
    {
        test::ScopedEnvironment all("LC_ALL", "");
        test::ScopedEnvironment type("LC_CTYPE", "pt_BR.UTF-8@latin");
        EXPECT_EQ(currentLanguageCode(), "pt");
    }
    {
        test::ScopedEnvironment all("LC_ALL", "");
        test::ScopedEnvironment type("LC_CTYPE", "");
        test::ScopedEnvironment lang("LANG", "ja_JP.eucJP");
        EXPECT_EQ(currentLanguageCode(), "ja");
    }
    {
        test::ScopedEnvironment all("LC_ALL", "C");
        EXPECT_EQ(currentLanguageCode(), "en");
    }
    {
        test::ScopedEnvironment all("LC_ALL", "POSIX");
        EXPECT_EQ(currentLanguageCode(), "en");
    }
}

}  // namespace
}  // namespace pelkora
