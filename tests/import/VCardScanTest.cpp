#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "import/VCardScan.h"
#include "platform/InputStream.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"
#include "vcard/VCard.h"

namespace pelkora {
namespace {

using test::LogCapture;
using test::TemporaryDirectory;

const std::filesystem::path kFile = "/data/contacts.vcf";
const std::filesystem::path kVCards = std::filesystem::path(PELKORA_TEST_DATA_DIR) / "vcards";

std::vector<ScannedVCard> scan(std::string_view bytes) {
    std::set<std::string> groups;
    return scanVCardBytes(bytes, kFile, groups);
}

std::vector<std::string> contents(const std::vector<ScannedVCard>& cards) {
    std::vector<std::string> texts;
    for (const auto& card : cards) texts.push_back(card.content);
    return texts;
}

// Every card the stream holds, scanned in blocks of blockSize.
std::vector<ScannedVCard> scanStream(InputStream& input, const std::filesystem::path& file,
                                     std::size_t blockSize, std::set<std::string>& groups) {
    std::vector<ScannedVCard> cards;
    auto count = scanVCardStream(
        input, file, groups,
        [&](ScannedVCard card) {
            cards.push_back(std::move(card));
            return true;
        },
        blockSize);
    EXPECT_TRUE(count && *count == cards.size());
    return cards;
}

// The cards as the operation cuts them: read from a stream that hands out readSize bytes at a
// time, in blocks of blockSize.
std::vector<ScannedVCard> scanInPieces(const std::string& bytes, std::size_t readSize,
                                       std::size_t blockSize, std::set<std::string>& groups) {
    auto input = InputStream::fromMemory(bytes, readSize);
    return scanStream(*input, kFile, blockSize, groups);
}

std::string utf16(std::string_view ascii, bool bigEndian) {
    std::string wide;
    for (char c : ascii) {
        wide += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return wide;
}

struct CutCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> expected;
};

TEST(VCardScanTest, CutsAtEveryLineThatBeginsACard) {
    const std::vector<CutCase> cases = {
        {"three cards",
         "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:B\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nFN:C\r\nEND:VCARD\r\n",
         {"BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n", "BEGIN:VCARD\r\nFN:B\r\nEND:VCARD\r\n",
          "BEGIN:VCARD\r\nFN:C\r\nEND:VCARD\r\n"}},
        {"lower-case starts",
         "begin:vcard\nFN:A\nend:vcard\nbegin:vcard\nFN:B\nend:vcard\nBegin:VCard\nFN:C\n",
         {"BEGIN:VCARD\nFN:A\nend:vcard\n", "BEGIN:VCARD\nFN:B\nend:vcard\n",
          "BEGIN:VCARD\nFN:C\n"}},
        {"mixed line ends",
         "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\nBEGIN:VCARD\nFN:B\rEND:VCARD\r\n",
         {"BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\n", "BEGIN:VCARD\nFN:B\rEND:VCARD\r\n"}},
        {"classic Mac OS line ends",
         "BEGIN:VCARD\rFN:A\rEND:VCARD\rBEGIN:VCARD\rEND:VCARD\r",
         {"BEGIN:VCARD\rFN:A\rEND:VCARD\r", "BEGIN:VCARD\rEND:VCARD\r"}},
        {"a lone carriage return in a file of line feeds is part of its line",
         "BEGIN:VCARD\nFN:A\rBEGIN:VCARD\nEND:VCARD\n",
         {"BEGIN:VCARD\nFN:A\rBEGIN:VCARD\nEND:VCARD\n"}},
        {"a card start inside a line does not cut",
         "BEGIN:VCARD\nNOTE:BEGIN:VCARD\nEND:VCARD\n",
         {"BEGIN:VCARD\nNOTE:BEGIN:VCARD\nEND:VCARD\n"}},
        {"a card without its end",
         "BEGIN:VCARD\nFN:A\nBEGIN:VCARD\nFN:B\nEND:VCARD",
         {"BEGIN:VCARD\nFN:A\n", "BEGIN:VCARD\nFN:B\nEND:VCARD"}},
        {"text before the first card is a card of its own",
         "Exported contacts\r\nBEGIN:VCARD\r\nEND:VCARD\r\n",
         {"BEGIN:VCARDExported contacts\r\n", "BEGIN:VCARD\r\nEND:VCARD\r\n"}},
        {"byte-order mark and white space before the first card are dropped",
         "\xEF\xBB\xBF \r\n\t\nBEGIN:VCARD\nEND:VCARD\n",
         {"BEGIN:VCARD\nEND:VCARD\n"}},
        {"a byte-order mark right before the card",
         "\xEF\xBB\xBF"
         "begin:vcard\nEND:VCARD",
         {"BEGIN:VCARD\nEND:VCARD"}},
        {"no card at all", "FN:Somebody\nTEL:123\n", {"BEGIN:VCARDFN:Somebody\nTEL:123\n"}},
        {"binary garbage",
         std::string("\x01\x02\0\xFF\n\n", 6),
         {"BEGIN:VCARD" + std::string("\x01\x02\0\xFF\n\n", 6)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto cards = scan(c.bytes);
        EXPECT_EQ(contents(cards), c.expected);
        for (std::size_t i = 0; i < cards.size(); ++i) {
            EXPECT_EQ(cards[i].indexInFile, i + 1);
            EXPECT_EQ(cards[i].fileUrl(), kFile);
        }
    }
}

TEST(VCardScanTest, FileOfNothingButWhiteSpaceYieldsNoCardAndIsLogged) {
    for (const std::string bytes : {"", " \r\n\t", "\xEF\xBB\xBF", "\xEF\xBB\xBF\n"}) {
        SCOPED_TRACE(bytes);
        LogCapture log;
        EXPECT_TRUE(scan(bytes).empty());
        EXPECT_EQ(log.count("Error: File seems not to be a vCard [NSFilePath=file:///data/"
                            "contacts.vcf]"),
                  1u);
    }
}

TEST(VCardScanTest, UnicodeFilesAreConvertedBeforeTheyAreCut) {
    const std::string text =
        "BEGIN:VCARD\r\nFN:A\r\nCATEGORIES:Grün\r\nEND:VCARD\r\nbegin:vcard\r\nFN:B\r\n";
    const std::vector<std::string> expected = {
        "BEGIN:VCARD\r\nFN:A\r\nCATEGORIES:Grün\r\nEND:VCARD\r\n", "BEGIN:VCARD\r\nFN:B\r\n"};
    // "ü" is U+00FC, one UTF-16 unit.
    const auto wide = [&](bool bigEndian) {
        std::string bytes;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "ü") == 0) {
                bytes += bigEndian ? std::string("\0\xFC", 2) : std::string("\xFC\0", 2);
                ++i;
            } else {
                bytes += utf16(text.substr(i, 1), bigEndian);
            }
        }
        return bytes;
    };
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"UTF-16 little-endian with byte-order mark", "\xFF\xFE" + wide(false)},
        {"UTF-16 big-endian with byte-order mark", "\xFE\xFF" + wide(true)},
        {"UTF-16 little-endian without", wide(false)},
        {"UTF-16 big-endian without", wide(true)},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::set<std::string> groups;
        EXPECT_EQ(contents(scanVCardBytes(c.bytes, kFile, groups)), expected);
        EXPECT_EQ(groups, std::set<std::string>{"Grün"});
        // Converted as the blocks arrive: a character cut by a block's end must survive.
        std::set<std::string> pieceGroups;
        EXPECT_EQ(contents(scanInPieces(c.bytes, 1, 3, pieceGroups)), expected);
    }
}

