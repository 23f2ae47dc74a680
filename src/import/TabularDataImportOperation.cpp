#include "import/TabularDataImportOperation.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "import/DateColumns.h"
#include "import/DuplicateIndex.h"
#include "platform/Crypto.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"
#include "platform/SettingsStore.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/Settings.h"
#include "support/SharedNames.h"
#include "text/DateFormatting.h"
#include "text/UnicodeText.h"

namespace pelkora {

using contacts::Contact;
using contacts::ContactStoreError;
using contacts::Container;
using contacts::Group;
using contacts::SaveRequest;

namespace {

// The column a mapped property sends to the key, if any.
std::optional<std::int64_t> columnWithKey(const std::vector<MappedContactProperty>& properties,
                                          std::string_view key) {
    for (const auto& property : properties) {
        if (property.contactProperty.propertyKey == key) return property.columnIndex;
    }
    return std::nullopt;
}

// The first group with the name, ignoring letter case.
const Group* groupNamed(const std::vector<Group>& groups, const std::string& name) {
    const std::string wanted = lowercased(name);
    for (const Group& group : groups) {
        if (lowercased(group.name) == wanted) return &group;
    }
    return nullptr;
}

// The container's group with the name, ignoring letter case, or else a new group with the
// name, created in its own request.
Expected<Group, ContactStoreError> duplicatesGroup(contacts::ContactStore& store,
                                                   const std::vector<Group>& groups,
                                                   const std::string& containerID,
                                                   const std::string& name) {
    if (const Group* existing = groupNamed(groups, name)) {
        writeLog(LogType::info, "A group named '%@' already exists -> proceeding...", name);
        return *existing;
    }
    Group group{contacts::makeUUID(), name};
    SaveRequest creation;
    creation.addGroup(group, containerID);
    if (auto done = store.execute(creation); !done) return Unexpected(done.error());
    return group;
}

// By identifier when the source has a UID column, else by full name.
std::unique_ptr<DuplicateIndex> makeDuplicateIndex(bool byIdentifier, contacts::ContactStore& store,
                                                   const std::string& containerID) {
    if (byIdentifier) return std::make_unique<IdentifierDuplicateIndex>(store, containerID);
    return std::make_unique<FullNameDuplicateIndex>(store, containerID);
}

// A store's error as the reason the import stops.
Unexpected<ImportOperationError> storeFailure(const ContactStoreError& error) {
    return Unexpected(ImportOperationError{ImportOperationError::Kind::store, error.message});
}

}  // namespace

ImportOptions importOptions(const SettingsStore& settings) {
    ImportOptions options;
    options.selectedContainerID = settings.stringForKey(SettingKey::SelectedContainerID);
    options.detectDuplicates = settings.boolForKey(SettingKey::DetectDuplicates);
    options.detectNewDuplicates = settings.boolForKey(SettingKey::DetectNewDuplicates);
    options.addTextToNotes = settings.boolForKey(SettingKey::AddTextToNotes);
    options.removeGroups = settings.boolForKey(SettingKey::RemoveGroups);
    return options;
}

TabularDataImportOperation::TabularDataImportOperation(
    std::shared_ptr<contacts::ContactStore> store, ImportSource source, ImportOptions options,
    std::vector<std::string> textTokens, std::weak_ptr<ImportOperationDelegate> delegate)
    : store_(std::move(store)),
      source_(std::move(source)),
      options_(std::move(options)),
      textTokens_(std::move(textTokens)),
      delegate_(std::move(delegate)) {}

std::string TabularDataImportOperation::transactionNumber(
    std::chrono::system_clock::time_point now) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    return md5HexDigest(std::to_string(seconds)).substr(0, 8);
}

std::string TabularDataImportOperation::notesText(const std::vector<std::string>& tokens,
                                                  const std::filesystem::path& file,
                                                  std::chrono::system_clock::time_point now) {
    std::string text;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (i > 0) text += ' ';
        text += tokens[i];
    }
    const std::string fileName =
        file.empty() ? localizedString("UNKNOWN FILE") : file.filename().string();
    text = replacedAll(std::move(text), NoteTokens::FILE, fileName);
    text = replacedAll(std::move(text), NoteTokens::DATE, dates::shortDateText(now));
    text = replacedAll(std::move(text), NoteTokens::TIME, dates::shortTimeText(now));
    text = replacedAll(std::move(text), NoteTokens::TRANSNUM, transactionNumber(now));
    return text;
}

