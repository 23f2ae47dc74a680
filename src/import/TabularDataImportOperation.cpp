#include "import/TabularDataImportOperation.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "addressbook/ContactFormatter.h"
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

void TabularDataImportOperation::fail(const ContactStoreError& error) {
    summary_.failed = true;
    qvLog(LogType::error, "An error occurred while executing a contacts save request: %{public}@",
          error.localizedDescription);
    // Every store error is the address book's own error.
    qvLog(LogType::error, "CNError: %{public}@", error.localizedDescription);
    post([error =
              ImportOperationError{ImportOperationError::Kind::store, error.localizedDescription}](
             ImportOperationDelegate& d) { d.importOperationDidFail(error); });
}

void TabularDataImportOperation::main(Operation& operation) {
    summary_ = {};
    if (!options_.selectedContainerID || !source_.reader) return;
    const std::string& containerID = *options_.selectedContainerID;
    const std::span<const DataRow> rows = rowsToImport(*source_.reader);
    summary_.rowsToImport = rows.size();

    post([](ImportOperationDelegate& d) { d.importOperationDidStart(); });

    std::optional<std::string> notes;
    if (options_.addTextToNotes)
        notes = notesText(textTokens_, source_.reader->fileURL(), std::chrono::system_clock::now());

    auto container = store_->container(containerID);
    if (!container) return fail(container.error());
    if (!*container) {
        summary_.failed = true;
        post([](ImportOperationDelegate& d) {
            d.importOperationDidFail(ImportOperationError{
                ImportOperationError::Kind::containerNotFound,
                localizedString(
                    "The container with the specified identifier could not be found.")});
        });
        return;
    }

    auto groups = store_->groups(containerID);
    if (!groups) return fail(groups.error());

    if (options_.removeGroups) {
        const std::string note =
            qvFormat(localizedString("Removing existing groups from “%@”…"), (*container)->name);
        post([note](ImportOperationDelegate& d) { d.importOperationDidChangeNote(note); });
        SaveRequest removal;
        for (const Group& group : *groups) removal.deleteGroup(group.identifier);
        if (!removal.isEmpty()) {
            if (auto done = store_->execute(removal); !done) return fail(done.error());
        }
        summary_.groupsRemoved = groups->size();
        groups->clear();
    }

    // Groups the data names, each created once, in the order of first appearance.
    const auto& properties = source_.mappedProperties;
    if (auto groupColumn = columnWithKey(properties, CustomPropertyKeys::Group)) {
        std::unordered_set<std::string> known;
        for (const Group& group : *groups) known.insert(group.name);
        SaveRequest creation;
        for (const DataRow& row : rows) {
            const auto cell = row.cellForColumn(*groupColumn);
            if (!cell || cell->kind() != CellKind::text) continue;
            for (std::string& name : groupNamesInText(cell->text())) {
                if (!known.insert(name).second) continue;
                creation.addGroup(Group{contacts::makeUUID(), std::move(name)}, containerID);
                ++summary_.groupsCreated;
            }
        }
        if (!creation.isEmpty()) {
            if (auto done = store_->execute(creation); !done) return fail(done.error());
        }
    }

    groups = store_->groups(containerID);
    if (!groups) return fail(groups.error());
    const auto duplicatesGroup =
        [&](const std::string& name) -> Expected<Group, ContactStoreError> {
        if (const Group* existing = groupNamed(*groups, name)) {
            qvLog(LogType::info, "A group named '%@' already exists -> proceeding...", name);
            return *existing;
        }
        Group group{contacts::makeUUID(), name};
        SaveRequest creation;
        creation.addGroup(group, containerID);
        if (auto done = store_->execute(creation); !done) return Unexpected(done.error());
        return group;
    };
    std::optional<Group> oldDuplicates;
    std::optional<Group> newDuplicates;
    if (options_.detectDuplicates) {
        auto group = duplicatesGroup(oldDuplicatesGroupName());
        if (!group) return fail(group.error());
        oldDuplicates = std::move(*group);
    }
    if (options_.detectNewDuplicates) {
        auto group = duplicatesGroup(newDuplicatesGroupName());
        if (!group) return fail(group.error());
        newDuplicates = std::move(*group);
    }
    const bool detecting = options_.detectDuplicates || options_.detectNewDuplicates;
    const auto uidColumn = columnWithKey(properties, CustomPropertyKeys::UID);
    const bool byIdentifier = uidColumn.has_value();

    // Groups by lower-cased name, the first of each name, for the members of every row.
    std::unordered_map<std::string, std::string> groupIdentifiers;
    for (const Group& group : *groups)
        groupIdentifiers.emplace(lowercased(group.name), group.identifier);

    std::unordered_set<std::string> oldDuplicateIdentifiers;
    // The store is asked about each full name once. What it said then stays true apart from
    // the contacts this import saves since, which are known here: by name, every contact
    // of an executed chunk, and the names that exist in the container.
    std::unordered_set<std::string> askedNames;
    std::unordered_set<std::string> existingNames;
    // The contacts of one name this import saved, and how many of them the old-duplicates
    // group has been given already.
    struct SavedContacts {
        std::vector<std::string> identifiers;
        std::size_t handled = 0;
    };
    std::unordered_map<std::string, SavedContacts> savedContactsByName;
    ContactAssembler assembler(properties, source_.dateFormats, source_.assemblyOptions);
    const ChunkSeq<const DataRow> chunks(rows, kChunkSize);
    summary_.chunks = chunks.size();
    std::uint64_t processed = 0;
    int chunkNumber = 0;
    for (const std::span<const DataRow> chunk : chunks) {
        if (operation.isCancelled()) break;
        ++chunkNumber;
        SaveRequest request;
        qvLog(LogType::info, "Importing chunk #%d of %d...", chunkNumber,
              static_cast<int>(summary_.chunks));

        std::vector<std::string> fullNames;
        std::vector<std::pair<std::string, std::string>> namedContacts;  // full name, identifier
        std::vector<std::string> identifierTexts;
        std::unordered_map<std::string, std::string> contactForIdentifierText;
        std::uint64_t contactsInChunk = 0;
        for (const DataRow& row : chunk) {
            if (row.empty()) {
                ++summary_.emptyRowsSkipped;
                continue;
            }
            if (operation.isCancelled()) break;
            auto [contact, groupNames] = assembler.assemble(row);
            if (detecting) {
                if (byIdentifier) {
                    std::string text;
                    if (auto cell = row.cellForColumn(*uidColumn)) text = std::string(cell->text());
                    if (text.empty()) text = "-UNDEFINED-";
                    identifierTexts.push_back(text);
                    contactForIdentifierText[text] = contact.identifier;
                } else if (std::string name = contacts::stringFromContact(contact); !name.empty()) {
                    fullNames.push_back(name);
                    namedContacts.emplace_back(std::move(name), contact.identifier);
                }
            }
            // Assembly ends every note with a line feed, so an empty note arrives as one;
            // the notes text goes on the line after the note's last text, never after blank
            // lines.
            contact.note = trimmedWhiteSpace(contact.note);
            if (notes) {
                if (contact.note.empty())
                    contact.note = *notes;
                else
                    contact.note += "\n" + *notes;
            }
            const std::string identifier = contact.identifier;
            request.addContact(std::move(contact), containerID);
            for (const std::string& name : groupNames) {
                if (auto found = groupIdentifiers.find(lowercased(name));
                    found != groupIdentifiers.end())
                    request.addMember(identifier, found->second);
            }
            ++contactsInChunk;
            ++processed;
            post([processed](ImportOperationDelegate& d) {
                d.importOperationDidProcess(processed);
            });
        }
        summary_.contactsProcessed = processed;
        post([](ImportOperationDelegate& d) { d.importOperationDidSubmitChunk(); });

        // The chunk's names the store has not been asked about yet, each once.
        std::vector<std::string> newNames;
        if (!byIdentifier) {
            for (const std::string& name : fullNames) {
                if (askedNames.insert(name).second) newNames.push_back(name);
            }
        }
        // The chunk's names asked about in an earlier chunk.
        const std::unordered_set<std::string_view> askedNow(newNames.begin(), newNames.end());
        const auto askedBefore = [&](const std::string& name) { return !askedNow.contains(name); };

        // Contacts saved by earlier chunks are in the store and count as existing; the rows
        // of this chunk are not saved yet, so they are never compared with each other.
        if (oldDuplicates && !operation.isCancelled()) {
            if (byIdentifier) {
                auto found = store_->existingIdentifiers(containerID, identifierTexts);
                if (!found) return fail(found.error());
                for (const std::string& existing : *found) {
                    // An earlier chunk made it a member already.
                    if (!oldDuplicateIdentifiers.insert(existing).second) continue;
                    request.addMember(existing, oldDuplicates->identifier);
                }
            } else {
                auto found = store_->contactIdentifiersWithFullNames(containerID, newNames);
                if (!found) return fail(found.error());
                for (const std::string& existing : *found) {
                    // An earlier chunk made it a member already.
                    if (!oldDuplicateIdentifiers.insert(existing).second) continue;
                    request.addMember(existing, oldDuplicates->identifier);
                }
                // The contacts of a name the store answered for now are all in its answer;
                // for a name asked about before, those this import saved since are added.
                for (const std::string& name : fullNames) {
                    const auto saved = savedContactsByName.find(name);
                    if (saved == savedContactsByName.end()) continue;
                    SavedContacts& contacts = saved->second;
                    if (askedBefore(name)) {
                        for (std::size_t at = contacts.handled; at < contacts.identifiers.size();
                             ++at) {
                            const std::string& existing = contacts.identifiers[at];
                            if (!oldDuplicateIdentifiers.insert(existing).second) continue;
                            request.addMember(existing, oldDuplicates->identifier);
                        }
                    }
                    contacts.handled = contacts.identifiers.size();
                }
            }
        }
        if (newDuplicates && !operation.isCancelled()) {
            if (byIdentifier) {
                auto found = store_->existingIdentifiers(containerID, identifierTexts);
                if (!found) return fail(found.error());
                for (const std::string& existing : *found) {
                    request.addMember(contactForIdentifierText.at(existing),
                                      newDuplicates->identifier);
                    ++summary_.newDuplicates;
                }
            } else {
                auto found = store_->existingFullNames(containerID, newNames);
                if (!found) return fail(found.error());
                existingNames.insert(found->begin(), found->end());
                for (const std::string& name : fullNames) {
                    if (askedBefore(name) && existingNames.contains(name)) found->insert(name);
                }
                for (const auto& [name, identifier] : namedContacts) {
                    if (!found->contains(name)) continue;
                    request.addMember(identifier, newDuplicates->identifier);
                    ++summary_.newDuplicates;
                }
            }
        }
        summary_.oldDuplicates = oldDuplicateIdentifiers.size();

        if (operation.isCancelled()) break;
        if (auto done = store_->execute(request); !done) return fail(done.error());
        for (auto& [name, identifier] : namedContacts) {
            existingNames.insert(name);
            savedContactsByName[name].identifiers.push_back(std::move(identifier));
        }
        summary_.contactsSaved += contactsInChunk;
        ++summary_.chunksSaved;
    }

    summary_.cancelled = summary_.chunksSaved < summary_.chunks;
    if (operation.isCancelled()) return;
    post([](ImportOperationDelegate& d) { d.importOperationDidFinish(); });
}

}  // namespace pelkora
