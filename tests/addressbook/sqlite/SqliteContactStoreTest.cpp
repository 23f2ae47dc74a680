#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <latch>
#include <thread>

#include "TestSupport.h"
#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "platform/Paths.h"

namespace pelkora::contacts {
namespace {

namespace fs = std::filesystem;
using Kind = ContactStoreErrorKind;

Contact person(const std::string& given, const std::string& family) {
    Contact contact = Contact::makeNew();
    contact.givenName = given;
    contact.familyName = family;
    return contact;
}

Group group(const std::string& name) {
    return Group{makeUUID(), name};
}

template <typename Value>
LabeledValue<Value> labeledAs(std::string_view label, Value value) {
    return labeled(std::string(label), std::move(value));
}

// Every field of Contact filled, with several labelled values each, custom and empty labels,
// dates without a year or in another calendar, non-ASCII text and bytes with NULs.
Contact contactWithEveryField() {
    Contact contact = Contact::makeNew();
    contact.contactType = ContactType::organization;
    contact.namePrefix = "Dr.";
    contact.givenName = "Zoë";
    contact.middleName = "Ægir";
    contact.familyName = "Łukasiewicz";
    contact.previousFamilyName = "Straße";
    contact.nameSuffix = "Jr.";
    contact.nickname = "Żaba 🐸";
    contact.phoneticGivenName = "ゾエ";
    contact.phoneticMiddleName = "エギル";
    contact.phoneticFamilyName = "ウカシェヴィチ";
    contact.organizationName = "Société Générale d’Essai";
    contact.departmentName = "Forschung & Entwicklung";
    contact.jobTitle = "Leiterin";
    contact.phoneticOrganizationName = "ソシエテ";
    contact.note = std::string("Line one\nLine two\0after a NUL", 29);
    contact.birthday = DateComponents{std::nullopt, 3, 15, ""};
    contact.nonGregorianBirthday = DateComponents{4721, 1, 9, "chinese"};
    contact.dates = {
        labeledAs(Label::anniversary, DateComponents{2001, 6, 2, ""}),
        labeledAs("Erster Kuss", DateComponents{std::nullopt, 7, std::nullopt, "hebrew"}),
        labeledAs("", DateComponents{-44, 3, 15, ""})};
    contact.phoneNumbers = {labeledAs(Label::mobile, std::string("+49 170 1234567")),
                            labeledAs("Autotelefon", std::string("+49 89 000")),
                            labeledAs("", std::string("0"))};
    contact.emailAddresses = {labeledAs(Label::work, std::string("zoe@example.org")),
                              labeledAs(Label::iCloud, std::string("zoe@icloud.example"))};
    contact.urlAddresses = {labeledAs(Label::homePage, std::string("https://example.org/ü")),
                            labeledAs("Blog", std::string("https://blog.example.org"))};
    contact.postalAddresses = {
        labeledAs(Label::home, PostalAddress{"Hauptstraße 1\nHinterhaus", "Altstadt", "München",
                                             "Oberbayern", "Bayern", "80331", "Deutschland", "de"}),
        labeledAs("Ferienhaus", PostalAddress{"", "", "Kraków", "", "", "30-001", "Polska", "pl"})};
    contact.contactRelations = {labeledAs(RelationLabel::manager, ContactRelation{"Ada"}),
                                labeledAs("Patin", ContactRelation{"Grace Hopper"})};
    contact.socialProfiles = {
        labeledAs("", SocialProfile{"https://x.example/zoe", "zoe", "42",
                                    std::string(SocialProfileService::twitter)}),
        labeledAs("Fediverse", SocialProfile{"https://social.example/@z", "z", "", "Mastodon"})};
    contact.instantMessageAddresses = {
        labeledAs(Label::home,
                  InstantMessageAddress{"zoe.l", std::string(InstantMessageService::icq)}),
        labeledAs("Spiele", InstantMessageAddress{"zoe#1234", "Discord"})};
    contact.imageData = {0x89, 'P', 'N', 'G', 0x00, 0x00, 0x0D, 0xFF, 0x00};
    contact.thumbnailImageData = {0x00, 0x00, 0x00};
    return contact;
}

using test::ScopedFileSizeLimit;

class SqliteContactStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store_ = openStore();
        ASSERT_TRUE(store_);
    }

    std::unique_ptr<SqliteContactStore> openStore() {
        auto opened = SqliteContactStore::open(file_);
        EXPECT_TRUE(opened) << (opened ? "" : opened.error().message);
        return opened ? std::move(*opened) : nullptr;
    }

    std::string local() { return store_->defaultContainerIdentifier(); }

