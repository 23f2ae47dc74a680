// pelkora scan: what the vCard scan page shows, without importing anything. The files are
// opened and scanned exactly as for an import: cards per file, the groups their CATEGORIES
// name, the cards other programs wrote, the files passed over and why.

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "CommandLineSession.h"
#include "InputFiles.h"
#include "MappingSteps.h"
#include "VCardScanSteps.h"
#include "session/ImportSession.h"
#include "session/VCFScanPage.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

struct ScanOptions {
    std::vector<std::filesystem::path> operands;
    int openAs = static_cast<int>(OpenAsFileType::determineAutomatically);
    bool json = false;
};

std::optional<ScanOptions> parseOptions(const std::vector<std::string>& arguments) {
    ScanOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "--as") {
            if (index + 1 == arguments.size()) {
                printError("scan: --as needs a value: auto, text, xlsx or vcard");
                return std::nullopt;
            }
            const std::string& value = arguments[++index];
            const auto tag = openAsTagNamed(value);
            if (!tag) {
                printError("scan: unknown --as value “" + value +
                           "”: use auto, text, xlsx or vcard");
                return std::nullopt;
            }
            options.openAs = *tag;
        } else if (argument.size() > 1 && argument.starts_with("-")) {
            printError("scan: unknown option “" + argument + "”");
            return std::nullopt;
        } else {
            options.operands.emplace_back(argument);
        }
    }
    if (options.operands.empty()) {
        printError("scan: name the vCard files or folders to scan");
        return std::nullopt;
    }
    return options;
}

void printJson(const VCardScanResults& results) {
    std::cout << "{\"cards\": " << results.cards << ", \"files\": [";
    for (std::size_t index = 0; index < results.cardsPerFile.size(); ++index) {
        const auto& [file, cards] = results.cardsPerFile[index];
        std::cout << (index > 0 ? ", " : "") << "{\"file\": " << json::quoted(file.string())
                  << ", \"cards\": " << cards << "}";
    }
    std::cout << "], \"filesSkipped\": [";
    for (std::size_t index = 0; index < results.skippedFiles.size(); ++index) {
        const auto& [file, reason] = results.skippedFiles[index];
        std::cout << (index > 0 ? ", " : "") << "{\"file\": " << json::quoted(file.string())
                  << ", \"reason\": " << json::quoted(reason) << "}";
    }
    std::cout << "], \"groups\": [";
    for (std::size_t index = 0; index < results.groups.size(); ++index)
        std::cout << (index > 0 ? ", " : "") << json::quoted(results.groups[index]);
    std::cout << "], \"cardsFromOtherPrograms\": " << results.cardsFromOtherPrograms << "}\n";
}

void printText(const VCardScanResults& results) {
    for (const auto& [file, cards] : results.cardsPerFile)
        std::cout << escapedControls(file.string()) << ": " << cards
                  << (cards == 1 ? " card\n" : " cards\n");
    for (const auto& [file, reason] : results.skippedFiles)
        std::cout << escapedControls(file.string()) << ": skipped (" << escapedControls(reason)
                  << ")\n";
    if (results.groups.empty()) {
        std::cout << VCFScanPage::noGroupsText() << '\n';
    } else {
        std::cout << "Groups (" << results.groups.size() << "):\n";
        for (const auto& group : results.groups)
            std::cout << "  " << escapedControls(group) << '\n';
    }
    std::cout << "Cards from other programs: " << results.cardsFromOtherPrograms << '\n'
              << escapedControls(results.header) << '\n';
}

}  // namespace

int runScan(const std::vector<std::string>& arguments, const GlobalOptions& globalOptions) {
    const auto options = parseOptions(arguments);
    if (!options) return kUsageError;
    int exitCode = kFailure;
    const auto input = classifyInputFiles("scan", options->operands, options->openAs, exitCode);
    if (!input) return exitCode;
    if (!input->areVCards) {
        printError("scan: " + input->files.front().string() +
                   " is not a vCard file; scan reads vCards (“pelkora rows” shows a table's "
                   "rows, --as vcard reads a file as vCards)");
        return kUsageError;
    }

    CommandLineSession run(globalOptions, !options->json);
    const ScannedVCardFiles scanned = scanVCardFiles(run, input->files, options->openAs, "scan");
    if (!scanned.page) return scanned.exitCode;
    if (options->json) {
        printJson(scanned.results);
    } else {
        printText(scanned.results);
    }
    if (scanned.results.cards == 0) {
        printError("scan: " + VCFScanPage::noResultsText());
        return kFailure;
    }
    return kSuccess;
}

}  // namespace pelkora::cli
