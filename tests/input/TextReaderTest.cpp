#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "input/TextReader.h"
#include "platform/InputStream.h"
#include "platform/MainQueue.h"

namespace pelkora {
namespace {

using test::TemporaryDirectory;

// The texts of a row's cells, in order.
std::vector<std::string> texts(const DataRow& row) {
    std::vector<std::string> result;
    for (const auto& cell : row) result.emplace_back(cell.text());
    return result;
}

// The bytes of a string literal, NULs included.
template <std::size_t N>
std::string literalBytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::vector<std::string> splitLine(const std::string& line, char delimiter) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, delimiter)) fields.push_back(field);
    return fields;
}

class TextReaderTest : public ::testing::Test {
  protected:
    std::shared_ptr<TextReader> readerFor(const std::string& name, std::string_view content) {
        test::writeFile(folder / name, content);
        return std::make_shared<TextReader>(folder / name);
    }
    // Examines and parses the whole file on this thread, as the session's queue would.
    std::shared_ptr<TextReader> read(const std::string& name, std::string_view content) {
        auto reader = readerFor(name, content);
        reader->examineFile();
        reader->parse(true);
        return reader;
    }

    TemporaryDirectory folder;
};

TEST_F(TextReaderTest, LineDelimiterAndRowEstimateComeFromTheHead) {
    std::string lf, crlf, cr;
    for (int line = 0; line < 10; ++line) {
        lf += "a,b\n";
        crlf += "a,b\r\n";
        cr += "a,b\r";
    }
    auto unix = readerFor("lf.csv", lf);
    unix->examineFile();
    EXPECT_EQ(unix->lineDelimiter(), "\n");
    EXPECT_EQ(unix->proposedRowCount(), 11u);
    auto windows = readerFor("crlf.csv", crlf);
    windows->examineFile();
    EXPECT_EQ(windows->lineDelimiter(), "\r\n");
    EXPECT_EQ(windows->proposedRowCount(), 11u);
    auto mac = readerFor("cr.csv", cr);
    mac->examineFile();
    EXPECT_EQ(mac->lineDelimiter(), "\r");
    EXPECT_EQ(mac->proposedRowCount(), 11u);
    auto oneLine = readerFor("one.csv", "a,b,c");
    oneLine->examineFile();
    EXPECT_EQ(oneLine->lineDelimiter(), "\r");
    EXPECT_EQ(oneLine->proposedRowCount(), 0u);
}

TEST_F(TextReaderTest, FieldDelimiterIsTheMostFrequentCandidate) {
    auto delimiterOf = [&](std::string_view content) {
        auto reader = readerFor("d.csv", content);
        reader->examineFile();
        return reader->fieldDelimiter();
    };
    EXPECT_EQ(delimiterOf("a;b;c\n1;2;3\n"), ";");
    EXPECT_EQ(delimiterOf("a,b,c\n1,2,3\n"), ",");
    EXPECT_EQ(delimiterOf("a\tb;c\n1\t2,3\n"), "\t");  // equal commas and semicolons: stays tab
    EXPECT_EQ(delimiterOf("a,b,c\n1;2;3\n"), "\t");
    EXPECT_EQ(delimiterOf("a|b|c|d\n1|2,3|4\n"), "|");

    auto chosen = readerFor("user.csv", "a,b;c\n");
    chosen->setFieldDelimiterByUser(";");
    chosen->examineFile();
    EXPECT_EQ(chosen->fieldDelimiter(), ";");
    EXPECT_EQ(chosen->fieldDelimiterSource(), OptionSource::setByUser);
}

