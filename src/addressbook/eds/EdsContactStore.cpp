#include "addressbook/eds/EdsContactStore.h"

#include <libebook/libebook.h>
#include <libedataserver/libedataserver.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "addressbook/ContactFormatter.h"
#include "addressbook/StoreMessages.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "vcard/VCard.h"

namespace pelkora::contacts {
namespace {

// ---------------------------------------------------------------------------------------
// GLib ownership.

struct ObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
template <typename T>
using Ref = std::unique_ptr<T, ObjectUnref>;

struct ErrorFree {
    void operator()(GError* error) const {
        if (error) g_error_free(error);
    }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

// A GSList of EContact, each holding a reference.
class ContactList {
  public:
    ContactList() = default;
    ContactList(const ContactList&) = delete;
    ContactList& operator=(const ContactList&) = delete;
    ~ContactList() { g_slist_free_full(list_, g_object_unref); }
    GSList** out() { return &list_; }
    GSList* get() const { return list_; }
    void prepend(EContact* contact) { list_ = g_slist_prepend(list_, contact); }
    void reverse() { list_ = g_slist_reverse(list_); }

  private:
    GSList* list_ = nullptr;
};

// A GSList of strings the list owns.
class StringList {
  public:
    StringList() = default;
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;
    ~StringList() { g_slist_free_full(list_, g_free); }
    GSList** out() { return &list_; }
    GSList* get() const { return list_; }
    void prepend(const std::string& text) {
        list_ = g_slist_prepend(list_, g_strdup(text.c_str()));
    }

  private:
    GSList* list_ = nullptr;
};

std::string errorText(const ErrorPtr& error) {
    return error && error->message ? error->message : localizedString("unknown error");
}

Unexpected<ContactStoreError> failure(ContactStoreErrorKind kind, const std::string& message) {
    return Unexpected(ContactStoreError{kind, message});
}

Unexpected<ContactStoreError> saveFailure(ContactStoreErrorKind kind, const std::string& problem) {
    return failure(kind, formatMessage(localizedString("Could not save to the desktop's address "
                                                       "book (Evolution Data Server): %@."),
                                       problem));
}

// The identifier of a container's group: a name-based UUID (version 5 layout) of the
// container's UID and the category, so every store object gives a category the same one.
std::string groupIdentifier(const std::string& container, const std::string& name) {
    static constexpr std::array<guchar, 16> kNamespace = {0x6d, 0x1f, 0x3c, 0x52, 0x8e, 0x0b,
                                                          0x4a, 0x61, 0x9c, 0x27, 0x15, 0xd4,
                                                          0x80, 0x33, 0xe9, 0x4b};
    GChecksum* checksum = g_checksum_new(G_CHECKSUM_SHA1);
    g_checksum_update(checksum, kNamespace.data(), kNamespace.size());
    const std::string input = container + '\n' + name;
    g_checksum_update(checksum, reinterpret_cast<const guchar*>(input.data()),
                      static_cast<gssize>(input.size()));
    std::array<guint8, 20> digest{};
    gsize length = digest.size();
    g_checksum_get_digest(checksum, digest.data(), &length);
    g_checksum_free(checksum);
    digest[6] = static_cast<guint8>((digest[6] & 0x0F) | 0x50);
    digest[8] = static_cast<guint8>((digest[8] & 0x3F) | 0x80);
    std::string text;
    for (std::size_t index = 0; index < 16; ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) text += '-';
        std::array<char, 3> hex{};
        std::snprintf(hex.data(), hex.size(), "%02X", digest[index]);
        text += hex.data();
    }
    return text;
}

// Orders names as the SQLite store does: ignoring ASCII letter case, then letter for letter.
bool nameBefore(const std::string& left, const std::string& right) {
    const auto lower = [](const std::string& text) {
        std::string result = text;
        for (char& c : result) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return result;
    };
    const std::string a = lower(left);
    const std::string b = lower(right);
    return a != b ? a < b : left < right;
}

// ---------------------------------------------------------------------------------------
// A container's index: what the duplicate look-ups and the group rules need of each contact.

struct IndexedContact {
    std::string fullName;
    std::vector<std::string> categories;
};

struct Index {
    std::unordered_map<std::string, IndexedContact> contacts;
    std::unordered_map<std::string, std::vector<std::string>> byFullName;
    std::unordered_map<std::string, std::size_t> carriers;  // category -> contacts with it
    std::set<std::string> pendingGroups;  // groups no contact carries (yet or any more)

