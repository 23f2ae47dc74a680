// The EDS store against a private Evolution Data Server that private-eds.sh starts; without
// it (PELKORA_TEST_EDS unset) every test is skipped.

#include <gtest/gtest.h>
#include <libebook/libebook.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "addressbook/ContactKeys.h"
#include "addressbook/eds/EdsContactStore.h"

namespace pelkora::contacts {
namespace {

bool privateEdsRunning() {
    return std::getenv("PELKORA_TEST_EDS") != nullptr;
}

Contact person(std::string given, std::string family) {
    Contact contact = Contact::makeNew();
    contact.givenName = std::move(given);
    contact.familyName = std::move(family);
    return contact;
}

// What EDS itself holds for a contact, read without our reader.
struct EdsCard {
    std::string fullName;
    std::vector<std::string> telTypes;  // "CELL", "HOME,FAX" …
    std::set<std::string> categories;
};

// A client of the book of our own, beside the store's.
struct DirectClient {
    explicit DirectClient(const std::string& container) {
        registry = e_source_registry_new_sync(nullptr, nullptr);
        source = e_source_registry_ref_source(registry, container.c_str());
        client = E_BOOK_CLIENT(
            e_book_client_connect_sync(source, static_cast<guint32>(-1), nullptr, nullptr));
    }
    ~DirectClient() {
        g_object_unref(client);
        g_object_unref(source);
        g_object_unref(registry);
    }
    DirectClient(const DirectClient&) = delete;
    DirectClient& operator=(const DirectClient&) = delete;

    ESourceRegistry* registry;
    ESource* source;
    EBookClient* client;
};

EContact* namedCard(const std::string& uid, const char* name) {
    EContact* contact = e_contact_new();
    e_contact_set(contact, E_CONTACT_UID, uid.c_str());
    e_contact_set(contact, E_CONTACT_FULL_NAME, name);
    return contact;
}

std::map<std::string, EdsCard> readDirectly(const std::string& container) {
    std::map<std::string, EdsCard> cards;
    DirectClient direct(container);
    EBookClient* client = direct.client;
    EBookQuery* query = e_book_query_any_field_contains("");
    gchar* sexp = e_book_query_to_string(query);
    GSList* contacts = nullptr;
    EXPECT_TRUE(e_book_client_get_contacts_sync(client, sexp, &contacts, nullptr, nullptr));
    for (GSList* item = contacts; item; item = item->next) {
        auto* contact = E_CONTACT(item->data);
        EdsCard card;
        card.fullName = static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_FULL_NAME));
        for (GList* attribute = e_vcard_get_attributes(E_VCARD(contact)); attribute;
             attribute = attribute->next) {
            auto* tel = static_cast<EVCardAttribute*>(attribute->data);
            if (std::string(e_vcard_attribute_get_name(tel)) != "TEL") continue;
            std::string types;
            for (GList* type = e_vcard_attribute_get_param(tel, "TYPE"); type; type = type->next)
                types += (types.empty() ? "" : ",") + std::string(static_cast<char*>(type->data));
            card.telTypes.push_back(types);
        }
        auto* categories = static_cast<GList*>(e_contact_get(contact, E_CONTACT_CATEGORY_LIST));
        for (GList* name = categories; name; name = name->next)
            card.categories.insert(static_cast<char*>(name->data));
        g_list_free_full(categories, g_free);
        cards.emplace(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_UID)), card);
    }
    g_slist_free_full(contacts, g_object_unref);
    g_free(sexp);
    e_book_query_unref(query);
    return cards;
}

class EdsContactStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!privateEdsRunning()) GTEST_SKIP() << "needs the private EDS of private-eds.sh";
        auto opened = EdsContactStore::open();
        ASSERT_TRUE(opened) << opened.error().message;
        store = std::move(*opened);
        book = store->defaultContainerIdentifier();
        ASSERT_FALSE(book.empty());
        // The tests share one private EDS: each starts with an empty book without groups.
        SaveRequest clearing;
        ASSERT_TRUE(store->enumerateContacts(book, [&](const Contact& contact) {
            clearing.deleteContact(contact.identifier);
            return true;
        }));
        auto groups = store->groups(book);
        ASSERT_TRUE(groups);
        for (const Group& group : *groups) clearing.deleteGroupIfEmpty(group.identifier);
        auto cleared = store->execute(clearing);
        ASSERT_TRUE(cleared) << cleared.error().message;
    }

    std::size_t count() {
        std::size_t contacts = 0;
        EXPECT_TRUE(store->enumerateContacts(book, [&](const Contact&) { return ++contacts; }));
        return contacts;
    }

    std::unique_ptr<EdsContactStore> store;
    std::string book;
};

TEST_F(EdsContactStoreTest, ListsThePersonalAddressBookAsTheDefault) {
    auto containers = store->containers();
    ASSERT_TRUE(containers) << containers.error().message;
    const auto personal = std::find_if(containers->begin(), containers->end(),
                                       [&](const Container& c) { return c.identifier == book; });
    ASSERT_NE(personal, containers->end());
    EXPECT_EQ(personal->name, "Personal");
    EXPECT_EQ(personal->type, ContainerType::local);
    EXPECT_EQ(store->location(), "eds:");
    auto unknown = store->container("no-such-book");
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(unknown->has_value());
}

TEST_F(EdsContactStoreTest, ContactsWithLabelsAndGroupsRoundTrip) {
    Contact ada = person("Ada", "Lovelace");
    ada.phoneNumbers = {labeled(std::string(Label::mobile), std::string("+44 20 1234")),
                        labeled(std::string(Label::homeFax), std::string("+44 20 5678"))};
    ada.emailAddresses = {labeled(std::string(Label::work), std::string("ada@example.com"))};
    ada.birthday = DateComponents{1815, 12, 10, {}};
    ada.dates = {labeled(std::string(Label::anniversary), DateComponents{std::nullopt, 6, 8, {}})};
    Contact charles = person("Charles", "Babbage");

    SaveRequest request;
    request.addGroup(Group{makeUUID(), "Friends"}, book);
    request.addGroup(Group{makeUUID(), "friends"}, book);
    request.addGroup(Group{makeUUID(), "Empty"}, book);
    request.addContact(ada, book);
    request.addContact(charles, book);
    request.addMember(ada.identifier, request.addedGroups()[0].group.identifier);
    request.addMember(ada.identifier, request.addedGroups()[1].group.identifier);
    auto saved = store->execute(request);
    ASSERT_TRUE(saved) << saved.error().message;

    auto read = store->contacts({ada.identifier, charles.identifier, "unknown"});
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 2U);
    const Contact& back = read->front().identifier == ada.identifier ? read->front() : read->back();
    EXPECT_EQ(back.givenName, "Ada");
    ASSERT_EQ(back.phoneNumbers.size(), 2U);
    EXPECT_EQ(back.phoneNumbers[0].label, Label::mobile);
    EXPECT_EQ(back.phoneNumbers[1].label, Label::homeFax);
    ASSERT_EQ(back.emailAddresses.size(), 1U);
    EXPECT_EQ(back.emailAddresses[0].label, Label::work);
    EXPECT_EQ(back.birthday, ada.birthday);
    ASSERT_EQ(back.dates.size(), 1U);
    EXPECT_EQ(back.dates[0].value, ada.dates[0].value);

    // Letter case makes two groups, as in the SQLite store; "Empty" exists without members.
    auto groups = store->groups(book);
    ASSERT_TRUE(groups);
    std::vector<std::string> names;
    for (const Group& group : *groups) names.push_back(group.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Empty", "Friends", "friends"}));
    auto memberships = store->groupMemberships(book);
    ASSERT_TRUE(memberships);
    ASSERT_EQ(memberships->size(), 1U);
    EXPECT_EQ(memberships->front().first, ada.identifier);
    EXPECT_EQ(memberships->front().second,
              (std::vector<std::string>{(*groups)[1].identifier, (*groups)[2].identifier}));

    // What other programs see.
    const auto direct = readDirectly(book);
    ASSERT_EQ(direct.size(), 2U);
    const EdsCard& card = direct.at(ada.identifier);
    EXPECT_EQ(card.fullName, "Ada Lovelace");
    EXPECT_EQ(card.telTypes, (std::vector<std::string>{"CELL", "HOME,FAX"}));
    EXPECT_EQ(card.categories, (std::set<std::string>{"Friends", "friends"}));
    EXPECT_TRUE(direct.at(charles.identifier).categories.empty());

    // A later request adds an existing contact to a group of the book, by its identifier.
    SaveRequest joining;
    joining.addMember(charles.identifier, (*groups)[0].identifier);
    ASSERT_TRUE(store->execute(joining));
    EXPECT_EQ(readDirectly(book).at(charles.identifier).categories,
              (std::set<std::string>{"Empty"}));

    // A second store object derives the same group identifiers.
    auto other = EdsContactStore::open();
    ASSERT_TRUE(other);
    auto otherGroups = (*other)->groups(book);
    ASSERT_TRUE(otherGroups);
    EXPECT_EQ(*otherGroups, *groups);
}

