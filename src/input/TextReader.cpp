#include "input/TextReader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/InputStream.h"
#include "support/Error.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/Utf8.h"
#include "text/EncodingDetection.h"

namespace pelkora {
namespace {

// How many pieces the bytes split into at each occurrence of the pattern (occurrences + 1).
std::uint64_t pieceCount(std::span<const std::uint8_t> bytes, std::string_view pattern) {
    std::uint64_t count = 1;
    if (pattern.size() == 1) {
        const auto wanted = static_cast<std::uint8_t>(pattern[0]);
        for (auto byte : bytes) count += byte == wanted;
        return count;
    }
    const auto* begin = reinterpret_cast<const char*>(bytes.data());
    std::string_view text(begin, bytes.size());
    for (auto position = text.find(pattern); position != std::string_view::npos;
         position = text.find(pattern, position + pattern.size())) {
        ++count;
    }
    return count;
}

struct ByteOrderMark {
    std::array<std::uint8_t, 4> bytes;
    std::size_t length;
    TextEncoding (*encoding)();
};

// Longer marks first: FF FE 00 00 is UTF-32, not UTF-16 followed by a NUL.
const ByteOrderMark kByteOrderMarks[] = {
    {{0xFF, 0xFE, 0x00, 0x00}, 4, &TextEncoding::utf32LittleEndian},
    {{0x00, 0x00, 0xFE, 0xFF}, 4, &TextEncoding::utf32BigEndian},
    {{0xFF, 0xFE}, 2, &TextEncoding::utf16LittleEndian},
    {{0xFE, 0xFF}, 2, &TextEncoding::utf16BigEndian},
    {{0xEF, 0xBB, 0xBF}, 3, &TextEncoding::utf8},
};

const ByteOrderMark* findByteOrderMark(std::span<const std::uint8_t> bytes) {
    for (const auto& mark : kByteOrderMarks) {
        if (bytes.size() >= mark.length &&
            std::equal(mark.bytes.begin(), mark.bytes.begin() + mark.length, bytes.begin())) {
            return &mark;
        }
    }
    return nullptr;
}

// The encodings worth preferring for a line delimiter: Windows files end lines with CR LF,
// classic Mac files with CR, Unix files with LF. Without a line break in the head nothing
// points anywhere, and Windows Latin 1 comes first.
std::vector<TextEncoding> suggestedEncodings(const std::string& lineDelimiter) {
    if (lineDelimiter == "\r\n") {
        return {TextEncoding::windowsLatin1(), TextEncoding::isoLatin1(),
                TextEncoding::macOSRoman(), TextEncoding::utf8()};
    }
    if (lineDelimiter == "\r") return {TextEncoding::macOSRoman(), TextEncoding::utf8()};
    if (lineDelimiter == "\n") {
        return {TextEncoding::utf8(), TextEncoding::windowsLatin1(), TextEncoding::isoLatin1(),
                TextEncoding::macOSRoman()};
    }
    return {TextEncoding::windowsLatin1(),
            TextEncoding::isoLatin1(),
            TextEncoding::utf8(),
            TextEncoding::macOSRoman(),
            TextEncoding::utf16LittleEndian(),
            TextEncoding::utf16BigEndian()};
}

// Decodes the head of a file. When the head was cut from a longer file, a character split by
// the cut is left out instead of failing the whole preview.
std::optional<std::string> decodeHead(std::span<const std::uint8_t> bytes,
                                      const TextEncoding& encoding, bool truncated) {
    if (!truncated) return decodeStrictly(bytes, encoding);
    auto decoder = TextDecoder::make(encoding);
    std::string text;
    const auto result = decoder->decode(bytes, text, false);
    if (result.invalid) return std::nullopt;
    return text;
}

// Whether the text escapes quotes inside quoted fields with a backslash (\" not ending the
// field) and never doubles them (RFC 4180's "" inside a field, not an empty field "").
bool escapesQuotesWithBackslashes(std::string_view text, std::string_view delimiter) {
    auto isBoundary = [&](std::size_t position) {
        if (position >= text.size()) return true;
        const char c = text[position];
        return c == '\r' || c == '\n' || text.substr(position).starts_with(delimiter);
    };
    auto startsField = [&](std::size_t position) {
        if (position == 0) return true;
        const char c = text[position - 1];
        return c == '\r' || c == '\n' ||
               (position >= delimiter.size() &&
                text.substr(position - delimiter.size(), delimiter.size()) == delimiter);
    };
    std::size_t escapedQuotes = 0;
    for (std::size_t position = text.find('"'); position != std::string_view::npos;
         position = text.find('"', position + 1)) {
        if (position > 0 && text[position - 1] == '\\') {
            if (!isBoundary(position + 1)) ++escapedQuotes;
            continue;
        }
        if (position + 1 < text.size() && text[position + 1] == '"') {
            // "" that opens a field is an empty field, or the start of one with a quote.
            if (!startsField(position) || !isBoundary(position + 2)) return false;
            ++position;
        }
    }
    return escapedQuotes > 0;
}

}  // namespace

TextReader::TextReader(std::filesystem::path fileURL)
    : TabularDataReader(std::move(fileURL)), backgroundQueue_("Text reader") {}

TextReader::~TextReader() {
    // Stop a parse under way; the queue's destructor then waits for it.
    setShouldCancelParsing(true);
}

void TextReader::setStringEncodingByUser(const TextEncoding& encoding) {
    stringEncoding_ = encoding;
    stringEncodingSource_ = OptionSource::setByUser;
}

void TextReader::setFieldDelimiterByUser(const std::string& delimiter) {
    fieldDelimiter_ = delimiter;
    fieldDelimiterSource_ = OptionSource::setByUser;
}

// Examination:
//   1. read the head (at most kExaminedByteCount bytes),
//   2. count line and field delimiters: line delimiter, row estimate, field delimiter,
//   3. detect the encoding: byte-order marks, ASCII in UTF-16 without mark, then the
//      statistical detection with encodings suggested by the line delimiter,
//   4. decode the head for the preview.
//   An exception that escapes a step leaves nothing to preview, so the encoding page shows the
//   file as unreadable instead of the session waiting for an examination that never ends.
bool TextReader::examineFile() {
    try {
        readHead();
        detectDelimiters();
        const bool detected = detectEncoding();
        makePreview(detected);
        detectBackslashEscapes();
        return detected;
    } catch (...) {
        const std::string reason = currentExceptionText();
        writeLog(LogType::error, "%{public}@ stopped examining on an exception: %{public}@",
                 debugDescription(), reason);
        appendParseLogEntry({ParseLogSeverity::error, reason});
        dataToAnalyze_.reset();
        detectedContent_.reset();
        return false;
    }
}

void TextReader::readHead() {
    dataToAnalyze_.reset();
    dataTruncated_ = false;
    auto stream = InputStream::openFile(fileURL());
    if (!stream) {
        appendParseLogEntry(
            {ParseLogSeverity::error,
             formatMessage(localizedString("Could not detect delimiters and string encoding: '%@'"),
                           stream.error().message)});
        return;
    }
    std::error_code sizeError;
    const auto size = std::filesystem::file_size(fileURL(), sizeError);
    fileSize_ = sizeError ? 0 : size;
    if (!sizeError && size > kExaminedByteCount) dataTruncated_ = true;
    std::vector<std::uint8_t> head(kExaminedByteCount);
    std::size_t length = 0;
    while (length < head.size()) {
        const auto count = (*stream)->read(head.data() + length, head.size() - length);
        if (count == 0) break;
        length += count;
    }
    head.resize(length);
    dataToAnalyze_ = std::move(head);
}

void TextReader::detectDelimiters() {
    if (!dataToAnalyze_) return;
    const std::span<const std::uint8_t> bytes(*dataToAnalyze_);
    const std::uint64_t crlf = pieceCount(bytes, "\r\n");
    const std::uint64_t cr = pieceCount(bytes, "\r");
    const std::uint64_t lf = pieceCount(bytes, "\n");
    const std::uint64_t comma = pieceCount(bytes, ",");
    const std::uint64_t semicolon = pieceCount(bytes, ";");
    const std::uint64_t tab = pieceCount(bytes, "\t");
    const std::uint64_t bar = pieceCount(bytes, "|");

    // Later rules override earlier ones. A line end inside a quoted field counts too: this is
    // an estimate for the progress bar, not the row count.
    if (crlf >= 2) {
        lineDelimiter_ = "\r\n";
        setProposedRowCount(crlf);
    }
    if (cr * 100 / crlf >= 200) {
        lineDelimiter_ = "\r";
        setProposedRowCount(cr);
    }
    if (lf * 100 / crlf >= 200) {
        lineDelimiter_ = "\n";
        setProposedRowCount(lf);
    }
    // The counts come from the head only. For a longer file, scale them to the whole file:
    // otherwise a 100 MB file would expect the rows of its first 512 KiB, its progress would
    // read "record 300000 of 12169", and every record past the estimate would be reported.
    if (dataTruncated_ && fileSize_ > bytes.size() && !bytes.empty() && proposedRowCount() > 0) {
        const long double scale =
            static_cast<long double>(fileSize_) / static_cast<long double>(bytes.size());
        setProposedRowCount(
            static_cast<std::uint64_t>(static_cast<long double>(proposedRowCount()) * scale));
    }
    if (fieldDelimiterSource_ == OptionSource::setByUser) return;
    std::string delimiter = fieldDelimiter_;
    if (comma < semicolon) delimiter = ";";
    if (semicolon < comma) delimiter = ",";
    if (semicolon < tab && comma < tab) delimiter = "\t";
    if (semicolon < bar && comma < bar && tab < bar) delimiter = "|";
    if (delimiter != fieldDelimiter_) {
        fieldDelimiter_ = delimiter;
        fieldDelimiterSource_ = OptionSource::detected;
    }
}

bool TextReader::detectEncoding() {
    hasByteOrderMark_ = false;
    if (!dataToAnalyze_ || dataToAnalyze_->empty()) {
        appendParseLogEntry(
            {ParseLogSeverity::error,
             localizedString("Could not detect string encoding: No data provided.")});
        return false;
    }
    const std::span<const std::uint8_t> bytes(*dataToAnalyze_);
    // A byte-order mark is unambiguous even in a file too short for the other tests (a file
    // holding only the mark must not become one garbage cell).
    if (bytes.size() < 8 && !(useOwnEncodingDetectionAlgorithm_ && findByteOrderMark(bytes))) {
        appendParseLogEntry(
            {ParseLogSeverity::error,
             localizedString("Could not detect string encoding: Not enough data.")});
        return false;
    }
    // A mark is noted even when the user chose the encoding: the parse must not read it as text.
    const ByteOrderMark* mark =
        useOwnEncodingDetectionAlgorithm_ ? findByteOrderMark(bytes) : nullptr;
    if (mark) hasByteOrderMark_ = true;
    if (stringEncodingSource_ == OptionSource::setByUser) return true;

    auto detectedAs = [this](const TextEncoding& encoding) {
        stringEncoding_ = encoding;
        stringEncodingSource_ = OptionSource::detected;
        return true;
    };
    if (useOwnEncodingDetectionAlgorithm_) {
        if (mark) return detectedAs(mark->encoding());
        // ASCII text stored in two-byte units has every other byte zero.
        if (bytes.size() < 8) return false;
        if (bytes[1] == 0 && bytes[3] == 0 && bytes[5] == 0 && bytes[7] == 0) {
            return detectedAs(TextEncoding::utf16LittleEndian());
        }
        if (bytes[0] == 0 && bytes[2] == 0 && bytes[4] == 0 && bytes[6] == 0) {
            return detectedAs(TextEncoding::utf16BigEndian());
        }
    }
    EncodingDetectionOptions options;
    // The line delimiter is "\r" until a line break says otherwise; only a seen one is evidence.
    const bool lineBreakSeen = std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t byte) {
                                   return byte == '\r' || byte == '\n';
                               }) != bytes.end();
    options.suggestedEncodings = suggestedEncodings(lineBreakSeen ? lineDelimiter_ : "");
    options.likelyLanguage = currentLanguageCode();
    options.fromWindows = true;
    options.useOnlySuggestedEncodings = false;
    options.allowLossyConversion = false;
    options.allowStrayBytesInUtf8 = true;
    if (auto encoding = detectStringEncoding(bytes, options)) return detectedAs(*encoding);
    appendParseLogEntry(
        {ParseLogSeverity::warning,
         formatMessage(localizedString("Could not detect string encoding; assuming %@."),
                       fallbackStringEncoding_.displayName())});
    return false;
}

