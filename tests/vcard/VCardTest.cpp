#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "vcard/VCard.h"

namespace pelkora::contacts {
namespace {

const std::filesystem::path kVCards = std::filesystem::path(PELKORA_TEST_DATA_DIR) / "vcards";

// Labelled values get fresh identifiers whenever they are made, so comparisons leave them out.
Contact withoutLabelIdentifiers(Contact contact) {
    const auto forget = [](auto& values) {
        for (auto& value : values) value.identifier.clear();
    };
    forget(contact.dates);
    forget(contact.phoneNumbers);
    forget(contact.emailAddresses);
    forget(contact.urlAddresses);
    forget(contact.postalAddresses);
    forget(contact.contactRelations);
    forget(contact.socialProfiles);
    forget(contact.instantMessageAddresses);
    return contact;
}

// Equal but for the labelled values' identifiers; on a mismatch shows both as vCards.
testing::AssertionResult sameContact(const Contact& actual, const Contact& expected) {
    if (withoutLabelIdentifiers(actual) == withoutLabelIdentifiers(expected)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "expected:\n"
                                       << dataWithContacts({expected}) << "actual:\n"
                                       << dataWithContacts({actual});
}

std::vector<VCardEntry> read(std::string_view text) {
    auto entries = readVCards(text);
    EXPECT_TRUE(entries) << (entries ? "" : entries.error().message);
    return entries ? *entries : std::vector<VCardEntry>{};
}

Contact readOne(std::string_view text) {
    auto entries = read(text);
    EXPECT_EQ(entries.size(), 1u);
    return entries.empty() ? Contact{} : entries.front().contact;
}

std::string errorOf(std::string_view text) {
    auto entries = readVCards(text);
    EXPECT_FALSE(entries) << "read " << (entries ? entries->size() : 0) << " vCards";
    return entries ? "" : entries.error().message;
}

// A vCard 3.0 around the lines, joined by CR LF.
std::string vcard(std::string_view lines) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\n" + std::string(lines) + "END:VCARD\r\n";
}

Contact roundTrip(const Contact& contact) {
    const auto text = dataWithContacts({contact});
    return readOne(text);
}

std::vector<std::uint8_t> sampleJpeg() {
    std::vector<std::uint8_t> bytes = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F',
                                       0,    1,    1,    0,    0,    1,    0,   1,   0,   0};
    for (int i = 0; i < 120; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    return bytes;
}

// A contact with every field of the model set, labels of each kind among them.
Contact richContact() {
    Contact contact;
    contact.identifier = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
    contact.namePrefix = "Dr.";
    contact.givenName = "Zoë";
    contact.middleName = "Anne";
    contact.familyName = "Öztürk-Laurent";
    contact.previousFamilyName = "Schmidt";
    contact.nameSuffix = "PhD";
    contact.nickname = "Zo; the \"Brain\", \\o/";
    contact.phoneticGivenName = "Zo-ee";
    contact.phoneticMiddleName = "An";
    contact.phoneticFamilyName = "Ös-türk";
    contact.organizationName = "Müller & Söhne, GmbH";
    contact.departmentName = "Research; Optics";
    contact.jobTitle = "Chief Scientist";
    contact.phoneticOrganizationName = "Myuller";
    contact.note =
        "First line, with comma\nSecond line; with semicolon \\ and a very long tail "
        "that needs folding: 日本語のテキスト、絵文字 🎉🎉🎉 and more.";
    contact.birthday = DateComponents{std::nullopt, 3, 15, ""};
    contact.nonGregorianBirthday = DateComponents{4702, 8, 15, "chinese"};
    contact.dates = {labeled(std::string(Label::anniversary), DateComponents{2004, 6, 20, ""}),
                     labeled(std::string("First met"), DateComponents{1999, 12, 31, ""}),
                     labeled(std::string(), DateComponents{2010, 1, std::nullopt, ""})};
    for (const auto label :
         {Label::iPhone, Label::mobile, Label::main, Label::homeFax, Label::workFax,
          Label::otherFax, Label::pager, Label::home, Label::work, Label::other, Label::appleWatch,
          std::string_view("Car"), std::string_view()}) {
        contact.phoneNumbers.push_back(
            labeled(std::string(label), "+49 30 " + std::to_string(contact.phoneNumbers.size())));
    }
    contact.emailAddresses = {
        labeled(std::string(Label::home), std::string("zoe@home.example")),
        labeled(std::string(Label::iCloud), std::string("zoe@icloud.example")),
        labeled(std::string(Label::school), std::string("zoe@uni.example"))};
    contact.urlAddresses = {
        labeled(std::string(Label::homePage), std::string("https://zoe.example/a,b;c")),
        labeled(std::string(Label::work), std::string("https://work.example"))};
    contact.postalAddresses = {
        labeled(std::string(Label::home),
                PostalAddress{"Hauptstraße 5\nHinterhaus", "Schwabing", "München",
                              "Landkreis München", "Bayern", "80331", "Deutschland", "de"}),
        labeled(std::string("Summer house"),
                PostalAddress{"1 Beach Rd", "", "Nice", "", "", "06000", "France", ""})};
    contact.contactRelations = {
        labeled(std::string(RelationLabel::spouse), ContactRelation{"Alex Laurent"}),
        labeled(std::string(RelationLabel::grandmotherMothersMother), ContactRelation{"Oma"}),
        labeled(std::string("Gardener"), ContactRelation{"Bob, the gardener"})};
    contact.socialProfiles = {
        labeled(std::string(), SocialProfile{"https://twitter.com/zoe", "zoe", "12345",
                                             std::string(SocialProfileService::twitter)}),
        labeled(std::string("Pro"), SocialProfile{"https://social.example/@zoe", "zoe:pro \"x\"",
                                                  "", "Mastodon, Fediverse"})};
    contact.instantMessageAddresses = {
        labeled(std::string(Label::home),
                InstantMessageAddress{"zoe.skype", std::string(InstantMessageService::skype)}),
        labeled(std::string(Label::work),
                InstantMessageAddress{"zoe@jabber.example",
                                      std::string(InstantMessageService::jabber)}),
        labeled(std::string("Gaming"),
                InstantMessageAddress{"zoe;42", std::string(InstantMessageService::qq)}),
        labeled(std::string(), InstantMessageAddress{"aim:zoe", "Matrix"})};
    contact.imageData = sampleJpeg();
    return contact;
}

TEST(VCardRoundTrip, EveryFieldOfARichContactComesBack) {
    const Contact contact = richContact();
    EXPECT_TRUE(sameContact(roundTrip(contact), contact));
}

TEST(VCardRoundTrip, OrganizationsAndNamelessContactsComeBack) {
    Contact company;
    company.identifier = "C0FFEE00-0000-4000-8000-000000000001";
    company.contactType = ContactType::organization;
    company.organizationName = "Acme Widgets";
    company.departmentName = "Sales";
    EXPECT_TRUE(sameContact(roundTrip(company), company));

    Contact onlyNickname;
    onlyNickname.identifier = "C0FFEE00-0000-4000-8000-000000000002";
    onlyNickname.nickname = "Ghost";
    EXPECT_TRUE(sameContact(roundTrip(onlyNickname), onlyNickname));

    Contact personAtCompany = onlyNickname;
    personAtCompany.organizationName = "Acme";
    EXPECT_TRUE(sameContact(roundTrip(personAtCompany), personAtCompany));
}

TEST(VCardRoundTrip, PartialDatesComeBack) {
    for (const auto& date :
         {DateComponents{2000, 3, 15, ""}, DateComponents{std::nullopt, 3, 15, ""},
          DateComponents{2000, 3, std::nullopt, ""},
          DateComponents{2000, std::nullopt, std::nullopt, ""},
          DateComponents{std::nullopt, 2, std::nullopt, ""},
          DateComponents{std::nullopt, std::nullopt, 29, ""},
          DateComponents{std::nullopt, 2, 29, "hebrew"}, DateComponents{0, 1, 1, ""}}) {
        Contact contact;
        contact.identifier = "D";
        contact.birthday = date;
        contact.dates = {labeled(std::string(), date)};
        EXPECT_TRUE(sameContact(roundTrip(contact), contact)) << contact.dates.front().label;
    }
}

TEST(VCardRoundTrip, ThumbnailIsWrittenAsThePhotoWhenThereIsNoImage) {
    Contact contact;
    contact.identifier = "T";
    contact.thumbnailImageData = sampleJpeg();
    EXPECT_EQ(roundTrip(contact).imageData, sampleJpeg());
}

TEST(VCardWriter, WritesTheGoldenTextForARichContact) {
    VCardWriteOptions options;
    options.categories = [](const Contact&) {
        return std::vector<std::string>{"Friends", "Work, Home", ""};
    };
    const auto written = dataWithContacts({richContact()}, options);
    const auto goldenFile = kVCards / "pelkora-written-3.0.vcf";
    // PELKORA_REWRITE_GOLDEN=1 rewrites the file after a change to the writer that is meant.
    if (std::getenv("PELKORA_REWRITE_GOLDEN") != nullptr) test::writeFile(goldenFile, written);
    EXPECT_EQ(written, test::readFile(goldenFile));
}

TEST(VCardWriter, FoldsAtSeventyFiveOctetsWithoutCuttingACharacter) {
    // Every offset of a multi-byte character against the fold.
    for (std::size_t padding = 0; padding < 8; ++padding) {
        Contact contact;
        contact.identifier = "F";
        contact.note = std::string(padding, 'x') + "äöü€😀日本語😀€üöä 𝄞 ÿ";
        for (int i = 0; i < 4; ++i) contact.note += contact.note;
        const auto text = dataWithContacts({contact});
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find("\r\n", start);
            ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
            std::string_view line(text.data() + start, end - start);
            EXPECT_LE(line.size(), 75u) << line;
            if (line.starts_with(' ')) line.remove_prefix(1);
            ASSERT_FALSE(line.empty());
            EXPECT_NE(static_cast<unsigned char>(line.front()) & 0xC0, 0x80)
                << "a line begins inside a character";
            const unsigned char last = static_cast<unsigned char>(line.back());
            EXPECT_TRUE(last < 0x80 || (last & 0xC0) == 0x80) << "a line ends with a lead byte";
            start = end + 2;
        }
        EXPECT_EQ(roundTrip(contact).note, contact.note);
    }
}

TEST(VCardWriter, OptionsLeaveOutWhatTheExportAddsItself) {
    Contact contact = richContact();
    VCardWriteOptions options;
    options.categories = [](const Contact&) { return std::vector<std::string>{"Friends"}; };
    const auto full = dataWithContacts({contact}, options);
    for (const auto name : {"\r\nNOTE:", "\r\nPHOTO;", "\r\nCATEGORIES:"}) {
        EXPECT_NE(full.find(name), std::string::npos) << name;
        EXPECT_EQ(full.find(name), full.rfind(name)) << name << " appears more than once";
    }
    EXPECT_NE(full.find("X-ABRELATEDNAMES"), std::string::npos);
    options.includeNote = options.includePhoto = options.includeRelatedNames =
        options.includeCategories = false;
    const auto reduced = dataWithContacts({contact}, options);
    for (const auto name : {"NOTE", "PHOTO", "X-ABRELATEDNAMES", "CATEGORIES"}) {
        EXPECT_EQ(reduced.find(name), std::string::npos) << name;
    }
    EXPECT_NE(reduced.find("\r\nFN:Dr. Zoë Anne Öztürk-Laurent PhD\r\n"), std::string::npos);
}

TEST(VCardWriter, PhotoTypeComesFromTheBytes) {
    Contact contact;
    contact.identifier = "P";
    contact.imageData = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0};
    EXPECT_NE(dataWithContacts({contact}).find("PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgoAAA==\r\n"),
              std::string::npos);
    contact.imageData = sampleJpeg();
    EXPECT_NE(dataWithContacts({contact}).find("PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ"),
              std::string::npos);
}

