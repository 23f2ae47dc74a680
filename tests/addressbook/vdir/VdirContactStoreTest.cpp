#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/vdir/VdirContactStore.h"
#include "platform/AtomicFile.h"

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

std::unique_ptr<VdirContactStore> openStore(const fs::path& folder) {
    auto store = VdirContactStore::open(folder);
    EXPECT_TRUE(store) << (store ? "" : store.error().message);
    return store ? std::move(*store) : nullptr;
}

void write(const fs::path& file, std::string_view text) {
    ASSERT_TRUE(writeFileAtomically(file, text));
}

// Every file of the folder, hidden ones too, with its content: what a failed request must
// leave as it was.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        if (entry.path().filename() == ".pelkora-lock") continue;
        files[entry.path().lexically_relative(folder).string()] = *readWholeFile(entry.path());
    }
    return files;
}

std::vector<std::string> names(const std::vector<Group>& groups) {
    std::vector<std::string> result;
    for (const Group& group : groups) result.push_back(group.name);
    return result;
}

std::vector<std::string> cardFiles(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".vcf") && name.front() != '.') files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    return files;
}

constexpr std::string_view kForeignCard =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:khard-1\r\nFN:Kim Foreign\r\nN:Foreign;Kim;;;\r\n"
    "X-KHARD-PRIVATE:keep me\r\nCATEGORIES:Friends\r\nEND:VCARD\r\n";

TEST(VdirContactStoreTest, ContainersAreTheCollectionsOfAFolderOrTheFolderItself) {
    test::TemporaryDirectory folder;
    fs::create_directories(folder / "books/work");
    fs::create_directories(folder / "books/family");
    write(folder / "books/work/displayname", "  Acme Office \nsecond line\n");
    write(folder / "books/family/a.vcf", kForeignCard);
    fs::create_directories(folder / "books/.hidden");
    auto store = openStore(folder / "books");
    ASSERT_TRUE(store);
    auto containers = store->containers();
    ASSERT_TRUE(containers);
    ASSERT_EQ(containers->size(), 2u);
    EXPECT_EQ((*containers)[0], (Container{"work", "Acme Office", ContainerType::local}));
    EXPECT_EQ((*containers)[1], (Container{"family", "family", ContainerType::local}));
    EXPECT_EQ(store->defaultContainerIdentifier(), "work");
    EXPECT_EQ(store->location(), "vdir:" + (folder / "books").string());

    // A missing folder becomes one empty collection named after it.
    auto fresh = openStore(folder / "new/Contacts");
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fs::is_directory(folder / "new/Contacts"));
    EXPECT_EQ(*fresh->containers(),
              (std::vector<Container>{{"Contacts", "Contacts", ContainerType::local}}));
    // A folder with cards is one collection, even with subfolders.
    fs::create_directories(folder / "books/family/sub");
    auto single = openStore(folder / "books/family");
    ASSERT_TRUE(single);
    EXPECT_EQ(single->containers()->size(), 1u);
    EXPECT_EQ(*single->existingIdentifiers("family", {"khard-1"}),
              (std::unordered_set<std::string>{"khard-1"}));
}

