#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "import/ImportTestSupport.h"
#include "import/VCardExport.h"
#include "platform/ImageData.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"
#include "support/Utf8.h"
#include "vcard/VCard.h"

namespace pelkora {
namespace {

using namespace contacts;
namespace fs = std::filesystem;

std::size_t occurrences(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// The vCard's content lines as written (folded lines stay apart), without their CR LF.
std::vector<std::string> physicalLines(std::string_view vcard) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < vcard.size()) {
        const std::size_t end = vcard.find("\r\n", start);
        EXPECT_NE(end, std::string_view::npos) << "every line must end with CR LF";
        if (end == std::string_view::npos) break;
        lines.emplace_back(vcard.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::uint8_t> imageFile(const std::string& name) {
    const std::string bytes = test::readFile(fs::path(PELKORA_TEST_DATA_DIR) / "images" / name);
    EXPECT_FALSE(bytes.empty()) << name;
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> decodedBase64(std::string_view text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::vector<std::uint8_t> bytes;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : text) {
        const int digit = value(c);
        if (digit < 0) break;
        buffer = (buffer << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    return bytes;
}

Contact namedContact(std::string given, std::string family) {
    Contact contact = Contact::makeNew();
    contact.givenName = std::move(given);
    contact.familyName = std::move(family);
    return contact;
}

std::string representation(const Contact& contact, const std::vector<std::string>& groups = {},
                           std::optional<std::string_view> serialized = std::nullopt,
                           std::optional<std::string_view> identifier = std::nullopt) {
    auto vcard = vCardRepresentation(contact, serialized, groups, identifier);
    EXPECT_TRUE(vcard.has_value()) << (vcard ? "" : vcard.error().message);
    return vcard ? *vcard : std::string();
}

// MARK: - One vCard

TEST(VCardRepresentationTest, NoteLineEndsBecomeBackslashNOnOneLine) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "Line one\r\nLine two\rLine three\nLine four";
    const std::string vcard = representation(contact);
    EXPECT_NE(vcard.find("\r\nNOTE:Line one\\nLine two\\nLine three\\nLine four\r\nEND:VCARD\r\n"),
              std::string::npos)
        << vcard;
    EXPECT_EQ(occurrences(vcard, "NOTE"), 1u);
}

TEST(VCardRepresentationTest, NoteKeepsBackslashesReadable) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "Saved in C:\\new\\notes";
    const std::string vcard = representation(contact);
    const auto entries = readVCards(vcard);
    ASSERT_TRUE(entries.has_value()) << entries.error().message;
    EXPECT_EQ(entries->at(0).contact.note, contact.note);
}

TEST(VCardRepresentationTest, BlankNoteAndEmptySourcesAddNothing) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = " \n\t\r\n";
    const std::string vcard = representation(contact);
    EXPECT_EQ(vcard, dataWithContacts({contact}, vCardExportWriteOptions()));
}

TEST(VCardRepresentationTest, GroupNamesWithCommasAreEscaped) {
    const std::string vcard =
        representation(namedContact("Anna", "Berg"), {"Work", "Friends,Family"});
    EXPECT_NE(vcard.find("\r\nCATEGORIES:Work,Friends\\,Family\r\n"), std::string::npos) << vcard;
    const auto entries = readVCards(vcard);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->at(0).categories, (std::vector<std::string>{"Work", "Friends,Family"}));
}

TEST(VCardRepresentationTest, RelationsGetOtherTypeOrNumberedGroups) {
    Contact contact = namedContact("Anna", "Berg");
    contact.contactRelations.push_back(
        labeled(std::string(Label::other), ContactRelation{"Bob Other"}));
    const std::string single = representation(contact);
    EXPECT_EQ(occurrences(single, "X-ABRELATEDNAMES"), 1u);
    EXPECT_NE(single.find("\r\nX-ABRELATEDNAMES;TYPE=OTHER:Bob Other\r\nEND:VCARD"),
              std::string::npos)
        << single;
    EXPECT_EQ(single.find("item10001"), std::string::npos);

    contact.contactRelations.clear();
    contact.contactRelations.push_back(
        labeled(std::string(RelationLabel::manager), ContactRelation{"Smith, Jane"}));
    contact.contactRelations.push_back(labeled(std::string("Coach"), ContactRelation{"Tom; Jr"}));
    contact.contactRelations.push_back(labeled(std::string(), ContactRelation{"Eve"}));
    const std::string three = representation(contact);
    EXPECT_NE(three.find("\r\nitem10001.X-ABRELATEDNAMES:Smith\\, Jane\r\n"
                         "item10001.X-ABLABEL:manager\r\n"
                         "item10002.X-ABRELATEDNAMES:Tom\\; Jr\r\n"
                         "item10002.X-ABLABEL:Coach\r\n"
                         "item10003.X-ABRELATEDNAMES:Eve\r\n"
                         "item10003.X-ABLABEL:Relation\r\n"
                         "X-MANAGER:Smith\\, Jane\r\nEND:VCARD\r\n"),
              std::string::npos)
        << three;
    EXPECT_EQ(occurrences(three, "X-ABRELATEDNAMES"), 3u);
    EXPECT_EQ(three.find("_$!<"), std::string::npos) << "a stored label token is written";

    const auto entries = readVCards(three);
    ASSERT_TRUE(entries.has_value()) << entries.error().message;
    const auto& relations = entries->at(0).contact.contactRelations;
    ASSERT_EQ(relations.size(), 3u);
    EXPECT_EQ(relations[0].value.name, "Smith, Jane");
    EXPECT_EQ(relations[0].label, RelationLabel::manager);
    EXPECT_EQ(relations[1].value.name, "Tom; Jr");
    EXPECT_EQ(relations[1].label, "Coach");
}

TEST(VCardRepresentationTest, Version21DataGetsCharsetParameters) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "Grüße";
    const std::string handedIn =
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Berg;Anna;;;\r\nFN:Anna Berg\r\nEND:VCARD\r\n";
    const std::string vcard = representation(contact, {"Work"}, handedIn);
    EXPECT_EQ(vcard,
              "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Berg;Anna;;;\r\nFN:Anna Berg\r\n"
              "CATEGORIES;CHARSET=UTF-8:Work\r\nNOTE;CHARSET=UTF-8:Grüße\r\nEND:VCARD\r\n");
}

TEST(VCardRepresentationTest, InsertsBeforeLowerCaseEndAndLeavesVCardWithoutEnd) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "Hi";
    EXPECT_EQ(representation(contact, {}, "begin:vcard\r\nversion:3.0\r\nend:vcard\r\n"),
              "begin:vcard\r\nversion:3.0\r\nNOTE:Hi\r\nend:vcard\r\n");
    EXPECT_EQ(representation(contact, {}, "BEGIN:VCARD\r\nVERSION:3.0\r\n"),
              "BEGIN:VCARD\r\nVERSION:3.0\r\n");
}