// The golden inputs, as the programs that write such files write them.
TEST(VCardGolden, AndroidVersion21WithQuotedPrintableLatin1) {
    const auto entries = read(test::readFile(kVCards / "android-2.1.vcf"));
    ASSERT_EQ(entries.size(), 2u);
    Contact expected;
    expected.identifier = entries[0].contact.identifier;
    expected.namePrefix = "Dr.";
    expected.givenName = "Jürgen";
    expected.familyName = "Müller";
    expected.organizationName = "Bäckerei Müller";
    expected.departmentName = "Backstube";
    expected.jobTitle = "Meister";
    expected.note =
        "Erste Zeile\nZweite Zeile mit Umlaut ä und einem langen Text, der weich umbrochen wird.";
    expected.birthday = DateComponents{1970, 3, 15, ""};
    expected.phoneNumbers = {labeled(std::string(Label::mobile), std::string("+49 171 1234567")),
                             labeled(std::string(Label::work), std::string("+49 30 1234-0")),
                             labeled(std::string(Label::homeFax), std::string("+49 30 7654321")),
                             labeled(std::string("Car"), std::string("+49 171 7654321")),
                             labeled(std::string(), std::string("+49 30 555"))};
    expected.emailAddresses = {
        labeled(std::string(Label::home), std::string("juergen@example.de"))};
    expected.postalAddresses = {
        labeled(std::string(Label::home), PostalAddress{"Hauptstraße 5\nHinterhaus", "", "München",
                                                        "", "Bayern", "80331", "Deutschland", ""})};
    expected.imageData = sampleJpeg();
    EXPECT_TRUE(sameContact(entries[0].contact, expected));
    EXPECT_EQ(entries[0].contact.identifier.size(), 36u) << "a fresh UUID without UID";

    EXPECT_EQ(entries[1].contact.givenName, "Jane");
    EXPECT_EQ(entries[1].contact.phoneNumbers.at(0).label, Label::work);
    EXPECT_EQ(entries[1].contact.imageData, sampleJpeg()) << "unindented 2.1 Base64 lines";
    EXPECT_TRUE(entries[1].rawText.starts_with("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jane;;;\r\n"));
    EXPECT_TRUE(entries[1].rawText.ends_with("END:VCARD\r\n"));
}

