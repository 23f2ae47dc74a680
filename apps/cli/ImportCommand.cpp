// pelkora import: the whole wizard without a window. Opens and reads the file, maps its
// columns (learnt titles included, corrections from --set), and saves one contact per row
// into the address book, showing progress on a terminal and a summary at the end.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>

#include "Command.h"
#include "CommandLineSession.h"
#include "MappingSteps.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "platform/MainQueue.h"
#include "session/FieldMappingPage.h"
#include "session/ImportPage.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

using contacts::SqliteContactStore;

struct ImportCommandOptions {
    MappingRequest mapping;
    std::optional<std::string> container;
    std::optional<std::filesystem::path> storePath;
    bool noDuplicates = false;
    bool removeGroups = false;
    bool noNoteText = false;
    bool dryRun = false;
    bool json = false;
    bool strict = false;
};

std::optional<ImportCommandOptions> parseOptions(const std::vector<std::string>& arguments) {
    ImportCommandOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const ArgumentUse use = takeMappingArgument("import", arguments, index, options.mapping);
        if (use == ArgumentUse::invalid) return std::nullopt;
        if (use == ArgumentUse::taken) continue;
        const std::string& argument = arguments[index];
        const bool hasValue = index + 1 < arguments.size();
        if (argument == "--container" && hasValue) {
            options.container = arguments[++index];
        } else if (argument == "--store" && hasValue) {
            options.storePath = arguments[++index];
        } else if (argument == "--no-duplicates") {
            options.noDuplicates = true;
        } else if (argument == "--remove-groups") {
            options.removeGroups = true;
        } else if (argument == "--no-note-text") {
            options.noNoteText = true;
        } else if (argument == "--dry-run") {
            options.dryRun = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--strict") {
            options.strict = true;
        } else {
            printError("import: unknown option “" + argument + "” (or it lacks its value)");
            return std::nullopt;
        }
    }
    if (options.mapping.file.empty()) {
        printError("import: name the file to import");
        return std::nullopt;
    }
    return options;
}

// Ctrl-C asks the import to stop as the progress sheet's cancel button does.
std::atomic<bool> interrupted = false;
extern "C" void onInterrupt(int) {
    interrupted = true;
}