TEST_F(EdsContactStoreTest, DeletingAGroupRemovesTheCategoryFromEveryContact) {
    Contact ada = person("Ada", "Lovelace");
    Contact charles = person("Charles", "Babbage");
    SaveRequest request;
    request.addGroup(Group{makeUUID(), "Engines"}, book);
    request.addGroup(Group{makeUUID(), "Poets"}, book);
    request.addContact(ada, book);
    request.addContact(charles, book);
    for (const SaveRequest::AddedGroup& group : request.addedGroups())
        request.addMember(ada.identifier, group.group.identifier);
    request.addMember(charles.identifier, request.addedGroups()[0].group.identifier);
    ASSERT_TRUE(store->execute(request));

    auto groups = store->groups(book);
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->size(), 2U);
    SaveRequest removal;
    removal.deleteGroup((*groups)[0].identifier);  // Engines
    auto removed = store->execute(removal);
    ASSERT_TRUE(removed) << removed.error().message;
    const auto direct = readDirectly(book);
    EXPECT_EQ(direct.at(ada.identifier).categories, (std::set<std::string>{"Poets"}));
    EXPECT_TRUE(direct.at(charles.identifier).categories.empty());

    // Deleting it again, or deleting an unknown contact, fails and changes nothing.
    auto again = store->execute(removal);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().kind, ContactStoreErrorKind::groupNotFound);
    SaveRequest unknown;
    unknown.deleteContact(ada.identifier);
    unknown.deleteContact(makeUUID());
    auto failed = store->execute(unknown);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, ContactStoreErrorKind::contactNotFound);
    EXPECT_EQ(count(), 2U);
}

// Undoing an import: its contacts go, and each group it made goes only when no other contact
// carries the category; a group no contact ever carried goes too.
TEST_F(EdsContactStoreTest, DeletingGroupsWhenEmptyKeepsCategoriesInUse) {
    Contact ada = person("Ada", "Lovelace");
    Contact charles = person("Charles", "Babbage");
    SaveRequest request;
    for (const char* name : {"Engines", "Poets", "Unused"})
        request.addGroup(Group{makeUUID(), name}, book);
    request.addContact(ada, book);
    request.addContact(charles, book);
    request.addMember(ada.identifier, request.addedGroups()[0].group.identifier);
    request.addMember(ada.identifier, request.addedGroups()[1].group.identifier);
    request.addMember(charles.identifier, request.addedGroups()[0].group.identifier);
    ASSERT_TRUE(store->execute(request));
    auto groups = store->groups(book);
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->size(), 3U);

    SaveRequest undo;
    undo.deleteContact(ada.identifier);
    for (const Group& group : *groups) undo.deleteGroupIfEmpty(group.identifier);
    auto undone = store->execute(undo);
    ASSERT_TRUE(undone) << undone.error().message;
    auto left = store->groups(book);
    ASSERT_TRUE(left);
    ASSERT_EQ(left->size(), 1U);
    EXPECT_EQ(left->front(), groups->front());  // Engines: Charles carries it
    EXPECT_EQ(readDirectly(book).at(charles.identifier).categories,
              (std::set<std::string>{"Engines"}));

    // The group of the deleted contact's last category is gone: asking for it fails.
    SaveRequest again;
    again.deleteGroupIfEmpty((*groups)[1].identifier);
    auto failed = store->execute(again);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, ContactStoreErrorKind::groupNotFound);
}