    void add(const std::string& identifier, IndexedContact contact) {
        byFullName[contact.fullName].push_back(identifier);
        for (const std::string& name : contact.categories) ++carriers[name];
        contacts.insert_or_assign(identifier, std::move(contact));
    }
    // A category whose last carrier goes stays a group, as an empty group would.
    void remove(const std::string& identifier) {
        auto found = contacts.find(identifier);
        if (found == contacts.end()) return;
        auto& named = byFullName[found->second.fullName];
        std::erase(named, identifier);
        if (named.empty()) byFullName.erase(found->second.fullName);
        for (const std::string& name : found->second.categories) dropCarrier(name);
        contacts.erase(found);
    }
    void addCategory(const std::string& identifier, const std::string& name) {
        contacts.at(identifier).categories.push_back(name);
        ++carriers[name];
    }
    void removeCategory(const std::string& identifier, const std::string& name) {
        std::erase(contacts.at(identifier).categories, name);
        dropCarrier(name);
    }
    void dropCarrier(const std::string& name) {
        auto count = carriers.find(name);
        if (count == carriers.end()) return;
        if (--count->second == 0) {
            carriers.erase(count);
            pendingGroups.insert(name);
        }
    }
    bool hasGroup(const std::string& name) const {
        return carriers.contains(name) || pendingGroups.contains(name);
    }
    bool isCarried(const std::string& name) const { return carriers.contains(name); }
    std::vector<std::string> groupNames() const {
        std::set<std::string> names = pendingGroups;
        for (const auto& [name, count] : carriers) names.insert(name);
        return {names.begin(), names.end()};
    }
};

struct GroupKey {
    std::string container;
    std::string name;
    bool operator==(const GroupKey&) const = default;
};

struct Book {
    Ref<ESource> source;
    Ref<EBookClient> client;  // connected on first use
    std::optional<Index> index;
    bool unreachable = false;  // could not be read when every book was indexed
};

std::string displayName(ESource* source) {
    const gchar* name = e_source_get_display_name(source);
    return name ? name : "";
}

// The sexp of the contacts with these identifiers.
std::string identifierQuery(const std::vector<std::string>& identifiers) {
    std::vector<EBookQuery*> queries;
    queries.reserve(identifiers.size());
    for (const std::string& identifier : identifiers)
        queries.push_back(
            e_book_query_field_test(E_CONTACT_UID, E_BOOK_QUERY_IS, identifier.c_str()));
    EBookQuery* query = e_book_query_or(static_cast<gint>(queries.size()), queries.data(), TRUE);
    gchar* sexp = e_book_query_to_string(query);
    std::string text = sexp;
    g_free(sexp);
    e_book_query_unref(query);
    return text;
}

std::string allContactsQuery() {
    EBookQuery* query = e_book_query_any_field_contains("");
    gchar* sexp = e_book_query_to_string(query);
    std::string text = sexp;
    g_free(sexp);
    e_book_query_unref(query);
    return text;
}

std::string vCardText(EContact* contact) {
    gchar* text = e_vcard_to_string(E_VCARD(contact), EVC_FORMAT_VCARD_30);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::vector<std::string> categoriesOf(EContact* contact) {
    auto* list = static_cast<GList*>(e_contact_get(contact, E_CONTACT_CATEGORY_LIST));
    std::vector<std::string> names;
    for (GList* item = list; item; item = item->next)
        names.emplace_back(static_cast<const char*>(item->data));
    g_list_free_full(list, g_free);
    return names;
}

void setCategories(EContact* contact, const std::vector<std::string>& names) {
    GList* list = nullptr;
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        list = g_list_prepend(list, const_cast<char*>(name->c_str()));
    e_contact_set(contact, E_CONTACT_CATEGORY_LIST, list);
    g_list_free(list);
}

ContainerType containerType(ESource* source) {
    auto* extension = static_cast<ESourceBackend*>(
        e_source_get_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK));
    const gchar* backend = e_source_backend_get_backend_name(extension);
    const std::string_view name = backend ? backend : "";
    if (name == "local") return ContainerType::local;
    if (name == "carddav" || name == "webdav" || name == "google") return ContainerType::cardDAV;
    if (name == "ews" || name == "microsoft365") return ContainerType::exchange;
    return ContainerType::unassigned;
}

// What one request writes, per container, and what undoing it needs.
struct Writes {
    std::map<std::string, std::vector<std::string>> removed;  // container -> identifiers
    struct Change {
        std::set<std::string> removedNames;
        std::vector<std::string> addedNames;
    };
    std::map<std::string, std::map<std::string, Change>> changed;  // container -> id -> change
    std::map<std::string, std::vector<const Contact*>> added;      // container -> contacts
    std::unordered_map<std::string, std::vector<std::string>> newCategories;  // new id -> names
};

struct Undo {
    std::map<std::string, std::vector<std::string>> removedCards;  // container -> vCards
    std::map<std::string, std::vector<std::string>> changedCards;  // container -> old vCards
    std::map<std::string, std::vector<std::string>> added;         // container -> identifiers
};

constexpr std::size_t kQueryBatch = 200;
// Books are used without waiting for them to report themselves connected: that report comes
// through a main loop this store does not run, so every wait would last its whole timeout. An
// account's book that is still connecting answers from its cache, as it does offline.
constexpr guint32 kDoNotWaitForConnection = static_cast<guint32>(-1);

}  // namespace

// ---------------------------------------------------------------------------------------

struct EdsContactStore::State {
    Ref<ESourceRegistry> registry;
    std::map<std::string, Book> books;
    std::unordered_map<std::string, GroupKey> groupKeys;  // group identifier -> its category
    std::size_t addCalls = 0;
    bool failAfterWrites = false;