TEST(VCardRepresentationTest, ExistingLinesAreNotRepeated) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "new note";
    contact.imageData = imageFile("tall-4x9.jpg");
    const std::string handedIn =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nCATEGORIES:Old\r\nPHOTO;ENCODING=b:AAAA\r\n"
        "NOTES:old\r\nX-ABUID:OLD\r\nEND:VCARD\r\n";
    EXPECT_EQ(representation(contact, {"Work"}, handedIn, "NEW"), handedIn);
}

TEST(VCardRepresentationTest, MarkerTextInsideAValueDoesNotSuppressALine) {
    Contact contact = namedContact("Anna", "Berg");
    contact.jobTitle = "NOTES: see CATEGORIES: PHOTO;";
    contact.note = "kept";
    const std::string vcard = representation(contact, {"Work"});
    EXPECT_NE(vcard.find("\r\nCATEGORIES:Work\r\n"), std::string::npos) << vcard;
    EXPECT_NE(vcard.find("\r\nNOTE:kept\r\n"), std::string::npos) << vcard;
}

TEST(VCardRepresentationTest, IdentifierOnlyWhenHandedIn) {
    const Contact contact = namedContact("Anna", "Berg");
    EXPECT_EQ(representation(contact).find("X-ABUID"), std::string::npos);
    EXPECT_NE(representation(contact, {}, std::nullopt, "ABC-123").find("\r\nX-ABUID:ABC-123\r\n"),
              std::string::npos);
}