TEST(VdirContactStoreTest, ARequestRoundTripsThroughTheFiles) {
    test::TemporaryDirectory folder;
    auto store = openStore(folder / "book");
    ASSERT_TRUE(store);
    const std::string container = store->defaultContainerIdentifier();
    Contact ada = person("Ada", "Lovelace");
    ada.phoneNumbers = {labeled(std::string(Label::mobile), std::string("+44 20 7946 0000")),
                        labeled(std::string(Label::home), std::string("+44 20 7946 0001"))};
    ada.emailAddresses = {labeled(std::string(Label::work), std::string("ada@example.org"))};
    ada.birthday = DateComponents{std::nullopt, 12, 10, ""};
    ada.dates = {labeled(std::string(Label::anniversary), DateComponents{1835, 7, 8, ""})};
    ada.note = "Line one\nLine two, with; marks";
    Contact bob = person("Bob", "Builder");
    const Group friends{makeUUID(), "Friends"};
    const Group empty{makeUUID(), "Empty, for now"};
    SaveRequest request;
    request.addGroup(friends, container);
    request.addGroup(empty, container);
    request.addContact(ada, container);
    request.addContact(bob, container);
    request.addMember(ada.identifier, friends.identifier);
    request.addMember(ada.identifier, friends.identifier);  // twice does nothing
    request.addMember(bob.identifier, friends.identifier);
    ASSERT_TRUE(store->execute(request));
    EXPECT_EQ(cardFiles(folder / "book"),
              (std::vector<std::string>{ada.identifier + ".vcf", bob.identifier + ".vcf"}));
    const std::string text = *readWholeFile(folder / "book" / (ada.identifier + ".vcf"));
    EXPECT_NE(text.find("UID:" + ada.identifier), std::string::npos);
    EXPECT_NE(text.find("CATEGORIES:Friends"), std::string::npos);
    EXPECT_EQ(text.find("_$!<"), std::string::npos) << text;

    auto reopened = openStore(folder / "book");
    ASSERT_TRUE(reopened);
    EXPECT_EQ(*reopened->groups(container), *store->groups(container));
    EXPECT_EQ(*reopened->groups(container), (std::vector<Group>{empty, friends}));
    auto read = reopened->contacts({ada.identifier});
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 1u);
    const Contact& back = read->front();
    EXPECT_EQ(back.identifier, ada.identifier);
    EXPECT_EQ(back.givenName, "Ada");
    EXPECT_EQ(back.note, ada.note);
    EXPECT_EQ(back.birthday, ada.birthday);
    ASSERT_EQ(back.phoneNumbers.size(), 2u);
    EXPECT_EQ(back.phoneNumbers[0].label, Label::mobile);
    EXPECT_EQ(back.phoneNumbers[1].value, "+44 20 7946 0001");
    ASSERT_EQ(back.emailAddresses.size(), 1u);
    EXPECT_EQ(back.emailAddresses[0].label, Label::work);
    ASSERT_EQ(back.dates.size(), 1u);
    EXPECT_EQ(back.dates[0].value, ada.dates[0].value);
    std::vector<std::string> order;
    ASSERT_TRUE(reopened->enumerateContacts(container, [&](const Contact& contact) {
        order.push_back(contact.givenName);
        return true;
    }));
    EXPECT_EQ(order, (std::vector<std::string>{"Ada", "Bob"}));
    EXPECT_EQ(*reopened->groupMemberships(container),
              (std::vector<std::pair<std::string, std::vector<std::string>>>{
                  {ada.identifier, {friends.identifier}}, {bob.identifier, {friends.identifier}}}));

    // Deleting the group takes its name off every card; the empty group goes when asked.
    SaveRequest removal;
    removal.deleteGroup(friends.identifier);
    removal.deleteGroupIfEmpty(empty.identifier);
    ASSERT_TRUE(reopened->execute(removal));
    std::string withoutGroups = text;
    withoutGroups.erase(text.find("CATEGORIES:Friends\r\n"), 20);
    EXPECT_EQ(*readWholeFile(folder / "book" / (ada.identifier + ".vcf")), withoutGroups);
    EXPECT_TRUE(reopened->groups(container)->empty());
    EXPECT_FALSE(fs::exists(folder / "book/.pelkora-groups"));
}

TEST(VdirContactStoreTest, CardsOfOtherProgramsKeepWhatWeDoNotKnow) {
    test::TemporaryDirectory folder;
    write(folder / "khard-1.vcf", kForeignCard);
    write(folder / "no-uid.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Nora Nouid\nEND:VCARD\n");
    write(folder / ".hidden.vcf", "BEGIN:VCARD\nVERSION:3.0\nUID:hidden\nFN:Hid\nEND:VCARD\n");
    write(folder / "notes.txt", "BEGIN:VCARD\nVERSION:3.0\nUID:text\nFN:Text\nEND:VCARD\n");
    write(folder / "broken.vcf", "not a vCard at all");
    auto store = openStore(folder.path());
    ASSERT_TRUE(store);
    const std::string container = store->defaultContainerIdentifier();
    EXPECT_EQ(
        *store->identifiersInUse({"khard-1", "no-uid", "hidden", "text", container + "/Friends"}),
        (std::unordered_set<std::string>{"khard-1", "no-uid", container + "/Friends"}));
    EXPECT_EQ(names(*store->groups(container)), (std::vector<std::string>{"Friends"}));

    const Group family{makeUUID(), "Family"};
    SaveRequest request;
    request.addGroup(family, container);
    request.addMember("khard-1", family.identifier);
    request.addMember("no-uid", family.identifier);
    ASSERT_TRUE(store->execute(request));
    const std::string text = *readWholeFile(folder / "khard-1.vcf");
    EXPECT_NE(text.find("X-KHARD-PRIVATE:keep me\r\nCATEGORIES:Friends,Family\r\nEND:VCARD"),
              std::string::npos)
        << text;
    EXPECT_EQ(*readWholeFile(folder / "no-uid.vcf"),
              "BEGIN:VCARD\nVERSION:3.0\nFN:Nora Nouid\nCATEGORIES:Family\nEND:VCARD\n");
}

