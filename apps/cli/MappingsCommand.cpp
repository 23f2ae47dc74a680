// pelkora mappings: the saved mappings, as the desktop program's mappings window shows them:
// list, show, save one made from a file, rename, delete, export to and import from
// .zubmapping files. "map", "import" and "export-vcard" apply one with --mapping.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "CommandHelp.h"
#include "CommandLineSession.h"
#include "CommandOptions.h"
#include "MappingSteps.h"
#include "OutputFile.h"
#include "SharedMappings.h"
#include "StandardStreams.h"
#include "mapping/ValueLabels.h"
#include "platform/SettingsStore.h"
#include "session/FieldMappingPage.h"
#include "session/MappingsWindowModel.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

struct MappingsOptions {
    std::string action;  // list, show, save, rename, delete, export or import
    bool json = false;
    bool yes = false;                // delete: do not ask
    bool force = false;              // export: replace an existing file
    std::string name;                // show, save: the mapping; rename: the old title
    std::string newTitle;            // rename
    std::vector<std::string> names;  // delete, export
    std::filesystem::path file;      // export: the file written; import: the file read
    MappingRequest mapping;          // save: the table and how to map it
};

std::string_view modeName(MappingMode mode) {
    return mode == MappingMode::byPosition ? "byPosition" : "byName";
}

std::string_view modeWords(MappingMode mode) {
    return mode == MappingMode::byPosition ? "by position" : "by name";
}

std::string optionalJson(const std::optional<std::string>& text) {
    return text ? json::quoted(*text) : std::string("null");
}

std::string quotedTitles(const std::vector<std::string>& titles) {
    std::string text;
    for (const auto& title : titles) text += (text.empty() ? "“" : ", “") + title + "”";
    return text;
}

// The rows of the model that show the mappings named (titles ignoring case, or uuids);
// every name must name one. All rows when no name is given.
std::optional<std::vector<std::size_t>> rowsNamed(const MappingsWindowModel& model,
                                                  const MappingStore& store,
                                                  const std::vector<std::string>& names,
                                                  std::string_view command) {
    const auto rows = model.rows();
    std::vector<std::size_t> chosen;
    if (names.empty()) {
        for (std::size_t row = 0; row < rows.size(); ++row) chosen.push_back(row);
        return chosen;
    }
    for (const auto& name : names) {
        const SavedMapping* found = store.findByTitle(name);
        if (!found) found = store.findByUuid(name);
        if (!found) {
            printError("mappings " + std::string(command) + ": no saved mapping “" + name +
                       "”. Run “pelkora mappings list” to see them.");
            return std::nullopt;
        }
        for (std::size_t row = 0; row < rows.size(); ++row) {
            if (rows[row].uuid == found->uuid &&
                std::find(chosen.begin(), chosen.end(), row) == chosen.end())
                chosen.push_back(row);
        }
    }
    return chosen;
}

int listMappings(const MappingsOptions& options) {
    CommandMappings mappings("mappings list");
    const MappingsWindowModel model(mappings.store());
    const auto rows = model.rows();
    if (options.json) {
        std::cout << "[";
        for (std::size_t index = 0; index < rows.size(); ++index) {
            const auto& row = rows[index];
            std::cout << (index > 0 ? ",\n " : "") << "{\"title\": " << json::quoted(row.title)
                      << ", \"mode\": " << json::quoted(modeName(row.mode))
                      << ", \"columns\": " << row.columns << ", \"usageCount\": " << row.usageCount
                      << ", \"updatedOn\": " << json::quoted(isoDateText(row.updatedOn))
                      << ", \"uuid\": " << json::quoted(row.uuid) << "}";
        }
        std::cout << "]\n";
        return kSuccess;
    }
    if (model.isEmpty()) {
        std::cout << MappingsWindowModel::emptyStateText() << '\n';
        return kSuccess;
    }
    std::vector<std::vector<std::string>> table;
    if (standardOutput().isTerminal)
        table.push_back({"title", "mode", "columns", "uses", "changed", "uuid"});
    for (const auto& row : rows) {
        table.push_back({row.title, std::string(modeWords(row.mode)), std::to_string(row.columns),
                         std::to_string(row.usageCount), isoDateText(row.updatedOn), row.uuid});
    }
    printListing(table);
    return kSuccess;
}