std::string TabularDataImportOperation::oldDuplicatesGroupName() {
    return localizedString("OLD DUPLICATES", "Group of existing contacts that an import repeats");
}

std::string TabularDataImportOperation::newDuplicatesGroupName() {
    return localizedString("NEW DUPLICATES",
                           "Group of imported contacts that repeat existing ones");
}

template <typename Event>
void TabularDataImportOperation::post(Event event) const {
    MainQueue::shared().post([delegate = delegate_, event = std::move(event)] {
        if (auto receiver = delegate.lock()) event(*receiver);
    });
}

void TabularDataImportOperation::fail(const ImportOperationError& error) {
    summary_.failed = true;
    if (error.kind == ImportOperationError::Kind::store) {
        writeLog(LogType::error,
                 "An error occurred while executing a contacts save request: %{public}@",
                 error.message);
        // Every store error is the address book's own error.
        writeLog(LogType::error, "CNError: %{public}@", error.message);
    }
    post([error](ImportOperationDelegate& d) { d.importOperationDidFail(error); });
}

struct TabularDataImportOperation::Run {
    std::string containerID;
    Container container;
    // The container's groups as last read.
    std::vector<Group> groups;
    // The groups new contacts join: the first group of each lower-cased name.
    std::unordered_map<std::string, std::string> groupIdentifiers;
    std::optional<Group> oldDuplicates;
    std::optional<Group> newDuplicates;
    // None when neither kind of duplicate is looked for.
    std::unique_ptr<DuplicateIndex> duplicates;
    std::optional<std::string> notes;
    std::uint64_t processed = 0;
};

struct TabularDataImportOperation::ChunkRequest {
    SaveRequest request;
    std::uint64_t contacts = 0;
    std::uint64_t oldDuplicates = 0;
    std::uint64_t newDuplicates = 0;
};

// The import runs in these steps:
//   1. openContainer: finds the chosen container and reads its groups;
//   2. removeGroups: deletes every group of the container, if the user asked for that;
//   3. createDataGroups: creates the groups the group column names that do not exist yet;
//   4. readGroups: reads the groups again, for the new contacts to join;
//   5. prepareDuplicateGroups: finds or creates "OLD DUPLICATES" and "NEW DUPLICATES", as
//      the settings ask;
// then, for every chunk of rows while the operation is not cancelled:
//   6. assembleChunk: one contact per row, with the notes text and its groups, into the
//      chunk's save request;
//   7. markOldDuplicates: the existing contacts the chunk repeats join "OLD DUPLICATES";
//   8. markNewDuplicates: the chunk's contacts that repeat existing ones join
//      "NEW DUPLICATES";
//   9. saveChunk: the store executes the chunk's request.
// A failing step ends the import with the failed event, and so does an exception that escapes
// a step (main runs the steps, importRows, under that guard); what earlier steps saved stays.
// Duplicates are looked up by the UID column's text when a column is mapped to the UID,
// else by full name; the index that does it is chosen once, before the first chunk.
void TabularDataImportOperation::main(Operation& operation) {
    try {
        importRows(operation);
    } catch (...) {
        // The chunks saved so far stay; the page must hear that the rest did not happen.
        summary_.failed = true;
        const std::string reason = currentExceptionText();
        const std::string file = source_.reader ? source_.reader->fileURL().string() : "";
        writeLog(LogType::error, "The import of %{public}@ stopped on an exception: %{public}@",
                 file, reason);
        post([error = ImportOperationError{
                  ImportOperationError::Kind::internalFailure,
                  formatMessage(
                      localizedString("The import of “%1$@” stopped on an unexpected error: "
                                      "%2$@. The records saved before it stay in the "
                                      "address book; please report this problem."),
                      file, reason),
                  file}](ImportOperationDelegate& d) { d.importOperationDidFail(error); });
    }
}