TEST(VCardRepresentationTest, PngPhotoBecomesFoldedJpeg) {
    Contact contact = namedContact("Anna", "Berg");
    contact.imageData = imageFile("wide-3x2.png");
    const std::string vcard = representation(contact);
    EXPECT_EQ(occurrences(vcard, "PHOTO"), 1u);

    const std::vector<std::string> lines = physicalLines(vcard);
    const std::string prefix = "PHOTO;ENCODING=b;TYPE=JPEG:";
    const auto photo = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.starts_with(prefix);
    });
    ASSERT_NE(photo, lines.end()) << vcard;
    std::string encoded = photo->substr(prefix.size());
    EXPECT_EQ(encoded.size(), 75u);  // the image's Base64 is longer than one piece
    auto line = photo + 1;
    for (; line != lines.end() && line->starts_with(' '); ++line) {
        EXPECT_FALSE(line->starts_with("  "));
        EXPECT_LE(line->size(), 76u);
        if (line + 1 != lines.end() && (line + 1)->starts_with(' ')) {
            EXPECT_EQ(line->size(), 76u);
        }
        encoded += line->substr(1);
    }
    ASSERT_NE(line, lines.end());
    EXPECT_EQ(*line, "END:VCARD");
    EXPECT_GT(encoded.size(), 150u);
    const auto jpeg = decodedBase64(encoded);
    EXPECT_TRUE(isJpegData(jpeg));
    const auto size = imageSize(jpeg);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, 3);
    EXPECT_EQ(size->height, 2);

    const auto entries = readVCards(vcard);
    ASSERT_TRUE(entries.has_value()) << entries.error().message;
    EXPECT_EQ(entries->at(0).contact.imageData, jpeg);
}

TEST(VCardRepresentationTest, JpegPhotoIsUsedAsItIsAndThumbnailStandsIn) {
    Contact contact = namedContact("Anna", "Berg");
    contact.thumbnailImageData = imageFile("tall-4x9.jpg");
    const auto entries = readVCards(representation(contact));
    ASSERT_TRUE(entries.has_value()) << entries.error().message;
    EXPECT_EQ(entries->at(0).contact.imageData, contact.thumbnailImageData);
}

TEST(VCardRepresentationTest, PhotoFailuresNameTheirStep) {
    Contact contact = namedContact("Anna", "Berg");
    contact.imageData = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    auto vcard = vCardRepresentation(contact, std::nullopt, {});
    ASSERT_FALSE(vcard.has_value());
    EXPECT_EQ(vcard.error().message, "Failed to initialize NSImage from data");

    // A JPEG whose Base64 would pass 10,485,760 characters.
    contact.imageData = imageFile("tall-4x9.jpg");
    contact.imageData.resize(kMaximumPhotoBase64Characters / 4 * 3 + 3, 0);
    vcard = vCardRepresentation(contact, std::nullopt, {});
    ASSERT_FALSE(vcard.has_value());
    EXPECT_EQ(vcard.error().message, "Loop pass count maximum exceeded");

    // Exactly at the limit it is still written.
    contact.imageData.resize(kMaximumPhotoBase64Characters / 4 * 3);
    EXPECT_TRUE(vCardRepresentation(contact, std::nullopt, {}).has_value());
}

TEST(VCardRepresentationTest, TextThatIsNotUtf8FailsWithTheStepsMessage) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "bad \xFF byte";
    auto vcard = vCardRepresentation(contact, std::nullopt, {});
    ASSERT_FALSE(vcard.has_value());
    EXPECT_EQ(vcard.error().message,
              "Failed to convert the contact's notes string to a Data object using UTF-8 string "
              "encoding.");
    contact.note.clear();
    vcard = vCardRepresentation(contact, std::nullopt, {"Caf\xE9"});
    ASSERT_FALSE(vcard.has_value());
    EXPECT_EQ(vcard.error().message,
              "Failed to convert the contact's group names string to a Data object using UTF-8 "
              "string encoding.");
}

