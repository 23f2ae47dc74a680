#pragma once

// What the CardDAV store knows of an address book's cards without asking the server: the
// resource, its ETag, and the identifier, full name and groups of the card. The index is
// kept in a text file between runs, with the book's sync token.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pelkora::contacts::carddav {

struct IndexedCard {
    std::string href;  // the resource's path, as the server writes it
    std::string etag;
    std::string uid;       // the contact's (or the group's) identifier
    std::string fullName;  // a contact's full name as stringFromContact gives it; a group's name
    std::vector<std::string> categories;  // a contact's
    bool isGroup = false;                 // a group card
    std::vector<std::string> members;     // a group card's members, by identifier
    std::uint64_t sequence = 0;           // when the index learnt of the card
};

// A card's text read into the index's form: its UID (the resource's name without one), full
// name and categories, or, for a group card (KIND:group, X-ADDRESSBOOKSERVER-KIND:group), its
// name and members. None when the text is no vCard.
std::optional<IndexedCard> readIndexedCard(std::string_view text, std::string href,
                                           std::string etag);

// A group card, vCard 3.0 with the X-ADDRESSBOOKSERVER- properties.
std::string groupCardText(std::string_view uid, std::string_view name,
                          const std::vector<std::string>& members);

// The key of a resource: its path, percent-decoded, whatever encoding the server chose.
std::string resourceKey(std::string_view href);

class BookIndex {
  public:
    std::string syncToken;

    const IndexedCard* card(std::string_view href) const;
    const IndexedCard* contact(const std::string& uid) const;
    const IndexedCard* group(const std::string& uid) const;
    // Replaces the card of the same resource.
    void put(IndexedCard card);
    void remove(std::string_view href);
    void clear();

    std::size_t size() const { return cards_.size(); }
    // Contacts, or group cards, in the order the index learnt of them.
    std::vector<const IndexedCard*> contacts() const;
    std::vector<const IndexedCard*> groupCards() const;
    const std::vector<std::string>* withFullName(const std::string& fullName) const;
    // How many contacts name each category.
    const std::map<std::string, std::size_t>& categoryCounts() const { return categoryCounts_; }

    // The cache file's text, and the index it holds; none for a file of another format.
    std::string serialized() const;
    static std::optional<BookIndex> parse(std::string_view text);

  private:
    void unindex(const IndexedCard& card);

    std::unordered_map<std::string, IndexedCard> cards_;                    // by resource key
    std::unordered_map<std::string, std::string> contactKeys_;              // uid -> resource key
    std::unordered_map<std::string, std::string> groupKeys_;                // uid -> resource key
    std::unordered_map<std::string, std::vector<std::string>> byFullName_;  // contacts' uids
    std::map<std::string, std::size_t> categoryCounts_;
    std::uint64_t nextSequence_ = 1;
};

}  // namespace pelkora::contacts::carddav