void TabularDataImportOperation::importRows(Operation& operation) {
    summary_ = {};
    if (!options_.selectedContainerID || !source_.reader) return;
    const std::span<const DataRow> rows = rowsToImport(*source_.reader);
    summary_.rowsToImport = rows.size();

    post([](ImportOperationDelegate& d) { d.importOperationDidStart(); });

    Run run;
    run.containerID = *options_.selectedContainerID;
    if (options_.addTextToNotes)
        run.notes =
            notesText(textTokens_, source_.reader->fileURL(), std::chrono::system_clock::now());

    if (auto done = openContainer(run); !done) return fail(done.error());
    if (auto done = removeGroups(run); !done) return fail(done.error());
    if (auto done = createDataGroups(run, rows); !done) return fail(done.error());
    if (auto done = readGroups(run); !done) return fail(done.error());
    if (auto done = prepareDuplicateGroups(run); !done) return fail(done.error());

    const auto& properties = source_.mappedProperties;
    const auto uidColumn = columnWithKey(properties, CustomPropertyKeys::UID);
    if (run.oldDuplicates || run.newDuplicates)
        run.duplicates = makeDuplicateIndex(uidColumn.has_value(), *store_, run.containerID);
    AssemblyOptions assemblyOptions = source_.assemblyOptions;
    assemblyOptions.dayMonthOrders = dayMonthOrdersOfDateColumns(rows, properties);
    ContactAssembler assembler(properties, source_.dateFormats, std::move(assemblyOptions));
    const ChunkSeq<const DataRow> chunks(rows, kChunkSize);
    summary_.chunks = chunks.size();
    int chunkNumber = 0;
    for (const std::span<const DataRow> rowsOfChunk : chunks) {
        if (operation.isCancelled()) break;
        ++chunkNumber;
        writeLog(LogType::info, "Importing chunk #%d of %d...", chunkNumber,
                 static_cast<int>(summary_.chunks));

        ChunkRequest chunk = assembleChunk(run, rowsOfChunk, assembler, uidColumn, operation);
        summary_.contactsProcessed = run.processed;
        post([](ImportOperationDelegate& d) { d.importOperationDidSubmitChunk(); });

        if (run.oldDuplicates && !operation.isCancelled()) {
            if (auto done = markOldDuplicates(run, chunk); !done) return fail(done.error());
        }
        if (run.newDuplicates && !operation.isCancelled()) {
            if (auto done = markNewDuplicates(run, chunk); !done) return fail(done.error());
        }
        summary_.oldDuplicates += chunk.oldDuplicates;
        summary_.newDuplicates += chunk.newDuplicates;

        if (operation.isCancelled()) break;
        if (auto done = saveChunk(run, chunk); !done) return fail(done.error());
    }

    summary_.cancelled = summary_.chunksSaved < summary_.chunks;
    if (operation.isCancelled()) return;
    if (!summary_.warnings.empty()) {
        post([lines = warningCountLines(summary_.warnings)](ImportOperationDelegate& d) {
            d.importOperationDidWarn(lines);
        });
    }
    post([](ImportOperationDelegate& d) { d.importOperationDidFinish(); });
}

// Leaves the container and its groups in the run.
auto TabularDataImportOperation::openContainer(Run& run) -> StepResult {
    auto container = store_->container(run.containerID);
    if (!container) return storeFailure(container.error());
    if (!*container) {
        return Unexpected(ImportOperationError{
            ImportOperationError::Kind::containerNotFound,
            localizedString("The container with the specified identifier could not be found.")});
    }
    run.container = std::move(**container);
    auto groups = store_->groups(run.containerID);
    if (!groups) return storeFailure(groups.error());
    run.groups = std::move(*groups);
    return {};
}

