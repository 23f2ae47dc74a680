// pelkora rows: read a table file through the import session and print its rows.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>

#include "Command.h"
#include "CommandLineSession.h"
#include "input/DataCell.h"
#include "input/ExcelReader.h"
#include "input/TextReader.h"
#include "support/Json.h"
#include "support/Utf8.h"
#include "text/EncodingList.h"

namespace pelkora::cli {
namespace {

struct RowsOptions {
    std::filesystem::path file;
    std::optional<TextEncoding> encoding;
    std::optional<std::string> delimiter;
    std::optional<std::string> sheet;
    std::optional<std::size_t> limit;
    bool json = false;
    bool quiet = false;
};

constexpr std::size_t kMaximumColumnWidth = 32;

// A cell value as JSON: string, number, boolean, ISO 8601 date text or {"pictureBytes": n}.
std::string jsonValue(const DataCellView& cell) {
    return std::visit(
        [](const auto& value) -> std::string {
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::monostate>) {
                return "null";
            } else if constexpr (std::is_same_v<Value, std::string_view>) {
                return json::quoted(value);
            } else if constexpr (std::is_same_v<Value, double>) {
                return json::number(value);
            } else if constexpr (std::is_same_v<Value, bool>) {
                return value ? "true" : "false";
            } else if constexpr (std::is_same_v<Value, CellDate>) {
                return json::quoted(isoDateText(value));
            } else {
                return "{\"pictureBytes\": " + std::to_string(value.size()) + "}";
            }
        },
        cell.value);
}

// A cell value as table text: line breaks shown as "⏎", long texts cut with "…".
std::string tableText(const DataCellView& cell) {
    std::string text;
    if (cell.kind() == CellKind::text) {
        for (char c : cell.text()) {
            if (c == '\n' || c == '\r') {
                text += "⏎";
            } else if (c == '\t') {
                text += ' ';
            } else {
                text += c;
            }
        }
    } else if (cell.kind() == CellKind::date) {
        text = isoDateText(std::get<CellDate>(cell.value));
    } else if (cell.kind() == CellKind::picture) {
        text = "<picture>";
    } else if (cell.kind() != CellKind::none) {
        text = jsonValue(cell);
    }
    return text;
}

// Display width in characters, good enough for aligning a table.
std::size_t displayWidth(std::string_view text) {
    return utf8::codePointCount(text);
}

std::string fitted(std::string text, std::size_t width) {
    if (displayWidth(text) > width)
        text = std::string(utf8::firstCodePoints(text, width - 1)) + "…";
    return text + std::string(width - std::min(width, displayWidth(text)), ' ');
}

std::string indexOrNull(std::int64_t index) {
    return index == TabularDataReader::kNotFound ? "null" : std::to_string(index);
}

std::string escapedDelimiter(const std::string& delimiter) {
    if (delimiter == "\t") return "\\t";
    if (delimiter == "\r\n") return "\\r\\n";
    if (delimiter == "\r") return "\\r";
    if (delimiter == "\n") return "\\n";
    return delimiter;
}

std::string_view sourceText(OptionSource source) {
    switch (source) {
        case OptionSource::defaultValue:
            return "default";
        case OptionSource::detected:
            return "detected";
        case OptionSource::setByUser:
            return "chosen";
    }
    return "";
}

void printJson(const TabularDataReader& reader, const std::string& sheet, std::size_t limit) {
    const auto& rows = reader.dataRows();
    std::string line = "{";
    if (const auto* text = dynamic_cast<const TextReader*>(&reader)) {
        line += "\"encoding\": " + json::quoted(text->stringEncoding().ianaName()) +
                ", \"fieldDelimiter\": " + json::quoted(text->fieldDelimiter()) +
                ", \"lineDelimiter\": " + json::quoted(text->lineDelimiter()) + ", ";
    } else {
        line += "\"sheet\": " + json::quoted(sheet) + ", ";
    }
    line += "\"headerRowIndex\": " + indexOrNull(reader.headerRowIndex()) +
            ", \"exampleDataRowIndex\": " + indexOrNull(reader.exampleDataRowIndex()) +
            ", \"rowCount\": " + std::to_string(rows.size()) + "}\n";
    std::cout << line;
    for (std::size_t index = 0; index < rows.size() && index < limit; ++index) {
        const auto& row = rows[index];
        line = "{\"rowIndex\": " + std::to_string(row.rowIndex()) +
               ", \"empty\": " + (row.empty() ? "true" : "false") + ", \"cells\": [";
        bool first = true;
        for (const auto& cell : row) {
            if (!first) line += ", ";
            first = false;
            line += "[" + std::to_string(cell.columnIndex) + ", " + jsonValue(cell) + "]";
        }
        line += "]}\n";
        std::cout << line;
    }
}

void printLine(std::string line) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::cout << line << '\n';
}