TEST(VCardScanTest, DamagedUtf16IsReadWithAReplacementCharacterAndLogged) {
    LogCapture log;
    // An odd last byte and a lone high surrogate (D800) before "X".
    const std::string bytes = "\xFF\xFE" + utf16("BEGIN:VCARD\nFN:", false) +
                              std::string("\x00\xD8", 2) + utf16("X\n", false) + "Z";
    EXPECT_EQ(contents(scan(bytes)),
              std::vector<std::string>{"BEGIN:VCARD\nFN:\xEF\xBF\xBDX\n\xEF\xBF\xBD"});
    EXPECT_EQ(log.count("is damaged at byte 32"), 1u);
}

TEST(VCardScanTest, CategoriesOfALine) {
    const struct {
        std::string line;
        std::vector<std::string> expected;
    } cases[] = {
        {"CATEGORIES:Friends,Work\\,Home,,Golf", {"Friends", "Work,Home", "Golf"}},
        {"CATEGORIES:Friends, Golf \r", {"Friends", " Golf"}},
        {"CATEGORIES:  \\,Club\\,,\r", {",Club,"}},
        {"CATEGORIES;CHARSET=MACINTOSH:L\x8Ander", {"Länder"}},
        {"categories;charset=macintosh:L\x8Ander", {"Länder"}},
        {"CATEGORIES;CHARSET=Latin1:Gr\xFCn", {"Grün"}},
        {"CATEGORIES;TYPE=x;CHARSET=ISO-8859-1:Gr\xFCn", {"Grün"}},
        {"CATEGORIES;CHARSET=UTF-8:Grün", {"Grün"}},
        {"CATEGORIES:Grün", {"Grün"}},
        {"CATEGORIES:Gr\xFCn", {}},  // not UTF-8
        {"CATEGORIES::Friends", {"Friends"}},
        {"CATEGORIES:Meeting: 10 o'clock,Work", {"Meeting"}},
        {"CATEGORIES:", {}},
        {"CATEGORIES", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(categoriesOfLine(c.line), c.expected);
    }
}

TEST(VCardScanTest, CardsCollectTheirCategoriesAndTheScanTheirUnion) {
    LogCapture log;
    const std::string bytes =
        "BEGIN:VCARD\r\nCATEGORIES:Friends,Work\\,Home\r\nitem1.categories:Golf\r\n"
        "CATEGORIES:Golf\r\nX-CATEGORIES:Other\r\nCATEGORIESX:Other\r\n"
        "NOTE:a folded\r\n CATEGORIES:Other\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\ncategories;charset=macintosh:L\x8Ander\r\n"
        "Categories:Gr\xFCn\r\nCATEGORIES:Club\r\nEND:VCARD\r\n";
    std::set<std::string> groups;
    const auto cards = scanVCardBytes(bytes, kFile, groups);
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[0].groupTitles, (std::set<std::string>{"Friends", "Work,Home", "Golf"}));
    EXPECT_EQ(cards[1].groupTitles, (std::set<std::string>{"Länder", "Club"}));
    EXPECT_EQ(groups, (std::set<std::string>{"Club", "Friends", "Golf", "Länder", "Work,Home"}));
    EXPECT_EQ(log.count("VCFScanOperation [1002]: Failed to convert data to categories string "
                        "using given encoding. The CATEGORIES line of vCard 2 in "
                        "file:///data/contacts.vcf is not UTF-8 text"),
              1u);
}

