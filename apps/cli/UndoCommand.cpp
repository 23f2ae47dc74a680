// pelkora imports: the imports the journal recorded. pelkora undo: takes one of them out of
// the address book again — its contacts, and the groups it made once they are empty.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "Command.h"
#include "CommandHelp.h"
#include "StandardStreams.h"
#include "StorePassword.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/stores/StoreLocation.h"
#include "import/ImportJournal.h"
#include "import/ImportUndo.h"
#include "support/Json.h"
#include "text/DateFormatting.h"

namespace pelkora::cli {
namespace {

using contacts::SqliteContactStore;

// --- options ---

struct ImportsOptions {
    bool json = false;
};

struct UndoOptions {
    std::optional<std::string> import;  // transaction number; none: the last import
    bool yes = false;
    bool dryRun = false;
    bool json = false;
};

// --- texts ---

// The moment as the user's locale writes a short date and time.
std::string localDateTime(std::chrono::system_clock::time_point moment) {
    return dates::shortDateText(moment) + " " + dates::shortTimeText(moment);
}

// "people.csv", or "a.vcf and 2 more files"; "an unknown file" without any.
std::string filesText(const ImportRecord& record) {
    if (record.files.empty()) return "an unknown file";
    std::string text = record.files.front().filename().string();
    if (record.files.size() > 1) {
        const std::size_t more = record.files.size() - 1;
        text += " and " + std::to_string(more) + (more == 1 ? " more file" : " more files");
    }
    return text;
}

std::string countText(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string jsonStrings(const std::vector<std::string>& strings) {
    std::string out = "[";
    for (std::size_t index = 0; index < strings.size(); ++index)
        out += (index > 0 ? ", " : "") + json::quoted(strings[index]);
    return out + "]";
}

std::vector<std::string> groupNames(const std::vector<contacts::Group>& groups) {
    std::vector<std::string> names;
    for (const contacts::Group& group : groups) names.push_back(group.name);
    return names;
}

// --- pelkora imports ---

void printImportsJson(const std::vector<ImportRecord>& entries) {
    std::cout << "[";
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const ImportRecord& record = entries[index];
        std::vector<std::string> files;
        for (const std::filesystem::path& file : record.files) files.push_back(file.string());
        std::cout << (index > 0 ? ",\n " : "") << "{\"number\": " << json::quoted(record.number)
                  << ", \"time\": " << json::quoted(isoDateText(record.time))
                  << ", \"files\": " << jsonStrings(files)
                  << ", \"store\": " << json::quoted(record.store)
                  << ", \"container\": " << json::quoted(record.container)
                  << ", \"containerName\": " << json::quoted(record.containerName)
                  << ", \"contactsSaved\": " << record.contacts.size()
                  << ", \"groupsCreated\": " << record.createdGroups.size()
                  << ", \"undone\": " << (record.undone ? "true" : "false") << ", \"undoneTime\": "
                  << (record.undone ? json::quoted(isoDateText(*record.undone)) : "null") << "}";
    }
    std::cout << "]\n";
}

void printImportsTable(const std::vector<ImportRecord>& entries) {
    if (entries.empty()) {
        std::cout << "No import was recorded.\n";
        return;
    }
    std::cout
        << "NUMBER    TIME                 CONTACTS  STATE     FILE → ADDRESS BOOK (CONTAINER)\n";
    for (const ImportRecord& record : entries) {
        std::string files;
        for (const std::filesystem::path& file : record.files)
            files += (files.empty() ? "" : ", ") + file.string();
        char line[128];
        std::snprintf(line, sizeof line, "%-9s %-20s %8zu  %-8s  ", record.number.c_str(),
                      isoDateText(record.time).c_str(), record.contacts.size(),
                      record.undone ? "undone" : "undoable");
        std::cout << line
                  << escapedControls(files + " → " + record.store + " (" + record.containerName +
                                     ")")
                  << '\n';
    }
}

// --- pelkora undo ---

// The entry named by its number (or entry name), the newest of that number; else the newest.
const ImportRecord* chosenImport(const std::vector<ImportRecord>& entries,
                                 const std::optional<std::string>& name) {
    if (!name) return entries.empty() ? nullptr : &entries.front();
    for (const ImportRecord& record : entries) {
        if (record.number == *name || record.entryName == *name) return &record;
    }
    return nullptr;
}

void printUndoResult(const ImportRecord& record, const ImportUndoPlan& plan, bool dryRun,
                     bool asJson) {
    if (asJson) {
        std::cout << "{\"import\": " << json::quoted(record.number)
                  << ", \"dryRun\": " << (dryRun ? "true" : "false")
                  << ", \"contactsRemoved\": " << plan.contactsToRemove.size()
                  << ", \"contactsAlreadyGone\": " << plan.contactsGone
                  << ", \"groupsRemoved\": " << jsonStrings(groupNames(plan.groupsToRemove))
                  << ", \"groupsKept\": " << jsonStrings(groupNames(plan.groupsKept))
                  << ", \"groupsAlreadyGone\": " << plan.groupsGone << "}\n";
        return;
    }
    const std::string origin =
        " imported from " + filesText(record) + " on " + localDateTime(record.time);
    if (dryRun) std::cout << "Dry run: nothing was removed. Undoing the import would do this:\n";
    std::cout << (dryRun ? "Contacts to remove:   " : "Contacts removed:     ")
              << plan.contactsToRemove.size() << escapedControls(origin) << " (import "
              << escapedControls(record.number) << ")\n";
    if (plan.contactsGone > 0)
        std::cout << "Already gone:         " << countText(plan.contactsGone, "contact", "contacts")
                  << " (deleted since the import)\n";
    std::string removed;
    for (const std::string& name : groupNames(plan.groupsToRemove))
        removed += (removed.empty() ? "" : ", ") + name;
    std::cout << (dryRun ? "Groups to remove:     " : "Groups removed:       ")
              << plan.groupsToRemove.size()
              << (removed.empty() ? "" : " (" + escapedControls(removed) + ")") << '\n';
    if (!plan.groupsKept.empty()) {
        std::string kept;
        for (const std::string& name : groupNames(plan.groupsKept))
            kept += (kept.empty() ? "" : ", ") + name;
        std::cout << "Groups kept:          " << plan.groupsKept.size() << " ("
                  << escapedControls(kept) << ": other contacts are in them)\n";
    }
}

int undoImport(const UndoOptions& options) {
    const ImportJournal journal(ImportJournal::defaultFolder());
    const std::vector<ImportRecord> entries = journal.entries();
    const ImportRecord* chosen = chosenImport(entries, options.import);
    if (!chosen) {
        if (options.import)
            printError("undo: no import “" + *options.import +
                       "” was recorded. Run “pelkora imports” to see them.");
        else
            printError("undo: no import was recorded in " + journal.folder().string());
        return kUsageError;
    }
    const ImportRecord& record = *chosen;
    if (record.undone) {
        printError("undo: the import " + record.number + " of " + filesText(record) + " on " +
                   localDateTime(record.time) + " was undone already, on " +
                   localDateTime(*record.undone) + ".");
        return kUsageError;
    }

    // The import recorded where its store is, as a URI (or, for a Pelkora book, the file).
    const auto location = recordedStore(record.store);
    if (!location) {
        printError("undo: the import " + record.number + " went into " + location.error());
        return kStorageError;
    }
    std::error_code missing;
    if ((location->kind == StoreLocation::Kind::sqlite ||
         location->kind == StoreLocation::Kind::vdir) &&
        !std::filesystem::exists(location->path, missing)) {
        printError("undo: the address book “" + record.store + "” that the import " +
                   record.number + " went into is not there any more.");
        return kStorageError;
    }
    auto opened = openStore(*location, false, cardDavPassword);
    if (!opened) {
        printError("undo: " + opened.error().message);
        return kStorageError;
    }
    contacts::ContactStore& store = **opened;
    auto plan = planUndo(store, record);
    if (!plan) {
        printError("undo: " + plan.error().message);
        return kStorageError;
    }
    if (options.dryRun) {
        printUndoResult(record, *plan, true, options.json);
        return kSuccess;
    }

    const std::string question =
        "Remove " + countText(plan->contactsToRemove.size(), "contact", "contacts") +
        " imported from " + filesText(record) + " on " + localDateTime(record.time) + "?";
    if (!options.yes && !plan->isEmpty()) {
        if (!isatty(STDIN_FILENO)) {
            printError("undo: this would remove " +
                       countText(plan->contactsToRemove.size(), "contact", "contacts") +
                       " imported from " + filesText(record) +
                       "; there is no terminal to ask on, so pass --yes to go ahead.");
            return kUsageError;
        }
        if (!confirmedOnTerminal(question)) {
            std::cerr << "Nothing was removed.\n";
            return kCancelled;
        }
    }
    if (auto applied = applyUndo(store, *plan); !applied) {
        printError("undo: nothing was removed: " + applied.error().message);
        return kStorageError;
    }
    printUndoResult(record, *plan, false, options.json);
    if (auto marked = journal.markUndone(record, std::chrono::system_clock::now()); !marked) {
        printError("undo: the import was undone, but the journal could not note it: " +
                   marked.error().message);
        return kStorageError;
    }
    return kSuccess;
}

int runImports(const ImportsOptions& options) {
    const std::vector<ImportRecord> entries =
        ImportJournal(ImportJournal::defaultFolder()).entries();
    if (options.json)
        printImportsJson(entries);
    else
        printImportsTable(entries);
    return kSuccess;
}

}  // namespace

void addImportsCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<ImportsOptions>();
    CLI::App* command = app.add_subcommand("imports");
    describe(*command,
             {"List the imports the journal recorded",
              "Newest first: number, time, contacts saved, whether they can still be undone, "
              "the file and the address book (container) they went to. Every import is "
              "recorded as it saves, except a dry run.",
              {{"pelkora imports", "The recorded imports."},
               {"pelkora imports --json", "The same as a JSON array."}}});
    command->add_flag("--json", options->json, "Print a JSON array.");
    setAction(*command, context, [options] { return runImports(*options); });
}

void addUndoCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<UndoOptions>();
    CLI::App* command = app.add_subcommand("undo");
    describe(*command,
             {"Take an import out of its address book again",
              "Removes the contacts of the last import (or of the import with that number) "
              "from its address book, and the groups it made once they are empty; groups that "
              "were there before or hold other contacts stay. Contacts deleted since are "
              "counted. Asks first on a terminal; elsewhere --yes is needed (exit 2 without). "
              "--dry-run shows what would go. An import is undone once (exit 2 after); "
              "answering no exits 1.",
              {{"pelkora undo", "Undoes the last import, after asking."},
               {"pelkora undo --dry-run 12", "What undoing import 12 would remove."},
               {"pelkora undo --yes --json 12", "Undoes import 12 without asking."}}});
    command->add_flag("-y,--yes", options->yes, "Do not ask first.");
    command->add_flag("--dry-run", options->dryRun, "Show what would be removed; remove nothing.");
    command->add_flag("--json", options->json, "Print the result as one JSON object.");
    command->add_option("IMPORT", options->import,
                        "The import's number, as \"pelkora imports\" lists it; the last import "
                        "when not given.");
    setAction(*command, context, [options] { return undoImport(*options); });
}

}  // namespace pelkora::cli