std::span<const std::uint8_t> TextReader::textOfHead(const TextEncoding& encoding) const {
    std::span<const std::uint8_t> bytes(*dataToAnalyze_);
    // The mark says how to read the text; it is not part of it.
    if (const auto* mark = findByteOrderMark(bytes);
        hasByteOrderMark_ && mark && mark->encoding() == encoding) {
        bytes = bytes.subspan(mark->length);
    }
    return bytes;
}

void TextReader::makePreview(bool detected) {
    detectedContent_.reset();
    // An empty file has nothing to preview or import: it counts as unreadable.
    if (!dataToAnalyze_ || dataToAnalyze_->empty()) return;
    if (!detected && stringEncodingSource_ != OptionSource::setByUser) {
        stringEncoding_ = fallbackStringEncoding_;
        writeLog(LogType::info,
                 "%{public}@: the string encoding was not detected; guessed %{public}@",
                 debugDescription(), fallbackStringEncoding_.displayName());
    }
    const auto bytes = textOfHead(stringEncoding_);
    auto text = decodeHead(bytes, stringEncoding_, dataTruncated_);
    strayByteSequencesInHead_ = 0;
    headReadAsUtf8_ = text && stringEncoding_ == TextEncoding::utf8();
    if (!text && stringEncoding_ == TextEncoding::utf8() && isUtf8WithStrayBytes(bytes)) {
        headReadAsUtf8_ = true;
        text = decodeUtf8ReplacingStrayBytes(bytes);
        strayByteSequencesInHead_ = countUtf8Sequences(bytes).invalidSequences;
        appendParseLogEntry(
            {ParseLogSeverity::warning,
             formatMessage(localizedString("Byte sequences that are not valid UTF-8 in a UTF-8 "
                                           "text: %1$lu; each reads as “�”."),
                           strayByteSequencesInHead_)});
    }
    if (!text && detected)
        text = decodeHead(textOfHead(fallbackStringEncoding_), fallbackStringEncoding_,
                          dataTruncated_);
    // Text that is only a byte-order mark is as empty as an empty file.
    if (text && text->empty()) text.reset();
    if (text && dataTruncated_) {
        *text += lineDelimiter_;
        *text += localizedString("/// File preview truncated ///");
    }
    detectedContent_ = std::move(text);
}