TEST(VCardScanTest, TenThousandCategoriesOnOneLine) {
    std::string line = "CATEGORIES:";
    for (int i = 0; i < 10000; ++i) line += "Group " + std::to_string(i) + ",";
    const auto names = categoriesOfLine(line);
    ASSERT_EQ(names.size(), 10000u);
    EXPECT_EQ(names.back(), "Group 9999");
    std::set<std::string> groups;
    EXPECT_EQ(scanVCardBytes("BEGIN:VCARD\n" + line + "\nEND:VCARD\n", kFile, groups)
                  .front()
                  .groupTitles.size(),
              10000u);
}

TEST(VCardScanTest, ProducersWhoseLabelsAreTakenAsMeant) {
    const struct {
        const char* prodid;
        bool original;
    } cases[] = {
        {"PRODID:-//Apple Inc.//macOS 14.2//EN\r\n", true},
        {"PRODID:-//Apple Inc.//iPhone OS 17.1//EN\r\n", true},
        {"PRODID:-//Pelkora//Pelkora 0.1//EN\r\n", true},
        {"PRODID:-//Google Inc.//Google Contacts//EN\r\n", false},
        {"prodid:-//Apple Inc.//macOS 14.2//EN\r\n", false},
        {"NOTE:PRODID:-//Apple Inc.\r\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prodid);
        const auto cards = scan(std::string("BEGIN:VCARD\r\nVERSION:3.0\r\n") + c.prodid +
                                "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nEND:VCARD\r\n");
        ASSERT_EQ(cards.size(), 2u);
        EXPECT_EQ(cards[0].isAppleOriginal, c.original);
        EXPECT_FALSE(cards[1].isAppleOriginal);  // nothing carries over to the next card
    }
}

// Every fixture file cuts into the cards the vCard reader finds in it, each readable alone.
TEST(VCardScanTest, FixtureFilesCutIntoTheCardsTheReaderFinds) {
    const struct {
        const char* file;
        bool original;
    } cases[] = {
        {"apple-3.0.vcf", true},           {"apple-every-label-3.0.vcf", true},
        {"pelkora-written-3.0.vcf", true}, {"android-2.1.vcf", false},
        {"rfc6350-4.0.vcf", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string bytes = test::readFile(kVCards / c.file);
        const auto whole = contacts::readVCards(bytes);
        ASSERT_TRUE(whole);
        const auto cards = scan(bytes);
        ASSERT_EQ(cards.size(), whole->size());
        for (std::size_t i = 0; i < cards.size(); ++i) {
            const auto alone = contacts::readVCards(cards[i].content);
            ASSERT_TRUE(alone) << alone.error().message;
            ASSERT_EQ(alone->size(), 1u);
            EXPECT_EQ(alone->front().rawText, (*whole)[i].rawText);
            const auto& categories = (*whole)[i].categories;
            EXPECT_EQ(cards[i].groupTitles,
                      std::set<std::string>(categories.begin(), categories.end()));
            EXPECT_EQ(cards[i].isAppleOriginal, c.original);
        }
    }
}

// Blocks and reads of every small size put each card start, line end and character at a
// block's end somewhere; the cards must come out as from the bytes at once.
TEST(VCardScanTest, BlockBoundariesDoNotChangeTheCards) {
    std::string bytes = "Stray text\nBEGIN:VCARD\r\nPRODID:-//Apple Inc.//macOS\r\n";
    bytes += "CATEGORIES;CHARSET=MACINTOSH:L\x8Ander,Work\\,Home\r\nEND:VCARD\r\n";
    bytes += "begin:vcard\nFN:Bärbel\nCATEGORIES:Golf\nEND:VCARD\n\n";
    bytes += "BEGIN:VCARD\nEND:VCARD";
    const std::string classicMac =
        "BEGIN:VCARD\rCATEGORIES:Golf\rEND:VCARD\rbegin:vcard\rFN:B\rEND:VCARD\r";
    const struct {
        const char* name;
        std::string bytes;
        std::size_t cards;
    } cases[] = {
        {"UTF-8", bytes, 4},
        {"UTF-16", "\xFF\xFE" + utf16(bytes, false), 4},
        {"classic Mac OS line ends", classicMac, 2},
    };
    for (const auto& c : cases) {
        std::set<std::string> expectedGroups;
        const auto expected = scanVCardBytes(c.bytes, kFile, expectedGroups);
        ASSERT_EQ(expected.size(), c.cards) << c.name;
        for (std::size_t readSize : {1, 2, 3, 5, 11, 12, 13, 64}) {
            for (std::size_t blockSize : {1, 7, 4096}) {
                SCOPED_TRACE(testing::Message()
                             << c.name << ", read " << readSize << ", block " << blockSize);
                std::set<std::string> groups;
                EXPECT_EQ(scanInPieces(c.bytes, readSize, blockSize, groups), expected);
                EXPECT_EQ(groups, expectedGroups);
            }
        }
    }
}

// Inputs the fuzzer found: read in pieces of any size, each cuts into the same cards.
TEST(VCardScanTest, SavedInputsCutAlikeInPiecesOfAnySize) {
    std::size_t files = 0;
    for (const auto& file : std::filesystem::directory_iterator(kVCards / "regressions")) {
        ++files;
        const std::string bytes = test::readFile(file.path());
        std::set<std::string> expectedGroups;
        const auto expected = scanVCardBytes(bytes, kFile, expectedGroups);
        for (std::size_t size = 1; size <= 8; ++size) {
            SCOPED_TRACE(testing::Message() << file.path().filename() << ", pieces of " << size);
            std::set<std::string> groups;
            EXPECT_EQ(scanInPieces(bytes, size, size + 3, groups), expected);
            EXPECT_EQ(groups, expectedGroups);
        }
    }
    EXPECT_GT(files, 0u);
}

TEST(VCardScanTest, HugeCardComesOutWholeBetweenItsNeighbours) {
    const std::string first = "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n";
    std::string huge = "BEGIN:VCARD\r\nFN:Huge\r\nPHOTO;ENCODING=b:";
    huge.append(12 << 20, 'A').append("\r\nCATEGORIES:Golf\r\nEND:VCARD\r\n");
    const std::string last = "BEGIN:VCARD\r\nFN:B\r\n";  // no END
    std::set<std::string> groups;
    const auto cards =
        scanInPieces(first + huge + last, kVCardScanBlockSize, kVCardScanBlockSize, groups);
    ASSERT_EQ(cards.size(), 3u);
    EXPECT_TRUE(cards[0].content == first);
    EXPECT_TRUE(cards[1].content == huge);
    EXPECT_EQ(cards[1].groupTitles, std::set<std::string>{"Golf"});
    EXPECT_TRUE(cards[2].content == last);
}

// The cards of a file scanned from the file itself, in blocks of blockSize.
std::vector<ScannedVCard> scanFile(const std::filesystem::path& file, std::size_t blockSize) {
    std::set<std::string> groups;
    auto input = InputStream::openFile(file);
    EXPECT_TRUE(input);
    if (!input) return {};
    return scanStream(**input, file, blockSize, groups);
}

// A file scanned from disk keeps each card as its place, and reading the places back gives
// the texts the scan of the same bytes in memory gives; only text that had to be converted,
// and text before the first card, is kept as it is.
TEST(VCardScanTest, CardsOfAFileAreReadBackFromTheirPlaces) {
    TemporaryDirectory directory;
    struct Case {
        std::filesystem::path file;
        bool placed;  // whether the cards after any text before the first are kept as places
    };
    std::vector<Case> cases;
    for (const auto& entry : std::filesystem::directory_iterator(kVCards)) {
        if (entry.path().extension() == ".vcf") cases.push_back({entry.path(), true});
    }
    ASSERT_GE(cases.size(), 5u);
    const std::string cards = "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\nbegin:vcard\r\nFN:B\r\n";
    const auto write = [&](const char* name, const std::string& bytes, bool placed) {
        test::writeFile(directory / name, bytes);
        cases.push_back({directory / name, placed});
    };
    write("byte-order-mark.vcf", "\xEF\xBB\xBF" + cards, true);
    write("text-before.vcf", "Exported contacts\n" + cards, true);
    write("classic-mac.vcf", "BEGIN:VCARD\rFN:A\rEND:VCARD\rBEGIN:VCARD\rFN:B\r", true);
    write("utf16.vcf", "\xFF\xFE" + utf16(cards, false), false);
    write("utf16-without-mark.vcf", utf16(cards, true), false);
    for (const auto& c : cases) {
        std::set<std::string> groups;
        const auto expected = scanVCardBytes(test::readFile(c.file), c.file, groups);
        ASSERT_FALSE(expected.empty()) << c.file;
        for (std::size_t blockSize : {std::size_t{5}, kVCardScanBlockSize}) {
            SCOPED_TRACE(testing::Message() << c.file.filename() << ", block " << blockSize);
            const auto scanned = scanFile(c.file, blockSize);
            ASSERT_EQ(scanned.size(), expected.size());
            for (std::size_t i = 0; i < scanned.size(); ++i) {
                const bool textBefore = i == 0 &&
                                        !expected[0].content.starts_with("BEGIN:VCARD\r") &&
                                        !expected[0].content.starts_with("BEGIN:VCARD\n");
                EXPECT_EQ(scanned[i].content.empty(), c.placed && !textBefore) << i;
                const auto text = cardContent(scanned[i]);
                ASSERT_TRUE(text) << text.error().message;
                EXPECT_EQ(*text, expected[i].content) << i;
                EXPECT_EQ(scanned[i].groupTitles, expected[i].groupTitles);
                EXPECT_EQ(scanned[i].isAppleOriginal, expected[i].isAppleOriginal);
                EXPECT_EQ(scanned[i].indexInFile, i + 1);
            }
        }
    }
}

// Reading a card back notices a file that is not as it was scanned, and names it.
TEST(VCardScanTest, CardOfAFileThatChangedIsNotReadBack) {
    const std::string bytes = "BEGIN:VCARD\nFN:Ada\nEND:VCARD\nBEGIN:VCARD\nFN:Grace\nEND:VCARD\n";
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path&)> change;
        const char* reason;
    } cases[] = {
        {"grown", [&](const auto& file) { test::writeFile(file, bytes + "\n"); }, "changed"},
        {"cut short", [&](const auto& file) { std::filesystem::resize_file(file, 20); }, "changed"},
        {"rewritten with the same size",
         [&](const auto& file) {
             const auto time = std::filesystem::last_write_time(file);
             test::writeFile(file, "XXXXXXXXXXX" + bytes.substr(11));
             std::filesystem::last_write_time(file, time + std::chrono::seconds(1));
         },
         "changed"},
        {"removed", [](const auto& file) { std::filesystem::remove(file); },
         "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory directory;
        const auto file = directory / "friends.vcf";
        test::writeFile(file, bytes);
        const auto cards = scanFile(file, kVCardScanBlockSize);
        ASSERT_EQ(cards.size(), 2u);
        ASSERT_TRUE(cardContent(cards[1]));
        c.change(file);
        const auto text = cardContent(cards[1]);
        ASSERT_FALSE(text);
        EXPECT_NE(text.error().message.find(file.string()), std::string::npos);
        EXPECT_NE(text.error().message.find(c.reason), std::string::npos) << text.error().message;
    }
}

// Records the events in the order they are sent.
struct RecordingDelegate final : VCardScanDelegate {
    std::vector<std::string> events;
    std::vector<ScannedVCard> cards;
    std::vector<std::string> groups;
    std::vector<std::pair<std::filesystem::path, std::string>> skipped;
    std::function<void()> afterCard;

    void vCardScanDidStart() override { events.push_back("start"); }
    void vCardScanWillReadFile(std::size_t index) override {
        events.push_back("read " + std::to_string(index));
    }
    void vCardScanDidScan(ScannedVCard card) override {
        events.push_back("card " + card.fileUrl().filename().string() + " " +
                         std::to_string(card.indexInFile));
        cards.push_back(std::move(card));
        if (afterCard) afterCard();
    }
    void vCardScanDidSkipFile(const std::filesystem::path& file,
                              const std::string& reason) override {
        events.push_back("skip " + file.filename().string());
        skipped.emplace_back(file, reason);
    }
    void vCardScanDidFinish(std::vector<std::string> names) override {
        events.push_back("finish");
        groups = std::move(names);
    }
};

class VCardScanOperationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainQueue::shared().adoptCurrentThreadAsMain();
        MainQueue::shared().drain();
        test::writeFile(friends_,
                        "BEGIN:VCARD\nCATEGORIES:Golf,Friends\nEND:VCARD\n"
                        "BEGIN:VCARD\nCATEGORIES:Club\nEND:VCARD\n");
        test::writeFile(colleagues_, "begin:vcard\ncategories:Work,Friends\nend:vcard\n");
        test::writeFile(empty_, "\r\n");
    }
    void TearDown() override { MainQueue::shared().setDispatcher(nullptr); }

    // Runs the scan on this thread; posted events run the moment they are posted, so the
    // recorded order is the order the scan sent them in.
    void runInline(std::vector<std::filesystem::path> files) {
        MainQueue::shared().setDispatcher([](MainQueue::Task task) { task(); });
        operation_ = std::make_shared<Operation>([](Operation&) {});
        VCardScanOperation(std::move(files), delegate_).main(*operation_);
        MainQueue::shared().setDispatcher(nullptr);
    }

    TemporaryDirectory directory_;
    std::filesystem::path friends_ = directory_ / "friends.vcf";
    std::filesystem::path colleagues_ = directory_ / "colleagues.vcf";
    std::filesystem::path empty_ = directory_ / "empty.vcf";
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<Operation> operation_;
};

