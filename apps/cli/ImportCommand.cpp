// pelkora import: the whole wizard without a window. A table is opened and read, its columns
// mapped (learnt titles included, corrections from --set), and one contact per row saved into
// the address book. vCard files (several, or folders of them) are scanned and imported card by
// card instead. Progress shows on a terminal, a summary at the end.

#include "ImportCommand.h"

#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "Command.h"
#include "CommandHelp.h"
#include "CommandLineSession.h"
#include "CommandOptions.h"
#include "InputFiles.h"
#include "MappingSteps.h"
#include "OutputFile.h"
#include "StandardStreams.h"
#include "StorePassword.h"
#include "VCardScanSteps.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/stores/StoreLocation.h"
#include "platform/MainQueue.h"
#include "session/FieldMappingPage.h"
#include "session/ImportPage.h"
#include "session/VCFScanPage.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

using contacts::SqliteContactStore;

// The counts both kinds of import report in --json, without braces.
void printJsonCounts(const ImportSummary& summary, double seconds, bool dryRun) {
    std::cout << "\"groupsCreated\": " << summary.groupsCreated
              << ", \"groupsRemoved\": " << summary.groupsRemoved
              << ", \"oldDuplicates\": " << summary.oldDuplicates
              << ", \"newDuplicates\": " << summary.newDuplicates
              << ", \"chunks\": " << summary.chunks << ", \"chunksSaved\": " << summary.chunksSaved
              << ", \"cancelled\": " << (summary.cancelled ? "true" : "false")
              << ", \"dryRun\": " << (dryRun ? "true" : "false") << ", \"seconds\": " << seconds;
}

void printDuplicates(const ImportSummary& summary) {
    std::cout << "Duplicates:           " << summary.oldDuplicates << " existing (in “"
              << TabularDataImportOperation::oldDuplicatesGroupName() << "”), "
              << summary.newDuplicates << " new (in “"
              << TabularDataImportOperation::newDuplicatesGroupName() << "”)\n";
}

// The lines that end both summaries: what did not go in as it stood, the time, and how far a
// cancelled import got (`unit`: "rows" or "cards").
void printWarningsAndTime(const ImportSummary& summary, const std::vector<ImportWarning>& warnings,
                          double seconds, std::string_view unit) {
    const auto warningLines = warningCountLines(warnings);
    for (std::size_t index = 0; index < warningLines.size(); ++index)
        std::cout << (index == 0 ? "Not taken as it stood: " : "                      ")
                  << escapedControls(warningLines[index]) << '\n';
    if (!warningLines.empty())
        std::cout << "                      (each one is in the runtime log and in --json)\n";
    char time[32];
    std::snprintf(time, sizeof time, "%.2f s", seconds);
    std::cout << "Time:                 " << time << '\n';
    if (summary.cancelled) {
        std::cout << "Cancelled: " << summary.chunksSaved << " of " << summary.chunks
                  << " chunks of " << TabularDataImportOperation::kChunkSize << ' ' << unit
                  << " were saved; the chunk in progress was not.\n";
    }
}

void printSummary(const ImportSummary& summary, double seconds, bool dryRun, bool asJson) {
    if (asJson) {
        std::cout << "{\"rows\": " << summary.rowsToImport
                  << ", \"contactsAdded\": " << (dryRun ? 0 : summary.contactsSaved)
                  << ", \"contactsAssembled\": " << summary.contactsProcessed
                  << ", \"emptyRowsSkipped\": " << summary.emptyRowsSkipped << ", ";
        printJsonCounts(summary, seconds, dryRun);
        std::cout << ", \"warnings\": [";
        for (std::size_t index = 0; index < summary.warnings.size(); ++index) {
            const ImportWarning& warning = summary.warnings[index];
            std::cout << (index > 0 ? ", " : "") << "{\"row\": " << warning.row
                      << ", \"column\": " << json::quoted(warning.column)
                      << ", \"value\": " << json::quoted(warning.value)
                      << ", \"problem\": " << json::quoted(warning.problem) << "}";
        }
        std::cout << "]}\n";
        return;
    }
    if (dryRun) std::cout << "Dry run: nothing was saved. The import would have done this:\n";
    std::cout << "Contacts added:       " << summary.contactsSaved << " of " << summary.rowsToImport
              << " rows\n"
              << "Rows skipped (empty): " << summary.emptyRowsSkipped << '\n'
              << "Groups created:       " << summary.groupsCreated << '\n';
    if (summary.groupsRemoved > 0)
        std::cout << "Groups removed:       " << summary.groupsRemoved << '\n';
    printDuplicates(summary);
    printWarningsAndTime(summary, summary.warnings, seconds, "rows");
}

