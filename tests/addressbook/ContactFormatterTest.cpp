#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "TestSupport.h"
#include "addressbook/ContactFormatter.h"
#include "addressbook/PostalAddressFormatter.h"
#include "addressbook/UserCountry.h"

namespace pelkora::contacts {
namespace {

Contact person(std::string given, std::string family, std::string middle = {}) {
    Contact contact;
    contact.givenName = std::move(given);
    contact.familyName = std::move(family);
    contact.middleName = std::move(middle);
    return contact;
}

std::string fullName(const Contact& contact, std::string_view locale) {
    return stringFromContact(contact, ContactFormatterStyle::fullName, locale);
}

std::string phoneticName(const Contact& contact, std::string_view locale) {
    return stringFromContact(contact, ContactFormatterStyle::phoneticFullName, locale);
}

// Sets the user's chosen country for the test and clears it afterwards.
struct CountryOverride {
    explicit CountryOverride(std::optional<std::string> code = {}) { setCountryCodeOverride(code); }
    ~CountryOverride() { setCountryCodeOverride(std::nullopt); }
};

struct LocaleEnvironment {
    LocaleEnvironment(const std::string& all, const std::string& address, const std::string& lang)
        : all_("LC_ALL", all), address_("LC_ADDRESS", address), lang_("LANG", lang) {}
    test::ScopedEnvironment all_, address_, lang_;
};

TEST(ContactFormatter, GivenNameComesFirstInEnglishAndGerman) {
    Contact contact = person("Anna", "Schmidt", "Maria");
    contact.namePrefix = "Dr.";
    contact.nameSuffix = "PhD";
    EXPECT_EQ(fullName(contact, "en_US"), "Dr. Anna Maria Schmidt PhD");
    EXPECT_EQ(fullName(contact, "de_DE.UTF-8"), "Dr. Anna Maria Schmidt PhD");
}

TEST(ContactFormatter, FamilyNameComesFirstInHungarianAndVietnamese) {
    Contact hungarian = person("János", "Nagy", "Péter");
    hungarian.namePrefix = "Dr.";
    EXPECT_EQ(fullName(hungarian, "hu_HU.UTF-8"), "Dr. Nagy János Péter");
    EXPECT_EQ(fullName(person("An", "Nguyễn", "Văn"), "vi-VN"), "Nguyễn Văn An");
}

TEST(ContactFormatter, CJKNamesAreFamilyNameFirstWithoutSpacesInEveryLocale) {
    EXPECT_EQ(fullName(person("太郎", "山田"), "ja_JP"), "山田太郎");
    EXPECT_EQ(fullName(person("小明", "王"), "zh_CN.UTF-8"), "王小明");
    EXPECT_EQ(fullName(person("길동", "홍"), "ko_KR"), "홍길동");
    EXPECT_EQ(fullName(person("太郎", "山田"), "en_US"), "山田太郎");
    EXPECT_EQ(fullName(person("John", "Smith"), "ja_JP"), "Smith John");
}

TEST(ContactFormatter, PhoneticStyleUsesThePhoneticParts) {
    Contact contact = person("太郎", "山田");
    contact.phoneticGivenName = "たろう";
    contact.phoneticFamilyName = "やまだ";
    EXPECT_EQ(phoneticName(contact, "ja_JP"), "やまだたろう");
    contact.phoneticGivenName = "Taro";
    contact.phoneticFamilyName = "Yamada";
    EXPECT_EQ(phoneticName(contact, "en_US"), "Taro Yamada");
}

TEST(ContactFormatter, OrganizationsShowTheirNameOnly) {
    Contact contact = person("Anna", "Schmidt");
    contact.contactType = ContactType::organization;
    contact.organizationName = "Acme GmbH";
    contact.phoneticOrganizationName = "Ak-mee";
    EXPECT_EQ(fullName(contact, "de_DE"), "Acme GmbH");
    EXPECT_EQ(phoneticName(contact, "de_DE"), "Ak-mee");
    contact.organizationName.clear();
    EXPECT_EQ(fullName(contact, "de_DE"), "");
}

TEST(ContactFormatter, NameWithoutPartsIsEmptyEvenWithANicknameOrCompany) {
    Contact contact = person("  ", "");
    contact.nickname = "Bob";
    contact.organizationName = "Acme";
    EXPECT_EQ(fullName(contact, "en_US"), "");
    EXPECT_EQ(phoneticName(contact, "en_US"), "");
    EXPECT_EQ(stringFromContact(contact), "");
    EXPECT_EQ(fullName(person("  Anna ", "\tSchmidt"), "en"), "Anna Schmidt");
}

TEST(ContactFormatter, LocalesMapToTheirNameOrder) {
    EXPECT_EQ(nameOrderForLocale("en_US.UTF-8"), NameOrder::givenMiddleFamily);
    EXPECT_EQ(nameOrderForLocale("de-AT"), NameOrder::givenMiddleFamily);
    EXPECT_EQ(nameOrderForLocale("ja_JP.UTF-8"), NameOrder::familyMiddleGiven);
    EXPECT_EQ(nameOrderForLocale("zh-Hant-TW"), NameOrder::familyMiddleGiven);
    EXPECT_EQ(nameOrderForLocale("ko"), NameOrder::familyMiddleGiven);
    EXPECT_EQ(nameOrderForLocale("hu_HU@euro"), NameOrder::familyGivenMiddle);
    EXPECT_EQ(nameOrderForLocale("C"), NameOrder::givenMiddleFamily);
    EXPECT_EQ(nameOrderForLocale(""), NameOrder::givenMiddleFamily);
}

TEST(ContactFormatter, CJKTextIsTextInCJKScriptsOnly) {
    for (const char* text : {"山田", "やまだ", "ヤマダー", "홍길동"})
        EXPECT_TRUE(isCJKText(text)) << text;
    for (const char* text : {"Smith", "山田 Smith", "100-0001", "", "\xE5\xB1"}) {
        EXPECT_FALSE(isCJKText(text)) << text;
    }
}

// An address with the parts most layouts use; sub-locality and sub-administrative area stay empty.
PostalAddress makeAddress(std::string street, std::string city, std::string state,
                          std::string postalCode, std::string country, std::string isoCountryCode) {
    PostalAddress address;
    address.street = std::move(street);
    address.city = std::move(city);
    address.state = std::move(state);
    address.postalCode = std::move(postalCode);
    address.country = std::move(country);
    address.isoCountryCode = std::move(isoCountryCode);
    return address;
}

const PostalAddress kUnitedStates =
    makeAddress("1 Main St", "Springfield", "IL", "62704", "United States", "us");

PostalAddress without(PostalAddress address, std::string PostalAddress::*part) {
    (address.*part).clear();
    return address;
}

TEST(PostalAddressFormatter, UnitedStatesAddressPutsStateAndZipAfterTheCity) {
    EXPECT_EQ(formatPostalAddress(kUnitedStates),
              "1 Main St\nSpringfield, IL 62704\nUnited States");
}

TEST(PostalAddressFormatter, MissingPartsTakeTheirSeparatorsWithThem) {
    EXPECT_EQ(formatPostalAddress(without(kUnitedStates, &PostalAddress::state)),
              "1 Main St\nSpringfield 62704\nUnited States");
    EXPECT_EQ(formatPostalAddress(without(kUnitedStates, &PostalAddress::city)),
              "1 Main St\nIL 62704\nUnited States");
    EXPECT_EQ(formatPostalAddress(without(kUnitedStates, &PostalAddress::postalCode)),
              "1 Main St\nSpringfield, IL\nUnited States");
    EXPECT_EQ(formatPostalAddress(without(kUnitedStates, &PostalAddress::street)),
              "Springfield, IL 62704\nUnited States");
    EXPECT_EQ(formatPostalAddress(without(kUnitedStates, &PostalAddress::country)),
              "1 Main St\nSpringfield, IL 62704");
}

TEST(PostalAddressFormatter, GermanAddressPutsThePostalCodeBeforeTheCityAndLeavesOutTheState) {
    const PostalAddress address =
        makeAddress("Hauptstraße 5", "Berlin", "Berlin", "10115", "Deutschland", "de");
    EXPECT_EQ(formatPostalAddress(address), "Hauptstraße 5\n10115 Berlin\nDeutschland");
    EXPECT_EQ(formatPostalAddress(without(address, &PostalAddress::postalCode)),
              "Hauptstraße 5\nBerlin\nDeutschland");
}

TEST(PostalAddressFormatter, JapaneseAddressRunsFromPostalCodeToStreet) {
    PostalAddress address =
        makeAddress("千代田1-1", "千代田区", "東京都", "100-0001", "日本", "JP");
    EXPECT_EQ(formatPostalAddress(address), "〒100-0001\n東京都千代田区\n千代田1-1\n日本");
    address.postalCode.clear();
    EXPECT_EQ(formatPostalAddress(address), "東京都千代田区\n千代田1-1\n日本");
    // Latin parts that stand side by side are kept apart.
    address.state = "Tokyo";
    address.city = "Chiyoda-ku";
    EXPECT_EQ(formatPostalAddress(address), "Tokyo Chiyoda-ku\n千代田1-1\n日本");
}

TEST(PostalAddressFormatter, BritishAddressPutsTownAndPostcodeOnLinesOfTheirOwn) {
    const PostalAddress address =
        makeAddress("10 Downing Street", "London", "", "SW1A 2AA", "", "gb");
    EXPECT_EQ(formatPostalAddress(address), "10 Downing Street\nLondon\nSW1A 2AA");
    EXPECT_EQ(formatPostalAddress(without(address, &PostalAddress::city)),
              "10 Downing Street\nSW1A 2AA");
}

TEST(PostalAddressFormatter, StreetLinesAreTidiedAndEmptyAddressesAreEmpty) {
    PostalAddress address = kUnitedStates;
    address.street = "Apt 4\r\n\r\n  1 Main St  ";
    EXPECT_EQ(formatPostalAddress(address),
              "Apt 4\n1 Main St\nSpringfield, IL 62704\nUnited States");
    EXPECT_EQ(formatPostalAddress(PostalAddress{}, "us"), "");
    EXPECT_EQ(formatPostalAddress(makeAddress("", "", "", "", "", "de")), "");
}

TEST(PostalAddressFormatter, LayoutComesFromTheAddressThenTheGivenCountryThenTheUser) {
    CountryOverride userInSwitzerland("ch");
    EXPECT_EQ(postalAddressLayoutCountryCode(kUnitedStates, "de"), "us");
    const PostalAddress namedOnly = without(kUnitedStates, &PostalAddress::isoCountryCode);
    EXPECT_EQ(postalAddressLayoutCountryCode(namedOnly, "de"), "us");
    const PostalAddress address = without(namedOnly, &PostalAddress::country);
    EXPECT_EQ(postalAddressLayoutCountryCode(address, "DE"), "de");
    EXPECT_EQ(formatPostalAddress(address, "de"), "1 Main St\n62704 Springfield");
    EXPECT_EQ(postalAddressLayoutCountryCode(address), "ch");
    EXPECT_EQ(postalAddressFormatName(""), "Switzerland");
    // A name that is no country's leaves the choice to the given country and the user.
    PostalAddress unknownName = address;
    unknownName.country = "Atlantis";
    EXPECT_EQ(postalAddressLayoutCountryCode(unknownName, "de"), "de");
    EXPECT_EQ(postalAddressLayoutCountryCode(unknownName), "ch");
    // An ISO code that is no country's still marks the address as foreign.
    unknownName.isoCountryCode = "QQ";
    EXPECT_EQ(postalAddressLayoutCountryCode(unknownName), "qq");
}

// Addresses that name their country only by name, read by a user in the United States: each
// is laid out as its own country's post wants it.
TEST(PostalAddressFormatter, CountryNameAloneChoosesTheLayout) {
    CountryOverride userInTheUnitedStates("us");
    struct Case {
        PostalAddress address;
        std::string_view expected;
    };
    const Case cases[] = {
        {makeAddress("2 rue de la Paix", "Paris", "", "75002", "France", ""),
         "2 rue de la Paix\n75002 Paris\nFrance"},
        {makeAddress("Hauptstraße 5", "Dresden", "Sachsen", "01067", "Deutschland", ""),
         "Hauptstraße 5\n01067 Dresden\nDeutschland"},
        {makeAddress("Rue Neuve 1", "Bruxelles", "", "1000", "Belgique", ""),
         "Rue Neuve 1\n1000 Bruxelles\nBelgique"},
        {makeAddress("Bahnhofstrasse 1", "Zürich", "ZH", "8001", "Schweiz", ""),
         "Bahnhofstrasse 1\n8001 Zürich\nSchweiz"},
        {makeAddress("Via Roma 1", "Roma", "RM", "00184", "ITALIA", ""),
         "Via Roma 1\n00184 Roma RM\nITALIA"},
        {makeAddress("1 Main St", "Springfield", "IL", "62704", "USA", ""),
         "1 Main St\nSpringfield, IL 62704\nUSA"},
        {makeAddress("10 Downing Street", "London", "", "SW1A 2AA", "UK", ""),
         "10 Downing Street\nLondon\nSW1A 2AA\nUK"},
        {makeAddress("24 Sussex Dr", "Ottawa", "ON", "K1M 1M4", "Kanada", ""),
         "24 Sussex Dr\nOttawa ON K1M 1M4\nKanada"},
        // The name wins over an ISO code that is no country's.
        {makeAddress("Damrak 1", "Amsterdam", "", "1012 LG", "Nederland", "xx"),
         "Damrak 1\n1012 LG Amsterdam\nNederland"},
        // Without a country the user's layout applies.
        {makeAddress("1 Main St", "Springfield", "IL", "62704", "", ""),
         "1 Main St\nSpringfield, IL 62704"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatPostalAddress(c.address), c.expected) << c.address.country;
    }
}

TEST(PostalAddressFormatter, CountriesWithoutALayoutUseTheInternationalOne) {
    PostalAddress address = kUnitedStates;
    address.isoCountryCode = "pl";
    address.subLocality = "Mokotów";
    EXPECT_EQ(formatPostalAddress(address),
              "1 Main St\nMokotów\n62704 Springfield\nIL\nUnited States");
    EXPECT_EQ(postalAddressFormatName("pl"), "International");
    EXPECT_EQ(postalAddressFormatName("DE"), "Germany");
}

TEST(PostalAddressFormatter, EveryLayoutHasAUniqueNameAndShowsTheMainParts) {
    const PostalAddress address = makeAddress("STREET", "CITY", "", "CODE", "COUNTRY", "");
    std::set<std::string> names;
    EXPECT_EQ(postalAddressLayoutCountryCodes().size(), 13u);
    for (std::string_view code : postalAddressLayoutCountryCodes()) {
        EXPECT_TRUE(names.insert(postalAddressFormatName(code)).second) << code;
        const std::string text = formatPostalAddress(address, code);
        for (const char* part : {"STREET", "CITY", "CODE"}) {
            EXPECT_NE(text.find(part), std::string::npos) << code;
        }
        EXPECT_TRUE(text.ends_with("\nCOUNTRY")) << code;
        EXPECT_EQ(text.find('{'), std::string::npos) << code;
    }
    EXPECT_FALSE(names.contains("International"));
}

TEST(UserCountry, CountryComesFromTheFirstLocaleVariableWithATerritory) {
    CountryOverride none;
    {
        LocaleEnvironment environment("de_AT.UTF-8", "fr_FR.UTF-8", "en_US.UTF-8");
        EXPECT_EQ(defaultCountryCode(), "at");
    }
    {
        LocaleEnvironment environment("", "fr_BE.UTF-8", "en_US.UTF-8");
        EXPECT_EQ(defaultCountryCode(), "be");
    }
    {
        LocaleEnvironment environment("C.UTF-8", "", "nl_NL.UTF-8@euro");
        EXPECT_EQ(defaultCountryCode(), "nl");
    }
    LocaleEnvironment noTerritory("C", "es_419.UTF-8", "de");
    EXPECT_EQ(defaultCountryCode(), "us");
}

TEST(UserCountry, OverrideWinsOverTheEnvironmentUntilCleared) {
    LocaleEnvironment environment("de_DE.UTF-8", "", "");
    CountryOverride chosen("CH");
    EXPECT_EQ(defaultCountryCode(), "ch");
    setCountryCodeOverride(std::string());
    EXPECT_EQ(defaultCountryCode(), "de");
}

TEST(UserCountry, CodesHaveEnglishNames) {
    EXPECT_EQ(countryNameForCode("de"), "Germany");
    EXPECT_EQ(countryNameForCode("US"), "United States");
    EXPECT_EQ(countryNameForCode(""), "");
    EXPECT_EQ(countryNameForCode("xq"), "xq");
}

TEST(UserCountry, NamesFindTheirCodeInEveryVocabularyLanguage) {
    struct Case {
        std::string_view name;
        std::optional<std::string_view> code;
    };
    const Case cases[] = {
        // English, with its short forms and common other names.
        {"Germany", "de"},
        {"United States", "us"},
        {"USA", "us"},
        {"U.S.A.", "us"},
        {"United States of America", "us"},
        {"UK", "gb"},
        {"United Kingdom", "gb"},
        {"Great Britain", "gb"},
        {"England", "gb"},
        {"Holland", "nl"},
        {"Poland", "pl"},
        {"Czech Republic", "cz"},
        {"Hong Kong", "hk"},
        // German, French, Italian, Spanish, Dutch.
        {"Deutschland", "de"},
        {"Österreich", "at"},
        {"Schweiz", "ch"},
        {"Belgien", "be"},
        {"Vereinigte Staaten", "us"},
        {"Suisse", "ch"},
        {"Belgique", "be"},
        {"Allemagne", "de"},
        {"États-Unis", "us"},
        {"Svizzera", "ch"},
        {"Germania", "de"},
        {"España", "es"},
        {"Alemania", "de"},
        {"Duitsland", "de"},
        {"België", "be"},
        {"Zwitserland", "ch"},
        // Portuguese, the Nordic languages, Polish, Czech.
        {"Alemanha", "de"},
        {"Suíça", "ch"},
        {"Tyskland", "de"},
        {"Sverige", "se"},
        {"Danmark", "dk"},
        {"Norge", "no"},
        {"Saksa", "de"},
        {"Sveitsi", "ch"},
        {"Niemcy", "de"},
        {"Szwajcaria", "ch"},
        {"Německo", "de"},
        {"Švýcarsko", "ch"},
        // Russian, Japanese, Chinese in both scripts.
        {"Германия", "de"},
        {"Швейцария", "ch"},
        {"ドイツ", "de"},
        {"スイス", "ch"},
        {"日本", "jp"},
        {"德国", "de"},
        {"德國", "de"},
        {"瑞士", "ch"},
        // Case, diacritics, full stops and white space do not matter.
        {"deutschland", "de"},
        {"ÖSTERREICH", "at"},
        {"Osterreich", "at"},
        {"ESPANA", "es"},
        {"  Italia ", "it"},
        {"etats-unis", "us"},
        {"Vereinigte  Staaten", "us"},
        {"GERMANIA", "de"},
        {"germaniya", std::nullopt},
        // Two- and three-letter codes.
        {"DE", "de"},
        {"ch", "ch"},
        {"DEU", "de"},
        {"che", "ch"},
        {"GBR", "gb"},
        // Nothing else.
        {"Atlantis", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"XQ", std::nullopt},
        {"Deutschland 2", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> expected =
            c.code ? std::optional<std::string>(*c.code) : std::nullopt;
        EXPECT_EQ(countryCodeForName(c.name), expected) << c.name;
    }
}

TEST(UserCountry, NamesAreFoundFromManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<std::optional<std::string>> results(8);
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&results, i] { results[i] = countryCodeForName("Schweiz"); });
    }
    for (std::thread& thread : threads) thread.join();
    for (const auto& result : results) EXPECT_EQ(result, "ch");
}

