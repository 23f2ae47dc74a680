// vCard files through the wizard: opened, scanned with the progress sheet, shown on the scan
// page, and imported from the import page.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "SessionTestSupport.h"
#include "addressbook/ContactFormatter.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "session/ImportPage.h"
#include "session/VCFScanPage.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;
using test::SessionFixture;

class VCardImportFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto opened = SqliteContactStore::open(fixture.folder.path() / "book.sqlite");
        ASSERT_TRUE(opened);
        store = std::move(*opened);
        fixture.session.setContactStore(store);
        fixture.launch();
    }

    // Opens the files and runs the scan to its end.
    VCFScanPage& scan(std::vector<std::filesystem::path> files) {
        (void)fixture.session.openFiles(std::move(files));
        EXPECT_TRUE(fixture.runUntilPage("VCFScanViewController"));
        auto* page = dynamic_cast<VCFScanPage*>(fixture.session.currentPage());
        if (!page) throw std::runtime_error("the scan page is not shown");
        MainQueue::shared().runUntil([&] { return page->hasFinished(); }, std::chrono::seconds(30));
        return *page;
    }

    // Every contact of the default container: full name → note and group names.
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> book() {
        const std::string container = store->defaultContainerIdentifier();
        std::map<std::string, std::string> groupNames;
        const auto allGroups = store->groups(container).value();
        for (const Group& group : allGroups) groupNames[group.identifier] = group.name;
        std::map<std::string, std::vector<std::string>> membership;
        const auto memberships = store->groupMemberships(container).value();
        for (auto& [contact, groups] : memberships) {
            for (const std::string& group : groups)
                membership[contact].push_back(groupNames[group]);
        }
        std::map<std::string, std::pair<std::string, std::vector<std::string>>> contacts;
        EXPECT_TRUE(store->enumerateContacts(container, [&](const Contact& contact) {
            std::vector<std::string> groups = membership[contact.identifier];
            std::sort(groups.begin(), groups.end());
            contacts[stringFromContact(contact)] = {contact.note, groups};
            return true;
        }));
        return contacts;
    }

    test::ScopedXdgHome xdg;
    SessionFixture fixture;
    std::shared_ptr<SqliteContactStore> store;
};

constexpr std::string_view kFriends =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Apple Inc.//macOS 14.0//EN\r\nN:Lovelace;Ada;;;\r\n"
    "FN:Ada Lovelace\r\nCATEGORIES:Friends,Work\\,Home\r\nEND:VCARD\r\n"
    "begin:vcard\r\nversion:3.0\r\nn:Turing;Alan;;;\r\nfn:Alan Turing\r\n"
    "categories:friends\r\nend:vcard\r\n";
constexpr std::string_view kColleague =
    "BEGIN:VCARD\nVERSION:4.0\nFN:Grace Hopper\nN:Hopper;Grace;;;\nNOTE:Admiral\nEND:VCARD\n";

TEST_F(VCardImportFlowTest, ScannedCardsAreImportedWithTheirGroupsAndTheirOwnFileNames) {
    const auto friends = fixture.file("friends.vcf", kFriends);
    const auto colleague = fixture.file("colleague.vcf", kColleague);
    const int sheetsBefore = fixture.frontEnd.sheetsShown;
    VCFScanPage& page = scan({friends, colleague});

    EXPECT_EQ(fixture.frontEnd.sheetsShown, sheetsBefore + 1);
    EXPECT_FALSE(fixture.session.isProgressSheetShown());
    EXPECT_EQ(page.resultsHeader(), "3 contacts found");
    EXPECT_FALSE(page.showsNoResults());
    EXPECT_EQ(page.groups(), (std::vector<std::string>{"Friends", "Work,Home", "friends"}));
    EXPECT_EQ(page.cardsPerFile(), (std::vector<std::pair<std::filesystem::path, std::size_t>>{
                                       {friends, 2}, {colleague, 1}}));
    EXPECT_EQ(page.cardsFromOtherPrograms(), 2u);
    EXPECT_EQ(fixture.session.scannedVCards().size(), 3u);
    ASSERT_TRUE(page.isContinueEnabled());
    EXPECT_EQ(page.previousPageName(), "InitialViewController");

    page.continueAction(fixture.session);
    ASSERT_TRUE(fixture.runUntilPage("ImportViewController"));
    auto* importPage = dynamic_cast<ImportPage*>(fixture.session.currentPage());
    ASSERT_NE(importPage, nullptr);
    EXPECT_TRUE(importPage->isModeControlHidden());
    EXPECT_EQ(importPage->previousPageName(), "VCFScanViewController");
    importPage->setTextTokens(fixture.session, {"From", "FILE"});
    ASSERT_TRUE(importPage->startImport(fixture.session));
    MainQueue::shared().runUntil([&] { return importPage->summary().has_value(); },
                                 std::chrono::seconds(30));

    const ImportSummary& summary = *importPage->summary();
    EXPECT_EQ(summary.rowsToImport, 3u);
    EXPECT_EQ(summary.contactsSaved, 3u);
    EXPECT_EQ(summary.cardsFromOtherPrograms, 2u);
    ASSERT_FALSE(fixture.frontEnd.alerts.empty());
    EXPECT_EQ(fixture.frontEnd.alerts.back().heading, "Import done.");

    // "friends" differs from "Friends" only in case, so it is a group of its own; the cards
    // join the first group that matches ignoring case.
    using Entry = std::pair<std::string, std::vector<std::string>>;
    auto contacts = book();
    EXPECT_EQ(contacts["Ada Lovelace"], (Entry{"From friends.vcf", {"Friends", "Work,Home"}}));
    EXPECT_EQ(contacts["Alan Turing"], (Entry{"From friends.vcf", {"Friends"}}));
    EXPECT_EQ(contacts["Grace Hopper"], (Entry{"Admiral\nFrom colleague.vcf", {}}));
}

TEST_F(VCardImportFlowTest, FilesWithoutCardsLeaveNothingToContinueWith) {
    VCFScanPage& page = scan({fixture.file("empty.vcf", "")});
    EXPECT_TRUE(page.showsNoResults());
    EXPECT_FALSE(page.isContinueEnabled());
    EXPECT_FALSE(page.showsGroupList());
    ASSERT_EQ(page.skippedFiles().size(), 1u);
    EXPECT_EQ(page.skippedFiles()[0].first, fixture.folder.path() / "empty.vcf");

    const std::size_t pagesBefore = fixture.frontEnd.pages.size();
    page.continueAction(fixture.session);
    fixture.drain();
    EXPECT_EQ(fixture.frontEnd.pages.size(), pagesBefore);
}

TEST_F(VCardImportFlowTest, CancellingTheScanStartsOver) {
    std::string many;
    for (int i = 0; i < 2000; ++i)
        many +=
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person " + std::to_string(i) + "\r\nEND:VCARD\r\n";
    (void)fixture.session.openFiles({fixture.file("many.vcf", many), fixture.file("b.vcf", many)});
    ASSERT_TRUE(fixture.runUntilPage("VCFScanViewController"));
    ASSERT_TRUE(fixture.session.currentProgress());
    EXPECT_EQ(fixture.session.currentProgress()->localizedDescription(), "Reading vCards…");
    fixture.session.cancelCurrentProgress();
    ASSERT_TRUE(fixture.runUntilPage("InitialViewController"));
    EXPECT_FALSE(fixture.session.isProgressSheetShown());
    EXPECT_TRUE(fixture.session.vCardUrls().empty());
    EXPECT_TRUE(fixture.session.scannedVCards().empty());
}

}  // namespace
}  // namespace pelkora