// All groups go in one request; the run's group list is empty afterwards.
auto TabularDataImportOperation::removeGroups(Run& run) -> StepResult {
    if (!options_.removeGroups) return {};
    const std::string note =
        formatMessage(localizedString("Removing existing groups from “%@”…"), run.container.name);
    post([note](ImportOperationDelegate& d) { d.importOperationDidChangeNote(note); });
    SaveRequest removal;
    for (const Group& group : run.groups) removal.deleteGroup(group.identifier);
    if (!removal.isEmpty()) {
        if (auto done = store_->execute(removal); !done) return storeFailure(done.error());
    }
    summary_.groupsRemoved = run.groups.size();
    run.groups.clear();
    return {};
}

// Each name is created once, in the order of first appearance, unless a group has that name
// letter for letter; all of them in one request.
auto TabularDataImportOperation::createDataGroups(const Run& run, std::span<const DataRow> rows)
    -> StepResult {
    const auto groupColumn = columnWithKey(source_.mappedProperties, CustomPropertyKeys::Group);
    if (!groupColumn) return {};
    std::unordered_set<std::string> known;
    for (const Group& group : run.groups) known.insert(group.name);
    SaveRequest creation;
    for (const DataRow& row : rows) {
        const auto cell = row.cellForColumn(*groupColumn);
        if (!cell || cell->kind() != CellKind::text) continue;
        for (std::string& name : groupNamesInText(cell->text())) {
            if (!known.insert(name).second) continue;
            creation.addGroup(Group{contacts::makeUUID(), std::move(name)}, run.containerID);
            ++summary_.groupsCreated;
        }
    }
    if (!creation.isEmpty()) {
        if (auto done = store_->execute(creation); !done) return storeFailure(done.error());
    }
    return {};
}

// Leaves the groups, and the groups new contacts join, in the run.
auto TabularDataImportOperation::readGroups(Run& run) -> StepResult {
    auto groups = store_->groups(run.containerID);
    if (!groups) return storeFailure(groups.error());
    run.groups = std::move(*groups);
    for (const Group& group : run.groups)
        run.groupIdentifiers.emplace(lowercased(group.name), group.identifier);
    return {};
}

// Leaves the duplicate groups the settings ask for in the run. An existing group of the name,
// in any letter case, is used as it is.
auto TabularDataImportOperation::prepareDuplicateGroups(Run& run) -> StepResult {
    if (options_.detectDuplicates) {
        auto group =
            duplicatesGroup(*store_, run.groups, run.containerID, oldDuplicatesGroupName());
        if (!group) return storeFailure(group.error());
        run.oldDuplicates = std::move(*group);
    }
    if (options_.detectNewDuplicates) {
        auto group =
            duplicatesGroup(*store_, run.groups, run.containerID, newDuplicatesGroupName());
        if (!group) return storeFailure(group.error());
        run.newDuplicates = std::move(*group);
    }
    return {};
}

// Rows are taken until the operation is cancelled; empty rows are counted and skipped.
auto TabularDataImportOperation::assembleChunk(Run& run, std::span<const DataRow> chunk,
                                               ContactAssembler& assembler,
                                               std::optional<std::int64_t> uidColumn,
                                               const Operation& operation) -> ChunkRequest {
    ChunkRequest request;
    for (const DataRow& row : chunk) {
        if (row.empty()) {
            ++summary_.emptyRowsSkipped;
            continue;
        }
        if (operation.isCancelled()) break;
        std::string_view sourceIdentifier;
        if (uidColumn) {
            if (const auto cell = row.cellForColumn(*uidColumn)) sourceIdentifier = cell->text();
        }
        AssembledContact assembled = assembler.assemble(row);
        recordProblems(row.rowIndex(), assembled.problems);
        addContact(run, request, std::move(assembled), sourceIdentifier);
    }
    return request;
}

// Each problem of a row becomes a warning of the summary and a line of the runtime log.
void TabularDataImportOperation::recordProblems(std::int64_t rowIndex,
                                                std::vector<AssemblyProblem>& problems) {
    for (AssemblyProblem& problem : problems) {
        writeLog(LogType::info, "Row %ld, column '%{public}@': '%{public}@' %{public}@",
                 static_cast<long>(rowIndex), problem.column, problem.value, problem.problem);
        summary_.warnings.push_back({rowIndex,
                                     std::move(problem.column),
                                     std::move(problem.value),
                                     std::move(problem.problem),
                                     {}});
    }
}