TEST_F(VCardScanOperationTest, SendsEachFilesCardsAfterItsAnnouncementAndTheSortedGroupsLast) {
    LogCapture log;
    runInline({friends_, empty_, directory_ / "missing.vcf", colleagues_});
    EXPECT_EQ(delegate_->events, (std::vector<std::string>{
                                     "start", "read 0", "card friends.vcf 1", "card friends.vcf 2",
                                     "read 1", "skip empty.vcf", "read 2", "skip missing.vcf",
                                     "read 3", "card colleagues.vcf 1", "finish"}));
    EXPECT_EQ(delegate_->groups, (std::vector<std::string>{"Club", "Friends", "Golf", "Work"}));
    ASSERT_EQ(delegate_->skipped.size(), 2u);
    EXPECT_NE(delegate_->skipped[0].second.find("empty.vcf"), std::string::npos);
    EXPECT_NE(delegate_->skipped[1].second.find("missing.vcf"), std::string::npos);
    EXPECT_EQ(log.count("Error: File seems not to be a vCard [NSFilePath=file://"), 1u);
    EXPECT_EQ(log.count("vCard Scan Error: Could not read"), 1u);
}

TEST_F(VCardScanOperationTest, OnAQueueTheFinishEventComesAfterEveryCard) {
    OperationQueue queue("scan test");
    auto scan = std::make_shared<VCardScanOperation>(
        std::vector<std::filesystem::path>{friends_, colleagues_}, delegate_);
    queue.addOperation([scan](Operation& running) { scan->main(running); });
    ASSERT_TRUE(MainQueue::shared().runUntil([&] { return !delegate_->groups.empty(); },
                                             std::chrono::seconds(10)));
    EXPECT_EQ(delegate_->cards.size(), 3u);
    EXPECT_EQ(delegate_->events.back(), "finish");
}

