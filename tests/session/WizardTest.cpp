#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "session/Page.h"

namespace pelkora {
namespace {

using test::LogCapture;
using test::SessionFixture;
using Names = std::vector<std::string>;

TEST(Wizard, RegistryHoldsTheEightPages) {
    EXPECT_EQ(PageRegistry::standard().names(),
              (Names{"NoAccessViewController", "RestrictedAccessViewController",
                     "AuthStatusNotDeterminedViewController", "InitialViewController",
                     "SetTextEncodingViewController", "FieldMappingViewController",
                     "ImportViewController", "VCFScanViewController"}));
    EXPECT_EQ(contentLayoutConstraint('H'), "H:|[contentView(>=1024)]|");
    EXPECT_EQ(contentLayoutConstraint('V'), "V:|[contentView(>=645)]|");
}

TEST(Wizard, UnregisteredNameKeepsTheCurrentPage) {
    SessionFixture fixture;
    LogCapture log;
    fixture.session.setCurrentPage("Nonsense");
    EXPECT_EQ(fixture.session.currentPage(), nullptr);
    EXPECT_TRUE(
        log.contains("Failed to instantiate view controller: Unregistered nib name 'Nonsense'"));
    EXPECT_TRUE(log.contains("Can't set current view controller to NonsenseViewController"));

    fixture.launch();
    ASSERT_NE(fixture.session.currentPage(), nullptr);
    const auto before = log.count("Can't set current view controller");
    fixture.session.setCurrentPage("Nonsense");
    EXPECT_EQ(fixture.session.currentPage()->name(), "InitialViewController");
    EXPECT_EQ(log.count("Can't set current view controller"), before);
    EXPECT_EQ(fixture.frontEnd.beeps, 2);
}

TEST(Wizard, PagesSetTheirBackAndContinueTargets) {
    SessionFixture fixture;
    fixture.launch();
    auto& session = fixture.session;
    auto show = [&](std::string_view name) -> Page& {
        session.setCurrentPage(name);
        return *session.currentPage();
    };

    auto& start = show("InitialViewController");
    EXPECT_FALSE(start.previousPageName());
    EXPECT_FALSE(start.nextPageName());

    auto& encoding = show("SetTextEncodingViewController");
    EXPECT_EQ(encoding.previousPageName(), "InitialViewController");
    EXPECT_EQ(encoding.nextPageName(), "FieldMappingViewController");

    auto& scan = show("VCFScanViewController");
    EXPECT_EQ(scan.previousPageName(), "InitialViewController");
    EXPECT_EQ(scan.nextPageName(), "ImportViewController");
    auto& importAfterScan = show("ImportViewController");
    EXPECT_EQ(importAfterScan.previousPageName(), "VCFScanViewController");

    // Field mapping leads back to where the rows came from.
    EXPECT_FALSE(show("FieldMappingViewController").previousPageName());
    session.adoptExcelReader(
        std::make_shared<test::ScriptedReader>(fixture.folder / "b.xlsx", "ExcelReader"));
    EXPECT_EQ(show("FieldMappingViewController").previousPageName(), "InitialViewController");
    session.adoptTextReader(std::make_shared<TextReader>(fixture.folder / "a.csv"));
    auto& mapping = show("FieldMappingViewController");
    EXPECT_EQ(mapping.previousPageName(), "SetTextEncodingViewController");
    EXPECT_FALSE(mapping.nextPageName());

    // Continue on the mapping page goes to the import page, which leads back to mapping.
    mapping.continueAction(session);
    fixture.drain();
    EXPECT_EQ(session.currentPage()->name(), "ImportViewController");
    EXPECT_EQ(session.currentPage()->previousPageName(), "FieldMappingViewController");
    session.showPreviousPage();
    fixture.drain();
    EXPECT_EQ(session.currentPage()->name(), "FieldMappingViewController");
}

TEST(Wizard, BackAndContinueWithoutTargetDoNothing) {
    SessionFixture fixture;
    fixture.launch();
    const auto pagesBefore = fixture.frontEnd.pages;
    fixture.session.showNextPage();
    fixture.session.showPreviousPage();
    fixture.drain();
    EXPECT_EQ(fixture.frontEnd.pages, pagesBefore);
}

TEST(Wizard, StartOverDropsEverythingAndShowsTheStartPage) {
    SessionFixture fixture;
    fixture.launch();
    auto& session = fixture.session;
    const auto card = fixture.file("a.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n");
    (void)session.openFiles({card});
    fixture.drain();
    ASSERT_EQ(session.vCardUrls().size(), 1u);
    auto reader = std::make_shared<TextReader>(fixture.folder / "a.csv");
    session.adoptTextReader(reader);

    bool operationRan = false;
    session.operationQueue().addOperation([&](Operation& operation) {
        if (!operation.isCancelled()) operationRan = true;
    });
    session.startOver();
    EXPECT_EQ(session.operationQueue().operationCount(), 0u);
    (void)operationRan;  // it may or may not have started; either way it has finished now
    EXPECT_TRUE(session.vCardUrls().empty());
    EXPECT_EQ(session.textReader(), nullptr);
    EXPECT_TRUE(reader->shouldCancelParsing());
    fixture.drain();
    EXPECT_EQ(session.currentPage()->name(), "InitialViewController");
}

}  // namespace
}  // namespace pelkora
