#include "import/ContactImport.h"

#include <unordered_set>
#include <utility>

#include "import/ContactAssembly.h"
#include "import/DuplicateIndex.h"
#include "platform/Crypto.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Settings.h"
#include "support/SharedNames.h"
#include "text/DateFormatting.h"
#include "text/UnicodeText.h"

namespace pelkora {

using contacts::Contact;
using contacts::ContactStoreError;
using contacts::Group;
using contacts::SaveRequest;

namespace {

// The first group with the name, ignoring letter case.
const Group* groupNamed(const std::vector<Group>& groups, const std::string& name) {
    const std::string wanted = lowercased(name);
    for (const Group& group : groups) {
        if (lowercased(group.name) == wanted) return &group;
    }
    return nullptr;
}

// Of the groups a request added, those that were made: the store joins a group named like one
// the container has already (another import may have made it meanwhile) instead of adding it.
// A store that names groups itself (the desktop's address book makes a group's identifier from
// its name) has them under its own identifiers: those are found by name, among the groups the
// container did not have before.
Expected<std::vector<std::string>, ContactStoreError> groupsMade(contacts::ContactStore& store,
                                                                 const std::string& containerID,
                                                                 const std::vector<Group>& before,
                                                                 const std::vector<Group>& added) {
    auto groups = store.groups(containerID);
    if (!groups) return Unexpected(groups.error());
    std::unordered_set<std::string> there;
    for (const Group& group : *groups) there.insert(group.identifier);
    std::unordered_set<std::string> old;
    for (const Group& group : before) old.insert(group.identifier);
    std::vector<std::string> made;
    for (const Group& group : added) {
        if (there.contains(group.identifier)) {
            made.push_back(group.identifier);
            continue;
        }
        if (store.keepsGroupIdentifiers()) continue;
        for (const Group& now : *groups) {
            if (now.name == group.name && !old.contains(now.identifier)) {
                made.push_back(now.identifier);
                break;
            }
        }
    }
    return made;
}

// The container's group with the name, ignoring letter case, or else a new group with the
// name, created in its own request and added to `created`; when another import made the name
// meanwhile, the store keeps that group and it is the one returned.
Expected<Group, ContactStoreError> duplicatesGroup(contacts::ContactStore& store,
                                                   const std::vector<Group>& groups,
                                                   const std::string& containerID,
                                                   const std::string& name,
                                                   std::vector<std::string>& created) {
    if (const Group* existing = groupNamed(groups, name)) {
        writeLog(LogType::info, "A group named '%@' already exists -> proceeding...", name);
        return *existing;
    }
    Group group{contacts::makeUUID(), name};
    SaveRequest creation;
    creation.addGroup(group, containerID);
    if (auto done = store.execute(creation); !done) return Unexpected(done.error());
    auto now = store.groups(containerID);
    if (!now) return Unexpected(now.error());
    // The container had no group of the name before: one of that name now is ours, under the
    // store's identifier if it names groups itself.
    const Group* kept = nullptr;
    for (const Group& candidate : *now) {
        if (candidate.identifier == group.identifier) {
            created.push_back(group.identifier);
            return group;
        }
        if (candidate.name == name && !kept) kept = &candidate;
    }
    if (kept && !store.keepsGroupIdentifiers()) created.push_back(kept->identifier);
    if (kept) return *kept;
    return group;
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
        if (problem == kProblemNotADate) {
            lines.push_back(formatMessage(
                localizedPlural("%@ value was not a date and went into the note",
                                "%@ values were not dates and went into the note", count),
                number));
        } else if (problem == kProblemSharedTarget) {
            lines.push_back(formatMessage(
                localizedPlural(
                    "%@ value went into the note because another column filled the same field",
                    "%@ values went into the note because another column filled the same field",
                    count),
                number));
        } else if (problem == kProblemPictureNotDecoded) {
            lines.push_back(formatMessage(
                localizedPlural(
                    "%@ picture could not be decoded and was kept as the file gave them",
                    "%@ pictures could not be decoded and were kept as the file gave them", count),
                number));
        } else if (problem == kProblemPictureTooLarge) {
            lines.push_back(formatMessage(
                localizedPlural("%@ picture was too large for a contact photo and left out",
                                "%@ pictures were too large for a contact photo and left out",
                                count),
                number));
        } else if (problem == kProblemUnreadableCard) {
            lines.push_back(formatMessage(
                localizedPlural("%@ vCard could not be read and was skipped",
                                "%@ vCards could not be read and were skipped", count),
                number));
        } else if (problem == kProblemIdentifierInUse) {
            lines.push_back(formatMessage(
                localizedPlural("%@ vCard had an identifier already in use and got a new one",
                                "%@ vCards had an identifier already in use and got a new one",
                                count),
                number));
        } else {
            lines.push_back(formatMessage(
                localizedPlural("%1$@ value: %2$@", "%1$@ values: %2$@", count), number, problem));
        }
    }
    return lines;
}

ContactImport::ContactImport(std::shared_ptr<contacts::ContactStore> store, ImportOptions options,
                             std::weak_ptr<ImportOperationDelegate> delegate,
                             std::shared_ptr<const ImportJournal> journal)
    : store_(std::move(store)),
      options_(std::move(options)),
      delegate_(std::move(delegate)),
      journal_(std::move(journal)) {}

ContactImport::~ContactImport() = default;

std::string ContactImport::transactionNumber(std::chrono::system_clock::time_point now) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    return md5HexDigest(std::to_string(seconds)).substr(0, 8);
}