TEST(VCardGolden, AppleVersion30WithCustomLabels) {
    const auto entries = read(test::readFile(kVCards / "apple-3.0.vcf"));
    ASSERT_EQ(entries.size(), 2u);
    Contact expected;
    expected.identifier = "1A2B3C4D-1111-2222-3333-444455556666";
    expected.namePrefix = "Mr.";
    expected.givenName = "John";
    expected.middleName = "Quincy";
    expected.familyName = "Appleseed";
    expected.nameSuffix = "Jr.";
    expected.nickname = "Johnny";
    expected.previousFamilyName = "Seedling";
    expected.phoneticGivenName = "Jon";
    expected.phoneticFamilyName = "Apple-seed";
    expected.organizationName = "Apple Inc.";
    expected.departmentName = "Engineering";
    expected.jobTitle = "Engineer";
    expected.emailAddresses = {
        labeled(std::string(Label::work), std::string("john@apple.example")),
        labeled(std::string(Label::home), std::string("johnny@home.example")),
        labeled(std::string(Label::school), std::string("john@school.example"))};
    expected.phoneNumbers = {labeled(std::string(Label::iPhone), std::string("+1 (408) 555-0101")),
                             labeled(std::string(Label::work), std::string("+1 (408) 555-0102")),
                             labeled(std::string(Label::main), std::string("+1 (408) 555-0100")),
                             labeled(std::string(Label::homeFax), std::string("+1 (408) 555-0103")),
                             labeled(std::string("Car"), std::string("+1 (408) 555-0104"))};
    expected.postalAddresses = {labeled(
        std::string(Label::home), PostalAddress{"1 Infinite Loop\nBuilding 2", "", "Cupertino", "",
                                                "CA", "95014", "United States", "us"})};
    expected.urlAddresses = {
        labeled(std::string(Label::homePage), std::string("http://www.apple.example"))};
    expected.birthday = DateComponents{std::nullopt, 3, 15, ""};
    expected.dates = {labeled(std::string(Label::anniversary), DateComponents{2004, 6, 20, ""})};
    expected.contactRelations = {
        labeled(std::string(RelationLabel::spouse), ContactRelation{"Jane Appleseed"}),
        labeled(std::string("Gardener"), ContactRelation{"Bob"})};
    expected.socialProfiles = {
        labeled(std::string(), SocialProfile{"http://twitter.com/johnny", "johnny", "",
                                             std::string(SocialProfileService::twitter)}),
        labeled(std::string(), SocialProfile{"http://www.linkedin.com/in/johnny", "", "",
                                             std::string(SocialProfileService::linkedIn)})};
    expected.instantMessageAddresses = {
        labeled(
            std::string(Label::home),
            InstantMessageAddress{"johnny.appleseed", std::string(InstantMessageService::skype)}),
        labeled(std::string(Label::work),
                InstantMessageAddress{"john@jabber.example",
                                      std::string(InstantMessageService::jabber)}),
        labeled(std::string(Label::home),
                InstantMessageAddress{"johnnyaim", std::string(InstantMessageService::aim)}),
        labeled(std::string(),
                InstantMessageAddress{"123456789", std::string(InstantMessageService::icq)})};
    expected.note = "Met at WWDC, 2019.\nLikes apples.";
    expected.imageData = sampleJpeg();
    EXPECT_TRUE(sameContact(entries[0].contact, expected));
    EXPECT_EQ(entries[0].categories, (std::vector<std::string>{"Friends", "Work,Home", "Golf"}));

    const Contact& company = entries[1].contact;
    EXPECT_EQ(company.contactType, ContactType::organization);
    EXPECT_EQ(company.organizationName, "Acme Widgets");
    EXPECT_EQ(company.givenName, "") << "FN is the company, not a person's name";
    ASSERT_EQ(company.postalAddresses.size(), 1u);
    EXPECT_EQ(company.postalAddresses[0].label, Label::work);
    EXPECT_EQ(company.postalAddresses[0].value.isoCountryCode, "us");
}