TEST_F(TextReaderTest, ByteOrderMarksAndUnmarkedUtf16AreDetected) {
    auto withMark = read("bom16.csv", literalBytes("\xFF\xFE"
                                                   "N\0a\0,\0B\0\n\0x\0,\0y\0\n\0"));
    EXPECT_TRUE(withMark->hasByteOrderMark());
    EXPECT_EQ(withMark->stringEncoding(), TextEncoding::utf16LittleEndian());
    ASSERT_EQ(withMark->dataRows().size(), 2u);
    // The mark is not part of the first title.
    EXPECT_EQ(texts(withMark->dataRows()[0]), (std::vector<std::string>{"Na", "B"}));

    auto unmarked = read("le16.csv", literalBytes("N\0a\0m\0e\0,\0B\0\n\0x\0,\0y\0\n\0"));
    EXPECT_FALSE(unmarked->hasByteOrderMark());
    EXPECT_EQ(unmarked->stringEncoding(), TextEncoding::utf16LittleEndian());
    EXPECT_EQ(texts(unmarked->dataRows()[0]), (std::vector<std::string>{"Name", "B"}));

    auto bigEndian = readerFor("be16.csv", literalBytes("\0N\0a\0m\0e\0,\0B\0\n"));
    EXPECT_TRUE(bigEndian->examineFile());
    EXPECT_EQ(bigEndian->stringEncoding(), TextEncoding::utf16BigEndian());

    auto utf8 = read("bom8.csv", "\xEF\xBB\xBFName,City\nAda,Köln\n");
    EXPECT_TRUE(utf8->hasByteOrderMark());
    EXPECT_EQ(texts(utf8->dataRows()[0])[0], "Name");
    EXPECT_EQ(texts(utf8->dataRows()[1])[1], "Köln");
}

TEST_F(TextReaderTest, TooLittleDataIsGuessedAsWindowsLatin1) {
    test::LogCapture log;
    auto city = readerFor("city.csv", "K\xF6ln");  // 4 bytes
    EXPECT_FALSE(city->examineFile());
    EXPECT_EQ(city->stringEncoding(), TextEncoding::windowsLatin1());
    EXPECT_EQ(city->detectedContent(), "Köln");
    EXPECT_TRUE(
        log.contains("the string encoding was not detected; guessed Western (Windows Latin 1)"));

    auto tiny = readerFor("tiny.csv", "a,b\nc,d");  // 7 bytes
    EXPECT_FALSE(tiny->examineFile());
    EXPECT_EQ(tiny->stringEncoding(), TextEncoding::windowsLatin1());
    ASSERT_FALSE(tiny->parseLog().empty());
    EXPECT_EQ(tiny->parseLog().back().message,
              "Could not detect string encoding: Not enough data.");
    EXPECT_EQ(tiny->detectedContent(), "a,b\nc,d");

    auto empty = readerFor("empty.csv", "");
    EXPECT_FALSE(empty->examineFile());
    EXPECT_EQ(empty->parseLog().back().message,
              "Could not detect string encoding: No data provided.");

    auto missing = std::make_shared<TextReader>(folder / "missing.csv");
    EXPECT_FALSE(missing->examineFile());
    EXPECT_FALSE(missing->detectedContent());
    EXPECT_EQ(missing->parseLog().front().message.rfind(
                  "Could not detect delimiters and string encoding: '", 0),
              0u);
}

// Without a line break nothing suggests a classic Mac file; Mac OS Roman still wins where its
// letters make the only sense of the bytes.
TEST_F(TextReaderTest, OneLineWithoutLineBreakPrefersWindowsLatin1UnlessTheBytesSayMac) {
    const struct {
        std::string_view content;
        TextEncoding expected;
        std::string_view text;
    } cases[] = {
        {"M\xFCller;K\xF6ln \x96 Bonn;Stra\xDF"
         "e",
         TextEncoding::windowsLatin1(), "Müller;Köln – Bonn;Straße"},
        {"Ren\x8E;Gar\x8Don;No\x91l", TextEncoding::macOSRoman(), "René;Garçon;Noël"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.content));
        auto reader = readerFor("line.csv", entry.content);
        EXPECT_TRUE(reader->examineFile());
        EXPECT_EQ(reader->stringEncoding(), entry.expected);
        EXPECT_EQ(reader->detectedContent(), entry.text);
    }
}