// Duplicates are found by full name and by identifier, from the index, as execute changes it.
TEST_F(EdsContactStoreTest, AnswersDuplicateLookupsFromItsIndex) {
    Contact ada = person("Ada", "Lovelace");
    Contact twin = person("Ada", "Lovelace");
    Contact charles = person("Charles", "Babbage");
    SaveRequest request;
    for (const Contact& contact : {ada, twin, charles}) request.addContact(contact, book);
    ASSERT_TRUE(store->execute(request));

    // A fresh store object builds its index from EDS.
    auto fresh = EdsContactStore::open();
    ASSERT_TRUE(fresh);
    for (ContactStore* asked :
         {static_cast<ContactStore*>(store.get()), static_cast<ContactStore*>(fresh->get())}) {
        auto names = asked->existingFullNames(book, {"Ada Lovelace", "Alan Turing"});
        ASSERT_TRUE(names);
        EXPECT_EQ(*names, (std::unordered_set<std::string>{"Ada Lovelace"}));
        auto identifiers =
            asked->contactIdentifiersWithFullNames(book, {"Ada Lovelace", "Ada Lovelace"});
        ASSERT_TRUE(identifiers);
        EXPECT_EQ(std::set<std::string>(identifiers->begin(), identifiers->end()),
                  (std::set<std::string>{ada.identifier, twin.identifier}));
        const std::string stranger = makeUUID();
        auto existing = asked->existingIdentifiers(book, {charles.identifier, stranger});
        ASSERT_TRUE(existing);
        EXPECT_EQ(*existing, (std::unordered_set<std::string>{charles.identifier}));
        auto inUse = asked->identifiersInUse({ada.identifier, stranger});
        ASSERT_TRUE(inUse);
        EXPECT_EQ(*inUse, (std::unordered_set<std::string>{ada.identifier}));
    }

    SaveRequest change;
    change.deleteContact(twin.identifier);
    Contact alan = person("Alan", "Turing");
    change.addContact(alan, book);
    ASSERT_TRUE(store->execute(change));
    auto identifiers =
        store->contactIdentifiersWithFullNames(book, {"Ada Lovelace", "Alan Turing"});
    ASSERT_TRUE(identifiers);
    EXPECT_EQ(std::set<std::string>(identifiers->begin(), identifiers->end()),
              (std::set<std::string>{ada.identifier, alan.identifier}));

    SaveRequest duplicate;
    duplicate.addContact(charles, book);
    auto refused = store->execute(duplicate);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ContactStoreErrorKind::duplicateIdentifier);
}

std::vector<SaveRequest> chunks(const std::string& book, std::size_t total, std::size_t size) {
    std::vector<SaveRequest> requests;
    for (std::size_t index = 0; index < total; ++index) {
        if (index % size == 0) requests.emplace_back();
        Contact contact = person("Person", std::to_string(index));
        contact.phoneNumbers = {
            labeled(std::string(Label::mobile), "+1 555 " + std::to_string(index))};
        requests.back().addContact(contact, book);
    }
    return requests;
}

TEST_F(EdsContactStoreTest, SavesAChunkWithOneCall) {
    const std::size_t callsBefore = store->addCallCount();
    for (const SaveRequest& request : chunks(book, 1200, 500)) {
        auto saved = store->execute(request);
        ASSERT_TRUE(saved) << saved.error().message;
    }
    EXPECT_EQ(store->addCallCount() - callsBefore, 3U);
    EXPECT_EQ(count(), 1200U);
}

