#pragma once

// The base of the readers of tabular input (delimited text, spreadsheet workbooks): the rows
// read, the header and example row, the expected row count, the parse log, the cancel flag
// and the events a reader reports to its delegate.
//
// Threads: a reader parses on a background thread and posts every delegate call to the main
// queue, so the delegate runs on the main thread and never concurrently with itself. The
// cancel flag is the only state written by another thread during a parse; rows, indices and
// the parse log are written by the parsing thread and read on the main thread after
// readerDidEndParsing.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/DataRow.h"
#include "input/ParseLog.h"
#include "support/Error.h"

namespace pelkora {

class TabularDataReader;

enum class ReaderErrorKind {
    unreadableFile,    // the file could not be opened, or a read failed before its end
    malformedContent,  // the content breaks its format's rules or cannot be read past a point
    internalFailure,   // the parse itself broke off (an exception escaped it), not the file
};

// Why a parse stopped, as the session logs it for the user.
struct ReaderError : Error<ReaderErrorKind> {
    // Where the code comes from (for instance "org.pelkora.TextReader"); empty when there is
    // no code.
    std::string domain = {};
    // The reader's or parser's own number for the cause, for scripts and tests.
    std::int64_t code = 0;

    bool operator==(const ReaderError&) const = default;
};

// Receives a reader's events, always on the main thread. For one parse: begin once, record
// notifications (throttled), then exactly one of end (also after a cancelled parse) or
// failure.
class TabularDataReaderDelegate {
  public:
    virtual ~TabularDataReaderDelegate() = default;

    // Parsing has begun; no row has been read yet.
    virtual void readerDidBeginParsing(TabularDataReader& reader) = 0;
    // The record with this number has been read.
    virtual void readerDidParseRecord(TabularDataReader& reader, std::uint64_t recordNumber) = 0;
    // Parsing has ended after the last row or a cancel request; the rows may now be read.
    virtual void readerDidEndParsing(TabularDataReader& reader) = 0;
    // Parsing stopped on an error.
    virtual void readerDidFailWithError(TabularDataReader& reader, const ReaderError& error) = 0;
};

// Holds what a reader read from one file. Made only with a file and owned through
// std::shared_ptr: events posted to the main queue hold the reader weakly, so an event that
// arrives after the session dropped the reader is skipped.
class TabularDataReader : public std::enable_shared_from_this<TabularDataReader> {
  public:
    // The index value that means "no such row".
    static constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::max();

    // Makes a reader for the file; subclasses set their own fields, then the base is ready.
    explicit TabularDataReader(std::filesystem::path fileURL);
    virtual ~TabularDataReader();
    TabularDataReader(const TabularDataReader&) = delete;
    TabularDataReader& operator=(const TabularDataReader&) = delete;

    // Returns the file being read.
    const std::filesystem::path& fileURL() const { return fileURL_; }
    // Returns the receiver of the reader's events, or null; the reader does not own it.
    TabularDataReaderDelegate* delegate() const { return delegate_; }
    // Sets the receiver of the reader's events (main thread only); it must outlive the events
    // already posted or be replaced by null before it goes away.
    void setDelegate(TabularDataReaderDelegate* delegate) { delegate_ = delegate; }

    // Returns the rows read, in file order.
    const std::vector<DataRow>& dataRows() const { return dataRows_; }
    // Returns the row being filled, or nothing between rows.
    const std::optional<DataRow>& currentDataRow() const { return currentDataRow_; }
    // Returns the index into dataRows() of the row holding the column titles, or kNotFound.
    std::int64_t headerRowIndex() const { return headerRowIndex_; }
    // Returns the index into dataRows() of the first row shown as an example, or kNotFound.
    std::int64_t exampleDataRowIndex() const { return exampleDataRowIndex_; }
    // Returns the problems met and survived during the last parse, in order.
    const std::vector<ParseLogEntry>& parseLog() const { return parseLog_; }
    // Returns the number of rows the reader expects before parsing; 0 when unknown.
    std::uint64_t proposedRowCount() const { return proposedRowCount_; }