TEST_F(TextReaderTest, LongFilesArePreviewedFromTheirHeadAndParsedWhole) {
    std::string content = "Name,Note\n";
    int rows = 0;
    while (content.size() < 600'000)
        content += "Zoë " + std::to_string(++rows) + ",Straße und Weg\n";
    auto reader = readerFor("long.csv", content);
    ASSERT_TRUE(reader->examineFile());
    EXPECT_TRUE(reader->dataTruncated());
    EXPECT_EQ(reader->stringEncoding(), TextEncoding::utf8());
    // The row estimate covers the whole file, not only the examined head.
    EXPECT_NEAR(static_cast<double>(reader->proposedRowCount()), rows + 2, rows * 0.02);
    const std::string note = "\n/// File preview truncated ///";
    ASSERT_TRUE(reader->detectedContent());
    EXPECT_EQ(reader->detectedContent()->substr(reader->detectedContent()->size() - note.size()),
              note);
    reader->parse(true);
    EXPECT_EQ(reader->dataRows().size(), static_cast<std::size_t>(rows) + 1);
    EXPECT_EQ(texts(reader->dataRows().back())[0], "Zoë " + std::to_string(rows));
}

TEST_F(TextReaderTest, HeadCutInsideACharacterStillPreviews) {
    // Put a two-byte character across the 512 KiB boundary.
    std::string content(TextReader::kExaminedByteCount - 1, 'a');
    content += "é,b\n";
    auto reader = readerFor("cut.csv", content);
    reader->examineFile();
    EXPECT_EQ(reader->stringEncoding(), TextEncoding::utf8());
    ASSERT_TRUE(reader->detectedContent());
    // Not the fallback's reading of the cut "é" lead byte.
    EXPECT_EQ(reader->detectedContent()->find("\u221A"), std::string::npos);
    EXPECT_NE(reader->detectedContent()->find("/// File preview truncated ///"), std::string::npos);
}

TEST_F(TextReaderTest, HeaderIsTheFirstNonEmptyRow) {
    auto reader = read("blank-top.csv", ",,\n , \n\"\",\n Name,Phone\nAda,1\n");
    EXPECT_EQ(reader->headerRowIndex(), 3);
    EXPECT_EQ(reader->exampleDataRowIndex(), 4);
    EXPECT_EQ(texts(reader->dataRows()[3]), (std::vector<std::string>{"Name", "Phone"}));

    auto single = read("single.csv", "Name,Phone\n");
    EXPECT_EQ(single->headerRowIndex(), TabularDataReader::kNotFound);
    EXPECT_EQ(single->exampleDataRowIndex(), TabularDataReader::kNotFound);

    auto headerOnlyLast = read("last.csv", ",\nName,Phone\n");
    EXPECT_EQ(headerOnlyLast->headerRowIndex(), 1);
    EXPECT_EQ(headerOnlyLast->exampleDataRowIndex(), TabularDataReader::kNotFound);
}

TEST_F(TextReaderTest, FieldsAreSanitizedAndNumberedRowsKeepTheirRecordNumbers) {
    auto reader = read("quoted.csv",
                       "Name,Note,Zip\n"
                       "\"Doe, Jane\",\"said \"\"hi\"\"\nand left\",=\"01067\"\n"
                       "# not a comment,x,\n"
                       "  Max  ,a\\,b\n");
    ASSERT_EQ(reader->dataRows().size(), 4u);
    EXPECT_EQ(texts(reader->dataRows()[1]),
              (std::vector<std::string>{"Doe, Jane", "said \"hi\"\nand left", "01067"}));
    EXPECT_EQ(texts(reader->dataRows()[2]), (std::vector<std::string>{"# not a comment", "x", ""}));
    EXPECT_EQ(texts(reader->dataRows()[3]), (std::vector<std::string>{"Max", "a\\", "b"}));
    EXPECT_EQ(reader->dataRows()[3].rowIndex(), 4);
}

TEST_F(TextReaderTest, BackslashesAreTextUnlessTheFileEscapesQuotesWithThem) {
    struct Case {
        std::string content;
        bool escapes;
        std::vector<std::string> lastRow;
    };
    const Case cases[] = {
        {"Name,Account,Home\nAda,ACME\\ada,C:\\Users\\ada\\\n",
         false,
         {"Ada", "ACME\\ada", "C:\\Users\\ada\\"}},
        // A quoted path ending in a backslash is not an escaped quote.
        {"Name,Home\nAda,\"C:\\Users\\ada\\\"\n", false, {"Ada", "C:\\Users\\ada\\"}},
        {"Name,Note\nAda,\"said \\\"hi\\\"\"\n", true, {"Ada", "said \"hi\""}},
        // Doubled quotes are RFC 4180's escape; a backslash before a quote is then text.
        {"Name,Note,Tag\nAda,\"said \"\"hi\"\"\",\\\"x\n", false, {"Ada", "said \"hi\"", "\\\"x"}},
        // An empty quoted field is no doubled quote.
        {"Name,Note,Zip\nAda,\"said \\\"hi\\\"\",\"\"\n", true, {"Ada", "said \"hi\"", ""}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.content);
        auto reader = read("escapes.csv", testCase.content);
        EXPECT_EQ(reader->recognizesBackslashEscapes(), testCase.escapes);
        ASSERT_FALSE(reader->dataRows().empty());
        EXPECT_EQ(texts(reader->dataRows().back()), testCase.lastRow);
    }
}

TEST_F(TextReaderTest, WindowsAccountsKeepTheirBackslashesAndHashRowsStay) {
    auto reader = std::make_shared<TextReader>(std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                                               "text-input" / "windows-accounts.csv");
    reader->examineFile();
    reader->parse(true);
    EXPECT_FALSE(reader->recognizesBackslashEscapes());
    const auto& rows = reader->dataRows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(texts(rows[1]),
              (std::vector<std::string>{"Ada", "Lovelace", "ACME\\ada", "C:\\Users\\ada\\"}));
    EXPECT_EQ(texts(rows[2]),
              (std::vector<std::string>{"Grace", "Hopper", "ACME\\grace", "C:\\Users\\grace\\"}));
    EXPECT_EQ(texts(rows[3]),
              (std::vector<std::string>{"#Team", "Ops", "ACME\\ops", "\\\\fileserver\\ops"}));
}

TEST_F(TextReaderTest, StrayBytesInUtf8AreReplacedAndReportedWhereTheyAre) {
    auto reader = std::make_shared<TextReader>(std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                                               "text-input" / "utf8-one-stray-byte.csv");
    ASSERT_TRUE(reader->examineFile());
    EXPECT_EQ(reader->stringEncoding(), TextEncoding::utf8());
    EXPECT_EQ(reader->strayByteSequencesInHead(), 1u);
    ASSERT_TRUE(reader->detectedContent());
    EXPECT_NE(reader->detectedContent()->find("Müller"), std::string::npos);
    EXPECT_NE(reader->detectedContent()->find("+49 30 \uFFFD1015"), std::string::npos);
    reader->parse(true);
    const auto& rows = reader->dataRows();
    ASSERT_EQ(rows.size(), 30u);
    EXPECT_EQ(texts(rows[1])[0], "Müller");
    EXPECT_EQ(texts(rows[16])[2], "+49 30 \uFFFD1015");
    EXPECT_EQ(reader->replacedByteSequences(), 1u);
    const auto& log = reader->parseLog();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const ParseLogEntry& entry) {
        return entry.severity == ParseLogSeverity::warning &&
               entry.message.starts_with("Row 17, column 3:");
    }));
}

