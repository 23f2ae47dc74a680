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

std::string representation(const Contact& contact, const std::vector<std::string>& groups = {}) {
    auto vcard = vCardRepresentation(contact, groups);
    EXPECT_TRUE(vcard.has_value()) << (vcard ? "" : vcard.error().message);
    if (!vcard) return {};
    EXPECT_FALSE(vcard->pictureLeftOut);
    return vcard->text;
}

// The vCard's unfolded content line of the property (the first one), without its CR LF.
std::string contentLine(std::string_view vcard, std::string_view property) {
    std::string unfolded;
    for (const auto& line : physicalLines(vcard)) {
        if (line.starts_with(' ')) {
            unfolded += line.substr(1);
        } else {
            if (unfolded.starts_with(property) && unfolded.size() > property.size() &&
                (unfolded[property.size()] == ':' || unfolded[property.size()] == ';'))
                return unfolded;
            unfolded = line;
        }
    }
    return unfolded.starts_with(property) ? unfolded : std::string();
}

// MARK: - One vCard

// Readers split text values at unescaped commas and semicolons (python3-vobject, khard), and
// a note is what the user wrote: the line break the assembly ends every note with is no part
// of it.
TEST(VCardRepresentationTest, NotesAreEscapedAndEndWhereTheirTextEnds) {
    struct Case {
        const char* note;
        const char* line;
        const char* readBack;
    };
    const Case cases[] = {
        {"N com,ma", "NOTE:N com\\,ma", "N com,ma"},
        {"a;b", "NOTE:a\\;b", "a;b"},
        {"Saved in C:\\new\\notes", "NOTE:Saved in C:\\\\new\\\\notes", "Saved in C:\\new\\notes"},
        {"one\r\ntwo\rthree\nfour", "NOTE:one\\ntwo\\nthree\\nfour", "one\ntwo\nthree\nfour"},
        {"Knows Ann\nHOBBY: Chess\n", "NOTE:Knows Ann\\nHOBBY: Chess", "Knows Ann\nHOBBY: Chess"},
        {"x,;\\\r\n\n", "NOTE:x\\,\\;\\\\", "x,;\\"},
    };
    for (const auto& c : cases) {
        Contact contact = namedContact("Anna", "Berg");
        contact.note = c.note;
        const std::string vcard = representation(contact);
        EXPECT_EQ(contentLine(vcard, "NOTE"), c.line) << vcard;
        EXPECT_EQ(occurrences(vcard, "NOTE"), 1u);
        const auto entries = readVCards(vcard);
        ASSERT_TRUE(entries.has_value()) << entries.error().message;
        EXPECT_EQ(entries->at(0).contact.note, c.readBack) << c.line;
    }
}

TEST(VCardRepresentationTest, StructuredValuesEscapeWithinTheirComponents) {
    Contact contact = namedContact("Ann;e", "Berg, Jr.");
    contact.organizationName = "Berg; Sons";
    contact.departmentName = "R&D, North";
    PostalAddress address;
    address.street = "Main St 5; back, left";
    address.city = "Gent";
    contact.postalAddresses.push_back(labeled(std::string(Label::home), address));
    const std::string vcard = representation(contact);
    EXPECT_EQ(contentLine(vcard, "N"), "N:Berg\\, Jr.;Ann\\;e;;;") << vcard;
    EXPECT_EQ(contentLine(vcard, "ORG"), "ORG:Berg\\; Sons;R&D\\, North") << vcard;
    EXPECT_EQ(contentLine(vcard, "ADR"), "ADR;TYPE=HOME:;;Main St 5\\; back\\, left;Gent;;;")
        << vcard;
    const auto entries = readVCards(vcard);
    ASSERT_TRUE(entries.has_value()) << entries.error().message;
    const Contact& read = entries->at(0).contact;
    EXPECT_EQ(read.givenName, "Ann;e");
    EXPECT_EQ(read.familyName, "Berg, Jr.");
    EXPECT_EQ(read.departmentName, "R&D, North");
    ASSERT_EQ(read.postalAddresses.size(), 1u);
    EXPECT_EQ(read.postalAddresses[0].value.street, address.street);
}

