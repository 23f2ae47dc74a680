#pragma once

// The reader of delimited text files (CSV, TSV, semicolon- or bar-separated …).
//
// Before anything is parsed the reader examines the head of the file (at most 512 KiB):
// the line delimiter and an estimate of the row count, the field delimiter, the text
// encoding, a preview of the head decoded with that encoding, and whether the file escapes
// quotes with backslashes. The session then either
// parses at once (a trusted byte-order mark) or lets the user confirm the encoding on the
// encoding page. Parsing streams the whole file through CsvParser into rows and picks
// the header row.
//
// Threads: examination and parsing run on backgroundQueue(); every delegate event is posted
// to the main queue. The encoding page changes the encoding on the main thread, only while
// no examination or parse runs.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "input/CsvParser.h"
#include "input/TabularDataReader.h"
#include "platform/OperationQueue.h"
#include "text/TextEncoding.h"

namespace pelkora {

// The text reader's own errors, besides the parser's.
inline constexpr std::string_view kTextReaderErrorDomain = "org.pelkora.TextReader";
inline constexpr std::int64_t kTextReaderErrorUnterminatedQuote = 1;
inline constexpr std::int64_t kTextReaderErrorUndecodableBytes = 2;

// Where a reader setting came from, so the front end and the log can tell them apart.
enum class OptionSource { defaultValue, detected, setByUser };

class TextReader final : public TabularDataReader, private CsvParserDelegate {
  public:
    // The examined head of a file is at most this long.
    static constexpr std::size_t kExaminedByteCount = 524288;
    // A parse that is not of the entire file keeps at most this many rows.
    static constexpr std::size_t kPreviewRowLimit = 101;
    // The header row is the first non-empty row among this many.
    static constexpr std::size_t kHeaderSearchRowCount = 50;

    explicit TextReader(std::filesystem::path fileURL);
    ~TextReader() override;

    std::string readerClassName() const override { return "TextReader"; }

    // Reads the head of the file and detects delimiters and encoding, then makes the preview.
    // Returns whether the encoding was detected. Runs on the calling thread.
    bool examineFile();
    // Parses the file with the current encoding and field delimiter on the calling thread,
    // posting the reader events; a parse that throws ends in readerDidFailWithError like any
    // other failure. entireFile false stops after kPreviewRowLimit rows.
    void parse(bool entireFile);

    // Decodes the examined head again with another encoding, as the encoding page does when the
    // user picks one. On success the preview is the new text; on failure it is the head
    // decoded with the fallback encoding. Either way stringEncoding() is the chosen encoding.
    bool reparse(const TextEncoding& encoding);

    // The user's choice of encoding or field delimiter; examination keeps it.
    void setStringEncodingByUser(const TextEncoding& encoding);
    void setFieldDelimiterByUser(const std::string& delimiter);

    const TextEncoding& fallbackStringEncoding() const { return fallbackStringEncoding_; }
    const std::optional<std::vector<std::uint8_t>>& dataToAnalyze() const { return dataToAnalyze_; }
    // The examined head decoded for the preview; none when it decodes in no encoding.
    const std::optional<std::string>& detectedContent() const { return detectedContent_; }
    bool dataTruncated() const { return dataTruncated_; }
    // One character, as UTF-8.
    const std::string& fieldDelimiter() const { return fieldDelimiter_; }
    OptionSource fieldDelimiterSource() const { return fieldDelimiterSource_; }
    const std::string& lineDelimiter() const { return lineDelimiter_; }
    const TextEncoding& stringEncoding() const { return stringEncoding_; }
    OptionSource stringEncodingSource() const { return stringEncodingSource_; }
    bool hasByteOrderMark() const { return hasByteOrderMark_; }
    // Whether "\" makes the next character literal. Delimited text is read as RFC 4180 has
    // it, backslashes and "#" being ordinary characters (Windows accounts "DOMAIN\user",
    // paths "C:\Users\", a name "#1"); only a head that escapes quotes inside quoted fields
    // as \" and never doubles them turns escapes on. Lines starting with "#" are rows.
    bool recognizesBackslashEscapes() const { return recognizesBackslashEscapes_; }
    // The invalid sequences in the examined head of a file that is UTF-8 but for a few stray
    // bytes (isUtf8WithStrayBytes): the preview shows each as U+FFFD, and the parse replaces
    // them (in the whole file) and reports each by row and column in the parse log, instead
    // of stopping there. 0 for any other file.
    std::size_t strayByteSequencesInHead() const { return strayByteSequencesInHead_; }
    // The sequences the last parse replaced by U+FFFD.
    std::uint64_t replacedByteSequences() const { return replacedByteSequences_; }
    std::uint64_t currentLine() const { return currentLine_; }
    std::uint64_t currentColumn() const { return currentColumn_; }
    bool useOwnEncodingDetectionAlgorithm() const { return useOwnEncodingDetectionAlgorithm_; }
    void setUseOwnEncodingDetectionAlgorithm(bool use) { useOwnEncodingDetectionAlgorithm_ = use; }
    bool parseEntireFile() const { return parseEntireFile_; }
    OperationQueue& backgroundQueue() { return backgroundQueue_; }