TEST_F(TextReaderTest, LegacyFilesMadeByIconvStayLegacy) {
    struct Case {
        std::string file;
        std::vector<std::string> secondRow;
    };
    const Case cases[] = {{"windows-1252.csv", {"Müller", "München"}},
                          {"latin-1.csv", {"Jürgen", "Köln"}}};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.file);
        auto reader = std::make_shared<TextReader>(std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                                                   "text-input" / testCase.file);
        ASSERT_TRUE(reader->examineFile());
        EXPECT_NE(reader->stringEncoding(), TextEncoding::utf8());
        EXPECT_EQ(reader->strayByteSequencesInHead(), 0u);
        reader->parse(true);
        ASSERT_GE(reader->dataRows().size(), 2u);
        EXPECT_EQ(texts(reader->dataRows()[1]), testCase.secondRow);
        EXPECT_EQ(reader->replacedByteSequences(), 0u);
    }
}

TEST_F(TextReaderTest, PreviewParseStopsAfterOneHundredAndOneRows) {
    std::string content;
    for (int row = 0; row < 500; ++row) content += "a,b\n";
    auto reader = readerFor("many.csv", content);
    reader->examineFile();
    reader->parse(false);
    EXPECT_EQ(reader->dataRows().size(), TextReader::kPreviewRowLimit);
}