TEST_F(VCardScanOperationTest, CancellingStopsTheScanWithoutTheFinishEvent) {
    const struct {
        const char* name;
        std::size_t cancelAfterCards;
        std::vector<std::string> expected;
    } cases[] = {
        {"after the first file",
         2,
         {"start", "read 0", "card friends.vcf 1", "card friends.vcf 2"}},
        {"within a file", 1, {"start", "read 0", "card friends.vcf 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate_ = std::make_shared<RecordingDelegate>();
        delegate_->afterCard = [&] {
            if (delegate_->cards.size() == c.cancelAfterCards) operation_->cancel();
        };
        runInline({friends_, colleagues_});
        EXPECT_EQ(delegate_->events, c.expected);
    }
}

TEST_F(VCardScanOperationTest, EventsForADelegateThatWentAwayAreDropped) {
    auto scan = std::make_unique<VCardScanOperation>(std::vector<std::filesystem::path>{friends_},
                                                     delegate_);
    auto operation = std::make_shared<Operation>([](Operation&) {});
    scan->main(*operation);
    const std::weak_ptr<RecordingDelegate> gone = delegate_;
    delegate_.reset();
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(MainQueue::shared().drain(), 2u);  // the announcement and the finish, to nobody
}

}  // namespace
}  // namespace pelkora