    // The enabled address book with the UID, or none.
    Book* book(const std::string& identifier) {
        if (auto found = books.find(identifier); found != books.end()) return &found->second;
        Ref<ESource> source(e_source_registry_ref_source(registry.get(), identifier.c_str()));
        if (!source || !e_source_has_extension(source.get(), E_SOURCE_EXTENSION_ADDRESS_BOOK) ||
            !e_source_registry_check_enabled(registry.get(), source.get()))
            return nullptr;
        Book& made = books[identifier];
        made.source = std::move(source);
        return &made;
    }

    std::vector<Ref<ESource>> enabledSources() {
        GList* list =
            e_source_registry_list_enabled(registry.get(), E_SOURCE_EXTENSION_ADDRESS_BOOK);
        std::vector<Ref<ESource>> sources;
        for (GList* item = list; item; item = item->next)
            sources.emplace_back(static_cast<ESource*>(item->data));
        g_list_free(list);  // the references now belong to `sources`
        return sources;
    }

    Container containerOf(ESource* source) {
        Container container;
        container.identifier = e_source_get_uid(source);
        container.name = displayName(source);
        container.type = containerType(source);
        const gchar* parentUid = e_source_get_parent(source);
        if (parentUid && std::string_view(parentUid) != "local-stub") {
            Ref<ESource> parent(e_source_registry_ref_source(registry.get(), parentUid));
            if (parent && !displayName(parent.get()).empty())
                container.name = displayName(parent.get()) + ": " + container.name;
        }
        return container;
    }

    std::string bookName(Book& book) { return inQuotes(containerOf(book.source.get()).name); }

    Result<EBookClient*> client(Book& book) {
        if (book.client) return book.client.get();
        GError* raw = nullptr;
        EClient* connected =
            e_book_client_connect_sync(book.source.get(), kDoNotWaitForConnection, nullptr, &raw);
        ErrorPtr error(raw);
        if (!connected)
            return failure(ContactStoreErrorKind::storeUnavailable,
                           formatMessage(localizedString("Could not open the address book %1$@ of "
                                                         "the desktop's address book (Evolution "
                                                         "Data Server): %2$@."),
                                         bookName(book), errorText(error)));
        book.client.reset(E_BOOK_CLIENT(connected));
        return book.client.get();
    }

    Result<void> readFailure(Book& book, const ErrorPtr& error) {
        return failure(ContactStoreErrorKind::storeUnavailable,
                       formatMessage(localizedString("Could not read the address book %1$@ of "
                                                     "the desktop's address book (Evolution Data "
                                                     "Server): %2$@."),
                                     bookName(book), errorText(error)));
    }

    // The contacts the query finds, through our reader.
    Result<std::vector<VCardEntry>> query(Book& book, const std::string& sexp) {
        auto connected = client(book);
        if (!connected) return Unexpected(connected.error());
        ContactList found;
        GError* raw = nullptr;
        const gboolean done =
            e_book_client_get_contacts_sync(*connected, sexp.c_str(), found.out(), nullptr, &raw);
        ErrorPtr error(raw);
        if (!done) return Unexpected(readFailure(book, error).error());
        std::vector<VCardEntry> entries;
        for (GSList* item = found.get(); item; item = item->next) {
            const std::string text = vCardText(E_CONTACT(item->data));
            auto read = readVCards(text);
            if (!read || read->empty()) {
                writeLog(LogType::error, "A contact of %@ could not be read: %@", bookName(book),
                         read ? std::string("no vCard") : read.error().message);
                continue;
            }
            entries.push_back(std::move(read->front()));
        }
        return entries;
    }

    // Every contact of the book; the book's index is rebuilt from them.
    Result<std::vector<VCardEntry>> readAll(Book& book) {
        auto entries = query(book, allContactsQuery());
        if (!entries) return entries;
        Index index;
        if (book.index) index.pendingGroups = std::move(book.index->pendingGroups);
        for (const VCardEntry& entry : *entries)
            index.add(entry.contact.identifier,
                      IndexedContact{stringFromContact(entry.contact), entry.categories});
        for (const auto& [name, count] : index.carriers) index.pendingGroups.erase(name);
        book.index = std::move(index);
        registerGroups(book);
        return entries;
    }

    void registerGroups(Book& book) {
        const std::string container = e_source_get_uid(book.source.get());
        for (const std::string& name : book.index->groupNames())
            groupKeys.insert_or_assign(groupIdentifier(container, name), GroupKey{container, name});
    }

    // The index of the container's book; none for a container the store does not have, which
    // holds nothing.
    Result<Index*> indexOf(const std::string& containerIdentifier) {
        Book* found = book(containerIdentifier);
        if (!found) return nullptr;
        return index(*found);
    }

    Result<Index*> index(Book& book) {
        if (!book.index) {
            if (auto read = readAll(book); !read) return Unexpected(read.error());
        }
        return &*book.index;
    }

    // Indexes every enabled book that can be reached; one that cannot (an account that is
    // offline) is passed over, as its identifiers cannot be asked for.
    void indexAll() {
        for (const Ref<ESource>& source : enabledSources()) {
            Book* found = book(e_source_get_uid(source.get()));
            if (!found || found->index || found->unreachable) continue;
            if (auto indexed = index(*found); !indexed) {
                found->unreachable = true;
                writeLog(LogType::error, "%@", indexed.error().message);
            }
        }
    }

