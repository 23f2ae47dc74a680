// pelkora rows: read a table file through the import session and print its rows.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>

#include "Command.h"
#include "CommandHelp.h"
#include "CommandLineSession.h"
#include "CommandOptions.h"
#include "StandardStreams.h"
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
        line +=
            "\"encoding\": " + json::quoted(text->stringEncoding().ianaName()) +
            ", \"fieldDelimiter\": " + json::quoted(text->fieldDelimiter()) +
            ", \"lineDelimiter\": " + json::quoted(text->lineDelimiter()) +
            ", \"backslashEscapes\": " + (text->recognizesBackslashEscapes() ? "true" : "false") +
            ", \"invalidBytes\": " + std::to_string(text->replacedByteSequences()) + ", ";
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

// The widest run of columns without a cell that is still shown as empty columns; a wider one
// is left out (the column letters tell where). A lone cell at XFD1 would otherwise print
// 16,383 empty columns on every line.
constexpr std::int64_t kWidestEmptyColumnRun = 8;

// The columns of the table, in order: those where the first `shown` rows have a cell, up to the
// last one holding a value, with the short runs of empty columns between them. The table never
// has a column for each index up to the last one.
std::vector<std::int64_t> shownColumns(const std::vector<DataRow>& rows, std::size_t shown) {
    std::vector<std::int64_t> present;
    std::size_t distinct = 0;
    const auto removeRepeats = [&present, &distinct] {
        std::sort(present.begin(), present.end());
        present.erase(std::unique(present.begin(), present.end()), present.end());
        distinct = present.size();
    };
    std::int64_t lastWithValue = -1;
    for (std::size_t index = 0; index < shown; ++index) {
        for (const auto& cell : rows[index]) {
            present.push_back(cell.columnIndex);
            if (!tableText(cell).empty()) lastWithValue = std::max(lastWithValue, cell.columnIndex);
        }
        // The list stays within twice the distinct columns.
        if (present.size() > 2 * distinct + 64) removeRepeats();
    }
    removeRepeats();
    std::vector<std::int64_t> columns;
    std::int64_t previous = -1;
    for (const std::int64_t column : present) {
        if (column > lastWithValue) break;
        if (column - previous - 1 <= kWidestEmptyColumnRun) {
            for (std::int64_t between = previous + 1; between < column; ++between)
                columns.push_back(between);
        }
        columns.push_back(column);
        previous = column;
    }
    return columns;
}

void printTable(const TabularDataReader& reader, const std::string& sheet, std::size_t limit) {
    const auto& rows = reader.dataRows();
    if (const auto* text = dynamic_cast<const TextReader*>(&reader)) {
        std::cout << "encoding: " << text->stringEncoding().displayName() << " ["
                  << text->stringEncoding().ianaName() << "] ("
                  << sourceText(text->stringEncodingSource()) << ")\n"
                  << "field delimiter: \"" << escapedControls(text->fieldDelimiter()) << "\" ("
                  << sourceText(text->fieldDelimiterSource()) << ")\n"
                  << "line delimiter: \"" << escapedControls(text->lineDelimiter()) << "\"\n"
                  << "backslash escapes: " << (text->recognizesBackslashEscapes() ? "on" : "off")
                  << "\n";
        if (text->replacedByteSequences() > 0)
            std::cout << "invalid bytes: " << text->replacedByteSequences() << " (read as “�”)\n";
    } else {
        std::cout << "sheet: " << escapedControls(sheet) << "\n";
    }
    std::cout << "header row index: " << indexOrNull(reader.headerRowIndex()) << "\n"
              << "example row index: " << indexOrNull(reader.exampleDataRowIndex()) << "\n"
              << "rows: " << rows.size() << "\n\n";
    const std::size_t shown = std::min(limit, rows.size());
    const auto columns = shownColumns(rows, shown);
    // Columns as wide as their longest text: cut to the terminal's width on a terminal, whole
    // in a file or pipe.
    std::vector<std::vector<std::string>> table;
    auto& titles = table.emplace_back(columns.size() + 1);
    for (std::size_t position = 0; position < columns.size(); ++position)
        titles[position + 1] = formattedColumnIndex(columns[position], 2);
    for (std::size_t index = 0; index < shown; ++index) {
        const auto& row = rows[index];
        const bool header = static_cast<std::int64_t>(index) == reader.headerRowIndex();
        auto& texts = table.emplace_back(columns.size() + 1);
        texts[0] = std::to_string(index) + (header ? "*" : "");
        for (const auto& cell : row) {
            const auto found = std::lower_bound(columns.begin(), columns.end(), cell.columnIndex);
            if (found != columns.end() && *found == cell.columnIndex)
                texts[static_cast<std::size_t>(found - columns.begin()) + 1] = tableText(cell);
        }
    }
    const auto& output = standardOutput();
    for (const auto& line :
         tableLines(table, output.isTerminal ? std::optional(output.columns) : std::nullopt, " | "))
        std::cout << line << '\n';
    if (shown < rows.size()) std::cout << "… " << rows.size() - shown << " more rows\n";
}

