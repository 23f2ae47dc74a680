#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "session/ContentViewController.h"

namespace pelkora {
namespace {

using test::LogCapture;
using test::SessionFixture;
using Names = std::vector<std::string>;

TEST(Wizard, RegistryHoldsTheEightPages) {
    EXPECT_EQ(ViewControllerRegistry::standard().names(),
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
    fixture.session.setCurrentViewController("Nonsense");
    EXPECT_EQ(fixture.session.currentViewController(), nullptr);
    EXPECT_TRUE(
        log.contains("Failed to instantiate view controller: Unregistered nib name 'Nonsense'"));
    EXPECT_TRUE(log.contains("Can't set current view controller to NonsenseViewController"));

    fixture.launch();
    ASSERT_NE(fixture.session.currentViewController(), nullptr);
    const auto before = log.count("Can't set current view controller");
    fixture.session.setCurrentViewController("Nonsense");
    EXPECT_EQ(fixture.session.currentViewController()->name(), "InitialViewController");
    EXPECT_EQ(log.count("Can't set current view controller"), before);
    EXPECT_EQ(fixture.frontEnd.beeps, 2);
}

TEST(Wizard, PagesSetTheirBackAndContinueTargets) {
    SessionFixture fixture;
    fixture.launch();
    auto& session = fixture.session;
    auto show = [&](std::string_view name) -> ContentViewController& {
        session.setCurrentViewController(name);
        return *session.currentViewController();
    };

    auto& start = show("InitialViewController");
    EXPECT_FALSE(start.previousViewControllerName());
    EXPECT_FALSE(start.nextViewControllerName());

    auto& encoding = show("SetTextEncodingViewController");
    EXPECT_EQ(encoding.previousViewControllerName(), "InitialViewController");
    EXPECT_EQ(encoding.nextViewControllerName(), "FieldMappingViewController");

    auto& scan = show("VCFScanViewController");
    EXPECT_EQ(scan.previousViewControllerName(), "InitialViewController");
    EXPECT_EQ(scan.nextViewControllerName(), "ImportViewController");
    auto& importAfterScan = show("ImportViewController");
    EXPECT_EQ(importAfterScan.previousViewControllerName(), "VCFScanViewController");

    // Field mapping leads back to where the rows came from.
    EXPECT_FALSE(show("FieldMappingViewController").previousViewControllerName());
    session.adoptExcelReader(
        std::make_shared<test::ScriptedReader>(fixture.folder / "b.xlsx", "ExcelReader"));
    EXPECT_EQ(show("FieldMappingViewController").previousViewControllerName(),
              "InitialViewController");
    session.adoptTextReader(std::make_shared<TextReader>(fixture.folder / "a.csv"));
    auto& mapping = show("FieldMappingViewController");
    EXPECT_EQ(mapping.previousViewControllerName(), "SetTextEncodingViewController");
    EXPECT_FALSE(mapping.nextViewControllerName());

    // Continue on the mapping page goes to the import page, which leads back to mapping.
    mapping.continueAction(session);
    fixture.drain();
    EXPECT_EQ(session.currentViewController()->name(), "ImportViewController");
    EXPECT_EQ(session.currentViewController()->previousViewControllerName(),
              "FieldMappingViewController");
    session.showPreviousViewController();
    fixture.drain();
    EXPECT_EQ(session.currentViewController()->name(), "FieldMappingViewController");
}

TEST(Wizard, BackAndContinueWithoutTargetDoNothing) {
    SessionFixture fixture;
    fixture.launch();
    const auto pagesBefore = fixture.frontEnd.pages;
    fixture.session.showNextViewController();
    fixture.session.showPreviousViewController();
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
    EXPECT_EQ(session.currentViewController()->name(), "InitialViewController");
}

}  // namespace
}  // namespace pelkora