    // The container of the contact with the identifier, among the indexed books.
    std::optional<std::string> containerOfContact(const std::string& identifier) {
        for (auto& [uid, book] : books) {
            if (book.index && book.index->contacts.contains(identifier)) return uid;
        }
        return std::nullopt;
    }

    // The contacts with these identifiers, read from the book.
    Result<std::vector<VCardEntry>> fetch(Book& book, const std::vector<std::string>& identifiers) {
        std::vector<VCardEntry> entries;
        for (std::size_t start = 0; start < identifiers.size(); start += kQueryBatch) {
            const std::vector<std::string> batch(
                identifiers.begin() + static_cast<std::ptrdiff_t>(start),
                identifiers.begin() +
                    static_cast<std::ptrdiff_t>(std::min(identifiers.size(), start + kQueryBatch)));
            auto read = query(book, identifierQuery(batch));
            if (!read) return read;
            std::move(read->begin(), read->end(), std::back_inserter(entries));
        }
        return entries;
    }

    // The EContacts with these identifiers, as EDS holds them.
    Result<void> fetchContacts(Book& book, const std::vector<std::string>& identifiers,
                               ContactList& out) {
        auto connected = client(book);
        if (!connected) return Unexpected(connected.error());
        for (std::size_t start = 0; start < identifiers.size(); start += kQueryBatch) {
            const std::vector<std::string> batch(
                identifiers.begin() + static_cast<std::ptrdiff_t>(start),
                identifiers.begin() +
                    static_cast<std::ptrdiff_t>(std::min(identifiers.size(), start + kQueryBatch)));
            ContactList found;
            GError* raw = nullptr;
            const gboolean done = e_book_client_get_contacts_sync(
                *connected, identifierQuery(batch).c_str(), found.out(), nullptr, &raw);
            ErrorPtr error(raw);
            if (!done) return readFailure(book, error);
            for (GSList* item = found.get(); item; item = item->next)
                out.prepend(E_CONTACT(g_object_ref(item->data)));
        }
        out.reverse();
        return {};
    }

    // Which of these identifiers the book holds, asked of EDS itself.
    std::vector<std::string> presentIdentifiers(Book& book,
                                                const std::vector<std::string>& identifiers) {
        std::vector<std::string> present;
        auto connected = client(book);
        if (!connected) return present;
        for (std::size_t start = 0; start < identifiers.size(); start += kQueryBatch) {
            const std::vector<std::string> batch(
                identifiers.begin() + static_cast<std::ptrdiff_t>(start),
                identifiers.begin() +
                    static_cast<std::ptrdiff_t>(std::min(identifiers.size(), start + kQueryBatch)));
            StringList found;
            GError* raw = nullptr;
            if (e_book_client_get_contacts_uids_sync(*connected, identifierQuery(batch).c_str(),
                                                     found.out(), nullptr, &raw)) {
                for (GSList* item = found.get(); item; item = item->next)
                    present.emplace_back(static_cast<const char*>(item->data));
            }
            ErrorPtr error(raw);
        }
        return present;
    }

    Result<void> writeFailure(Book& book, const ErrorPtr& error) {
        ContactStoreErrorKind kind = ContactStoreErrorKind::writeFailed;
        if (error && g_error_matches(error.get(), E_BOOK_CLIENT_ERROR,
                                     E_BOOK_CLIENT_ERROR_CONTACT_ID_ALREADY_EXISTS))
            kind = ContactStoreErrorKind::duplicateIdentifier;
        if (error && g_error_matches(error.get(), E_BOOK_CLIENT_ERROR,
                                     E_BOOK_CLIENT_ERROR_CONTACT_NOT_FOUND))
            kind = ContactStoreErrorKind::contactNotFound;
        return saveFailure(
            kind, formatMessage(localizedString("the address book %1$@ refused the change (%2$@)"),
                                bookName(book), errorText(error)));
    }

    Result<void> addCards(Book& book, const std::vector<std::string>& cards) {
        auto connected = client(book);
        if (!connected) return Unexpected(connected.error());
        ContactList contacts;
        for (auto card = cards.rbegin(); card != cards.rend(); ++card)
            contacts.prepend(e_contact_new_from_vcard(card->c_str()));
        StringList addedIdentifiers;
        GError* raw = nullptr;
        ++addCalls;
        const gboolean done =
            e_book_client_add_contacts_sync(*connected, contacts.get(), E_BOOK_OPERATION_FLAG_NONE,
                                            addedIdentifiers.out(), nullptr, &raw);
        ErrorPtr error(raw);
        if (!done) return writeFailure(book, error);
        return {};
    }

    Result<void> modifyCards(Book& book, const std::vector<std::string>& cards) {
        auto connected = client(book);
        if (!connected) return Unexpected(connected.error());
        ContactList contacts;
        for (auto card = cards.rbegin(); card != cards.rend(); ++card)
            contacts.prepend(e_contact_new_from_vcard(card->c_str()));
        GError* raw = nullptr;
        const gboolean done = e_book_client_modify_contacts_sync(
            *connected, contacts.get(), E_BOOK_OPERATION_FLAG_NONE, nullptr, &raw);
        ErrorPtr error(raw);
        if (!done) return writeFailure(book, error);
        return {};
    }