// "people.vcf card 3, work.vcf card 1 and 4 more": where the cards of the warnings are.
std::string cardPlaces(const std::vector<const ImportWarning*>& warnings) {
    constexpr std::size_t kShown = 5;
    std::string places;
    for (std::size_t index = 0; index < warnings.size() && index < kShown; ++index) {
        places += (index == 0 ? "" : ", ") + warnings[index]->file + " card " +
                  std::to_string(warnings[index]->row);
    }
    if (warnings.size() > kShown)
        places += " and " + std::to_string(warnings.size() - kShown) + " more, all in --json";
    return places;
}

void printVCardSummary(const ImportSummary& summary, const VCardScanResults& scan, double seconds,
                       bool dryRun, bool asJson) {
    if (asJson) {
        std::cout << "{\"cards\": " << summary.rowsToImport << ", \"files\": [";
        for (std::size_t index = 0; index < scan.cardsPerFile.size(); ++index) {
            std::cout << (index > 0 ? ", " : "")
                      << "{\"file\": " << json::quoted(scan.cardsPerFile[index].first.string())
                      << ", \"cards\": " << scan.cardsPerFile[index].second << "}";
        }
        std::cout << "], \"filesSkipped\": [";
        for (std::size_t index = 0; index < scan.skippedFiles.size(); ++index) {
            std::cout << (index > 0 ? ", " : "")
                      << "{\"file\": " << json::quoted(scan.skippedFiles[index].first.string())
                      << ", \"reason\": " << json::quoted(scan.skippedFiles[index].second) << "}";
        }
        std::cout << "], \"contactsAdded\": " << (dryRun ? 0 : summary.contactsSaved)
                  << ", \"contactsRead\": " << summary.contactsProcessed
                  << ", \"unreadableCards\": " << summary.unreadableCards
                  << ", \"identifiersReplaced\": " << summary.identifiersReplaced
                  << ", \"cardsFromOtherPrograms\": " << summary.cardsFromOtherPrograms << ", ";
        printJsonCounts(summary, seconds, dryRun);
        std::cout << ", \"warnings\": [";
        for (std::size_t index = 0; index < summary.warnings.size(); ++index) {
            const ImportWarning& warning = summary.warnings[index];
            std::cout << (index > 0 ? ", " : "") << "{\"file\": " << json::quoted(warning.file)
                      << ", \"card\": " << warning.row
                      << ", \"property\": " << json::quoted(warning.column)
                      << ", \"value\": " << json::quoted(warning.value)
                      << ", \"problem\": " << json::quoted(warning.problem) << "}";
        }
        std::cout << "]}\n";
        return;
    }
    std::vector<const ImportWarning*> unreadable;
    std::vector<const ImportWarning*> identifiers;
    std::vector<ImportWarning> others;
    for (const ImportWarning& warning : summary.warnings) {
        if (warning.problem == kProblemUnreadableCard) {
            unreadable.push_back(&warning);
        } else if (warning.problem == kProblemIdentifierInUse) {
            identifiers.push_back(&warning);
        } else {
            others.push_back(warning);
        }
    }
    if (dryRun) std::cout << "Dry run: nothing was saved. The import would have done this:\n";
    const std::size_t files = scan.cardsPerFile.size();
    std::cout << "vCards found:         " << summary.rowsToImport << " in " << files
              << (files == 1 ? " file\n" : " files\n")
              << "Contacts added:       " << summary.contactsSaved << " of " << summary.rowsToImport
              << " cards\n";
    std::cout << "Cards skipped:        " << summary.unreadableCards;
    if (!unreadable.empty())
        std::cout << " not readable as a vCard (" << escapedControls(cardPlaces(unreadable)) << ")";
    std::cout << '\n';
    if (summary.identifiersReplaced > 0) {
        std::cout << "Identifiers replaced: " << summary.identifiersReplaced
                  << " (the card's UID was in use";
        if (!identifiers.empty()) std::cout << ": " << escapedControls(cardPlaces(identifiers));
        std::cout << ")\n";
    }
    std::cout << "From other programs:  " << summary.cardsFromOtherPrograms
              << (summary.cardsFromOtherPrograms == 1 ? " card" : " cards");
    if (summary.cardsFromOtherPrograms > 0)
        std::cout << " (labels such as “work” or “home” may not all have come through)";
    std::cout << '\n' << "Groups created:       " << summary.groupsCreated << '\n';
    if (summary.groupsRemoved > 0)
        std::cout << "Groups removed:       " << summary.groupsRemoved << '\n';
    printDuplicates(summary);
    for (std::size_t index = 0; index < scan.skippedFiles.size(); ++index) {
        std::cout << (index == 0 ? "Files skipped:        " : "                      ")
                  << escapedControls(scan.skippedFiles[index].first.string()) << " ("
                  << escapedControls(scan.skippedFiles[index].second) << ")\n";
    }
    printWarningsAndTime(summary, others, seconds, "cards");
}

