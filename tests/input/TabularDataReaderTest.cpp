#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "input/TabularDataReader.h"
#include "platform/MainQueue.h"

namespace pelkora {
namespace {

// A reader that "parses" generated rows of three text cells, the way the real readers turn
// a file into rows: begin, one notification per record, then end or failure.
class GeneratedRowsReader : public TabularDataReader {
  public:
    using TabularDataReader::TabularDataReader;

    std::string readerClassName() const override { return "GeneratedRowsReader"; }

    // Reads up to rowCount rows, stopping early when a cancel is requested; fails instead of
    // ending when failAfter rows have been read.
    void parse(std::uint64_t rowCount, std::uint64_t failAfter = 0) {
        resetForParsing();
        postDidBeginParsing();
        for (std::uint64_t record = 1; record <= rowCount; ++record) {
            if (shouldCancelParsing()) break;
            DataRow& row = beginDataRow(static_cast<std::int64_t>(record));
            row.addText(0, "Name " + std::to_string(record));
            row.addText(1, "");
            row.addText(2, "name" + std::to_string(record) + "@example.org");
            finishCurrentDataRow();
            notifyRecordParsed(record);
            if (afterRecord) afterRecord(record);
            if (record == failAfter) {
                appendParseLogEntry(
                    {ParseLogSeverity::error, "stopped at " + std::to_string(record)});
                postDidFail({{.message = "The file could not be read."}});
                return;
            }
        }
        if (!dataRows().empty()) {
            setHeaderRowIndex(0);
            setExampleDataRowIndex(dataRows().size() > 1 ? 1 : kNotFound);
        }
        postDidEndParsing();
        if (afterEnd) afterEnd();
    }

    // The same parse through runParse, as the real readers run theirs.
    void parseGuarded(std::uint64_t rowCount) {
        runParse([this, rowCount] { parse(rowCount); });
    }

    // Called after each record and after the end; a test makes them throw.
    std::function<void(std::uint64_t)> afterRecord;
    std::function<void()> afterEnd;

    using TabularDataReader::appendDataRow;
    using TabularDataReader::postDidEndParsing;
    using TabularDataReader::setProposedRowCount;
};

// Records the events it receives, and whether each arrived on the main thread.
class RecordingDelegate : public TabularDataReaderDelegate {
  public:
    void readerDidBeginParsing(TabularDataReader&) override { note("begin"); }
    void readerDidParseRecord(TabularDataReader&, std::uint64_t recordNumber) override {
        note("record");
        records.push_back(recordNumber);
    }
    void readerDidEndParsing(TabularDataReader&) override { note("end"); }
    void readerDidFailWithError(TabularDataReader&, const ReaderError& error) override {
        note("fail");
        errors.push_back(error);
    }

    bool finished() const {
        return !events.empty() && (events.back() == "end" || events.back() == "fail");
    }

    std::vector<std::string> events;
    std::vector<std::uint64_t> records;
    std::vector<ReaderError> errors;
    bool allOnMainThread = true;

  private:
    void note(const std::string& event) {
        events.push_back(event);
        allOnMainThread = allOnMainThread && MainQueue::shared().isMainThread();
    }
};

class TabularDataReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainQueue::shared().adoptCurrentThreadAsMain();
        MainQueue::shared().drain();
        reader->setDelegate(&delegate);
    }

    // Parses on a plain background thread, as a reader's queue would, and runs the main
    // queue until the terminal event has been delivered.
    void parseInBackground(std::uint64_t rowCount, std::uint64_t failAfter = 0) {
        std::thread parsing(
            [target = reader, rowCount, failAfter] { target->parse(rowCount, failAfter); });
        ASSERT_TRUE(MainQueue::shared().runUntil([this] { return delegate.finished(); }));
        parsing.join();
    }

    // The same for a guarded parse, which must end with an event even when it throws.
    void parseGuardedInBackground(std::uint64_t rowCount) {
        std::thread parsing([target = reader, rowCount] { target->parseGuarded(rowCount); });
        ASSERT_TRUE(MainQueue::shared().runUntil([this] { return delegate.finished(); },
                                                 std::chrono::seconds(30)));
        parsing.join();
        MainQueue::shared().drain();
    }

    std::shared_ptr<GeneratedRowsReader> reader =
        std::make_shared<GeneratedRowsReader>("/tmp/contacts.csv");
    RecordingDelegate delegate;
};