TEST(VCardRepresentationTest, EveryAddedPropertyAppearsExactlyOnce) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "A note";
    contact.imageData = imageFile("wide-3x2.png");
    contact.contactRelations.push_back(labeled(std::string(Label::other), ContactRelation{"Bob"}));
    const std::string vcard = representation(contact, {"Work"});
    for (const char* property : {"\nNOTE", "\nPHOTO", "\nCATEGORIES", "X-ABRELATEDNAMES"}) {
        EXPECT_EQ(occurrences(vcard, property), 1u) << property << "\n" << vcard;
    }
    const auto entries = readVCards(vcard);
    ASSERT_TRUE(entries.has_value()) << entries.error().message;
    EXPECT_EQ(entries->at(0).contact.note, "A note");
    EXPECT_EQ(entries->at(0).categories, std::vector<std::string>{"Work"});
    ASSERT_EQ(entries->at(0).contact.contactRelations.size(), 1u);
    EXPECT_EQ(entries->at(0).contact.contactRelations[0].label, Label::other);
}

TEST(VCardFileBaseNameTest, SeparatorsAndLeadingDotsCannotLeaveTheFolder) {
    EXPECT_EQ(vCardFileBaseName(namedContact("AC/DC:", "Live")), "AC_DC_ Live");
    EXPECT_EQ(vCardFileBaseName(namedContact("a\\b", "")), "a_b");
    EXPECT_EQ(vCardFileBaseName(namedContact("../x", "")), "_._x");
    EXPECT_EQ(vCardFileBaseName(namedContact(".hidden", "")), "_hidden");
    EXPECT_EQ(vCardFileBaseName(Contact::makeNew()), "Contact");
}

// MARK: - The operations

// A reader over rows the test makes; row 0 is the header row.
class RowsReader : public TabularDataReader {
  public:
    RowsReader() : TabularDataReader("rows.csv") {
        DataRow header(1);
        header.addText(0, "First Name");
        appendDataRow(std::move(header));
        setHeaderRowIndex(0);
    }
    void addRow(const std::vector<std::string>& texts) {
        DataRow row(static_cast<std::int64_t>(dataRows().size() + 1));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            row.addText(static_cast<std::int64_t>(i), texts[i]);
        }
        appendDataRow(std::move(row));
    }
    void addRow(DataRow row) { appendDataRow(std::move(row)); }
};

MappedContactProperty column(std::int64_t index, std::string_view key,
                             std::optional<std::string_view> label = std::nullopt) {
    return test::mappedColumn(index, key, std::nullopt, label);
}

// Columns: given name, family name, note, groups, relation (manager), picture.
std::vector<MappedContactProperty> standardColumns() {
    return {column(0, ContactKey::givenName),
            column(1, ContactKey::familyName),
            column(2, ContactKey::note),
            column(3, CustomPropertyKeys::Group),
            column(4, ContactKey::contactRelations, RelationLabel::manager),
            column(5, ContactKey::imageData)};
}

class RecordingDelegate : public ImportOperationDelegate {
  public:
    void importOperationDidStart() override { events.push_back("started"); }
    void importOperationDidProcess(std::uint64_t processed) override {
        events.push_back("progress " + std::to_string(processed));
        lastProgress = processed;
    }
    void importOperationDidFail(const ImportOperationError& error) override {
        events.push_back("failed");
        failure = error;
    }
    void importOperationDidFinish() override { events.push_back("finished"); }

    std::vector<std::string> events;
    std::uint64_t lastProgress = 0;
    std::optional<ImportOperationError> failure;
};

class VCardExportOperationTest : public ::testing::Test {
  protected:
    void SetUp() override { MainQueue::shared().adoptCurrentThreadAsMain(); }

    ImportSource source(std::vector<MappedContactProperty> columns = standardColumns()) const {
        ImportSource importSource;
        importSource.reader = reader;
        importSource.mappedProperties = std::move(columns);
        return importSource;
    }