std::string ContactImport::notesText(const std::vector<std::string>& tokens,
                                     const std::filesystem::path& file,
                                     std::chrono::system_clock::time_point now,
                                     std::string_view transactionNumber) {
    std::string text;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (i > 0) text += ' ';
        text += tokens[i];
    }
    const std::string fileName =
        file.empty() ? localizedString("UNKNOWN FILE") : file.filename().string();
    const std::pair<std::string_view, std::string> replacements[] = {
        {NoteTokens::FILE, fileName},
        {NoteTokens::DATE, dates::shortDateText(now)},
        {NoteTokens::TIME, dates::shortTimeText(now)},
        {NoteTokens::TRANSNUM, std::string(transactionNumber)},
    };
    // One pass over the joined tokens: what a keyword was replaced by is never searched again,
    // so a file named "UPDATES.csv" keeps its name.
    std::string result;
    result.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        bool replaced = false;
        for (const auto& [keyword, replacement] : replacements) {
            if (std::string_view(text).substr(at).starts_with(keyword)) {
                result += replacement;
                at += keyword.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) result += text[at++];
    }
    return result;
}

std::string ContactImport::oldDuplicatesGroupName() {
    return localizedString("OLD DUPLICATES", "Group of existing contacts that an import repeats");
}

std::string ContactImport::newDuplicatesGroupName() {
    return localizedString("NEW DUPLICATES",
                           "Group of imported contacts that repeat existing ones");
}

void ContactImport::post(std::function<void(ImportOperationDelegate&)> event) const {
    MainQueue::shared().post([delegate = delegate_, event = std::move(event)] {
        if (auto receiver = delegate.lock()) event(*receiver);
    });
}