    std::vector<Contact> allContacts(SqliteContactStore& store, const std::string& container) {
        std::vector<Contact> found;
        EXPECT_TRUE(store.enumerateContacts(container, [&](const Contact& contact) {
            found.push_back(contact);
            return true;
        }));
        return found;
    }

    // Everything a request can change, for comparing before and after.
    struct Snapshot {
        std::vector<Contact> contacts;
        std::vector<Group> groups;
        std::vector<std::pair<std::string, std::vector<std::string>>> memberships;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() {
        return {allContacts(*store_, local()), store_->groups(local()).value(),
                store_->groupMemberships(local()).value()};
    }

    // Adds `count` people; returns the request's group so that callers can add to it.
    Group populate(std::size_t count) {
        SaveRequest request;
        Group friends = group("Friends");
        request.addGroup(friends, local());
        for (std::size_t index = 0; index < count; ++index) {
            Contact contact = person("Given" + std::to_string(index), "Family");
            if (index % 3 == 0) request.addMember(contact.identifier, friends.identifier);
            request.addContact(std::move(contact), local());
        }
        EXPECT_TRUE(store_->execute(request));
        return friends;
    }

    test::TemporaryDirectory folder_;
    fs::path file_ = folder_ / "nested/folder/contacts.sqlite";
    std::unique_ptr<SqliteContactStore> store_;
};

// --- opening ---

TEST_F(SqliteContactStoreTest, NewStoreHasOneLocalDefaultContainer) {
    const auto containers = store_->containers();
    ASSERT_TRUE(containers);
    ASSERT_EQ(containers->size(), 1u);
    EXPECT_EQ((*containers)[0].name, "Local Address Book");
    EXPECT_EQ((*containers)[0].type, ContainerType::local);
    EXPECT_EQ((*containers)[0].identifier, local());
    EXPECT_EQ(store_->container(local()).value(), (*containers)[0]);
    EXPECT_EQ(store_->container("no such container").value(), std::nullopt);
    EXPECT_EQ(store_->authorizationStatus(), AuthorizationStatus::authorized);
}

TEST_F(SqliteContactStoreTest, DefaultLocationIsInTheApplicationDataFolder) {
    test::ScopedXdgHome xdg;
    EXPECT_EQ(SqliteContactStore::defaultLocation(),
              paths::applicationDataFolder() / "contacts.sqlite");
}

TEST_F(SqliteContactStoreTest, KeepsEverythingAcrossReopening) {
    populate(10);
    const std::string container = local();
    const Snapshot before = snapshot();
    store_.reset();
    store_ = openStore();
    ASSERT_TRUE(store_);
    EXPECT_EQ(local(), container);
    EXPECT_EQ(store_->containers()->size(), 1u);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(SqliteContactStoreTest, OpeningForReadingNeverMakesABook) {
    populate(3);
    const Snapshot before = snapshot();
    store_.reset();
    auto existing = SqliteContactStore::openExisting(file_);
    ASSERT_TRUE(existing) << existing.error().message;
    EXPECT_EQ(allContacts(**existing, (*existing)->defaultContainerIdentifier()).size(), 3u);
    existing->reset();

    // A mistyped path: no file, no folders, and the message names the path.
    for (const fs::path& missing :
         {folder_ / "contacts.sqlit", folder_ / "typo/nested/contacts.sqlite"}) {
        auto opened = SqliteContactStore::openExisting(missing);
        ASSERT_FALSE(opened) << missing;
        EXPECT_EQ(opened.error().kind, Kind::storeUnavailable);
        EXPECT_EQ(opened.error().message, "no address book at " + missing.string());
        EXPECT_FALSE(fs::exists(missing));
        EXPECT_FALSE(fs::exists(folder_ / "typo"));
    }
    store_ = openStore();
    EXPECT_EQ(snapshot(), before);
}

TEST_F(SqliteContactStoreTest, ACopyHoldsEveryCommittedChangeAndLeavesTheBookAlone) {
    populate(10);
    const Snapshot before = snapshot();
    // A second connection keeps the book's last changes in its write-ahead log, as a running
    // import does; a copy of the file alone would miss them.
    auto reader = SqliteContactStore::open(file_);
    ASSERT_TRUE(reader);
    populate(5);
    const Snapshot after = snapshot();
    ASSERT_NE(after, before);

    const fs::path copyFile = folder_ / "copy.sqlite";
    ASSERT_TRUE((*reader)->copyTo(copyFile));
    auto copy = SqliteContactStore::open(copyFile);
    ASSERT_TRUE(copy);
    EXPECT_EQ(allContacts(**copy, local()), after.contacts);
    EXPECT_EQ((*copy)->groupMemberships(local()).value(), after.memberships);
    EXPECT_EQ(snapshot(), after);

    const auto refused = (*reader)->copyTo(folder_ / "no such folder" / "copy.sqlite");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("Could not copy the address book"), std::string::npos);
}

TEST_F(SqliteContactStoreTest, RefusesAFileThatIsNotADatabase) {
    const fs::path text = folder_ / "notes.sqlite";
    std::string bytes;
    while (bytes.size() < 8192) bytes += "This is a text file, not an address book. ";
    test::writeFile(text, bytes);
    const auto opened = SqliteContactStore::open(text);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().kind, Kind::storeUnavailable);
    EXPECT_NE(opened.error().message.find("\u201c" + text.string() + "\u201d"), std::string::npos);
    EXPECT_EQ(test::readFile(text), bytes);
}

