#include "addressbook/carddav/CardDavContactStore.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "addressbook/ContactFormatter.h"
#include "addressbook/StoreMessages.h"
#include "addressbook/carddav/CardDavIndex_p.h"
#include "net/Dav.h"
#include "net/Http.h"
#include "platform/AtomicFile.h"
#include "support/Escaping.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "vcard/VCard.h"

namespace pelkora::contacts {
namespace {

using carddav::BookIndex;
using carddav::groupCardText;
using carddav::IndexedCard;
using carddav::resourceKey;
using net::HttpRequest;
using net::HttpResponse;
using net::kCardDavNamespace;
using net::kDavNamespace;

// Cards asked for in one addressbook-multiget.
constexpr std::size_t kCardsPerFetch = 200;

constexpr std::string_view kDiscoveryBody = R"(<?xml version="1.0" encoding="utf-8"?>
<D:propfind xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">
<D:prop><D:resourcetype/><D:displayname/><D:current-user-principal/><C:addressbook-home-set/></D:prop>
</D:propfind>
)";

constexpr std::string_view kListingBody = R"(<?xml version="1.0" encoding="utf-8"?>
<D:propfind xmlns:D="DAV:"><D:prop><D:resourcetype/><D:getetag/></D:prop></D:propfind>
)";

std::string withFinalSlash(std::string url) {
    if (!url.empty() && url.back() != '/') url += '/';
    return url;
}

std::string syncBody(std::string_view token) {
    std::string body = R"(<?xml version="1.0" encoding="utf-8"?>
<D:sync-collection xmlns:D="DAV:">)";
    body += token.empty() ? "<D:sync-token/>"
                          : "<D:sync-token>" + markupEscaped(token) + "</D:sync-token>";
    body += "<D:sync-level>1</D:sync-level><D:prop><D:getetag/></D:prop></D:sync-collection>\n";
    return body;
}

std::string multigetBody(const std::vector<std::string>& hrefs) {
    std::string body = R"(<?xml version="1.0" encoding="utf-8"?>
<C:addressbook-multiget xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">
<D:prop><D:getetag/><C:address-data/></D:prop>
)";
    for (const auto& href : hrefs) body += "<D:href>" + markupEscaped(href) + "</D:href>\n";
    body += "</C:addressbook-multiget>\n";
    return body;
}

struct Book {
    std::string url;  // absolute, with its final slash: the container's identifier
    std::string name;
    BookIndex index;
    bool indexed = false;
    // Groups of names no card has yet (categories mode): a request added them, and the next
    // request's cards fill them.
    std::vector<std::string> declaredGroups;
};

// One write of a request.
struct Operation {
    enum class Kind { create, replace, remove };
    Kind kind = Kind::create;
    std::string book;     // the book's URL
    std::string href;     // the resource's path
    std::string text;     // the new card (create, replace)
    std::string etag;     // the version replaced or removed
    std::string oldText;  // what was there (replace, remove), to put back after a failure
    IndexedCard card;     // what the index learns (create, replace)
    bool done = false;    // went through: to be taken back should the request fail
};

}  // namespace

struct CardDavContactStore::State {
    CardDavConfiguration configuration;
    net::HttpClient client;
    std::vector<Book> books;  // by name
    std::string defaultBook;
    std::size_t cardsDownloaded = 0;

    explicit State(CardDavConfiguration given)
        : configuration(std::move(given)), client([&] {
              net::HttpSettings settings;
              settings.user = configuration.user;
              settings.password = configuration.password;
              settings.caFile = configuration.caFile;
              settings.parallel = std::max<std::size_t>(configuration.parallelRequests, 1);
              return settings;
          }()) {}

    bool groupCards() const {
        return configuration.groupMode == CardDavConfiguration::GroupMode::groupCards;
    }

    std::string location() const { return "carddav:" + configuration.url; }

    // --- errors ---

    // Whose account, as in "the password for the user “jane” was not sent".
    std::string accountText() const {
        return configuration.user.empty()
                   ? localizedString("without a user name",
                                     "Whose account, as in “the password without a user name "
                                     "was not sent”")
                   : formatMessage(localizedString("for the user %@",
                                                   "Whose account, as in “the password for the "
                                                   "user “jane” was not sent”"),
                                   inQuotes(configuration.user));
    }

    // What an answer that is not the one wanted says, for the user.
    std::string answerProblem(const HttpResponse& response, const std::string& url) const {
        const std::string status =
            response.statusLine.empty()
                ? formatMessage(localizedString("HTTP status %@"), std::to_string(response.status))
                : response.statusLine;
        switch (response.status) {
            case 401:
                return formatMessage(
                    localizedString("the CardDAV server at %1$@ did not accept the "
                                    "user name %2$@ or its password (%3$@)"),
                    url, inQuotes(configuration.user), status);
            case 403:
                return formatMessage(localizedString("the CardDAV server at %1$@ does not let the "
                                                     "account %2$@ do that (%3$@)"),
                                     url, inQuotes(configuration.user), status);
            case 404:
                return formatMessage(
                    localizedString("there is nothing at %1$@ (%2$@): check the address"), url,
                    status);
            case 507:
                return formatMessage(localizedString("the CardDAV server at %1$@ has no room left "
                                                     "for the account (%2$@)"),
                                     url, status);
            default:
                return formatMessage(
                    response.status >= 500
                        ? localizedString("the CardDAV server at %1$@ answered %2$@; try again "
                                          "later")
                        : localizedString("the CardDAV server at %1$@ answered %2$@"),
                    url, inQuotes(status));
        }
    }

