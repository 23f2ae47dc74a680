#pragma once

// An address book in a folder of vCard files, the layout vdirsyncer and khard use (a "vdir"):
// each contact is one ".vcf" file, each collection (a folder of such files) is a container.
//
// The folder is either one collection (it holds ".vcf" files or a "displayname" file, or it
// is empty) or a folder of collections, one per subfolder. A container's identifier is its
// folder's name, its name the first line of the folder's "displayname" file, else the
// folder's name. A contact's file is "<identifier>.vcf" (a "/", a "%", control characters
// and a leading "." percent-encoded), written as vCard 3.0 with its identifier as UID; a file
// another program wrote is known by its UID, or by its name without one.
//
// Groups are the CATEGORIES of a collection's cards, compared letter for letter. A group a
// request adds keeps its identifier in the hidden file ".pelkora-groups" of the collection
// (with the group, so an empty group is still there); a category no request added is the
// group "<container>/<name>". A card whose groups change is edited in place: only its
// CATEGORIES line is rewritten, so what other programs put in it stays.
//
// A request is applied all or nothing: the files it replaces or deletes are first linked
// into the hidden folder ".pelkora-undo" and listed in the journal ".pelkora-journal"; a
// failure puts them back at once, and a journal left by a crash is rolled back by the next
// open(). Writers of several processes take turns through an flock on ".pelkora-lock".
// Files whose names start with "." or do not end in ".vcf" are not cards.
//
// The duplicate look-ups answer from indexes built by reading every card once on open and
// kept current by execute(); a collection whose folder changed since (another program
// wrote to it) is read again before the next call answers.
//
// Thread-safe: every call holds the store's mutex.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "addressbook/ContactStore.h"

namespace pelkora::contacts {

class VdirContactStore final : public ContactStore {
  public:
    // Opens the folder, creating it (as one collection) when it is missing, and rolls back a
    // request a crash interrupted. Fails with storeUnavailable when the folder cannot be
    // made or read, or when the interrupted request cannot be rolled back.
    static Expected<std::unique_ptr<VdirContactStore>, ContactStoreError> open(
        const std::filesystem::path& folder);

    VdirContactStore(const VdirContactStore&) = delete;
    VdirContactStore& operator=(const VdirContactStore&) = delete;
    ~VdirContactStore() override;

    // The absolute folder.
    const std::filesystem::path& folder() const;

    // "vdir:" and the folder's absolute path.
    std::string location() const override;

    // A folder needs no permission: always authorized.
    AuthorizationStatus authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> completion) override;

    // Sorted by name; the default container is the first.
    Result<std::vector<Container>> containers() override;
    Result<std::optional<Container>> container(const std::string& identifier) override;
    std::string defaultContainerIdentifier() override;
    // Sorted by name ignoring letter case (ASCII, as SQLite's NOCASE); empty for an unknown
    // container.
    Result<std::vector<Group>> groups(const std::string& containerIdentifier) override;

    // In the order the store added the contacts (files found on open: by modification time,
    // then name). Reads the files without holding the lock, so visit may call the store.
    Result<void> enumerateContacts(const std::string& containerIdentifier,
                                   const std::function<bool(const Contact&)>& visit) override;
    Result<std::vector<Contact>> contacts(const std::vector<std::string>& identifiers) override;
    // Ordered like enumerateContacts, each contact's groups by name.
    Result<std::vector<std::pair<std::string, std::vector<std::string>>>> groupMemberships(
        const std::string& containerIdentifier) override;

    // Full names as stringFromContact gave them when the card was read or saved.
    Result<std::unordered_set<std::string>> existingFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) override;
    Result<std::vector<std::string>> contactIdentifiersWithFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) override;
    Result<std::unordered_set<std::string>> existingIdentifiers(
        const std::string& containerIdentifier,
        const std::vector<std::string>& identifiers) override;
    Result<std::unordered_set<std::string>> identifiersInUse(
        const std::vector<std::string>& identifiers) override;

    // The same rules and failures as the SQLite store: adding a member twice does nothing,
    // a contact identifier may not be reused by another contact nor a group identifier by
    // another group; containerNotFound, groupNotFound, contactNotFound, duplicateIdentifier
    // or writeFailed leave every file as it was.
    Result<void> execute(const SaveRequest& request) override;

    // For tests: the next execute replaces or deletes `count` files and then fails with
    // writeFailed, once; with `crash`, it returns without rolling back and leaves the journal
    // behind, as a process killed there would. None disarms.
    void failAfterWrites(std::optional<std::size_t> count, bool crash = false);

  private:
    struct State;

    explicit VdirContactStore(std::unique_ptr<State> state);

    std::mutex mutex_;  // guards state_
    std::unique_ptr<State> state_;
};

}  // namespace pelkora::contacts
