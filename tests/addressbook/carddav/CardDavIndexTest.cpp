#include <gtest/gtest.h>

#include "addressbook/carddav/CardDavIndex_p.h"

namespace pelkora::contacts::carddav {
namespace {

TEST(CardDavIndexTest, CardsAreReadIntoTheirIdentifierNameAndGroups) {
    auto contact = readIndexedCard(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:anna-1\r\nN:M\xC3\xBCller;Anna;;;\r\nFN:Anna "
        "M\xC3\xBCller\r\n"
        "CATEGORIES:Friends,Book club\r\nEND:VCARD\r\n",
        "/ada/contacts/anna-1.vcf", "\"e1\"");
    ASSERT_TRUE(contact);
    EXPECT_EQ(contact->uid, "anna-1");
    EXPECT_EQ(contact->fullName, "Anna M\xC3\xBCller");
    EXPECT_EQ(contact->categories, (std::vector<std::string>{"Friends", "Book club"}));
    EXPECT_FALSE(contact->isGroup);

    // vCard 4 groups and the X-ADDRESSBOOKSERVER form of vCard 3, folded lines included.
    auto four = readIndexedCard(
        "BEGIN:VCARD\nVERSION:4.0\nUID:club\nKIND:group\nFN:Chess\n  club\n"
        "MEMBER:urn:uuid:anna-1\nMEMBER:urn:uuid:bob-2\nEND:VCARD\n",
        "/b/club.vcf", "");
    ASSERT_TRUE(four);
    EXPECT_TRUE(four->isGroup);
    EXPECT_EQ(four->fullName, "Chess club");
    EXPECT_EQ(four->members, (std::vector<std::string>{"anna-1", "bob-2"}));
    auto three =
        readIndexedCard(groupCardText("team", "R&D; Sales", {"anna-1"}), "/b/team.vcf", "");
    ASSERT_TRUE(three);
    EXPECT_TRUE(three->isGroup);
    EXPECT_EQ(three->uid, "team");
    EXPECT_EQ(three->fullName, "R&D; Sales");
    EXPECT_EQ(three->members, std::vector<std::string>{"anna-1"});

    // Without a UID the resource's name stands in; text that is no vCard is none.
    auto nameless = readIndexedCard("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:X\r\nEND:VCARD\r\n",
                                    "/b/some%20card.vcf", "");
    ASSERT_TRUE(nameless);
    EXPECT_EQ(nameless->uid, "some card");
    EXPECT_FALSE(readIndexedCard("this is not a vCard", "/b/a.vcf", ""));
}

TEST(CardDavIndexTest, TheIndexFollowsItsCardsAndSurvivesTheCacheFile) {
    BookIndex index;
    index.syncToken = "http://example.org/sync/1\tweird";
    index.put({"/b/a.vcf", "\"1\"", "a", "Ann\tTab", {"Friends", "Work"}, false, {}, 0});
    index.put({"/b/b.vcf", "\"2\"", "b", "Ann\tTab", {"Work"}, false, {}, 0});
    index.put({"/b/g.vcf", "\"3\"", "g", "Group\nTwo lines", {}, true, {"a", "b"}, 0});
    EXPECT_EQ(index.withFullName("Ann\tTab")->size(), 2u);
    EXPECT_EQ(index.categoryCounts().at("Work"), 2u);

    // The same resource written by the server in another encoding is the same card.
    index.put({"/b/%61.vcf", "\"4\"", "a", "Ann", {"Friends"}, false, {}, 0});
    EXPECT_EQ(index.size(), 3u);
    EXPECT_EQ(index.categoryCounts().count("Work"), 1u);
    EXPECT_EQ(index.categoryCounts().at("Work"), 1u);
    EXPECT_EQ(index.withFullName("Ann\tTab")->size(), 1u);

    auto read = BookIndex::parse(index.serialized());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->syncToken, index.syncToken);
    EXPECT_EQ(read->serialized(), index.serialized());
    ASSERT_TRUE(read->group("g"));
    EXPECT_EQ(read->group("g")->fullName, "Group\nTwo lines");
    EXPECT_EQ(read->group("g")->members, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(read->contacts().front()->uid, "a") << "a card changed keeps its place";

    read->remove("/b/b.vcf");
    EXPECT_FALSE(read->contact("b"));
    EXPECT_FALSE(read->withFullName("Ann\tTab"));
    EXPECT_FALSE(BookIndex::parse("some other file\n"));
}

}  // namespace
}  // namespace pelkora::contacts::carddav