TEST(VCardGolden, Rfc6350Version40WithLineFeedsOnly) {
    const auto entries = read(test::readFile(kVCards / "rfc6350-4.0.vcf"));
    ASSERT_EQ(entries.size(), 2u);
    Contact expected;
    expected.identifier = "4fbe8971-0bc3-424c-9c26-36c3e1eff6b1";
    expected.givenName = "Simon";
    expected.familyName = "Perreault";
    expected.nameSuffix = "ing. jr,M.Sc.";
    expected.birthday = DateComponents{std::nullopt, 3, 15, ""};
    expected.dates = {labeled(std::string(Label::anniversary), DateComponents{2009, 8, 8, ""})};
    expected.phoneNumbers = {
        labeled(std::string(Label::work), std::string("+1-418-656-9254;ext=102")),
        labeled(std::string(Label::mobile), std::string("+1-418-262-6501"))};
    expected.emailAddresses = {
        labeled(std::string(Label::work), std::string("simon.perreault@viagenie.example"))};
    expected.urlAddresses = {
        labeled(std::string(Label::home), std::string("http://nomis80.example"))};
    expected.postalAddresses = {
        labeled(std::string(Label::work), PostalAddress{"2875 Laurier\nSuite D2-630", "", "Quebec",
                                                        "", "QC", "G1V 2M2", "Canada", ""})};
    expected.instantMessageAddresses = {
        labeled(std::string(), InstantMessageAddress{"simon@viagenie.example",
                                                     std::string(InstantMessageService::jabber)})};
    expected.contactRelations = {
        labeled(std::string(RelationLabel::spouse), ContactRelation{"Marie Perreault"}),
        labeled(std::string("emergency"), ContactRelation{"Bob Martin"})};
    EXPECT_TRUE(sameContact(withoutLabelIdentifiers(entries[0].contact), [&] {
        Contact withPhoto = expected;
        withPhoto.imageData = entries[0].contact.imageData;
        return withPhoto;
    }()));
    ASSERT_EQ(entries[0].contact.imageData.size(), 70u);
    EXPECT_EQ(entries[0].contact.imageData[1], 'P');

    const Contact& company = entries[1].contact;
    EXPECT_EQ(company.contactType, ContactType::organization);
    EXPECT_EQ(company.organizationName, "Viagenie inc.");
    EXPECT_EQ(company.departmentName, "Research, Networks");
    EXPECT_EQ(company.givenName, "");
    EXPECT_EQ(company.birthday, (DateComponents{std::nullopt, 3, 15, ""}));
}

