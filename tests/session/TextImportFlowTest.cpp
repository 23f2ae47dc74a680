// Opening a text file through the session, as a front end does, down to the rows.

#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "session/SetTextEncodingPage.h"
#include "session/SettingsKeys.h"

namespace pelkora {
namespace {

using test::LogCapture;
using test::SessionFixture;

std::string linesOfCsv(int dataLines) {
    std::string content = "Name,Phone\n";
    for (int line = 1; line < dataLines; ++line)
        content += "Person " + std::to_string(line) + ",555\n";
    return content;
}

SetTextEncodingPage& encodingPage(SessionFixture& fixture) {
    auto* page = dynamic_cast<SetTextEncodingPage*>(fixture.session.currentPage());
    if (!page) throw std::runtime_error("the encoding page is not shown");
    return *page;
}

TEST(TextImportFlow, TrustedByteOrderMarkGoesStraightToFieldMapping) {
    SessionFixture fixture;
    LogCapture log;
    fixture.launch();
    EXPECT_EQ(
        fixture.session.openFiles({fixture.file("bom.csv", "\xEF\xBB\xBFName,City\nAda,Köln\n")}),
        OpenFilesReply::success);
    ASSERT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
    for (const auto& page : fixture.frontEnd.pages)
        EXPECT_NE(page, "SetTextEncodingViewController");
    const auto& reader = *fixture.session.textReader();
    ASSERT_EQ(reader.dataRows().size(), 2u);
    EXPECT_EQ(reader.headerRowIndex(), 0);
    EXPECT_EQ(reader.dataRows()[0].cell(0).text(), "Name");
    EXPECT_TRUE(log.contains("Parsed 2 lines"));
    EXPECT_EQ(fixture.frontEnd.sheetsShown, fixture.frontEnd.sheetsClosed);
    // Back from field mapping leads to the encoding page, which shows the file again.
    EXPECT_EQ(fixture.session.currentPage()->previousPageName(), "SetTextEncodingViewController");
    fixture.session.showPreviousPage();
    fixture.drain();
    EXPECT_EQ(encodingPage(fixture).selectedEncoding(), TextEncoding::utf8());
}

TEST(TextImportFlow, UntrustedFilesAreConfirmedOnTheEncodingPage) {
    SessionFixture fixture;
    fixture.launch();
    fixture.settings.set(SettingKey::TrustBOMs, PropertyValue(false));
    (void)fixture.session.openFiles({fixture.file("bom.csv", "\xEF\xBB\xBFName,City\nAda,Köln\n")});
    ASSERT_TRUE(fixture.runUntilPage("SetTextEncodingViewController"));
    auto& page = encodingPage(fixture);
    EXPECT_EQ(page.status(), EncodingStatus::ok);
    EXPECT_EQ(page.statusText(),
              "Please check that the chosen encoding makes special characters look correct.");
    EXPECT_TRUE(page.isContinueEnabled());
    EXPECT_EQ(page.previewText(), "Name,City\nAda,Köln\n");
    EXPECT_EQ(fixture.frontEnd.sheetsClosed, fixture.frontEnd.sheetsShown);
    page.continueAction(fixture.session);
    ASSERT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
    EXPECT_EQ(fixture.session.textReader()->dataRows().size(), 2u);
}

TEST(TextImportFlow, ChoosingAnEncodingThatFailsKeepsTheUserOnThePage) {
    SessionFixture fixture;
    fixture.launch();
    (void)fixture.session.openFiles(
        {fixture.file("latin1.csv", "Name,Stadt\r\nM\xFCller,K\xF6ln\r\n")});
    ASSERT_TRUE(fixture.runUntilPage("SetTextEncodingViewController"));
    auto& page = encodingPage(fixture);
    ASSERT_TRUE(page.isContinueEnabled());
    EXPECT_EQ(page.encodingItems().size() > 8, true);

    page.chooseEncoding(fixture.session, TextEncoding::utf16BigEndian());
    EXPECT_EQ(page.status(), EncodingStatus::notApplicable);
    EXPECT_EQ(
        page.statusText(),
        "The file’s content could not be interpreted using this encoding. Please choose another.");
    EXPECT_FALSE(page.isContinueEnabled());
    EXPECT_EQ(page.selectedEncoding(), TextEncoding::utf16BigEndian());
    EXPECT_EQ(fixture.frontEnd.beeps, 1);
    const auto runs = page.previewRuns();
    EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [](const PreviewRun& run) {
        return run.characterClass == PreviewCharacterClass::nonASCII;
    }));

    page.chooseEncoding(fixture.session, TextEncoding::windowsLatin1());
    EXPECT_TRUE(page.isContinueEnabled());
    EXPECT_EQ(page.previewText(), "Name,Stadt\r\nMüller,Köln\r\n");
    page.continueAction(fixture.session);
    ASSERT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
    EXPECT_EQ(fixture.session.textReader()->dataRows()[1].cell(0).text(), "Müller");
}

