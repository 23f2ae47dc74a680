// pelkora import: the whole wizard without a window. Opens and reads the file, maps its
// columns (learnt titles included, corrections from --set), and saves one contact per row
// into the address book, showing progress on a terminal and a summary at the end.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include <unistd.h>

#include "Command.h"
#include "CommandLineSession.h"
#include "MappingSteps.h"
#include "platform/MainQueue.h"
#include "platform/contacts/SqliteContactStore.h"
#include "session/FieldMappingViewController.h"
#include "session/ImportViewController.h"
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
extern "C" void onInterrupt(int) { interrupted = true; }

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
                  << ", \"chunks\": " << summary.chunks << ", \"chunksSaved\": " << summary.chunksSaved
                  << ", \"cancelled\": " << (summary.cancelled ? "true" : "false")
                  << ", \"dryRun\": " << (dryRun ? "true" : "false") << ", \"seconds\": " << seconds
                  << "}\n";
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
    char time[32];
    std::snprintf(time, sizeof time, "%.2f s", seconds);
    std::cout << "Time:                 " << time << '\n';
    if (summary.cancelled) {
        std::cout << "Cancelled: " << summary.chunksSaved << " of " << summary.chunks
                  << " chunks of " << TabularDataImportOperation::kChunkSize
                  << " rows were saved; the chunk in progress was not.\n";
    }
}

}  // namespace

int runImport(const std::vector<std::string>& arguments, const GlobalOptions& globalOptions) {
    auto options = parseOptions(arguments);
    if (!options) return kUsageError;
    if (!allFilesExist({options->mapping.file})) return kFailure;

    auto location = options->storePath.value_or(SqliteContactStore::defaultLocation());
    // A dry run imports into a copy of the address book, which then goes away.
    std::optional<std::filesystem::path> scratch;
    if (options->dryRun) {
        scratch = std::filesystem::temp_directory_path() /
                  ("pelkora-dry-run-" + std::to_string(::getpid()));
        std::error_code error;
        std::filesystem::create_directories(*scratch, error);
        if (std::filesystem::exists(location))
            std::filesystem::copy_file(location, *scratch / "contacts.sqlite", error);
        if (error) {
            printError("import: could not copy the address book for a dry run: " + error.message());
            return kFailure;
        }
        location = *scratch / "contacts.sqlite";
    }
    struct ScratchRemover {
        std::optional<std::filesystem::path>& path;
        ~ScratchRemover() {
            std::error_code ignored;
            if (path) std::filesystem::remove_all(*path, ignored);
        }
    } remover{scratch};

    auto opened = SqliteContactStore::open(location);
    if (!opened) {
        printError("import: " + opened.error().localizedDescription);
        return kFailure;
    }
    std::shared_ptr<contacts::ContactStore> store = std::move(*opened);
    if (options->container) {
        auto found = store->container(*options->container);
        if (!found || !*found) {
            printError("import: no container “" + *options->container +
                       "”. Run “pelkora contacts containers” to see them.");
            return kFailure;
        }
    }

    CommandLineSession run(globalOptions, !options->json);
    auto& session = run.session();
    session.setContactStore(store);
    const PreparedMapping prepared = prepareMapping(run, options->mapping, "import");
    if (!prepared.page) return prepared.exitCode;
    prepared.page->continueAction(session);
    if (!run.runUntilPage({"ImportViewController"})) {
        printError(options->mapping.file.string() + ": " + run.alertMessage());
        return kFailure;
    }
    auto* page = dynamic_cast<ImportViewController*>(session.currentViewController());
    if (!page) {
        printError(options->mapping.file.string() + ": the import page did not open");
        return kFailure;
    }

    ImportOptions importSettings = importOptions(session.settings());
    importSettings.selectedContainerID =
        options->container.value_or(page->selectedContainerIdentifier().value_or(
            store->defaultContainerIdentifier()));
    if (options->noDuplicates) importSettings.detectDuplicates = importSettings.detectNewDuplicates = false;
    if (options->removeGroups) importSettings.removeGroups = true;
    if (options->noNoteText) importSettings.addTextToNotes = false;

    const auto started = std::chrono::steady_clock::now();
    interrupted = false;
    auto previousHandler = std::signal(SIGINT, onInterrupt);
    if (!page->startImport(session, importSettings)) {
        std::signal(SIGINT, previousHandler);
        printError(options->mapping.file.string() + ": nothing to import");
        return kFailure;
    }
    bool cancelRequested = false;
    while (!page->summary()) {
        MainQueue::shared().runUntil(
            [&] { return page->summary().has_value() || (interrupted && !cancelRequested); },
            std::chrono::milliseconds(100));
        if (interrupted && !cancelRequested) {
            cancelRequested = true;
            std::cerr << "\npelkora: cancelling the import after the rows saved so far…\n";
            session.cancelCurrentProgress();
        }
    }
    std::signal(SIGINT, previousHandler);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    printSummary(*page->summary(), seconds, options->dryRun, options->json);
    if (page->outcome() && page->outcome()->failed) {
        printError(options->mapping.file.string() + ": " + page->outcome()->heading + " " +
                   page->outcome()->text);
        return kFailure;
    }
    return page->summary()->cancelled ? kFailure : kSuccess;
}

}  // namespace pelkora::cli