    template <typename Export>
    void runExport(std::optional<fs::path> destination, ImportSource importSource) {
        auto exporter =
            std::make_shared<Export>(delegate, std::move(importSource), std::move(destination));
        auto operation = VCardExportOperation::addToQueue(queue, exporter);
        operation->waitUntilFinished();
        MainQueue::shared().drain();
    }
    template <typename Export>
    void runExport(std::optional<fs::path> destination) {
        runExport<Export>(std::move(destination), source());
    }

    std::set<std::string> filesIn(const fs::path& folder) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    std::shared_ptr<RowsReader> reader = std::make_shared<RowsReader>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    OperationQueue queue{"vcard-export-test"};
    test::TemporaryDirectory folder;
};

TEST_F(VCardExportOperationTest, IndividualFilesAreNamedAfterTheContactsAndNumbered) {
    reader->addRow({"Anna", "Berg", "first"});
    reader->addRow({"Anna", "Berg", "second"});
    reader->addRow({"Anna", "Berg", "third"});
    reader->addRow({"AC/DC:", "Live"});
    reader->addRow({"", "", "nameless"});
    reader->addRow({"", "", "nameless too"});
    reader->addRow({"", ""});  // an empty row is skipped

    runExport<IndividualVCardsExportOperation>(folder.path());

    EXPECT_EQ(filesIn(folder.path()),
              (std::set<std::string>{"Anna Berg.vcf", "Anna Berg 2.vcf", "Anna Berg 3.vcf",
                                     "AC_DC_ Live.vcf", "Contact.vcf", "Contact 2.vcf"}));
    EXPECT_NE(test::readFile(folder / "Anna Berg 2.vcf").find("NOTE:second\\n"), std::string::npos);
    EXPECT_NE(test::readFile(folder / "Contact 2.vcf").find("NOTE:nameless too\\n"),
              std::string::npos);
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"started", "progress 1", "progress 2", "progress 3",
                                        "progress 4", "progress 5", "progress 6", "finished"}));
}

// The card of an address that names its country only by name carries the country's code
// (Apple's X-ABADR), so that the program reading it lays the address out for that country;
// the postal code keeps that country's digit count.
TEST_F(VCardExportOperationTest, AddressCarriesTheCodeOfTheCountryItNames) {
    const auto postal = [](std::int64_t index, std::string_view subKey) {
        MappedContactProperty property;
        property.columnIndex = index;
        property.contactProperty =
            SuggestedContactProperty::target(ContactKey::postalAddresses, subKey);
        property.contactProperty.setLabel(Label::work);
        return property;
    };
    DataRow row(2);
    row.addText(0, "Claire");
    row.addText(1, "Dubois");
    row.addText(2, "Rue Neuve 1");
    row.add(DataCell(3, 1000.0));
    row.addText(4, "Bruxelles");
    row.addText(5, "Belgique");
    reader->addRow(std::move(row));

    runExport<IndividualVCardsExportOperation>(
        folder.path(),
        source({column(0, ContactKey::givenName), column(1, ContactKey::familyName),
                postal(2, PostalAddressKey::street), postal(3, PostalAddressKey::postalCode),
                postal(4, PostalAddressKey::city), postal(5, PostalAddressKey::country)}));

    const std::string vcard = test::readFile(folder / "Claire Dubois.vcf");
    EXPECT_EQ(occurrences(vcard, ".X-ABADR:be\r\n"), 1u) << vcard;
    const auto entries = readVCards(vcard);
    ASSERT_TRUE(entries.has_value()) << entries.error().message;
    ASSERT_EQ(entries->at(0).contact.postalAddresses.size(), 1u);
    const PostalAddress& address = entries->at(0).contact.postalAddresses[0].value;
    EXPECT_EQ(address.postalCode, "1000");
    EXPECT_EQ(address.country, "Belgique");
    EXPECT_EQ(address.isoCountryCode, "be");
}

