// pelkora map: read a table file and map its columns to contact properties as the
// field-mapping page does, optionally correcting columns by hand.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>

#include "Command.h"
#include "CommandHelp.h"
#include "CommandLineSession.h"
#include "CommandOptions.h"
#include "MappingSteps.h"
#include "SharedMappings.h"
#include "StandardStreams.h"
#include "addressbook/ContactLocalization.h"
#include "input/DataCell.h"
#include "mapping/ValueLabels.h"
#include "platform/MainQueue.h"
#include "session/FieldMappingPage.h"
#include "session/MappingsWindowModel.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

struct MapOptions {
    MappingRequest mapping;
    bool json = false;
    bool preview = false;
    bool learn = false;                  // --learn: the --set corrections are kept for later files
    std::optional<std::int64_t> record;  // --row N: the record shown in the preview
};

// The row of a column named by its letters ("C"), its number ("3") or its title.
std::optional<std::size_t> findColumn(const std::vector<MappedContactProperty>& list,
                                      const std::string& name) {
    for (std::size_t row = 0; row < list.size(); ++row) {
        if (list[row].formattedColumnIndex == name ||
            formattedColumnIndex(list[row].columnIndex, 2) == name ||
            formattedColumnIndex(list[row].columnIndex, 1) == name) {
            return row;
        }
    }
    for (std::size_t row = 0; row < list.size(); ++row) {
        if (list[row].sourceFieldName == name) return row;
    }
    return std::nullopt;
}

// The target menu item named by its key ("phoneNumbers", "postalAddresses/street"), its
// title ("Phone", "Street") or "ignore".
std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return text;
}

std::optional<TargetMenuItem> findTarget(const std::vector<TargetMenuItem>& menu,
                                         const std::string& name) {
    for (const auto& item : menu) {
        if (item.kind == TargetMenuItem::Kind::ignore && (name == "ignore" || name == "Ignore"))
            return item;
        if (item.kind != TargetMenuItem::Kind::property) continue;
        const auto& entry = item.representedEntry;
        std::string keyPath = entry.propertyKey.value_or("");
        if (entry.propertySubKey) keyPath += "/" + *entry.propertySubKey;
        const auto title = entry.formattedContactProperty().value_or("");
        if (name == keyPath || lowered(name) == lowered(title) ||
            (name == entry.propertyKey && !entry.propertySubKey)) {
            return item;
        }
    }
    return std::nullopt;
}

int applyAssignment(CommandLineSession& run, FieldMappingPage& page, const std::string& assignment,
                    std::string_view command) {
    auto& session = run.session();
    const auto equals = assignment.find('=');
    if (equals == std::string::npos) {
        printError(std::string(command) + ": --set takes COLUMN=TARGET[:LABEL], not “" +
                   assignment + "”");
        return kUsageError;
    }
    const std::string column = assignment.substr(0, equals);
    std::string target = assignment.substr(equals + 1);
    std::optional<std::string> label;
    if (const auto colon = target.find(':'); colon != std::string::npos) {
        label = target.substr(colon + 1);
        target.resize(colon);
    }
    const auto row = findColumn(session.mappedContactProperties(), column);
    if (!row) {
        printError(std::string(command) + ": no column “" + column +
                   "” (use its letters, its number or its title)");
        return kUsageError;
    }
    const auto menu = page.targetMenu(session, *row, 1);
    const auto item = findTarget(menu, target);
    if (!item) {
        printError(std::string(command) + ": no target “" + target +
                   "”. Run “pelkora catalogue” for the targets.");
        return kUsageError;
    }
    if (!FieldMappingPage::isEnabled(*item)) {
        printError(std::string(command) + ": “" + item->title +
                   "” is used by another column already");
        return kUsageError;
    }
    page.contactPropertyDidChange(session, *row, *item);
    if (label) {
        const std::string value = *label == "extract" ? std::string(kExtractLabelMarker) : *label;
        page.contactLabelDidChange(session, *row, value);
    }
    return kSuccess;
}