int showMapping(const MappingsOptions& options) {
    CommandMappings mappings("mappings show");
    auto found = findSavedMapping(mappings.store(), options.name);
    if (!found) {
        printError("mappings show: " + found.error());
        return kUsageError;
    }
    const SavedMapping& mapping = found->mapping;
    const auto& list = mapping.mappedContactProperties;
    if (options.json) {
        std::cout << "{\"title\": " << json::quoted(mapping.title)
                  << ", \"mode\": " << json::quoted(modeName(mapping.mappingMode))
                  << ", \"usageCount\": " << mapping.usageCount
                  << ", \"createdOn\": " << json::quoted(isoDateText(mapping.createdOn))
                  << ", \"updatedOn\": " << json::quoted(isoDateText(mapping.updatedOn))
                  << ", \"uuid\": " << json::quoted(mapping.uuid) << ", \"columns\": [";
        for (std::size_t index = 0; index < list.size(); ++index) {
            const auto& target = list[index].contactProperty;
            std::cout << (index > 0 ? ",\n  " : "\n  ") << "{\"position\": " << index + 1
                      << ", \"title\": " << json::quoted(list[index].sourceFieldName)
                      << ", \"propertyKey\": " << optionalJson(target.propertyKey)
                      << ", \"propertySubKey\": " << optionalJson(target.propertySubKey)
                      << ", \"label\": "
                      << optionalJson(target.canHaveLabel() ? target.label() : std::nullopt) << "}";
        }
        std::cout << "]}\n";
        return kSuccess;
    }
    std::cout << escapedControls(mapping.title) << " (" << modeWords(mapping.mappingMode)
              << ", used " << mapping.usageCount << (mapping.usageCount == 1 ? " time" : " times")
              << ", changed " << isoDateText(mapping.updatedOn) << ")\n\n";
    std::vector<std::vector<std::string>> table;
    if (standardOutput().isTerminal) table.push_back({"", "title", "target", "label"});
    for (std::size_t index = 0; index < list.size(); ++index) {
        const auto& entry = list[index];
        table.push_back({std::to_string(index + 1), entry.sourceFieldName,
                         entry.contactProperty.formattedContactProperty().value_or("(ignored)"),
                         displayedLabel(entry, list)});
    }
    printListing(table);
    return kSuccess;
}

int saveMapping(MappingsOptions options, const GlobalOptions& global) {
    StandardInputFile standardInput;
    if (!standardInput.replaceDash(options.mapping.file)) return kUsageError;
    if (!allFilesExist({options.mapping.file})) return kUsageError;
    CommandLineSession run(global, true);
    auto& store = run.session().mappingStore();
    setUpSharing(store, "mappings save");
    if (options.name.empty()) {
        printError("mappings save: a mapping needs a title");
        return kUsageError;
    }
    if (const SavedMapping* existing = store.findByTitle(options.name)) {
        printError("mappings save: a mapping is saved as “" + existing->title +
                   "” already; choose another title, or rename or delete that one first");
        return kUsageError;
    }
    const PreparedMapping prepared = prepareMapping(run, options.mapping, "mappings save");
    if (!prepared.page) return prepared.exitCode;
    auto saved = prepared.page->saveMapping(run.session(), options.name);
    if (!saved) {
        printError("mappings save: " + saved.error());
        return kStorageError;
    }
    std::cout << "Saved “" << escapedControls(saved->title) << "” ("
              << modeWords(saved->mappingMode) << ", " << saved->mappedContactProperties.size()
              << (saved->mappedContactProperties.size() == 1 ? " column" : " columns")
              << "): " << saved->uuid << '\n';
    return kSuccess;
}

int renameMapping(const MappingsOptions& options) {
    CommandMappings mappings("mappings rename");
    auto& store = mappings.store();
    MappingsWindowModel model(store);
    const auto rows = rowsNamed(model, store, {options.name}, "rename");
    if (!rows) return kUsageError;
    const std::string uuid = model.rows()[rows->front()].uuid;
    if (const SavedMapping* other = store.findByTitle(options.newTitle);
        other && other->uuid != uuid) {
        printError("mappings rename: a mapping is saved as “" + other->title + "” already");
        return kUsageError;
    }
    if (auto renamed = model.rename(rows->front(), options.newTitle); !renamed) {
        printError("mappings rename: " + renamed.error());
        return options.newTitle.empty() ? kUsageError : kStorageError;
    }
    return kSuccess;
}

