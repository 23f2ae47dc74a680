#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <iostream>
#include <random>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "mapping/AutoMapping.h"
#include "platform/SettingsStore.h"
#include "support/Settings.h"
#include "text/LanguageDetection.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;

SuggestedContactProperty entry(std::string_view title, std::string_view key,
                               std::string_view label = {}, std::string_view subKey = {},
                               std::string_view type = "Property") {
    SuggestedContactProperty e;
    e.type = std::string(type);
    e.localizedString = std::string(title);
    e.propertyKey = std::string(key);
    if (!subKey.empty()) e.propertySubKey = std::string(subKey);
    if (!label.empty()) e.systemLabel = std::string(label);
    return e;
}

SuggestedContactProperty labelEntry(std::string_view title, std::string_view key,
                                    std::string_view label) {
    return entry(title, key, label, {}, "Label");
}

SuggestedContactProperty vendor(SuggestedContactProperty e) {
    e.isVendorCustomMapping = true;
    return e;
}

SuggestedContactProperty inLanguage(SuggestedContactProperty e, std::string_view language) {
    e.ISOLanguageCode = std::string(language);
    return e;
}

DataRow textRow(const std::vector<std::string>& texts) {
    DataRow row(1);
    for (std::size_t i = 0; i < texts.size(); ++i)
        row.addText(static_cast<std::int64_t>(i), texts[i]);
    return row;
}

// ---- Scores -----------------------------------------------------------------------------

TEST(EditDistance, CountsCodePointsNotBytes) {
    // "ß" is two bytes but one character: one substitution and one insertion from "ss".
    EXPECT_EQ(editDistance(U"straße", U"strasse"), 2u);
    EXPECT_EQ(editDistance(U"prénom", U"prenom"), 1u);
}

