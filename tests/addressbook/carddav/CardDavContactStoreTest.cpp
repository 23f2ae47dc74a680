#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "addressbook/carddav/CardDavContactStore.h"
#include "net/Dav.h"
#include "net/Http.h"

namespace pelkora::contacts {
namespace {

using Kind = ContactStoreErrorKind;
using GroupMode = CardDavConfiguration::GroupMode;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The servers carddav-store-test.sh started; the tests skip without them.
struct Servers {
    std::string url = environment("PELKORA_TEST_CARDDAV_URL");
    std::string ca = environment("PELKORA_TEST_CARDDAV_CA");
    std::string otherCa = environment("PELKORA_TEST_CARDDAV_OTHER_CA");
    std::string control = environment("PELKORA_TEST_CARDDAV_SERVER");
    std::string folder = environment("PELKORA_TEST_CARDDAV_SERVER_DIR");
    std::string junk = environment("PELKORA_TEST_JUNK_URL");
    std::string authLog = environment("PELKORA_TEST_JUNK_AUTH_LOG");
};

#define REQUIRE_SERVERS(servers)                         \
    if ((servers).url.empty() || (servers).junk.empty()) \
    GTEST_SKIP() << "no CardDAV server: run through carddav-store-test.sh (ctest -L carddav)"

CardDavConfiguration configuration(const Servers& servers, const std::string& url,
                                   GroupMode mode = GroupMode::categories) {
    CardDavConfiguration given;
    given.url = url;
    given.user = "ada";
    given.password = "lovelace";
    given.caFile = servers.ca;
    given.groupMode = mode;
    return given;
}

std::unique_ptr<CardDavContactStore> open(CardDavConfiguration given) {
    auto store = CardDavContactStore::open(std::move(given));
    EXPECT_TRUE(store) << (store ? "" : store.error().message);
    return store ? std::move(*store) : nullptr;
}

// Another CardDAV client: the test's own requests, to make books and look at the cards.
class Client {
  public:
    explicit Client(const Servers& servers)
        : client_([&] {
              net::HttpSettings settings;
              settings.user = "ada";
              settings.password = "lovelace";
              settings.caFile = servers.ca;
              return settings;
          }()),
          url_(servers.url) {}

    // A new, empty address book of ada's.
    std::string makeBook(const std::string& name) {
        const std::string book = url_ + "ada/" + name + "-" + std::to_string(::getpid()) + "/";
        auto made = client_.perform(
            {"MKCOL",
             book,
             {"Content-Type: application/xml"},
             R"(<?xml version="1.0"?><D:mkcol xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">)"
             R"(<D:set><D:prop><D:resourcetype><D:collection/><C:addressbook/></D:resourcetype>)"
             "<D:displayname>" +
                 name + "</D:displayname></D:prop></D:set></D:mkcol>"});
        EXPECT_TRUE(made && made->status == 201)
            << (made ? made->statusLine : made.error().message);
        return book;
    }

    // Every card of the book, by the server's own query.
    std::vector<std::string> cards(const std::string& book) {
        auto answer = client_.perform(
            {"REPORT",
             book,
             {"Depth: 1", "Content-Type: application/xml"},
             R"(<?xml version="1.0"?><C:addressbook-query xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">)"
             R"(<D:prop><C:address-data/></D:prop></C:addressbook-query>)"});
        std::vector<std::string> texts;
        if (!answer || answer->status != 207) {
            ADD_FAILURE() << "the query failed";
            return texts;
        }
        const auto parsed = net::MultiStatus::parse(answer->body);
        for (const auto& response : parsed->responses()) {
            const auto data = response.property(net::kCardDavNamespace, "address-data");
            if (data) texts.emplace_back(data.text().get());
        }
        std::sort(texts.begin(), texts.end());
        return texts;
    }

    void put(const std::string& url, const std::string& text) {
        auto answer = client_.perform({"PUT", url, {"Content-Type: text/vcard"}, text});
        EXPECT_TRUE(answer && answer->succeeded());
    }

  private:
    net::HttpClient client_;
    std::string url_;
};

Contact person(const std::string& given, const std::string& family) {
    Contact contact = Contact::makeNew();
    contact.givenName = given;
    contact.familyName = family;
    return contact;
}

std::size_t countContaining(const std::vector<std::string>& texts, std::string_view part) {
    return static_cast<std::size_t>(
        std::count_if(texts.begin(), texts.end(),
                      [&](const auto& text) { return text.find(part) != std::string::npos; }));
}

