#include <gtest/gtest.h>
#include <sys/stat.h>

#include "SessionTestSupport.h"
#include "platform/Progress.h"
#include "session/ImportSession.h"
#include "session/SettingsKeys.h"

namespace pelkora {
namespace {

using test::LogCapture;
using test::SessionFixture;
using Names = std::vector<std::string>;

std::string bytesOfLength(std::size_t length, std::string_view prefix) {
    std::string bytes(prefix);
    bytes.resize(length, 'x');
    return bytes;
}

TEST(ImportSessionClassification, TypeIdentifiersDecideTheKind) {
    SessionFixture fixture;
    LogCapture log;
    auto& session = fixture.session;
    EXPECT_EQ(session.detectFileType(fixture.file("people.csv")), DetectedFileType::text);
    EXPECT_EQ(session.detectFileType(fixture.file("people.tab")), DetectedFileType::text);
    EXPECT_EQ(session.detectFileType(fixture.file("notes.txt")), DetectedFileType::text);
    EXPECT_EQ(session.detectFileType(fixture.file("card.vcf")), DetectedFileType::vCard);
    EXPECT_EQ(session.detectFileType(fixture.file("old.xls")), DetectedFileType::excel97Workbook);
    EXPECT_EQ(session.detectFileType(fixture.file("binary.xlsb")),
              DetectedFileType::binaryWorkbook);
    EXPECT_EQ(session.detectFileType(fixture.file("sheet.numbers")),
              DetectedFileType::numbersSpreadsheet);
    EXPECT_EQ(session.detectFileType(fixture.file("sheet.ods")),
              DetectedFileType::openDocumentSpreadsheet);
    EXPECT_EQ(session.detectFileType(fixture.file("book.xlsx")),
              DetectedFileType::officeOpenXMLSpreadsheet);
    EXPECT_EQ(session.detectFileType(fixture.file("macros.xlsm")),
              DetectedFileType::officeOpenXMLSpreadsheet);
    EXPECT_EQ(session.detectFileType(fixture.file("letter.docx")), DetectedFileType::unknown);
    EXPECT_TRUE(log.contains("Detected UTI: public.tab-separated-values-text"));

    // Where the name says nothing definite, the content decides; a known name is believed.
    const std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada\r\nEND:VCARD\r\n";
    EXPECT_EQ(session.detectFileType(fixture.file("card.txt", card)), DetectedFileType::vCard);
    EXPECT_EQ(session.detectFileType(fixture.file("card", card)), DetectedFileType::vCard);
    EXPECT_EQ(session.detectFileType(fixture.file("export")), DetectedFileType::text);
    EXPECT_EQ(session.detectFileType(fixture.file("photo", std::string("\x89PNG\r\n\0\0", 8))),
              DetectedFileType::unknown);
    EXPECT_EQ(session.detectFileType(fixture.file("card.csv", card)), DetectedFileType::text);
    EXPECT_EQ(session.detectFileType(fixture.file("letter.pdf", card)), DetectedFileType::unknown);

    EXPECT_EQ(session.detectFileType(fixture.folder / "missing.csv"), DetectedFileType::unknown);
    EXPECT_TRUE(log.contains("missing.csv"));
}

TEST(ImportSessionClassification, ContentDecidesForUnknownTypesOnlyWhenAllowed) {
    SessionFixture fixture;
    auto& session = fixture.session;
    const auto zip = fixture.file("a.bin", bytesOfLength(100, std::string("PK\x03\x04", 4)));
    const auto compound =
        fixture.file("b.bin", bytesOfLength(100, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"));
    const auto tiny = fixture.file("c.bin", bytesOfLength(31, std::string("PK\x03\x04", 4)));

    auto refused = session.openFile(zip);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), ImportError::unknownFormat);

    fixture.settings.set(SettingKey::TreatUnknownFileTypesAsText, PropertyValue(true));
    EXPECT_EQ(session.detectFileTypeByContent(zip), DetectedFileType::officeOpenXMLSpreadsheet);
    EXPECT_EQ(session.detectFileTypeByContent(compound), DetectedFileType::excel97Workbook);
    EXPECT_EQ(session.detectFileTypeByContent(tiny), DetectedFileType::text);
    EXPECT_EQ(session.detectFileTypeByContent(fixture.folder / "absent.bin"),
              DetectedFileType::text);

    // Classified as a workbook by its zip signature, but it is no workbook package.
    auto damaged = session.openFile(zip);
    ASSERT_FALSE(damaged);
    EXPECT_EQ(damaged.error(), ImportError::unreadableExcelFile);
    auto legacy = session.openFile(compound);
    ASSERT_FALSE(legacy);
    EXPECT_EQ(legacy.error(), ImportError::unsupportedExcel97Workbook);
    ASSERT_TRUE(session.openFile(tiny));
    ASSERT_NE(session.textReader(), nullptr);
    EXPECT_EQ(session.textReader()->fileURL(), tiny);
}

TEST(ImportSessionClassification, TheUsersChoiceOverridesTheDetectedType) {
    SessionFixture fixture;
    auto& session = fixture.session;
    const auto table = fixture.file("contacts.vcf", "Name,Phone\nAda,1\n");
    session.setOpenAsFileType(static_cast<int>(OpenAsFileType::text));
    EXPECT_EQ(session.requestedFileType(table), DetectedFileType::text);
    session.setOpenAsFileType(static_cast<int>(OpenAsFileType::vCard));
    EXPECT_EQ(session.requestedFileType(fixture.file("people.csv")), DetectedFileType::vCard);
    session.setOpenAsFileType(static_cast<int>(OpenAsFileType::determineAutomatically));
    EXPECT_EQ(session.requestedFileType(table), DetectedFileType::vCard);
    EXPECT_FALSE(openAsFileTypeFromRawValue(5));
}

TEST(ImportSessionOpening, UnsupportedFormatsAreRefusedWithTheirAlert) {
    SessionFixture fixture;
    LogCapture log;
    fixture.launch();
    EXPECT_EQ(fixture.session.openFiles({fixture.file("old.xls")}), OpenFilesReply::failure);
    ASSERT_EQ(fixture.frontEnd.alerts.size(), 1u);
    EXPECT_EQ(fixture.frontEnd.alerts[0].heading, "Could not open file.");
    EXPECT_EQ(fixture.frontEnd.alerts[0].text,
              "The legacy “Excel 97–2004 Workbook” file format is not supported. Re-save the file "
              "as .xlsx, for example with LibreOffice Calc: soffice --convert-to xlsx FILE");
    EXPECT_TRUE(log.contains("An error occurred: Could not open file.: The legacy"));
    EXPECT_TRUE(fixture.session.filesToOpen().empty());

    EXPECT_EQ(fixture.session.openFiles({fixture.file("letter.docx")}), OpenFilesReply::failure);
    EXPECT_EQ(fixture.frontEnd.alerts.back().heading, "Unsupported file format");
    EXPECT_EQ(fixture.frontEnd.alerts.back().text,
              "Please provide an Excel file, a text file, or one or more vCards.");

    const auto other = presentationOf(ImportError::protectedExcelFile);
    EXPECT_EQ(other.heading, "The operation couldn’t be completed.");
    EXPECT_EQ(other.text, localizedDescription(ImportError::protectedExcelFile));
}

TEST(ImportSessionOpening, FoldersAndNamedPipesAreRefusedBeforeAnythingReadsThem) {
    SessionFixture fixture;
    fixture.launch();
    // A pipe nobody writes to would block the first read for ever; a folder named like a
    // text file has no content to read.
    const auto pipe = fixture.file("contacts.csv").parent_path() / "pipe.csv";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const auto folder = pipe.parent_path() / "folder.csv";
    std::filesystem::create_directory(folder);
    for (const auto& path : {pipe, folder}) {
        auto refused = fixture.session.openFile(path);
        ASSERT_FALSE(refused) << path;
        EXPECT_EQ(refused.error(), ImportError::notARegularFile);
    }
    EXPECT_EQ(fixture.session.openFiles({pipe}), OpenFilesReply::failure);
    EXPECT_NE(fixture.frontEnd.alerts.back().text.find("not a regular file"), std::string::npos);
    EXPECT_EQ(fixture.session.textReader(), nullptr);
}

TEST(ImportSessionOpening, OnlyTheFirstOfSeveralTabularFilesIsOpened) {
    SessionFixture fixture;
    fixture.launch();
    const auto first = fixture.file("first.csv");
    const auto second = fixture.file("second.csv");
    EXPECT_EQ(fixture.session.openFiles({first, second}), OpenFilesReply::success);
    ASSERT_NE(fixture.session.textReader(), nullptr);
    EXPECT_EQ(fixture.session.textReader()->fileURL(), first);
    EXPECT_EQ(fixture.settings.stringForKey(SettingKey::MostRecentDocumentFileURL),
              "file://" + first.string());
    // The examining progress is shown until the encoding page takes over.
    EXPECT_EQ(fixture.frontEnd.sheetsShown, 1);
    EXPECT_EQ(fixture.session.currentProgress()->localizedDescription(), "Examining text file…");
    fixture.runUntilPage("SetTextEncodingViewController");
    EXPECT_EQ(fixture.frontEnd.sheetsClosed, 1);
}

TEST(ImportSessionOpening, FilesArrivingDuringLaunchWaitForItsEnd) {
    SessionFixture fixture;
    EXPECT_EQ(fixture.session.openFiles({fixture.file("early.csv")}), OpenFilesReply::deferred);
    EXPECT_EQ(fixture.session.textReader(), nullptr);
    fixture.launch();
    EXPECT_NE(fixture.session.textReader(), nullptr);
    EXPECT_TRUE(fixture.session.filesToOpen().empty());
}

TEST(ImportSessionOpening, VCardsOpenedDuringLaunchKeepTheScanPageWhenAccessIsAnswered) {
    SessionFixture fixture;
    const auto card = fixture.file("early.vcf", "BEGIN:VCARD\r\nFN:Ada\r\nEND:VCARD\r\n");
    EXPECT_EQ(fixture.session.openFiles({card}), OpenFilesReply::deferred);
    fixture.launch();
    fixture.drain();
    ASSERT_FALSE(fixture.frontEnd.pages.empty());
    EXPECT_EQ(fixture.frontEnd.pages.back(), "VCFScanViewController");
}

TEST(ImportSessionOpening, VCardBatchKeepsTheVCardsAndLogsEachStrayFile) {
    SessionFixture fixture;
    LogCapture log;
    fixture.launch();
    const auto a = fixture.file("a.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n");
    const auto stray = fixture.file("stray.txt");
    const auto b = fixture.file("b.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n");
    EXPECT_EQ(fixture.session.openFiles({a, stray, b}), OpenFilesReply::failure);
    fixture.drain();
    EXPECT_EQ(fixture.session.vCardUrls(), (std::vector<std::filesystem::path>{a, b}));
    EXPECT_EQ(log.count("Error: File seems not to be a vCard [NSFilePath=file://"), 1u);
    EXPECT_TRUE(log.contains("stray.txt]"));
    EXPECT_EQ(fixture.frontEnd.pages.back(), "VCFScanViewController");
}

TEST(ImportSessionOpening, OpenPanelChoiceIsResetAfterEachOpen) {
    SessionFixture fixture;
    fixture.launch();
    const auto workbook = fixture.file("book.xlsx");

    fixture.session.setOpenAsFileType(3);
    fixture.session.openPanelDidEnd(std::nullopt);  // cancelled: the choice stays
    EXPECT_EQ(fixture.session.openAsFileType(), OpenAsFileType::text);
    fixture.session.setOpenAsFileType(7);  // not a tag of the pop-up
    EXPECT_EQ(fixture.session.openAsFileType(), OpenAsFileType::text);

    fixture.session.openPanelDidEnd(std::vector<std::filesystem::path>{workbook});
    ASSERT_NE(fixture.session.textReader(), nullptr);
    EXPECT_EQ(fixture.session.textReader()->fileURL(), workbook);
    EXPECT_EQ(fixture.session.openAsFileType(), OpenAsFileType::determineAutomatically);

    // Without the choice the name decides: a workbook, which this text is not.
    fixture.session.openPanelDidEnd(std::vector<std::filesystem::path>{workbook});
    EXPECT_EQ(fixture.session.excelReader(), nullptr);
    ASSERT_FALSE(fixture.frontEnd.alerts.empty());
}

TEST(ImportSessionOpening, DroppedFilesAreOpenedOnTheMainQueue) {
    SessionFixture fixture;
    fixture.launch();
    EXPECT_EQ(fixture.session.draggingEntered(Pasteboard{{"public.url"}, std::nullopt}),
              DragOperation::none);
    EXPECT_EQ(fixture.session.draggingEntered(
                  Pasteboard{{std::string(kFilenamesPboardType)}, std::nullopt}),
              DragOperation::copy);
    auto* start = dynamic_cast<InitialPage*>(fixture.session.currentPage());
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(start->isDropTargetHighlighted());

    EXPECT_FALSE(fixture.session.performDragOperation(
        Pasteboard{{std::string(kFilenamesPboardType)}, std::vector<std::string>{}}));
    EXPECT_FALSE(start->isDropTargetHighlighted());
    const auto dropped = fixture.file("dropped.csv");
    EXPECT_TRUE(fixture.session.performDragOperation(Pasteboard{
        {std::string(kFilenamesPboardType)}, std::vector<std::string>{dropped.string()}}));
    EXPECT_EQ(fixture.session.textReader(), nullptr);
    fixture.drain();
    ASSERT_NE(fixture.session.textReader(), nullptr);
    EXPECT_EQ(fixture.session.textReader()->fileURL(), dropped);
}

TEST(ImportSessionLaunch, CountsLaunchesAndRunsThatDidNotEndCleanly) {
    test::TemporaryDirectory folder;
    const auto settingsFile = folder / "settings.plist";
    MainQueue::shared().adoptCurrentThreadAsMain();
    auto launch = [&](bool terminateCleanly) {
        SettingsStore settings(settingsFile);
        ImportSession session(settings, std::make_shared<AlwaysAuthorizedProvider>());
        session.applicationDidFinishLaunching();
        MainQueue::shared().drain();
        EXPECT_FALSE(settings.boolForKey(SettingKey::TerminatedProperly));
        if (terminateCleanly) session.applicationWillTerminate();
        // Without termination the process "dies": only what was written so far survives.
    };
    auto stored = [&](std::string_view key) {
        return SettingsStore(settingsFile).integerForKey(std::string(key));
    };

    launch(false);  // the very first launch never counts as a crash
    EXPECT_EQ(stored(SettingKey::NumberOfLaunches), 1);
    EXPECT_EQ(stored(SettingKey::NumberOfCrashes), 0);
    launch(true);  // still FirstLaunch: the first run never terminated
    EXPECT_EQ(stored(SettingKey::NumberOfCrashes), 0);
    launch(false);  // the previous run ended cleanly
    EXPECT_EQ(stored(SettingKey::NumberOfCrashes), 0);
    launch(true);  // the previous run did not
    EXPECT_EQ(stored(SettingKey::NumberOfLaunches), 4);
    EXPECT_EQ(stored(SettingKey::NumberOfCrashes), 1);
    EXPECT_TRUE(SettingsStore(settingsFile).boolForKey(SettingKey::TerminatedProperly));
    EXPECT_FALSE(SettingsStore(settingsFile).boolForKey(SettingKey::FirstLaunch));
}

TEST(ImportSessionLaunch, FirstPageFollowsTheAuthorizationStatus) {
    const std::pair<AuthorizationStatus, std::string> cases[] = {
        {AuthorizationStatus::notDetermined, "AuthStatusNotDeterminedViewController"},
        {AuthorizationStatus::restricted, "RestrictedAccessViewController"},
        {AuthorizationStatus::denied, "NoAccessViewController"},
        {AuthorizationStatus::authorized, "InitialViewController"},
    };
    for (const auto& [status, page] : cases) {
        auto authorization = std::make_shared<test::ScriptedAuthorization>(status);
        SessionFixture fixture(authorization);
        fixture.launch();
        EXPECT_EQ(fixture.frontEnd.pages, Names{page});
        // Granting access later shows the start page.
        authorization->status = AuthorizationStatus::authorized;
        ASSERT_TRUE(authorization->pending);
        authorization->pending(true);
        fixture.drain();
        EXPECT_EQ(fixture.frontEnd.pages.back(), "InitialViewController");
    }
}

TEST(ImportSessionLaunch, OpeningIsRefusedWithoutAccessToContacts) {
    auto authorization = std::make_shared<test::ScriptedAuthorization>(AuthorizationStatus::denied);
    SessionFixture fixture(authorization);
    fixture.launch();
    EXPECT_FALSE(fixture.session.openDocument());
    EXPECT_EQ(fixture.session.openFiles({fixture.file("people.csv")}), OpenFilesReply::failure);
    EXPECT_EQ(fixture.session.textReader(), nullptr);
    EXPECT_TRUE(fixture.session.filesToOpen().empty());
}

class ImportSessionReaderEvents : public ::testing::Test {
  protected:
    // A reader that the test drives event by event; the session treats it as its workbook reader.
    std::shared_ptr<test::ScriptedReader> startReader(std::uint64_t proposedRowCount) {
        fixture.launch();
        auto reader =
            std::make_shared<test::ScriptedReader>(fixture.folder / "people.xlsx", "ExcelReader");
        reader->setProposedRowCount(proposedRowCount);
        fixture.session.adoptExcelReader(reader);
        reader->postDidBeginParsing();
        fixture.drain();
        return reader;
    }

