// Opening a workbook: the validity check, the sheet chooser and the parse up to the
// field-mapping page.

#include <gtest/gtest.h>
#include <unistd.h>

#include "SessionTestSupport.h"
#include "addressbook/ContactKeys.h"
#include "input/ExcelReader.h"

namespace pelkora {
namespace {

using test::SessionFixture;

const std::filesystem::path kExamples =
    std::filesystem::path(PELKORA_TEST_DATA_DIR) / ".." / ".." / "examples";
const std::filesystem::path kWorkbooks = std::filesystem::path(PELKORA_TEST_DATA_DIR) / "xlsx";

TEST(WorkbookImportFlow, SeveralSheetsAskTheChooserAndTheChosenSheetIsParsed) {
    test::ScopedXdgHome xdg;
    SessionFixture fixture;
    fixture.launch();
    EXPECT_EQ(fixture.session.openFiles({kExamples / "contacts.xlsx"}), OpenFilesReply::success);
    ASSERT_EQ(fixture.frontEnd.sheetChoices.size(), 1u);
    EXPECT_EQ(fixture.frontEnd.sheetChoices[0],
              (std::vector<SheetChoice>{{"Overview", 1}, {"People", 2}}));
    EXPECT_EQ(fixture.session.currentProgress()->localizedDescription(), "Reading Excel file…");

    fixture.session.sheetSelected(99);  // no such sheet: nothing is parsed
    fixture.drain();
    EXPECT_TRUE(fixture.session.excelReader()->dataRows().empty());

    fixture.session.sheetSelected(2);
    ASSERT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
    const auto& reader = *fixture.session.excelReader();
    EXPECT_EQ(reader.dataRows().size(), 5u);
    EXPECT_EQ(reader.headerRowIndex(), 0);
    EXPECT_EQ(dynamic_cast<const ExcelReader&>(reader).parsedSheetName(), "People");
    EXPECT_FALSE(fixture.session.isProgressSheetShown());
    // Back from the mapping page leads to the start page: there is no encoding page.
    EXPECT_EQ(fixture.session.currentPage()->previousPageName(), "InitialViewController");
}

TEST(WorkbookImportFlow, OneSheetIsParsedAtOnceAndDamagedPackagesAreRefused) {
    test::ScopedXdgHome xdg;
    SessionFixture fixture;
    fixture.launch();
    EXPECT_EQ(fixture.session.openFiles({kWorkbooks / "libreoffice-contacts.xlsx"}),
              OpenFilesReply::success);
    ASSERT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
    EXPECT_TRUE(fixture.frontEnd.sheetChoices.empty());
    EXPECT_EQ(fixture.session.excelReader()->dataRows().size(), 4u);

    // A zip without "[Content_Types].xml" is no workbook.
    const auto damaged =
        fixture.file("damaged.xlsx", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    auto refused = fixture.session.openFile(damaged);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), ImportError::unreadableExcelFile);
    EXPECT_EQ(fixture.session.excelReader(), nullptr);

    // A sound workbook the user may not read is reported as that, not as damaged.
    if (geteuid() != 0) {
        const auto locked =
            fixture.file("locked.xlsx", test::readFile(kWorkbooks / "libreoffice-contacts.xlsx"));
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        auto denied = fixture.session.openFile(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
        ASSERT_FALSE(denied);
        EXPECT_EQ(denied.error(), ImportError::permissionDenied);
        EXPECT_NE(presentationOf(denied.error()).text.find("permission denied"), std::string::npos);
    }
}

TEST(WorkbookImportFlow, SharedStringsLostWholeRefuseTheWorkbookAndLostInPartEmptyTheirCells) {
    test::ScopedXdgHome xdg;
    SessionFixture fixture;
    fixture.launch();
    auto refused = fixture.session.openFile(kWorkbooks / "shared-strings-unreadable.xlsx");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), ImportError::unreadableExcelFile);
    EXPECT_EQ(fixture.session.excelReader(), nullptr);

    EXPECT_EQ(fixture.session.openFiles({kWorkbooks / "shared-strings-cut-off.xlsx"}),
              OpenFilesReply::success);
    ASSERT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
    const auto& reader = *fixture.session.excelReader();
    ASSERT_EQ(reader.dataRows().size(), 4u);
    // The titles survived; the names of the next rows are empty cells, one problem each.
    EXPECT_EQ(reader.dataRows()[0].cellForColumn(0)->text(), "First Name");
    EXPECT_EQ(reader.dataRows()[1].cellForColumn(0)->kind(), CellKind::none);
    std::size_t cellProblems = 0;
    for (const auto& entry : reader.parseLog()) {
        if (entry.message.find("the cell is left empty") != std::string::npos) ++cellProblems;
    }
    // A2, B2, E2, A3, B3, A5, B5 and E5.
    EXPECT_EQ(cellProblems, 8u);
}

}  // namespace
}  // namespace pelkora