void printTable(const TabularDataReader& reader, const std::string& sheet, std::size_t limit) {
    const auto& rows = reader.dataRows();
    if (const auto* text = dynamic_cast<const TextReader*>(&reader)) {
        std::cout << "encoding: " << text->stringEncoding().displayName() << " ["
                  << text->stringEncoding().ianaName() << "] ("
                  << sourceText(text->stringEncodingSource()) << ")\n"
                  << "field delimiter: \"" << escapedDelimiter(text->fieldDelimiter()) << "\" ("
                  << sourceText(text->fieldDelimiterSource()) << ")\n"
                  << "line delimiter: \"" << escapedDelimiter(text->lineDelimiter()) << "\"\n";
    } else {
        std::cout << "sheet: " << sheet << "\n";
    }
    std::cout << "header row index: " << indexOrNull(reader.headerRowIndex()) << "\n"
              << "example row index: " << indexOrNull(reader.exampleDataRowIndex()) << "\n"
              << "rows: " << rows.size() << "\n\n";
    const std::size_t shown = std::min(limit, rows.size());
    std::int64_t columnCount = 0;
    for (std::size_t index = 0; index < shown; ++index) {
        for (const auto& cell : rows[index])
            columnCount = std::max(columnCount, cell.columnIndex + 1);
    }
    std::vector<std::size_t> widths(static_cast<std::size_t>(columnCount), 1);
    for (std::int64_t column = 0; column < columnCount; ++column) {
        widths[column] = displayWidth(formattedColumnIndex(column, 2));
    }
    for (std::size_t index = 0; index < shown; ++index) {
        for (const auto& cell : rows[index]) {
            auto& width = widths[static_cast<std::size_t>(cell.columnIndex)];
            width = std::min(kMaximumColumnWidth, std::max(width, displayWidth(tableText(cell))));
        }
    }
    const std::size_t numberWidth = std::max<std::size_t>(3, std::to_string(shown).size() + 1);
    std::string line = fitted("", numberWidth);
    for (std::int64_t column = 0; column < columnCount; ++column) {
        line += " | " + fitted(formattedColumnIndex(column, 2), widths[column]);
    }
    printLine(std::move(line));
    for (std::size_t index = 0; index < shown; ++index) {
        const auto& row = rows[index];
        const bool header = static_cast<std::int64_t>(index) == reader.headerRowIndex();
        line = fitted(std::to_string(index) + (header ? "*" : ""), numberWidth);
        std::vector<std::string> texts(static_cast<std::size_t>(columnCount));
        for (const auto& cell : row)
            texts[static_cast<std::size_t>(cell.columnIndex)] = tableText(cell);
        for (std::int64_t column = 0; column < columnCount; ++column) {
            line += " | " + fitted(texts[column], widths[column]);
        }
        printLine(std::move(line));
    }
    if (shown < rows.size()) std::cout << "… " << rows.size() - shown << " more rows\n";
}