// The textbook table, to check the bit-parallel computation against.
std::size_t referenceDistance(const std::u32string& a, const std::u32string& b) {
    std::vector<std::vector<std::size_t>> table(a.size() + 1,
                                                std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) table[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) table[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            table[i][j] = std::min({table[i - 1][j] + 1, table[i][j - 1] + 1,
                                    table[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        }
    }
    return table[a.size()][b.size()];
}

TEST(EditDistance, AgreesWithTheTableForShortAndLongWords) {
    std::mt19937 random(20240601);
    // A small alphabet with letters beyond ASCII makes matches frequent.
    const std::u32string alphabet = U"abcäöü€字";
    for (int round = 0; round < 3000; ++round) {
        std::uniform_int_distribution<std::size_t> length(0, round < 2900 ? 12 : 90);
        std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
        std::u32string a(length(random), U' ');
        std::u32string b(length(random), U' ');
        for (auto& c : a) c = alphabet[letter(random)];
        for (auto& c : b) c = alphabet[letter(random)];
        ASSERT_EQ(editDistance(a, b), referenceDistance(a, b)) << round;
        ASSERT_EQ(editDistance(b, a), referenceDistance(a, b)) << round;
    }
}

TEST(MatchScore, WholeTitleEqualToACandidateWordCountsMinusOne) {
    EXPECT_EQ(matchScore("Email", "E-mail Email"), -1 + 1);  // "e-mail" is one edit from "email"
    EXPECT_EQ(matchScore("PHONE", "phone"), -1);
}

TEST(MatchScore, ContainmentEitherWayCountsZero) {
    EXPECT_EQ(matchScore("Home Phone", "Phone"), 0);  // the title contains "phone"
    EXPECT_EQ(matchScore("Tele", "Telephone"), 0);    // "telephone" contains the title
}

TEST(MatchScore, OtherPairsAddTheirEditDistanceIgnoringCase) {
    // Every title word is compared with every candidate word.
    EXPECT_EQ(matchScore("Busines Fon", "Business"), 1 + 7);
    EXPECT_EQ(matchScore("STRASSE", "Straße"), 2);
    EXPECT_EQ(matchScore("ÉTAT", "état"), -1);
}

// ---- Matching a title -------------------------------------------------------------------

TEST(MatchTitle, ShortTitleIsMatchedExactlyEvenWhenFuzzyIsAsked) {
    const StringMap map = {entry("Tax", CustomPropertyKeys::AdditionalNote)};
    // "Tax" is one edit from "Tel", which fuzzy matching would accept.
    EXPECT_FALSE(matchTitle("Tel", map, "en", false).propertyKey);
    EXPECT_EQ(matchTitle("Taks", map, "en", false).propertyKey,
              std::string(CustomPropertyKeys::AdditionalNote));
    EXPECT_FALSE(matchTitle("Taks", map, "en", false, /*fuzzy=*/false).propertyKey);
}

TEST(MatchTitle, ExactModeTakesAnEqualTitleOverAContainedOne) {
    const StringMap map = {entry("ax", CustomPropertyKeys::AdditionalNote),
                           labelEntry("Fax", ContactKey::phoneNumbers, Label::workFax)};
    const auto result = matchTitle("FAX", map, "en", false);
    EXPECT_EQ(result.propertyKey, std::string(ContactKey::phoneNumbers));
    EXPECT_EQ(result.systemLabel, std::string(Label::workFax));
}

TEST(MatchTitle, ExactModeCombinesAPropertyWithALabelWord) {
    const StringMap map = {entry("Phone", ContactKey::phoneNumbers, Label::other),
                           labelEntry("Home", ContactKey::phoneNumbers, Label::home)};
    const auto result = matchTitle("Home Phone", map, "en", false, /*fuzzy=*/false);
    EXPECT_EQ(result.propertyKey, std::string(ContactKey::phoneNumbers));
    // The Property entry only gives the key while the title is merely contained.
    EXPECT_EQ(result.systemLabel, std::string(Label::home));
    EXPECT_EQ(result.type, "Property");
}

TEST(MatchTitle, ExactModeTriesVendorEntriesFirst) {
    const StringMap map = {entry("Mail", ContactKey::note),
                           vendor(entry("Mail", ContactKey::emailAddresses, Label::work))};
    EXPECT_EQ(matchTitle("Mail", map, "en", false, false).propertyKey,
              std::string(ContactKey::emailAddresses));
    EXPECT_EQ(matchTitle("Mail", map, "en", false, false, /*excludeVendor=*/true).propertyKey,
              std::string(ContactKey::note));
}

TEST(MatchTitle, OnlyEntriesOfTheLanguageAndTheContactsFrameworkTakePart) {
    auto other = entry("Telefon", ContactKey::phoneNumbers, Label::other);
    other.framework = "none";
    const StringMap map = {
        inLanguage(entry("Telefon", ContactKey::phoneNumbers, Label::work), "de"), other};
    EXPECT_EQ(matchTitle("Telefon", map, "DE", false).systemLabel, std::string(Label::work));
    EXPECT_FALSE(matchTitle("Telefon", map, "en", false).propertyKey);
}

TEST(MatchTitle, FuzzyModeRanksByScoreFirst) {
    const StringMap map = {entry("Mobile Phones", ContactKey::note),  // -1 + 6: not kept
                           entry("Mobile", ContactKey::phoneNumbers, Label::mobile)};
    const auto result = matchTitle("Mobile", map, "en", false);
    EXPECT_EQ(result.propertyKey, std::string(ContactKey::phoneNumbers));
    EXPECT_EQ(result.systemLabel, std::string(Label::mobile));
}

TEST(MatchTitle, FuzzyTiesPreferVendorThenPropertyThenSocialProfiles) {
    // All of these contain or are contained in the title "Home Twitter", so all score 0.
    const StringMap map = {
        labelEntry("Home", ContactKey::phoneNumbers, Label::home),
        entry("Home Twitter", ContactKey::note),
        entry("Twitter", ContactKey::socialProfiles, {}, SocialProfileService::twitter),
        vendor(entry("Home Twitter", ContactKey::urlAddresses, Label::home)),
    };
    auto result = matchTitle("Home Twitter", map, "en", false);
    EXPECT_EQ(result.propertyKey, std::string(ContactKey::urlAddresses));

    // Without the vendor entry the social profile comes before the note and the Label entry.
    const StringMap withoutVendor(map.begin(), map.begin() + 3);
    result = matchTitle("Home Twitter", withoutVendor, "en", false);
    EXPECT_EQ(result.propertyKey, std::string(ContactKey::socialProfiles));
    EXPECT_EQ(result.propertySubKey, std::string(SocialProfileService::twitter));
}

TEST(MatchTitle, FuzzyTakesKeySubKeyAndLabelFromTheFirstThatHaveThem) {
    const StringMap map = {
        entry("Street", ContactKey::postalAddresses, {}, PostalAddressKey::street),
        labelEntry("Home", ContactKey::postalAddresses, Label::home),
    };
    const auto result = matchTitle("Home Street", map, "en", true);
    EXPECT_EQ(result.propertyKey, std::string(ContactKey::postalAddresses));
    EXPECT_EQ(result.propertySubKey, std::string(PostalAddressKey::street));
    EXPECT_EQ(result.systemLabel, std::string(Label::home));
    EXPECT_TRUE(result.isValid());
}

TEST(MatchTitle, WithoutDetectionALabelledTargetGetsThePreferredLabel) {
    const StringMap map = {entry("Phone", ContactKey::phoneNumbers),
                           entry("Website", ContactKey::urlAddresses)};
    EXPECT_EQ(matchTitle("Phone (car)", map, "en", false).systemLabel, std::string(Label::other));
    EXPECT_EQ(matchTitle("Website", map, "en", false).systemLabel, std::string(Label::homePage));
    EXPECT_FALSE(matchTitle("Phone (car)", map, "en", false).customLabel);
}

TEST(MatchTitle, DetectionTakesTheWordsAroundTheTargetNameAsCustomLabel) {
    const StringMap map = {entry("Phone", ContactKey::phoneNumbers)};
    const auto car = matchTitle("Phone (car)", map, "en", true);
    EXPECT_EQ(car.propertyKey, std::string(ContactKey::phoneNumbers));
    EXPECT_EQ(car.customLabel, "Car");
    EXPECT_FALSE(car.systemLabel);
    EXPECT_TRUE(car.isValid());
    EXPECT_EQ(matchTitle("summer house phone", map, "en", true).customLabel, "Summer House");
}

TEST(MatchTitle, OneWordTitlesNeverGetACustomLabel) {
    const StringMap map = {entry("Phone", ContactKey::phoneNumbers)};
    for (const char* title : {"Phone", "Phones", "Phone(car)", "CarPhone"}) {
        const auto result = matchTitle(title, map, "en", true);
        EXPECT_EQ(result.propertyKey, std::string(ContactKey::phoneNumbers)) << title;
        EXPECT_EQ(result.systemLabel, std::string(Label::other)) << title;
        EXPECT_FALSE(result.customLabel) << title;
    }
}

TEST(MatchTitle, TargetNameWithOnlyPunctuationGetsTheDefaultLabel) {
    const StringMap map = {entry("Phone", ContactKey::phoneNumbers)};
    const auto result = matchTitle("Phone - :", map, "en", true);
    EXPECT_EQ(result.systemLabel, std::string(Label::other));
    EXPECT_FALSE(result.customLabel);
}

TEST(MatchTitle, CustomLabelsOfEntriesAreDroppedWithoutDetection) {
    auto car = entry("Car", ContactKey::phoneNumbers);
    car.customLabel = "Car";
    const StringMap map = {car};
    EXPECT_EQ(matchTitle("Car", map, "en", true).customLabel, "Car");
    const auto withoutDetection = matchTitle("Car", map, "en", false);
    EXPECT_FALSE(withoutDetection.customLabel);
    EXPECT_EQ(withoutDetection.systemLabel, std::string(Label::other));
}

TEST(MatchTitle, SubKeysAreCleanedUp) {
    // A postal target without a component cannot be imported, so it loses its key.
    const StringMap postal = {entry("Address", ContactKey::postalAddresses, Label::home)};
    const auto address = matchTitle("Address", postal, "en", false);
    EXPECT_FALSE(address.propertyKey);
    EXPECT_FALSE(address.propertySubKey);
    // A sub-key on a target that takes none goes.
    const StringMap phone = {
        entry("Phone", ContactKey::phoneNumbers, Label::home, PostalAddressKey::city)};
    const auto result = matchTitle("Phone", phone, "en", false);
    EXPECT_EQ(result.propertyKey, std::string(ContactKey::phoneNumbers));
    EXPECT_FALSE(result.propertySubKey);
}

TEST(MatchTitle, UnmatchedTitleGivesAnEmptyPropertyTarget) {
    const StringMap map = {entry("Phone", ContactKey::phoneNumbers, Label::other)};
    const auto result = matchTitle("Zzyzx Qwerty", map, "en", true);
    EXPECT_FALSE(result.propertyKey);
    EXPECT_FALSE(result.label());
    EXPECT_EQ(result.type, "Property");
    EXPECT_FALSE(result.isValid());
}

TEST(TitleMatcher, GivesTheSameAnswersAsMatchTitle) {
    const StringMap map = {
        entry("Phone", ContactKey::phoneNumbers, Label::other),
        labelEntry("Home", ContactKey::phoneNumbers, Label::home),
        inLanguage(entry("Telefon", ContactKey::phoneNumbers, Label::other), "de"),
        entry("Street", ContactKey::postalAddresses, Label::other, PostalAddressKey::street),
    };
    const TitleMatcher matcher(map);
    for (const char* title :
         {"Phone", "Home Phone", "Tel", "Home", "Telefon", "Street 2", "Phone (car)"}) {
        for (const char* language : {"en", "de"}) {
            EXPECT_EQ(matcher.match(title, language, true), matchTitle(title, map, language, true))
                << title << " " << language;
        }
    }
}

// ---- The shipped vocabulary --------------------------------------------------------------

struct Expectation {
    const char* title;
    const char* language;
    std::string_view key;
    std::string_view subKey;
    std::string_view label;
};

TEST(MatchTitle, ShippedVocabularyMapsCommonTitles) {
    const TitleMatcher matcher(vendorStringMap());
    const Expectation cases[] = {
        {"First Name", "en", ContactKey::givenName, {}, {}},
        {"Last Name", "en", ContactKey::familyName, {}, {}},
        {"Home Street", "en", ContactKey::postalAddresses, PostalAddressKey::street, Label::home},
        {"Mobile Phone", "en", ContactKey::phoneNumbers, {}, Label::mobile},
        {"E-mail Address", "en", ContactKey::emailAddresses, {}, Label::other},
        {"Tel", "en", ContactKey::phoneNumbers, {}, Label::other},
        {"Vorname", "de", ContactKey::givenName, {}, {}},
        {"PLZ", "de", ContactKey::postalAddresses, PostalAddressKey::postalCode, Label::other},
        {"Telefon geschäftlich", "de", ContactKey::phoneNumbers, {}, Label::work},
        {"Prénom", "fr", ContactKey::givenName, {}, {}},
    };
    for (const auto& c : cases) {
        const auto result = matcher.match(c.title, c.language, true);
        EXPECT_EQ(result.propertyKey.value_or(""), c.key) << c.title;
        EXPECT_EQ(result.propertySubKey.value_or(""), c.subKey) << c.title;
        if (result.canHaveLabel()) {
            EXPECT_EQ(result.label().value_or(""), c.label) << c.title;
        }
    }
}

TEST(TitleMatcher, MapsTwoHundredColumnsQuickly) {
    const TitleMatcher matcher(vendorStringMap());
    const char* words[] = {"Home",   "Business", "Other",   "Phone", "Street", "City",
                           "E-mail", "Name",     "Company", "Fax",   "Mobile", "Address",
                           "Postal", "Code",     "Notes",   "Web"};
    std::vector<std::string> titles;
    for (std::size_t i = 0; titles.size() < 200; ++i) {
        titles.push_back(std::string(words[i % 16]) + " " + words[(i / 16 + i) % 16] + " " +
                         std::to_string(i));
    }
    matcher.match("warm up", "en", true);
    // Processor time, so that a busy machine does not fail the test.
    const std::clock_t start = std::clock();
    for (const auto& title : titles) matcher.match(title, "en", true);
    const double milliseconds = 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    std::cout << "  200 titles matched in " << milliseconds << " ms of processor time\n";
    // About 10 ms in an optimised build; unoptimised and sanitised builds get slack.
    EXPECT_LT(milliseconds, 1000.0);
}

// ---- Language detection ------------------------------------------------------------------

TEST(LanguageDetection, RecognisesHeaderRowsOfContactExports) {
    const std::pair<const char*, const char*> headers[] = {
        {"en",
         "Title, First Name, Middle Name, Last Name, Suffix, Company, Department, Job Title, "
         "Business Street, "
         "Business City, Business Postal Code, Home Street, Home City, Business Phone, Home Phone, "
         "Mobile "
         "Phone, E-mail Address, Notes"},
        {"de",
         "Anrede, Vorname, Weitere Vornamen, Nachname, Suffix, Firma, Abteilung, Position, Straße "
         "geschäftlich, Ort geschäftlich, Postleitzahl geschäftlich, Straße privat, Ort privat, "
         "Telefon "
         "geschäftlich, Telefon privat, Mobiltelefon, E-Mail-Adresse, Notizen"},
        {"fr",
         "Titre, Prénom, Deuxième prénom, Nom, Suffixe, Société, Service, Rue (bureau), Ville "
         "(bureau), Code "
         "postal (bureau), Rue (domicile), Téléphone (bureau), Téléphone (domicile), Tél. mobile, "
         "Adresse de "
         "messagerie"},
        {"es",
         "Tratamiento, Nombre, Segundo nombre, Apellidos, Sufijo, Organización, Departamento, "
         "Puesto, Calle "
         "del trabajo, Ciudad de trabajo, Teléfono del trabajo, Teléfono particular, Móvil, Notas"},
        {"it",
         "Titolo, Nome, Secondo nome, Cognome, Società, Reparto, Posizione, Via (uff.), Città "
         "(uff.), CAP "
         "(uff.), Telefono (uff.), Telefono (ab.), Cellulare, Indirizzo posta elettronica"},
        {"nl",
         "Titel, Voornaam, Middelste naam, Achternaam, Bedrijf, Afdeling, Functie, Werkadres "
         "straat, "
         "Werkadres plaats, Telefoon op werk, Telefoon thuis, Mobiele telefoon, E-mailadres, "
         "Notities"},
        {"pt",
         "Tratamento, Nome, Segundo Nome, Sobrenome, Sufixo, Empresa, Departamento, Cargo, Rua "
         "comercial, "
         "Cidade comercial, Telefone comercial, Telefone residencial, Telefone celular, "
         "Observações"},
        {"de", "Vorname, Nachname, Straße, PLZ, Ort, Telefon, E-Mail"},
        {"fr", "Prénom, Nom, Adresse, Code postal, Ville, Téléphone, Courriel"},
        {"es", "Nombre, Apellidos, Dirección, Ciudad, Teléfono, Correo electrónico"},
        {"it", "Nome, Cognome, Indirizzo, Città, Telefono, Email"},
        {"nl", "Voornaam, Achternaam, Adres, Postcode, Woonplaats, Telefoon, E-mail"},
        {"pt", "Nome, Sobrenome, Endereço, Cidade, Telefone, E-mail"},
        {"en", "First Name, Last Name, Email, Phone"},
        // Thunderbird's German export, in which CLD2's own summary names Swedish.
        {"de",
         "Vorname, Nachname, Anzeigename, Spitzname, Primäre E-Mail-Adresse, Sekundäre "
         "E-Mail-Adresse, "
         "Chat-Name, Tel. dienstlich, Tel. privat, Fax-Nummer, Pager-Nummer, Mobil-Tel.-Nr., "
         "Privat: Adresse, "
         "Privat: Adresse 2, Privat: Ort, Privat: Bundesland, Privat: PLZ, Privat: Land, "
         "Dienstlich: Adresse, "
         "Dienstlich: Adresse 2, Dienstlich: Ort, Dienstlich: Bundesland, Dienstlich: PLZ, "
         "Dienstlich: Land, "
         "Arbeitstitel, Abteilung, Organisation, Webseite 1, Webseite 2, Geburtsjahr, "
         "Geburtsmonat, "
         "Geburtstag, Benutzerdef. 1, Benutzerdef. 2, Benutzerdef. 3, Benutzerdef. 4, Notizen"},
    };
    for (const auto& [language, header] : headers) {
        EXPECT_EQ(detectLanguage(header).value_or("none"), language) << header;
    }
}

TEST(LanguageDetection, AnswersCurrentIsoCodes) {
    EXPECT_EQ(
        detectLanguage(
            "Fornavn, Etternavn, Adresse, Postnummer, Poststed, Telefon, Mobiltelefon, E-post"),
        "nb");
    EXPECT_EQ(detectLanguage("姓名, 電話, 電子郵件, 地址, 公司"), "zh");
}

TEST(LanguageDetection, AnswersNoneWithoutWords) {
    EXPECT_FALSE(detectLanguage(""));
    EXPECT_FALSE(detectLanguage("123, 456, 789, 1011"));
}

// ---- Auto-mapping ------------------------------------------------------------------------

StringMap smallVocabulary() {
    return {
        entry("Name", ContactKey::givenName),
        entry("Tel", ContactKey::phoneNumbers, Label::other),
        entry("Phone", ContactKey::phoneNumbers, Label::other),
        entry("Cell", ContactKey::phoneNumbers, Label::mobile),
        entry("Email", ContactKey::emailAddresses, Label::other),
        inLanguage(entry("Telefon", ContactKey::phoneNumbers, Label::other), "de"),
    };
}

TEST(AutoMap, ShortHeaderUsesTheFallbackLanguageWithoutDetection) {
    test::LogCapture log;
    const TitleMatcher matcher(smallVocabulary());
    const auto result =
        autoMap(textRow({"Name", "Tel"}), true, kColumnIndexStyleOneBased, matcher, {}, {});
    EXPECT_EQ(result.detectedLanguage, "en");
    EXPECT_TRUE(log.contains("String to short to detect language -- using 'en' instead."));
    EXPECT_FALSE(log.contains("Language detected from column headers"));
    ASSERT_EQ(result.mappedContactProperties.size(), 2u);
    EXPECT_EQ(result.mappedContactProperties[0].contactProperty.propertyKey,
              std::string(ContactKey::givenName));
    // "Tel" has three characters and is matched exactly.
    EXPECT_EQ(result.mappedContactProperties[1].contactProperty.propertyKey,
              std::string(ContactKey::phoneNumbers));
    EXPECT_TRUE(log.contains("Auto-mapping fields took "));
}

TEST(AutoMap, LongerHeaderIsMatchedInItsDetectedLanguage) {
    test::LogCapture log;
    const TitleMatcher matcher(smallVocabulary());
    const auto result = autoMap(textRow({"Vorname", "Nachname", "Straße", "Telefon", "Geburtstag"}),
                                true, kColumnIndexStyleOneBased, matcher, {}, {});
    EXPECT_EQ(result.detectedLanguage, "de");
    EXPECT_TRUE(log.contains("Language detected from column headers: de"));
    EXPECT_EQ(result.mappedContactProperties[3].contactProperty.propertyKey,
              std::string(ContactKey::phoneNumbers));
}

TEST(AutoMap, OneEntryPerCellWithColumnNumbers) {
    const TitleMatcher matcher(smallVocabulary());
    DataRow row(1);
    row.addText(0, "Name");
    row.add(DataCell(1, 42.0));
    row.addText(27, "Email");
    const auto text = autoMap(row, true, kColumnIndexStyleOneBased, matcher, {}, {});
    ASSERT_EQ(text.mappedContactProperties.size(), 3u);
    EXPECT_EQ(text.mappedContactProperties[1].sourceFieldName, "Undefined");
    EXPECT_EQ(text.mappedContactProperties[2].columnIndex, 27);
    EXPECT_EQ(text.mappedContactProperties[2].formattedColumnIndex, "28");
    const auto workbook = autoMap(row, true, kColumnIndexStyleLetters, matcher, {}, {});
    EXPECT_EQ(workbook.mappedContactProperties[0].formattedColumnIndex, "A");
    EXPECT_EQ(workbook.mappedContactProperties[2].formattedColumnIndex, "AB");
}

TEST(AutoMap, WithoutHeaderRowTargetsAreClearedAndTitlesEmpty) {
    const TitleMatcher matcher(smallVocabulary());
    AutoMappingSettings settings;
    settings.appendUnmappedFieldsToNotes = false;
    const auto result =
        autoMap(textRow({"Anna", "Phone", "anna@example.org"}), false, kColumnIndexStyleOneBased,
                matcher, {entry("Phone", ContactKey::note)}, settings);
    ASSERT_EQ(result.mappedContactProperties.size(), 3u);
    for (const auto& property : result.mappedContactProperties) {
        EXPECT_EQ(property.sourceFieldName, "");
        EXPECT_EQ(property.contactProperty.type, "Undefined");
        EXPECT_FALSE(property.contactProperty.propertyKey);
        EXPECT_TRUE(property.mappingHints.empty());
        EXPECT_FALSE(property.mappedManuallyByUser);
        EXPECT_FALSE(property.isCustomMapping);
    }
}

TEST(AutoMap, AppendingUnmappedFieldsKeepsMatchedPhoneValid) {
    const StringMap map = {entry("Phone", ContactKey::phoneNumbers)};  // no label of its own
    const TitleMatcher matcher(map);
    const auto result = autoMap(textRow({"Phone", "Favourite colour"}), true,
                                kColumnIndexStyleOneBased, matcher, {}, {});
    const auto& phone = result.mappedContactProperties[0].contactProperty;
    EXPECT_EQ(phone.propertyKey, std::string(ContactKey::phoneNumbers));
    EXPECT_EQ(phone.systemLabel, std::string(Label::other));
    EXPECT_TRUE(phone.isValid());
    const auto& unmatched = result.mappedContactProperties[1];
    EXPECT_EQ(unmatched.contactProperty.propertyKey,
              std::string(CustomPropertyKeys::AdditionalNote));
    EXPECT_EQ(unmatched.contactProperty.ISOLanguageCode, "xx");
    EXPECT_EQ(unmatched.mappingStatus(), MappingStatus::append);

    AutoMappingSettings settings;
    settings.appendUnmappedFieldsToNotes = false;
    const auto kept = autoMap(textRow({"Phone", "Favourite colour"}), true,
                              kColumnIndexStyleOneBased, matcher, {}, settings);
    EXPECT_FALSE(kept.mappedContactProperties[1].contactProperty.propertyKey);
    EXPECT_EQ(kept.mappedContactProperties[1].mappingStatus(), MappingStatus::ignored);
}

TEST(AutoMap, CustomTitlesOverrideTheVocabularyByExactTitle) {
    const TitleMatcher matcher(smallVocabulary());
    auto learnt = entry("Tel", ContactKey::phoneNumbers, Label::work);
    learnt.isUserCustomMapping = true;
    const StringMap custom = {entry("tel", ContactKey::note), learnt,
                              entry("Tel", ContactKey::note)};
    const auto result =
        autoMap(textRow({"Name", "Tel"}), true, kColumnIndexStyleOneBased, matcher, custom, {});
    EXPECT_FALSE(result.mappedContactProperties[0].isCustomMapping);
    EXPECT_EQ(result.mappedContactProperties[1].contactProperty, learnt);
    EXPECT_TRUE(result.mappedContactProperties[1].isCustomMapping);
    EXPECT_EQ(result.mappedContactProperties[1].mappingStatus(), MappingStatus::assignedCustom);

    AutoMappingSettings settings;
    settings.ignoreCustomMappings = true;
    const auto ignoring = autoMap(textRow({"Name", "Tel"}), true, kColumnIndexStyleOneBased,
                                  matcher, custom, settings);
    EXPECT_FALSE(ignoring.mappedContactProperties[1].isCustomMapping);
    EXPECT_EQ(ignoring.mappedContactProperties[1].contactProperty.systemLabel,
              std::string(Label::other));
}

TEST(AutoMap, CollectsTheCustomLabelsInUse) {
    const StringMap map = {entry("Phone", ContactKey::phoneNumbers),
                           entry("Email", ContactKey::emailAddresses)};
    const TitleMatcher matcher(map);
    const auto result =
        autoMap(textRow({"Phone (car)", "Phone (boat)", "Car Phone", "Email (club)", "Phone"}),
                true, kColumnIndexStyleOneBased, matcher, {}, {});
    const SessionCustomLabels expected = {
        {std::string(ContactKey::phoneNumbers), {"Car", "Boat"}},
        {std::string(ContactKey::emailAddresses), {"Club"}},
    };
    EXPECT_EQ(result.sessionCustomLabels, expected);
}

// A column titled as a full name means the whole name, or the part the other name columns
// leave out; the shipped vocabulary in several languages.
TEST(AutoMap, FullNameColumnsBesideNamePartColumns) {
    static const TitleMatcher matcher(vendorStringMap());
    struct Case {
        std::vector<std::string> header;
        std::size_t column;
        std::string_view key;
    };
    const Case cases[] = {
        {{"Name", "Given Name", "Family Name"}, 0, CustomPropertyKeys::FullName},
        {{"Name", "E-mail"}, 0, CustomPropertyKeys::FullName},
        {{"Full Name", "Phone", "Company"}, 0, CustomPropertyKeys::FullName},
        {{"Company", "Contact Person", "Phone"}, 1, CustomPropertyKeys::FullName},
        {{"Name", "Surname", "Email"}, 0, ContactKey::givenName},
        {{"First Name", "Name", "Email"}, 1, ContactKey::familyName},
        {{"Vollständiger Name", "Straße", "Postleitzahl", "Telefon geschäftlich"},
         0,
         CustomPropertyKeys::FullName},
        {{"Nom complet", "Adresse électronique", "Téléphone"}, 0, CustomPropertyKeys::FullName},
        // German "Name" beside "Vorname" is the family name already.
        {{"Name", "Vorname", "Straße", "Postleitzahl"}, 0, ContactKey::familyName},
        {{"Name", "Vorname", "Straße", "Postleitzahl"}, 1, ContactKey::givenName},
    };
    for (const auto& c : cases) {
        const auto result =
            autoMap(textRow(c.header), true, kColumnIndexStyleOneBased, matcher, {}, {});
        ASSERT_LT(c.column, result.mappedContactProperties.size());
        EXPECT_EQ(result.mappedContactProperties[c.column].contactProperty.propertyKey.value_or(""),
                  c.key)
            << c.header[0] << ", " << c.header[1] << " (" << result.detectedLanguage << ")";
    }
}

TEST(AdjustFullNameColumns, TheUsersOwnAssignmentsStayAsTheyAre) {
    std::vector<MappedContactProperty> list(3);
    for (std::size_t at = 0; at < list.size(); ++at)
        list[at].columnIndex = static_cast<std::int64_t>(at);
    list[0].contactProperty = SuggestedContactProperty::target(CustomPropertyKeys::FullName);
    list[1].contactProperty = SuggestedContactProperty::target(CustomPropertyKeys::FullName);
    list[1].isCustomMapping = true;
    list[2].contactProperty = SuggestedContactProperty::target(ContactKey::familyName);
    adjustFullNameColumns(list);
    EXPECT_EQ(list[0].contactProperty.propertyKey, std::string(ContactKey::givenName));
    EXPECT_EQ(list[1].contactProperty.propertyKey, std::string(CustomPropertyKeys::FullName));
}

TEST(AutoMappingSettings, ReadFromTheSettingsStore) {
    test::TemporaryDirectory folder;
    SettingsStore store(folder / "settings.plist");
    EXPECT_EQ(autoMappingSettings(store), (AutoMappingSettings{false, false, false}));
    store.set(SettingKey::DetectCustomLabels, PropertyValue(true));
    store.set(SettingKey::IgnoreCustomMappings, PropertyValue(true));
    store.set(SettingKey::AppendUnmappedFieldsToNotes, PropertyValue(true));
    EXPECT_EQ(autoMappingSettings(store), (AutoMappingSettings{true, true, true}));
}

// ---- Learning ----------------------------------------------------------------------------

TEST(LearnUserAssignments, ReplacesAnOlderAssignmentForTheSameTitle) {
    auto older = entry("Cell", ContactKey::phoneNumbers, Label::home);
    older.isUserCustomMapping = true;
    const StringMap custom = {older, entry("Fon", ContactKey::phoneNumbers, Label::work)};

    MappedContactProperty cell;
    cell.sourceFieldName = "Cell";
    cell.contactProperty = SuggestedContactProperty::target(ContactKey::phoneNumbers);
    cell.contactProperty.systemLabel = std::string(Label::mobile);
    cell.mappedManuallyByUser = true;
    MappedContactProperty automatic;
    automatic.sourceFieldName = "Name";
    automatic.contactProperty = SuggestedContactProperty::target(ContactKey::givenName);

    const auto learnt = learnUserAssignments({cell, automatic}, custom);
    ASSERT_EQ(learnt.size(), 2u);
    EXPECT_EQ(learnt[0].localizedString, "Fon");
    EXPECT_EQ(learnt[1].localizedString, "Cell");
    EXPECT_EQ(learnt[1].systemLabel, std::string(Label::mobile));
    EXPECT_TRUE(learnt[1].isUserCustomMapping);
}

TEST(LearnUserAssignments, LeavesTheMapAloneWithoutManualAssignments) {
    MappedContactProperty automatic;
    automatic.sourceFieldName = "Name";
    const StringMap custom = {entry("Fon", ContactKey::phoneNumbers, Label::work)};
    EXPECT_EQ(learnUserAssignments({automatic}, custom), custom);
}

// ---- Header and example rows -------------------------------------------------------------

TEST(RecordRows, HeaderIsTheFirstNonEmptyRowAndTheNextIsPreviewed) {
    const std::vector<DataRow> rows = {DataRow(1), textRow({"Name", "Tel"}), textRow({"Anna", "1"}),
                                       textRow({"Bob", "2"})};
    const auto chosen = selectRecordRows(rows, true, {});
    EXPECT_EQ(chosen, (RecordRows{1, 2}));
    EXPECT_EQ(totalRecords(rows.size(), chosen.headerRowIndex), 2);
    EXPECT_EQ(currentRecordIndex(chosen.exampleDataRowIndex, chosen.headerRowIndex), 1);
}

TEST(RecordRows, WithoutHeaderTheFirstNonEmptyRowIsPreviewed) {
    const std::vector<DataRow> rows = {DataRow(1), textRow({"Anna", "1"}), textRow({"Bob", "2"})};
    const auto chosen = selectRecordRows(rows, false, {0, 1});
    EXPECT_EQ(chosen, (RecordRows{kNoRow, 1}));
    EXPECT_EQ(totalRecords(rows.size(), chosen.headerRowIndex), 3);
    EXPECT_EQ(currentRecordIndex(chosen.exampleDataRowIndex, chosen.headerRowIndex), 2);
}

TEST(RecordRows, AllEmptyOrSingleRowsChangeNothing) {
    const std::vector<DataRow> empty(60);
    EXPECT_EQ(selectRecordRows(empty, true, {3, 4}), (RecordRows{3, 4}));
    const std::vector<DataRow> single = {textRow({"Name"})};
    EXPECT_EQ(selectRecordRows(single, true, {0, kNoRow}), (RecordRows{0, kNoRow}));
}

TEST(RecordRows, OnlyTheFirstFiftyRowsAreSearched) {
    std::vector<DataRow> rows(50);
    rows.push_back(textRow({"Name"}));
    rows.push_back(textRow({"Anna"}));
    EXPECT_EQ(selectRecordRows(rows, true, {}), RecordRows{});
    rows[49] = textRow({"Name"});
    EXPECT_EQ(selectRecordRows(rows, true, {}), (RecordRows{49, 50}));
}

TEST(RefreshSourceFieldNames, TextCellsGiveTheFirstEntryOfTheirColumnItsTitle) {
    std::vector<MappedContactProperty> list(3);
    list[0].columnIndex = 0;
    list[1].columnIndex = 2;
    list[2].columnIndex = 2;
    list[2].sourceFieldName = "kept";
    DataRow row(1);
    row.addText(0, "Name");
    row.add(DataCell(1, 3.0));
    row.addText(2, "Phone");
    refreshSourceFieldNames(list, row, true);
    EXPECT_EQ(list[0].sourceFieldName, "Name");
    EXPECT_EQ(list[1].sourceFieldName, "Phone");
    EXPECT_EQ(list[2].sourceFieldName, "kept");
    refreshSourceFieldNames(list, row, false);
    EXPECT_EQ(list[0].sourceFieldName, "");
}

}  // namespace
}  // namespace pelkora