TEST(UserCountry, AddressCountryComesFromItsCodeThenItsName) {
    struct Case {
        std::string_view isoCountryCode;
        std::string_view country;
        std::optional<std::string_view> code;
    };
    const Case cases[] = {
        {"be", "Belgique", "be"}, {"", "Belgique", "be"},
        {"BE", "", "be"},         {"BEL", "", "be"},
        {"Belgien", "", "be"},    {"de", "Belgique", "de"},  // the code wins over the name
        {"qq", "Belgique", "be"},                            // a code of no country does not count
        {"qq", "", std::nullopt}, {"", "Atlantis", std::nullopt},
        {"", "", std::nullopt},
    };
    for (const Case& c : cases) {
        PostalAddress address;
        address.isoCountryCode = c.isoCountryCode;
        address.country = c.country;
        const std::optional<std::string> expected =
            c.code ? std::optional<std::string>(*c.code) : std::nullopt;
        EXPECT_EQ(countryCodeOfAddress(address), expected)
            << c.isoCountryCode << " / " << c.country;
    }
}

TEST(UserCountry, EveryLayoutCountryHasANameThatLeadsBack) {
    for (std::string_view code : postalAddressLayoutCountryCodes()) {
        const std::string name = countryNameForCode(code);
        EXPECT_NE(name, code);
        EXPECT_EQ(countryCodeForName(name), code) << name;
    }
}

