// pelkora open: classify files and open them through the import session.

#include <algorithm>
#include <filesystem>

#include "Command.h"
#include "CommandLineSession.h"
#include "MappingSteps.h"

namespace pelkora::cli {
int runOpen(const std::vector<std::string>& arguments, const GlobalOptions& options) {
    std::vector<std::filesystem::path> files;
    int openAsTag = static_cast<int>(OpenAsFileType::determineAutomatically);
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
    if (const auto& reader = run.session().excelReader()) {
        std::cout << reader->fileURL().string() << ": Excel workbook";
        const auto& sheets = run.session().sheetChoices();
        if (!sheets.empty()) std::cout << " (" << sheets.size() << " sheets)";
        std::cout << std::endl;
    }
    if (const auto& reader = run.session().textReader()) {
        std::cout << reader->fileURL().string() << ": text" << std::endl;
    }
    const auto& vCards = run.session().vCardUrls();
    for (const auto& file : vCards) std::cout << file.string() << ": vCard" << std::endl;
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
