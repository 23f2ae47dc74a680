#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "input/CsvParser.h"
#include "platform/InputStream.h"

namespace pelkora {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Record = std::vector<std::string>;

constexpr std::size_t kWholeReads = std::numeric_limits<std::size_t>::max();

// How a test runs the parser; by default as the text reader does: UTF-8 given, comma, every
// option on, the stream read in one piece.
struct ParseSetup {
    char32_t delimiter = ',';
    std::optional<TextEncoding> encoding = TextEncoding::utf8();
    std::size_t readSize = kWholeReads;
    bool sanitizes = true;
    bool trims = true;
    bool escapes = true;
    bool comments = true;
    bool equalSign = true;
    bool replacesUndecodable = false;
    bool sixteenAtATime = true;
    // Calls cancelParsing from parserDidBeginLine of this record.
    std::uint64_t cancelAtLine = 0;
    // Calls cancelParsing from parserDidReadField of the field with this value.
    std::optional<std::string> cancelAtField;
};

ParseSetup withoutOptions() {
    ParseSetup setup;
    setup.sanitizes = setup.trims = setup.escapes = setup.comments = setup.equalSign = false;
    return setup;
}

ParseSetup sniffing(std::size_t readSize = kWholeReads) {
    ParseSetup setup;
    setup.encoding.reset();
    setup.readSize = readSize;
    return setup;
}

// Records every event as one line of text, plus the values for the tests that only look at
// records.
class EventRecorder : public CsvParserDelegate {
  public:
    explicit EventRecorder(ParseSetup setup = {}) : setup_(std::move(setup)) {}

    void parserDidBeginDocument(CsvParser&) override { events.push_back("begin"); }
    void parserDidBeginLine(CsvParser& parser, std::uint64_t recordNumber) override {
        events.push_back("line " + std::to_string(recordNumber));
        records.emplace_back();
        if (recordNumber == setup_.cancelAtLine) parser.cancelParsing();
    }
    void parserDidReadField(CsvParser& parser, std::string_view field,
                            std::uint64_t fieldIndex) override {
        events.push_back("field " + std::to_string(fieldIndex) + " [" + std::string(field) + "]");
        records.back().emplace_back(field);
        if (setup_.cancelAtField == field) parser.cancelParsing();
    }
    void parserDidReadComment(CsvParser&, std::string_view comment) override {
        events.push_back("comment [" + std::string(comment) + "]");
        comments.emplace_back(comment);
    }
    void parserDidReplaceUndecodableBytes(CsvParser&, std::uint64_t fieldIndex,
                                          std::uint64_t byteOffset) override {
        events.push_back("replaced " + std::to_string(fieldIndex) + " at " +
                         std::to_string(byteOffset));
    }
    void parserDidEndLine(CsvParser&, std::uint64_t recordNumber) override {
        events.push_back("endline " + std::to_string(recordNumber));
    }
    void parserDidEndDocument(CsvParser&) override { events.push_back("end"); }
    void parserDidFailWithError(CsvParser&, const CsvError& failure) override {
        events.push_back("error " + failure.message);
        error = failure;
    }

    std::vector<std::string> events;
    std::vector<Record> records;
    std::vector<std::string> comments;
    std::optional<CsvError> error;