// Overwrites bytes of the closed file.
void overwrite(const fs::path& file, std::streamoff offset, const std::string& bytes) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekp(offset);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The header's user_version (offset 60) and application_id (offset 68), big-endian.
TEST_F(SqliteContactStoreTest, RefusesNewerFormatsAndOtherProgramsDatabases) {
    store_.reset();  // the last connection folds the log back into the file
    const std::string original = test::readFile(file_);
    overwrite(file_, 60, std::string("\x00\x00\x00\x63", 4));
    const auto newer = SqliteContactStore::open(file_);
    ASSERT_FALSE(newer);
    EXPECT_EQ(newer.error().kind, Kind::storeUnavailable);
    EXPECT_NE(newer.error().message.find("newer version"), std::string::npos);

    test::writeFile(file_, original);
    overwrite(file_, 68, "ABCD");
    const auto foreign = SqliteContactStore::open(file_);
    ASSERT_FALSE(foreign);
    EXPECT_EQ(foreign.error().kind, Kind::storeUnavailable);
    EXPECT_NE(foreign.error().message.find("not a Pelkora address book"), std::string::npos);

    test::writeFile(file_, original);
    EXPECT_TRUE(SqliteContactStore::open(file_));
}

// Damage in the middle of the file: whichever call meets it first answers storeUnavailable
// naming the file; none crashes.
TEST_F(SqliteContactStoreTest, ReportsADamagedFileAsUnavailable) {
    populate(2000);
    const std::string container = local();
    store_.reset();
    overwrite(file_, static_cast<std::streamoff>(fs::file_size(file_) / 2),
              std::string(16384, '\xA5'));
    auto opened = SqliteContactStore::open(file_);
    std::vector<ContactStoreError> errors;
    if (!opened) {
        errors.push_back(opened.error());
    } else {
        const auto visitAll = [](const Contact&) { return true; };
        if (auto read = (*opened)->enumerateContacts(container, visitAll); !read)
            errors.push_back(read.error());
        if (auto checked = (*opened)->checkIntegrity(); !checked) errors.push_back(checked.error());
    }
    ASSERT_FALSE(errors.empty());
    for (const ContactStoreError& error : errors) {
        EXPECT_EQ(error.kind, Kind::storeUnavailable);
        EXPECT_NE(error.message.find(file_.string()), std::string::npos);
    }
}

// --- saving and reading ---

TEST_F(SqliteContactStoreTest, RoundTripsEveryFieldOfAContact) {
    const Contact contact = contactWithEveryField();
    SaveRequest request;
    request.addContact(contact, local());
    ASSERT_TRUE(store_->execute(request));

    const auto read = store_->contacts({contact.identifier, "unknown", contact.identifier});
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 1u);
    EXPECT_EQ((*read)[0], contact);
    EXPECT_EQ(allContacts(*store_, local()), std::vector<Contact>{contact});
    store_ = openStore();
    EXPECT_EQ(store_->contacts({contact.identifier}).value(), std::vector<Contact>{contact});
}