    // Returns whether a cancel has been requested. Any thread.
    bool shouldCancelParsing() const;
    // Requests or clears a cancel. Any thread; the parse sees it at its next check.
    void setShouldCancelParsing(bool shouldCancel);

    // Returns the class name shown in descriptions ("TextReader", "ExcelReader").
    virtual std::string readerClassName() const;
    // Returns "<ClassName: /path/to/file>".
    virtual std::string debugDescription() const;

    // Reports a completed record to the delegate, throttled: nothing once a cancel is
    // requested; otherwise every hundredth record, and every record from proposedRowCount()
    // on (all of them when the count is unknown). Called on the parsing thread.
    void notifyRecordParsed(std::uint64_t recordNumber);

  protected:
    // Runs one parse on the calling (parsing) thread. An exception that escapes it is caught
    // here, logged, and posted as readerDidFailWithError (internalFailure, naming the file and
    // the exception) unless the parse had already posted its end or failure, so the delegate
    // always hears how the parse ended. Posts nothing while there is no delegate.
    void runParse(const std::function<void()>& parse);

    // Posts readerDidBeginParsing to the main queue.
    void postDidBeginParsing();
    // Posts readerDidEndParsing to the main queue.
    void postDidEndParsing();
    // Posts readerDidFailWithError to the main queue.
    void postDidFail(ReaderError error);

    // Empties the rows, the current row and the parse log and sets both indices to kNotFound,
    // before a new parse of the same reader. Leaves the cancel flag to the session.
    void resetForParsing();
    // Starts a new current row with the record number and returns it for filling. The row
    // reuses the block of the previous current row.
    DataRow& beginDataRow(std::int64_t rowIndex);
    // Appends an exactly sized copy of the current row to the rows and leaves no current row.
    void finishCurrentDataRow();
    // Appends a finished row, giving back its slack first.
    void appendDataRow(DataRow row);
    // Makes room for the expected number of rows.
    void reserveDataRows(std::size_t rowCount) { dataRows_.reserve(rowCount); }
    // Gives the rows to a subclass that reorders or edits them after parsing.
    std::vector<DataRow>& mutableDataRows() { return dataRows_; }

    void setHeaderRowIndex(std::int64_t index) { headerRowIndex_ = index; }
    void setExampleDataRowIndex(std::int64_t index) { exampleDataRowIndex_ = index; }
    void setProposedRowCount(std::uint64_t rowCount) { proposedRowCount_ = rowCount; }
    // Appends a problem to the parse log.
    void appendParseLogEntry(ParseLogEntry entry) { parseLog_.push_back(std::move(entry)); }
    void setParseLog(std::vector<ParseLogEntry> parseLog) { parseLog_ = std::move(parseLog); }

  private:
    template <typename Event>
    void postToDelegate(Event event);

    std::filesystem::path fileURL_;
    TabularDataReaderDelegate* delegate_ = nullptr;
    std::vector<DataRow> dataRows_;
    std::optional<DataRow> currentDataRow_;
    // The previous current row, kept for its block so the next row grows it no more.
    DataRow spareDataRow_;
    std::int64_t headerRowIndex_ = kNotFound;
    std::int64_t exampleDataRowIndex_ = kNotFound;
    // The one field another thread writes during a parse. An atomic is enough: a store is
    // never torn and the parse sees it at its next check, and no other data travels with
    // the flag that a lock would have to publish together with it.
    std::atomic<bool> shouldCancelParsing_ = false;
    std::vector<ParseLogEntry> parseLog_;
    std::uint64_t proposedRowCount_ = 0;
    // Whether the parse under way has posted its end or failure; only the parsing thread
    // touches it.
    bool outcomePosted_ = false;
};

}  // namespace pelkora