std::vector<std::string> warningCountLines(const std::vector<ImportWarning>& warnings) {
    std::vector<std::pair<std::string, std::size_t>> counts;
    for (const ImportWarning& warning : warnings) {
        auto found = std::find_if(counts.begin(), counts.end(), [&](const auto& entry) {
            return entry.first == warning.problem;
        });
        if (found == counts.end())
            counts.emplace_back(warning.problem, 1);
        else
            ++found->second;
    }
    std::vector<std::string> lines;
    for (const auto& [problem, count] : counts) {
        const std::string number = std::to_string(count);
        const bool one = count == 1;
        if (problem == kProblemNotADate) {
            lines.push_back(number + (one ? " value was not a date" : " values were not dates") +
                            " and went into the note");
        } else if (problem == kProblemSharedTarget) {
            lines.push_back(number + (one ? " value" : " values") +
                            " went into the note because another column filled the same field");
        } else if (problem == kProblemPictureNotDecoded) {
            lines.push_back(number +
                            (one ? " picture could not be decoded and was"
                                 : " pictures could not be decoded and were") +
                            " kept as the file gave them");
        } else {
            lines.push_back(number + (one ? " value: " : " values: ") + problem);
        }
    }
    return lines;
}

// The contact goes into the request with the notes text, and joins the first group of each
// of its group names, matched ignoring letter case; names without a group are passed over.
void TabularDataImportOperation::addContact(Run& run, ChunkRequest& chunk,
                                            AssembledContact assembled,
                                            std::string_view sourceIdentifier) {
    Contact& contact = assembled.contact;
    if (run.duplicates) run.duplicates->record(contact, sourceIdentifier);
    // Assembly ends every note with a line feed, so an empty note arrives as one; the notes
    // text goes on the line after the note's last text, never after blank lines.
    contact.note = trimmedWhiteSpace(contact.note);
    if (run.notes) {
        if (contact.note.empty())
            contact.note = *run.notes;
        else
            contact.note += "\n" + *run.notes;
    }
    const std::string identifier = contact.identifier;
    chunk.request.addContact(std::move(contact), run.containerID);
    for (const std::string& name : assembled.groupNames) {
        if (auto found = run.groupIdentifiers.find(lowercased(name));
            found != run.groupIdentifiers.end())
            chunk.request.addMember(identifier, found->second);
    }
    ++chunk.contacts;
    const std::uint64_t processed = ++run.processed;
    post([processed](ImportOperationDelegate& d) { d.importOperationDidProcess(processed); });
}

// Contacts saved by earlier chunks are in the store and count as existing; an existing
// contact an earlier chunk put in the group is not added again.
auto TabularDataImportOperation::markOldDuplicates(Run& run, ChunkRequest& chunk) -> StepResult {
    auto found = run.duplicates->oldDuplicates();
    if (!found) return storeFailure(found.error());
    for (std::string& existing : *found)
        chunk.request.addMember(std::move(existing), run.oldDuplicates->identifier);
    chunk.oldDuplicates = found->size();
    return {};
}

// The chunk's contacts are not saved yet, so they are never compared with each other.
auto TabularDataImportOperation::markNewDuplicates(Run& run, ChunkRequest& chunk) -> StepResult {
    auto found = run.duplicates->newDuplicates();
    if (!found) return storeFailure(found.error());
    for (std::string& repeat : *found)
        chunk.request.addMember(std::move(repeat), run.newDuplicates->identifier);
    chunk.newDuplicates = found->size();
    return {};
}

// After the save, the chunk's contacts count as existing for the duplicates of later chunks.
auto TabularDataImportOperation::saveChunk(Run& run, const ChunkRequest& chunk) -> StepResult {
    if (auto done = store_->execute(chunk.request); !done) return storeFailure(done.error());
    if (run.duplicates) run.duplicates->chunkSaved();
    summary_.contactsSaved += chunk.contacts;
    ++summary_.chunksSaved;
    return {};
}

}  // namespace pelkora
