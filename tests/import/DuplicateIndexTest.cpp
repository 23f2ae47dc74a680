#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "TestSupport.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/DuplicateIndex.h"

namespace pelkora {
namespace {

using namespace contacts;
using test::TemporaryDirectory;

Contact person(std::string givenName, std::string familyName) {
    Contact contact = Contact::makeNew();
    contact.givenName = std::move(givenName);
    contact.familyName = std::move(familyName);
    return contact;
}

std::vector<std::string> sorted(std::vector<std::string> identifiers) {
    std::sort(identifiers.begin(), identifiers.end());
    return identifiers;
}

class DuplicateIndexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto opened = SqliteContactStore::open(directory_.path() / "contacts.sqlite");
        ASSERT_TRUE(opened);
        store_ = std::move(*opened);
        container_ = store_->defaultContainerIdentifier();
    }

    // Saves the contacts into the container, as the import saves a chunk.
    void save(const std::vector<Contact>& contacts, const std::string& container = {}) {
        SaveRequest request;
        for (const Contact& contact : contacts)
            request.addContact(contact, container.empty() ? container_ : container);
        ASSERT_TRUE(store_->execute(request));
    }
    // Records the contacts as one chunk of new contacts; returns them.
    std::vector<Contact> record(DuplicateIndex& index, std::vector<Contact> contacts,
                                std::string_view sourceIdentifier = {}) {
        for (const Contact& contact : contacts) index.record(contact, sourceIdentifier);
        return contacts;
    }
    std::vector<std::string> oldDuplicates(DuplicateIndex& index) {
        auto found = index.oldDuplicates();
        EXPECT_TRUE(found);
        return found ? sorted(*found) : std::vector<std::string>{};
    }
    std::vector<std::string> newDuplicates(DuplicateIndex& index) {
        auto found = index.newDuplicates();
        EXPECT_TRUE(found);
        return found ? sorted(*found) : std::vector<std::string>{};
    }
    // Saves the recorded chunk and tells the index.
    void saveChunk(DuplicateIndex& index, const std::vector<Contact>& chunk) {
        save(chunk);
        index.chunkSaved();
    }

    TemporaryDirectory directory_;
    std::unique_ptr<SqliteContactStore> store_;
    std::string container_;
};

TEST_F(DuplicateIndexTest, ByNameFindsEveryExistingContactOfTheNameAndTheNewOnesRepeatingThem) {
    const Contact anna1 = person("Anna", "Berg");
    const Contact anna2 = person("Anna", "Berg");
    save({anna1, anna2, person("Carl", "Dahl")});
    FullNameDuplicateIndex index(*store_, container_);
    const auto chunk = record(index, {person("Anna", "Berg"), person("Eva", "Falk"), person("", ""),
                                      person("Anna", "Berg")});

    EXPECT_EQ(oldDuplicates(index), sorted({anna1.identifier, anna2.identifier}));
    EXPECT_EQ(newDuplicates(index), sorted({chunk[0].identifier, chunk[3].identifier}));
}

TEST_F(DuplicateIndexTest, ByNameContactsOfOneChunkDoNotRepeatEachOther) {
    FullNameDuplicateIndex index(*store_, container_);
    record(index, {person("Carl", "Dahl"), person("Carl", "Dahl")});
    EXPECT_TRUE(oldDuplicates(index).empty());
    EXPECT_TRUE(newDuplicates(index).empty());
}

TEST_F(DuplicateIndexTest, ByNameLooksOnlyInItsContainer) {
    ASSERT_TRUE(store_->addContainer(Container{"OTHER", "Other", ContainerType::local}));
    save({person("Anna", "Berg")}, "OTHER");
    FullNameDuplicateIndex index(*store_, container_);
    record(index, {person("Anna", "Berg")});
    EXPECT_TRUE(oldDuplicates(index).empty());
    EXPECT_TRUE(newDuplicates(index).empty());
}