// Goes from the mapping page to the import page as the continue button does.
ImportPage* openImportPage(CommandLineSession& run, const MappingRequest& mapping,
                           std::string_view command, int& exitCode) {
    auto& session = run.session();
    const PreparedMapping prepared = prepareMapping(run, mapping, command);
    if (!prepared.page) {
        exitCode = prepared.exitCode;
        return nullptr;
    }
    prepared.page->continueAction(session);
    exitCode = kUsageError;
    if (!run.runUntilPage({"ImportViewController"})) {
        printError(mapping.file.string() + ": " + run.alertMessage());
        return nullptr;
    }
    auto* page = dynamic_cast<ImportPage*>(session.currentPage());
    if (!page) printError(mapping.file.string() + ": the import page did not open");
    return page;
}

// A copy of the address book that a dry or strict run imports into; it goes away with
// this object.
class ScratchBook {
  public:
    // The copy goes into a new folder only this user can enter (mkdtemp), and is taken with
    // the store's own backup, so changes still in its write-ahead log come along.
    explicit ScratchBook(const std::filesystem::path& original) {
        std::string folder =
            (std::filesystem::temp_directory_path() / "pelkora-trial-XXXXXX").string();
        if (!::mkdtemp(folder.data())) {
            error_ = "could not make a private folder for it: " +
                     std::error_code(errno, std::generic_category()).message();
            return;
        }
        folder_ = folder;
        std::error_code missing;
        if (!std::filesystem::exists(original, missing)) return;
        auto opened = SqliteContactStore::openExisting(original);
        if (!opened) {
            error_ = opened.error().message;
            return;
        }
        if (auto copied = (*opened)->copyTo(location()); !copied) error_ = copied.error().message;
    }
    ~ScratchBook() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    ScratchBook(const ScratchBook&) = delete;
    ScratchBook& operator=(const ScratchBook&) = delete;

    std::filesystem::path location() const { return folder_ / "contacts.sqlite"; }
    // Why the copy could not be made; empty when it was.
    const std::string& error() const { return error_; }