// A contact a row makes is quicker than the main thread's handling of its progress event, so
// events are not posted one per contact: at most one every kProgressInterval, and while one
// waits on the main queue the count is only updated, as that event reports the newest count
// when it runs. The last count is always reported, before any later event: submitChunk,
// finish and fail flush it.
void ContactImport::reportProgress(std::uint64_t processed) {
    progress_->processed.store(processed, std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    if (now - lastProgressPost_ < kProgressInterval) {
        progressUnreported_ = true;
        return;
    }
    lastProgressPost_ = now;
    postProgress();
}

void ContactImport::flushProgress() {
    if (!progressUnreported_) return;
    lastProgressPost_ = std::chrono::steady_clock::now();
    postProgress();
}

void ContactImport::postProgress() {
    progressUnreported_ = false;
    if (progress_->pending.exchange(true)) return;
    post([progress = progress_](ImportOperationDelegate& d) {
        progress->pending.store(false);
        d.importOperationDidProcess(progress->processed.load());
    });
}

void ContactImport::fail(const ImportOperationError& error) {
    flushProgress();
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

void ContactImport::runGuarded(const std::function<void()>& body,
                               const std::function<std::string()>& source) {
    try {
        body();
    } catch (...) {
        // The chunks saved so far stay; the page must hear that the rest did not happen.
        const std::string reason = currentExceptionText();
        // A chunk still being saved is waited for, so that the summary counts it.
        try {
            (void)awaitSave();
        } catch (...) {
        }
        flushProgress();
        summary_.failed = true;
        const std::string file = source();
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

bool ContactImport::start(std::uint64_t recordsToImport) {
    summary_ = {};
    container_ = {};
    groups_.clear();
    groupIdentifiers_.clear();
    oldDuplicates_.reset();
    newDuplicates_.reset();
    duplicates_.reset();
    saving_.reset();
    description_.reset();
    journalEntry_.reset();
    progress_ = std::make_shared<ProgressReport>();
    lastProgressPost_ = {};
    progressUnreported_ = false;
    if (!options_.selectedContainerID) return false;
    containerID_ = *options_.selectedContainerID;
    summary_.rowsToImport = recordsToImport;
    post([](ImportOperationDelegate& d) { d.importOperationDidStart(); });
    return true;
}

void ContactImport::identify(std::chrono::system_clock::time_point startTime,
                             std::vector<std::filesystem::path> files) {
    if (!journal_) return;
    ImportRecord record;
    record.number = transactionNumber(startTime);
    record.time = startTime;
    for (std::filesystem::path& file : files) {
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(file, error);
        record.files.push_back(error ? std::move(file) : std::move(absolute));
    }
    record.store = store_->location();
    description_ = std::move(record);
}

void ContactImport::noteJournalProblem(const FileError& error) {
    writeLog(LogType::error, "The import cannot be recorded for undoing it: %{public}@",
             error.message);
    if (summary_.journalProblem.empty()) summary_.journalProblem = error.message;
}

void ContactImport::recordCreatedGroups(const std::vector<std::string>& groups) {
    if (!journalEntry_) return;
    if (auto recorded = journalEntry_->recordCreatedGroups(groups); !recorded)
        noteJournalProblem(recorded.error());
}

// Leaves the container and its groups in the run, and the journal's entry ready.
auto ContactImport::openContainer() -> StepResult {
    auto container = store_->container(containerID_);
    if (!container) return storeFailure(container.error());
    if (!*container) {
        return Unexpected(ImportOperationError{
            ImportOperationError::Kind::containerNotFound,
            localizedString("The container with the specified identifier could not be found.")});
    }
    container_ = std::move(**container);
    if (journal_ && description_) {
        ImportRecord record = *description_;
        record.container = containerID_;
        record.containerName = container_.name;
        journalEntry_.emplace(*journal_, std::move(record));
    }
    auto groups = store_->groups(containerID_);
    if (!groups) return storeFailure(groups.error());
    groups_ = std::move(*groups);
    return {};
}

// All groups go in one request; the run's group list is empty afterwards.
auto ContactImport::removeGroups() -> StepResult {
    if (!options_.removeGroups) return {};
    const std::string note =
        formatMessage(localizedString("Removing existing groups from “%@”…"), container_.name);
    post([note](ImportOperationDelegate& d) { d.importOperationDidChangeNote(note); });
    SaveRequest removal;
    for (const Group& group : groups_) removal.deleteGroup(group.identifier);
    if (!removal.isEmpty()) {
        if (auto done = store_->execute(removal); !done) return storeFailure(done.error());
    }
    summary_.groupsRemoved = groups_.size();
    groups_.clear();
    return {};
}

// Each name is created once, in the order given, unless a group has that name letter for
// letter ("friends" is created next to "Friends"); all of them in one request.
auto ContactImport::createGroups(const std::vector<std::string>& names) -> StepResult {
    std::unordered_set<std::string> known;
    for (const Group& group : groups_) known.insert(group.name);
    SaveRequest creation;
    std::vector<Group> added;
    for (const std::string& name : names) {
        if (name.empty() || !known.insert(name).second) continue;
        added.push_back(Group{contacts::makeUUID(), name});
        creation.addGroup(added.back(), containerID_);
    }
    if (creation.isEmpty()) return {};
    if (auto done = store_->execute(creation); !done) return storeFailure(done.error());
    auto created = groupsMade(*store_, containerID_, groups_, added);
    if (!created) return storeFailure(created.error());
    summary_.groupsCreated += created->size();
    recordCreatedGroups(*created);
    return {};
}

// Leaves the groups, and the groups new contacts join, in the run.
auto ContactImport::readGroups() -> StepResult {
    auto groups = store_->groups(containerID_);
    if (!groups) return storeFailure(groups.error());
    groups_ = std::move(*groups);
    groupIdentifiers_.clear();
    for (const Group& group : groups_)
        groupIdentifiers_.emplace(lowercased(group.name), group.identifier);
    return {};
}

// Leaves the duplicate groups the settings ask for in the run. An existing group of the name,
// in any letter case, is used as it is. The index that finds the duplicates is chosen here,
// once, before the first chunk.
auto ContactImport::prepareDuplicateGroups(DuplicateMode mode) -> StepResult {
    std::vector<std::string> created;
    if (options_.detectDuplicates) {
        auto group =
            duplicatesGroup(*store_, groups_, containerID_, oldDuplicatesGroupName(), created);
        if (!group) return storeFailure(group.error());
        oldDuplicates_ = std::move(*group);
    }
    if (options_.detectNewDuplicates) {
        auto group =
            duplicatesGroup(*store_, groups_, containerID_, newDuplicatesGroupName(), created);
        if (!group) return storeFailure(group.error());
        newDuplicates_ = std::move(*group);
    }
    recordCreatedGroups(created);
    if (!oldDuplicates_ && !newDuplicates_) return {};
    if (mode == DuplicateMode::identifier)
        duplicates_ = std::make_unique<IdentifierDuplicateIndex>(*store_, containerID_);
    else
        duplicates_ = std::make_unique<FullNameDuplicateIndex>(*store_, containerID_);
    return {};
}

void ContactImport::addContact(Chunk& chunk, Contact contact,
                               const std::vector<std::string>& groupNames,
                               const std::optional<std::string>& notes,
                               std::string_view sourceIdentifier) {
    if (duplicates_) duplicates_->record(contact, sourceIdentifier);
    if (notes) {
        if (contact.note.empty())
            contact.note = *notes;
        else
            contact.note += "\n" + *notes;
    }
    const std::string identifier = contact.identifier;
    chunk.request.addContact(std::move(contact), containerID_);
    for (const std::string& name : groupNames) {
        if (auto found = groupIdentifiers_.find(lowercased(name)); found != groupIdentifiers_.end())
            chunk.request.addMember(identifier, found->second);
    }
    ++chunk.contacts;
    reportProgress(++summary_.contactsProcessed);
}

auto ContactImport::submitChunk(Chunk& chunk, const Operation& operation) -> StepResult {
    flushProgress();
    post([](ImportOperationDelegate& d) { d.importOperationDidSubmitChunk(); });
    // The duplicate passes ask the store, which must hold the earlier chunks by then.
    if (auto saved = awaitSave(); !saved) return saved;
    if (oldDuplicates_ && !operation.isCancelled()) {
        if (auto done = markOldDuplicates(chunk); !done) return done;
    }
    if (newDuplicates_ && !operation.isCancelled()) {
        if (auto done = markNewDuplicates(chunk); !done) return done;
    }
    summary_.oldDuplicates += chunk.oldDuplicates;
    summary_.newDuplicates += chunk.newDuplicates;
    if (operation.isCancelled()) return {};
    return saveChunk(chunk);
}

// Contacts saved by earlier chunks are in the store and count as existing; an existing
// contact an earlier chunk put in the group is not added again.
auto ContactImport::markOldDuplicates(Chunk& chunk) -> StepResult {
    auto found = duplicates_->oldDuplicates();
    if (!found) return storeFailure(found.error());
    for (std::string& existing : *found)
        chunk.request.addMember(std::move(existing), oldDuplicates_->identifier);
    chunk.oldDuplicates = found->size();
    return {};
}

// The chunk's contacts are not saved yet, so they are never compared with each other.
auto ContactImport::markNewDuplicates(Chunk& chunk) -> StepResult {
    auto found = duplicates_->newDuplicates();
    if (!found) return storeFailure(found.error());
    for (std::string& repeat : *found)
        chunk.request.addMember(std::move(repeat), newDuplicates_->identifier);
    chunk.newDuplicates = found->size();
    return {};
}

// The chunk's contacts count as existing for the duplicates of later chunks from here on:
// should its save fail, the import ends with it. The journal records the chunk before the
// save, so that no saved contact goes unrecorded should the process die between the two, and
// forgets it when the save fails.
auto ContactImport::saveChunk(Chunk& chunk) -> StepResult {
    bool recorded = false;
    if (journalEntry_) {
        std::vector<std::string> identifiers;
        identifiers.reserve(chunk.request.addedContacts().size());
        for (const SaveRequest::AddedContact& added : chunk.request.addedContacts())
            identifiers.push_back(added.contact.identifier);
        if (auto written = journalEntry_->recordChunk(identifiers); written)
            recorded = !identifiers.empty();
        else
            noteJournalProblem(written.error());
    }
    if (duplicates_) duplicates_->chunkSaved();
    saving_.emplace(SaveInFlight{std::async(std::launch::async,
                                            [store = store_, request = std::move(chunk.request)] {
                                                return store->execute(request);
                                            }),
                                 chunk.contacts, recorded});
    return {};
}

auto ContactImport::awaitSave() -> StepResult {
    if (!saving_) return {};
    SaveInFlight saving = std::move(*saving_);
    saving_.reset();
    // An exception the store threw is rethrown here, on the import's thread.
    if (auto done = saving.done.get(); !done) {
        if (saving.recorded) journalEntry_->forgetLastChunk();
        return storeFailure(done.error());
    }
    summary_.contactsSaved += saving.contacts;
    ++summary_.chunksSaved;
    return {};
}

void ContactImport::finish(const Operation& operation) {
    summary_.cancelled = summary_.chunksSaved < summary_.chunks;
    flushProgress();
    if (operation.isCancelled()) return;
    if (!summary_.warnings.empty()) {
        post([lines = warningCountLines(summary_.warnings)](ImportOperationDelegate& d) {
            d.importOperationDidWarn(lines);
        });
    }
    post([](ImportOperationDelegate& d) { d.importOperationDidFinish(); });
}

}  // namespace pelkora