TEST_F(VCardExportOperationTest, IndividualExportNeverOverwritesExistingFiles) {
    test::writeFile(folder / "Anna Berg.vcf", "keep me");
    test::writeFile(folder / "Anna Berg 3.vcf", "keep me too");
    reader->addRow({"Anna", "Berg"});
    reader->addRow({"Anna", "Berg"});

    runExport<IndividualVCardsExportOperation>(folder.path());

    EXPECT_EQ(test::readFile(folder / "Anna Berg.vcf"), "keep me");
    EXPECT_EQ(test::readFile(folder / "Anna Berg 3.vcf"), "keep me too");
    EXPECT_TRUE(test::readFile(folder / "Anna Berg 2.vcf").starts_with("BEGIN:VCARD"));
    EXPECT_TRUE(test::readFile(folder / "Anna Berg 4.vcf").starts_with("BEGIN:VCARD"));
    EXPECT_EQ(delegate->events.back(), "finished");
}

TEST_F(VCardExportOperationTest, IndividualFileNamesStayInTheFolderAndFitTheFileSystem) {
    fs::create_directory(folder / "out");
    std::string longName;
    for (int i = 0; i < 200; ++i) longName += "é";  // 400 bytes
    reader->addRow({"../../escape", ""});
    reader->addRow({".profile", ""});
    reader->addRow({longName, ""});
    reader->addRow({longName, ""});

    runExport<IndividualVCardsExportOperation>(folder / "out");

    EXPECT_EQ(filesIn(folder.path()), std::set<std::string>{"out"});
    const auto names = filesIn(folder / "out");
    ASSERT_EQ(names.size(), 4u);
    EXPECT_TRUE(names.contains("_._.._escape.vcf"));
    EXPECT_TRUE(names.contains("_profile.vcf"));
    for (const auto& name : names) {
        EXPECT_LE(name.size(), 255u);
        EXPECT_TRUE(name.ends_with(".vcf")) << name;
        for (std::size_t at = 0; at < name.size();) {
            const std::size_t length =
                utf8::wellFormedSequenceLength(std::string_view(name).substr(at));
            ASSERT_GT(length, 0u) << name;
            at += length;
        }
    }
    EXPECT_EQ(delegate->events.back(), "finished");
}

TEST_F(VCardExportOperationTest, IndividualContactWithoutVCardGetsADiagnosisFileAndFails) {
    reader->addRow({"Anna", "Berg", "broken \xFF note"});
    reader->addRow({"Ben", "Berg", "fine"});
    test::LogCapture log;

    runExport<IndividualVCardsExportOperation>(folder.path());

    EXPECT_EQ(filesIn(folder.path()),
              (std::set<std::string>{"Anna Berg (raw vcf data).zubdebugdata", "Ben Berg.vcf"}));
    EXPECT_TRUE(test::readFile(folder / "Anna Berg (raw vcf data).zubdebugdata")
                    .starts_with("BEGIN:VCARD"));
    EXPECT_TRUE(log.contains("Can't get vCard representation for contact 'Anna Berg'"));
    EXPECT_TRUE(log.contains("Attempting to write raw serialized vcard data to '" +
                             (folder / "Anna Berg (raw vcf data).zubdebugdata").string() +
                             "' for debugging purposes..."));
    EXPECT_TRUE(log.contains("Import error: "));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "progress 1", "failed"}));
    ASSERT_TRUE(delegate->failure.has_value());
    EXPECT_EQ(delegate->failure->kind, ImportOperationError::Kind::multipleVCardFilesNotCreated);
}

TEST_F(VCardExportOperationTest, IndividualExportIntoMissingFolderFailsEveryContact) {
    reader->addRow({"Anna", "Berg"});
    test::LogCapture log;
    runExport<IndividualVCardsExportOperation>(folder / "missing");
    EXPECT_TRUE(log.contains("Can't write vCard string to '" +
                             (folder / "missing" / "Anna Berg.vcf").string() + "': "));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "failed"}));
    EXPECT_EQ(delegate->failure->kind, ImportOperationError::Kind::multipleVCardFilesNotCreated);
}