// A book written by the version that kept binary records (examples and vCards imported):
// opened once, every record becomes JSON and every field comes back as that version saved it;
// its groups and memberships stay.
TEST_F(SqliteContactStoreTest, ABookOfBinaryRecordsIsConvertedWithEveryFieldIntact) {
    const fs::path old = file_.parent_path() / "version1.sqlite";
    fs::copy_file(fs::path(PELKORA_TEST_DATA_DIR) / "sqlite-books/version1.sqlite", old);
    auto opened = SqliteContactStore::open(old);
    ASSERT_TRUE(opened) << opened.error().message;
    SqliteContactStore& book = **opened;
    const std::string container = book.defaultContainerIdentifier();
    const std::vector<Contact> contacts = allContacts(book, container);
    ASSERT_EQ(contacts.size(), 12u);
    const auto named = [&](std::string_view fullName) {
        const auto found = std::find_if(contacts.begin(), contacts.end(), [&](const Contact& c) {
            return stringFromContact(c) == fullName;
        });
        return found == contacts.end() ? Contact{} : *found;
    };
    const Contact maja = named("Maja Lindqvist");
    EXPECT_EQ(maja.organizationName, "Nordljus AB");
    EXPECT_EQ(maja.birthday, (DateComponents{1986, 4, 17, ""}));
    ASSERT_EQ(maja.dates.size(), 1u);
    EXPECT_EQ(maja.dates[0].label, Label::anniversary);
    EXPECT_EQ(maja.dates[0].value, (DateComponents{2012, 8, 25, ""}));
    ASSERT_EQ(maja.contactRelations.size(), 1u);
    EXPECT_EQ(maja.contactRelations[0].value.name, "Erik Lindqvist");
    ASSERT_EQ(maja.phoneNumbers.size(), 2u);
    EXPECT_EQ(maja.phoneNumbers[1].label, "boat");
    EXPECT_EQ(maja.postalAddresses.at(0).value.city, "Uppsala");
    EXPECT_EQ(named("Nils Berg").birthday, (DateComponents{std::nullopt, 6, 21, ""}));
    EXPECT_EQ(named("Jörg Weiß").familyName, "Weiß");
    const auto pictured = std::count_if(contacts.begin(), contacts.end(),
                                        [](const Contact& c) { return !c.imageData.empty(); });
    EXPECT_EQ(pictured, 1);
    EXPECT_FALSE(book.groups(container).value().empty());
    EXPECT_FALSE(book.groupMemberships(container).value().empty());
    EXPECT_TRUE(book.checkIntegrity());

    // Opened again, nothing is converted twice.
    opened->reset();
    auto again = SqliteContactStore::open(old);
    ASSERT_TRUE(again);
    EXPECT_EQ(allContacts(**again, container), contacts);
}

TEST_F(SqliteContactStoreTest, EnumeratesInInsertionOrderAndStopsWhenAsked) {
    std::vector<std::string> expected;
    for (int requestIndex = 0; requestIndex < 3; ++requestIndex) {
        SaveRequest request;
        for (int index = 0; index < 200; ++index) {
            Contact contact = person("P", std::to_string(requestIndex * 200 + index));
            expected.push_back(contact.identifier);
            request.addContact(std::move(contact), local());
        }
        ASSERT_TRUE(store_->execute(request));
    }
    std::vector<std::string> seen;
    for (const Contact& contact : allContacts(*store_, local())) seen.push_back(contact.identifier);
    EXPECT_EQ(seen, expected);

    std::size_t visited = 0;
    ASSERT_TRUE(
        store_->enumerateContacts(local(), [&](const Contact&) { return ++visited < 300; }));
    EXPECT_EQ(visited, 300u);
}

// The visitor runs without the store's lock: the import asks the store from inside it.
TEST_F(SqliteContactStoreTest, EnumerationVisitorMayCallTheStore) {
    populate(600);
    std::size_t found = 0;
    ASSERT_TRUE(store_->enumerateContacts(local(), [&](const Contact& contact) {
        found += store_->existingIdentifiers(local(), {contact.identifier}).value().size();
        return true;
    }));
    EXPECT_EQ(found, 600u);
}

TEST_F(SqliteContactStoreTest, DeletesGroupsBeforeAddingGroupsOfTheSameName) {
    const Group old = populate(9);
    const std::vector<Contact> people = allContacts(*store_, local());
    SaveRequest request;
    const Group replacement = group("Friends");
    request.deleteGroup(old.identifier);
    request.addGroup(replacement, local());
    request.addMember(people[1].identifier, replacement.identifier);
    ASSERT_TRUE(store_->execute(request));

    EXPECT_EQ(store_->groups(local()).value(), std::vector<Group>{replacement});
    using Memberships = std::vector<std::pair<std::string, std::vector<std::string>>>;
    EXPECT_EQ(store_->groupMemberships(local()).value(),
              (Memberships{{people[1].identifier, {replacement.identifier}}}));
}

