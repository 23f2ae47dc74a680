#pragma once

// The desktop's address book: Evolution Data Server (EDS), which GNOME Contacts and Evolution
// read, as a ContactStore.
//
// The containers are the enabled address books of the source registry ("Personal", each
// account's book), its default address book the default container. Contacts travel as the
// vCard 3.0 text our writer makes, with the contact's identifier as UID, and are read back
// with our reader. EDS has no group objects: a group is a category (CATEGORIES), its members
// the contacts that carry it. A container's groups are the distinct categories of its
// contacts plus the names requests of this store object added and no contact carries yet;
// a group's identifier is derived from the container's UID and the category, so it is the
// same for every store object.
//
// The duplicate look-ups are answered from an index of each container (identifier, full
// name, categories), built from one read of the container when it is first asked about and
// kept current by execute(); changes other programs make meanwhile are seen on the next read
// of the whole container (groups, groupMemberships, enumerateContacts).
//
// Thread-safe: every call holds the store's lock, so EDS is called from one thread at a time.

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "addressbook/ContactStore.h"

namespace pelkora::contacts {

class EdsContactStore final : public ContactStore {
  public:
    // Connects to the source registry on the session bus. Fails with storeUnavailable,
    // naming what is missing, when there is no session bus or no registry answers on it.
    static Expected<std::unique_ptr<EdsContactStore>, ContactStoreError> open();

    EdsContactStore(const EdsContactStore&) = delete;
    EdsContactStore& operator=(const EdsContactStore&) = delete;
    ~EdsContactStore() override;

    // "eds:".
    std::string location() const override;
    // Groups are categories: a group's identifier is made from its container and name.
    bool keepsGroupIdentifiers() const override { return false; }

    // Authorized: a store that opened may be used; EDS asks for nothing more.
    AuthorizationStatus authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> completion) override;

    // The registry's enabled address books, by name as the registry lists them. A book of an
    // account is named after the account too ("Google: ada@example.com").
    Result<std::vector<Container>> containers() override;
    Result<std::optional<Container>> container(const std::string& identifier) override;
    std::string defaultContainerIdentifier() override;
    // Sorted by name ignoring letter case; empty for an unknown container.
    Result<std::vector<Group>> groups(const std::string& containerIdentifier) override;

    // Reads the whole book in one call and visits its contacts without holding the store's
    // lock, in the order EDS lists them, which need not be the order they were added.
    Result<void> enumerateContacts(const std::string& containerIdentifier,
                                   const std::function<bool(const Contact&)>& visit) override;
    Result<std::vector<Contact>> contacts(const std::vector<std::string>& identifiers) override;
    // Each contact's groups by name, ignoring letter case.
    Result<std::vector<std::pair<std::string, std::vector<std::string>>>> groupMemberships(
        const std::string& containerIdentifier) override;

    // Compares with the full name stringFromContact gives for the contact as read back.
    Result<std::unordered_set<std::string>> existingFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) override;
    Result<std::vector<std::string>> contactIdentifiersWithFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) override;
    Result<std::unordered_set<std::string>> existingIdentifiers(
        const std::string& containerIdentifier,
        const std::vector<std::string>& identifiers) override;
    // Contacts of every container that can be reached, and groups of the containers read.
    Result<std::unordered_set<std::string>> identifiersInUse(
        const std::vector<std::string>& identifiers) override;

    // Checks the whole request against the index first, then writes one EDS call per kind
    // and container: removals, changed contacts (categories), added contacts. EDS applies
    // each call on its own, so when a later call fails the earlier ones are undone: added
    // contacts removed, changed ones put back as they were, removed ones added again.
    // Fails with containerNotFound, groupNotFound (also for a contact and a group in different
    // containers), contactNotFound, duplicateIdentifier or writeFailed.
    Result<void> execute(const SaveRequest& request) override;

    // For tests: the number of add calls made to EDS so far.
    std::size_t addCallCount();
    // For tests: the next execute writes everything and then fails with writeFailed, once,
    // undoing its writes as for any failure.
    void failAfterWrites();

  private:
    struct State;
    explicit EdsContactStore(std::unique_ptr<State> state);

    std::mutex mutex_;  // guards state_ and every EDS call
    std::unique_ptr<State> state_;
};

}  // namespace pelkora::contacts