    Result<void> removeIdentifiers(Book& book, const std::vector<std::string>& identifiers) {
        auto connected = client(book);
        if (!connected) return Unexpected(connected.error());
        StringList list;
        for (auto identifier = identifiers.rbegin(); identifier != identifiers.rend(); ++identifier)
            list.prepend(*identifier);
        GError* raw = nullptr;
        const gboolean done = e_book_client_remove_contacts_sync(
            *connected, list.get(), E_BOOK_OPERATION_FLAG_NONE, nullptr, &raw);
        ErrorPtr error(raw);
        if (!done) return writeFailure(book, error);
        return {};
    }

    Result<void> apply(const SaveRequest& request);
    Result<void> write(const Writes& writes, Undo& undo);
    std::string undoWrites(const Undo& undo);
};

// Checks the request against copies of the indexes it touches, then writes.
ContactStore::Result<void> EdsContactStore::State::apply(const SaveRequest& request) {
    std::map<std::string, Index> working;  // container -> its index as the request leaves it
    const auto workingIndex = [&](const std::string& container) -> Result<Index*> {
        if (auto found = working.find(container); found != working.end()) return &found->second;
        Book* found = book(container);
        if (!found)
            return saveFailure(
                ContactStoreErrorKind::containerNotFound,
                formatMessage(localizedString("there is no container with the identifier %@"),
                              inQuotes(container)));
        auto indexed = index(*found);
        if (!indexed) return Unexpected(indexed.error());
        return &working.emplace(container, **indexed).first->second;
    };
    // The container holding the contact as the request has left it so far.
    bool allIndexed = false;
    const auto findContact = [&](const std::string& identifier) -> std::optional<std::string> {
        for (int attempt = 0; attempt < 2; ++attempt) {
            for (auto& [uid, entry] : books) {
                auto edited = working.find(uid);
                if (edited != working.end()) {
                    if (edited->second.contacts.contains(identifier)) return uid;
                } else if (entry.index && entry.index->contacts.contains(identifier)) {
                    return uid;
                }
            }
            if (allIndexed) break;
            indexAll();
            allIndexed = true;
        }
        return std::nullopt;
    };
    std::unordered_map<std::string, GroupKey> requestGroups;
    const auto findGroup = [&](const std::string& identifier) -> std::optional<GroupKey> {
        if (auto found = requestGroups.find(identifier); found != requestGroups.end())
            return found->second;
        if (auto found = groupKeys.find(identifier); found == groupKeys.end() && !allIndexed) {
            indexAll();
            allIndexed = true;
        }
        if (auto found = groupKeys.find(identifier); found != groupKeys.end()) return found->second;
        return std::nullopt;
    };
    const auto noGroup = [](const std::string& identifier) {
        return saveFailure(
            ContactStoreErrorKind::groupNotFound,
            formatMessage(localizedString("there is no group with the identifier %@"),
                          inQuotes(identifier)));
    };

    Writes writes;
    for (const std::string& identifier : request.deletedContacts()) {
        const auto container = findContact(identifier);
        if (!container)
            return saveFailure(
                ContactStoreErrorKind::contactNotFound,
                formatMessage(localizedString("there is no contact with the identifier %@"),
                              inQuotes(identifier)));
        auto index = workingIndex(*container);
        if (!index) return Unexpected(index.error());
        (*index)->remove(identifier);
        writes.removed[*container].push_back(identifier);
        writes.changed[*container].erase(identifier);
    }
    for (const std::string& identifier : request.deletedGroups()) {
        const auto key = findGroup(identifier);
        if (!key) return noGroup(identifier);
        auto index = workingIndex(key->container);
        if (!index) return Unexpected(index.error());
        if (!(*index)->hasGroup(key->name)) return noGroup(identifier);
        for (auto& [contact, indexed] : (*index)->contacts) {
            if (std::find(indexed.categories.begin(), indexed.categories.end(), key->name) ==
                indexed.categories.end())
                continue;
            std::erase(indexed.categories, key->name);
            auto& change = writes.changed[key->container][contact];
            change.removedNames.insert(key->name);
            std::erase(change.addedNames, key->name);
        }
        (*index)->carriers.erase(key->name);
        (*index)->pendingGroups.erase(key->name);
    }
    for (const std::string& identifier : request.groupsDeletedIfEmpty()) {
        const auto key = findGroup(identifier);
        if (!key) return noGroup(identifier);
        auto index = workingIndex(key->container);
        if (!index) return Unexpected(index.error());
        if (!(*index)->hasGroup(key->name)) return noGroup(identifier);
        if (!(*index)->isCarried(key->name)) (*index)->pendingGroups.erase(key->name);
    }
    for (const SaveRequest::AddedGroup& added : request.addedGroups()) {
        auto index = workingIndex(added.containerIdentifier);
        if (!index) return Unexpected(index.error());
        const GroupKey key{added.containerIdentifier, added.group.name};
        if (!(*index)->hasGroup(key.name)) {
            if (auto known = findGroup(added.group.identifier); known && *known != key)
                return saveFailure(
                    ContactStoreErrorKind::duplicateIdentifier,
                    formatMessage(localizedString("a group with the identifier %@ exists already"),
                                  inQuotes(added.group.identifier)));
            (*index)->pendingGroups.insert(key.name);
        }
        requestGroups.insert_or_assign(added.group.identifier, key);
        requestGroups.insert_or_assign(groupIdentifier(key.container, key.name), key);
    }
    for (const SaveRequest::AddedContact& added : request.addedContacts()) {
        auto index = workingIndex(added.containerIdentifier);
        if (!index) return Unexpected(index.error());
        if (findContact(added.contact.identifier))
            return saveFailure(
                ContactStoreErrorKind::duplicateIdentifier,
                formatMessage(localizedString("a contact with the identifier %@ exists already"),
                              inQuotes(added.contact.identifier)));
        (*index)->add(added.contact.identifier,
                      IndexedContact{stringFromContact(added.contact), {}});
        writes.added[added.containerIdentifier].push_back(&added.contact);
        writes.newCategories.emplace(added.contact.identifier, std::vector<std::string>{});
    }
    for (const SaveRequest::Membership& membership : request.addedMembers()) {
        const auto container = findContact(membership.contactIdentifier);
        if (!container)
            return saveFailure(
                ContactStoreErrorKind::contactNotFound,
                formatMessage(localizedString("there is no contact with the identifier %@"),
                              inQuotes(membership.contactIdentifier)));
        const auto key = findGroup(membership.groupIdentifier);
        if (!key) return noGroup(membership.groupIdentifier);
        auto index = workingIndex(key->container);
        if (!index) return Unexpected(index.error());
        if (!(*index)->hasGroup(key->name)) return noGroup(membership.groupIdentifier);
        if (*container != key->container)
            return saveFailure(
                ContactStoreErrorKind::groupNotFound,
                differentContainersText(membership.contactIdentifier, membership.groupIdentifier));
        const auto& categories = (*index)->contacts.at(membership.contactIdentifier).categories;
        if (std::find(categories.begin(), categories.end(), key->name) != categories.end())
            continue;
        (*index)->addCategory(membership.contactIdentifier, key->name);
        (*index)->pendingGroups.erase(key->name);
        if (auto fresh = writes.newCategories.find(membership.contactIdentifier);
            fresh != writes.newCategories.end()) {
            fresh->second.push_back(key->name);
        } else {
            auto& change = writes.changed[*container][membership.contactIdentifier];
            change.addedNames.push_back(key->name);
            change.removedNames.erase(key->name);
        }
    }

    Undo undo;
    auto written = write(writes, undo);
    if (written && failAfterWrites) {
        failAfterWrites = false;
        written =
            saveFailure(ContactStoreErrorKind::writeFailed, "a failure was injected for testing");
    }
    if (!written) {
        const std::string undoProblems = undoWrites(undo);
        // What EDS holds is no longer what the indexes say when undoing failed.
        if (!undoProblems.empty()) {
            for (auto& [uid, entry] : books) entry.index.reset();
            ContactStoreError error = written.error();
            error.message += formatMessage(
                localizedString(" Undoing the request's earlier changes failed too: %@",
                                "Follows the sentence saying why a change was not saved"),
                undoProblems);
            return Unexpected(std::move(error));
        }
        return written;
    }
    for (auto& [container, index] : working) {
        Book* target = book(container);
        if (!target) continue;
        target->index = std::move(index);
        registerGroups(*target);
    }
    for (auto& [identifier, key] : requestGroups) groupKeys.insert_or_assign(identifier, key);
    return {};
}

// Removals, then changed categories, then additions; each step records what undoing needs
// before it writes.
ContactStore::Result<void> EdsContactStore::State::write(const Writes& writes, Undo& undo) {
    for (const auto& [container, identifiers] : writes.removed) {
        Book& target = *book(container);
        ContactList old;
        if (auto fetched = fetchContacts(target, identifiers, old); !fetched) return fetched;
        std::vector<std::string> cards;
        for (GSList* item = old.get(); item; item = item->next)
            cards.push_back(vCardText(E_CONTACT(item->data)));
        if (auto removed = removeIdentifiers(target, identifiers); !removed) return removed;
        undo.removedCards[container] = std::move(cards);
    }
    for (const auto& [container, changes] : writes.changed) {
        if (changes.empty()) continue;
        Book& target = *book(container);
        std::vector<std::string> identifiers;
        for (const auto& [identifier, change] : changes) identifiers.push_back(identifier);
        ContactList current;
        if (auto fetched = fetchContacts(target, identifiers, current); !fetched) return fetched;
        std::vector<std::string> oldCards;
        std::vector<std::string> newCards;
        for (GSList* item = current.get(); item; item = item->next) {
            auto* contact = E_CONTACT(item->data);
            oldCards.push_back(vCardText(contact));
            const auto* uid = static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_UID));
            const auto change = changes.find(uid ? uid : "");
            if (change == changes.end()) continue;
            std::vector<std::string> names = categoriesOf(contact);
            std::erase_if(names, [&](const std::string& name) {
                return change->second.removedNames.contains(name);
            });
            for (const std::string& name : change->second.addedNames) {
                if (std::find(names.begin(), names.end(), name) == names.end())
                    names.push_back(name);
            }
            setCategories(contact, names);
            newCards.push_back(vCardText(contact));
        }
        if (auto modified = modifyCards(target, newCards); !modified) return modified;
        undo.changedCards[container] = std::move(oldCards);
    }
    for (const auto& [container, contacts] : writes.added) {
        Book& target = *book(container);
        std::vector<std::string> cards;
        std::vector<std::string> identifiers;
        VCardWriteOptions options;
        options.categories = [&](const Contact& contact) {
            return writes.newCategories.at(contact.identifier);
        };
        for (const Contact* contact : contacts) {
            std::string card;
            appendVCard(card, *contact, options);
            cards.push_back(std::move(card));
            identifiers.push_back(contact->identifier);
        }
        // A contact another program added since the index was read: refused before anything
        // is added, so that undoing a failed add removes only contacts this call made.
        if (const auto present = presentIdentifiers(target, identifiers); !present.empty()) {
            target.index.reset();
            return saveFailure(
                ContactStoreErrorKind::duplicateIdentifier,
                formatMessage(localizedString("a contact with the identifier %@ exists already"),
                              inQuotes(present.front())));
        }
        // Recorded first: a failed call may still have added some of them.
        undo.added[container] = identifiers;
        if (auto addedCards = addCards(target, cards); !addedCards) return addedCards;
    }
    return {};
}