    std::string transferProblem(const net::HttpError& error, const std::string& url) const {
        switch (error.kind) {
            case net::HttpErrorKind::unreachable:
                return formatMessage(localizedString("could not reach the CardDAV server at %1$@ "
                                                     "(%2$@); check the address and the network "
                                                     "connection"),
                                     url, error.message);
            case net::HttpErrorKind::insecure:
                return formatMessage(
                    localizedString("could not make a secure connection to %1$@ (%2$@); check "
                                    "that the server's certificate, or the certificate authority "
                                    "given for the store, is trusted"),
                    url, error.message);
            case net::HttpErrorKind::badAddress:
                return formatMessage(
                    localizedString("%1$@ is not the address of a CardDAV server (%2$@)"),
                    inQuotes(url), error.message);
            case net::HttpErrorKind::refused:
                return formatMessage(localizedString("the password %1$@ was not sent: %2$@",
                                                     "%1$@ is “for the user …” or “without a "
                                                     "user name”"),
                                     accountText(), error.message);
            case net::HttpErrorKind::tooLarge:
                return formatMessage(
                    localizedString("the CardDAV server at %1$@ sent too much: %2$@"), url,
                    error.message);
            case net::HttpErrorKind::failed:
                break;
        }
        return formatMessage(
            localizedString("the exchange with the CardDAV server at %1$@ failed (%2$@)"), url,
            error.message);
    }

    Unexpected<ContactStoreError> unavailable(const std::string& problem) const {
        return Unexpected(ContactStoreError{
            ContactStoreErrorKind::storeUnavailable,
            formatMessage(localizedString("Could not open the address book %1$@: %2$@."),
                          inQuotes(location()), problem)});
    }
    Unexpected<ContactStoreError> saveFailure(ContactStoreErrorKind kind,
                                              const std::string& problem) const {
        return Unexpected(ContactStoreError{
            kind, formatMessage(localizedString("Could not save to the address book %1$@: %2$@."),
                                inQuotes(location()), problem)});
    }

    // A request whose answer must have one of the wanted statuses; the problem otherwise.
    Expected<HttpResponse, std::string> ask(HttpRequest request,
                                            std::initializer_list<long> wanted) {
        const std::string url = request.url;
        auto response = client.perform(request);
        if (!response) return Unexpected(transferProblem(response.error(), url));
        if (std::find(wanted.begin(), wanted.end(), response->status) == wanted.end())
            return Unexpected(answerProblem(*response, url));
        return std::move(response).value();
    }

    Expected<net::MultiStatus, std::string> multistatus(HttpRequest request) {
        const std::string url = request.url;
        auto response = ask(std::move(request), {207});
        if (!response) return Unexpected(response.error());
        auto parsed = net::MultiStatus::parse(response->body);
        if (!parsed)
            return Unexpected(
                formatMessage(localizedString("the CardDAV server at %@ sent an answer that is not "
                                              "a WebDAV multistatus document"),
                              url));
        return std::move(parsed).value();
    }

    // --- discovery ---

    static bool isAddressBook(const net::MultiStatus::Response& response) {
        const auto type = response.property(kDavNamespace, "resourcetype");
        return static_cast<bool>(net::childElement(type, kCardDavNamespace, "addressbook"));
    }

    static std::string hrefIn(const net::MultiStatus::Response& response, std::string_view ns,
                              std::string_view name) {
        return net::trimmedText(
            net::childElement(response.property(ns, name), kDavNamespace, "href"));
    }

    HttpRequest propfind(const std::string& url, std::string_view depth, std::string_view body) {
        return {"PROPFIND",
                url,
                {"Depth: " + std::string(depth), "Content-Type: application/xml; charset=utf-8"},
                std::string(body)};
    }

    // The address books at home (a collection whose members they are).
    Expected<std::vector<Book>, std::string> addressBooksIn(const std::string& home) {
        auto listing = multistatus(propfind(home, "1", kDiscoveryBody));
        if (!listing) return Unexpected(listing.error());
        std::vector<Book> found;
        for (const auto& response : listing->responses()) {
            if (!isAddressBook(response)) continue;
            Book book;
            book.url = withFinalSlash(net::resolveUrl(home, response.href));
            book.name = net::trimmedText(response.property(kDavNamespace, "displayname"));
            if (book.name.empty()) {
                std::string path = resourceKey(book.url);
                path.pop_back();
                book.name = path.substr(path.rfind('/') + 1);
            }
            found.push_back(std::move(book));
        }
        return found;
    }

    Expected<void, std::string> discover() {
        const std::string start = withFinalSlash(configuration.url);
        auto here = multistatus(propfind(start, "0", kDiscoveryBody));
        if (!here) return Unexpected(here.error());
        std::string home;
        std::string principal;
        for (const auto& response : here->responses()) {
            if (isAddressBook(response)) {
                // The URL names one address book: the store has that one only.
                Book book;
                book.url = start;
                book.name = net::trimmedText(response.property(kDavNamespace, "displayname"));
                if (book.name.empty()) book.name = start;
                defaultBook = start;
                books.push_back(std::move(book));
                return {};
            }
            if (home.empty()) home = hrefIn(response, kCardDavNamespace, "addressbook-home-set");
            if (principal.empty())
                principal = hrefIn(response, kDavNamespace, "current-user-principal");
        }
        if (home.empty() && principal.empty()) {
            // A server's root that says nothing: its well-known address leads to the principal.
            const std::string wellKnown = net::urlOrigin(start) + "/.well-known/carddav";
            if (auto known = multistatus(propfind(wellKnown, "0", kDiscoveryBody))) {
                for (const auto& response : known->responses()) {
                    if (home.empty())
                        home = hrefIn(response, kCardDavNamespace, "addressbook-home-set");
                    if (principal.empty())
                        principal = hrefIn(response, kDavNamespace, "current-user-principal");
                }
            }
        }
        if (home.empty() && !principal.empty()) {
            auto found =
                multistatus(propfind(net::resolveUrl(start, principal), "0", kDiscoveryBody));
            if (!found) return Unexpected(found.error());
            for (const auto& response : found->responses())
                if (home.empty())
                    home = hrefIn(response, kCardDavNamespace, "addressbook-home-set");
        }
        // Without a home, the URL may be one: its members are looked at.
        auto listed =
            addressBooksIn(home.empty() ? start : withFinalSlash(net::resolveUrl(start, home)));
        if (!listed) return Unexpected(listed.error());
        books = std::move(*listed);
        if (books.empty())
            return Unexpected(
                formatMessage(localizedString("the server at %1$@ has no address book %2$@",
                                              "%2$@ is “for the user …” or “without "
                                              "a user name”"),
                              start, accountText()));
        std::sort(books.begin(), books.end(), [](const Book& left, const Book& right) {
            return left.name != right.name ? left.name < right.name : left.url < right.url;
        });
        defaultBook = books.front().url;
        for (const Book& book : books) {
            std::string path = resourceKey(book.url);
            path.pop_back();
            const std::string last = path.substr(path.rfind('/') + 1);
            if (last == "contacts" || last == "default" || last == "addressbook") {
                defaultBook = book.url;
                break;
            }
        }
        return {};
    }