std::vector<std::uint64_t> range(std::uint64_t first, std::uint64_t last) {
    std::vector<std::uint64_t> numbers;
    for (std::uint64_t number = first; number <= last; ++number) numbers.push_back(number);
    return numbers;
}

TEST_F(TabularDataReaderTest, FreshReaderHasNothingYet) {
    auto fresh = std::make_shared<GeneratedRowsReader>("/data/people.csv");
    EXPECT_EQ(fresh->headerRowIndex(), TabularDataReader::kNotFound);
    EXPECT_EQ(fresh->exampleDataRowIndex(), TabularDataReader::kNotFound);
    EXPECT_EQ(fresh->fileURL(), "/data/people.csv");
    EXPECT_EQ(fresh->delegate(), nullptr);
    EXPECT_TRUE(fresh->dataRows().empty());
    EXPECT_FALSE(fresh->currentDataRow().has_value());
    EXPECT_TRUE(fresh->parseLog().empty());
    EXPECT_EQ(fresh->proposedRowCount(), 0u);
    EXPECT_FALSE(fresh->shouldCancelParsing());
}

TEST_F(TabularDataReaderTest, DescribesItselfByClassAndFile) {
    EXPECT_EQ(reader->debugDescription(), "<GeneratedRowsReader: /tmp/contacts.csv>");
    auto base = std::make_shared<TabularDataReader>("/tmp/a.csv");
    EXPECT_EQ(base->debugDescription(), "<TabularDataReader: /tmp/a.csv>");
}

TEST_F(TabularDataReaderTest, WithUnknownRowCountEveryRecordIsNotified) {
    for (std::uint64_t record = 1; record <= 5; ++record) reader->notifyRecordParsed(record);
    MainQueue::shared().drain();
    EXPECT_EQ(delegate.records, range(1, 5));
}

TEST_F(TabularDataReaderTest, WithKnownRowCountHundredsThenEveryRecordFromTheCount) {
    reader->setProposedRowCount(250);
    for (std::uint64_t record = 1; record <= 260; ++record) reader->notifyRecordParsed(record);
    MainQueue::shared().drain();
    std::vector<std::uint64_t> expected = {100, 200};
    for (std::uint64_t record : range(250, 260)) expected.push_back(record);
    EXPECT_EQ(delegate.records, expected);
}

TEST_F(TabularDataReaderTest, NoRecordIsNotifiedAfterCancelRequest) {
    reader->setShouldCancelParsing(true);
    for (std::uint64_t record : {1, 100, 200}) reader->notifyRecordParsed(record);
    MainQueue::shared().drain();
    EXPECT_TRUE(delegate.records.empty());
}

TEST_F(TabularDataReaderTest, ParseReportsBeginRecordsEndOnTheMainThread) {
    reader->setProposedRowCount(3);
    parseInBackground(3);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"begin", "record", "end"}));
    EXPECT_EQ(delegate.records, (std::vector<std::uint64_t>{3}));
    EXPECT_TRUE(delegate.allOnMainThread);
    ASSERT_EQ(reader->dataRows().size(), 3u);
    EXPECT_EQ(reader->dataRows()[2].rowIndex(), 3);
    EXPECT_EQ(reader->dataRows()[2].cell(2).text(), "name3@example.org");
    EXPECT_EQ(reader->headerRowIndex(), 0);
    EXPECT_EQ(reader->exampleDataRowIndex(), 1);
    EXPECT_FALSE(reader->currentDataRow().has_value());
}

TEST_F(TabularDataReaderTest, FailedParseReportsFailureInsteadOfEnd) {
    parseInBackground(10, 4);
    EXPECT_EQ(delegate.events.back(), "fail");
    EXPECT_EQ(std::count(delegate.events.begin(), delegate.events.end(), "end"), 0);
    ASSERT_EQ(delegate.errors.size(), 1u);
    EXPECT_EQ(delegate.errors[0].message, "The file could not be read.");
    EXPECT_EQ(reader->parseLog(),
              (std::vector<ParseLogEntry>{{ParseLogSeverity::error, "stopped at 4"}}));
}