// Undoes what write recorded, newest first; the problems, or empty when all went back.
std::string EdsContactStore::State::undoWrites(const Undo& undo) {
    std::string problems;
    const auto note = [&](const Result<void>& done) {
        if (!done) problems += (problems.empty() ? "" : " ") + done.error().message;
    };
    for (const auto& [container, identifiers] : undo.added) {
        Book& target = *book(container);
        const std::vector<std::string> present = presentIdentifiers(target, identifiers);
        if (!present.empty()) note(removeIdentifiers(target, present));
    }
    for (const auto& [container, cards] : undo.changedCards)
        note(modifyCards(*book(container), cards));
    for (const auto& [container, cards] : undo.removedCards)
        note(addCards(*book(container), cards));
    return problems;
}

// ---------------------------------------------------------------------------------------

Expected<std::unique_ptr<EdsContactStore>, ContactStoreError> EdsContactStore::open() {
    GError* raw = nullptr;
    Ref<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
    ErrorPtr busError(raw);
    if (!bus)
        return failure(ContactStoreErrorKind::storeUnavailable,
                       formatMessage(localizedString("The desktop's address book (Evolution Data "
                                                     "Server) is not reachable: no D-Bus session "
                                                     "bus (%@)."),
                                     errorText(busError)));
    raw = nullptr;
    Ref<ESourceRegistry> registry(e_source_registry_new_sync(nullptr, &raw));
    ErrorPtr registryError(raw);
    if (!registry)
        return failure(ContactStoreErrorKind::storeUnavailable,
                       formatMessage(localizedString("The desktop's address book (Evolution Data "
                                                     "Server) is not reachable: its source "
                                                     "registry (evolution-source-registry) does "
                                                     "not answer on the session bus (%@)."),
                                     errorText(registryError)));
    auto state = std::make_unique<State>();
    state->registry = std::move(registry);
    return std::unique_ptr<EdsContactStore>(new EdsContactStore(std::move(state)));
}