TEST(CardDavContactStoreTest, DiscoveryFindsTheBooksFromTheServerThePrincipalOrABook) {
    Servers servers;
    REQUIRE_SERVERS(servers);
    for (const std::string& start : {servers.url, servers.url + "ada/"}) {
        auto store = open(configuration(servers, start));
        ASSERT_TRUE(store);
        auto books = store->containers();
        ASSERT_TRUE(books);
        std::vector<std::pair<std::string, std::string>> found;
        for (const Container& book : *books) found.emplace_back(book.name, book.identifier);
        EXPECT_NE(std::find(found.begin(), found.end(),
                            std::pair{std::string("Contacts"), servers.url + "ada/contacts/"}),
                  found.end())
            << start;
        EXPECT_NE(std::find(found.begin(), found.end(),
                            std::pair{std::string("Work"), servers.url + "ada/work/"}),
                  found.end());
        EXPECT_EQ(store->defaultContainerIdentifier(), servers.url + "ada/contacts/");
    }
    auto one = open(configuration(servers, servers.url + "ada/work"));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->containers()->size(), 1u);
    EXPECT_EQ(one->defaultContainerIdentifier(), servers.url + "ada/work/");

    auto wrong = configuration(servers, servers.url);
    wrong.password = "babbage";
    auto refused = CardDavContactStore::open(wrong);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, Kind::storeUnavailable);
    EXPECT_NE(refused.error().message.find("“ada”"), std::string::npos) << refused.error().message;
    EXPECT_NE(refused.error().message.find("401"), std::string::npos);

    auto untrusted = configuration(servers, servers.url);
    untrusted.caFile = servers.otherCa;
    auto insecure = CardDavContactStore::open(untrusted);
    ASSERT_FALSE(insecure);
    EXPECT_NE(insecure.error().message.find("certificate"), std::string::npos)
        << insecure.error().message;
}

TEST(CardDavContactStoreTest, ContactsAndTheirCategoriesRoundTripThroughTheServer) {
    Servers servers;
    REQUIRE_SERVERS(servers);
    Client client(servers);
    const std::string book = client.makeBook("roundtrip");
    auto store = open(configuration(servers, book));
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->keepsGroupIdentifiers());

    Contact anna = person("Anna", "Müller");
    anna.emailAddresses.push_back(labeled<std::string>("work", "anna@example.de"));
    const Contact bob = person("Bob", "Builder");
    SaveRequest request;
    request.addGroup({"friends-id", "Friends"}, book);
    request.addContact(anna, book);
    request.addContact(bob, book);
    request.addMember(anna.identifier, "friends-id");
    ASSERT_TRUE(store->execute(request));

    auto cards = client.cards(book);
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(countContaining(cards, "CATEGORIES:Friends"), 1u);
    EXPECT_EQ(countContaining(cards, "UID:" + anna.identifier), 1u);
    auto groups = store->groups(book);
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->size(), 1u);
    EXPECT_EQ(groups->front().name, "Friends");
    auto memberships = store->groupMemberships(book);
    ASSERT_TRUE(memberships);
    ASSERT_EQ(memberships->size(), 1u);
    EXPECT_EQ(memberships->front().first, anna.identifier);
    EXPECT_EQ(*store->existingFullNames(book, {"Anna Müller", "Nobody"}),
              std::unordered_set<std::string>{"Anna Müller"});
    EXPECT_EQ(*store->identifiersInUse({bob.identifier, "unknown"}),
              std::unordered_set<std::string>{bob.identifier});
    std::vector<std::string> read;
    ASSERT_TRUE(store->enumerateContacts(book, [&](const Contact& contact) {
        read.push_back(contact.givenName + "/" + contact.identifier);
        return true;
    }));
    std::sort(read.begin(), read.end());
    EXPECT_EQ(read, (std::vector<std::string>{"Anna/" + anna.identifier, "Bob/" + bob.identifier}));

    // Deleting the group strips the category and keeps the rest of the card.
    SaveRequest removal;
    removal.deleteGroup(groups->front().identifier);
    removal.deleteContact(bob.identifier);
    ASSERT_TRUE(store->execute(removal));
    cards = client.cards(book);
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(countContaining(cards, "CATEGORIES"), 0u);
    EXPECT_EQ(countContaining(cards, "anna@example.de"), 1u);
    EXPECT_TRUE(store->groups(book)->empty());

    SaveRequest unknown;
    unknown.deleteContact(bob.identifier);
    auto failed = store->execute(unknown);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, Kind::contactNotFound);
}