void printSummary(const ImportSummary& summary, double seconds, bool dryRun, bool asJson) {
    if (asJson) {
        std::cout << "{\"rows\": " << summary.rowsToImport
                  << ", \"contactsAdded\": " << (dryRun ? 0 : summary.contactsSaved)
                  << ", \"contactsAssembled\": " << summary.contactsProcessed
                  << ", \"emptyRowsSkipped\": " << summary.emptyRowsSkipped
                  << ", \"groupsCreated\": " << summary.groupsCreated
                  << ", \"groupsRemoved\": " << summary.groupsRemoved
                  << ", \"oldDuplicates\": " << summary.oldDuplicates
                  << ", \"newDuplicates\": " << summary.newDuplicates
                  << ", \"chunks\": " << summary.chunks
                  << ", \"chunksSaved\": " << summary.chunksSaved
                  << ", \"cancelled\": " << (summary.cancelled ? "true" : "false")
                  << ", \"dryRun\": " << (dryRun ? "true" : "false") << ", \"seconds\": " << seconds
                  << ", \"warnings\": [";
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
    std::cout << "Duplicates:           " << summary.oldDuplicates << " existing (in “"
              << TabularDataImportOperation::oldDuplicatesGroupName() << "”), "
              << summary.newDuplicates << " new (in “"
              << TabularDataImportOperation::newDuplicatesGroupName() << "”)\n";
    const auto warningLines = warningCountLines(summary.warnings);
    for (std::size_t index = 0; index < warningLines.size(); ++index)
        std::cout << (index == 0 ? "Not taken as it stood: " : "                      ")
                  << warningLines[index] << '\n';
    if (!warningLines.empty())
        std::cout << "                      (each one is in the runtime log and in --json)\n";
    char time[32];
    std::snprintf(time, sizeof time, "%.2f s", seconds);
    std::cout << "Time:                 " << time << '\n';
    if (summary.cancelled) {
        std::cout << "Cancelled: " << summary.chunksSaved << " of " << summary.chunks
                  << " chunks of " << TabularDataImportOperation::kChunkSize
                  << " rows were saved; the chunk in progress was not.\n";
    }
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
    exitCode = kFailure;
    if (!run.runUntilPage({"ImportViewController"})) {
        printError(mapping.file.string() + ": " + run.alertMessage());
        return nullptr;
    }
    auto* page = dynamic_cast<ImportPage*>(session.currentPage());
    if (!page) printError(mapping.file.string() + ": the import page did not open");
    return page;
}

// Runs the main queue until done() answers true; the first Ctrl-C cancels the running
// import or export as the progress sheet's cancel button does.
void runUntilEnded(ImportSession& session, const std::function<bool()>& done) {
    interrupted = false;
    auto previousHandler = std::signal(SIGINT, onInterrupt);
    bool cancelRequested = false;
    while (!done()) {
        MainQueue::shared().runUntil([&] { return done() || (interrupted && !cancelRequested); },
                                     std::chrono::milliseconds(100));
        if (interrupted && !cancelRequested) {
            cancelRequested = true;
            std::cerr << "\npelkora: cancelling after the work saved so far…\n";
            session.cancelCurrentProgress();
        }
    }
    std::signal(SIGINT, previousHandler);
}

// A copy of the address book that a dry or strict run imports into; it goes away with
// this object.
class ScratchBook {
  public:
    explicit ScratchBook(const std::filesystem::path& original) {
        folder_ = std::filesystem::temp_directory_path() /
                  ("pelkora-dry-run-" + std::to_string(::getpid()));
        std::error_code error;
        std::filesystem::create_directories(folder_, error);
        if (!error && std::filesystem::exists(original))
            std::filesystem::copy_file(original, location(),
                                       std::filesystem::copy_options::overwrite_existing, error);
        error_ = error;
    }
    ~ScratchBook() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    ScratchBook(const ScratchBook&) = delete;
    ScratchBook& operator=(const ScratchBook&) = delete;

    std::filesystem::path location() const { return folder_ / "contacts.sqlite"; }
    const std::error_code& error() const { return error_; }

  private:
    std::filesystem::path folder_;
    std::error_code error_;
};

struct ImportRun {
    int exitCode = kFailure;
    std::optional<ImportSummary> summary;
};

// One import of the file into the address book at location, summary printed.
ImportRun importInto(const std::filesystem::path& location, const ImportCommandOptions& options,
                     const GlobalOptions& globalOptions, bool dryRun) {
    ImportRun result;
    auto opened = SqliteContactStore::open(location);
    if (!opened) {
        printError("import: " + opened.error().message);
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

    CommandLineSession run(globalOptions, !options.json);
    auto& session = run.session();
    session.setContactStore(store);
    auto* page = openImportPage(run, options.mapping, "import", result.exitCode);
    if (!page) return result;

    ImportOptions importSettings = importOptions(session.settings());
    importSettings.selectedContainerID = options.container.value_or(
        page->selectedContainerIdentifier().value_or(store->defaultContainerIdentifier()));
    if (options.noDuplicates)
        importSettings.detectDuplicates = importSettings.detectNewDuplicates = false;
    if (options.removeGroups) importSettings.removeGroups = true;
    if (options.noNoteText) importSettings.addTextToNotes = false;

    const auto started = std::chrono::steady_clock::now();
    if (!page->startImport(session, importSettings)) {
        printError(options.mapping.file.string() + ": nothing to import");
        result.exitCode = kFailure;
        return result;
    }
    runUntilEnded(session, [&] { return page->summary().has_value(); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    result.summary = *page->summary();
    if (page->outcome() && page->outcome()->failed) {
        printSummary(*result.summary, seconds, dryRun, options.json);
        printError(options.mapping.file.string() + ": " + page->outcome()->heading + " " +
                   page->outcome()->text);
        result.exitCode = kFailure;
        return result;
    }
    // A strict run that finds warnings reports them as its dry run; the real one never starts.
    if (dryRun || !options.strict || result.summary->warnings.empty())
        printSummary(*result.summary, seconds, dryRun, options.json);
    result.exitCode = result.summary->cancelled ? kFailure : kSuccess;
    return result;
}

}  // namespace

int runImport(const std::vector<std::string>& arguments, const GlobalOptions& globalOptions) {
    auto options = parseOptions(arguments);
    if (!options) return kUsageError;
    if (!allFilesExist({options->mapping.file})) return kFailure;

    const auto location = options->storePath.value_or(SqliteContactStore::defaultLocation());
    // A dry run imports into a copy of the address book, which then goes away; so does the
    // first pass of a strict run, which saves for real only when nothing needs a warning.
    if (options->dryRun || options->strict) {
        ScratchBook scratch(location);
        if (scratch.error()) {
            printError("import: could not copy the address book for a trial run: " +
                       scratch.error().message());
            return kFailure;
        }
        const bool reportsAsDryRun = options->dryRun;
        ImportRun trial = importInto(scratch.location(), *options, globalOptions, true);
        if (!trial.summary || trial.exitCode != kSuccess) return trial.exitCode;
        if (options->strict && !trial.summary->warnings.empty()) {
            const std::size_t count = trial.summary->warnings.size();
            printError("import: --strict: " + std::to_string(count) +
                       (count == 1 ? " value would not go in as it stands"
                                   : " values would not go in as they stand") +
                       "; nothing was saved");
            return kStrictWarnings;
        }
        if (reportsAsDryRun) return trial.exitCode;
    }
    return importInto(location, *options, globalOptions, false).exitCode;
}

}  // namespace pelkora::cli

namespace pelkora::cli {

int runExportVCard(const std::vector<std::string>& arguments, const GlobalOptions& globalOptions) {
    MappingRequest mapping;
    std::optional<std::filesystem::path> output;
    std::optional<std::filesystem::path> folder;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const ArgumentUse use = takeMappingArgument("export-vcard", arguments, index, mapping);
        if (use == ArgumentUse::invalid) return kUsageError;
        if (use == ArgumentUse::taken) continue;
        const std::string& argument = arguments[index];
        if ((argument == "-o" || argument == "--output") && index + 1 < arguments.size()) {
            output = arguments[++index];
        } else if (argument == "--individual" && index + 1 < arguments.size()) {
            folder = arguments[++index];
        } else {
            printError("export-vcard: unknown option “" + argument + "” (or it lacks its value)");
            return kUsageError;
        }
    }
    if (mapping.file.empty() || output.has_value() == folder.has_value()) {
        printError(
            "export-vcard: name the file to export and either -o OUT.vcf or --individual DIR");
        return kUsageError;
    }
    if (!allFilesExist({mapping.file})) return kFailure;
    if (folder) {
        std::error_code error;
        if (!std::filesystem::is_directory(*folder, error)) {
            printError("export-vcard: " + folder->string() + ": no such folder");
            return kFailure;
        }
    }

    CommandLineSession run(globalOptions, true);
    auto& session = run.session();
    int exitCode = kFailure;
    auto* page = openImportPage(run, mapping, "export-vcard", exitCode);
    if (!page) return exitCode;
    const auto format =
        folder ? ImportPage::VCardFormat::individual : ImportPage::VCardFormat::group;
    if (!page->startExport(session, format, folder ? *folder : *output)) {
        printError(mapping.file.string() + ": nothing to export");
        return kFailure;
    }
    runUntilEnded(session, [&] { return page->hasEnded(); });
    if (page->outcome() && page->outcome()->failed) {
        printError(mapping.file.string() + ": " + page->outcome()->heading + " " +
                   page->outcome()->text);
        return kFailure;
    }
    if (!page->outcome()) {
        std::cout << "Cancelled after " << page->processedCount() << " vCards.\n";
        return kFailure;
    }
    std::cout << "Wrote " << page->processedCount() << " vCards to "
              << (folder ? *folder : *output).string() << '\n';
    return kSuccess;
}

}  // namespace pelkora::cli