    Book* find(const std::string& identifier) {
        for (Book& book : books)
            if (book.url == identifier) return &book;
        return nullptr;
    }

    // --- the index ---

    std::filesystem::path cacheFile(const Book& book) const {
        if (configuration.cacheFolder.empty()) return {};
        return configuration.cacheFolder /
               (hexDigits(fnv1a(configuration.user + '\n' + book.url)) + ".index");
    }

    void saveCache(const Book& book) const {
        const auto file = cacheFile(book);
        if (file.empty()) return;
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        if (auto written = writeFileAtomically(file, book.index.serialized()); !written)
            writeLog(LogType::error, "The index of %@ could not be kept: %@", book.url,
                     written.error().message);
    }

    // The cards at the hrefs, fetched side by side in batches; each visited with its text.
    Expected<void, std::string> fetchCards(
        const std::string& bookUrl, const std::vector<std::string>& hrefs,
        const std::function<void(const std::string& href, const std::string& etag,
                                 const std::string& text)>& visit) {
        std::vector<HttpRequest> requests;
        for (std::size_t first = 0; first < hrefs.size(); first += kCardsPerFetch) {
            const std::vector<std::string> batch(
                hrefs.begin() + static_cast<std::ptrdiff_t>(first),
                hrefs.begin() +
                    static_cast<std::ptrdiff_t>(std::min(first + kCardsPerFetch, hrefs.size())));
            requests.push_back({"REPORT",
                                bookUrl,
                                {"Depth: 1", "Content-Type: application/xml; charset=utf-8"},
                                multigetBody(batch)});
        }
        auto answers = client.performAll(requests);
        for (auto& answer : answers) {
            if (!answer) return Unexpected(transferProblem(answer.error(), bookUrl));
            if (answer->status != 207) return Unexpected(answerProblem(*answer, bookUrl));
            auto parsed = net::MultiStatus::parse(answer->body);
            if (!parsed)
                return Unexpected(
                    formatMessage(localizedString("the CardDAV server at %@ sent cards "
                                                  "in an answer that is not a WebDAV "
                                                  "multistatus document"),
                                  bookUrl));
            for (const auto& response : parsed->responses()) {
                const auto data = response.property(kCardDavNamespace, "address-data");
                if (!data) continue;
                visit(response.href, net::trimmedText(response.property(kDavNamespace, "getetag")),
                      data.text().get());
            }
        }
        return {};
    }

    // The book's resources and their ETags: what changed since the token (sync-collection),
    // or, where the server has none of it, the whole listing. Removed resources have no tag.
    struct Changes {
        std::vector<std::pair<std::string, std::string>> changed;  // href, etag
        std::vector<std::string> removed;
        bool complete = false;  // every resource is listed: the others have gone
        std::string token;
    };

    Expected<Changes, std::string> changesOf(const Book& book, const std::string& token) {
        Changes changes;
        const std::string ownKey = resourceKey(book.url);
        auto response =
            client.perform({"REPORT",
                            book.url,
                            {"Depth: 0", "Content-Type: application/xml; charset=utf-8"},
                            syncBody(token)});
        if (!response) return Unexpected(transferProblem(response.error(), book.url));
        if (response->status == 207) {
            auto parsed = net::MultiStatus::parse(response->body);
            if (!parsed)
                return Unexpected(
                    formatMessage(localizedString("the CardDAV server at %@ sent an answer that is "
                                                  "not a WebDAV multistatus document"),
                                  book.url));
            changes.token = parsed->syncToken();
            changes.complete = token.empty();
            for (const auto& entry : parsed->responses()) {
                const std::string key = resourceKey(entry.href);
                if (key == ownKey || key + "/" == ownKey || key.ends_with('/')) continue;
                if (entry.status == 404)
                    changes.removed.push_back(entry.href);
                else
                    changes.changed.emplace_back(
                        entry.href, net::trimmedText(entry.property(kDavNamespace, "getetag")));
            }
            return changes;
        }
        if (!token.empty() &&
            (response->status == 403 || response->status == 409 || response->status == 400)) {
            // The token is no longer valid: start afresh.
            return changesOf(book, {});
        }
        if (response->status == 401 || response->status == 404)
            return Unexpected(answerProblem(*response, book.url));
        // No sync-collection here: the listing of the book with its ETags.
        auto listing = multistatus(propfind(book.url, "1", kListingBody));
        if (!listing) return Unexpected(listing.error());
        changes.complete = true;
        for (const auto& entry : listing->responses()) {
            const std::string key = resourceKey(entry.href);
            if (key == ownKey || key.ends_with('/')) continue;
            changes.changed.emplace_back(
                entry.href, net::trimmedText(entry.property(kDavNamespace, "getetag")));
        }
        return changes;
    }