  private:
    void parseFile(bool entireFile);
    void readHead();
    void detectDelimiters();
    bool detectEncoding();
    void makePreview(bool detected);
    void detectBackslashEscapes();
    // The examined head without a byte-order mark that belongs to the encoding.
    std::span<const std::uint8_t> textOfHead(const TextEncoding& encoding) const;
    void chooseHeaderRow();

    void parserDidBeginDocument(CsvParser& parser) override;
    void parserDidBeginLine(CsvParser& parser, std::uint64_t recordNumber) override;
    void parserDidReadField(CsvParser& parser, std::string_view field,
                            std::uint64_t fieldIndex) override;
    void parserDidReplaceUndecodableBytes(CsvParser& parser, std::uint64_t fieldIndex,
                                          std::uint64_t byteOffset) override;
    void parserDidEndLine(CsvParser& parser, std::uint64_t recordNumber) override;
    void parserDidEndDocument(CsvParser& parser) override;
    void parserDidFailWithError(CsvParser& parser, const CsvError& error) override;

    // Text nothing recognises is read as Windows Latin 1, the encoding most such files are in.
    TextEncoding fallbackStringEncoding_ = TextEncoding::windowsLatin1();
    std::optional<std::vector<std::uint8_t>> dataToAnalyze_;
    std::optional<std::string> detectedContent_;
    bool dataTruncated_ = false;
    std::uintmax_t fileSize_ = 0;  // 0 when unknown
    std::string fieldDelimiter_ = "\t";
    OptionSource fieldDelimiterSource_ = OptionSource::defaultValue;
    std::string lineDelimiter_ = "\r";
    TextEncoding stringEncoding_ = TextEncoding::windowsLatin1();
    OptionSource stringEncodingSource_ = OptionSource::defaultValue;
    bool hasByteOrderMark_ = false;
    bool recognizesBackslashEscapes_ = false;
    std::size_t strayByteSequencesInHead_ = 0;
    // The examined head reads as UTF-8 (stray bytes aside), so the parse replaces what does not.
    bool headReadAsUtf8_ = false;
    // A file with damaged bytes all over would fill the log: the first ones are listed one by
    // one, the rest counted.
    static constexpr std::uint64_t kReportedReplacements = 100;
    std::uint64_t replacedByteSequences_ = 0;
    std::uint64_t currentLine_ = 1;
    std::uint64_t currentColumn_ = 1;
    bool useOwnEncodingDetectionAlgorithm_ = true;
    bool parseEntireFile_ = true;
    // The parser of the parse under way; only the parsing thread touches it.
    CsvParser* fileParser_ = nullptr;
    // The current row while the parser fills it (the base class owns it).
    DataRow* fillingRow_ = nullptr;
    // The number of the record the parser is in, for error messages.
    std::uint64_t recordBeingRead_ = 0;
    // Declared last so that it is destroyed first: its destructor waits for a running
    // examination or parse, which still uses the fields above.
    OperationQueue backgroundQueue_;
};

}  // namespace pelkora
