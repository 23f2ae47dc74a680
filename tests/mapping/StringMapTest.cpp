#include <gtest/gtest.h>

#include <set>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "mapping/StringMap.h"
#include "propertylist/PropertyList.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;

SuggestedContactProperty richEntry() {
    SuggestedContactProperty entry;
    entry.type = "Label";
    entry.localizedString = "Telefon geschäftlich";
    entry.propertyKey = std::string(ContactKey::phoneNumbers);
    entry.propertySubKey = std::string(PostalAddressKey::city);
    entry.ISOLanguageCode = "de";
    entry.isVendorCustomMapping = true;
    entry.isUserCustomMapping = true;
    entry.systemLabel = std::string(Label::work);
    entry.customLabel = "Autotelefon";
    return entry;
}

TEST(StringMap, EntriesRoundTripThroughTheArchive) {
    SuggestedContactProperty cleared;
    cleared.clearAll();
    const StringMap entries = {richEntry(), SuggestedContactProperty{}, cleared};
    auto decoded = unarchiveStringMap(archiveStringMap(entries));
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(*decoded, entries);

    // Booleans are stored in the object itself, strings as objects of their own.
    auto plist = decodePropertyList(archiveStringMap({richEntry()}));
    ASSERT_TRUE(plist);
    const auto& objects = *plist->dictionaryValue()->at("$objects").arrayValue();
    bool sawEntry = false;
    for (const auto& object : objects) {
        const auto* fields = object.dictionaryValue();
        if (!fields || !fields->contains("isVendorCustomMapping")) continue;
        sawEntry = true;
        EXPECT_TRUE(fields->at("isVendorCustomMapping").boolValue());
        EXPECT_TRUE(fields->at("propertyKey").uidValue());
    }
    EXPECT_TRUE(sawEntry);
}

TEST(StringMap, DecodingStartsFromAFreshEntryAndAcceptsModuleNames) {
    // An archive that holds only some fields, under a module-qualified class name.
    auto object = std::make_shared<ArchivedObject>();
    object->className = "Pelkora.SuggestedContactProperty";
    object->fields["propertyKey"] = ArchiveValue(std::string(ContactKey::emailAddresses));
    object->fields["localizedString"] = ArchiveValue(std::string("Courriel"));
    object->fields["ISOLanguageCode"] =
        ArchiveValue(ArchiveValue::InlineInteger{7});  // wrong type: ignored
    const auto bytes = encodeKeyedArchive(ArchiveValue(ArchiveValue::Array{
        ArchiveValue(std::shared_ptr<const ArchivedObject>(std::move(object)))}));
    auto decoded = unarchiveStringMap(bytes);
    ASSERT_TRUE(decoded) << decoded.error();
    ASSERT_EQ(decoded->size(), 1u);
    const auto& entry = decoded->front();
    EXPECT_EQ(entry.propertyKey, std::string(ContactKey::emailAddresses));
    EXPECT_EQ(entry.localizedString, "Courriel");
    EXPECT_EQ(entry.ISOLanguageCode, "en");
    EXPECT_EQ(entry.framework, "Contacts");

    EXPECT_FALSE(unarchiveStringMap("not an archive"));
    EXPECT_FALSE(
        unarchiveStringMap(encodeKeyedArchive(ArchiveValue(std::string("a string root")))));
}

TEST(StringMap, CustomTitlesAreSavedAtomicallyAndSkippedWhenEmpty) {
    test::TemporaryDirectory folder;
    test::LogCapture log;
    const auto file = folder / "CustomStringMap.map";
    EXPECT_TRUE(loadCustomStringMap(file).empty());  // no file yet: nothing to report
    EXPECT_FALSE(log.contains("Cannot unarchive"));

    EXPECT_TRUE(saveCustomStringMap({}, file));
    EXPECT_TRUE(log.contains("Skip archiving custom string map: No custom mappings found"));
    EXPECT_FALSE(std::filesystem::exists(file));

    ASSERT_TRUE(saveCustomStringMap({richEntry()}, file));
    EXPECT_EQ(loadCustomStringMap(file), StringMap{richEntry()});

    test::writeFile(file, "damaged");
    EXPECT_TRUE(loadCustomStringMap(file).empty());
    EXPECT_TRUE(log.contains("Cannot unarchive custom string map: "));
}

TEST(StringMap, ForgettingTitlesRewritesTheListAndTheLastOneRemovesTheFile) {
    test::TemporaryDirectory folder;
    const auto file = folder / "CustomStringMap.map";
    const auto titled = [](std::string title) {
        SuggestedContactProperty entry = richEntry();
        entry.localizedString = std::move(title);
        return entry;
    };
    StringMap entries = {titled("Kundennummer"), titled("Mobil privat"), titled("kundennummer")};
    ASSERT_TRUE(replaceCustomStringMap(entries, file));

    EXPECT_FALSE(forgetCustomTitle(entries, "Kundennr"));
    EXPECT_FALSE(forgetCustomTitle(entries, "Kundennummer "));
    EXPECT_TRUE(forgetCustomTitle(entries, "Kundennummer"));
    EXPECT_FALSE(forgetCustomTitle(entries, "Kundennummer")) << "forgotten already";
    ASSERT_TRUE(replaceCustomStringMap(entries, file));
    EXPECT_EQ(loadCustomStringMap(file),
              (StringMap{titled("Mobil privat"), titled("kundennummer")}));

    ASSERT_TRUE(replaceCustomStringMap({}, file));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(replaceCustomStringMap({}, file)) << "nothing left to remove is no failure";

    // A folder in the file's place cannot be replaced; the error names it.
    std::filesystem::create_directories(file / "inside");
    const auto failed = replaceCustomStringMap({}, file);
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.error().find(file.string()), std::string::npos) << failed.error();
}

TEST(StringMap, ShippedVocabularyCoversEveryTargetInTheMainLanguages) {
    const auto& vocabulary = vendorStringMap();
    ASSERT_GT(vocabulary.size(), 5000u);
    std::set<std::string> languages;
    std::set<std::string> englishKeys;
    for (const auto& entry : vocabulary) {
        languages.insert(entry.ISOLanguageCode);
        ASSERT_TRUE(entry.localizedString && !entry.localizedString->empty());
        ASSERT_TRUE(entry.propertyKey);
        if (entry.ISOLanguageCode == "en") englishKeys.insert(*entry.propertyKey);
    }
    for (auto language : {"en", "de", "fr", "es", "it", "nl", "pt"})
        EXPECT_TRUE(languages.contains(language)) << language;
    for (auto key : {ContactKey::givenName, ContactKey::familyName, ContactKey::organizationName,
                     ContactKey::phoneNumbers, ContactKey::emailAddresses,
                     ContactKey::postalAddresses, ContactKey::birthday, ContactKey::note,
                     ContactKey::socialProfiles, ContactKey::instantMessageAddresses}) {
        EXPECT_TRUE(englishKeys.contains(std::string(key))) << key;
    }
    EXPECT_TRUE(englishKeys.contains(std::string(CustomPropertyKeys::Group)));
}

}  // namespace
}  // namespace pelkora
