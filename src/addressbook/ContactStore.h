#pragma once

// The address book: containers (accounts) holding contacts and groups.
//
// Every write goes through a SaveRequest, which the store applies whole or not at all.
// The interface is what the importer needs, no more, so that a local SQLite book and a
// CardDAV account can both stand behind it. Stores are used from background operations
// (the import runs on its own queue) and must be safe to call from any one thread at a
// time; the SQLite store also allows concurrent readers.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "addressbook/Contact.h"
#include "addressbook/ContactAuthorization.h"
#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora::contacts {

enum class ContactStoreErrorKind {
    storeUnavailable,     // the store could not be opened or is damaged
    containerNotFound,    // a request names a container the store does not have
    groupNotFound,        // a request names a group the store does not have
    contactNotFound,      // a request names a contact the store does not have
    duplicateIdentifier,  // a contact or group with this identifier exists already
    writeFailed,          // the store refused the write (disk full, read-only …)
};

// What went wrong, for the log and the user: "Could not save to the address book
// “/home/ada/.local/share/pelkora/contacts.sqlite”: database or disk is full".
using ContactStoreError = Error<ContactStoreErrorKind>;

// A batch of changes, applied by ContactStore::execute all or nothing, in this order:
// contacts deleted, groups deleted, groups deleted when empty, groups added, contacts added,
// members added.
class SaveRequest {
  public:
    void addContact(Contact contact, std::string containerIdentifier);
    // When the container has a group of that name already, letter for letter, when the
    // request is applied, no group is added and the request's members of this one join that
    // group instead: ask the store's groups afterwards which one the name has.
    void addGroup(Group group, std::string containerIdentifier);
    void addMember(std::string contactIdentifier, std::string groupIdentifier);
    void deleteGroup(std::string groupIdentifier);
    // The contact goes, and with it its place in every group.
    void deleteContact(std::string contactIdentifier);
    // The group goes when, after the contacts of the request are deleted, it has no member;
    // a group with members stays and is no failure. Undoing an import uses it for the groups
    // the import made, which the user may have filled since.
    void deleteGroupIfEmpty(std::string groupIdentifier);

    struct AddedContact {
        Contact contact;
        std::string containerIdentifier;
    };
    struct AddedGroup {
        Group group;
        std::string containerIdentifier;
    };
    struct Membership {
        std::string contactIdentifier;
        std::string groupIdentifier;
    };
    const std::vector<AddedContact>& addedContacts() const { return addedContacts_; }
    const std::vector<AddedGroup>& addedGroups() const { return addedGroups_; }
    const std::vector<Membership>& addedMembers() const { return addedMembers_; }
    const std::vector<std::string>& deletedGroups() const { return deletedGroups_; }
    const std::vector<std::string>& deletedContacts() const { return deletedContacts_; }
    const std::vector<std::string>& groupsDeletedIfEmpty() const { return groupsDeletedIfEmpty_; }
    bool isEmpty() const;

  private:
    std::vector<AddedContact> addedContacts_;
    std::vector<AddedGroup> addedGroups_;
    std::vector<Membership> addedMembers_;
    std::vector<std::string> deletedGroups_;
    std::vector<std::string> deletedContacts_;
    std::vector<std::string> groupsDeletedIfEmpty_;
};

class ContactStore : public ContactAuthorizationProvider {
  public:
    template <typename T>
    using Result = Expected<T, ContactStoreError>;

    // Where the store keeps its contacts, as the user names it: a file's absolute path, an
    // account's URL. The import journal records it, so that an import can be undone later.
    virtual std::string location() const = 0;

    // Whether a group a request adds keeps the identifier the request gave it; false for a
    // store that names groups itself (the desktop's address book makes it from the name).
    virtual bool keepsGroupIdentifiers() const { return true; }

    // Every container of the store.
    virtual Result<std::vector<Container>> containers() = 0;
    // The container with the identifier; none when there is no such container.
    virtual Result<std::optional<Container>> container(const std::string& identifier) = 0;
    // The container new contacts go to unless the user picks another.
    virtual std::string defaultContainerIdentifier() = 0;
    // The groups of a container, by name.
    virtual Result<std::vector<Group>> groups(const std::string& containerIdentifier) = 0;

    // Calls visit with every contact of the container, in the order they were added;
    // visit returns false to stop early.
    virtual Result<void> enumerateContacts(const std::string& containerIdentifier,
                                           const std::function<bool(const Contact&)>& visit) = 0;
    // The contacts with these identifiers that exist, in no particular order.
    virtual Result<std::vector<Contact>> contacts(const std::vector<std::string>& identifiers) = 0;
    // The group identifiers of each contact of the container that is in a group.
    virtual Result<std::vector<std::pair<std::string, std::vector<std::string>>>> groupMemberships(
        const std::string& containerIdentifier) = 0;

    // Which of these full names (as fullName() writes them) belong to a contact of the
    // container. Answered from an index: the import asks this for every chunk.
    virtual Result<std::unordered_set<std::string>> existingFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) = 0;
    // The identifiers of the container's contacts whose full name is one of these, each
    // once. Answered from the same index.
    virtual Result<std::vector<std::string>> contactIdentifiersWithFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) = 0;
    // Which of these identifiers belong to a contact of the container.
    virtual Result<std::unordered_set<std::string>> existingIdentifiers(
        const std::string& containerIdentifier, const std::vector<std::string>& identifiers) = 0;
    // Which of these identifiers a contact or a group of any container has already, so that
    // a new contact or group given one of them would be refused. Answered from the stores'
    // primary keys: an import asks this once for every chunk.
    virtual Result<std::unordered_set<std::string>> identifiersInUse(
        const std::vector<std::string>& identifiers) = 0;

    // Applies the whole request or, on any failure, nothing of it. Deleting a contact or a
    // group the store does not have fails the request (contactNotFound, groupNotFound).
    virtual Result<void> execute(const SaveRequest& request) = 0;
};

}  // namespace pelkora::contacts