int deleteMappings(const MappingsOptions& options) {
    CommandMappings mappings("mappings delete");
    auto& store = mappings.store();
    MappingsWindowModel model(store);
    const auto rows = rowsNamed(model, store, options.names, "delete");
    if (!rows) return kUsageError;
    std::vector<std::string> titles;
    for (auto row : *rows) titles.push_back(model.rows()[row].title);
    if (!options.yes) {
        if (!isatty(STDIN_FILENO)) {
            printError("mappings delete: this would delete " + quotedTitles(titles) +
                       "; there is no terminal to ask on, so pass --yes to go ahead.");
            return kUsageError;
        }
        const auto question = MappingsWindowModel::deleteConfirmation();
        std::cerr << escapedControls(quotedTitles(titles)) << '\n';
        if (!confirmedOnTerminal(question.heading + " " + question.text)) {
            std::cerr << "Nothing was deleted.\n";
            return kCancelled;
        }
    }
    if (auto removed = model.remove(*rows); !removed) {
        printError("mappings delete: " + removed.error());
        return kStorageError;
    }
    std::cout << "Deleted " << escapedControls(quotedTitles(titles)) << '\n';
    return kSuccess;
}

int exportMappings(const MappingsOptions& options) {
    CommandMappings mappings("mappings export");
    auto& store = mappings.store();
    const MappingsWindowModel model(store);
    const auto rows = rowsNamed(model, store, options.names, "export");
    if (!rows) return kUsageError;
    if (rows->empty()) {
        printError("mappings export: there are no saved mappings to export");
        return kUsageError;
    }
    std::filesystem::path file = options.file;
    std::error_code error;
    // Into a folder the file takes the name the desktop program suggests.
    if (std::filesystem::is_directory(file, error))
        file /= MappingsWindowModel::suggestedExportFileName(rows->size());
    if (!mayWriteOutputFile("mappings export", file, {mappings.local().file()}, options.force))
        return kUsageError;
    if (auto written = model.exportRows(*rows, file); !written) {
        printError("mappings export: " + written.error());
        return kUsageError;
    }
    std::cout << "Exported " << rows->size() << (rows->size() == 1 ? " mapping" : " mappings")
              << " to " << escapedControls(file.string()) << '\n';
    return kSuccess;
}

int importMappings(const MappingsOptions& options) {
    if (!allFilesExist({options.file})) return kUsageError;
    // A file that cannot be decoded is the user's mistake (exit 2); a store that cannot be
    // written is not (exit 3).
    auto imported = readMappingFile(options.file);
    if (!imported) {
        printError("mappings import: " + imported.error());
        return kUsageError;
    }
    CommandMappings mappings("mappings import");
    if (auto merged = mappings.store().merge(*imported); !merged) {
        printError("mappings import: " + merged.error());
        return kStorageError;
    }
    std::vector<std::string> titles;
    for (const auto& mapping : *imported) titles.push_back(mapping.title);
    std::cout << "Imported " << imported->size()
              << (imported->size() == 1 ? " mapping" : " mappings")
              << (titles.empty() ? "" : ": " + escapedControls(quotedTitles(titles))) << '\n';
    return kSuccess;
}

int runMappings(const MappingsOptions& options, const GlobalOptions& global) {
    const auto& action = options.action;
    if (action == "list") return listMappings(options);
    if (action == "show") return showMapping(options);
    if (action == "save") return saveMapping(options, global);
    if (action == "rename") return renameMapping(options);
    if (action == "delete") return deleteMappings(options);
    if (action == "export") return exportMappings(options);
    return importMappings(options);
}

}  // namespace

void addMappingsCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<MappingsOptions>();
    CLI::App* command = app.add_subcommand("mappings");
    describe(*command,
             {"List, save, rename, delete, export and import saved mappings",
              "A saved mapping keeps the targets of a file's columns under a title, to be "
              "applied to later files with --mapping (map, import, export-vcard): by name, "
              "each column takes the target of the saved column of the same title (ignoring "
              "case); by position (saved from a file without a title row), the column at each "
              "place takes the target saved there. They are kept in "
              "$XDG_DATA_HOME/pelkora/SavedMappings and exchanged as .zubmapping files, which "
              "the desktop program reads and writes too. A NAME is a mapping's title, ignoring "
              "case, or its uuid. Only save, rename, delete and import change the saved "
              "mappings, and import and map --learn count the use of the one given with "
              "--mapping.",
              {{"pelkora mappings save Shop contacts.csv",
                "Saves the mapping of contacts.csv as “Shop”."},
               {"pelkora import --mapping shop march.csv", "Imports a file mapped as “Shop”."},
               {"pelkora mappings export ~/Desktop", "Writes “N Mappings.zubmapping”."}}});
    command->require_subcommand(1);
    auto add = [&](const char* name, CommandHelp help) {
        return addAction(*command, context, options, name, std::move(help),
                         [&context](const MappingsOptions& given) {
                             return runMappings(given, context.global);
                         });
    };

    CLI::App* list = add("list", {"List the saved mappings",
                                  "Title, mode (by name or by position), columns, times used, "
                                  "last change (UTC) and uuid, by title.",
                                  {{"pelkora mappings list --json", "The same as JSON."}}});
    list->add_flag("--json", options->json,
                   "Print an array of objects with the keys title, mode (\"byName\" or "
                   "\"byPosition\"), columns, usageCount, updatedOn and uuid.");

    CLI::App* show = add("show", {"Print the columns of a saved mapping with their targets",
                                  "One line per saved column: position, title, target and label.",
                                  {{"pelkora mappings show shop", "The columns of “Shop”."}}});
    show->add_flag("--json", options->json,
                   "Print an object with title, mode, usageCount, createdOn, updatedOn, uuid "
                   "and columns (position, title, propertyKey, propertySubKey, label).");
    show->add_option("NAME", options->name,
                     "The mapping's title or uuid, or a .zubmapping file (its first mapping).")
        ->required();

    CLI::App* save =
        add("save",
            {"Map a file as “pelkora map” does and save the mapping under a title",
             "The mapping options correct the automatic mapping as with map. A file read "
             "with --no-header saves a mapping by position, any other one by name. A title "
             "that is saved already is refused.",
             {{"pelkora mappings save --set Groups=Nickname Shop contacts.csv",
               "Saves the mapping with one correction."},
              {"pelkora mappings save --no-header Bank export.csv", "A mapping by position."}}});
    addMappingOptions(*save, options->mapping);
    addOpenAsOption(*save, options->mapping.openAs);
    save->add_option("NAME", options->name, "The title to save it under.")->required();
    save->add_option("FILE", options->mapping.file,
                     "The table: a CSV/TSV text file or an Excel workbook; - reads standard "
                     "input.")
        ->required();

    CLI::App* rename = add("rename", {"Give a saved mapping another title", "", {}});
    rename->add_option("OLD", options->name, "The mapping's title or uuid.")->required();
    rename->add_option("NEW", options->newTitle, "Its new title, not taken by another mapping.")
        ->required();

    CLI::App* remove = add(
        "delete", {"Delete saved mappings",
                   "Asks first on a terminal; elsewhere --yes is needed (exit 2 without). "
                   "Answering no exits 1. Every NAME must name a mapping, or nothing is deleted.",
                   {{"pelkora mappings delete --yes Shop Bank", "Deletes two mappings."}}});
    remove->add_flag("-y,--yes", options->yes, "Do not ask first.");
    remove->add_option("NAME", options->names, "Titles or uuids of the mappings.")->required();

    CLI::App* exporting =
        add("export", {"Write saved mappings to a .zubmapping file",
                       "All of them when none is named. Into a folder, the file is named "
                       "“N Mappings.zubmapping”. An existing file (or a symbolic link, which is "
                       "replaced itself) only with --force; the file is written as a whole.",
                       {{"pelkora mappings export shop.zubmapping Shop", "Exports one mapping."}}});
    exporting->add_flag("--force", options->force, "Replace an existing file.");
    exporting->add_option("OUT.zubmapping", options->file, "The file, or a folder.")->required();
    exporting->add_option("NAME", options->names, "Titles or uuids; all mappings when none.");

    CLI::App* importing =
        add("import", {"Add the mappings of a .zubmapping file to the saved mappings",
                       "A mapping whose uuid is saved already takes the file's title, mode and "
                       "columns; the others are added. A file of another kind is refused (exit 2) "
                       "and nothing is added.",
                       {{"pelkora mappings import shop.zubmapping", "Adds the file's mappings."}}});
    importing->add_option("FILE.zubmapping", options->file, "The exported file.")->required();

    addMappingSyncActions(*command, context);
}

}  // namespace pelkora::cli
