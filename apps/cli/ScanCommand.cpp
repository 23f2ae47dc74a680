// pelkora scan: what the vCard scan page shows, without importing anything. The files are
// opened and scanned exactly as for an import: cards per file, the groups their CATEGORIES
// name, the cards other programs wrote, the files passed over and why.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "CommandHelp.h"
#include "CommandLineSession.h"
#include "CommandOptions.h"
#include "InputFiles.h"
#include "MappingSteps.h"
#include "StandardStreams.h"
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

int runScan(ScanOptions options, const GlobalOptions& globalOptions) {
    StandardInputFile standardInput;
    if (!standardInput.replaceDash(options.operands)) return kUsageError;
    int exitCode = kUsageError;
    const auto input = classifyInputFiles("scan", options.operands, options.openAs, exitCode);
    if (!input) return exitCode;
    if (!input->areVCards) {
        printError("scan: " + standardInput.displayName(input->files.front()) +
                   " is not a vCard file; scan reads vCards (“pelkora rows” shows a table's "
                   "rows, --as vcard reads a file as vCards)");
        return kUsageError;
    }

    CommandLineSession run(globalOptions, !options.json);
    const ScannedVCardFiles scanned = scanVCardFiles(run, input->files, options.openAs, "scan");
    if (!scanned.page) return scanned.exitCode;
    if (options.json) {
        printJson(scanned.results);
    } else {
        printText(scanned.results);
    }
    if (scanned.results.cards == 0) {
        printError("scan: " + VCFScanPage::noResultsText());
        return kUsageError;
    }
    return kSuccess;
}

}  // namespace

void addScanCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<ScanOptions>();
    CLI::App* command = app.add_subcommand("scan");
    describe(*command,
             {"Show what vCard files hold, importing nothing",
              "What the vCard scan finds: the cards of each file, the groups their CATEGORIES "
              "name (sorted), the cards other programs wrote (their labels may not all come "
              "through), files passed over and why, and \"N contacts found\". Exits 2 when "
              "no card was found.",
              {{"pelkora scan people.vcf", "The cards and groups of one file."},
               {"pelkora scan --json cards/", "Every .vcf file of the folder, as JSON."}}});
    command->add_flag("--json", options->json, "Print the findings as one JSON object.");
    addOpenAsOption(*command, options->openAs);
    command
        ->add_option("VCARDS", options->operands,
                     "vCard files, and folders whose .vcf files are taken in name order; - "
                     "reads standard input.")
        ->required();
    setAction(*command, context, [options, &context] { return runScan(*options, context.global); });
}

}  // namespace pelkora::cli