// The exports write what `pelkora contacts export` writes, apart from the note's closing line
// break and the picture made JPEG.
TEST(VCardRepresentationTest, IsTheAddressBooksOwnVCard) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "A note\n";
    contact.phoneNumbers.push_back(labeled(std::string(Label::home), std::string("+32 2 555")));
    contact.contactRelations.push_back(
        labeled(std::string(RelationLabel::manager), ContactRelation{"Smith, Jane"}));
    contact.contactRelations.push_back(labeled(std::string("Coach"), ContactRelation{"Tom; Jr"}));
    const std::vector<std::string> groups{"Work", "Friends,Family"};
    Contact expected = contact;
    expected.note = "A note";
    VCardWriteOptions options;
    options.categories = [&](const Contact&) { return groups; };
    EXPECT_EQ(representation(contact, groups), dataWithContacts({expected}, options));
}

TEST(VCardRepresentationTest, GroupNamesWithCommasAreEscaped) {
    const std::string vcard =
        representation(namedContact("Anna", "Berg"), {"Work", "Friends,Family"});
    EXPECT_NE(vcard.find("\r\nCATEGORIES:Work,Friends\\,Family\r\n"), std::string::npos) << vcard;
    const auto entries = readVCards(vcard);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->at(0).categories, (std::vector<std::string>{"Work", "Friends,Family"}));
}

TEST(VCardRepresentationTest, BlankNoteIsNone) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = " \n\t\r\n";
    EXPECT_EQ(representation(contact).find("NOTE"), std::string::npos);
}

TEST(VCardRepresentationTest, PngPhotoBecomesFoldedJpeg) {
    Contact contact = namedContact("Anna", "Berg");
    contact.imageData = imageFile("wide-3x2.png");
    const std::string vcard = representation(contact);
    EXPECT_EQ(occurrences(vcard, "PHOTO"), 1u);

    const std::string prefix = "PHOTO;ENCODING=b;TYPE=JPEG:";
    const std::string line = contentLine(vcard, "PHOTO");
    ASSERT_TRUE(line.starts_with(prefix)) << vcard;
    for (const auto& physical : physicalLines(vcard)) EXPECT_LE(physical.size(), 75u);
    const std::string encoded = line.substr(prefix.size());
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

// A picture the export cannot write costs the picture, never the contact.
TEST(VCardRepresentationTest, PictureThatCannotBeWrittenIsLeftOutOfAWholeVCard) {
    std::vector<std::uint8_t> tooLarge = imageFile("tall-4x9.jpg");
    tooLarge.resize(kMaximumPhotoBase64Characters / 4 * 3 + 3, 0);
    std::vector<std::uint8_t> atTheLimit = tooLarge;
    atTheLimit.resize(kMaximumPhotoBase64Characters / 4 * 3);
    const struct {
        const char* name;
        std::vector<std::uint8_t> picture;
        bool leftOut;
    } cases[] = {
        {"no picture", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}, true},
        {"cut PNG", imageFile("truncated.png"), true},
        {"Base64 past the limit", tooLarge, true},
        {"Base64 at the limit", atTheLimit, false},
    };
    for (const auto& c : cases) {
        Contact contact = namedContact("Anna", "Berg");
        contact.note = "kept";
        contact.imageData = c.picture;
        const auto vcard = vCardRepresentation(contact, {"Work"});
        ASSERT_TRUE(vcard.has_value()) << c.name;
        EXPECT_EQ(vcard->pictureLeftOut, c.leftOut) << c.name;
        EXPECT_EQ(occurrences(vcard->text, "PHOTO"), c.leftOut ? 0u : 1u) << c.name;
        const auto entries = readVCards(vcard->text);
        ASSERT_TRUE(entries.has_value()) << c.name;
        EXPECT_EQ(entries->at(0).contact.note, "kept") << c.name;
        EXPECT_EQ(entries->at(0).contact.familyName, "Berg") << c.name;
        EXPECT_EQ(entries->at(0).categories, std::vector<std::string>{"Work"}) << c.name;
    }
}