  private:
    ParseSetup setup_;
};

std::unique_ptr<CsvParser> makeParser(const std::string& bytes, const ParseSetup& setup,
                                      std::optional<TextEncoding>& usedEncoding) {
    usedEncoding = setup.encoding;
    auto parser = std::make_unique<CsvParser>(InputStream::fromMemory(bytes, setup.readSize),
                                              &usedEncoding, setup.delimiter);
    parser->setSanitizesFields(setup.sanitizes);
    parser->setTrimsWhitespace(setup.trims);
    parser->setRecognizesBackslashesAsEscapes(setup.escapes);
    parser->setRecognizesComments(setup.comments);
    parser->setRecognizesLeadingEqualSign(setup.equalSign);
    parser->setReplacesUndecodableBytes(setup.replacesUndecodable);
    parser->setScansSixteenBytesAtATime(setup.sixteenAtATime);
    return parser;
}

EventRecorder parse(const std::string& bytes, const ParseSetup& setup = {}) {
    std::optional<TextEncoding> usedEncoding;
    auto parser = makeParser(bytes, setup, usedEncoding);
    EventRecorder recorder(setup);
    parser->setDelegate(&recorder);
    parser->parse();
    return recorder;
}

std::vector<Record> recordsOf(const std::string& bytes, const ParseSetup& setup = {}) {
    return parse(bytes, setup).records;
}

std::string utf16LittleEndian(std::string_view ascii) {
    std::string bytes;
    for (char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
}

// --- Records and fields ---

TEST(CsvParserScan, SixteenBytesAtATimeGivesTheEventsOfTheByteByByteScan) {
    // Every stop byte at every offset around the first and second 16-byte blocks of a field,
    // unquoted, quoted, equal-sign quoted and in a comment, with and without the options that
    // add stop bytes; some of these documents end in an error, which must come at the same place.
    const std::string stops[] = {",",    "\"",   "\\", "\n", "\r\n", "\r",
                                 "\x0B", "\x0C", "\t", " ",  "#"};
    std::size_t documents = 0;
    for (const std::string& stop : stops) {
        for (std::size_t offset = 12; offset < 36; ++offset) {
            const std::string run = std::string(offset, 'a') + stop + std::string(3, 'b');
            const std::string variants[] = {run + ",x\n", "\"" + run + "\"\"" + run + "\",x\n",
                                            "=\"" + run + "\"\n", "#" + run + "\nx," + run + "\n"};
            for (const std::string& text : variants) {
                for (ParseSetup setup : {ParseSetup{}, withoutOptions()}) {
                    for (std::size_t readSize : {std::size_t{7}, kWholeReads}) {
                        setup.readSize = readSize;
                        setup.sixteenAtATime = false;
                        const auto plain = parse(text, setup).events;
                        setup.sixteenAtATime = true;
                        ASSERT_EQ(parse(text, setup).events, plain) << text << " " << readSize;
                        ++documents;
                    }
                }
            }
        }
    }
    EXPECT_EQ(documents, 11u * 24 * 4 * 2 * 2);
}

TEST(CsvParserUndecodable, ReplacedSequencesAreReportedWithTheirFieldAtAnyReadSize) {
    // A lone byte, a sequence cut short by ASCII, and a byte at the very end.
    const std::string bytes =
        "K\xC3\xB6ln,a\xFF"
        "b\nx,\xE2\x82y,z\xFE";
    for (std::size_t readSize : {std::size_t{1}, std::size_t{3}, kWholeReads}) {
        SCOPED_TRACE(readSize);
        ParseSetup setup;
        setup.readSize = readSize;
        setup.replacesUndecodable = true;
        const auto recorder = parse(bytes, setup);
        EXPECT_THAT(recorder.records, ElementsAre(Record{"K\u00F6ln",
                                                         "a\uFFFD"
                                                         "b"},
                                                  Record{"x", "\uFFFDy", "z\uFFFD"}));
        EXPECT_THAT(recorder.events,
                    ElementsAre("begin", "line 1", "field 0 [K\u00F6ln]", "replaced 1 at 7",
                                "field 1 [a\uFFFDb]", "endline 1", "line 2", "field 0 [x]",
                                "replaced 1 at 12", "field 1 [\uFFFDy]", "replaced 2 at 17",
                                "field 2 [z\uFFFD]", "endline 2", "end"));
    }
    // Without replacing, the input ends at the first such byte.
    EXPECT_THAT(recordsOf(bytes), ElementsAre(Record{"K\u00F6ln", "a"}));
}

TEST(CsvParserRecords, TrailingDelimiterGivesEmptyLastField) {
    EXPECT_THAT(recordsOf("a,b,\n"), ElementsAre(Record{"a", "b", ""}));
}

TEST(CsvParserRecords, LoneDelimiterGivesTwoEmptyFields) {
    EXPECT_THAT(recordsOf(",\n"), ElementsAre(Record{"", ""}));
}

TEST(CsvParserRecords, EmptyLinesMakeNoRecords) {
    EXPECT_THAT(parse("a\r\n\r\n\nb").events,
                ElementsAre("begin", "line 1", "field 0 [a]", "endline 1", "line 2", "field 0 [b]",
                            "endline 2", "end"));
}

TEST(CsvParserRecords, LeadingLineBreaksMakeOneRecordWithAnEmptyField) {
    EXPECT_THAT(recordsOf("\n\r\n\na"), ElementsAre(Record{""}, Record{"a"}));
}

TEST(CsvParserRecords, EmptyInputHasNoRecords) {
    EXPECT_THAT(parse("").events, ElementsAre("begin", "end"));
}

TEST(CsvParserRecords, UnicodeLineBreaksSeparateRecords) {
    EXPECT_THAT(
        recordsOf("a\u0085b\u2028c\u2029d\x0B"
                  "e\x0C"
                  "f"),
        ElementsAre(Record{"a"}, Record{"b"}, Record{"c"}, Record{"d"}, Record{"e"}, Record{"f"}));
}

TEST(CsvParserRecords, NulBytesAreOrdinaryFieldContent) {
    const std::string input("a\0b,\"c\0\"\n\0", 10);
    EXPECT_THAT(recordsOf(input), ElementsAre(Record{std::string("a\0b", 3), std::string("c\0", 2)},
                                              Record{std::string(1, '\0')}));
}

TEST(CsvParserRecords, NonAsciiDelimiterSeparatesFields) {
    ParseSetup section;
    section.delimiter = U'§';
    EXPECT_THAT(recordsOf("a§b§\"c§d\"\u0085x", section),
                ElementsAre(Record{"a", "b", "c§d"}, Record{"x"}));
    ParseSetup fullWidthSemicolon;
    fullWidthSemicolon.delimiter = U'；';
    EXPECT_THAT(recordsOf("名；姓,x；\n", fullWidthSemicolon),
                ElementsAre(Record{"名", "姓,x", ""}));
}

TEST(CsvParserRecords, WhitespaceDelimiterIsNotSkippedAsFieldWhitespace) {
    ParseSetup tab;
    tab.delimiter = '\t';
    EXPECT_THAT(recordsOf(" a \t\t \"b\" \n", tab), ElementsAre(Record{"a", "", "b"}));
}

// --- Quoted fields ---

TEST(CsvParserQuotedFields, QuotedFieldKeepsDelimiterLineFeedAndOneQuoteOfEachPair) {
    EXPECT_THAT(recordsOf("\"x,\"\"y\"\"\nz\",next\n"), ElementsAre(Record{"x,\"y\"\nz", "next"}));
}

TEST(CsvParserQuotedFields, QuoteInsideUnquotedFieldIsKept) {
    EXPECT_THAT(recordsOf("ab\"c,d\"\n"), ElementsAre(Record{"ab\"c", "d\""}));
}

TEST(CsvParserQuotedFields, TextAfterClosingQuoteStopsWithUnexpectedDelimiter) {
    const EventRecorder result = parse("\"abc\"x,1\nnext\n");
    EXPECT_THAT(result.events,
                ElementsAre("begin", "line 1", "field 0 [abc]", "endline 1",
                            "error Unexpected delimiter. Expected ',' (0x2C), but got 'x' (0x78)"));
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->kind, CsvErrorKind::unexpectedDelimiter);
}

TEST(CsvParserQuotedFields, UnexpectedDelimiterErrorNamesNonAsciiCharacters) {
    ParseSetup semicolon;
    semicolon.delimiter = U'；';
    EXPECT_EQ(parse("\"a\"é", semicolon).error->message,
              "Unexpected delimiter. Expected '；' (0xFF1B), but got 'é' (0xE9)");
}

TEST(CsvParserQuotedFields, UnterminatedQuotedFieldIsDroppedAndDocumentEnds) {
    EXPECT_THAT(parse("a,\"bc,d\n").events,
                ElementsAre("begin", "line 1", "field 0 [a]", "endline 1", "end"));
}

TEST(CsvParserQuotedFields, InputOfOneQuoteEndsNormally) {
    EXPECT_THAT(parse("\"").events, ElementsAre("begin", "line 1", "endline 1", "end"));
}

TEST(CsvParserQuotedFields, UnsanitizedValuesKeepQuotesAndEscapes) {
    ParseSetup raw = withoutOptions();
    raw.escapes = true;
    EXPECT_THAT(recordsOf(" \"a\"\"b\" ,c\\,d\n", raw),
                ElementsAre(Record{" \"a\"\"b\" ", "c\\,d"}));
    raw.trims = true;
    EXPECT_THAT(recordsOf(" \"a\"\"b\" ,c\\,d\n", raw), ElementsAre(Record{"\"a\"\"b\"", "c\\,d"}));
}

// --- White space ---

TEST(CsvParserWhitespace, TrimmingNeverTouchesQuotedContent) {
    EXPECT_THAT(recordsOf("  a  ,  \" b \"  \n"), ElementsAre(Record{"a", " b "}));
}

TEST(CsvParserWhitespace, WithoutTrimmingSpaceAroundQuotesStaysInValue) {
    ParseSetup keeping;
    keeping.trims = false;
    EXPECT_THAT(recordsOf(" \"b\"\t, c \n", keeping), ElementsAre(Record{" b\t", " c "}));
}

TEST(CsvParserWhitespace, TrimmingRemovesUnicodeSpacesAndEscapedLineBreaks) {
    EXPECT_THAT(recordsOf("\u3000\u00A0a b\u2003\\\n,\u202Fc\u205F\n"),
                ElementsAre(Record{"a b", "c"}));
}

// --- Escapes, equal sign, comments ---

TEST(CsvParserEscapes, BackslashMakesDelimiterPartOfField) {
    EXPECT_THAT(recordsOf("a\\,b\n"), ElementsAre(Record{"a,b"}));
}

TEST(CsvParserEscapes, BackslashInQuotedFieldMakesQuoteLiteral) {
    EXPECT_THAT(recordsOf("\"a\\\"b\\\\\",c\\é\n"), ElementsAre(Record{"a\"b\\", "cé"}));
}

TEST(CsvParserEscapes, BackslashIsOrdinaryWithoutEscapes) {
    ParseSetup plain;
    plain.escapes = false;
    EXPECT_THAT(recordsOf("a\\,b\n", plain), ElementsAre(Record{"a\\", "b"}));
}

TEST(CsvParserEscapes, TrailingBackslashAtEndOfInputIsDropped) {
    EXPECT_THAT(recordsOf("a\\"), ElementsAre(Record{"a"}));
    EXPECT_THAT(parse("\"a\\").events, ElementsAre("begin", "line 1", "endline 1", "end"));
}

TEST(CsvParserLeadingEqualSign, EqualSignBeforeQuotesGivesQuotedText) {
    EXPECT_THAT(recordsOf("=\"0012\",=1+2\n"), ElementsAre(Record{"0012", "=1+2"}));
}

TEST(CsvParserLeadingEqualSign, WithoutOptionEqualSignAndQuotesStay) {
    ParseSetup plain;
    plain.equalSign = false;
    EXPECT_THAT(recordsOf("=\"0012\"\n", plain), ElementsAre(Record{"=\"0012\""}));
}

TEST(CsvParserComments, CommentLineBeforeRecordIsDelivered) {
    EXPECT_THAT(parse("# note, here\na,b\n").events,
                ElementsAre("begin", "comment [ note, here]", "line 1", "field 0 [a]",
                            "field 1 [b]", "endline 1", "end"));
}

TEST(CsvParserComments, EscapedLineBreakContinuesComment) {
    const EventRecorder result = parse("#a\\\nb\n\n#c\nd");
    EXPECT_THAT(result.comments, ElementsAre("a\\\nb", "c"));
    EXPECT_THAT(result.records, ElementsAre(Record{"d"}));
}

TEST(CsvParserComments, HashIsDataInsideRecordOrWithoutOption) {
    EXPECT_THAT(recordsOf("a,#b\n #c\n"), ElementsAre(Record{"a", "#b"}, Record{"#c"}));
    ParseSetup plain;
    plain.comments = false;
    EXPECT_THAT(recordsOf("#x\n", plain), ElementsAre(Record{"#x"}));
}

// --- Cancelling ---

TEST(CsvParserCancel, CancelFromBeginLineOfRecordFiveEndsDocumentWithoutItsFields) {
    ParseSetup setup;
    setup.cancelAtLine = 5;
    const EventRecorder result = parse("1\n2\n3\n4\n5,x\n6\n", setup);
    EXPECT_THAT(std::vector<std::string>(result.events.end() - 4, result.events.end()),
                ElementsAre("field 0 [4]", "endline 4", "line 5", "end"));
}

TEST(CsvParserCancel, CancelSuppressesLaterError) {
    ParseSetup setup;
    setup.cancelAtField = "a";
    EXPECT_THAT(parse("\"a\"x,b\n", setup).events,
                ElementsAre("begin", "line 1", "field 0 [a]", "end"));
}

// --- Encodings ---

struct MarkedInput {
    std::string bytes;
    TextEncoding encoding;
};

TEST(CsvParserEncoding, ByteOrderMarkNamesEncodingAndIsRemoved) {
    const MarkedInput inputs[] = {
        {std::string("\0\0\xFE\xFF\0\0\0x\0\0\0,\0\0\0y", 16), TextEncoding::utf32BigEndian()},
        {std::string("\xFF\xFE\0\0x\0\0\0,\0\0\0y\0\0\0", 16), TextEncoding::utf32LittleEndian()},
        {"\x1B\x24\x29\x43x,y", TextEncoding::iso2022KR()},
        {std::string("\xFE\xFF\0x\0,\0y", 8), TextEncoding::utf16BigEndian()},
        {"\xFF\xFE" + utf16LittleEndian("x,y"), TextEncoding::utf16LittleEndian()},
        {"\xEF\xBB\xBFx,y", TextEncoding::utf8()},
    };
    for (const MarkedInput& input : inputs) {
        SCOPED_TRACE(input.encoding.name());
        std::optional<TextEncoding> usedEncoding;
        CsvParser parser(InputStream::fromMemory(input.bytes), &usedEncoding, ',');
        EXPECT_EQ(usedEncoding, input.encoding);
        EXPECT_EQ(parser.streamEncoding(), input.encoding);
        EventRecorder recorder;
        parser.setDelegate(&recorder);
        parser.parse();
        EXPECT_THAT(recorder.records, ElementsAre(Record{"x", "y"}));
        EXPECT_EQ(parser.totalBytesRead(), input.bytes.size());
    }
}

TEST(CsvParserEncoding, Utf16LittleEndianWithMarkIsParsedAcrossTinyReads) {
    const std::string bytes = "\xFF\xFE" + utf16LittleEndian("\"a,\"\"b\"\"\",c\r\n# d\r\ne\r\n");
    for (std::size_t readSize : {1, 3, 7}) {
        SCOPED_TRACE(readSize);
        EXPECT_EQ(parse(bytes, sniffing(readSize)).events,
                  (std::vector<std::string>{"begin", "line 1", "field 0 [a,\"b\"]", "field 1 [c]",
                                            "endline 1", "comment [ d]", "line 2", "field 0 [e]",
                                            "endline 2", "end"}));
    }
}

TEST(CsvParserEncoding, UnmarkedUtf8CutAtEndOfSniffWindowOrEmptyStreamIsUtf8) {
    for (const std::string& bytes : {std::string(511, 'a') + "é,b", std::string()}) {
        std::optional<TextEncoding> usedEncoding;
        CsvParser parser(InputStream::fromMemory(bytes), &usedEncoding, ',');
        EXPECT_EQ(usedEncoding, TextEncoding::utf8());
    }
}

TEST(CsvParserEncoding, InvalidUtf8IsGuessedAsWindowsLatin1AndLogged) {
    test::LogCapture log;
    std::optional<TextEncoding> usedEncoding;
    // 0x80 and 0x81: the euro sign and a byte Windows Latin 1 leaves unassigned (read as U+0081).
    CsvParser parser(InputStream::fromMemory("caf\xE9,\x80\x81\xFF\n"), &usedEncoding, ',');
    EXPECT_EQ(usedEncoding, TextEncoding::windowsLatin1());
    EXPECT_TRUE(log.contains("unable to determine stream encoding; guessed Windows Latin 1"));
    EventRecorder recorder;
    parser.setDelegate(&recorder);
    parser.parse();
    ASSERT_EQ(recorder.records.size(), 1u);
    EXPECT_EQ(recorder.records[0][0], "café");
    EXPECT_EQ(recorder.records[0][1], "€\u0081ÿ");
}

TEST(CsvParserEncoding, GivenEncodingIsUsedWithoutSniffing) {
    std::optional<TextEncoding> usedEncoding = TextEncoding::isoLatin1();
    CsvParser parser(InputStream::fromMemory("\xFF\xFEx"), &usedEncoding, ',');
    EXPECT_EQ(parser.totalBytesRead(), 0u);
    EventRecorder recorder;
    parser.setDelegate(&recorder);
    parser.parse();
    EXPECT_THAT(recorder.records, ElementsAre(Record{"ÿþx"}));
    EXPECT_EQ(usedEncoding, TextEncoding::isoLatin1());
}

TEST(CsvParserEncoding, UndecodableBytesEndParseAfterTextBeforeThem) {
    EXPECT_THAT(parse("a,b\nc,d\xFF\xFE,e\nf\n", ParseSetup{}).events,
                ElementsAre("begin", "line 1", "field 0 [a]", "field 1 [b]", "endline 1", "line 2",
                            "field 0 [c]", "field 1 [d]", "endline 2", "end"));
    EXPECT_THAT(recordsOf("a,\"b\xC3", ParseSetup{}), ElementsAre(Record{"a"}));
}

// --- Refills ---

TEST(CsvParserRefills, EveryReadSizeGivesTheSameEvents) {
    const std::string tricky =
        "\xEF\xBB\xBF# Kommentar \\\n mit Umbruch\r\n"
        "Name,\"Straße, \"\"Nr\"\"\",  =\"0042\"  ,naïve\\,ok\r\n"
        "\r\n\r\n"
        "\"Zeile\r\nzwei 日本\",\u3000x\u00A0,\"a\\\"b\"\u2028"
        "§€,\"\"\"\",\"\",\n"
        "last\\";
    const std::vector<std::string> expected = parse(tricky, sniffing()).events;
    EXPECT_THAT(
        expected,
        ElementsAre("begin", "comment [ Kommentar \\\n mit Umbruch]", "line 1", "field 0 [Name]",
                    "field 1 [Straße, \"Nr\"]", "field 2 [0042]", "field 3 [naïve,ok]", "endline 1",
                    "line 2", "field 0 [Zeile\r\nzwei 日本]", "field 1 [x]", "field 2 [a\"b]",
                    "endline 2", "line 3", "field 0 [§€]", "field 1 [\"]", "field 2 []",
                    "field 3 []", "endline 3", "line 4", "field 0 [last]", "endline 4", "end"));
    for (std::size_t readSize : {1, 2, 3, 7}) {
        SCOPED_TRACE(readSize);
        EXPECT_EQ(parse(tricky, sniffing(readSize)).events, expected);
        ParseSetup given;
        given.readSize = readSize;
        EXPECT_EQ(parse(tricky.substr(3), given).events, expected);
    }
}

TEST(CsvParserRefills, FieldsLongerThanOneReadAreWhole) {
    const std::string longText(200'000, 'x');
    const std::string input =
        "\"" + longText + "\"\"" + longText + "\"," + longText + "\n" + "short\n";
    const auto records = recordsOf(input);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0][0], longText + "\"" + longText);
    EXPECT_EQ(records[0][1], longText);
    EXPECT_THAT(records[1], ElementsAre("short"));
}