    Expected<void, std::string> synchronize(Book& book) {
        const auto started = std::chrono::steady_clock::now();
        const std::size_t downloadedBefore = cardsDownloaded;
        if (!book.indexed && !cacheFile(book).empty()) {
            if (auto text = readWholeFile(cacheFile(book))) {
                if (auto cached = BookIndex::parse(*text)) book.index = std::move(*cached);
            }
        }
        auto changes = changesOf(book, book.index.syncToken);
        if (!changes) return Unexpected(changes.error());
        if (changes->complete) {
            std::unordered_set<std::string> listed;
            for (const auto& [href, etag] : changes->changed) listed.insert(resourceKey(href));
            std::vector<std::string> gone;
            for (const IndexedCard* card : book.index.contacts())
                if (!listed.contains(resourceKey(card->href))) gone.push_back(card->href);
            for (const IndexedCard* card : book.index.groupCards())
                if (!listed.contains(resourceKey(card->href))) gone.push_back(card->href);
            for (const auto& href : gone) book.index.remove(href);
        }
        for (const auto& href : changes->removed) book.index.remove(href);
        std::vector<std::string> wanted;
        for (const auto& [href, etag] : changes->changed) {
            const IndexedCard* known = book.index.card(href);
            if (!known || etag.empty() || !net::sameETagVersion(known->etag, etag))
                wanted.push_back(href);
        }
        auto fetched = fetchCards(
            book.url, wanted,
            [&](const std::string& href, const std::string& etag, const std::string& text) {
                ++cardsDownloaded;
                if (auto card = carddav::readIndexedCard(text, href, etag)) {
                    book.index.put(std::move(*card));
                } else {
                    book.index.remove(href);
                    writeLog(LogType::error,
                             "%@%@ is not a vCard; it is left out of the address book",
                             net::urlOrigin(book.url), href);
                }
            });
        if (!fetched) return Unexpected(fetched.error());
        book.index.syncToken = changes->token;
        book.indexed = true;
        saveCache(book);
        writeLog(LogType::info,
                 "The index of %@ is current: %lu cards fetched, %lu known, in %.3f s", book.url,
                 static_cast<std::uint64_t>(cardsDownloaded - downloadedBefore),
                 static_cast<std::uint64_t>(book.index.size()),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        return {};
    }

    Result<Book*> indexed(const std::string& identifier) {
        Book* book = find(identifier);
        if (!book || book->indexed) return book;
        if (auto synced = synchronize(*book); !synced) return unavailable(synced.error());
        return book;
    }

    Result<void> indexAll() {
        for (Book& book : books) {
            if (auto done = indexed(book.url); !done) return Unexpected(done.error());
        }
        return {};
    }

    // --- groups ---

    std::string categoryGroup(const Book& book, std::string_view name) const {
        return book.url + "#" + net::percentEncode(name);
    }

    std::vector<Group> groupsOf(const Book& book) const {
        std::vector<Group> groups;
        if (groupCards()) {
            for (const IndexedCard* card : book.index.groupCards())
                groups.push_back({card->uid, card->fullName});
        } else {
            for (const auto& [name, count] : book.index.categoryCounts())
                groups.push_back({categoryGroup(book, name), name});
            for (const auto& name : book.declaredGroups)
                if (!book.index.categoryCounts().contains(name))
                    groups.push_back({categoryGroup(book, name), name});
        }
        std::sort(groups.begin(), groups.end(), [](const Group& left, const Group& right) {
            return left.name != right.name ? left.name < right.name
                                           : left.identifier < right.identifier;
        });
        return groups;
    }

    std::optional<Contact> contactOf(const std::string& text, const std::string& uid) {
        auto contacts = contactsWithData(text);
        if (!contacts || contacts->empty()) return std::nullopt;
        Contact contact = std::move(contacts->front());
        contact.identifier = uid;
        return contact;
    }

    Result<void> apply(const SaveRequest& request);
    Result<void> send(std::vector<Operation>& operations);
    void undo(std::vector<Operation>& operations);
};

// Works out the request's cards against copies of the indexes; sends them; and, when all went
// through, the copies become the indexes.
ContactStore::Result<void> CardDavContactStore::State::apply(const SaveRequest& request) {
    if (auto all = indexAll(); !all) return all;
    std::map<std::string, BookIndex> working;  // copies of the books touched, by URL
    std::map<std::string, std::vector<std::string>> declared;
    auto workingIndex = [&](Book& book) -> BookIndex& {
        auto found = working.find(book.url);
        if (found == working.end()) found = working.emplace(book.url, book.index).first;
        return found->second;
    };
    auto currentIndex = [&](const Book& book) -> const BookIndex& {
        auto found = working.find(book.url);
        return found == working.end() ? book.index : found->second;
    };
    auto declaredOf = [&](Book& book) -> std::vector<std::string>& {
        auto found = declared.find(book.url);
        if (found == declared.end()) found = declared.emplace(book.url, book.declaredGroups).first;
        return found->second;
    };
    auto bookOfContact = [&](const std::string& uid) -> Book* {
        for (Book& book : books)
            if (currentIndex(book).contact(uid)) return &book;
        return nullptr;
    };
    // A group: its book and, for categories, its name; for group cards, its card's UID.
    auto findGroup = [&](const std::string& identifier) -> std::pair<Book*, std::string> {
        for (Book& book : books) {
            if (groupCards()) {
                if (const IndexedCard* card = currentIndex(book).group(identifier))
                    return {&book, card->fullName};
                continue;
            }
            const std::string prefix = book.url + "#";
            if (!identifier.starts_with(prefix)) continue;
            const std::string name = net::percentDecode(identifier.substr(prefix.size()));
            const auto& names =
                declared.contains(book.url) ? declared.at(book.url) : book.declaredGroups;
            if (currentIndex(book).categoryCounts().contains(name) ||
                std::find(names.begin(), names.end(), name) != names.end())
                return {&book, name};
        }
        return {nullptr, {}};
    };
    // The sentence is marked with N_, its placeholder the identifier.
    auto notFound = [&](ContactStoreErrorKind kind, const char* sentence,
                        const std::string& identifier) {
        return saveFailure(kind, formatMessage(localizedString(sentence), inQuotes(identifier)));
    };

    std::map<std::string, Operation> operations;  // by resource key
    // Changes to cards that are on the server: their new categories, their new members.
    struct CategoryChange {
        std::string book;
        std::string href;
        std::vector<std::string> names;
    };
    std::map<std::string, CategoryChange> newCategories;  // by resource key
    std::map<std::string, const Contact*> newContacts;    // key -> the request's contact

    for (const std::string& uid : request.deletedContacts()) {
        Book* book = bookOfContact(uid);
        if (!book)
            return notFound(ContactStoreErrorKind::contactNotFound,
                            N_("there is no contact with the identifier %@"), uid);
        BookIndex& index = workingIndex(*book);
        const IndexedCard card = *index.contact(uid);
        index.remove(card.href);
        newCategories.erase(resourceKey(card.href));
        operations[resourceKey(card.href)] = {
            Operation::Kind::remove, book->url, card.href, {}, card.etag, {}, {}, false};
        // Group cards lose the contact as a member.
        for (const IndexedCard* group : index.groupCards()) {
            if (std::find(group->members.begin(), group->members.end(), uid) ==
                group->members.end())
                continue;
            IndexedCard changed = *group;
            std::erase(changed.members, uid);
            const std::string key = resourceKey(changed.href);
            if (!operations.contains(key))
                operations[key] = {Operation::Kind::replace,
                                   book->url,
                                   changed.href,
                                   {},
                                   changed.etag,
                                   {},
                                   {},
                                   false};
            operations[key].card = changed;
            index.put(std::move(changed));
        }
    }
    for (const std::string& identifier : request.deletedGroups()) {
        auto [book, name] = findGroup(identifier);
        if (!book)
            return notFound(ContactStoreErrorKind::groupNotFound,
                            N_("there is no group with the identifier %@"), identifier);
        BookIndex& index = workingIndex(*book);
        if (groupCards()) {
            const IndexedCard card = *index.group(identifier);
            index.remove(card.href);
            operations[resourceKey(card.href)] = {
                Operation::Kind::remove, book->url, card.href, {}, card.etag, {}, {}, false};
            continue;
        }
        std::erase(declaredOf(*book), name);
        for (const IndexedCard* card : index.contacts()) {
            if (std::find(card->categories.begin(), card->categories.end(), name) ==
                card->categories.end())
                continue;
            IndexedCard changed = *card;
            std::erase(changed.categories, name);
            newCategories[resourceKey(card->href)] = {book->url, card->href, changed.categories};
            index.put(std::move(changed));
        }
    }
    for (const std::string& identifier : request.groupsDeletedIfEmpty()) {
        auto [book, name] = findGroup(identifier);
        if (!book) {
            // A category whose last card the request deleted was a group until then.
            bool was = false;
            for (Book& candidate : books)
                was = was || (!groupCards() && identifier.starts_with(candidate.url + "#"));
            if (was) continue;
            return notFound(ContactStoreErrorKind::groupNotFound,
                            N_("there is no group with the identifier %@"), identifier);
        }
        BookIndex& index = workingIndex(*book);
        if (groupCards()) {
            const IndexedCard card = *index.group(identifier);
            if (!card.members.empty()) continue;
            index.remove(card.href);
            operations[resourceKey(card.href)] = {
                Operation::Kind::remove, book->url, card.href, {}, card.etag, {}, {}, false};
        } else if (!index.categoryCounts().contains(name)) {
            std::erase(declaredOf(*book), name);
        }
    }

    std::unordered_map<std::string, std::string> sameGroups;  // the request's id -> the store's
    for (const SaveRequest::AddedGroup& added : request.addedGroups()) {
        Book* book = find(added.containerIdentifier);
        if (!book)
            return notFound(ContactStoreErrorKind::containerNotFound,
                            N_("there is no container with the identifier %@"),
                            added.containerIdentifier);
        bool same = false;
        for (const Group& group : groupsOf(*book)) {
            if (group.name == added.group.name) {
                sameGroups[added.group.identifier] = group.identifier;
                same = true;
            }
        }
        for (const auto& name :
             declared.contains(book->url) ? declared.at(book->url) : std::vector<std::string>{}) {
            if (!same && name == added.group.name) {
                sameGroups[added.group.identifier] = categoryGroup(*book, name);
                same = true;
            }
        }
        if (same) continue;
        if (!groupCards()) {
            declaredOf(*book).push_back(added.group.name);
            sameGroups[added.group.identifier] = categoryGroup(*book, added.group.name);
            continue;
        }
        for (Book& other : books) {
            if (currentIndex(other).group(added.group.identifier) ||
                currentIndex(other).contact(added.group.identifier))
                return saveFailure(
                    ContactStoreErrorKind::duplicateIdentifier,
                    formatMessage(localizedString("a group with the identifier %@ exists already"),
                                  inQuotes(added.group.identifier)));
        }
        IndexedCard card;
        card.href = net::urlPath(book->url) + net::percentEncode(added.group.identifier) + ".vcf";
        card.uid = added.group.identifier;
        card.fullName = added.group.name;
        card.isGroup = true;
        operations[resourceKey(card.href)] = {
            Operation::Kind::create, book->url, card.href, {}, {}, {}, card, false};
        workingIndex(*book).put(std::move(card));
    }

    for (const SaveRequest::AddedContact& added : request.addedContacts()) {
        Book* book = find(added.containerIdentifier);
        if (!book)
            return notFound(ContactStoreErrorKind::containerNotFound,
                            N_("there is no container with the identifier %@"),
                            added.containerIdentifier);
        const std::string& uid = added.contact.identifier;
        for (Book& other : books) {
            if (currentIndex(other).contact(uid) || currentIndex(other).group(uid))
                return saveFailure(
                    ContactStoreErrorKind::duplicateIdentifier,
                    formatMessage(
                        localizedString("a contact with the identifier %@ exists already"),
                        inQuotes(uid)));
        }
        IndexedCard card;
        card.href = net::urlPath(book->url) + net::percentEncode(uid) + ".vcf";
        card.uid = uid;
        card.fullName = stringFromContact(added.contact);
        const std::string key = resourceKey(card.href);
        auto previous = operations.find(key);
        // A contact deleted and added again in one request replaces its card.
        const bool replacing =
            previous != operations.end() && previous->second.kind == Operation::Kind::remove;
        operations[key] = {replacing ? Operation::Kind::replace : Operation::Kind::create,
                           book->url,
                           card.href,
                           {},
                           replacing ? previous->second.etag : "",
                           {},
                           card,
                           false};
        newContacts[key] = &added.contact;
        workingIndex(*book).put(std::move(card));
    }

    for (const SaveRequest::Membership& membership : request.addedMembers()) {
        Book* book = bookOfContact(membership.contactIdentifier);
        if (!book)
            return notFound(ContactStoreErrorKind::contactNotFound,
                            N_("there is no contact with the identifier %@"),
                            membership.contactIdentifier);
        auto same = sameGroups.find(membership.groupIdentifier);
        const std::string& groupIdentifier =
            same == sameGroups.end() ? membership.groupIdentifier : same->second;
        auto [groupBook, name] = findGroup(groupIdentifier);
        if (!groupBook)
            return notFound(ContactStoreErrorKind::groupNotFound,
                            N_("there is no group with the identifier %@"), groupIdentifier);
        if (groupBook != book)
            return saveFailure(
                ContactStoreErrorKind::groupNotFound,
                differentContainersText(membership.contactIdentifier, groupIdentifier));
        BookIndex& index = workingIndex(*book);
        if (groupCards()) {
            IndexedCard group = *index.group(groupIdentifier);
            if (std::find(group.members.begin(), group.members.end(),
                          membership.contactIdentifier) != group.members.end())
                continue;
            group.members.push_back(membership.contactIdentifier);
            const std::string key = resourceKey(group.href);
            if (!operations.contains(key))
                operations[key] = {
                    Operation::Kind::replace, book->url, group.href, {}, group.etag, {}, {}, false};
            operations[key].card = group;
            index.put(std::move(group));
            continue;
        }
        IndexedCard card = *index.contact(membership.contactIdentifier);
        if (std::find(card.categories.begin(), card.categories.end(), name) !=
            card.categories.end())
            continue;
        card.categories.push_back(name);
        const std::string key = resourceKey(card.href);
        if (!newContacts.contains(key))
            newCategories[key] = {book->url, card.href, card.categories};
        if (auto operation = operations.find(key); operation != operations.end())
            operation->second.card.categories = card.categories;
        index.put(std::move(card));
    }

    // The texts: new contacts from the writer, changed cards from the server's own text.
    std::vector<Operation> planned;
    std::map<std::string, std::vector<std::string>> toFetch;  // book -> hrefs
    std::map<std::string, std::size_t> plannedAt;             // resource key -> index
    for (auto& [key, operation] : operations) {
        if (auto contact = newContacts.find(key); contact != newContacts.end()) {
            VCardWriteOptions options;
            const std::vector<std::string>& categories = operation.card.categories;
            options.categories = [&](const Contact&) { return categories; };
            appendVCard(operation.text, *contact->second, options);
        } else if (operation.card.isGroup) {
            operation.text =
                groupCardText(operation.card.uid, operation.card.fullName, operation.card.members);
        }
        if (operation.kind != Operation::Kind::create)
            toFetch[operation.book].push_back(operation.href);
        plannedAt[key] = planned.size();
        planned.push_back(std::move(operation));
    }
    for (auto& [key, change] : newCategories) {
        if (plannedAt.contains(key)) continue;
        Book& book = *find(change.book);
        const IndexedCard& card = *currentIndex(book).card(change.href);
        Operation operation{Operation::Kind::replace,           book.url, card.href, {},
                            book.index.card(change.href)->etag, {},       card,      false};
        toFetch[book.url].push_back(card.href);
        plannedAt[key] = planned.size();
        planned.push_back(std::move(operation));
    }
    if (planned.empty()) {
        for (auto& [url, names] : declared) find(url)->declaredGroups = names;
        return {};
    }
    for (auto& [bookUrl, hrefs] : toFetch) {
        auto fetched = fetchCards(
            bookUrl, hrefs,
            [&](const std::string& href, const std::string& etag, const std::string& text) {
                auto at = plannedAt.find(resourceKey(href));
                if (at == plannedAt.end()) return;
                Operation& operation = planned[at->second];
                operation.oldText = text;
                if (!etag.empty()) operation.etag = etag;
            });
        if (!fetched) return saveFailure(ContactStoreErrorKind::writeFailed, fetched.error());
    }
    for (auto& [key, change] : newCategories) {
        Operation& operation = planned[plannedAt.at(key)];
        if (operation.kind == Operation::Kind::replace && !operation.card.isGroup &&
            !newContacts.contains(key)) {
            if (operation.oldText.empty())
                return saveFailure(
                    ContactStoreErrorKind::contactNotFound,
                    formatMessage(localizedString("the card %@ has gone from the server"),
                                  inQuotes(operation.href)));
            operation.text = vCardWithCategories(operation.oldText, change.names);
        }
    }

    if (auto sent = send(planned); !sent) return sent;

    // The indexes follow the server.
    for (auto& [url, index] : working) {
        Book& book = *find(url);
        for (const Operation& operation : planned) {
            if (operation.book != url || operation.kind == Operation::Kind::remove) continue;
            if (const IndexedCard* now = index.card(operation.href)) {
                IndexedCard updated = *now;
                updated.etag = operation.card.etag;
                index.put(std::move(updated));
            }
        }
        book.index = std::move(index);
        saveCache(book);
    }
    for (auto& [url, names] : declared) find(url)->declaredGroups = names;
    return {};
}

// Removals first, then the new and changed cards, each group side by side. A failure puts
// back what went through.
ContactStore::Result<void> CardDavContactStore::State::send(std::vector<Operation>& operations) {
    std::string problem;
    ContactStoreErrorKind kind = ContactStoreErrorKind::writeFailed;
    for (const bool removals : {true, false}) {
        std::vector<std::size_t> indices;
        std::vector<HttpRequest> requests;
        for (std::size_t index = 0; index < operations.size(); ++index) {
            const Operation& operation = operations[index];
            if ((operation.kind == Operation::Kind::remove) != removals) continue;
            HttpRequest request;
            request.url = net::urlOrigin(operation.book) + operation.href;
            const bool strong = !operation.etag.empty() && !net::isWeakETag(operation.etag);
            if (operation.kind == Operation::Kind::remove) {
                request.method = "DELETE";
                if (strong) request.headers.push_back("If-Match: " + operation.etag);
            } else {
                request.method = "PUT";
                request.body = operation.text;
                request.headers.push_back("Content-Type: text/vcard; charset=utf-8");
                if (operation.kind == Operation::Kind::create)
                    request.headers.push_back("If-None-Match: *");
                else if (strong)
                    request.headers.push_back("If-Match: " + operation.etag);
            }
            indices.push_back(index);
            requests.push_back(std::move(request));
        }
        auto answers = client.performAll(requests);
        for (std::size_t position = 0; position < answers.size(); ++position) {
            Operation& operation = operations[indices[position]];
            auto& answer = answers[position];
            if (answer && answer->succeeded()) {
                operation.done = true;
                operation.card.etag = answer->header("etag");
                continue;
            }
            if (!problem.empty()) continue;
            if (!answer) {
                problem = transferProblem(answer.error(), requests[position].url);
            } else if (answer->status == 412) {
                kind = operation.kind == Operation::Kind::create
                           ? ContactStoreErrorKind::duplicateIdentifier
                           : ContactStoreErrorKind::writeFailed;
                problem =
                    operation.kind == Operation::Kind::create
                        ? formatMessage(localizedString("the server has a card at %@ already"),
                                        requests[position].url)
                        : formatMessage(localizedString("the card at %@ was changed by "
                                                        "another program meanwhile"),
                                        requests[position].url);
            } else if (answer->status == 404 && operation.kind == Operation::Kind::remove) {
                // Gone already, as wanted; nothing to put back should the request fail.
            } else {
                problem = answerProblem(*answer, requests[position].url);
            }
        }
        if (!problem.empty()) break;
    }
    if (problem.empty()) return {};
    undo(operations);
    return saveFailure(kind, problem);
}

void CardDavContactStore::State::undo(std::vector<Operation>& operations) {
    std::vector<HttpRequest> requests;
    for (const Operation& operation : operations) {
        if (!operation.done) continue;
        const std::string url = net::urlOrigin(operation.book) + operation.href;
        if (operation.kind == Operation::Kind::create) {
            requests.push_back({"DELETE", url, {}, {}});
        } else if (!operation.oldText.empty()) {
            requests.push_back(
                {"PUT", url, {"Content-Type: text/vcard; charset=utf-8"}, operation.oldText});
        }
    }
    for (std::size_t index = 0; auto& answer : client.performAll(requests)) {
        if (!answer || !answer->succeeded())
            writeLog(
                LogType::error, "Could not put back %@ after a failed save: %@",
                requests[index].url,
                answer ? answer->statusLine : transferProblem(answer.error(), requests[index].url));
        ++index;
    }
}

// ---------------------------------------------------------------------------------------

Expected<std::unique_ptr<CardDavContactStore>, ContactStoreError> CardDavContactStore::open(
    CardDavConfiguration configuration) {
    auto state = std::make_unique<State>(std::move(configuration));
    if (auto found = state->discover(); !found) return state->unavailable(found.error());
    return std::unique_ptr<CardDavContactStore>(new CardDavContactStore(std::move(state)));
}

std::optional<std::string> CardDavContactStore::passwordRefusal(std::string_view url) {
    if (!url.starts_with("http://") || net::isLoopback(url)) return std::nullopt;
    return formatMessage(localizedString("the password would travel unencrypted over plain HTTP "
                                         "to %@; use an https:// address"),
                         net::urlOrigin(url));
}

CardDavContactStore::CardDavContactStore(std::unique_ptr<State> state) : state_(std::move(state)) {}

CardDavContactStore::~CardDavContactStore() = default;

std::string CardDavContactStore::location() const {
    return state_->location();
}

bool CardDavContactStore::keepsGroupIdentifiers() const {
    return state_->groupCards();
}

AuthorizationStatus CardDavContactStore::authorizationStatus() const {
    return AuthorizationStatus::authorized;
}

void CardDavContactStore::requestAccess(std::function<void(bool granted)> completion) {
    completion(true);
}

ContactStore::Result<std::vector<Container>> CardDavContactStore::containers() {
    std::lock_guard lock(mutex_);
    std::vector<Container> found;
    for (const Book& book : state_->books)
        found.push_back({book.url, book.name, ContainerType::cardDAV});
    return found;
}

ContactStore::Result<std::optional<Container>> CardDavContactStore::container(
    const std::string& identifier) {
    std::lock_guard lock(mutex_);
    if (const Book* book = state_->find(identifier))
        return std::optional<Container>(Container{book->url, book->name, ContainerType::cardDAV});
    return std::optional<Container>();
}

std::string CardDavContactStore::defaultContainerIdentifier() {
    std::lock_guard lock(mutex_);
    return state_->defaultBook;
}

ContactStore::Result<std::vector<Group>> CardDavContactStore::groups(
    const std::string& containerIdentifier) {
    std::lock_guard lock(mutex_);
    auto book = state_->indexed(containerIdentifier);
    if (!book) return Unexpected(book.error());
    if (!*book) return std::vector<Group>();
    return state_->groupsOf(**book);
}

// The cards are fetched a batch at a time under the lock; visit runs without it, so that it may
// call the store.
ContactStore::Result<void> CardDavContactStore::enumerateContacts(
    const std::string& containerIdentifier, const std::function<bool(const Contact&)>& visit) {
    std::string url;
    std::vector<std::pair<std::string, std::string>> cards;  // href, uid
    {
        std::lock_guard lock(mutex_);
        auto book = state_->indexed(containerIdentifier);
        if (!book) return Unexpected(book.error());
        if (!*book) return {};
        url = (*book)->url;
        for (const IndexedCard* card : (*book)->index.contacts())
            cards.emplace_back(card->href, card->uid);
    }
    constexpr std::size_t kBatch = kCardsPerFetch * 4;
    for (std::size_t first = 0; first < cards.size(); first += kBatch) {
        std::vector<std::string> hrefs;
        std::unordered_map<std::string, std::size_t> order;
        for (std::size_t index = first; index < std::min(cards.size(), first + kBatch); ++index) {
            order[resourceKey(cards[index].first)] = hrefs.size();
            hrefs.push_back(cards[index].first);
        }
        std::vector<std::optional<Contact>> found(hrefs.size());
        {
            std::lock_guard lock(mutex_);
            auto fetched = state_->fetchCards(
                url, hrefs,
                [&](const std::string& href, const std::string&, const std::string& text) {
                    auto at = order.find(resourceKey(href));
                    if (at == order.end()) return;
                    found[at->second] = state_->contactOf(text, cards[first + at->second].second);
                });
            if (!fetched) return state_->unavailable(fetched.error());
        }
        for (auto& contact : found)
            if (contact && !visit(*contact)) return {};
    }
    return {};
}

ContactStore::Result<std::vector<Contact>> CardDavContactStore::contacts(
    const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    if (auto all = state_->indexAll(); !all) return Unexpected(all.error());
    std::vector<Contact> found;
    for (const Book& book : state_->books) {
        std::vector<std::string> hrefs;
        std::unordered_map<std::string, std::string> uids;
        std::unordered_set<std::string_view> asked;
        for (const std::string& identifier : identifiers) {
            if (!asked.insert(identifier).second) continue;
            if (const IndexedCard* card = book.index.contact(identifier)) {
                hrefs.push_back(card->href);
                uids[resourceKey(card->href)] = card->uid;
            }
        }
        if (hrefs.empty()) continue;
        auto fetched = state_->fetchCards(
            book.url, hrefs,
            [&](const std::string& href, const std::string&, const std::string& text) {
                auto uid = uids.find(resourceKey(href));
                if (uid == uids.end()) return;
                if (auto contact = state_->contactOf(text, uid->second))
                    found.push_back(std::move(*contact));
            });
        if (!fetched) return state_->unavailable(fetched.error());
    }
    return found;
}

ContactStore::Result<std::vector<std::pair<std::string, std::vector<std::string>>>>
CardDavContactStore::groupMemberships(const std::string& containerIdentifier) {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, std::vector<std::string>>> found;
    auto book = state_->indexed(containerIdentifier);
    if (!book) return Unexpected(book.error());
    if (!*book) return found;
    const BookIndex& index = (*book)->index;
    std::unordered_map<std::string, std::vector<std::string>> groupsOfContact;
    for (const Group& group : state_->groupsOf(**book)) {
        if (state_->groupCards()) {
            for (const auto& member : index.group(group.identifier)->members)
                groupsOfContact[member].push_back(group.identifier);
        }
    }
    for (const IndexedCard* card : index.contacts()) {
        std::vector<std::string> of;
        if (state_->groupCards()) {
            if (auto groups = groupsOfContact.find(card->uid); groups != groupsOfContact.end())
                of = groups->second;
        } else {
            std::vector<std::string> names = card->categories;
            std::sort(names.begin(), names.end());
            for (const auto& name : names) of.push_back(state_->categoryGroup(**book, name));
        }
        if (!of.empty()) found.emplace_back(card->uid, std::move(of));
    }
    return found;
}

ContactStore::Result<std::unordered_set<std::string>> CardDavContactStore::existingFullNames(
    const std::string& containerIdentifier, const std::vector<std::string>& fullNames) {
    std::lock_guard lock(mutex_);
    std::unordered_set<std::string> found;
    auto book = state_->indexed(containerIdentifier);
    if (!book) return Unexpected(book.error());
    if (!*book) return found;
    for (const std::string& name : fullNames)
        if ((*book)->index.withFullName(name)) found.insert(name);
    return found;
}

ContactStore::Result<std::vector<std::string>> CardDavContactStore::contactIdentifiersWithFullNames(
    const std::string& containerIdentifier, const std::vector<std::string>& fullNames) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> found;
    auto book = state_->indexed(containerIdentifier);
    if (!book) return Unexpected(book.error());
    if (!*book) return found;
    std::unordered_set<std::string_view> asked;
    for (const std::string& name : fullNames) {
        if (!asked.insert(name).second) continue;
        if (const auto* same = (*book)->index.withFullName(name))
            found.insert(found.end(), same->begin(), same->end());
    }
    return found;
}