TEST_F(TabularDataReaderTest, ExceptionEscapingTheParseBecomesItsFailure) {
    reader->afterRecord = [](std::uint64_t record) {
        if (record == 3) throw std::length_error("row 3 is too long to hold");
    };
    parseGuardedInBackground(10);
    EXPECT_EQ(delegate.events.front(), "begin");
    EXPECT_EQ(delegate.events.back(), "fail");
    EXPECT_EQ(std::count(delegate.events.begin(), delegate.events.end(), "end"), 0);
    ASSERT_EQ(delegate.errors.size(), 1u);
    EXPECT_EQ(delegate.errors[0].kind, ReaderErrorKind::internalFailure);
    EXPECT_EQ(delegate.errors[0].file, "/tmp/contacts.csv");
    EXPECT_EQ(delegate.errors[0].message,
              "Reading “/tmp/contacts.csv” stopped on an unexpected error: row 3 is too long to "
              "hold. The file was not read to its end.");
    EXPECT_EQ(reader->parseLog(),
              (std::vector<ParseLogEntry>{{ParseLogSeverity::error, "row 3 is too long to hold"}}));
}

TEST_F(TabularDataReaderTest, ExceptionOfAnyTypeEndsTheParse) {
    reader->afterRecord = [](std::uint64_t) { throw 42; };
    parseGuardedInBackground(10);
    ASSERT_EQ(delegate.errors.size(), 1u);
    EXPECT_NE(delegate.errors[0].message.find("an exception of unknown type"), std::string::npos);
}

TEST_F(TabularDataReaderTest, ExceptionAfterTheEndAddsNoSecondOutcome) {
    reader->afterEnd = [] { throw std::runtime_error("too late"); };
    parseGuardedInBackground(3);
    EXPECT_EQ(delegate.events.back(), "end");
    EXPECT_TRUE(delegate.errors.empty());
    // The exception is still noted where the user can find it.
    ASSERT_FALSE(reader->parseLog().empty());
    EXPECT_EQ(reader->parseLog().back().message, "too late");
}

TEST_F(TabularDataReaderTest, NewParseStartsFromNoRows) {
    parseInBackground(5, 2);
    delegate = RecordingDelegate();
    parseInBackground(3);
    EXPECT_EQ(reader->dataRows().size(), 3u);
    EXPECT_TRUE(reader->parseLog().empty());
    EXPECT_EQ(reader->dataRows()[0].rowIndex(), 1);
}

TEST_F(TabularDataReaderTest, RowsAreStoredExactlySized) {
    parseInBackground(2);
    const DataRow& row = reader->dataRows()[0];
    EXPECT_EQ(row.allocatedBytes(), std::string("Name 1name1@example.org").size() + 3 * 2);
}

TEST_F(TabularDataReaderTest, AppendedRowGivesBackItsSlack) {
    DataRow row(1);
    row.reserve(100, 10'000);
    row.addText(0, "a");
    reader->appendDataRow(std::move(row));
    EXPECT_EQ(reader->dataRows()[0].allocatedBytes(), 1u + 2);
}

TEST_F(TabularDataReaderTest, CancelFromAnotherThreadStopsTheParse) {
    const std::uint64_t endless = 1'000'000'000;
    std::thread parsing([target = reader, endless] { target->parse(endless); });
    // Cancel from this thread once the parse is under way; the parse must see it at its next
    // row, end normally and stop notifying.
    ASSERT_TRUE(MainQueue::shared().runUntil([this] { return !delegate.records.empty(); }));
    reader->setShouldCancelParsing(true);
    ASSERT_TRUE(MainQueue::shared().runUntil([this] { return delegate.finished(); }));
    parsing.join();
    EXPECT_EQ(delegate.events.back(), "end");
    EXPECT_LT(reader->dataRows().size(), endless);
    ASSERT_FALSE(delegate.records.empty());
    EXPECT_LE(delegate.records.back(), reader->dataRows().size());
}

TEST_F(TabularDataReaderTest, EventForDroppedReaderIsSkipped) {
    auto dropped = std::make_shared<GeneratedRowsReader>("/tmp/dropped.csv");
    dropped->setDelegate(&delegate);
    dropped->postDidEndParsing();
    dropped->notifyRecordParsed(1);
    dropped.reset();
    EXPECT_EQ(MainQueue::shared().drain(), 2u);
    EXPECT_TRUE(delegate.events.empty());
}

TEST_F(TabularDataReaderTest, EventAfterDelegateWasClearedIsSkipped) {
    reader->postDidEndParsing();
    reader->setDelegate(nullptr);
    MainQueue::shared().drain();
    EXPECT_TRUE(delegate.events.empty());
}

TEST_F(TabularDataReaderTest, ReaderNotOwnedBySharedPointerCannotPost) {
    GeneratedRowsReader unowned("/tmp/unowned.csv");
    EXPECT_THROW(unowned.postDidEndParsing(), std::logic_error);
}

}  // namespace
}  // namespace pelkora