int runRows(RowsOptions options, const GlobalOptions& globalOptions) {
    StandardInputFile standardInput;
    if (!standardInput.replaceDash(options.file)) return kUsageError;
    if (!allFilesExist({options.file})) return kUsageError;

    CommandLineSession run(globalOptions, !options.quiet);
    run.session().setTextReadingChoices({options.encoding, options.delimiter});
    if (auto failure = run.readTable(options.file, options.sheet)) {
        printError(standardInput.displayName(options.file) + ": " + *failure);
        return kUsageError;
    }
    const auto reader = run.session().currentReader();
    std::string sheet;
    if (const auto* workbook = dynamic_cast<const ExcelReader*>(reader.get())) {
        sheet = workbook->parsedSheetName();
    } else if (options.sheet) {
        printError("rows: --sheet applies to Excel workbooks (.xlsx), and " +
                   standardInput.displayName(options.file) + " is a text file");
        return kUsageError;
    }
    // What the reader survived (bytes that are not valid in the encoding …) goes to standard
    // error, so that the rows on standard output stay as they are.
    for (const auto& entry : reader->parseLog()) {
        if (entry.severity == ParseLogSeverity::warning)
            printWarning(standardInput.displayName(options.file) + ": " + entry.message);
    }
    const std::size_t limit = options.limit.value_or(std::numeric_limits<std::size_t>::max());
    if (options.json) {
        printJson(*reader, sheet, limit);
    } else {
        printTable(*reader, sheet, limit);
    }
    return kSuccess;
}

int runEncodings(bool asJson) {
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

int runSheets(std::filesystem::path file, bool asJson) {
    StandardInputFile standardInput;
    if (!standardInput.replaceDash(file)) return kUsageError;
    if (!allFilesExist({file})) return kUsageError;
    const std::string name = standardInput.displayName(file);
    if (!ExcelReader::isOfficeOpenXMLSpreadsheet(file)) {
        printError(name + ": not an Excel workbook (.xlsx)");
        return kUsageError;
    }
    const ExcelReader reader(file);
    if (reader.sheets().empty()) {
        printError(name + ": the workbook lists no sheets" +
                   (reader.examinationError() ? ": " + *reader.examinationError() : std::string()));
        return kUsageError;
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

}  // namespace

void addRowsCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<RowsOptions>();
    CLI::App* command = app.add_subcommand("rows");
    describe(*command,
             {"Print the rows of a table file as the importer reads them",
              "Reads a table file as the importer does (encoding and delimiter detection, "
              "header row) and prints its rows: a table, or JSON Lines with --json (a first "
              "line describing the file, then one object per row). For a text file the first "
              "line holds encoding, fieldDelimiter, lineDelimiter, backslashEscapes (true when "
              "a backslash escapes the next character, which is only when the file escapes "
              "quotes as \\\" and never doubles them; otherwise backslashes are text) and "
              "invalidBytes (byte sequences not valid in the encoding, each read as U+FFFD and "
              "reported by row and column on standard error). A progress bar shows on a "
              "terminal unless --quiet.",
              {{"pelkora rows contacts.csv", "The rows as a table, the header row marked *."},
               {"pelkora rows --json --limit 5 --encoding windows-1252 old.csv",
                "The first five rows as JSON Lines, read as Windows Latin 1."},
               {"pelkora rows --sheet People contacts.xlsx", "The rows of a workbook's sheet."}}});
    command
        ->add_option_function<std::string>(
            "--encoding",
            [options](const std::string& name) { options->encoding = TextEncoding::named(name); },
            "Read the text in this encoding instead of the detected one (\"pelkora "
            "encodings\" lists them).")
        ->type_name("NAME")
        ->check(encodingNameCheck());
    command
        ->add_option("--delimiter", options->delimiter,
                     "The field delimiter, one character other than a quote or a line break "
                     "(tab or \\t for a tab).")
        ->type_name("C")
        ->transform(CLI::Validator(
            [](std::string& delimiter) -> std::string {
                if (delimiter == "\\t" || delimiter == "tab") delimiter = "\t";
                if (utf8::codePointCount(delimiter) != 1 || delimiter == "\"" ||
                    delimiter == "\n" || delimiter == "\r")
                    return "the delimiter is one character other than a quote or a line break";
                return {};
            },
            ""));
    command
        ->add_option("--sheet", options->sheet,
                     "The sheet of an Excel workbook, by name or number; an error for a text "
                     "file.")
        ->type_name("NAME|ID");
    command->add_option("--limit", options->limit, "Print at most N rows.")
        ->type_name("N")
        ->check(countCheck(0));
    command->add_flag("--json", options->json, "Print JSON Lines instead of a table.");
    command->add_flag("--quiet", options->quiet, "No progress bar.");
    command
        ->add_option("FILE", options->file,
                     "A CSV/TSV text file or an Excel workbook; - reads standard input.")
        ->required();
    setAction(*command, context, [options, &context] { return runRows(*options, context.global); });
}

void addEncodingsCommand(CLI::App& app, CommandContext& context) {
    auto asJson = std::make_shared<bool>(false);
    CLI::App* command = app.add_subcommand("encodings");
    describe(*command, {"List the encodings --encoding accepts",
                        "The encodings as the encoding page lists them: title, then name; "
                        "\"-\" separates the common ones from the rest.",
                        {{"pelkora encodings | grep -i latin", "The Latin encodings."}}});
    command->add_flag("--json", *asJson, "Print a JSON array (title, name), no separators.");
    setAction(*command, context, [asJson] { return runEncodings(*asJson); });
}

void addSheetsCommand(CLI::App& app, CommandContext& context) {
    auto file = std::make_shared<std::filesystem::path>();
    CLI::App* command = app.add_subcommand("sheets");
    describe(*command,
             {"List the sheets of an Excel workbook",
              "The sheets of an Excel workbook (.xlsx) in workbook order: number "
              "and name, as --sheet takes them.",
              {{"pelkora sheets contacts.xlsx", "Prints \"1<tab>Overview\" and so on."}}});
    auto asJson = std::make_shared<bool>(false);
    command->add_flag("--json", *asJson, "Print a JSON array (id, name).");
    command->add_option("FILE", *file, "The workbook; - reads standard input.")->required();
    setAction(*command, context, [file, asJson] { return runSheets(*file, *asJson); });
}

}  // namespace pelkora::cli