// A failure in the second chunk leaves the first chunk whole and nothing of the second: after
// a failure of the store's own, and after EDS refusing the batch.
TEST_F(EdsContactStoreTest, AFailedChunkLeavesNothing) {
    std::vector<SaveRequest> requests = chunks(book, 1000, 500);
    Contact member = person("Grace", "Hopper");
    requests[0].addContact(member, book);
    ASSERT_TRUE(store->execute(requests[0]));
    auto groups = store->groups(book);
    ASSERT_TRUE(groups);

    // Adds, a changed contact and a removed one, all undone.
    requests[1].addGroup(Group{makeUUID(), "Navy"}, book);
    requests[1].addMember(member.identifier, requests[1].addedGroups()[0].group.identifier);
    requests[1].deleteContact(requests[0].addedContacts()[0].contact.identifier);
    store->failAfterWrites();
    auto failed = store->execute(requests[1]);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, ContactStoreErrorKind::writeFailed);
    EXPECT_EQ(count(), 501U);
    EXPECT_TRUE(readDirectly(book).at(member.identifier).categories.empty());
    EXPECT_EQ(store->groups(book)->size(), groups->size());

    // A contact another program added meanwhile, which the store's index does not know.
    const Contact& last = requests[1].addedContacts().back().contact;
    {
        DirectClient direct(book);
        EContact* contact = namedCard(last.identifier, "Added Elsewhere");
        ASSERT_TRUE(e_book_client_add_contact_sync(
            direct.client, contact, E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr, nullptr));
        g_object_unref(contact);
    }
    SaveRequest onlyAdds;
    for (const SaveRequest::AddedContact& added : requests[1].addedContacts())
        onlyAdds.addContact(added.contact, book);
    auto refused = store->execute(onlyAdds);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ContactStoreErrorKind::duplicateIdentifier);
    EXPECT_EQ(count(), 502U);
    const auto direct = readDirectly(book);
    EXPECT_EQ(direct.at(last.identifier).fullName, "Added Elsewhere");
    EXPECT_FALSE(direct.contains(requests[1].addedContacts().front().contact.identifier));
}

// Why the store undoes a failed add itself: whether EDS's local book keeps the part of a
// batch before a contact it refuses.
TEST_F(EdsContactStoreTest, LocalBookAddsABatchWholeOrNotAtAll) {
    const std::string taken = makeUUID();
    const std::string fresh = makeUUID();
    DirectClient direct(book);
    EContact* first = namedCard(taken, "First");
    ASSERT_TRUE(e_book_client_add_contact_sync(direct.client, first, E_BOOK_OPERATION_FLAG_NONE,
                                               nullptr, nullptr, nullptr));
    GSList* batch = nullptr;
    batch = g_slist_append(batch, namedCard(fresh, "Fresh"));
    batch = g_slist_append(batch, namedCard(taken, "Taken"));
    GError* error = nullptr;
    EXPECT_FALSE(e_book_client_add_contacts_sync(direct.client, batch, E_BOOK_OPERATION_FLAG_NONE,
                                                 nullptr, nullptr, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(
        g_error_matches(error, E_BOOK_CLIENT_ERROR, E_BOOK_CLIENT_ERROR_CONTACT_ID_ALREADY_EXISTS))
        << error->message;
    g_error_free(error);
    g_slist_free_full(batch, g_object_unref);
    g_object_unref(first);
    const auto cards = readDirectly(book);
    EXPECT_TRUE(cards.contains(taken));
    EXPECT_FALSE(cards.contains(fresh));
}

TEST(EdsContactStoreUnreachableTest, NamesTheMissingSessionBus) {
    if (!std::getenv("PELKORA_TEST_EDS_NO_BUS"))
        GTEST_SKIP() << "needs a process without a session bus (private-eds.sh runs it)";
    auto opened = EdsContactStore::open();
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().kind, ContactStoreErrorKind::storeUnavailable);
    EXPECT_NE(opened.error().message.find(
                  "The desktop's address book (Evolution Data Server) is not reachable: no "
                  "D-Bus session bus"),
              std::string::npos)
        << opened.error().message;
}

}  // namespace
}  // namespace pelkora::contacts