TEST_F(SqliteContactStoreTest, AddsNewContactsToANewGroupInOneRequest) {
    SaveRequest request;
    const Group zebras = group("zebras"), apes = group("apes"), bees = group("Bees");
    const Contact ada = person("Ada", "Lovelace");
    for (const Group& added : {zebras, apes, bees}) request.addGroup(added, local());
    request.addContact(ada, local());
    request.addMember(ada.identifier, zebras.identifier);
    request.addMember(ada.identifier, apes.identifier);
    request.addMember(ada.identifier, apes.identifier);
    ASSERT_TRUE(store_->execute(request));

    EXPECT_EQ(store_->groups(local()).value(), (std::vector<Group>{apes, bees, zebras}));
    using Memberships = std::vector<std::pair<std::string, std::vector<std::string>>>;
    EXPECT_EQ(store_->groupMemberships(local()).value(),
              (Memberships{{ada.identifier, {apes.identifier, zebras.identifier}}}));
}

// Contacts go first, so a group the request empties is deleted by the same request; a group
// that keeps a member stays, and so does every membership of the contacts that stay.
// A group whose name the container has, letter for letter, is not made twice: the request's
// members join the group that is there; another letter case is another group.
TEST_F(SqliteContactStoreTest, AddingAGroupNamedLikeOneThereJoinsIt) {
    const Group friends = populate(3);
    const Contact ada = person("Ada", "Lovelace");
    const Group again = group("Friends"), twice = group("Friends"), lower = group("friends"),
                chess = group("Chess"), chessAgain = group("Chess");
    SaveRequest request;
    for (const Group& added : {again, twice, lower, chess, chessAgain})
        request.addGroup(added, local());
    request.addContact(ada, local());
    for (const Group& joined : {again, twice, lower, chessAgain})
        request.addMember(ada.identifier, joined.identifier);
    ASSERT_TRUE(store_->execute(request));

    EXPECT_EQ(store_->groups(local()).value(), (std::vector<Group>{chess, friends, lower}));
    const auto memberships = store_->groupMemberships(local()).value();
    ASSERT_FALSE(memberships.empty());
    EXPECT_EQ(memberships.back().first, ada.identifier);
    EXPECT_EQ(memberships.back().second,
              (std::vector<std::string>{chess.identifier, friends.identifier, lower.identifier}));
}

// Two connections, like two imports started together after each found no group in a new
// book, add the same names; whichever commits second joins the first one's groups.
TEST_F(SqliteContactStoreTest, SavesRacingOnANewBookMakeEachGroupOnce) {
    for (int round = 0; round < 10; ++round) {
        const fs::path file = folder_ / ("race" + std::to_string(round) + ".sqlite");
        auto first = SqliteContactStore::open(file), second = SqliteContactStore::open(file);
        ASSERT_TRUE(first && second);
        const std::string container = (*first)->defaultContainerIdentifier();
        std::latch start(2);
        const auto importer = [&](SqliteContactStore& store, const std::string& name) {
            SaveRequest request;
            const Group duplicates = group("OLD DUPLICATES"), family = group("Family");
            request.addGroup(duplicates, container);
            request.addGroup(family, container);
            const Contact contact = person(name, "Racer");
            request.addContact(contact, container);
            request.addMember(contact.identifier, duplicates.identifier);
            request.addMember(contact.identifier, family.identifier);
            start.arrive_and_wait();
            EXPECT_TRUE(store.execute(request));
        };
        std::thread one(importer, std::ref(**first), "One");
        std::thread two(importer, std::ref(**second), "Two");
        one.join();
        two.join();

        const std::vector<Group> groups = (*first)->groups(container).value();
        ASSERT_EQ(groups.size(), 2u) << "round " << round;
        const auto memberships = (*first)->groupMemberships(container).value();
        ASSERT_EQ(memberships.size(), 2u);
        for (const auto& [contact, joined] : memberships)
            EXPECT_EQ(joined,
                      (std::vector<std::string>{groups[0].identifier, groups[1].identifier}));
    }
}

TEST_F(SqliteContactStoreTest, DeletesContactsAndThenTheGroupsTheyLeaveEmpty) {
    SaveRequest setup;
    const Group imported = group("Imported"), shared = group("Shared"), empty = group("Empty"),
                kept = group("Kept");
    for (const Group& added : {imported, shared, empty, kept}) setup.addGroup(added, local());
    const Contact ada = person("Ada", "Lovelace"), bob = person("Bob", "Byte"),
                  cyd = person("Cyd", "Charisse");
    for (const Contact& added : {ada, bob, cyd}) setup.addContact(added, local());
    setup.addMember(ada.identifier, imported.identifier);
    setup.addMember(bob.identifier, imported.identifier);
    setup.addMember(bob.identifier, shared.identifier);
    setup.addMember(cyd.identifier, shared.identifier);
    setup.addMember(cyd.identifier, kept.identifier);
    ASSERT_TRUE(store_->execute(setup));

    SaveRequest undo;
    undo.deleteContact(ada.identifier);
    undo.deleteContact(bob.identifier);
    for (const Group& candidate : {imported, shared, empty})
        undo.deleteGroupIfEmpty(candidate.identifier);
    ASSERT_TRUE(store_->execute(undo));

    EXPECT_EQ(allContacts(*store_, local()), std::vector<Contact>{cyd});
    EXPECT_EQ(store_->groups(local()).value(), (std::vector<Group>{kept, shared}));
    using Memberships = std::vector<std::pair<std::string, std::vector<std::string>>>;
    EXPECT_EQ(store_->groupMemberships(local()).value(),
              (Memberships{{cyd.identifier, {kept.identifier, shared.identifier}}}));
    EXPECT_TRUE(store_->existingFullNames(local(), {"Ada Lovelace"}).value().empty());
    EXPECT_TRUE(store_->checkIntegrity());
}