TEST_F(TextReaderTest, ReparsingWithAnUnfitEncodingFallsBack) {
    const std::string latin1 = "Name,Stadt\nM\xFCller,K\xF6ln\n";
    auto reader = readerFor("latin1.csv", latin1);
    reader->examineFile();
    EXPECT_FALSE(reader->reparse(TextEncoding::utf8()));
    EXPECT_EQ(reader->stringEncoding(), TextEncoding::utf8());
    EXPECT_EQ(reader->detectedContent(),
              decodeStrictly(
                  std::span(reinterpret_cast<const std::uint8_t*>(latin1.data()), latin1.size()),
                  TextEncoding::windowsLatin1()));
    EXPECT_TRUE(reader->reparse(TextEncoding::isoLatin1()));
    EXPECT_EQ(reader->detectedContent(), "Name,Stadt\nMüller,Köln\n");
    reader->parse(true);
    EXPECT_EQ(texts(reader->dataRows()[1])[0], "Müller");
}

// Records the events a reader posts, as the session would receive them.
class EventRecorder final : public TabularDataReaderDelegate {
  public:
    void readerDidBeginParsing(TabularDataReader&) override { ++begun; }
    void readerDidParseRecord(TabularDataReader&, std::uint64_t) override {}
    void readerDidEndParsing(TabularDataReader&) override { ++ended; }
    void readerDidFailWithError(TabularDataReader&, const ReaderError& error) override {
        failures.push_back(error);
    }

    int begun = 0;
    int ended = 0;
    std::vector<ReaderError> failures;
};

TEST_F(TextReaderTest, InputThatWouldBeLostSilentlyIsReportedAsAFailure) {
    MainQueue::shared().adoptCurrentThreadAsMain();
    auto parseWithEvents = [&](const std::string& name, std::string_view content,
                               std::optional<TextEncoding> encoding = std::nullopt) {
        auto reader = readerFor(name, content);
        if (encoding) reader->setStringEncodingByUser(*encoding);
        EventRecorder events;
        reader->setDelegate(&events);
        reader->examineFile();
        reader->parse(true);
        MainQueue::shared().drain();
        reader->setDelegate(nullptr);
        return events;
    };

    // A stray quote in line 3 would swallow the rest of the file.
    const auto quoteEvents =
        parseWithEvents("quote.csv", "Name,Phone\nAda,1\n\"Bob,2\nCy,3\nDan,4\n");
    EXPECT_EQ(quoteEvents.ended, 0);
    ASSERT_EQ(quoteEvents.failures.size(), 1u);
    EXPECT_EQ(quoteEvents.failures[0].code, kTextReaderErrorUnterminatedQuote);
    EXPECT_NE(quoteEvents.failures[0].message.find("line 3 is never closed"), std::string::npos);

    // Bytes that are not UTF-8 halfway through a file read as UTF-8.
    const auto decodeEvents =
        parseWithEvents("latin.csv", "Name,City\nAda,K\xF6ln\nBob,Bonn\n", TextEncoding::utf8());
    ASSERT_EQ(decodeEvents.failures.size(), 1u);
    EXPECT_EQ(decodeEvents.failures[0].code, kTextReaderErrorUndecodableBytes);
    EXPECT_NE(decodeEvents.failures[0].message.find("past byte 15"), std::string::npos);

    const auto cleanEvents = parseWithEvents("clean.csv", "Name,City\nAda,\"K\xC3\xB6ln\"\n");
    EXPECT_EQ(cleanEvents.ended, 1);
    EXPECT_TRUE(cleanEvents.failures.empty());
}

