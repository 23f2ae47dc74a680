#pragma once

// An address book on a CardDAV server: Nextcloud, Radicale, Fastmail, Baïkal, SOGo …
//
// The store finds the user's address books from the URL it is given: an address book itself,
// the home of the address books, the user's principal, or just the server, whose
// "/.well-known/carddav" and current-user-principal lead on. Each address book is a
// container, its URL the identifier and its display name the name.
//
// A contact is one vCard 3.0 resource, "<identifier>.vcf" in its address book, created with
// "If-None-Match: *" so that a card another client made under the name is never overwritten.
// Groups are the CATEGORIES of the cards, or, with group cards, cards of their own that list
// their members (the X-ADDRESSBOOKSERVER-KIND/-MEMBER form phones and servers use with vCard
// 3.0). A request's cards are sent side by side; when one fails, what the request created or
// changed is put back as far as the server lets us, before the failure is reported.
//
// The duplicate look-ups answer from a local index of each address book: identifiers, full
// names and groups of its cards, filled once per store from the server (sync-collection, or
// a listing of the book where the server has no sync-collection) and kept current by the
// store's own requests. With a cache folder the index and its sync token are kept there, so
// that the next store fetches only the cards that changed since.
//
// Thread-safe: every call holds the store's mutex.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "addressbook/ContactStore.h"

namespace pelkora::contacts {

struct CardDavConfiguration {
    std::string url;  // https://…; http:// only to this computer
    std::string user;
    std::string password;
    std::filesystem::path caFile;       // the authorities to trust (PEM); empty: the system's
    std::filesystem::path cacheFolder;  // where the indexes are kept; empty: nowhere
    enum class GroupMode { categories, groupCards };
    GroupMode groupMode = GroupMode::categories;
    std::size_t parallelRequests = 4;
};

class CardDavContactStore final : public ContactStore {
  public:
    // Finds the address books. Fails with storeUnavailable when the server cannot be reached,
    // refuses the account, or has no address book for it.
    static Expected<std::unique_ptr<CardDavContactStore>, ContactStoreError> open(
        CardDavConfiguration configuration);

    // Why a password may not go to the URL (plain HTTP to another computer); none when it may.
    static std::optional<std::string> passwordRefusal(std::string_view url);

    CardDavContactStore(const CardDavContactStore&) = delete;
    CardDavContactStore& operator=(const CardDavContactStore&) = delete;
    ~CardDavContactStore() override;

    // "carddav:" and the URL the store was opened with.
    std::string location() const override;
    // Group cards keep the identifiers requests give them; categories are named by the store.
    bool keepsGroupIdentifiers() const override;

    // The server checks the account: always authorized here.
    AuthorizationStatus authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> completion) override;

    // By name; the default is the address book the URL names, else one called "contacts" or
    // "default", else the first.
    Result<std::vector<Container>> containers() override;
    Result<std::optional<Container>> container(const std::string& identifier) override;
    std::string defaultContainerIdentifier() override;
    Result<std::vector<Group>> groups(const std::string& containerIdentifier) override;

    // In the order the index learnt of the cards. Visit runs without the store's lock.
    Result<void> enumerateContacts(const std::string& containerIdentifier,
                                   const std::function<bool(const Contact&)>& visit) override;
    Result<std::vector<Contact>> contacts(const std::vector<std::string>& identifiers) override;
    Result<std::vector<std::pair<std::string, std::vector<std::string>>>> groupMemberships(
        const std::string& containerIdentifier) override;

    Result<std::unordered_set<std::string>> existingFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) override;
    Result<std::vector<std::string>> contactIdentifiersWithFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) override;
    Result<std::unordered_set<std::string>> existingIdentifiers(
        const std::string& containerIdentifier,
        const std::vector<std::string>& identifiers) override;
    Result<std::unordered_set<std::string>> identifiersInUse(
        const std::vector<std::string>& identifiers) override;

    Result<void> execute(const SaveRequest& request) override;

    // For tests and benchmarks: requests sent to the server, and vCards downloaded into the
    // indexes, since the store was opened.
    std::size_t requestCount();
    std::size_t cardsDownloaded();

  private:
    struct State;
    explicit CardDavContactStore(std::unique_ptr<State> state);

    std::mutex mutex_;
    std::unique_ptr<State> state_;
};

}  // namespace pelkora::contacts
