// pelkora open: classify files and open them through the import session.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>

#include "Command.h"
#include "CommandHelp.h"
#include "CommandLineSession.h"
#include "CommandOptions.h"
#include "MappingSteps.h"
#include "StandardStreams.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

struct OpenOptions {
    std::vector<std::filesystem::path> files;
    int openAs = static_cast<int>(OpenAsFileType::determineAutomatically);
    bool json = false;
};

int runOpen(OpenOptions options, const GlobalOptions& globalOptions) {
    auto& files = options.files;
    StandardInputFile standardInput;
    if (!standardInput.replaceDash(files)) return kUsageError;
    // A missing file would be classified as an unknown format; say what is really wrong.
    if (!allFilesExist(files)) return kUsageError;
    auto name = [&](const std::filesystem::path& file) { return standardInput.displayName(file); };

    CommandLineSession run(globalOptions, false);
    run.session().setOpenAsFileType(options.openAs);
    run.open(files);
    const bool opened = run.runUntilPage(
        {"SetTextEncodingViewController", "FieldMappingViewController", "VCFScanViewController"});
    if (!opened && !run.frontEnd().alerts.empty()) {
        printError(name(files.front()) + ": " + run.alertMessage());
        return kUsageError;
    }
    // What each opened file is: ("workbook", "text" or "vcard") with the sheet count of a
    // workbook; the files passed over follow on stderr.
    std::vector<std::vector<std::string>> openedFiles;
    std::string json = "[";
    auto add = [&](const std::filesystem::path& file, std::string_view type, std::string_view text,
                   std::optional<std::size_t> sheets) {
        openedFiles.push_back({name(file) + ":", std::string(text)});
        json += std::string(json.size() > 1 ? ",\n " : "\n ") +
                "{\"file\": " + json::quoted(name(file)) + ", \"type\": " + json::quoted(type) +
                (sheets ? ", \"sheets\": " + std::to_string(*sheets) : std::string()) + "}";
    };
    if (const auto& reader = run.session().excelReader()) {
        const auto& sheets = run.session().sheetChoices();
        add(reader->fileURL(), "workbook",
            "Excel workbook" + (sheets.empty() ? std::string()
                                               : " (" + std::to_string(sheets.size()) + " sheets)"),
            sheets.empty() ? std::nullopt : std::optional(sheets.size()));
    }
    if (const auto& reader = run.session().textReader()) add(reader->fileURL(), "text", "text", {});
    const auto& vCards = run.session().vCardUrls();
    for (const auto& file : vCards) add(file, "vcard", "vCard", {});
    if (options.json) {
        std::cout << json << (json.size() > 1 ? "\n]\n" : "]\n") << std::flush;
    } else {
        for (const auto& row : openedFiles)
            std::cout << escapedControls(row[0]) << ' ' << row[1] << '\n';
        std::cout << std::flush;
    }
    for (std::size_t index = 0; index < files.size(); ++index) {
        if (!vCards.empty()) {
            if (std::find(vCards.begin(), vCards.end(), files[index]) == vCards.end()) {
                printError(name(files[index]) + ": not a vCard, skipped");
            }
        } else if (index > 0) {
            printError(name(files[index]) + ": ignored (tabular files are imported one at a time)");
        }
    }
    return kSuccess;
}

}  // namespace

void addOpenCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<OpenOptions>();
    CLI::App* command = app.add_subcommand("open");
    describe(*command,
             {"Classify files and open them as the importer would",
              "Opens the first file when it is a table, or every vCard of a batch, and prints "
              "each file's detected type, or the reason it cannot be opened. The name decides "
              "where it says something definite; a \".txt\" or unknown name, and standard "
              "input, leave it to the content (a vCard saved as \".txt\" is a vCard). --as "
              "(also on map, import, scan and export-vcard) says what the file is.",
              {{"pelkora open contacts.csv", "Prints \"contacts.csv: text\"."},
               {"pelkora open --as=vcard notes.txt", "Opens the text file as vCards."},
               {"pelkora open - < export", "What standard input holds."}}});
    addOpenAsOption(*command, options->openAs);
    command->add_flag("--json", options->json,
                      "Print a JSON array: file, type (workbook, text or vcard), sheets.");
    command->add_option("FILE", options->files, "The files to open; - reads standard input.")
        ->required();
    setAction(*command, context, [options, &context] { return runOpen(*options, context.global); });
}

}  // namespace pelkora::cli