TEST(VCardGolden, EveryFileReadsBackAfterWriting) {
    std::size_t files = 0;
    for (const auto& file : std::filesystem::directory_iterator(kVCards)) {
        if (!file.is_regular_file() ||
            file.path().filename().string().starts_with("pelkora-written"))
            continue;
        SCOPED_TRACE(file.path().filename().string());
        ++files;
        for (auto& entry : read(test::readFile(file.path()))) {
            VCardWriteOptions options;
            options.categories = [&](const Contact&) { return entry.categories; };
            const auto again = read(dataWithContacts({entry.contact}, options));
            ASSERT_EQ(again.size(), 1u);
            EXPECT_TRUE(sameContact(again[0].contact, entry.contact));
            EXPECT_EQ(again[0].categories, entry.categories);
        }
    }
    EXPECT_GE(files, 3u);
}

TEST(VCardLabels, TypeWordsMapToLabels) {
    const std::vector<std::pair<std::string, std::string_view>> cases = {
        {"TEL;TYPE=HOME:1", Label::home},
        {"TEL;TYPE=work,voice:1", Label::work},
        {"TEL;TYPE=CELL:1", Label::mobile},
        {"TEL;CELL;PREF:1", Label::mobile},
        {"TEL;TYPE=HOME;TYPE=FAX:1", Label::homeFax},
        {"TEL;WORK;FAX:1", Label::workFax},
        {"TEL;TYPE=FAX:1", Label::otherFax},
        {"TEL;TYPE=PAGER:1", Label::pager},
        {"TEL;TYPE=MAIN:1", Label::main},
        {"TEL;TYPE=IPHONE,CELL,VOICE:1", Label::iPhone},
        {"TEL;TYPE=OTHER:1", Label::other},
        {"TEL;TYPE=PREF:1", ""},
        {"TEL;TYPE=VOICE:1", ""},
        {"TEL;TYPE=\"voice,cell\":1", Label::mobile},
        {"item1.TEL;TYPE=CELL:1\r\nitem1.X-ABLabel:_$!<Anniversary>!$_", Label::anniversary},
        {"item2.TEL:1\r\nITEM2.X-ABLABEL:Boat", "Boat"},
    };
    for (const auto& [lines, label] : cases) {
        const auto contact = readOne(vcard(lines + "\r\n"));
        ASSERT_EQ(contact.phoneNumbers.size(), 1u) << lines;
        EXPECT_EQ(contact.phoneNumbers[0].label, label) << lines;
    }
}