  private:
    std::filesystem::path folder_;
    std::string error_;
};

struct ImportRun {
    int exitCode = kUsageError;
    std::optional<ImportSummary> summary;
};

// Scans the vCard files and goes on to the import page as the scan page's continue button
// does; `scan` receives what the scan found.
ImportPage* openVCardImportPage(CommandLineSession& run,
                                const std::vector<std::filesystem::path>& files, int openAs,
                                VCardScanResults& scan, int& exitCode) {
    const ScannedVCardFiles scanned = scanVCardFiles(run, files, openAs, "import");
    exitCode = scanned.exitCode;
    if (!scanned.page) return nullptr;
    scan = scanned.results;
    exitCode = kUsageError;
    if (!scanned.page->isContinueEnabled()) {
        std::string reasons;
        for (const auto& [file, reason] : scan.skippedFiles)
            reasons += "\n  " + file.string() + ": " + reason;
        printError(
            "import: no vCard was found in " +
            (files.size() == 1 ? files.front().string() : std::to_string(files.size()) + " files") +
            reasons);
        return nullptr;
    }
    auto& session = run.session();
    scanned.page->continueAction(session);
    if (!run.runUntilPage({"ImportViewController"})) {
        printError("import: " + run.alertMessage());
        return nullptr;
    }
    auto* page = dynamic_cast<ImportPage*>(session.currentPage());
    if (!page) printError("import: the import page did not open");
    return page;
}