int applySavedMappingOption(CommandLineSession& run, FieldMappingPage& page,
                            const std::string& name, std::string_view command) {
    auto& session = run.session();
    if (!session.mappingStore().recordStore()) setUpSharing(session.mappingStore(), command);
    auto found = findSavedMapping(session.mappingStore(), name);
    if (!found) {
        printError(std::string(command) + ": --mapping: " + found.error());
        return kUsageError;
    }
    SavedMapping& mapping = found->mapping;
    const std::size_t taken = page.applySavedMapping(session, mapping);
    if (taken == 0 && mapping.mappingMode == MappingMode::byName) {
        const auto [heading, text] = FieldMappingPage::noMatchingColumnTexts();
        printError(std::string(command) + ": " + heading + " “" + mapping.title + "”. " + text);
        return kUsageError;
    }
    if (taken == 0) {
        printWarning(std::string(command) + ": the mapping “" + mapping.title +
                     "” assigned no column: it or the file has no columns");
    }
    if (found->stored && session.learnsAssignments()) {
        if (auto saved = session.mappingStore().update(mapping); !saved)
            printWarning(std::string(command) + ": the use of “" + mapping.title +
                         "” could not be counted: " + saved.error());
    }
    return kSuccess;
}

std::optional<std::string> effectiveLabel(const SuggestedContactProperty& target) {
    return target.canHaveLabel() ? target.label() : std::nullopt;
}

// The status in a word: what happens to the column's values, and whether the user's own titles
// or a saved mapping decided it ("learnt").
std::string_view statusWord(MappingStatus status) {
    switch (status) {
        case MappingStatus::needsAttention:
            return "check";
        case MappingStatus::append:
            return "to note";
        case MappingStatus::appendCustom:
            return "to note, learnt";
        case MappingStatus::assigned:
            return "mapped";
        case MappingStatus::assignedCustom:
            return "learnt";
        case MappingStatus::ignored:
            return "ignored";
        case MappingStatus::ignoredCustom:
            return "ignored, learnt";
    }
    return "";
}

void printTable(const std::vector<MappedContactProperty>& list, const std::string& language,
                const std::vector<SharedTargetWarning>& warnings) {
    std::cout << "language: " << escapedControls(language) << "\n\n";
    const auto& output = standardOutput();
    std::vector<std::vector<std::string>> table;
    if (output.isTerminal) table.push_back({"", "title", "target", "label", "status", "example"});
    for (const auto& entry : list) {
        const auto& target = entry.contactProperty;
        table.push_back({entry.formattedColumnIndex.value_or(""), entry.sourceFieldName,
                         target.formattedContactProperty().value_or("(ignored)"),
                         displayedLabel(entry, list),
                         std::string(statusWord(entry.mappingStatus())), entry.sourceFieldContent});
    }
    printListing(table);
    if (!warnings.empty()) std::cout << '\n';
    for (const auto& warning : warnings) {
        std::cout << coloured("warning:", Colour::yellow, output.colour) << ' '
                  << escapedControls(warning.message) << '\n';
    }
}

std::string optionalJson(const std::optional<std::string>& text) {
    return text ? json::quoted(*text) : std::string("null");
}

// The messages of the warnings that name the entry.
std::string warningsJson(const std::vector<SharedTargetWarning>& warnings, std::size_t entry) {
    std::string text = "[";
    for (const auto& warning : warnings) {
        if (std::find(warning.entries.begin(), warning.entries.end(), entry) ==
            warning.entries.end())
            continue;
        if (text.size() > 1) text += ", ";
        text += json::quoted(warning.message);
    }
    return text + "]";
}