TEST(VCardLabels, MessagingAndSocialPropertiesNameTheirServices) {
    const auto contact = readOne(
        vcard("X-AIM:a\r\nX-JABBER:j\r\nX-ICQ:i\r\nX-MSN:m\r\nX-YAHOO:y\r\nX-SKYPE:s\r\nX-QQ:q\r\n"
              "X-GADUGADU:g\r\nIMPP:xmpp:x@example.org\r\nIMPP:skype:sk\r\nIMPP:aim:am\r\n"
              "IMPP;X-SERVICE-TYPE=facebook:xmpp:fb\r\nIMPP:sip:not-a-known-scheme\r\n"
              "X-SOCIALPROFILE;TYPE=Twitter;X-USER=tw:https://twitter.com/tw\r\n"
              "X-SOCIALPROFILE;type=pref;type=gamecenter:gc\r\n"));
    std::vector<std::pair<std::string, std::string>> addresses;
    for (const auto& address : contact.instantMessageAddresses) {
        addresses.emplace_back(address.value.service, address.value.username);
    }
    EXPECT_EQ(addresses,
              (std::vector<std::pair<std::string, std::string>>{{"AIM", "a"},
                                                                {"Jabber", "j"},
                                                                {"ICQ", "i"},
                                                                {"MSN", "m"},
                                                                {"Yahoo", "y"},
                                                                {"Skype", "s"},
                                                                {"QQ", "q"},
                                                                {"GaduGadu", "g"},
                                                                {"Jabber", "x@example.org"},
                                                                {"Skype", "sk"},
                                                                {"AIM", "am"},
                                                                {"Facebook", "fb"},
                                                                {"", "sip:not-a-known-scheme"}}));
    ASSERT_EQ(contact.socialProfiles.size(), 2u);
    EXPECT_EQ(contact.socialProfiles[0].value,
              (SocialProfile{"https://twitter.com/tw", "tw", "", "twitter"}));
    EXPECT_EQ(contact.socialProfiles[1].value.service, SocialProfileService::gameCenter);
}

TEST(VCardValues, EscapesAndFoldsAreResolved) {
    const auto contact = readOne(
        "BEGIN:VCARD\nVERSION:3.0\nN:Last\\;Name;First\\,Name;;;\nNOTE:a\\\\b\\nc\\Nd\\,e\\;f\\:"
        "g\\x\n"
        "TITLE:Folded with \n a space and\n\ta tab\nEND:VCARD\n");
    EXPECT_EQ(contact.familyName, "Last;Name");
    EXPECT_EQ(contact.givenName, "First,Name");
    EXPECT_EQ(contact.note, "a\\b\nc\nd,e;f:g\\x");
    EXPECT_EQ(contact.jobTitle, "Folded with a space anda tab");
}

TEST(VCardValues, LineEndsOfEveryKindAreAccepted) {
    for (const std::string_view end : {"\r\n", "\n", "\r"}) {
        std::string text;
        for (const auto line : {"BEGIN:VCARD", "VERSION:3.0", "FN:Ann", "TEL:1", "END:VCARD"}) {
            text += std::string(line) + std::string(end);
        }
        const auto contact = readOne(text);
        EXPECT_EQ(contact.givenName, "Ann");
        EXPECT_EQ(contact.phoneNumbers.size(), 1u);
    }
}

TEST(VCardValues, CharacterSetsDecodeAndBadBytesFallBackToWindowsLatin1) {
    EXPECT_EQ(readOne(vcard("FN;CHARSET=Shift_JIS:\x93\xfa\x96\x7b\r\n")).givenName, "日本");
    EXPECT_EQ(readOne(vcard("FN;CHARSET=windows-1252:\x80 5\r\n")).givenName, "€ 5");
    EXPECT_EQ(readOne(vcard("FN:Fran\xe7ois \x80\r\n")).givenName, "François €")
        << "no CHARSET, not UTF-8";
    EXPECT_EQ(readOne(vcard("FN;CHARSET=UTF-8:Fran\xe7ois\r\n")).givenName, "François")
        << "wrong CHARSET";
    EXPECT_EQ(readOne(vcard("FN;CHARSET=no-such-set:Zoë\r\n")).givenName, "Zoë");
}

TEST(VCardValues, QuotedPrintableSoftBreaksAndDamage) {
    const auto contact = readOne(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:=C3=A4=\r\n"
        " =C3=B6 =3D =ZZ 100=\r\nEND:VCARD\r\n");
    EXPECT_EQ(contact.note, "ä ö = =ZZ 100") << "the space after a soft break is text; =ZZ stays";
}