// --- all or nothing ---

TEST_F(SqliteContactStoreTest, UnknownOrTakenReferencesFailTheWholeRequest) {
    const Group friends = populate(3);
    const std::string someone = allContacts(*store_, local())[0].identifier;
    ASSERT_TRUE(store_->addContainer({"OTHER", "Other Book", ContainerType::local}));
    SaveRequest otherGroup;
    const Group elsewhere = group("Elsewhere");
    otherGroup.addGroup(elsewhere, "OTHER");
    ASSERT_TRUE(store_->execute(otherGroup));
    const Snapshot before = snapshot();

    const auto failing = [&](auto change) {
        SaveRequest request;
        request.addGroup(group("New"), local());
        request.addContact(person("New", "Person"), local());
        change(request);
        const auto result = store_->execute(request);
        EXPECT_EQ(snapshot(), before);
        return result ? std::optional<Kind>() : result.error().kind;
    };
    EXPECT_EQ(failing([](SaveRequest& r) { r.addContact(person("A", "B"), "nowhere"); }),
              Kind::containerNotFound);
    EXPECT_EQ(failing([](SaveRequest& r) { r.addGroup(group("G"), "nowhere"); }),
              Kind::containerNotFound);
    EXPECT_EQ(failing([](SaveRequest& r) { r.deleteGroup("no group"); }), Kind::groupNotFound);
    EXPECT_EQ(failing([](SaveRequest& r) { r.deleteGroupIfEmpty("no group"); }),
              Kind::groupNotFound);
    EXPECT_EQ(failing([](SaveRequest& r) { r.deleteContact("nobody"); }), Kind::contactNotFound);
    EXPECT_EQ(failing([&](SaveRequest& r) {
                  r.deleteContact(someone);
                  r.deleteContact(someone);
              }),
              Kind::contactNotFound);
    EXPECT_EQ(failing([&](SaveRequest& r) { r.addMember(someone, "no group"); }),
              Kind::groupNotFound);
    EXPECT_EQ(failing([&](SaveRequest& r) { r.addMember(someone, elsewhere.identifier); }),
              Kind::groupNotFound);
    EXPECT_EQ(failing([&](SaveRequest& r) { r.addMember("nobody", friends.identifier); }),
              Kind::contactNotFound);
    EXPECT_EQ(failing([&](SaveRequest& r) { r.addGroup(friends, local()); }),
              Kind::duplicateIdentifier);
    EXPECT_EQ(failing([&](SaveRequest& r) {
                  Contact twin = person("Twin", "");
                  twin.identifier = someone;
                  r.addContact(twin, local());
              }),
              Kind::duplicateIdentifier);
    EXPECT_EQ(store_->addContainer({"OTHER", "Again", ContainerType::local}).error().kind,
              Kind::duplicateIdentifier);
}

// Fails a request of one contact deleted, one group deleted, one added, 500 contacts and 500
// members after 0, 1, 250, 502 and 900 writes: each time the store holds what it held before,
// passes SQLite's integrity check and then accepts the same request.
// With one container the store leaves unknown references of memberships to the foreign
// keys; the failure still names what is missing.
TEST_F(SqliteContactStoreTest, UnknownMembersAndGroupsOfTheOnlyContainerFailTheRequest) {
    const Group friends = populate(3);
    const std::string someone = allContacts(*store_, local())[1].identifier;
    const Snapshot before = snapshot();
    struct Case {
        std::string contact;
        std::string group;
        Kind kind;
        std::string named;
    };
    const Case cases[] = {
        {"nobody", friends.identifier, Kind::contactNotFound, "nobody"},
        {someone, "no group", Kind::groupNotFound, "no group"},
        {"nobody", "no group", Kind::contactNotFound, "nobody"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contact + " in " + c.group);
        SaveRequest request;
        Contact added = person("New", "Person");
        request.addMember(added.identifier, friends.identifier);
        request.addContact(std::move(added), local());
        request.addMember(someone, friends.identifier);
        request.addMember(c.contact, c.group);
        const auto result = store_->execute(request);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, c.kind);
        EXPECT_NE(result.error().message.find("\u201c" + c.named + "\u201d"), std::string::npos)
            << result.error().message;
        EXPECT_EQ(snapshot(), before);
    }
}