void printJson(const std::vector<MappedContactProperty>& list,
               const std::vector<SharedTargetWarning>& warnings) {
    std::cout << "[\n";
    for (std::size_t index = 0; index < list.size(); ++index) {
        const auto& entry = list[index];
        const auto& target = entry.contactProperty;
        std::cout << "  {\"column\": " << optionalJson(entry.formattedColumnIndex)
                  << ", \"columnIndex\": " << entry.columnIndex
                  << ", \"title\": " << json::quoted(entry.sourceFieldName)
                  << ", \"propertyKey\": " << optionalJson(target.propertyKey)
                  << ", \"propertySubKey\": " << optionalJson(target.propertySubKey)
                  << ", \"label\": " << optionalJson(effectiveLabel(target))
                  << ", \"labelColumn\": " << optionalJson(labelColumnName(entry, list))
                  << ", \"status\": " << json::quoted(entry.statusImageName())
                  << ", \"statusText\": " << json::quoted(statusWord(entry.mappingStatus()))
                  << ", \"example\": " << json::quoted(entry.sourceFieldContent)
                  << ", \"warnings\": " << warningsJson(warnings, index) << "}"
                  << (index + 1 < list.size() ? "," : "") << '\n';
    }
    std::cout << "]\n";
}

}  // namespace

std::optional<int> openAsTagNamed(std::string_view value) {
    if (value == "auto") return static_cast<int>(OpenAsFileType::determineAutomatically);
    if (value == "text") return static_cast<int>(OpenAsFileType::text);
    if (value == "xlsx") return static_cast<int>(OpenAsFileType::officeOpenXMLSpreadsheet);
    if (value == "vcard") return static_cast<int>(OpenAsFileType::vCard);
    return std::nullopt;
}

Expected<NamedMapping, std::string> findSavedMapping(const MappingStore& store,
                                                     const std::string& name) {
    const std::string extension = "." + std::string(kMappingFileExtension);
    if (name.size() > extension.size() &&
        lowered(name.substr(name.size() - extension.size())) == extension) {
        auto mappings = readMappingFile(name);
        if (!mappings) return Unexpected(mappings.error());
        if (mappings->empty()) return Unexpected("“" + name + "” holds no mappings");
        return NamedMapping{std::move(mappings->front()), false};
    }
    const SavedMapping* stored = store.findByTitle(name);
    if (!stored) stored = store.findByUuid(name);
    if (stored) return NamedMapping{*stored, true};
    return Unexpected("no saved mapping “" + name +
                      "”. Run “pelkora mappings list” to see them, or name a ." +
                      std::string(kMappingFileExtension) + " file.");
}

PreparedMapping prepareMapping(CommandLineSession& run, const MappingRequest& request,
                               std::string_view command) {
    auto& session = run.session();
    session.setOpenAsFileType(request.openAs);
    if (request.encoding) session.setTextReadingChoices({request.encoding, std::nullopt});
    if (auto failure = run.readTable(request.file, request.sheet)) {
        printError(request.file.string() + ": " + *failure);
        return {nullptr, kUsageError};
    }
    if (request.sheet && !session.excelReader()) {
        printError(std::string(command) + ": --sheet applies to Excel workbooks (.xlsx), and " +
                   request.file.string() + " is a text file");
        return {nullptr, kUsageError};
    }
    auto* page = dynamic_cast<FieldMappingPage*>(session.currentPage());
    if (!page) {
        printError(request.file.string() + ": the mapping page did not open");
        return {nullptr, kUsageError};
    }
    MainQueue::shared().runUntil([&] { return !page->isMapping(); });
    if (request.noHeader) page->setFirstRowContainsColumnHeaders(session, false);
    // Every title matched in the given language instead of the detected one.
    if (request.language) page->setLanguage(session, *request.language);
    if (request.savedMapping) {
        if (int status = applySavedMappingOption(run, *page, *request.savedMapping, command);
            status != kSuccess)
            return {nullptr, status};
    }
    for (const auto& assignment : request.assignments) {
        if (int status = applyAssignment(run, *page, assignment, command); status != kSuccess)
            return {nullptr, status};
    }
    return {page, kSuccess};
}