TEST_F(TextReaderTest, StrayBytesPastTheExaminedHeadAreReplacedAndCountedNotFatal) {
    // The head is clean UTF-8; far past it, one row has a stray byte and the last 150 rows a
    // Latin-1 letter each. Every row arrives; the first hundred replacements are listed, the
    // rest counted.
    std::string content = "Name,City\n";
    while (content.size() < 2 * TextReader::kExaminedByteCount)
        content += "J\xC3\xBCrgen M\xC3\xBCller,M\xC3\xBCnchen\n";
    const std::size_t cleanRows = std::count(content.begin(), content.end(), '\n');
    content += "Stray \xFF Byte,Berlin\n";
    for (int row = 0; row < 150; ++row) content += "K\xF6nig,K\xF6ln\n";
    auto reader = readerFor("late.csv", content);
    ASSERT_TRUE(reader->examineFile());
    EXPECT_EQ(reader->stringEncoding(), TextEncoding::utf8());
    EventRecorder events;
    reader->setDelegate(&events);
    MainQueue::shared().adoptCurrentThreadAsMain();
    reader->parse(true);
    MainQueue::shared().drain();
    reader->setDelegate(nullptr);
    EXPECT_TRUE(events.failures.empty());
    const auto& rows = reader->dataRows();
    ASSERT_EQ(rows.size(), cleanRows + 151);
    EXPECT_EQ(texts(rows[cleanRows])[0], "Stray \uFFFD Byte");
    EXPECT_EQ(texts(rows.back()), (std::vector<std::string>{"K\uFFFDnig", "K\uFFFDln"}));
    EXPECT_EQ(reader->replacedByteSequences(), 301u);
    const auto& log = reader->parseLog();
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(),
                      [](const ParseLogEntry& entry) { return entry.message.starts_with("Row "); }),
        100);
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const ParseLogEntry& entry) {
        return entry.message ==
               "201 more byte sequences that are not valid Unicode (UTF-8) read as “�”.";
    }));
}

TEST_F(TextReaderTest, AFileHoldingOnlyAMarkIsUnreadableAndExaminationNotesSurviveTheParse) {
    auto markOnly = readerFor("mark.csv", "\xEF\xBB\xBF");
    EXPECT_TRUE(markOnly->examineFile());
    EXPECT_TRUE(markOnly->hasByteOrderMark());
    EXPECT_FALSE(markOnly->detectedContent());

    auto tiny = readerFor("tiny.csv", "a,b\n");
    tiny->examineFile();
    ASSERT_EQ(tiny->parseLog().size(), 1u);
    tiny->parse(true);
    ASSERT_EQ(tiny->parseLog().size(), 1u);
    EXPECT_EQ(tiny->parseLog()[0].message, "Could not detect string encoding: Not enough data.");
}

TEST_F(TextReaderTest, DelimitersTheParserWouldOtherwiseReadSpeciallyAreFieldDelimiters) {
    // Comments, escapes and ="…" each give a character a meaning of its own; chosen as the
    // field delimiter, the character separates fields and nothing else.
    for (const std::string delimiter : {"#", "\\", "="}) {
        SCOPED_TRACE("delimiter " + delimiter);
        auto reader = readerFor("chosen.csv", "a" + delimiter + "b\nc" + delimiter + "\"d\"\n");
        reader->setFieldDelimiterByUser(delimiter);
        reader->examineFile();
        reader->parse(true);
        ASSERT_EQ(reader->dataRows().size(), 2u);
        EXPECT_EQ(texts(reader->dataRows()[0]), (std::vector<std::string>{"a", "b"}));
        EXPECT_EQ(texts(reader->dataRows()[1]), (std::vector<std::string>{"c", "d"}));
    }
}

