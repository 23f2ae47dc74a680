// pelkora open: classify files and open them through the import session.

#include <algorithm>
#include <filesystem>

#include "Command.h"
#include "CommandLineSession.h"
#include "MappingSteps.h"
#include "support/Json.h"

namespace pelkora::cli {
int runOpen(const std::vector<std::string>& arguments, const GlobalOptions& options) {
    std::vector<std::filesystem::path> files;
    int openAsTag = static_cast<int>(OpenAsFileType::determineAutomatically);
    bool asJson = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const auto& argument = arguments[index];
        if (argument == "--as") {
            if (index + 1 == arguments.size()) {
                printError("open: --as needs a value: auto, text, xlsx or vcard");
                return kUsageError;
            }
            const auto& value = arguments[++index];
            const auto tag = openAsTagNamed(value);
            if (!tag) {
                printError("open: unknown --as value “" + value +
                           "”: use auto, text, xlsx or vcard");
                return kUsageError;
            }
            openAsTag = *tag;
        } else if (argument == "--json") {
            asJson = true;
        } else if (argument.starts_with("--")) {
            printError("open: unknown option “" + argument + "”");
            return kUsageError;
        } else {
            files.emplace_back(argument);
        }
    }
    if (files.empty()) {
        printError("open: name at least one file");
        return kUsageError;
    }
    // A missing file would be classified as an unknown format; say what is really wrong.
    if (!allFilesExist(files)) return kFailure;

    CommandLineSession run(options, false);
    run.session().setOpenAsFileType(openAsTag);
    run.open(files);
    const bool opened = run.runUntilPage(
        {"SetTextEncodingViewController", "FieldMappingViewController", "VCFScanViewController"});
    if (!opened && !run.frontEnd().alerts.empty()) {
        printError(files.front().string() + ": " + run.alertMessage());
        return kFailure;
    }
    // What each opened file is: ("workbook", "text" or "vcard") with the sheet count of a
    // workbook; the files passed over follow on stderr.
    std::vector<std::vector<std::string>> openedFiles;
    std::string json = "[";
    auto add = [&](const std::filesystem::path& file, std::string_view type, std::string_view text,
                   std::optional<std::size_t> sheets) {
        openedFiles.push_back({file.string() + ":", std::string(text)});
        json += std::string(json.size() > 1 ? ",\n " : "\n ") +
                "{\"file\": " + json::quoted(file.string()) + ", \"type\": " + json::quoted(type) +
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
    if (asJson) {
        std::cout << json << (json.size() > 1 ? "\n]\n" : "]\n") << std::flush;
    } else {
        for (const auto& row : openedFiles)
            std::cout << escapedControls(row[0]) << ' ' << row[1] << '\n';
        std::cout << std::flush;
    }
    for (std::size_t index = 0; index < files.size(); ++index) {
        if (!vCards.empty()) {
            if (std::find(vCards.begin(), vCards.end(), files[index]) == vCards.end()) {
                printError(files[index].string() + ": not a vCard, skipped");
            }
        } else if (index > 0) {
            printError(files[index].string() +
                       ": ignored (tabular files are imported one at a time)");
        }
    }
    return kSuccess;
}

}  // namespace pelkora::cli