namespace {

int runMap(MapOptions options, const GlobalOptions& globalOptions) {
    StandardInputFile standardInput;
    if (!standardInput.replaceDash(options.mapping.file)) return kUsageError;
    if (!allFilesExist({options.mapping.file})) return kUsageError;

    CommandLineSession run(globalOptions, true,
                           options.learn ? SessionAccess::learnsAndSaves : SessionAccess::readOnly);
    const PreparedMapping prepared = prepareMapping(run, options.mapping, "map");
    if (!prepared.page) return prepared.exitCode;
    auto& session = run.session();
    auto* page = prepared.page;
    if (options.record) {
        if (*options.record > page->totalRecords()) {
            printError("map: --row " + std::to_string(*options.record) + ": the file has " +
                       std::to_string(page->totalRecords()) +
                       (page->totalRecords() == 1 ? " record" : " records"));
            return kUsageError;
        }
        // Step through the records as the page's arrows do, so the preview shows that record.
        while (page->currentRecordIndex() > *options.record) {
            const auto before = page->currentRecordIndex();
            page->showPreviousRecord(session);
            if (page->currentRecordIndex() == before) break;
        }
        while (page->currentRecordIndex() < *options.record) {
            const auto before = page->currentRecordIndex();
            page->showNextRecord(session);
            if (page->currentRecordIndex() == before) break;
        }
    }
    const auto warnings = page->sharedTargetWarnings(session);
    if (options.json) {
        printJson(session.mappedContactProperties(), warnings);
    } else {
        printTable(session.mappedContactProperties(), session.detectedLanguage(), warnings);
    }
    if (options.preview) {
        std::cout << "\nrecord " << page->currentRecordIndex() << " of " << page->totalRecords()
                  << ":\n"
                  << escapedControls(renderPlainText(page->previewDocument()), true) << '\n';
    }
    return kSuccess;
}

}  // namespace

void addMapCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<MapOptions>();
    CLI::App* command = app.add_subcommand("map");
    describe(*command,
             {"Map every column of a table to a contact property as the importer does",
              "Reads the file as the importer does (learnt titles included) and prints a line "
              "per column: column, title, target, label, status and example. The status says "
              "what happens to the column's values: \"mapped\", \"learnt\" (mapped by your own "
              "corrections or a saved mapping), \"to note\", \"to note, learnt\", \"ignored\", "
              "\"ignored, learnt\", or \"check\" (the example value needs a look). "
              "Tab-separated when not written to a terminal. Columns that share a target only "
              "one value fits (two given-name columns, a full name beside name columns) are "
              "named in \"warning:\" lines after the table. --set corrects a column for this "
              "run; --learn keeps the corrections for later files, as an import does.\n\n"
              "--json prints an array of objects with the keys column, columnIndex, title, "
              "propertyKey, propertySubKey, label, labelColumn, status (the page's status icon: "
              "\"mapping-status-assigned\", \"-assigned-custom\", \"-append\", "
              "\"-append-custom\", \"-ignored\", \"-ignored-custom\" or \"-needs-attention\"), "
              "statusText (the word the table shows), example and warnings (the messages that "
              "name the column). --preview prints the contact the mapping makes of the example "
              "record, or of record N with --row.",
              {{"pelkora map contacts.csv", "The mapping of every column."},
               {"pelkora map --set Groups=Nickname --set 'Mobil=phoneNumbers:_$!<Mobile>!$_' "
                "contacts.csv",
                "Two corrections, for this run only."},
               {"pelkora map --learn --set Groups=Nickname contacts.csv",
                "A correction learnt for the next files with this title."},
               {"pelkora map --preview --row 3 --lang=de kontakte.csv",
                "The contact record 3 gives, titles read as German."}}});
    addMappingOptions(*command, options->mapping);
    addOpenAsOption(*command, options->mapping.openAs);
    command->add_flag("--json", options->json, "Print the mapping as a JSON array.");
    command->add_flag("--learn", options->learn,
                      "Keep the --set corrections for later files, as an import does.");
    command->add_flag("--preview", options->preview,
                      "Print the contact the mapping makes of the example record.");
    command
        ->add_option("--row", options->record,
                     "The record --preview shows, from 1; an error past the last record.")
        ->type_name("N")
        ->check(countCheck(1));
    command
        ->add_option("FILE", options->mapping.file,
                     "The table: a CSV/TSV text file or an Excel workbook; - reads standard "
                     "input.")
        ->required();
    setAction(*command, context, [options, &context] { return runMap(*options, context.global); });
}

}  // namespace pelkora::cli