// --- Construction and options ---

TEST(CsvParserPreconditions, InvalidParametersThrowWithReason) {
    auto stream = [] { return InputStream::fromMemory("a"); };
    auto reasonFor = [](auto make) {
        try {
            make();
        } catch (const std::invalid_argument& error) {
            return std::string(error.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(reasonFor([&] { CsvParser(nullptr, nullptr, ','); }),
              "Invalid parameter not satisfying: stream");
    EXPECT_EQ(reasonFor([&] { CsvParser(stream(), nullptr, 0); }),
              "Invalid parameter not satisfying: delimiter");
    for (char32_t lineBreak : {U'\n', U'\r', U'\u0085', U'\u2028'}) {
        EXPECT_EQ(reasonFor([&] { CsvParser(stream(), nullptr, lineBreak); }),
                  "The field delimiter may not be a newline");
    }
    EXPECT_EQ(reasonFor([&] { CsvParser(stream(), nullptr, '"'); }),
              "The field delimiter may not be a double quote");
}

TEST(CsvParserPreconditions, OptionsClashingWithDelimiterThrow) {
    auto reasonFor = [](char32_t delimiter, void (CsvParser::*setter)(bool)) {
        CsvParser parser(InputStream::fromMemory(""), nullptr, delimiter);
        (parser.*setter)(false);
        try {
            (parser.*setter)(true);
        } catch (const std::logic_error& error) {
            return std::string(error.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(reasonFor('\\', &CsvParser::setRecognizesBackslashesAsEscapes),
              "Cannot recognize backslashes as escapes when using '\\' as the delimiter");
    EXPECT_EQ(reasonFor('#', &CsvParser::setRecognizesComments),
              "Cannot recognize comments when using '#' as the delimiter");
    EXPECT_EQ(reasonFor('=', &CsvParser::setRecognizesLeadingEqualSign),
              "Cannot recognize leading equal sign when using '=' as the delimiter");
}

TEST(CsvParserPreconditions, OptionsAreOffAtCreation) {
    CsvParser parser(InputStream::fromMemory(""), nullptr, ';');
    EXPECT_FALSE(parser.sanitizesFields() || parser.trimsWhitespace() ||
                 parser.recognizesBackslashesAsEscapes() || parser.recognizesComments() ||
                 parser.recognizesLeadingEqualSign());
}

// --- Read errors ---

// A file that hands out its first failAt bytes, readSize at a time at most, and then fails
// the way a disk or a network share does: the read comes back empty with an error.
class FailingStream final : public InputStream {
  public:
    FailingStream(std::string bytes, std::size_t failAt, std::size_t readSize)
        : bytes_(std::move(bytes)), failAt_(failAt), readSize_(readSize) {}

    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t count = std::min({capacity, readSize_, failAt_ - position_});
        if (count == 0) {
            error_ = std::make_error_code(std::errc::io_error);
            return 0;
        }
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return count;
    }
    bool hasBytesAvailable() const override { return !error_; }
    std::error_code error() const override { return error_; }
    std::filesystem::path filePath() const override { return "/data/contacts.csv"; }

  private:
    std::string bytes_;
    std::size_t failAt_;
    std::size_t readSize_;
    std::size_t position_ = 0;
    std::error_code error_;
};

EventRecorder parseFailing(std::size_t failAt, std::size_t readSize,
                           std::optional<TextEncoding> encoding = TextEncoding::utf8()) {
    CsvParser parser(
        std::make_unique<FailingStream>("Name,Phone\nAda,1\nBob,2\n", failAt, readSize), &encoding,
        ',');
    parser.setSanitizesFields(true);
    EventRecorder recorder;
    parser.setDelegate(&recorder);
    parser.parse();
    return recorder;
}

TEST(CsvParserReadErrors, ReadErrorPartWayFailsTheParseInsteadOfEndingIt) {
    for (std::size_t readSize : {std::size_t{1}, std::size_t{4}, kWholeReads}) {
        SCOPED_TRACE("read size " + std::to_string(readSize));
        // The error comes in the middle of "Ada,1": the rows so far arrive, then the failure.
        const EventRecorder result = parseFailing(13, readSize);
        EXPECT_THAT(result.records, ElementsAre(Record{"Name", "Phone"}, Record{"Ad"}));
        ASSERT_FALSE(result.events.empty());
        EXPECT_EQ(std::count(result.events.begin(), result.events.end(), "end"), 0);
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->kind, CsvErrorKind::readFailed);
        EXPECT_EQ(result.error->file, "/data/contacts.csv");
        EXPECT_EQ(result.error->byteOffset, 13u);
        EXPECT_EQ(result.events.back(), "error " + result.error->message);
        EXPECT_NE(result.error->message.find(
                      "Could not read “/data/contacts.csv” past byte 13: Input/output error."),
                  std::string::npos);
    }
}

TEST(CsvParserReadErrors, ReadErrorWhileTheEncodingIsSniffedFailsToo) {
    // The sniff's reads meet the error; the parse must not take the bytes before it for the
    // whole file.
    const EventRecorder result = parseFailing(17, 5, std::nullopt);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->kind, CsvErrorKind::readFailed);
    EXPECT_EQ(result.error->byteOffset, 17u);
    EXPECT_EQ(std::count(result.events.begin(), result.events.end(), "end"), 0);
}

TEST(CsvParserReadErrors, StreamThatEndsCleanlyAtTheSamePlaceEndsTheDocument) {
    // The same bytes without the error: the end of the document, not a failure.
    ParseSetup smallReads;
    smallReads.readSize = 4;
    const EventRecorder result = parse("Name,Phone\nAda,1\n", smallReads);
    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.events.back(), "end");
}

// --- File streams and regression inputs ---

TEST(CsvParserFileStream, ParsesFileAndReportsMissingFile) {
    test::TemporaryDirectory folder;
    test::writeFile(folder / "contacts.csv", "Name;Phone\r\nAda;\"+1 555\"\r\n");
    auto stream = InputStream::openFile(folder / "contacts.csv");
    ASSERT_TRUE(stream);
    CsvParser parser(std::move(*stream), nullptr, ';');
    parser.setSanitizesFields(true);
    EventRecorder recorder;
    parser.setDelegate(&recorder);
    parser.parse();
    EXPECT_THAT(recorder.records, ElementsAre(Record{"Name", "Phone"}, Record{"Ada", "+1 555"}));

    auto missing = InputStream::openFile(folder / "missing.csv");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, FileError::Access::reading);
    EXPECT_EQ(missing.error().code, std::errc::no_such_file_or_directory);
}

// Inputs the fuzzer found interesting: each must parse to one event sequence whatever the read
// size, starting with the document and ending with its end or an error.
TEST(CsvParserRegressions, SavedInputsParseAlikeForEveryReadSize) {
    const std::filesystem::path folder =
        std::filesystem::path(PELKORA_TEST_DATA_DIR) / "csv-regressions";
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        const std::string bytes = test::readFile(entry.path());
        const std::vector<std::string> expected = parse(bytes, sniffing()).events;
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(expected.front(), "begin");
        EXPECT_TRUE(expected.back() == "end" || expected.back().starts_with("error "));
        for (std::size_t readSize : {1, 5, 512}) {
            EXPECT_EQ(parse(bytes, sniffing(readSize)).events, expected);
        }
    }
    EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace pelkora