void TextReader::detectBackslashEscapes() {
    recognizesBackslashEscapes_ =
        detectedContent_ && escapesQuotesWithBackslashes(*detectedContent_, fieldDelimiter_);
}

bool TextReader::reparse(const TextEncoding& encoding) {
    setStringEncodingByUser(encoding);
    if (!dataToAnalyze_ || dataToAnalyze_->empty()) {
        detectedContent_.reset();
        return false;
    }
    strayByteSequencesInHead_ = 0;
    headReadAsUtf8_ = false;
    if (auto text = decodeHead(textOfHead(encoding), encoding, dataTruncated_)) {
        headReadAsUtf8_ = encoding == TextEncoding::utf8();
        detectedContent_ = std::move(text);
        detectBackslashEscapes();
        return true;
    }
    if (const auto bytes = textOfHead(encoding);
        encoding == TextEncoding::utf8() && isUtf8WithStrayBytes(bytes)) {
        detectedContent_ = decodeUtf8ReplacingStrayBytes(bytes);
        strayByteSequencesInHead_ = countUtf8Sequences(bytes).invalidSequences;
        headReadAsUtf8_ = true;
        detectBackslashEscapes();
        return true;
    }
    detectedContent_ =
        decodeHead(textOfHead(fallbackStringEncoding_), fallbackStringEncoding_, dataTruncated_);
    return false;
}