ContactStore::Result<std::unordered_set<std::string>> CardDavContactStore::existingIdentifiers(
    const std::string& containerIdentifier, const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    std::unordered_set<std::string> found;
    auto book = state_->indexed(containerIdentifier);
    if (!book) return Unexpected(book.error());
    if (!*book) return found;
    for (const std::string& identifier : identifiers)
        if ((*book)->index.contact(identifier)) found.insert(identifier);
    return found;
}

ContactStore::Result<std::unordered_set<std::string>> CardDavContactStore::identifiersInUse(
    const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    if (auto all = state_->indexAll(); !all) return Unexpected(all.error());
    std::unordered_set<std::string> categoryGroups;
    if (!state_->groupCards()) {
        for (const Book& book : state_->books)
            for (Group& group : state_->groupsOf(book))
                categoryGroups.insert(std::move(group.identifier));
    }
    std::unordered_set<std::string> found;
    for (const std::string& identifier : identifiers) {
        for (const Book& book : state_->books) {
            if (book.index.contact(identifier) || book.index.group(identifier))
                found.insert(identifier);
        }
        if (categoryGroups.contains(identifier)) found.insert(identifier);
    }
    return found;
}

ContactStore::Result<void> CardDavContactStore::execute(const SaveRequest& request) {
    if (request.isEmpty()) return {};
    std::lock_guard lock(mutex_);
    return state_->apply(request);
}

std::size_t CardDavContactStore::requestCount() {
    std::lock_guard lock(mutex_);
    return state_->client.requestCount();
}

std::size_t CardDavContactStore::cardsDownloaded() {
    std::lock_guard lock(mutex_);
    return state_->cardsDownloaded;
}

}  // namespace pelkora::contacts
