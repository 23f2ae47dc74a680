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

// A cell value as table text: line breaks shown as "⏎"; the table escapes other controls.
std::string tableText(const DataCellView& cell) {
    std::string text;
    if (cell.kind() == CellKind::text) {
        for (char c : cell.text()) {
            if (c == '\n' || c == '\r') {
                text += "⏎";
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

std::string indexOrNull(std::int64_t index) {
    return index == TabularDataReader::kNotFound ? "null" : std::to_string(index);
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

void printTable(const TabularDataReader& reader, const std::string& sheet, std::size_t limit) {
    const auto& rows = reader.dataRows();
    if (const auto* text = dynamic_cast<const TextReader*>(&reader)) {
        std::cout << "encoding: " << text->stringEncoding().displayName() << " ["
                  << text->stringEncoding().ianaName() << "] ("
                  << sourceText(text->stringEncodingSource()) << ")\n"
                  << "field delimiter: \"" << escapedControls(text->fieldDelimiter()) << "\" ("
                  << sourceText(text->fieldDelimiterSource()) << ")\n"
                  << "line delimiter: \"" << escapedControls(text->lineDelimiter()) << "\"\n";
    } else {
        std::cout << "sheet: " << escapedControls(sheet) << "\n";
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
    // Columns as wide as their longest text: cut to the terminal's width on a terminal, whole
    // in a file or pipe.
    std::vector<std::vector<std::string>> table;
    auto& titles = table.emplace_back(static_cast<std::size_t>(columnCount) + 1);
    for (std::int64_t column = 0; column < columnCount; ++column)
        titles[static_cast<std::size_t>(column) + 1] = formattedColumnIndex(column, 2);
    for (std::size_t index = 0; index < shown; ++index) {
        const auto& row = rows[index];
        const bool header = static_cast<std::int64_t>(index) == reader.headerRowIndex();
        auto& texts = table.emplace_back(static_cast<std::size_t>(columnCount) + 1);
        texts[0] = std::to_string(index) + (header ? "*" : "");
        for (const auto& cell : row)
            texts[static_cast<std::size_t>(cell.columnIndex) + 1] = tableText(cell);
    }
    const auto& output = standardOutput();
    for (const auto& line :
         tableLines(table, output.isTerminal ? std::optional(output.columns) : std::nullopt, " | "))
        std::cout << line << '\n';
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
            if (utf8::codePointCount(*delimiter) != 1 || *delimiter == "\"" || *delimiter == "\n" ||
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
    const bool asJson = arguments.size() == 1 && arguments[0] == "--json";
    if (!arguments.empty() && !asJson) {
        printError("encodings: takes no arguments but --json");
        return kUsageError;
    }
    // The encoding page's menu: groups parted by separators ("-"; --json leaves them out).
    std::vector<std::vector<std::string>> table;
    std::string json = "[";
    for (const auto& item : encodingPopUpItems()) {
        if (item.isSeparator()) {
            table.push_back({"-"});
            continue;
        }
        table.push_back({item.title, item.encoding->ianaName()});
        json += std::string(json.size() > 1 ? ",\n " : "\n ") +
                "{\"title\": " + json::quoted(item.title) +
                ", \"name\": " + json::quoted(item.encoding->ianaName()) + "}";
    }
    if (asJson) {
        std::cout << json << "\n]\n";
        return kSuccess;
    }
    printListing(table);
    return kSuccess;
}

}  // namespace pelkora::cli

namespace pelkora::cli {

int runSheets(const std::vector<std::string>& arguments, const GlobalOptions&) {
    bool asJson = false;
    std::vector<std::string> operands;
    for (const auto& argument : arguments) {
        if (argument == "--json") {
            asJson = true;
        } else {
            operands.push_back(argument);
        }
    }
    if (operands.size() != 1 || operands[0].starts_with("-")) {
        printError("sheets: name one workbook");
        return kUsageError;
    }
    const std::filesystem::path file = operands[0];
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
    if (asJson) {
        std::cout << "[";
        const auto& sheets = reader.sheets();
        for (std::size_t index = 0; index < sheets.size(); ++index) {
            std::cout << (index > 0 ? ",\n " : "\n ") << "{\"id\": " << sheets[index].sheetId
                      << ", \"name\": " << json::quoted(sheets[index].displayName) << "}";
        }
        std::cout << "\n]\n";
        return kSuccess;
    }
    std::vector<std::vector<std::string>> table;
    for (const auto& sheet : reader.sheets())
        table.push_back({std::to_string(sheet.sheetId), sheet.displayName});
    printListing(table);
    return kSuccess;
}

}  // namespace pelkora::cli