TEST(CardDavContactStoreTest, TheIndexIsKeptAndOnlyChangedCardsAreFetchedAgain) {
    Servers servers;
    REQUIRE_SERVERS(servers);
    Client client(servers);
    test::TemporaryDirectory cache;
    const std::string book = client.makeBook("cache");
    auto cached = configuration(servers, book);
    cached.cacheFolder = cache.path();
    {
        auto store = open(cached);
        ASSERT_TRUE(store);
        SaveRequest request;
        for (int number = 0; number < 30; ++number)
            request.addContact(person("Person", std::to_string(number)), book);
        ASSERT_TRUE(store->execute(request));
        EXPECT_EQ(store->cardsDownloaded(), 0u);
    }
    client.put(book + "other.vcf",
               "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:other\r\nFN:Grace Hopper\r\nN:Hopper;Grace;;;\r\n"
               "END:VCARD\r\n");

    auto again = open(cached);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again->existingFullNames(book, {"Grace Hopper", "Person 7", "Person 30"}),
              (std::unordered_set<std::string>{"Grace Hopper", "Person 7"}));
    EXPECT_EQ(again->cardsDownloaded(), 1u) << "only the other client's card is new";

    auto fresh = open(configuration(servers, book));
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->existingIdentifiers(book, {"other"})->size(), 1u);
    EXPECT_EQ(fresh->cardsDownloaded(), 31u);
}

TEST(CardDavContactStoreTest, GroupCardsListTheirMembersInBothForms) {
    Servers servers;
    REQUIRE_SERVERS(servers);
    Client client(servers);
    const std::string book = client.makeBook("groupcards");
    auto store = open(configuration(servers, book, GroupMode::groupCards));
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->keepsGroupIdentifiers());
    const Contact ada = person("Ada", "Lovelace");
    const Contact alan = person("Alan", "Turing");
    SaveRequest request;
    request.addGroup({"team-1", "Team"}, book);
    request.addContact(ada, book);
    request.addContact(alan, book);
    request.addMember(ada.identifier, "team-1");
    request.addMember(alan.identifier, "team-1");
    ASSERT_TRUE(store->execute(request));
    auto cards = client.cards(book);
    ASSERT_EQ(cards.size(), 3u);
    EXPECT_EQ(countContaining(cards, "X-ADDRESSBOOKSERVER-KIND:group"), 1u);
    EXPECT_EQ(countContaining(cards, "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:" + ada.identifier), 1u);
    EXPECT_EQ(countContaining(cards, "CATEGORIES"), 0u);

    // A vCard 4 group another client made.
    client.put(book + "club.vcf",
               "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:club\r\nKIND:group\r\nFN:Club\r\n"
               "MEMBER:urn:uuid:" +
                   alan.identifier + "\r\nEND:VCARD\r\n");
    auto other = open(configuration(servers, book, GroupMode::groupCards));
    ASSERT_TRUE(other);
    auto groups = other->groups(book);
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->size(), 2u);
    EXPECT_EQ(groups->front().identifier, "club");
    EXPECT_EQ((*groups)[1].identifier, "team-1");
    auto memberships = other->groupMemberships(book);
    ASSERT_TRUE(memberships);
    std::map<std::string, std::vector<std::string>> byContact(memberships->begin(),
                                                              memberships->end());
    EXPECT_EQ(byContact[alan.identifier].size(), 2u);
    EXPECT_EQ(byContact[ada.identifier], std::vector<std::string>{"team-1"});

    // A deleted contact leaves its groups; a deleted group card goes.
    SaveRequest removal;
    removal.deleteContact(alan.identifier);
    removal.deleteGroup("team-1");
    ASSERT_TRUE(other->execute(removal));
    cards = client.cards(book);
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(countContaining(cards, alan.identifier), 0u);
    EXPECT_EQ(countContaining(cards, "FN:Club"), 1u);
}