namespace pelkora {
namespace {

TEST(SelfLabelledValues, ListsOfKnownLabelsAreRecognisedAndNothingElse) {
    using namespace contacts;
    const auto phone = SuggestedContactProperty::target(ContactKey::phoneNumbers, std::nullopt);
    const auto url = SuggestedContactProperty::target(ContactKey::urlAddresses, std::nullopt);
    const auto note = SuggestedContactProperty::target(ContactKey::note, std::nullopt);
    using Samples = std::vector<std::string_view>;

    EXPECT_TRUE(
        looksSelfLabelled(phone, Samples{"work: +49 30 1, home: +49 30 2", "", "mobile: 0170 1"}));
    EXPECT_TRUE(looksSelfLabelled(phone, Samples{"Work: 1\nHome: 2"}));
    EXPECT_TRUE(looksSelfLabelled(url, Samples{"homepage: https://example.org/a:b"}));
    // Plain values, times, unknown words before a colon, or one plain row among labelled ones.
    EXPECT_FALSE(looksSelfLabelled(phone, Samples{"+49 30 1"}));
    EXPECT_FALSE(looksSelfLabelled(phone, Samples{"call 10:30"}));
    EXPECT_FALSE(looksSelfLabelled(phone, Samples{"office: 1"}));
    EXPECT_FALSE(looksSelfLabelled(phone, Samples{"work: 1", "+49 30 2"}));
    EXPECT_FALSE(looksSelfLabelled(phone, Samples{"work:"}));
    EXPECT_FALSE(looksSelfLabelled(url, Samples{"https://example.org"}));
    EXPECT_FALSE(looksSelfLabelled(phone, Samples{"", " "}));
    EXPECT_FALSE(looksSelfLabelled(note, Samples{"home: yes"}));

    // Only automatic choices without a custom label are changed.
    auto otherPhone = phone;
    otherPhone.setLabel(Label::other);
    std::vector<MappedContactProperty> list(3);
    list[0].columnIndex = 0;
    list[0].contactProperty = otherPhone;
    list[1].columnIndex = 1;
    list[1].contactProperty = otherPhone;
    list[1].mappedManuallyByUser = true;
    list[2].columnIndex = 2;
    list[2].contactProperty = otherPhone;
    list[2].labelColumnIndex = 1;
    std::vector<DataRow> rows(2);
    rows[0].addText(0, "Phone");
    rows[0].addText(1, "Other phone");
    rows[0].addText(2, "Phone 1 - Value");
    rows[1].addText(0, "work: 1, home: 2");
    rows[1].addText(1, "work: 3");
    rows[1].addText(2, "work: 4");
    proposeExtractedLabels(list, rows, 0);
    EXPECT_EQ(list[0].contactProperty.label(), std::string(kExtractLabelMarker));
    EXPECT_NE(list[1].contactProperty.label(), std::string(kExtractLabelMarker));
    // A label column labels that one.
    EXPECT_NE(list[2].contactProperty.label(), std::string(kExtractLabelMarker));
}

}  // namespace
}  // namespace pelkora