void TextReader::parse(bool entireFile) {
    runParse([this, entireFile] { parseFile(entireFile); });
    fileParser_ = nullptr;
}

void TextReader::parseFile(bool entireFile) {
    auto stream = InputStream::openFile(fileURL());
    if (!stream) {
        postDidFail(
            ReaderError{{ReaderErrorKind::unreadableFile, stream.error().message, fileURL()}});
        return;
    }
    // The parser is told the encoding, so it does not look for a mark itself: skip the mark
    // here, or it would become an invisible character at the start of the first title.
    if (hasByteOrderMark_ && dataToAnalyze_) {
        if (const auto* mark = findByteOrderMark(*dataToAnalyze_);
            mark && mark->encoding() == stringEncoding_) {
            std::array<std::uint8_t, 4> skipped{};
            (void)(*stream)->read(skipped.data(), mark->length);
        }
    }
    std::optional<TextEncoding> usedEncoding = stringEncoding_;
    CsvParser parser(std::move(*stream), &usedEncoding,
                     utf8::firstCodePoint(fieldDelimiter_).value_or(0));
    parseEntireFile_ = entireFile;
    fileParser_ = &parser;
    parser.setDelegate(this);
    parser.setSanitizesFields(true);
    parser.setTrimsWhitespace(true);
    // Each of these reads a character specially, which the parser refuses when that character
    // is the field delimiter: a user who separates fields with "\\" has no escapes.
    const char32_t delimiter = parser.delimiter();
    parser.setRecognizesBackslashesAsEscapes(recognizesBackslashEscapes_ && delimiter != '\\');
    parser.setRecognizesComments(false);
    parser.setRecognizesLeadingEqualSign(delimiter != '=');
    // A file whose head reads as UTF-8 is UTF-8: a stray byte further on (a name pasted from
    // elsewhere) reads as U+FFFD and is reported, instead of ending the parse there.
    parser.setReplacesUndecodableBytes(headReadAsUtf8_ && stringEncoding_ == TextEncoding::utf8());
    parser.parse();
    fileParser_ = nullptr;
}

