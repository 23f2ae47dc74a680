#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/Desktop.h"
#include "platform/FileTypes.h"

namespace pelkora::filetypes {
namespace {

TEST(FileTypes, ExtensionsMapToIdentifiersWithoutRegardToCase) {
    EXPECT_EQ(typeIdentifierForExtension("csv"), "public.comma-separated-values-text");
    EXPECT_EQ(typeIdentifierForExtension("CSV"), "public.comma-separated-values-text");
    EXPECT_EQ(typeIdentifierForExtension("Tab"), "public.tab-separated-values-text");
    EXPECT_EQ(typeIdentifierForExtension("vcf"), "public.vcard");
    EXPECT_EQ(typeIdentifierForExtension("xlsx"), "org.openxmlformats.spreadsheetml.sheet");
    EXPECT_EQ(typeIdentifierForExtension("xlsb"), "com.microsoft.excel.sheet.binary.macroenabled");
    EXPECT_EQ(typeIdentifierForExtension("docx"), "public.data");
    EXPECT_EQ(typeIdentifierForExtension(""), "public.data");
}

TEST(FileTypes, ContentNamesTheTypeOfAFileWithoutADefiniteName) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string_view> cases[] = {
        {"BEGIN:VCARD\r\nVERSION:3.0\r\n", "public.vcard"},
        {"\xEF\xBB\xBF\r\n  begin:vcard\nFN:A\n", "public.vcard"},
        {"\xFF\xFE"s + "B\0E\0G\0I\0N\0:\0V\0C\0A\0R\0D\0"s, "public.vcard"},
        {"\xFE\xFF"s + "\0B\0E\0G\0I\0N\0:\0V\0C\0A\0R\0D"s, "public.vcard"},
        {"\xFF\xFE"s + "N\0a\0m\0e\0"s, "public.plain-text"},
        {"Name,E-mail\nBEGIN:VCARD,x\n", "public.plain-text"},
        {"BEGIN:VCALENDAR\n", "public.plain-text"},
        {"", "public.plain-text"},
        {"\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, "public.data"},
        {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0"s, "com.microsoft.excel.xls"},
        {"PK\x03\x04\x14\0\0\0\0\0[Content_Types].xml PK\x03\x04 xl/workbook.xml"s,
         "org.openxmlformats.spreadsheetml.sheet"},
        {"PK\x03\x04\x14\0\0\0\0\0word/document.xml"s, "public.zip-archive"},
        {"PK\x03\x04"s + std::string(26, '\0') +
             "mimetypeapplication/vnd.oasis.opendocument.spreadsheet",
         "org.oasis-open.opendocument.spreadsheet"},
        {"PK\x03\x04"s, "public.zip-archive"},
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(typeIdentifierForContent(bytes), expected) << bytes;
}

TEST(FileTypes, ConformanceFollowsAncestors) {
    EXPECT_TRUE(
        conformsTo("public.comma-separated-values-text", "public.comma-separated-values-text"));
    EXPECT_TRUE(conformsTo("public.comma-separated-values-text", "public.text"));
    EXPECT_TRUE(conformsTo("public.vcard", "public.text"));
    EXPECT_TRUE(conformsTo("public.vcard", "public.contact"));
    EXPECT_TRUE(conformsTo("com.microsoft.excel.sheet.binary.macroenabled",
                           "com.microsoft.excel.sheet.binary"));
    EXPECT_TRUE(conformsTo("org.openxmlformats.spreadsheetml.sheet", "public.zip-archive"));
    EXPECT_FALSE(conformsTo("public.text", "public.plain-text"));
    EXPECT_FALSE(conformsTo("public.data", "public.text"));
    EXPECT_FALSE(conformsTo("com.example.unknown", "public.data"));
    // Every declared parent is itself declared, so no walk ends in an unknown type.
    for (auto type : {"public.vcard", "org.oasis-open.opendocument.spreadsheet",
                      "public.tab-separated-values-text", "com.apple.iwork.numbers.sffnumbers",
                      "com.microsoft.excel.xls"}) {
        EXPECT_TRUE(conformsTo(type, "public.item") || conformsTo(type, "public.content")) << type;
    }
}

TEST(FileTypes, FilesAreIdentifiedByExtensionAndMissingFilesFail) {
    test::TemporaryDirectory folder;
    test::writeFile(folder / "people.CSV", "a,b\n");
    test::writeFile(folder / "no-extension", "a,b\n");
    EXPECT_EQ(typeIdentifierForFile(folder / "people.CSV").value(),
              "public.comma-separated-values-text");
    EXPECT_EQ(typeIdentifierForFile(folder / "no-extension").value(), "public.data");
    EXPECT_EQ(typeIdentifierForFile(folder.path()).value(), "public.folder");
    const auto missing = typeIdentifierForFile(folder / "missing.csv");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("missing.csv"), std::string::npos);
}

TEST(Desktop, FileURLsPercentEncodeReservedCharacters) {
    EXPECT_EQ(desktop::fileURLString("/tmp/a b/Müller#1.csv"),
              "file:///tmp/a%20b/M%C3%BCller%231.csv");
}

}  // namespace
}  // namespace pelkora::filetypes