TEST_F(TextReaderTest, AParseThatThrowsEndsInAFailureNamingTheFile) {
    MainQueue::shared().adoptCurrentThreadAsMain();
    // No delimiter at all is a choice the parser refuses by throwing.
    auto reader = readerFor("people.csv", "Name,Phone\nAda,1\n");
    reader->examineFile();
    reader->setFieldDelimiterByUser("");
    EventRecorder events;
    reader->setDelegate(&events);
    reader->parse(true);
    MainQueue::shared().drain();
    reader->setDelegate(nullptr);

    EXPECT_EQ(events.ended, 0);
    ASSERT_EQ(events.failures.size(), 1u);
    EXPECT_EQ(events.failures[0].kind, ReaderErrorKind::internalFailure);
    EXPECT_EQ(events.failures[0].file, folder / "people.csv");
    EXPECT_NE(events.failures[0].message.find((folder / "people.csv").string()), std::string::npos);
    EXPECT_NE(events.failures[0].message.find("Invalid parameter not satisfying: delimiter"),
              std::string::npos);
}

TEST_F(TextReaderTest, AReadErrorIsAFailureNamingTheFileAndTheByte) {
    MainQueue::shared().adoptCurrentThreadAsMain();
    // Reading a process's own memory from address 0 fails with an I/O error on Linux, the
    // way a file on a failing disk does.
    const std::filesystem::path file = "/proc/self/mem";
    if (auto probe = InputStream::openFile(file); !probe) {
        GTEST_SKIP() << "cannot open " << file;
    } else {
        std::uint8_t byte = 0;
        if ((*probe)->read(&byte, 1) != 0 || !(*probe)->error()) {
            GTEST_SKIP() << file << " reads without an error here";
        }
    }
    auto reader = std::make_shared<TextReader>(file);
    reader->setStringEncodingByUser(TextEncoding::utf8());
    reader->setFieldDelimiterByUser(",");
    EventRecorder events;
    reader->setDelegate(&events);
    reader->parse(true);
    MainQueue::shared().drain();
    reader->setDelegate(nullptr);

    EXPECT_EQ(events.ended, 0);
    ASSERT_EQ(events.failures.size(), 1u);
    EXPECT_EQ(events.failures[0].kind, ReaderErrorKind::unreadableFile);
    EXPECT_EQ(events.failures[0].domain, csvErrorDomain);
    EXPECT_EQ(events.failures[0].code, static_cast<std::int64_t>(CsvErrorKind::readFailed));
    EXPECT_EQ(events.failures[0].file, file);
    EXPECT_EQ(events.failures[0].byteOffset, 0u);
    EXPECT_NE(events.failures[0].message.find("Could not read “/proc/self/mem” past byte 0"),
              std::string::npos);
}

// Every file of the encodings corpus reads into the rows of its UTF-8 original.
TEST(TextReaderCorpus, EveryCorpusFileReadsLikeItsOriginal) {
    const std::filesystem::path corpus = std::filesystem::path(PELKORA_TEST_DATA_DIR) / "encodings";
    std::ifstream manifest(corpus / "manifest.tsv");
    ASSERT_TRUE(manifest.good());
    std::string line;
    std::getline(manifest, line);  // column titles
    int files = 0;
    while (std::getline(manifest, line)) {
        const auto columns = splitLine(line, '\t');
        if (columns.size() < 3) continue;
        SCOPED_TRACE(columns[0]);
        auto reader = std::make_shared<TextReader>(corpus / columns[0]);
        reader->examineFile();
        reader->parse(true);
        std::ifstream original(corpus / columns[2]);
        std::string titles;
        std::getline(original, titles);
        if (!titles.empty() && titles.back() == '\r') titles.pop_back();
        ASSERT_FALSE(reader->dataRows().empty());
        EXPECT_EQ(texts(reader->dataRows()[0]), splitLine(titles, reader->fieldDelimiter()[0]))
            << "read as " << reader->stringEncoding().name();
        ++files;
    }
    EXPECT_GT(files, 20);
}

}  // namespace
}  // namespace pelkora