TEST_F(VCardExportOperationTest, MissingReaderOrDestinationIsLoggedWithoutEvents) {
    reader->addRow({"Anna", "Berg"});
    test::LogCapture log;
    ImportSource withoutReader = source();
    withoutReader.reader.reset();
    runExport<GroupVCardExportOperation>(folder / "all.vcf", withoutReader);
    runExport<IndividualVCardsExportOperation>(std::nullopt);
    EXPECT_EQ(log.count("Can't create vCards: No tabularDataReader object provided!"), 1u);
    EXPECT_EQ(log.count("Can't create vCards: No destination url provided!"), 1u);
    EXPECT_TRUE(delegate->events.empty());
    EXPECT_TRUE(filesIn(folder.path()).empty());
}

TEST_F(VCardExportOperationTest, GroupFileIsReadByVobject) {
    const std::string png =
        test::readFile(fs::path(PELKORA_TEST_DATA_DIR) / "images" / "wide-3x2.png");
    DataRow withPicture(2);
    withPicture.addText(0, "Anna");
    withPicture.addText(1, "Berg");
    withPicture.addText(2, "Line one\r\nLine two");
    withPicture.addText(3, "Work; Friends");
    withPicture.addText(4, "Jane Boss");
    withPicture.add(DataCell(5, PictureBytes(png.begin(), png.end())));
    reader->addRow(std::move(withPicture));
    reader->addRow({"Zoë", "Åberg", "Prefers e-mail", "Friends"});
    reader->addRow({"", ""});
    reader->addRow({"John", "Smith", "", "", "Mary"});
    test::writeFile(folder / "all.vcf", std::string(100000, 'x'));  // replaced, not appended to
    test::LogCapture log;

    runExport<GroupVCardExportOperation>(folder / "all.vcf");

    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "progress 1", "progress 2",
                                                          "progress 3", "finished"}));
    EXPECT_TRUE(log.contains("vCard file created!"));
    const std::string file = test::readFile(folder / "all.vcf");
    EXPECT_TRUE(file.starts_with("BEGIN:VCARD\r\n"));
    EXPECT_EQ(occurrences(file, "BEGIN:VCARD"), 3u);

    const fs::path script = folder / "read.py";
    test::writeFile(script,
                    "import json, sys, vobject\n"
                    "with open(sys.argv[1], encoding='utf-8') as f:\n"
                    "    text = f.read()\n"
                    "for card in vobject.readComponents(text):\n"
                    "    note = card.note.value if hasattr(card, 'note') else ''\n"
                    "    cats = card.categories.value if hasattr(card, 'categories') else []\n"
                    "    photo = card.photo.value if hasattr(card, 'photo') else b''\n"
                    "    rel = card.contents.get('x-abrelatednames', [])\n"
                    "    print(card.fn.value, json.dumps(note), '|'.join(cats),\n"
                    "          photo[:3].hex(), len(rel), sep='\\t')\n");
    const fs::path output = folder / "read.txt";
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" +
                                (folder / "all.vcf").string() + "' > '" + output.string() +
                                "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << test::readFile(output);
    EXPECT_EQ(test::readFile(output),
              "Anna Berg\t\"Line one\\nLine two\\n\"\tWork|Friends\tffd8ff\t1\n"
              "Zo\xC3\xAB \xC3\x85"
              "berg\t\"Prefers e-mail\\n\"\tFriends\t\t0\n"
              "John Smith\t\"\"\t\t\t1\n");
}

TEST_F(VCardExportOperationTest, GroupFileThatCannotBeCreatedFails) {
    reader->addRow({"Anna", "Berg"});
    test::LogCapture log;
    const fs::path destination = folder / "missing" / "all.vcf";
    runExport<GroupVCardExportOperation>(destination);
    EXPECT_TRUE(log.contains("Can't create group vCard at path '" + destination.string() + "'"));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "failed"}));
    ASSERT_TRUE(delegate->failure.has_value());
    EXPECT_EQ(delegate->failure->kind, ImportOperationError::Kind::fileWriteNoPermission);
}

