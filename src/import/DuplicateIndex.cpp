#include "import/DuplicateIndex.h"

#include <utility>

#include "addressbook/ContactFormatter.h"

namespace pelkora {

FullNameDuplicateIndex::FullNameDuplicateIndex(contacts::ContactStore& store,
                                               std::string containerIdentifier)
    : store_(store), containerIdentifier_(std::move(containerIdentifier)) {}

void FullNameDuplicateIndex::record(const contacts::Contact& contact,
                                    std::string_view /*sourceIdentifier*/) {
    std::string fullName = contacts::stringFromContact(contact);
    if (fullName.empty()) return;
    if (askedNames_.insert(fullName).second) {
        namesToAsk_.push_back(fullName);
        namesToAskSet_.insert(fullName);
    }
    chunkContacts_.push_back({std::move(fullName), contact.identifier});
}

bool FullNameDuplicateIndex::firstAskedInThisChunk(const std::string& fullName) const {
    return namesToAskSet_.contains(fullName);
}

// For a name first asked about now, the store's answer holds every contact of that name;
// for a name asked about in an earlier chunk, that chunk answered the contacts the store
// held, and those saved since are added from what this index kept.
auto FullNameDuplicateIndex::oldDuplicates() -> Result<std::vector<std::string>> {
    auto found = store_.contactIdentifiersWithFullNames(containerIdentifier_, namesToAsk_);
    if (!found) return Unexpected(found.error());
    std::vector<std::string> duplicates;
    for (std::string& existing : *found) {
        if (answeredOldDuplicates_.insert(existing).second)
            duplicates.push_back(std::move(existing));
    }
    for (const NamedContact& named : chunkContacts_) {
        const auto saved = savedContactsByName_.find(named.fullName);
        if (saved == savedContactsByName_.end()) continue;
        SavedContacts& contacts = saved->second;
        if (!firstAskedInThisChunk(named.fullName)) {
            for (std::size_t at = contacts.answered; at < contacts.identifiers.size(); ++at) {
                const std::string& existing = contacts.identifiers[at];
                if (answeredOldDuplicates_.insert(existing).second) duplicates.push_back(existing);
            }
        }
        contacts.answered = contacts.identifiers.size();
    }
    return duplicates;
}

// Names asked about in an earlier chunk exist when that chunk's answer had them or a saved
// chunk brought a contact of that name.
auto FullNameDuplicateIndex::newDuplicates() -> Result<std::vector<std::string>> {
    auto found = store_.existingFullNames(containerIdentifier_, namesToAsk_);
    if (!found) return Unexpected(found.error());
    existingNames_.insert(found->begin(), found->end());
    std::vector<std::string> duplicates;
    for (const NamedContact& named : chunkContacts_) {
        const bool exists = firstAskedInThisChunk(named.fullName)
                                ? found->contains(named.fullName)
                                : existingNames_.contains(named.fullName);
        if (exists) duplicates.push_back(named.identifier);
    }
    return duplicates;
}

void FullNameDuplicateIndex::chunkSaved() {
    for (NamedContact& named : chunkContacts_) {
        existingNames_.insert(named.fullName);
        savedContactsByName_[named.fullName].identifiers.push_back(std::move(named.identifier));
    }
    chunkContacts_.clear();
    namesToAsk_.clear();
    namesToAskSet_.clear();
}

IdentifierDuplicateIndex::IdentifierDuplicateIndex(contacts::ContactStore& store,
                                                   std::string containerIdentifier)
    : store_(store), containerIdentifier_(std::move(containerIdentifier)) {}

void IdentifierDuplicateIndex::record(const contacts::Contact& contact,
                                      std::string_view sourceIdentifier) {
    std::string text = sourceIdentifier.empty() ? "-UNDEFINED-" : std::string(sourceIdentifier);
    contactForSourceIdentifier_[text] = contact.identifier;
    sourceIdentifiers_.push_back(std::move(text));
}

auto IdentifierDuplicateIndex::oldDuplicates() -> Result<std::vector<std::string>> {
    auto found = store_.existingIdentifiers(containerIdentifier_, sourceIdentifiers_);
    if (!found) return Unexpected(found.error());
    std::vector<std::string> duplicates;
    for (const std::string& existing : *found) {
        if (answeredOldDuplicates_.insert(existing).second) duplicates.push_back(existing);
    }
    return duplicates;
}

auto IdentifierDuplicateIndex::newDuplicates() -> Result<std::vector<std::string>> {
    auto found = store_.existingIdentifiers(containerIdentifier_, sourceIdentifiers_);
    if (!found) return Unexpected(found.error());
    std::vector<std::string> duplicates;
    for (const std::string& existing : *found) {
        if (const auto repeat = contactForSourceIdentifier_.find(existing);
            repeat != contactForSourceIdentifier_.end())
            duplicates.push_back(repeat->second);
    }
    return duplicates;
}

void IdentifierDuplicateIndex::chunkSaved() {
    sourceIdentifiers_.clear();
    contactForSourceIdentifier_.clear();
}

}  // namespace pelkora