// A name the store was asked about in an earlier chunk is not asked again: the index adds
// the contacts saved since from what it kept, however many chunks ago they were saved, and
// answers each existing contact once.
TEST_F(DuplicateIndexTest, ByNameSavedChunksCountAsExistingAndEachOldDuplicateIsAnsweredOnce) {
    const Contact before = person("Anna", "Berg");
    save({before});
    FullNameDuplicateIndex index(*store_, container_);

    const auto chunk1 = record(index, {person("Anna", "Berg"), person("Carl", "Dahl")});
    EXPECT_EQ(oldDuplicates(index), std::vector<std::string>{before.identifier});
    EXPECT_EQ(newDuplicates(index), std::vector<std::string>{chunk1[0].identifier});
    saveChunk(index, chunk1);

    const auto chunk2 = record(index, {person("Eva", "Falk")});
    EXPECT_TRUE(oldDuplicates(index).empty());
    EXPECT_TRUE(newDuplicates(index).empty());
    saveChunk(index, chunk2);

    const auto chunk3 =
        record(index, {person("Carl", "Dahl"), person("Anna", "Berg"), person("Eva", "Falk")});
    EXPECT_EQ(oldDuplicates(index),
              sorted({chunk1[0].identifier, chunk1[1].identifier, chunk2[0].identifier}));
    EXPECT_EQ(newDuplicates(index),
              sorted({chunk3[0].identifier, chunk3[1].identifier, chunk3[2].identifier}));
    saveChunk(index, chunk3);

    const auto chunk4 = record(index, {person("Anna", "Berg")});
    EXPECT_EQ(oldDuplicates(index), std::vector<std::string>{chunk3[1].identifier});
    EXPECT_EQ(newDuplicates(index), std::vector<std::string>{chunk4[0].identifier});
}

TEST_F(DuplicateIndexTest, ByIdentifierMatchesSourceIdentifiersWithContactsOfTheContainer) {
    const Contact anna = person("Anna", "Berg");
    save({anna});
    IdentifierDuplicateIndex index(*store_, container_);
    const Contact renamed = person("Anna", "B.");
    const Contact sameName = person("Anna", "Berg");
    index.record(renamed, anna.identifier);
    index.record(sameName, "not-in-the-book");
    index.record(person("Carl", "Dahl"), "");

    EXPECT_EQ(oldDuplicates(index), std::vector<std::string>{anna.identifier});
    EXPECT_EQ(newDuplicates(index), std::vector<std::string>{renamed.identifier});
}

TEST_F(DuplicateIndexTest, ByIdentifierTheLastContactOfAnIdentifierIsTheNewDuplicate) {
    const Contact anna = person("Anna", "Berg");
    save({anna});
    IdentifierDuplicateIndex index(*store_, container_);
    const auto chunk1 = record(index, {person("Anna", "1"), person("Anna", "2")}, anna.identifier);
    EXPECT_EQ(oldDuplicates(index), std::vector<std::string>{anna.identifier});
    EXPECT_EQ(newDuplicates(index), std::vector<std::string>{chunk1[1].identifier});
    saveChunk(index, chunk1);

    // A later chunk repeats the contact again: it is in the old group already.
    const auto chunk2 = record(index, {person("Anna", "3")}, anna.identifier);
    EXPECT_TRUE(oldDuplicates(index).empty());
    EXPECT_EQ(newDuplicates(index), std::vector<std::string>{chunk2[0].identifier});
}

TEST_F(DuplicateIndexTest, ByIdentifierAContactWithoutOneIsLookedUpAsUndefined) {
    Contact placeholder = person("Nobody", "Known");
    placeholder.identifier = "-UNDEFINED-";
    save({placeholder});
    IdentifierDuplicateIndex index(*store_, container_);
    const auto chunk = record(index, {person("Carl", "Dahl")});
    EXPECT_EQ(oldDuplicates(index), std::vector<std::string>{"-UNDEFINED-"});
    EXPECT_EQ(newDuplicates(index), std::vector<std::string>{chunk[0].identifier});
}

}  // namespace
}  // namespace pelkora