TEST(VCardRepresentationTest, TextThatIsNotUtf8Fails) {
    Contact contact = namedContact("Anna", "Berg");
    contact.note = "bad \xFF byte";
    EXPECT_FALSE(vCardRepresentation(contact, {}).has_value());
    contact.note.clear();
    EXPECT_FALSE(vCardRepresentation(contact, {"Caf\xE9"}).has_value());
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

TEST(VCardFileBaseNameTest, SeparatorsControlCharactersAndLeadingDotsAreReplaced) {
    EXPECT_EQ(vCardFileBaseName(namedContact("AC/DC:", "Live")), "AC_DC_ Live");
    EXPECT_EQ(vCardFileBaseName(namedContact("a\\b", "")), "a_b");
    EXPECT_EQ(vCardFileBaseName(namedContact("../x", "")), "_._x");
    EXPECT_EQ(vCardFileBaseName(namedContact(".hidden", "")), "_hidden");
    EXPECT_EQ(vCardFileBaseName(Contact::makeNew()), "Contact");
    EXPECT_EQ(vCardFileBaseName(namedContact("Ada\x1B[2J\tLove", "lace\r\n\x7F")),
              "Ada_[2J_Love lace___");
    EXPECT_EQ(vCardFileBaseName(namedContact("Zoë\xC2\x9B"
                                             "31m",
                                             "Ünal")),
              "Zoë_31m Ünal");
    EXPECT_EQ(vCardFileBaseName(namedContact(std::string("a\0b", 3), "")), "a_b");
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
    void importOperationDidWarn(const std::vector<std::string>& lines) override {
        events.push_back("warned");
        warnings = lines;
    }
    void importOperationDidFinish() override { events.push_back("finished"); }

    std::vector<std::string> events;
    std::uint64_t lastProgress = 0;
    std::optional<ImportOperationError> failure;
    std::vector<std::string> warnings;
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
    EXPECT_NE(test::readFile(folder / "Anna Berg 2.vcf").find("NOTE:second\r\n"),
              std::string::npos);
    EXPECT_NE(test::readFile(folder / "Contact 2.vcf").find("NOTE:nameless too\r\n"),
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
    reader->addRow({"Zoë", "Åberg", "Prefers e-mail, not calls; see C:\\notes", "Friends"});
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
              "Anna Berg\t\"Line one\\nLine two\"\tWork|Friends\tffd8ff\t1\n"
              "Zo\xC3\xAB \xC3\x85"
              "berg\t\"Prefers e-mail, not calls; see C:\\\\notes\"\tFriends\t\t0\n"
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

TEST_F(VCardExportOperationTest, GroupExportOnAFullDiskKeepsTheOldFile) {
    reader->addRow({"Anna", "Berg"});
    test::writeFile(folder / "all.vcf", "the old file");
    test::LogCapture log;
    {
        test::ScopedFileSizeLimit full(16);
        runExport<GroupVCardExportOperation>(folder / "all.vcf");
    }
    EXPECT_TRUE(log.contains("Can't write vCard string to '" + (folder / "all.vcf").string()));
    EXPECT_FALSE(log.contains("vCard file created!"));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "progress 1", "failed"}));
    EXPECT_EQ(test::readFile(folder / "all.vcf"), "the old file");
    EXPECT_EQ(filesIn(folder.path()), std::set<std::string>{"all.vcf"});
}