// A request that fails half-way, or a process that dies half-way, leaves every file as it was.
TEST(VdirContactStoreTest, RequestsAreAllOrNothing) {
    test::TemporaryDirectory folder;
    auto store = openStore(folder / "book");
    ASSERT_TRUE(store);
    const std::string container = store->defaultContainerIdentifier();
    Contact ada = person("Ada", "Lovelace");
    const Group friends{makeUUID(), "Friends"};
    SaveRequest first;
    first.addGroup(friends, container);
    first.addContact(ada, container);
    first.addMember(ada.identifier, friends.identifier);
    ASSERT_TRUE(store->execute(first));
    const auto before = snapshot(folder / "book");

    auto bigRequest = [&](SaveRequest& request) {
        request.deleteContact(ada.identifier);
        request.addGroup(Group{makeUUID(), "Colleagues"}, container);
        for (int index = 0; index < 5; ++index)
            request.addContact(person("P", std::to_string(index)), container);
    };
    struct Case {
        const char* name;
        std::function<void(SaveRequest&)> build;
        Kind kind;
    };
    const Case cases[] = {
        {"unknown contact deleted",
         [&](SaveRequest& r) {
             bigRequest(r);
             r.deleteContact("nobody");
         },
         Kind::contactNotFound},
        {"unknown group deleted",
         [&](SaveRequest& r) {
             bigRequest(r);
             r.deleteGroup("nothing");
         },
         Kind::groupNotFound},
        {"contact added twice",
         [&](SaveRequest& r) {
             bigRequest(r);
             r.addContact(ada, container);
             r.addContact(ada, container);
         },
         Kind::duplicateIdentifier},
        {"unknown container",
         [&](SaveRequest& r) {
             bigRequest(r);
             r.addContact(person("X", "Y"), "elsewhere");
         },
         Kind::containerNotFound},
        {"member of an unknown group",
         [&](SaveRequest& r) {
             bigRequest(r);
             r.addMember(ada.identifier, "nothing");
         },
         Kind::contactNotFound},  // ada is deleted first
    };
    for (const Case& failing : cases) {
        SCOPED_TRACE(failing.name);
        SaveRequest request;
        failing.build(request);
        auto done = store->execute(request);
        ASSERT_FALSE(done);
        EXPECT_EQ(done.error().kind, failing.kind) << done.error().message;
        EXPECT_EQ(snapshot(folder / "book"), before);
    }
    // Failures while the files are being replaced: rolled back at once, or by the next open.
    for (bool crash : {false, true}) {
        SCOPED_TRACE(crash ? "crash" : "failure");
        for (std::size_t writes : {0u, 1u, 4u}) {
            SaveRequest request;
            bigRequest(request);
            store->failAfterWrites(writes, crash);
            auto done = store->execute(request);
            ASSERT_FALSE(done);
            EXPECT_EQ(done.error().kind, Kind::writeFailed);
            if (crash) {
                EXPECT_TRUE(fs::exists(folder / "book/.pelkora-journal"));
                EXPECT_NE(snapshot(folder / "book"), before);
                store = openStore(folder / "book");
                ASSERT_TRUE(store);
            }
            EXPECT_EQ(snapshot(folder / "book"), before);
            EXPECT_EQ(*store->existingIdentifiers(container, {ada.identifier}),
                      (std::unordered_set<std::string>{ada.identifier}));
            EXPECT_EQ(names(*store->groups(container)), (std::vector<std::string>{"Friends"}));
        }
    }
    SaveRequest request;
    bigRequest(request);
    ASSERT_TRUE(store->execute(request));
    EXPECT_EQ(cardFiles(folder / "book").size(), 5u);
    EXPECT_FALSE(fs::exists(folder / "book/.pelkora-journal"));
    EXPECT_FALSE(fs::exists(folder / "book/.pelkora-undo"));
}