std::optional<RowsOptions> parseOptions(const std::vector<std::string>& arguments) {
    RowsOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const auto& argument = arguments[index];
        auto value = [&]() -> std::optional<std::string> {
            if (index + 1 == arguments.size()) {
                printError("rows: " + argument + " needs a value");
                return std::nullopt;
            }
            return arguments[++index];
        };
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "--encoding") {
            auto name = value();
            if (!name) return std::nullopt;
            options.encoding = TextEncoding::named(*name);
            if (!options.encoding) {
                printError("rows: unknown encoding “" + *name +
                           "”. Run “pelkora encodings” for the list.");
                return std::nullopt;
            }
        } else if (argument == "--sheet") {
            auto sheet = value();
            if (!sheet) return std::nullopt;
            options.sheet = *sheet;
        } else if (argument == "--delimiter") {
            auto delimiter = value();
            if (!delimiter) return std::nullopt;
            if (*delimiter == "\\t" || *delimiter == "tab") *delimiter = "\t";
            if (displayWidth(*delimiter) != 1 || *delimiter == "\"" || *delimiter == "\n" ||
                *delimiter == "\r") {
                printError(
                    "rows: the delimiter is one character other than a quote or a line break");
                return std::nullopt;
            }
            options.delimiter = *delimiter;
        } else if (argument == "--limit") {
            auto text = value();
            if (!text) return std::nullopt;
            std::size_t limit = 0;
            auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), limit);
            if (error != std::errc() || end != text->data() + text->size()) {
                printError("rows: --limit takes a number of rows, not “" + *text + "”");
                return std::nullopt;
            }
            options.limit = limit;
        } else if (argument.starts_with("--")) {
            printError("rows: unknown option “" + argument + "”");
            return std::nullopt;
        } else if (options.file.empty()) {
            options.file = argument;
        } else {
            printError("rows: name one file");
            return std::nullopt;
        }
    }
    if (options.file.empty()) {
        printError("rows: name the file to read");
        return std::nullopt;
    }
    return options;
}

}  // namespace

int runRows(const std::vector<std::string>& arguments, const GlobalOptions& globalOptions) {
    const auto options = parseOptions(arguments);
    if (!options) return kUsageError;
    if (!allFilesExist({options->file})) return kFailure;

    CommandLineSession run(globalOptions, !options->quiet);
    run.session().setTextReadingChoices({options->encoding, options->delimiter});
    if (auto failure = run.readTable(options->file, options->sheet)) {
        printError(options->file.string() + ": " + *failure);
        return kFailure;
    }
    const auto reader = run.session().currentReader();
    std::string sheet;
    if (const auto* workbook = dynamic_cast<const ExcelReader*>(reader.get()))
        sheet = workbook->parsedSheetName();
    const std::size_t limit = options->limit.value_or(std::numeric_limits<std::size_t>::max());
    if (options->json) {
        printJson(*reader, sheet, limit);
    } else {
        printTable(*reader, sheet, limit);
    }
    return kSuccess;
}

int runEncodings(const std::vector<std::string>& arguments, const GlobalOptions&) {
    if (!arguments.empty()) {
        printError("encodings: takes no arguments");
        return kUsageError;
    }
    for (const auto& item : encodingPopUpItems()) {
        if (item.isSeparator()) {
            std::cout << "-\n";
        } else {
            std::cout << item.title << '\t' << item.encoding->ianaName() << '\n';
        }
    }
    return kSuccess;
}

}  // namespace pelkora::cli

namespace pelkora::cli {

int runSheets(const std::vector<std::string>& arguments, const GlobalOptions&) {
    if (arguments.size() != 1 || arguments[0].starts_with("-")) {
        printError("sheets: name one workbook");
        return kUsageError;
    }
    const std::filesystem::path file = arguments[0];
    if (!allFilesExist({file})) return kFailure;
    if (!ExcelReader::isOfficeOpenXMLSpreadsheet(file)) {
        printError(file.string() + ": not an Excel workbook (.xlsx)");
        return kFailure;
    }
    const ExcelReader reader(file);
    if (reader.sheets().empty()) {
        printError(file.string() + ": the workbook lists no sheets" +
                   (reader.examinationError() ? ": " + *reader.examinationError() : std::string()));
        return kFailure;
    }
    // The sheets as the sheet chooser lists them: workbook order, with the number --sheet takes.
    for (const auto& sheet : reader.sheets())
        std::cout << sheet.sheetId << '\t' << sheet.displayName << '\n';
    return kSuccess;
}

}  // namespace pelkora::cli