    SessionFixture fixture;
    LogCapture log;
};

TEST_F(ImportSessionReaderEvents, SmallFilesGetNoDeterminateProgress) {
    auto reader = startReader(100);
    EXPECT_TRUE(log.contains("Did begin parsing file 'people.xlsx' with ExcelReader"));
    EXPECT_EQ(fixture.session.currentProgress(), nullptr);
    EXPECT_EQ(fixture.frontEnd.sheetsShown, 0);
    reader->postDidEndParsing();
    fixture.drain();
    EXPECT_EQ(fixture.frontEnd.pages.back(), "FieldMappingViewController");
    EXPECT_TRUE(log.contains("Did end parsing file"));
    EXPECT_FALSE(log.contains("Parsed 0 lines"));  // counted for text files only
}

TEST_F(ImportSessionReaderEvents, LargeFilesShowRecordProgress) {
    auto reader = startReader(101);
    const auto progress = fixture.session.currentProgress();
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->totalUnitCount(), 101);
    EXPECT_EQ(progress->localizedDescription(), "Reading records…");
    EXPECT_TRUE(progress->isCancellable());
    EXPECT_EQ(Progress::current(), progress);
    EXPECT_EQ(fixture.frontEnd.sheetsShown, 1);

    for (std::uint64_t record = 1; record <= 101; ++record) reader->notifyRecordParsed(record);
    fixture.drain();
    EXPECT_EQ(progress->localizedAdditionalDescription(), "Parsed record 101 of 101…");
    EXPECT_EQ(progress->completedUnitCount(), 101);