TEST(CardDavContactStoreTest, AFailedRequestTakesBackWhatItCreatedAndEarlierRequestsStay) {
    Servers servers;
    REQUIRE_SERVERS(servers);
    Client client(servers);
    const std::string book = client.makeBook("failure");
    auto store = open(configuration(servers, book));
    ASSERT_TRUE(store);
    SaveRequest first;
    first.addContact(person("Kept", "Contact"), book);
    ASSERT_TRUE(store->execute(first));

    // Another client takes the resource name of the request's fifth contact meanwhile.
    std::vector<Contact> people;
    for (int number = 0; number < 10; ++number)
        people.push_back(person("New", std::to_string(number)));
    client.put(book + people[4].identifier + ".vcf",
               "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + people[4].identifier +
                   "\r\nFN:Someone Else\r\nEND:VCARD\r\n");
    SaveRequest request;
    for (const Contact& contact : people) request.addContact(contact, book);
    auto failed = store->execute(request);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, Kind::duplicateIdentifier) << failed.error().message;
    auto cards = client.cards(book);
    EXPECT_EQ(cards.size(), 2u) << "only the earlier request's card and the other client's";
    EXPECT_EQ(countContaining(cards, "FN:New"), 0u);

    // The server goes away: the request fails with the reason, and nothing of it is there
    // when the server is back.
    ASSERT_EQ(std::system((servers.control + " stop " + servers.folder + " >/dev/null").c_str()),
              0);
    SaveRequest later;
    later.addContact(person("Late", "Comer"), book);
    auto unreachable = store->execute(later);
    ASSERT_EQ(std::system((servers.control + " restart " + servers.folder + " >/dev/null").c_str()),
              0);
    ASSERT_FALSE(unreachable);
    EXPECT_EQ(unreachable.error().kind, Kind::writeFailed);
    EXPECT_NE(unreachable.error().message.find("could not reach"), std::string::npos)
        << unreachable.error().message;
    EXPECT_EQ(client.cards(book).size(), 2u);
    ASSERT_TRUE(store->execute(later)) << "the same request goes through once the server is back";
    EXPECT_EQ(client.cards(book).size(), 3u);
}

TEST(CardDavContactStoreTest, AMisbehavingServerGivesClearErrorsAndNeverTheCredentialsElsewhere) {
    Servers servers;
    REQUIRE_SERVERS(servers);
    auto at = [&](const std::string& path) {
        CardDavConfiguration given;
        given.url = servers.junk + path;
        given.user = "ada";
        given.password = "lovelace";
        return given;
    };
    const std::vector<std::pair<std::string, std::string>> failures = {
        {"huge/", "sent too much"},
        {"malformed/", "not a WebDAV multistatus"},
        {"loop/", "failed"},
        {"status/401/", "did not accept the user name “ada”"},
        {"status/403/", "does not let the account “ada”"},
        {"status/404/", "there is nothing at"},
    };
    for (const auto& [path, words] : failures) {
        auto store = CardDavContactStore::open(at(path));
        ASSERT_FALSE(store) << path;
        EXPECT_EQ(store.error().kind, Kind::storeUnavailable);
        EXPECT_NE(store.error().message.find(words), std::string::npos)
            << path << ": " << store.error().message;
    }

    test::LogCapture log;
    auto junk = open(at("notvcard/"));
    ASSERT_TRUE(junk);
    const std::string book = junk->defaultContainerIdentifier();
    auto names = junk->existingFullNames(book, {"this is not a vCard"});
    ASSERT_TRUE(names) << names.error().message;
    EXPECT_TRUE(names->empty());
    EXPECT_TRUE(log.contains("is not a vCard"));

    auto full = open(at("status/507/"));
    ASSERT_TRUE(full);
    SaveRequest request;
    request.addContact(person("No", "Room"), full->defaultContainerIdentifier());
    auto refused = full->execute(request);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, Kind::writeFailed);
    EXPECT_NE(refused.error().message.find("no room left"), std::string::npos)
        << refused.error().message;

    // A redirect to another host is followed without the password.
    (void)CardDavContactStore::open(at("elsewhere/"));
    std::ifstream file(servers.authLog);
    std::stringstream logged;
    logged << file.rdbuf();
    EXPECT_NE(logged.str().find("/catch/ no-auth"), std::string::npos) << logged.str();
    EXPECT_EQ(logged.str().find(" auth\n"), std::string::npos) << logged.str();

    auto plain = at("");
    plain.url = "http://example.org/dav/";
    auto unsent = CardDavContactStore::open(plain);
    ASSERT_FALSE(unsent);
    EXPECT_NE(unsent.error().message.find("use an https:// address"), std::string::npos);
}

}  // namespace
}  // namespace pelkora::contacts