// One import into the address book at location, summary printed.
ImportRun importInto(const StoreLocation& location, const ImportCommandOptions& options,
                     const InputFiles& input, const GlobalOptions& globalOptions, bool dryRun) {
    ImportRun result;
    auto opened = openStore(location, true, cardDavPassword);
    if (!opened) {
        printError("import: " + opened.error().message);
        result.exitCode = kStorageError;
        return result;
    }
    std::shared_ptr<contacts::ContactStore> store = std::move(*opened);
    if (options.container) {
        auto found = store->container(*options.container);
        if (!found || !*found) {
            printError("import: no container “" + *options.container +
                       "”. Run “pelkora contacts containers” to see them.");
            return result;
        }
    }

    // A trial learns nothing and leaves the settings as they were.
    CommandLineSession run(globalOptions, !options.json,
                           dryRun ? SessionAccess::readOnly : SessionAccess::learnsAndSaves);
    auto& session = run.session();
    session.setContactStore(store);
    // A trial run's copy of the address book goes away, so there is nothing to undo later.
    if (!dryRun)
        session.setImportJournal(std::make_shared<ImportJournal>(ImportJournal::defaultFolder()));
    VCardScanResults scan;
    auto* page = input.areVCards ? openVCardImportPage(run, input.files, options.mapping.openAs,
                                                       scan, result.exitCode)
                                 : openImportPage(run, options.mapping, "import", result.exitCode);
    if (!page) return result;
    const std::string subject =
        input.files.size() == 1 ? input.files.front().string() : std::string("import");

    ImportOptions importSettings = importOptions(session.settings());
    importSettings.selectedContainerID = options.container.value_or(
        page->selectedContainerIdentifier().value_or(store->defaultContainerIdentifier()));
    if (options.noDuplicates)
        importSettings.detectDuplicates = importSettings.detectNewDuplicates = false;
    if (options.removeGroups) importSettings.removeGroups = true;
    if (options.noNoteText) importSettings.addTextToNotes = false;

    const auto started = std::chrono::steady_clock::now();
    if (!page->startImport(session, importSettings)) {
        printError(subject + ": nothing to import");
        result.exitCode = kUsageError;
        return result;
    }
    run.runUntilEnded([&] { return page->summary().has_value(); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    result.summary = *page->summary();
    if (!result.summary->journalProblem.empty()) {
        printError(subject + ": “pelkora undo” cannot undo all of this import: " +
                   result.summary->journalProblem);
    }
    auto print = [&] {
        if (input.areVCards) {
            printVCardSummary(*result.summary, scan, seconds, dryRun, options.json);
        } else {
            printSummary(*result.summary, seconds, dryRun, options.json);
        }
    };
    if (page->outcome() && page->outcome()->failed) {
        print();
        printError(subject + ": " + page->outcome()->heading + " " + page->outcome()->text);
        result.exitCode = kStorageError;
        return result;
    }
    // A strict run that finds warnings reports them as its dry run; the real one never starts.
    if (dryRun || !options.strict || result.summary->warnings.empty()) print();
    result.exitCode = result.summary->cancelled ? kCancelled : kSuccess;
    return result;
}

}  // namespace

int runImport(ImportCommandOptions options, const GlobalOptions& globalOptions) {
    StandardInputFile standardInput;
    if (!standardInput.replaceDash(options.operands)) return kUsageError;
    int exitCode = kUsageError;
    const auto input =
        classifyInputFiles("import", options.operands, options.mapping.openAs, exitCode);
    if (!input) return exitCode;
    if (input->areVCards && !options.mappingOptions.empty()) {
        std::string given;
        for (const auto& option : options.mappingOptions)
            given += (given.empty() ? "" : ", ") + option;
        printError("import: column options (" + given +
                   ") do not apply to vCard files, whose cards name their own fields (" +
                   input->files.front().string() + ")");
        return kUsageError;
    }
    if (!input->areVCards) options.mapping.file = input->files.front();

    const auto location = resolveStore(options.store);
    if (!location) {
        printError("import: --store: " + location.error());
        return kUsageError;
    }
    // A dry run imports into a copy of the address book, which then goes away; so does the
    // first pass of a strict run, which saves for real only when nothing needs a warning.
    if ((options.dryRun || options.strict) && location->kind != StoreLocation::Kind::sqlite) {
        printError(
            "import: --dry-run and --strict try the import on a copy of the address "
            "book, which only a Pelkora book (sqlite:) can be; " +
            location->uri() + " is not one");
        return kUsageError;
    }
    if (options.dryRun || options.strict) {
        ScratchBook scratch(location->path);
        if (!scratch.error().empty()) {
            printError("import: could not copy the address book for a trial run: " +
                       scratch.error());
            return kStorageError;
        }
        const bool reportsAsDryRun = options.dryRun;
        ImportRun trial = importInto(StoreLocation{StoreLocation::Kind::sqlite, scratch.location()},
                                     options, *input, globalOptions, true);
        if (!trial.summary || trial.exitCode != kSuccess) return trial.exitCode;
        if (options.strict && !trial.summary->warnings.empty()) {
            const std::size_t count = trial.summary->warnings.size();
            const bool one = count == 1;
            printError("import: --strict: " + std::to_string(count) +
                       (input->areVCards ? (one ? " card would not go in as it stands"
                                                : " cards would not go in as they stand")
                                         : (one ? " value would not go in as it stands"
                                                : " values would not go in as they stand")) +
                       "; nothing was saved");
            return kUsageError;
        }
        if (reportsAsDryRun) return trial.exitCode;
    }
    return importInto(*location, options, *input, globalOptions, false).exitCode;
}

void addImportCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<ImportCommandOptions>();
    CLI::App* command = app.add_subcommand("import");
    describe(
        *command,
        {"Import a table or vCard files into the address book",
         "The whole import: read the file, map its columns (learnt titles included; --set "
         "corrects as for \"pelkora map\" and is learnt for later files), and save one contact per "
         "row into the address "
         "book in chunks of 500, with the groups the data names and duplicates set aside in the "
         "groups \"OLD DUPLICATES\" and \"NEW DUPLICATES\". Prints a summary (--json: one "
         "object). Ctrl-C stops after the chunks saved so far.\n\n"
         "--dry-run imports into a copy that is thrown away, learning no correction and "
         "changing no setting. Values not taken as they stood "
         "(not a date, two columns on one field …) are counted in the summary and listed in "
         "--json and the runtime log; --strict saves nothing and exits 2 when there is any.\n\n"
         "Instead of a table: one or more vCard files, or folders whose .vcf files are taken in "
         "name order, scanned and imported one contact per card, CATEGORIES as groups; a card "
         "that cannot be read is skipped and named in the summary. The column options (--set, "
         "--no-header, --sheet, --lang, --encoding) do not apply to them. A table is imported "
         "on its own: never with vCards, never with another table.",
         {{"pelkora import contacts.csv", "Imports every row of the file."},
          {"pelkora import --dry-run --json --sheet People contacts.xlsx",
           "What importing the sheet \"People\" would do, as JSON, saving nothing."},
          {"pelkora import --store=/tmp/book.sqlite cards/ extra.vcf",
           "Imports the .vcf files of the folder cards and extra.vcf into another address "
           "book."},
          {"curl -s https://example.org/team.csv | pelkora import --strict -",
           "Imports what standard input holds, and only when every value goes in as it "
           "stands."}}});
    command
        ->add_option("--container", options->container,
                     "The address book's container to import into (\"pelkora contacts "
                     "containers\" lists them).")
        ->type_name("ID");
    command
        ->add_option("--store", options->store,
                     "The address book: a URI (sqlite:PATH, eds:, vdir:PATH), a file's path, or a "
                     "name from \"pelkora stores list\"; without it the default store.")
        ->type_name("STORE");
    addMappingOptions(*command, options->mapping);
    addOpenAsOption(*command, options->mapping.openAs);
    command->add_flag("--no-duplicates", options->noDuplicates,
                      "Do not look for duplicates; every row or card becomes a new contact.");
    command->add_flag("--remove-groups", options->removeGroups,
                      "Remove the groups an earlier import of the file made first.");
    command->add_flag("--no-note-text", options->noNoteText,
                      "Do not add the import's text (file, date) to the notes.");
    command->add_flag("--dry-run", options->dryRun,
                      "Import into a copy of the address book that is thrown away.");
    command->add_flag("--strict", options->strict,
                      "Save nothing, and exit 2, when any value would not go in as it stands.");
    command->add_flag("--json", options->json, "Print the summary as one JSON object.");
    command
        ->add_option("FILE", options->operands,
                     "A table (CSV/TSV text or an Excel workbook), or vCard files and folders "
                     "of them; - reads standard input.")
        ->required();
    setAction(*command, context, [options, command, &context] {
        options->mappingOptions = givenMappingOptions(*command);
        return runImport(*options, context.global);
    });
}

}  // namespace pelkora::cli