EdsContactStore::EdsContactStore(std::unique_ptr<State> state) : state_(std::move(state)) {}

EdsContactStore::~EdsContactStore() = default;

std::string EdsContactStore::location() const {
    return "eds:";
}

AuthorizationStatus EdsContactStore::authorizationStatus() const {
    return AuthorizationStatus::authorized;
}

void EdsContactStore::requestAccess(std::function<void(bool granted)> completion) {
    completion(true);
}

ContactStore::Result<std::vector<Container>> EdsContactStore::containers() {
    std::lock_guard lock(mutex_);
    std::vector<Container> result;
    for (const Ref<ESource>& source : state_->enabledSources())
        result.push_back(state_->containerOf(source.get()));
    return result;
}

ContactStore::Result<std::optional<Container>> EdsContactStore::container(
    const std::string& identifier) {
    std::lock_guard lock(mutex_);
    Book* found = state_->book(identifier);
    if (!found) return std::optional<Container>();
    return std::optional<Container>(state_->containerOf(found->source.get()));
}

std::string EdsContactStore::defaultContainerIdentifier() {
    std::lock_guard lock(mutex_);
    Ref<ESource> source(e_source_registry_ref_default_address_book(state_->registry.get()));
    return source ? e_source_get_uid(source.get()) : "";
}

ContactStore::Result<std::vector<Group>> EdsContactStore::groups(
    const std::string& containerIdentifier) {
    std::lock_guard lock(mutex_);
    Book* found = state_->book(containerIdentifier);
    if (!found) return std::vector<Group>();
    if (auto read = state_->readAll(*found); !read) return Unexpected(read.error());
    std::vector<Group> result;
    for (const std::string& name : found->index->groupNames())
        result.push_back(Group{groupIdentifier(containerIdentifier, name), name});
    std::sort(result.begin(), result.end(), [](const Group& left, const Group& right) {
        if (left.name != right.name) return nameBefore(left.name, right.name);
        return left.identifier < right.identifier;
    });
    return result;
}