TEST_F(SqliteContactStoreTest, FailureInTheMiddleOfARequestLeavesTheStoreAsItWas) {
    populate(600);
    for (const std::size_t writesBeforeFailure : {0u, 1u, 250u, 502u, 900u}) {
        SCOPED_TRACE(writesBeforeFailure);
        const Snapshot before = snapshot();
        const std::string name = "Chunk" + std::to_string(writesBeforeFailure);
        SaveRequest request;
        const Group added = group(name);
        request.deleteContact(before.contacts.at(0).identifier);
        request.deleteGroup(before.groups.at(0).identifier);
        request.addGroup(added, local());
        for (int index = 0; index < 500; ++index) {
            Contact contact = person(name, std::to_string(index));
            request.addMember(contact.identifier, added.identifier);
            request.addContact(std::move(contact), local());
        }
        store_->failAfterWrites(writesBeforeFailure);
        const auto failed = store_->execute(request);
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().kind, Kind::writeFailed);
        EXPECT_NE(failed.error().message.find(file_.string()), std::string::npos);
        EXPECT_EQ(snapshot(), before);
        EXPECT_TRUE(store_->checkIntegrity());
        EXPECT_TRUE(store_->existingFullNames(local(), {name + " 0"}).value().empty());

        ASSERT_TRUE(store_->execute(request));
        EXPECT_EQ(allContacts(*store_, local()).size(), before.contacts.size() + 499);
        EXPECT_EQ(store_->groupMemberships(local()).value().size(), 500u);
    }
}

TEST_F(SqliteContactStoreTest, WriteErrorOfTheDiskLeavesTheStoreAsItWas) {
    populate(100);
    const Snapshot before = snapshot();
    SaveRequest request;
    for (int index = 0; index < 500; ++index) {
        Contact contact = person("Large", std::to_string(index));
        contact.note = std::string(4000, 'n');
        request.addContact(std::move(contact), local());
    }
    std::uintmax_t largest = fs::file_size(file_);
    if (fs::exists(fs::path(file_) += "-wal"))
        largest = std::max(largest, fs::file_size(fs::path(file_) += "-wal"));
    {
        ScopedFileSizeLimit limit(largest + 64 * 1024);
        const auto failed = store_->execute(request);
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().kind, Kind::writeFailed);
        EXPECT_NE(failed.error().message.find(file_.string()), std::string::npos)
            << failed.error().message;
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(store_->checkIntegrity());
    ASSERT_TRUE(store_->execute(request));
    EXPECT_EQ(allContacts(*store_, local()).size(), 600u);
}

// --- lookups ---

TEST_F(SqliteContactStoreTest, ExistingNamesAndIdentifiersAreFoundOnlyInTheirContainer) {
    ASSERT_TRUE(store_->addContainer({"OTHER", "Other Book", ContainerType::cardDAV}));
    const Contact ada = person("Ada", "Lovelace"), grace = person("Grace", "Hopper");
    SaveRequest request;
    request.addContact(ada, local());
    request.addContact(grace, "OTHER");
    ASSERT_TRUE(store_->execute(request));

    using Names = std::unordered_set<std::string>;
    EXPECT_EQ(stringFromContact(ada), "Ada Lovelace");
    EXPECT_EQ(store_
                  ->existingFullNames(
                      local(), {"Ada Lovelace", "ada lovelace", "Grace Hopper", "Ada Lovelace"})
                  .value(),
              Names{"Ada Lovelace"});
    EXPECT_EQ(store_->existingFullNames("OTHER", {"Ada Lovelace", "Grace Hopper"}).value(),
              Names{"Grace Hopper"});
    EXPECT_EQ(
        store_->existingIdentifiers(local(), {ada.identifier, grace.identifier, "unknown"}).value(),
        Names{ada.identifier});
    EXPECT_EQ(store_->existingIdentifiers("OTHER", {ada.identifier, grace.identifier}).value(),
              Names{grace.identifier});
    EXPECT_EQ(
        store_->contactIdentifiersWithFullNames(local(), {"Ada Lovelace", "Ada Lovelace", "x"})
            .value(),
        std::vector<std::string>{ada.identifier});
    EXPECT_TRUE(store_->contactIdentifiersWithFullNames("OTHER", {"Ada Lovelace"}).value().empty());
    EXPECT_EQ(allContacts(*store_, "OTHER"), std::vector<Contact>{grace});
}