// The group file goes where the user said: a symbolic link there is replaced by the file, and
// the file it pointed to (perhaps the input, perhaps someone else's) stays as it was. A device
// is no file to replace.
TEST_F(VCardExportOperationTest, GroupExportReplacesASymbolicLinkAndNoDevice) {
    reader->addRow({"Anna", "Berg"});
    test::writeFile(folder / "elsewhere.csv", "First Name\nAnna\n");
    fs::create_symlink(folder / "elsewhere.csv", folder / "all.vcf");
    runExport<GroupVCardExportOperation>(folder / "all.vcf");
    EXPECT_EQ(delegate->events.back(), "finished");
    EXPECT_FALSE(fs::is_symlink(folder / "all.vcf"));
    EXPECT_TRUE(test::readFile(folder / "all.vcf").starts_with("BEGIN:VCARD\r\n"));
    EXPECT_EQ(test::readFile(folder / "elsewhere.csv"), "First Name\nAnna\n");

    if (!fs::exists("/dev/null")) return;
    runExport<GroupVCardExportOperation>(fs::path("/dev/null"));
    EXPECT_EQ(delegate->events.back(), "failed");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// A picture that cannot be written costs the picture, not the contact, and the export says so
// rather than "vCards saved".
TEST_F(VCardExportOperationTest, PictureThatCannotBeWrittenIsLeftOutAndReported) {
    const std::string cut =
        test::readFile(fs::path(PELKORA_TEST_DATA_DIR) / "images" / "truncated.png");
    DataRow withPicture(2);
    withPicture.addText(0, "Anna");
    withPicture.addText(1, "Berg");
    withPicture.addText(2, "Keeps her note, and her groups");
    withPicture.addText(3, "Work");
    withPicture.add(DataCell(5, PictureBytes(cut.begin(), cut.end())));
    reader->addRow(std::move(withPicture));
    reader->addRow({"Ben", "Berg"});
    test::LogCapture log;

    runExport<GroupVCardExportOperation>(folder / "all.vcf");

    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "progress 1", "progress 2",
                                                          "warned", "finished"}));
    EXPECT_EQ(delegate->warnings,
              std::vector<std::string>{
                  "1 picture could not be written; its contact was saved without it"});
    EXPECT_TRUE(log.contains("The picture of contact 'Anna Berg' could not be written"));
    const auto entries = readVCards(test::readFile(folder / "all.vcf"));
    ASSERT_TRUE(entries.has_value()) << entries.error().message;
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ(entries->at(0).contact.note, "Keeps her note, and her groups");
    EXPECT_EQ(entries->at(0).categories, std::vector<std::string>{"Work"});
    EXPECT_TRUE(entries->at(0).contact.imageData.empty());

    delegate->events.clear();
    fs::create_directory(folder / "cards");
    runExport<IndividualVCardsExportOperation>(folder / "cards");
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "progress 1", "progress 2",
                                                          "warned", "finished"}));
    EXPECT_EQ(filesIn(folder / "cards"), (std::set<std::string>{"Anna Berg.vcf", "Ben Berg.vcf"}));
}

TEST_F(VCardExportOperationTest, GroupContactThatCannotBeWrittenIsLeftOutAndReported) {
    reader->addRow({"Anna", "Berg", "broken \xFF note"});
    reader->addRow({"Ben", "Berg", "fine"});
    runExport<GroupVCardExportOperation>(folder / "all.vcf");
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"started", "progress 1", "warned", "finished"}));
    EXPECT_EQ(delegate->warnings,
              std::vector<std::string>{"1 contact could not be written and was left out"});
    EXPECT_EQ(occurrences(test::readFile(folder / "all.vcf"), "BEGIN:VCARD"), 1u);
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
    EXPECT_TRUE(filesIn(folder.path()).empty());
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "started"}));
}

TEST_F(VCardExportOperationTest, CancellingARunningExportStopsIt) {
    constexpr std::uint64_t rows = 20000;
    for (std::uint64_t i = 0; i < rows; ++i) reader->addRow({"Anna", "Berg " + std::to_string(i)});
    test::writeFile(folder / "all.vcf", "the old file");
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
    // A cancelled export leaves the file it would have replaced as it was, and no temporary.
    EXPECT_EQ(test::readFile(folder / "all.vcf"), "the old file");
    EXPECT_EQ(filesIn(folder.path()), std::set<std::string>{"all.vcf"});
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