TEST(VCardValues, DatesInEveryFormat) {
    const std::vector<std::pair<std::string, std::optional<DateComponents>>> cases = {
        {"BDAY:2000-03-15", DateComponents{2000, 3, 15, ""}},
        {"BDAY:20000315", DateComponents{2000, 3, 15, ""}},
        {"BDAY:--0315", DateComponents{std::nullopt, 3, 15, ""}},
        {"BDAY:--03-15", DateComponents{std::nullopt, 3, 15, ""}},
        {"BDAY;X-APPLE-OMIT-YEAR=1604:1604-03-15", DateComponents{std::nullopt, 3, 15, ""}},
        {"BDAY:1604-03-15", DateComponents{1604, 3, 15, ""}},
        {"BDAY:1985-04-12T23:20:50Z", DateComponents{1985, 4, 12, ""}},
        {"BDAY;VALUE=date:---07", DateComponents{std::nullopt, std::nullopt, 7, ""}},
        {"BDAY;CALSCALE=Gregorian:1985", DateComponents{1985, std::nullopt, std::nullopt, ""}},
        {"BDAY;CALSCALE=chinese:4702-08-15", DateComponents{4702, 8, 15, "chinese"}},
        {"BDAY:2000-02-30", std::nullopt},
        {"BDAY:2000-13-01", std::nullopt},
        {"BDAY;VALUE=text:circa 1800", std::nullopt},
        {"BDAY:", std::nullopt},
    };
    for (const auto& [line, date] : cases) {
        EXPECT_EQ(readOne(vcard(line + "\r\n")).birthday, date) << line;
    }
}

TEST(VCardValues, CategoriesKeepEscapedCommasAndAppearOnce) {
    const auto entries =
        read(vcard("CATEGORIES:Friends,Work\\,Home,,Golf\r\nCATEGORIES:Golf,Chess\r\n"));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].categories,
              (std::vector<std::string>{"Friends", "Work,Home", "Golf", "Chess"}));
    VCardWriteOptions options;
    options.categories = [](const Contact&) {
        return std::vector<std::string>{"Work, Home", "a;b"};
    };
    EXPECT_NE(dataWithContacts({Contact{}}, options).find("\r\nCATEGORIES:Work\\, Home,a\\;b\r\n"),
              std::string::npos);
}

TEST(VCardValues, IdentifiersComeFromUidOrAreMadeFresh) {
    EXPECT_EQ(readOne(vcard("UID:urn:uuid:ABC\r\n")).identifier, "ABC");
    EXPECT_EQ(readOne(vcard("X-ABUID:5F2A:ABPerson\r\n")).identifier, "5F2A");
    const auto fresh = read(vcard("FN:A\r\n") + vcard("FN:B\r\n"));
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_EQ(fresh[0].contact.identifier.size(), 36u);
    EXPECT_NE(fresh[0].contact.identifier, fresh[1].contact.identifier);
}

TEST(VCardValues, DamagedPhotosAreLeftOutAndTheRestKept) {
    const auto contact =
        readOne(vcard("FN:Ann\r\nPHOTO;ENCODING=b:not*base64\r\nPHOTO;VALUE=uri:http://x/a.jpg\r\n"
                      "PHOTO:data:image/png;base64,iVBO\r\n"));
    EXPECT_EQ(contact.givenName, "Ann");
    EXPECT_EQ(contact.imageData, (std::vector<std::uint8_t>{0x89, 'P', 'N'}));
}