ContactStore::Result<void> EdsContactStore::enumerateContacts(
    const std::string& containerIdentifier, const std::function<bool(const Contact&)>& visit) {
    Result<std::vector<VCardEntry>> entries = [&]() -> Result<std::vector<VCardEntry>> {
        std::lock_guard lock(mutex_);
        Book* found = state_->book(containerIdentifier);
        if (!found) return std::vector<VCardEntry>();
        return state_->readAll(*found);
    }();
    if (!entries) return Unexpected(entries.error());
    for (const VCardEntry& entry : *entries) {
        if (!visit(entry.contact)) return {};
    }
    return {};
}

ContactStore::Result<std::vector<Contact>> EdsContactStore::contacts(
    const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::vector<std::string>> byContainer;
    bool allIndexed = false;
    for (const std::string& identifier : identifiers) {
        auto container = state_->containerOfContact(identifier);
        if (!container && !allIndexed) {
            state_->indexAll();
            allIndexed = true;
            container = state_->containerOfContact(identifier);
        }
        if (container) byContainer[*container].push_back(identifier);
    }
    std::vector<Contact> result;
    for (const auto& [container, wanted] : byContainer) {
        auto read = state_->fetch(*state_->book(container), wanted);
        if (!read) return Unexpected(read.error());
        for (VCardEntry& entry : *read) result.push_back(std::move(entry.contact));
    }
    return result;
}

ContactStore::Result<std::vector<std::pair<std::string, std::vector<std::string>>>>
EdsContactStore::groupMemberships(const std::string& containerIdentifier) {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, std::vector<std::string>>> result;
    Book* found = state_->book(containerIdentifier);
    if (!found) return result;
    auto read = state_->readAll(*found);
    if (!read) return Unexpected(read.error());
    for (const VCardEntry& entry : *read) {
        if (entry.categories.empty()) continue;
        std::vector<std::string> names = entry.categories;
        std::sort(names.begin(), names.end(), nameBefore);
        std::vector<std::string> identifiers;
        for (const std::string& name : names)
            identifiers.push_back(groupIdentifier(containerIdentifier, name));
        result.emplace_back(entry.contact.identifier, std::move(identifiers));
    }
    return result;
}

ContactStore::Result<std::unordered_set<std::string>> EdsContactStore::existingFullNames(
    const std::string& containerIdentifier, const std::vector<std::string>& fullNames) {
    std::lock_guard lock(mutex_);
    std::unordered_set<std::string> result;
    auto index = state_->indexOf(containerIdentifier);
    if (!index) return Unexpected(index.error());
    if (!*index) return result;
    for (const std::string& name : fullNames) {
        if ((*index)->byFullName.contains(name)) result.insert(name);
    }
    return result;
}

ContactStore::Result<std::vector<std::string>> EdsContactStore::contactIdentifiersWithFullNames(
    const std::string& containerIdentifier, const std::vector<std::string>& fullNames) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    auto index = state_->indexOf(containerIdentifier);
    if (!index) return Unexpected(index.error());
    if (!*index) return result;
    std::unordered_set<std::string> seen;
    for (const std::string& name : fullNames) {
        auto named = (*index)->byFullName.find(name);
        if (named == (*index)->byFullName.end()) continue;
        for (const std::string& identifier : named->second) {
            if (seen.insert(identifier).second) result.push_back(identifier);
        }
    }
    return result;
}

ContactStore::Result<std::unordered_set<std::string>> EdsContactStore::existingIdentifiers(
    const std::string& containerIdentifier, const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    std::unordered_set<std::string> result;
    auto index = state_->indexOf(containerIdentifier);
    if (!index) return Unexpected(index.error());
    if (!*index) return result;
    for (const std::string& identifier : identifiers) {
        if ((*index)->contacts.contains(identifier)) result.insert(identifier);
    }
    return result;
}

ContactStore::Result<std::unordered_set<std::string>> EdsContactStore::identifiersInUse(
    const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    state_->indexAll();
    std::unordered_set<std::string> result;
    for (const std::string& identifier : identifiers) {
        if (state_->containerOfContact(identifier)) {
            result.insert(identifier);
            continue;
        }
        auto group = state_->groupKeys.find(identifier);
        if (group == state_->groupKeys.end()) continue;
        Book* book = state_->book(group->second.container);
        if (book && book->index && book->index->hasGroup(group->second.name))
            result.insert(identifier);
    }
    return result;
}

ContactStore::Result<void> EdsContactStore::execute(const SaveRequest& request) {
    if (request.isEmpty()) return {};
    std::lock_guard lock(mutex_);
    return state_->apply(request);
}

std::size_t EdsContactStore::addCallCount() {
    std::lock_guard lock(mutex_);
    return state_->addCalls;
}

void EdsContactStore::failAfterWrites() {
    std::lock_guard lock(mutex_);
    state_->failAfterWrites = true;
}

}  // namespace pelkora::contacts