void TextReader::parserDidBeginDocument(CsvParser&) {
    setShouldCancelParsing(false);
    // What examination noted stays in the log; the parse adds its own entries after it.
    auto examinationLog = parseLog();
    resetForParsing();
    setParseLog(std::move(examinationLog));
    fillingRow_ = nullptr;
    recordBeingRead_ = 0;
    replacedByteSequences_ = 0;
    currentLine_ = 1;
    currentColumn_ = 1;
    if (proposedRowCount() > 0)
        reserveDataRows(
            static_cast<std::size_t>(std::min<std::uint64_t>(proposedRowCount(), 1 << 20)));
    if (delegate()) postDidBeginParsing();
}

void TextReader::parserDidBeginLine(CsvParser& parser, std::uint64_t recordNumber) {
    fillingRow_ = &beginDataRow(static_cast<std::int64_t>(recordNumber));
    recordBeingRead_ = recordNumber;
    if (dataRows().size() >= kPreviewRowLimit && !parseEntireFile_) {
        parser.cancelParsing();
        writeLog(
            LogType::debug,
            "Parsing stopped because self.dataRows.count is %{public}lu and self.parseEntireFile "
            "is %{public}@",
            dataRows().size(), "false");
    }
}

void TextReader::parserDidReadField(CsvParser&, std::string_view field, std::uint64_t fieldIndex) {
    if (!fillingRow_) return;
    fillingRow_->addText(static_cast<std::int64_t>(fieldIndex), field);
    currentColumn_ = fieldIndex;
}

