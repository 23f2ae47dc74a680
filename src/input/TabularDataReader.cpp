#include "input/TabularDataReader.h"

#include <stdexcept>
#include <utility>

#include "platform/MainQueue.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {

TabularDataReader::TabularDataReader(std::filesystem::path fileURL)
    : fileURL_(std::move(fileURL)) {}

TabularDataReader::~TabularDataReader() = default;

bool TabularDataReader::shouldCancelParsing() const {
    return shouldCancelParsing_.load(std::memory_order_acquire);
}

void TabularDataReader::setShouldCancelParsing(bool shouldCancel) {
    shouldCancelParsing_.store(shouldCancel, std::memory_order_release);
}

std::string TabularDataReader::readerClassName() const {
    return "TabularDataReader";
}

std::string TabularDataReader::debugDescription() const {
    // Appended piecewise: GCC 12 warns falsely (-Wrestrict) about "<" + std::string at -O3.
    std::string description = "<";
    description += readerClassName();
    description += ": ";
    description += fileURL_.string();
    description += '>';
    return description;
}

void TabularDataReader::notifyRecordParsed(std::uint64_t recordNumber) {
    if (shouldCancelParsing()) return;
    if (recordNumber % 100 != 0 && proposedRowCount_ > recordNumber) return;
    postToDelegate([recordNumber](TabularDataReaderDelegate& delegate, TabularDataReader& reader) {
        delegate.readerDidParseRecord(reader, recordNumber);
    });
}

void TabularDataReader::postDidBeginParsing() {
    postToDelegate([](TabularDataReaderDelegate& delegate, TabularDataReader& reader) {
        delegate.readerDidBeginParsing(reader);
    });
}

void TabularDataReader::runParse(const std::function<void()>& parse) {
    outcomePosted_ = false;
    try {
        parse();
    } catch (...) {
        const std::string reason = currentExceptionText();
        writeLog(LogType::error, "%{public}@ stopped parsing on an exception: %{public}@",
                 debugDescription(), reason);
        appendParseLogEntry({ParseLogSeverity::error, reason});
        if (outcomePosted_ || !delegate()) return;
        ReaderError error;
        error.kind = ReaderErrorKind::internalFailure;
        error.message =
            formatMessage(localizedString("Reading “%1$@” stopped on an unexpected error: "
                                          "%2$@. The file was not read to its end."),
                          fileURL_.string(), reason);
        error.file = fileURL_;
        postDidFail(std::move(error));
    }
}

void TabularDataReader::postDidEndParsing() {
    outcomePosted_ = true;
    postToDelegate([](TabularDataReaderDelegate& delegate, TabularDataReader& reader) {
        delegate.readerDidEndParsing(reader);
    });
}

void TabularDataReader::postDidFail(ReaderError error) {
    outcomePosted_ = true;
    postToDelegate(
        [error = std::move(error)](TabularDataReaderDelegate& delegate, TabularDataReader& reader) {
            delegate.readerDidFailWithError(reader, error);
        });
}

template <typename Event>
void TabularDataReader::postToDelegate(Event event) {
    // The event holds the reader weakly: the session may drop the reader (another file, start
    // over) before the main queue gets to the event, and then there is no one to tell. The
    // delegate is looked up when the event runs, on the main thread where it is set.
    std::weak_ptr<TabularDataReader> weakReader = weak_from_this();
    if (weakReader.expired()) {
        throw std::logic_error(
            "TabularDataReader: a reader must be owned by a std::shared_ptr to post events");
    }
    MainQueue::shared().post([weakReader = std::move(weakReader), event = std::move(event)] {
        std::shared_ptr<TabularDataReader> reader = weakReader.lock();
        if (!reader) return;
        if (TabularDataReaderDelegate* delegate = reader->delegate()) event(*delegate, *reader);
    });
}

void TabularDataReader::resetForParsing() {
    dataRows_.clear();
    if (currentDataRow_) {
        spareDataRow_ = std::move(*currentDataRow_);
        currentDataRow_.reset();
    }
    parseLog_.clear();
    headerRowIndex_ = kNotFound;
    exampleDataRowIndex_ = kNotFound;
}

DataRow& TabularDataReader::beginDataRow(std::int64_t rowIndex) {
    if (!currentDataRow_) currentDataRow_.emplace(std::move(spareDataRow_));
    currentDataRow_->clear();
    currentDataRow_->setRowIndex(rowIndex);
    return *currentDataRow_;
}

void TabularDataReader::finishCurrentDataRow() {
    if (!currentDataRow_) return;
    // The copy is exactly sized; the current row's block, grown to fit the longest row so
    // far, stays behind for the next row.
    dataRows_.push_back(*currentDataRow_);
    spareDataRow_ = std::move(*currentDataRow_);
    currentDataRow_.reset();
}

void TabularDataReader::appendDataRow(DataRow row) {
    row.shrinkToFit();
    dataRows_.push_back(std::move(row));
}

}  // namespace pelkora