struct NameSplitCase {
    std::string_view fullName;
    NameComponents expected;  // prefix, given, middle, family, suffix
};

TEST(NameComponentsFromString, FullNamesAreTakenApartAsPeopleWriteThem) {
    const NameSplitCase cases[] = {
        {"Anna Berg", {"", "Anna", "", "Berg", ""}},
        {"  Anna \t Berg ", {"", "Anna", "", "Berg", ""}},
        {"Dr. Anna Maria Berg", {"Dr.", "Anna", "Maria", "Berg", ""}},
        {"Prof. Dr. Hans Peter Graf", {"Prof. Dr.", "Hans", "Peter", "Graf", ""}},
        {"John F. Kennedy", {"", "John", "F.", "Kennedy", ""}},
        {"Berg, Anna", {"", "Anna", "", "Berg", ""}},
        {"Berg, Anna Maria", {"", "Anna", "Maria", "Berg", ""}},
        {"van der Berg, Jan", {"", "Jan", "", "van der Berg", ""}},
        {"Berg, Dr. Anna", {"Dr.", "Anna", "", "Berg", ""}},
        {"Anna Berg Jr.", {"", "Anna", "", "Berg", "Jr."}},
        {"Anna Berg, Jr.", {"", "Anna", "", "Berg", "Jr."}},
        {"Martin Luther King III", {"", "Martin", "Luther", "King", "III"}},
        {"Berg, Anna, PhD", {"", "Anna", "", "Berg", "PhD"}},
        {"Anna Berg, MD, PhD", {"", "Anna", "", "Berg", "MD, PhD"}},
        {"Jan van der Berg", {"", "Jan", "", "van der Berg", ""}},
        {"Ludwig van Beethoven", {"", "Ludwig", "", "van Beethoven", ""}},
        {"Ana Maria de la Cruz", {"", "Ana", "Maria", "de la Cruz", ""}},
        {"Hans von Stein", {"", "Hans", "", "von Stein", ""}},
        {"van der Berg", {"", "", "", "van der Berg", ""}},
        {"Al Gore", {"", "Al", "", "Gore", ""}},  // a capitalised particle word is a name
        {"Anna", {"", "Anna", "", "", ""}},
        {"Dr. Berg", {"Dr.", "", "", "Berg", ""}},
        {"Frau Müller", {"Frau", "", "", "Müller", ""}},
        {"Mme Claire Dubois", {"Mme", "Claire", "", "Dubois", ""}},
        {"Mr", {"", "Mr", "", "", ""}},  // a word alone stays a name
        {"Иванов Иван Иванович", {"", "Иван", "Иванович", "Иванов", ""}},
        {"Мария Ивановна Петрова", {"", "Мария", "Ивановна", "Петрова", ""}},
        {"Иван Петров", {"", "Иван", "", "Петров", ""}},
        {"山田 太郎", {"", "太郎", "", "山田", ""}},
        {"山田\u3000太郎", {"", "太郎", "", "山田", ""}},
        {"王小明", {"", "王小明", "", "", ""}},
        {"", {}},
        {" , ", {}},
    };
    for (const auto& [text, expected] : cases) {
        const NameComponents parts = nameComponentsFromString(text);
        EXPECT_EQ(parts.namePrefix, expected.namePrefix) << text;
        EXPECT_EQ(parts.givenName, expected.givenName) << text;
        EXPECT_EQ(parts.middleName, expected.middleName) << text;
        EXPECT_EQ(parts.familyName, expected.familyName) << text;
        EXPECT_EQ(parts.nameSuffix, expected.nameSuffix) << text;
    }
}

// Taking a written name apart and writing it again gives the same text for the usual forms.
TEST(NameComponentsFromString, GivenFirstNamesComeBackAsTheFormatterWritesThem) {
    for (std::string_view text : {"Dr. Anna Maria Berg PhD", "Jan van der Berg", "Anna Berg"}) {
        const NameComponents parts = nameComponentsFromString(text);
        Contact contact;
        contact.namePrefix = parts.namePrefix;
        contact.givenName = parts.givenName;
        contact.middleName = parts.middleName;
        contact.familyName = parts.familyName;
        contact.nameSuffix = parts.nameSuffix;
        EXPECT_EQ(fullName(contact, "en_US"), text);
    }
}

}  // namespace
}  // namespace pelkora::contacts