TEST(TextImportFlow, AUtf8FileWithStrayBytesSaysSoOnTheEncodingPage) {
    SessionFixture fixture;
    fixture.launch();
    (void)fixture.session.openFiles({fixture.file(
        "stray.csv",
        "Name,City\nJ\xC3\xBCrgen,K\xC3\xB6ln\nZo\xC3\xAB,Z\xC3\xBCrich\nAn\xFFn,Bonn\n")});
    if (!fixture.runUntilPage("SetTextEncodingViewController")) {
        // Trusted detection goes straight on; the encoding page is one step back.
        ASSERT_TRUE(fixture.session.currentPage());
        fixture.session.showPreviousPage();
        fixture.drain();
    }
    auto& page = encodingPage(fixture);
    EXPECT_EQ(page.selectedEncoding(), TextEncoding::utf8());
    EXPECT_EQ(page.status(), EncodingStatus::ok);
    EXPECT_TRUE(page.statusText().starts_with(
        "The file is UTF-8. Byte sequences that are not valid UTF-8: 1;"))
        << page.statusText();
    EXPECT_NE(page.previewText().find("An\uFFFDn"), std::string::npos);
    EXPECT_TRUE(page.isContinueEnabled());
}

TEST(TextImportFlow, UnreadableFileEndsOnTheEncodingPageNotUnderASheet) {
    SessionFixture fixture;
    fixture.launch();
    (void)fixture.session.openFiles({fixture.file("empty.csv", "")});
    ASSERT_TRUE(fixture.runUntilPage("SetTextEncodingViewController"));
    auto& page = encodingPage(fixture);
    EXPECT_EQ(page.statusText(), "The file's content could not be read.");
    EXPECT_FALSE(page.isContinueEnabled());
    EXPECT_FALSE(fixture.session.isProgressSheetShown());
    page.continueAction(fixture.session);  // disabled: nothing happens
    fixture.drain();
    EXPECT_EQ(fixture.session.currentPage()->name(), "SetTextEncodingViewController");
}

TEST(TextImportFlow, RecordProgressStartsAtOneHundredAndOneExpectedRows) {
    for (const int lines : {99, 100}) {
        SessionFixture fixture;
        fixture.launch();
        fixture.settings.set(SettingKey::TrustBOMs, PropertyValue(true));
        std::shared_ptr<Progress> readingProgress;
        (void)fixture.session.openFiles(
            {fixture.file("rows.csv", "\xEF\xBB\xBF" + linesOfCsv(lines))});
        // Watch for the record progress while the parse runs.
        MainQueue::shared().runUntil(
            [&] {
                if (auto progress = fixture.session.currentProgress();
                    progress && progress->localizedDescription() == "Reading records…") {
                    readingProgress = progress;
                }
                return !fixture.frontEnd.pages.empty() &&
                       fixture.frontEnd.pages.back() == "FieldMappingViewController";
            },
            std::chrono::seconds(30));
        ASSERT_EQ(fixture.session.textReader()->proposedRowCount(),
                  static_cast<std::uint64_t>(lines + 1));
        if (lines + 1 >= 101) {
            ASSERT_NE(readingProgress, nullptr);
            EXPECT_EQ(readingProgress->totalUnitCount(), 101);
            EXPECT_EQ(readingProgress->localizedAdditionalDescription(),
                      "Parsed record 100 of 101…");
        } else {
            EXPECT_EQ(readingProgress, nullptr);
        }
    }
}

TEST(TextImportFlow, ParseErrorsShowTheTextFileAlert) {
    SessionFixture fixture;
    LogCapture log;
    fixture.launch();
    (void)fixture.session.openFiles(
        {fixture.file("broken.csv", "\xEF\xBB\xBFName,Phone\n\"Ada\"x,1\n")});
    MainQueue::shared().runUntil([&] { return !fixture.frontEnd.alerts.empty(); },
                                 std::chrono::seconds(30));
    ASSERT_EQ(fixture.frontEnd.alerts.size(), 1u);
    EXPECT_EQ(fixture.frontEnd.alerts[0].heading, "Could not parse text file");
    EXPECT_TRUE(log.contains("Error while parsing line 2, column 0"));
    EXPECT_TRUE(log.contains("Unexpected delimiter. Expected ',' (0x2C), but got 'x' (0x78)"));
    fixture.drain();
    EXPECT_EQ(fixture.session.currentPage()->name(), "InitialViewController");
    EXPECT_EQ(fixture.session.textReader(), nullptr);
}

}  // namespace
}  // namespace pelkora