namespace pelkora::cli {

namespace {

struct ExportVCardOptions {
    MappingRequest mapping;
    std::optional<std::filesystem::path> output;  // -o OUT.vcf, - for standard output
    std::optional<std::filesystem::path> folder;  // --individual DIR
    bool force = false;                           // -o may replace an existing file
};

int runExportVCard(ExportVCardOptions options, const GlobalOptions& globalOptions) {
    MappingRequest& mapping = options.mapping;
    StandardInputFile standardInput;
    if (!standardInput.replaceDash(mapping.file)) return kUsageError;
    if (!allFilesExist({mapping.file})) return kUsageError;
    if (options.output && !isStandardStream(*options.output) &&
        !mayWriteOutputFile("export-vcard", *options.output, {mapping.file}, options.force))
        return kUsageError;
    const auto& folder = options.folder;
    if (folder) {
        std::error_code error;
        if (!std::filesystem::is_directory(*folder, error)) {
            printError("export-vcard: " + folder->string() + ": no such folder");
            return kUsageError;
        }
    }
    // Standard output gets the file the export writes into a private folder.
    PrivateFolder spool;
    const bool toStandardOutput = options.output && isStandardStream(*options.output);
    if (toStandardOutput) {
        if (!spool.make()) {
            printError("export-vcard: " + spool.error());
            return kUsageError;
        }
        options.output = spool.path() / "contacts.vcf";
    }
    const std::filesystem::path destination = folder ? *folder : *options.output;

    CommandLineSession run(globalOptions, true);
    auto& session = run.session();
    int exitCode = kUsageError;
    auto* page = openImportPage(run, mapping, "export-vcard", exitCode);
    if (!page) return exitCode;
    const auto format =
        folder ? ImportPage::VCardFormat::individual : ImportPage::VCardFormat::group;
    if (!page->startExport(session, format, destination)) {
        printError(mapping.file.string() + ": nothing to export");
        return kUsageError;
    }
    run.runUntilEnded([&] { return page->hasEnded(); });
    // What the command says goes to stderr when the vCards go to standard output.
    std::ostream& report = toStandardOutput ? std::cerr : std::cout;
    if (page->outcome() && page->outcome()->failed) {
        printError(mapping.file.string() + ": " + page->outcome()->heading + " " +
                   page->outcome()->text);
        return kUsageError;
    }
    if (!page->outcome()) {
        report << "Cancelled after " << page->processedCount() << " vCards.\n";
        return kCancelled;
    }
    if (toStandardOutput && !copyToStandardOutput(destination)) return kUsageError;
    report << "Wrote " << page->processedCount() << " vCards to "
           << (toStandardOutput ? std::string("standard output")
                                : escapedControls(destination.string()))
           << '\n';
    if (page->outcome()->partlyDone) {
        printError(standardInput.displayName(mapping.file) + ": " + page->outcome()->text);
        return kCancelled;
    }
    return kSuccess;
}

}  // namespace

void addExportVCardCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<ExportVCardOptions>();
    CLI::App* command = app.add_subcommand("export-vcard");
    describe(*command,
             {"Write the contacts a table's rows make as vCard 3.0 files",
              "Instead of the address book, the contacts the rows make (mapped as \"pelkora "
              "map\" shows) go into vCard 3.0: one file holding all (-o), or one file per "
              "contact named after it (--individual: \"Anna Berg.vcf\", \"Anna Berg 2.vcf\" "
              "…; existing files are never overwritten). OUT.vcf is never the file read; an "
              "existing one (or a symbolic link, which is replaced itself) only with --force. "
              "Exits 1 when a picture or contact had to be left out.",
              {{"pelkora export-vcard -o contacts.vcf contacts.csv",
                "All contacts of the table in one vCard file."},
               {"pelkora export-vcard --individual cards/ --sheet=2 contacts.xlsx",
                "One vCard file per contact of the workbook's second sheet."},
               {"pelkora export-vcard -o - - < contacts.csv > contacts.vcf",
                "From standard input to standard output."}}});
    auto* output =
        command
            ->add_option("-o,--output", options->output,
                         "The vCard file holding every contact; - writes to standard output.")
            ->type_name("OUT.vcf");
    command
        ->add_option("--individual", options->folder,
                     "The folder that receives one vCard file per contact.")
        ->type_name("DIR")
        ->excludes(output);
    command
        ->add_flag("--force", options->force,
                   "Replace an existing OUT.vcf (or the symbolic link there); never the file "
                   "read.")
        ->needs(output);
    command->parse_complete_callback([options] {
        if (!options->output && !options->folder)
            throw CLI::RequiredError("-o OUT.vcf or --individual DIR");
    });
    addMappingOptions(*command, options->mapping);
    addOpenAsOption(*command, options->mapping.openAs);
    command
        ->add_option("FILE", options->mapping.file,
                     "The table: a CSV/TSV text file or an Excel workbook; - reads standard "
                     "input.")
        ->required();
    setAction(*command, context,
              [options, &context] { return runExportVCard(*options, context.global); });
}

}  // namespace pelkora::cli