TEST(VdirContactStoreTest, DuplicateLookupsFollowTheFilesAndOtherPrograms) {
    test::TemporaryDirectory folder;
    fs::create_directories(folder / "a");
    fs::create_directories(folder / "b");
    auto store = openStore(folder.path());
    ASSERT_TRUE(store);
    Contact ada = person("Ada", "Lovelace");
    Contact ada2 = person("Ada", "Lovelace");
    Contact bob = person("Bob", "Builder");
    const Group friends{makeUUID(), "Friends"};
    SaveRequest request;
    request.addContact(ada, "a");
    request.addContact(ada2, "a");
    request.addContact(bob, "b");
    request.addGroup(friends, "a");
    ASSERT_TRUE(store->execute(request));

    EXPECT_EQ(*store->existingFullNames("a", {"Ada Lovelace", "Bob Builder"}),
              (std::unordered_set<std::string>{"Ada Lovelace"}));
    auto same = *store->contactIdentifiersWithFullNames("a", {"Ada Lovelace", "Ada Lovelace"});
    std::sort(same.begin(), same.end());
    auto expected = std::vector<std::string>{ada.identifier, ada2.identifier};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(same, expected);
    EXPECT_EQ(*store->existingIdentifiers("a", {ada.identifier, bob.identifier}),
              (std::unordered_set<std::string>{ada.identifier}));
    EXPECT_EQ(*store->identifiersInUse({bob.identifier, friends.identifier, "free"}),
              (std::unordered_set<std::string>{bob.identifier, friends.identifier}));

    // A group of a name the container has, letter for letter, is joined; another case is not.
    const Group again{makeUUID(), "Friends"};
    const Group lower{makeUUID(), "friends"};
    SaveRequest join;
    join.addGroup(again, "a");
    join.addGroup(lower, "a");
    join.addMember(ada.identifier, again.identifier);
    ASSERT_TRUE(store->execute(join));
    EXPECT_EQ(*store->groups("a"), (std::vector<Group>{friends, lower}));
    SaveRequest duplicate;
    duplicate.addGroup(friends, "b");
    EXPECT_EQ(store->execute(duplicate).error().kind, Kind::duplicateIdentifier);
    SaveRequest across;
    across.addMember(bob.identifier, friends.identifier);
    EXPECT_EQ(store->execute(across).error().kind, Kind::groupNotFound);

    // Another program adds a card and removes one: the next call sees it.
    write(folder / "b/other.vcf",
          "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:other\r\nFN:Bob "
          "Builder\r\nN:Builder;Bob;;;\r\nEND:VCARD\r\n");
    fs::remove(folder / "a" / (ada2.identifier + ".vcf"));
    EXPECT_EQ(*store->existingIdentifiers("b", {"other"}),
              (std::unordered_set<std::string>{"other"}));
    EXPECT_EQ(*store->contactIdentifiersWithFullNames("a", {"Ada Lovelace"}),
              (std::vector<std::string>{ada.identifier}));
}

TEST(VdirContactStoreTest, IdentifiersBecomeSafeFileNames) {
    test::TemporaryDirectory folder;
    auto store = openStore(folder / "book");
    ASSERT_TRUE(store);
    const std::string container = store->defaultContainerIdentifier();
    const std::pair<std::string, std::string> cases[] = {
        {"a/b", "a%2Fb.vcf"},
        {"../../escape", "%2E.%2F..%2Fescape.vcf"},
        {".hidden", "%2Ehidden.vcf"},
        {"100%", "100%25.vcf"},
        {"line\nbreak", "line%0Abreak.vcf"},
        {std::string(300, 'x'), ""},
    };
    SaveRequest request;
    for (const auto& [identifier, file] : cases) {
        Contact contact = person("Safe", identifier.substr(0, 10));
        contact.identifier = identifier;
        request.addContact(contact, container);
    }
    ASSERT_TRUE(store->execute(request));
    const auto files = cardFiles(folder / "book");
    EXPECT_EQ(files.size(), std::size(cases));
    for (const auto& [identifier, file] : cases) {
        if (!file.empty()) {
            EXPECT_TRUE(fs::exists(folder / "book" / file)) << file;
        }
    }
    auto reopened = openStore(folder / "book");
    ASSERT_TRUE(reopened);
    for (const auto& [identifier, file] : cases) {
        EXPECT_EQ(reopened->existingIdentifiers(container, {identifier})->size(), 1u) << identifier;
        SaveRequest removal;
        removal.deleteContact(identifier);
        EXPECT_TRUE(reopened->execute(removal)) << identifier;
    }
    EXPECT_TRUE(cardFiles(folder / "book").empty());
    EXPECT_EQ(fs::exists(folder / "escape.vcf"), false);
}

}  // namespace
}  // namespace pelkora::contacts