    reader->postDidEndParsing();
    fixture.drain();
    EXPECT_EQ(fixture.frontEnd.pages.back(), "FieldMappingViewController");
    EXPECT_EQ(fixture.frontEnd.sheetsClosed, 1);
    EXPECT_EQ(fixture.session.currentProgress(), nullptr);
}

TEST_F(ImportSessionReaderEvents, HundredthRecordIsReportedWithTheExpectedCount) {
    auto reader = startReader(101);
    for (std::uint64_t record = 1; record <= 100; ++record) reader->notifyRecordParsed(record);
    fixture.drain();
    EXPECT_EQ(fixture.session.currentProgress()->localizedAdditionalDescription(),
              "Parsed record 100 of 101…");
}

TEST_F(ImportSessionReaderEvents, CancellingEndsOnTheStartPageWithoutFieldMapping) {
    auto reader = startReader(5000);
    fixture.session.cancelCurrentProgress();
    EXPECT_TRUE(reader->shouldCancelParsing());
    // The parsing thread notices the flag and ends; its end event arrives after start over.
    reader->postDidEndParsing();
    fixture.drain();
    EXPECT_EQ(fixture.frontEnd.pages.back(), "InitialViewController");
    for (const auto& page : fixture.frontEnd.pages) EXPECT_NE(page, "FieldMappingViewController");
    EXPECT_EQ(fixture.frontEnd.sheetsClosed, 1);
    EXPECT_EQ(fixture.session.excelReader(), nullptr);
}

TEST_F(ImportSessionReaderEvents, EndAfterCancelFlagStillClosesTheSheet) {
    auto reader = startReader(5000);
    reader->setShouldCancelParsing(true);
    reader->postDidEndParsing();
    fixture.drain();
    EXPECT_NE(fixture.frontEnd.pages.back(), "FieldMappingViewController");
    EXPECT_EQ(fixture.frontEnd.sheetsClosed, 1);
}

TEST_F(ImportSessionReaderEvents, FailuresShowTheReadersAlertAndStartOver) {
    bool viewerCalled = false;
    fixture.session.setLogViewer([&](const std::filesystem::path&) {
        viewerCalled = true;
        return true;
    });
    fixture.frontEnd.alertAnswer = 1;  // "Open Runtime Log"
    auto reader = startReader(10);
    reader->postDidFail(ReaderError{{ReaderErrorKind::malformedContent, "Broken sheet"}});
    fixture.drain();
    ASSERT_EQ(fixture.frontEnd.alerts.size(), 1u);
    const auto& alert = fixture.frontEnd.alerts[0];
    EXPECT_EQ(alert.heading, "Could not parse Excel file");
    EXPECT_EQ(alert.detail, "Broken sheet");
    EXPECT_EQ(alert.buttons, (Names{"OK", "Open Runtime Log"}));
    EXPECT_TRUE(viewerCalled);
    EXPECT_TRUE(log.contains("did fail with error: Broken sheet"));
    EXPECT_EQ(fixture.session.excelReader(), nullptr);
    EXPECT_EQ(fixture.frontEnd.pages.back(), "InitialViewController");
}

TEST_F(ImportSessionReaderEvents, EventsOfADroppedReaderAreIgnored) {
    auto reader = startReader(10);
    reader->postDidEndParsing();
    fixture.session.startOver();
    reader.reset();  // the session held the only other reference
    fixture.drain();
    for (const auto& page : fixture.frontEnd.pages) EXPECT_NE(page, "FieldMappingViewController");
}

}  // namespace
}  // namespace pelkora