TEST(VCardStructure, NestedAgentVCardsAreSkipped) {
    const auto entries = read(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Boss;Big\r\nAGENT:\r\nBEGIN:VCARD\r\n"
        "VERSION:2.1\r\nN:Helper;Little\r\nTEL:2\r\nEND:VCARD\r\nTEL:1\r\nEND:VCARD\r\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].contact.familyName, "Boss");
    ASSERT_EQ(entries[0].contact.phoneNumbers.size(), 1u);
    EXPECT_EQ(entries[0].contact.phoneNumbers[0].value, "1");
}

TEST(VCardStructure, UnicodeTextWithByteOrderMarks) {
    const std::string utf8 = vcard("FN:Zoë\r\n");
    EXPECT_EQ(readOne("\xEF\xBB\xBF" + utf8).givenName, "Zoë");
    std::string utf16 = "\xFF\xFE";
    for (const char32_t c : std::u32string(U"BEGIN:VCARD\r\nFN:Zoë\r\nEND:VCARD\r\n")) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    EXPECT_EQ(readOne(utf16).givenName, "Zoë");
    EXPECT_EQ(readOne(utf16.substr(2)).givenName, "Zoë") << "UTF-16 recognised without a mark";
}

TEST(VCardStructure, StructuralFaultsAreErrorsNamingTheLine) {
    EXPECT_EQ(errorOf(""), "line 1: there is no vCard in the text (no BEGIN:VCARD line)");
    EXPECT_EQ(errorOf("\r\n\r\n"), "line 1: there is no vCard in the text (no BEGIN:VCARD line)");
    EXPECT_EQ(errorOf("FN:Ann\r\n"),
              "line 1: a FN property outside a vCard (BEGIN:VCARD must come first)");
    EXPECT_EQ(errorOf("BEGIN:VCARD\r\nFN:Ann\r\n"),
              "line 1: the vCard that begins here has no END:VCARD (the text ends inside it)");
    EXPECT_EQ(errorOf(vcard("FN:Ann\r\n") + "END:VCARD\r\n"),
              "line 5: END:VCARD without a BEGIN:VCARD before it");
    EXPECT_EQ(errorOf(vcard("NOTE:first\r\nsecond line\r\n")),
              "line 4: “second line” is neither a property nor a folded continuation line (it has "
              "no colon)");
    EXPECT_EQ(errorOf(vcard("Full name: Ann\r\n")),
              "line 3: “Full name: Ann” does not begin with a property name (letters, digits and "
              "hyphens, "
              "then a colon)");
    EXPECT_EQ(errorOf(vcard("X-A;X-B=\"open:value\r\n")),
              "line 3: “X-A;X-B=\"open:value” has a parameter whose quote is not closed");
    EXPECT_EQ(errorOf("BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n"),
              "line 1: BEGIN:VCALENDAR begins something that is not a vCard");
    EXPECT_EQ(errorOf(" FN:Ann\r\n"),
              "line 1: a folded continuation line (it begins with a space) with no property line "
              "before it to continue");
    const auto error = readVCards(vcard("\r\n\r\nbad\r\n"));
    ASSERT_FALSE(error);
    EXPECT_EQ(error.error().line, 5u);
}

TEST(VCardStructure, SoftBreakBeforeTheEndDoesNotSwallowIt) {
    const auto contact =
        readOne("BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;QUOTED-PRINTABLE:abc=\r\nEND:VCARD\r\n");
    EXPECT_EQ(contact.note, "abc");
}

// Inputs the fuzzer found: each must read or fail without crashing, and what it reads must
// come back the same after writing.
TEST(VCardRegressions, SavedInputsReadAndRoundTrip) {
    std::size_t files = 0;
    for (const auto& file : std::filesystem::directory_iterator(kVCards / "regressions")) {
        SCOPED_TRACE(file.path().filename().string());
        ++files;
        auto entries = readVCards(test::readFile(file.path()));
        if (!entries) continue;
        for (auto& entry : *entries) {
            VCardWriteOptions options;
            options.categories = [&](const Contact&) { return entry.categories; };
            const auto again = read(dataWithContacts({entry.contact}, options));
            ASSERT_EQ(again.size(), 1u);
            EXPECT_TRUE(sameContact(again[0].contact, entry.contact));
            EXPECT_EQ(again[0].categories, entry.categories);
        }
    }
    EXPECT_GT(files, 0u);
}

// Another program must read what we write: python3-vobject, the parser many tools use.
TEST(VCardAcceptance, VobjectParsesWhatWeWrite) {
    if (!std::filesystem::exists("/usr/bin/python3") ||
        std::system("/usr/bin/python3 -c 'import vobject' 2>/dev/null") != 0) {
        GTEST_SKIP() << "/usr/bin/python3 with python3-vobject is needed";
    }
    test::TemporaryDirectory folder;
    const auto input = folder / "contacts.vcf";
    VCardWriteOptions options;
    options.categories = [](const Contact&) {
        return std::vector<std::string>{"Friends", "Work, Home"};
    };
    Contact second;
    second.identifier = "S";
    second.givenName = "Second";
    test::writeFile(input, dataWithContacts({richContact(), second}, options));
    const std::string script =
        "import sys, vobject\n"
        "cards = list(vobject.readComponents(open(sys.argv[1], encoding='utf-8').read()))\n"
        "c = cards[0]\n"
        "print(len(cards))\n"
        "print(c.fn.value)\n"
        "print(c.n.value.family + '|' + c.n.value.given + '|' + c.n.value.prefix)\n"
        "print(sorted(t.value for t in c.contents['tel'])[0])\n"
        "print(c.contents['email'][0].value)\n"
        "print(c.note.value.splitlines()[0])\n"
        "print(cards[1].fn.value)\n";
    const auto scriptFile = folder / "check.py";
    test::writeFile(scriptFile, script);
    const std::string command =
        "/usr/bin/python3 " + scriptFile.string() + " " + input.string() + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) output += buffer;
    EXPECT_EQ(output,
              "2\n"
              "Dr. Zoë Anne Öztürk-Laurent PhD\n"
              "Öztürk-Laurent|Zoë|Dr.\n"
              "+49 30 0\n"
              "zoe@home.example\n"
              "First line, with comma\n"
              "Second\n");
}

}  // namespace
}  // namespace pelkora::contacts