// An export whose writing breaks off with an exception, as a bug or a failed allocation would.
class ThrowingExportOperation final : public VCardExportOperation {
  public:
    using VCardExportOperation::VCardExportOperation;

  private:
    void exportRows(const Operation&, const fs::path&, std::span<const DataRow>) override {
        throw std::runtime_error("the picture is too large to encode");
    }
};

TEST_F(VCardExportOperationTest, ExceptionEscapingTheExportBecomesTheFailedEvent) {
    reader->addRow({"Anna", "Berg"});
    test::LogCapture log;
    const fs::path destination = folder / "all.vcf";
    runExport<ThrowingExportOperation>(destination);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "failed"}));
    ASSERT_TRUE(delegate->failure.has_value());
    EXPECT_EQ(delegate->failure->kind, ImportOperationError::Kind::internalFailure);
    EXPECT_EQ(delegate->failure->file, destination);
    EXPECT_NE(delegate->failure->message.find("“" + destination.string() + "”"), std::string::npos);
    EXPECT_NE(delegate->failure->message.find("the picture is too large to encode"),
              std::string::npos);
    EXPECT_TRUE(log.contains("stopped on an exception: the picture is too large to encode"));
}

TEST_F(VCardExportOperationTest, GroupExportReportsAFullDisk) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    reader->addRow({"Anna", "Berg"});
    test::LogCapture log;
    runExport<GroupVCardExportOperation>(fs::path("/dev/full"));
    EXPECT_TRUE(log.contains("Can't write vCard string to '/dev/full': "));
    EXPECT_FALSE(log.contains("vCard file created!"));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "progress 1", "failed"}));
}

TEST_F(VCardExportOperationTest, CancelledExportWritesNoMoreContactsAndSkipsFinished) {
    for (int i = 0; i < 3; ++i) reader->addRow({"Anna", "Berg"});
    Operation cancelled([](Operation&) {});
    cancelled.cancel();
    IndividualVCardsExportOperation individual(delegate, source(), folder / "");
    individual.run(cancelled);
    GroupVCardExportOperation group(delegate, source(), folder / "all.vcf");
    group.run(cancelled);
    MainQueue::shared().drain();
    EXPECT_EQ(filesIn(folder.path()), std::set<std::string>{"all.vcf"});
    EXPECT_EQ(test::readFile(folder / "all.vcf"), "");
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "started"}));
}

TEST_F(VCardExportOperationTest, CancellingARunningExportStopsIt) {
    constexpr std::uint64_t rows = 20000;
    for (std::uint64_t i = 0; i < rows; ++i) reader->addRow({"Anna", "Berg " + std::to_string(i)});
    auto exporter =
        std::make_shared<GroupVCardExportOperation>(delegate, source(), folder / "all.vcf");
    auto operation = VCardExportOperation::addToQueue(queue, exporter);
    ASSERT_TRUE(MainQueue::shared().runUntil([&] { return delegate->lastProgress > 0; }));
    operation->cancel();
    operation->waitUntilFinished();
    MainQueue::shared().drain();
    EXPECT_LT(delegate->lastProgress, rows);
    EXPECT_EQ(std::find(delegate->events.begin(), delegate->events.end(), "finished"),
              delegate->events.end());
    // The contacts written so far stay in the file.
    EXPECT_EQ(occurrences(test::readFile(folder / "all.vcf"), "END:VCARD"), delegate->lastProgress);
}

TEST_F(VCardExportOperationTest, EventsAreDroppedWhenTheDelegateIsGone) {
    reader->addRow({"Anna", "Berg"});
    auto exporter =
        std::make_shared<GroupVCardExportOperation>(delegate, source(), folder / "all.vcf");
    auto operation = VCardExportOperation::addToQueue(queue, exporter);
    operation->waitUntilFinished();
    std::weak_ptr<RecordingDelegate> gone = delegate;
    delegate.reset();
    EXPECT_NO_THROW(MainQueue::shared().drain());
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(occurrences(test::readFile(folder / "all.vcf"), "END:VCARD"), 1u);
}

}  // namespace
}  // namespace pelkora