// A contact or group of any container holds its identifier against every other container.
TEST_F(SqliteContactStoreTest, IdentifiersInUseCoverContactsAndGroupsOfEveryContainer) {
    ASSERT_TRUE(store_->addContainer({"OTHER", "Other Book", ContainerType::cardDAV}));
    Contact ada = person("Ada", "Lovelace");
    ada.identifier = "urn:uuid:ada-1";  // a vCard's UID is any text
    const Contact grace = person("Grace", "Hopper");
    const Group club = group("Club");
    SaveRequest request;
    request.addContact(ada, local());
    request.addContact(grace, "OTHER");
    request.addGroup(club, "OTHER");
    ASSERT_TRUE(store_->execute(request));

    using Identifiers = std::unordered_set<std::string>;
    EXPECT_EQ(store_
                  ->identifiersInUse({ada.identifier, grace.identifier, club.identifier, "unknown",
                                      ada.identifier, "", "URN:UUID:ADA-1"})
                  .value(),
              (Identifiers{ada.identifier, grace.identifier, club.identifier}));
    EXPECT_TRUE(store_->identifiersInUse({}).value().empty());

    // What the answer is for: a contact that reuses one, in another container, is refused.
    Contact again = person("Grace", "Again");
    again.identifier = grace.identifier;
    SaveRequest reuse;
    reuse.addContact(again, local());
    const auto refused = store_->execute(reuse);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, Kind::duplicateIdentifier);
}

// --- sharing ---

TEST_F(SqliteContactStoreTest, TwoStoresOnOneFileSeeEachOthersSaves) {
    auto second = openStore();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->defaultContainerIdentifier(), local());
    populate(5);
    EXPECT_EQ(allContacts(*second, local()).size(), 5u);
    SaveRequest request;
    request.addContact(person("From", "Second"), local());
    ASSERT_TRUE(second->execute(request));
    EXPECT_EQ(store_->existingFullNames(local(), {"From Second"}).value().size(), 1u);
}

// Listing a book while an import writes to it: opening the book only reads it, so it does not
// wait for the write lock the import holds from one chunk to the next.
TEST_F(SqliteContactStoreTest, OpeningABookDoesNotWaitForAWriterInAnotherConnection) {
    populate(3);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(file_.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    auto reader = SqliteContactStore::openExisting(file_);
    const bool listed = reader && allContacts(**reader, local()).size() == 3u;
    sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    ASSERT_TRUE(reader) << reader.error().message;
    EXPECT_TRUE(listed);
}

// Threads sharing one store object and a second store object on the same file save and
// read at the same time; every save arrives and the file stays sound.
TEST_F(SqliteContactStoreTest, ConcurrentSavesAndReadsFromThreadsAndStores) {
    auto second = openStore();
    ASSERT_TRUE(second);
    constexpr int kRequests = 20, kContactsPerRequest = 25;
    const auto writer = [&](SqliteContactStore& store, const std::string& prefix) {
        for (int requestIndex = 0; requestIndex < kRequests; ++requestIndex) {
            SaveRequest request;
            for (int index = 0; index < kContactsPerRequest; ++index)
                request.addContact(person(prefix, std::to_string(requestIndex * 100 + index)),
                                   local());
            EXPECT_TRUE(store.execute(request));
        }
    };
    const auto reader = [&](SqliteContactStore& store) {
        for (int round = 0; round < kRequests; ++round) {
            EXPECT_TRUE(store.existingFullNames(local(), {"A 1", "B 2", "C 3"}));
            EXPECT_TRUE(store.enumerateContacts(local(), [](const Contact&) { return true; }));
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(writer, std::ref(*store_), "A");
    threads.emplace_back(writer, std::ref(*store_), "B");
    threads.emplace_back(writer, std::ref(*second), "C");
    threads.emplace_back(reader, std::ref(*store_));
    threads.emplace_back(reader, std::ref(*second));
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(allContacts(*store_, local()).size(), 3u * kRequests * kContactsPerRequest);
    EXPECT_EQ(store_->existingFullNames(local(), {"A 1", "B 2", "C 3", "C 1924"}).value().size(),
              4u);
    EXPECT_TRUE(second->checkIntegrity());
}

}  // namespace
}  // namespace pelkora::contacts