void TextReader::parserDidReplaceUndecodableBytes(CsvParser&, std::uint64_t fieldIndex,
                                                  std::uint64_t byteOffset) {
    if (++replacedByteSequences_ > kReportedReplacements) return;
    appendParseLogEntry(
        {ParseLogSeverity::warning,
         formatMessage(localizedString("Row %1$lu, column %2$lu: the bytes at offset %3$lu are "
                                       "not valid %4$@ and read as “�”."),
                       recordBeingRead_, fieldIndex + 1, byteOffset,
                       stringEncoding_.displayName())});
}

void TextReader::parserDidEndLine(CsvParser& parser, std::uint64_t recordNumber) {
    if (fillingRow_) finishCurrentDataRow();
    fillingRow_ = nullptr;
    if (delegate()) notifyRecordParsed(recordNumber);
    ++currentLine_;
    if (shouldCancelParsing()) parser.cancelParsing();
}

void TextReader::parserDidEndDocument(CsvParser& parser) {
    chooseHeaderRow();
    if (!delegate()) return;
    // The parser ends at an unclosed quote or at bytes it cannot decode as if the file ended
    // there. Everything after that point would be missing without a word, so this is a failure
    // the user must see, not a successful parse.
    if (!shouldCancelParsing()) {
        if (auto record = parser.unterminatedQuotedFieldRecord()) {
            const std::string message = formatMessage(
                localizedString(
                    "The quoted field in line %1$lu is never closed: a double quote is missing, "
                    "so the rest of the file would be lost."),
                *record);
            writeLog(LogType::error, "%{public}@", message);
            postDidFail(ReaderError{{ReaderErrorKind::malformedContent, message, fileURL()},
                                    std::string(kTextReaderErrorDomain),
                                    kTextReaderErrorUnterminatedQuote});
            return;
        }
        if (replacedByteSequences_ > kReportedReplacements) {
            appendParseLogEntry(
                {ParseLogSeverity::warning,
                 formatMessage(localizedString("%1$lu more byte sequences that are not valid %2$@ "
                                               "read as “�”."),
                               replacedByteSequences_ - kReportedReplacements,
                               stringEncoding_.displayName())});
        }
        if (auto offset = parser.undecodableByteOffset()) {
            const std::string message = formatMessage(
                localizedString("The file cannot be read as %1$@ past byte %2$lu: the "
                                "bytes there are not valid in "
                                "that encoding. Choose another encoding."),
                stringEncoding_.displayName(), *offset);
            writeLog(LogType::error, "%{public}@", message);
            postDidFail(ReaderError{
                {ReaderErrorKind::malformedContent, message, fileURL(), std::nullopt, *offset},
                std::string(kTextReaderErrorDomain),
                kTextReaderErrorUndecodableBytes});
            return;
        }
    }
    postDidEndParsing();
}

void TextReader::parserDidFailWithError(CsvParser&, const CsvError& error) {
    if (!delegate()) return;
    // The failing record has already ended when the parser reports the error, so currentLine_
    // is one past it; name the record that holds the error.
    writeLog(LogType::error, "Error while parsing line %{public}lu, column %{public}lu",
             recordBeingRead_, currentColumn_);
    const auto kind = error.kind == CsvErrorKind::readFailed ? ReaderErrorKind::unreadableFile
                                                             : ReaderErrorKind::malformedContent;
    postDidFail(ReaderError{{kind, error.message, fileURL(), error.line, error.byteOffset},
                            std::string(csvErrorDomain),
                            static_cast<std::int64_t>(error.kind)});
}

void TextReader::chooseHeaderRow() {
    const auto& rows = dataRows();
    if (rows.size() < 2) return;
    const std::size_t searched = std::min(rows.size(), kHeaderSearchRowCount);
    for (std::size_t index = 0; index < searched; ++index) {
        if (rows[index].empty()) continue;
        setHeaderRowIndex(static_cast<std::int64_t>(index));
        if (index + 1 < rows.size()) setExampleDataRowIndex(static_cast<std::int64_t>(index + 1));
        return;
    }
}

}  // namespace pelkora
