#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "mapping/SavedMapping.h"
#include "platform/AtomicFile.h"
#include "propertylist/PropertyList.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;
using namespace std::chrono_literals;
using Uid = PropertyValue::Uid;
using PlistArray = PropertyValue::Array;
using PlistDictionary = PropertyValue::Dictionary;

// A keyed archive put together object by object, as another archiver writes it: each class
// record once, strings as objects of their own, integers inline.
class HandArchive {
  public:
    Uid add(PropertyValue object) {
        objects_.push_back(std::move(object));
        return Uid{objects_.size() - 1};
    }
    Uid classRecord(const std::string& name) {
        if (auto found = classes_.find(name); found != classes_.end()) return found->second;
        const Uid uid =
            add(PlistDictionary{{"$classname", name}, {"$classes", PlistArray{name, "NSObject"}}});
        classes_.emplace(name, uid);
        return uid;
    }
    Uid object(const std::string& className, PlistDictionary fields) {
        const Uid uid = add(PlistDictionary{});
        fields.emplace("$class", classRecord(className));
        objects_[uid.value] = std::move(fields);
        return uid;
    }
    Uid array(const std::vector<Uid>& elements) {
        PlistArray references(elements.begin(), elements.end());
        return object("NSArray", {{"NS.objects", std::move(references)}});
    }
    // An NSDate: seconds since 2001-01-01 as a real.
    Uid date(double secondsSince2001) { return object("NSDate", {{"NS.time", secondsSince2001}}); }
    std::string bytes(Uid root) const {
        return encodePropertyList(PlistDictionary{{"$archiver", "NSKeyedArchiver"},
                                                  {"$version", 100000},
                                                  {"$top", PlistDictionary{{"root", root}}},
                                                  {"$objects", objects_}},
                                  PropertyListFormat::binary);
    }

  private:
    PlistArray objects_{PropertyValue("$null")};
    std::map<std::string, Uid> classes_;
};

constexpr auto kReferenceDate = std::chrono::sys_days(std::chrono::year(2001) / 1 / 1);

// A column as the archive keeps it: a title and a target with a key and a label.
Uid handColumn(HandArchive& archive, const std::string& prefix, const std::string& title,
               const std::string& key, std::optional<std::string> label = {}) {
    PlistDictionary target{{"framework", archive.add("Contacts")},
                           {"type", archive.add("Property")},
                           {"propertyKey", archive.add(key)},
                           {"localizedString", Uid{0}},
                           {"isUserCustomMapping", false}};
    target.emplace("systemLabel", label ? PropertyValue(archive.add(*label)) : Uid{0});
    const Uid targetUid = archive.object(prefix + "SuggestedContactProperty", std::move(target));
    return archive.object(
        prefix + "MappedContactProperty",
        {{"sourceFieldName", archive.add(title)}, {"contactProperty", targetUid}});
}

Expected<std::vector<SavedMapping>, MappingArchiveError> decodeHandMapping(
    const std::string& prefix, const std::vector<std::pair<std::string, std::string>>& columns) {
    HandArchive archive;
    std::vector<Uid> entries;
    for (const auto& column : columns)
        entries.push_back(handColumn(archive, prefix, column.first, column.second));
    const Uid saved = archive.object(
        prefix + "SavedMapping",
        {{"title", archive.add("Notes")}, {"mappedContactProperties", archive.array(entries)}});
    return unarchiveSavedMappings(archive.bytes(archive.array({saved})));
}

SavedMapping mapping(std::string title, MappingMode mode,
                     std::vector<std::pair<std::string, SuggestedContactProperty>> columns) {
    SavedMapping result;
    result.title = std::move(title);
    result.mappingMode = mode;
    for (auto& [name, target] : columns) {
        MappedContactProperty entry;
        entry.sourceFieldName = name;
        entry.contactProperty = target;
        result.mappedContactProperties.push_back(std::move(entry));
    }
    result.columnTitlesHash = columnTitlesHash(result.mappedContactProperties);
    return result;
}

SuggestedContactProperty labelled(std::string_view key, std::string_view label) {
    auto target = SuggestedContactProperty::target(key);
    target.systemLabel = std::string(label);
    return target;
}

std::vector<MappedContactProperty> sessionColumns(const std::vector<std::string>& titles) {
    std::vector<MappedContactProperty> list;
    for (const auto& title : titles) {
        MappedContactProperty entry;
        entry.sourceFieldName = title;
        entry.contactProperty = SuggestedContactProperty::target(ContactKey::organizationName);
        list.push_back(std::move(entry));
    }
    return list;
}

std::vector<std::string> keysOf(const std::vector<MappedContactProperty>& list) {
    std::vector<std::string> keys;
    for (const auto& entry : list) keys.push_back(entry.contactProperty.propertyKey.value_or("-"));
    return keys;
}

std::vector<std::string> titlesOf(const std::vector<SavedMapping>& list) {
    std::vector<std::string> titles;
    for (const auto& entry : list) titles.push_back(entry.title);
    return titles;
}

TEST(SavedMapping, StartsWithItsInitialValues) {
    const SavedMapping first;
    const SavedMapping second;
    EXPECT_EQ(first.title, "Untitled Mapping");
    EXPECT_EQ(first.mappingMode, MappingMode::byName);
    EXPECT_EQ(first.uuid.size(), 36u);
    EXPECT_EQ(first.uuid[14], '4');  // a random UUID
    EXPECT_NE(first.uuid, second.uuid);
    EXPECT_EQ(first.createdOn, first.updatedOn);
    EXPECT_FALSE(first.bundleVersion.empty());
    EXPECT_EQ(first.originalBundleVersion, first.bundleVersion);
    EXPECT_EQ(exportFileName(2), "2 Mappings.zubmapping");
}

TEST(SavedMapping, ArchivesOfAnotherWriterDecode) {
    for (const std::string prefix : {"", "Pelkora."}) {
        SCOPED_TRACE("class prefix '" + prefix + "'");
        HandArchive archive;
        const Uid version = archive.add("2.4");  // shared by both version fields
        const std::vector<Uid> columns = {
            handColumn(archive, prefix, "E-Mail", std::string(ContactKey::emailAddresses),
                       std::string(Label::work)),
            handColumn(archive, prefix, "Vorname", std::string(ContactKey::givenName))};
        const Uid saved = archive.object(
            prefix + "SavedMapping", {{"title", archive.add("Kunden")},
                                      {"mappingMode", 1},
                                      {"columnTitlesHash", -4242},
                                      {"mappedContactProperties", archive.array(columns)},
                                      {"uuid", archive.add("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0")},
                                      {"createdOn", archive.date(86400.5)},
                                      {"updatedOn", archive.date(2 * 86400.0)},
                                      {"usageCount", 7},
                                      {"bundleVersion", version},
                                      {"originalBundleVersion", version}});
        // A mapping of which only the title was written keeps every other initial value.
        const Uid bare =
            archive.object(prefix + "SavedMapping", {{"title", archive.add("Nur Titel")}});

        auto decoded = unarchiveSavedMappings(archive.bytes(archive.array({saved, bare})));
        ASSERT_TRUE(decoded) << decoded.error().message;
        ASSERT_EQ(decoded->size(), 2u);
        const SavedMapping& first = (*decoded)[0];
        EXPECT_EQ(first.title, "Kunden");
        EXPECT_EQ(first.mappingMode, MappingMode::byPosition);
        EXPECT_EQ(first.columnTitlesHash, -4242);
        EXPECT_EQ(first.uuid, "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
        EXPECT_EQ(first.createdOn, kReferenceDate + 24h + 500ms);
        EXPECT_EQ(first.updatedOn, kReferenceDate + 48h);
        EXPECT_EQ(first.usageCount, 7);
        EXPECT_EQ(first.bundleVersion, "2.4");
        EXPECT_EQ(first.originalBundleVersion, "2.4");
        ASSERT_EQ(first.mappedContactProperties.size(), 2u);
        EXPECT_EQ(first.mappedContactProperties[0].sourceFieldName, "E-Mail");
        EXPECT_EQ(first.mappedContactProperties[0].contactProperty,
                  labelled(ContactKey::emailAddresses, Label::work));
        EXPECT_EQ(keysOf(first.mappedContactProperties),
                  (std::vector<std::string>{"emailAddresses", "givenName"}));

        const SavedMapping& second = (*decoded)[1];
        EXPECT_EQ(second.title, "Nur Titel");
        EXPECT_EQ(second.mappingMode, MappingMode::byName);
        EXPECT_TRUE(second.mappedContactProperties.empty());
        EXPECT_EQ(second.uuid.size(), 36u);
        EXPECT_NE(second.uuid, first.uuid);
    }
}

// A list written by another archiver: one column object listed twice, a field we do not know
// (a dictionary), both versions one shared string.
TEST(SavedMapping, SampleArchiveDecodes) {
    auto bytes = readWholeFile(std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                               "keyed-archives/valid-saved-mappings.zubmapping");
    ASSERT_TRUE(bytes) << bytes.error().message;
    auto decoded = unarchiveSavedMappings(*bytes);
    ASSERT_TRUE(decoded) << decoded.error().message;
    ASSERT_EQ(decoded->size(), 1u);
    const SavedMapping& saved = decoded->front();
    EXPECT_EQ(saved.title, "Adressen");
    EXPECT_EQ(saved.columnTitlesHash, -4242424242);
    EXPECT_EQ(saved.createdOn, kReferenceDate + 730944001s + 234567us);
    EXPECT_EQ(saved.usageCount, 2);
    EXPECT_EQ(saved.originalBundleVersion, "1");
    ASSERT_EQ(saved.mappedContactProperties.size(), 2u);
    EXPECT_EQ(saved.mappedContactProperties[0], saved.mappedContactProperties[1]);
    EXPECT_EQ(saved.mappedContactProperties[0].sourceFieldName, "Straße");
    auto street = labelled(ContactKey::postalAddresses, Label::work);
    street.propertySubKey = std::string(PostalAddressKey::street);
    street.ISOLanguageCode = "de";
    street.isUserCustomMapping = true;
    EXPECT_EQ(saved.mappedContactProperties[0].contactProperty, street);
}

// The fuzzer's seed is our archive of these mappings. The archive is deterministic, so its bytes
// stay the same as long as the format does; PELKORA_WRITE_SEEDS=1 writes the seed anew.
TEST(SavedMapping, OwnArchiveRoundTripsAndMatchesTheFuzzerSeed) {
    auto kunden = mapping(
        "Kunden", MappingMode::byPosition,
        {{"Telefon", labelled(ContactKey::phoneNumbers, Label::mobile)},
         {"Notiz", SuggestedContactProperty::target(ContactKey::note)},
         {"Cousine", labelled(ContactKey::contactRelations, extendedRelationLabels.front())}});
    kunden.uuid = "6B1E0F4C-2D3A-4B5C-9D8E-7F6A5B4C3D2E";
    kunden.createdOn = kReferenceDate + 24h * 9000 + 123456us;
    kunden.updatedOn = kunden.createdOn + 1h;
    kunden.usageCount = 12;
    kunden.bundleVersion = kunden.originalBundleVersion = "0.1.0";
    auto leer = kunden;
    leer.title = "Leer";
    leer.mappingMode = MappingMode::byName;
    leer.mappedContactProperties.clear();
    leer.columnTitlesHash = 0;
    leer.uuid = "0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3";
    const std::string bytes = archiveSavedMappings({kunden, leer});
    const auto seed = std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                      "keyed-archives/valid-own-saved-mappings.zubmapping";
    if (std::getenv("PELKORA_WRITE_SEEDS")) {
        ASSERT_TRUE(writeFileAtomically(seed, bytes));
    }
    auto stored = readWholeFile(seed);
    ASSERT_TRUE(stored) << stored.error().message;
    EXPECT_TRUE(*stored == bytes) << "the archive of saved mappings changed";
    auto decoded = unarchiveSavedMappings(*stored);
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_EQ(*decoded, (std::vector<SavedMapping>{kunden, leer}));

    // A new mapping's dates are stored to the microsecond and read back equal.
    const std::vector<SavedMapping> fresh(1);
    auto again = unarchiveSavedMappings(archiveSavedMappings(fresh));
    ASSERT_TRUE(again) << again.error().message;
    EXPECT_EQ(*again, fresh);
}

TEST(SavedMapping, LaterNoteColumnsAreAppendedToTheNote) {
    const std::string note(ContactKey::note);
    auto decoded = decodeHandMapping(
        "", {{"Notiz", note}, {"Name", "givenName"}, {"Bemerkung", note}, {"Info", note}});
    ASSERT_TRUE(decoded) << decoded.error().message;
    const auto& columns = decoded->at(0).mappedContactProperties;
    EXPECT_EQ(keysOf(columns),
              (std::vector<std::string>{note, "givenName", "CustomPropertyKey.AdditionalNote",
                                        "CustomPropertyKey.AdditionalNote"}));
    EXPECT_EQ(columns[2].contactProperty,
              SuggestedContactProperty::target(CustomPropertyKeys::AdditionalNote));
    EXPECT_EQ(columns[3].sourceFieldName, "Info");
}

TEST(SavedMapping, OtherContentIsCorruptData) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"not an archive", "SavedMapping title=Kunden"});
    {
        HandArchive archive;
        cases.push_back({"root is a string", archive.bytes(archive.add("Kunden"))});
    }
    {
        HandArchive archive;
        const Uid saved = archive.object("SavedMapping", {{"title", archive.add("x")}});
        cases.push_back({"root is a single mapping", archive.bytes(saved)});
    }
    {
        HandArchive archive;
        cases.push_back({"array of strings", archive.bytes(archive.array({archive.add("x")}))});
    }
    {
        HandArchive archive;
        const Uid column = handColumn(archive, "", "Name", "givenName");
        cases.push_back({"array of columns", archive.bytes(archive.array({column}))});
    }
    {
        HandArchive archive;
        const Uid target = archive.object("SuggestedContactProperty", {});
        const Uid saved =
            archive.object("SavedMapping", {{"mappedContactProperties", archive.array({target})}});
        cases.push_back({"a target among the columns", archive.bytes(archive.array({saved}))});
    }
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        auto decoded = unarchiveSavedMappings(test.bytes);
        ASSERT_FALSE(decoded);
        EXPECT_EQ(decoded.error().kind, MappingArchiveErrorKind::corruptData);
        EXPECT_FALSE(decoded.error().message.empty());
    }
}

TEST(SavedMapping, UnknownClassIsLoggedAndFails) {
    HandArchive archive;
    const Uid stranger = archive.object("ImportProfile", {{"title", archive.add("x")}});
    const Uid saved =
        archive.object("SavedMapping", {{"title", archive.add("Kunden")}, {"profile", stranger}});
    test::LogCapture log;
    auto decoded = unarchiveSavedMappings(archive.bytes(archive.array({saved})));
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().kind, MappingArchiveErrorKind::corruptData);
    EXPECT_NE(decoded.error().message.find("ImportProfile"), std::string::npos)
        << decoded.error().message;
    EXPECT_TRUE(
        log.contains("Cannot decode object of classname 'ImportProfile'. Error: Unknown "
                     "error"));

    // The date-format class is known, under either name.
    for (const std::string name : {"QvDateFormat", "Pelkora.QvDateFormat"}) {
        HandArchive withFormat;
        const Uid format = withFormat.object(name, {{"format", withFormat.add("dd.MM.yyyy")}});
        const Uid other = withFormat.object(
            "SavedMapping", {{"title", withFormat.add("Daten")}, {"dateFormat", format}});
        auto read = unarchiveSavedMappings(withFormat.bytes(withFormat.array({other})));
        ASSERT_TRUE(read) << name << ": " << read.error().message;
        EXPECT_EQ(read->at(0).title, "Daten");
    }
}

TEST(SavedMapping, ColumnTitlesHashIgnoresOrderAndCase) {
    const auto hash = [](const std::vector<std::string>& titles) {
        return columnTitlesHash(sessionColumns(titles));
    };
    EXPECT_EQ(hash({}), 0);
    EXPECT_EQ(hash({"Name", "E-Mail"}), hash({"e-mail", "NAME"}));
    EXPECT_NE(hash({"Name", "E-Mail"}), hash({"Name", "Phone"}));
    // Titles are joined without separator.
    EXPECT_EQ(hash({"ab", "c"}), hash({"a", "bc"}));
    EXPECT_NE(columnTitlesHash(std::filesystem::path("/home/anna/Karten")),
              columnTitlesHash(std::filesystem::path("/home/anna/Kontakte")));
}

TEST(SavedMapping, ApplyTakesTheSavedTargets) {
    const auto email = labelled(ContactKey::emailAddresses, Label::home);
    const auto phone = labelled(ContactKey::phoneNumbers, Label::mobile);
    const auto name = SuggestedContactProperty::target(ContactKey::givenName);
    struct Case {
        const char* name;
        MappingMode mode;
        std::vector<std::string> session;
        std::vector<std::string> expectedKeys;  // "-" for no target
        std::size_t taken;
    };
    const std::vector<Case> cases = {
        {"by name, other order and case",
         MappingMode::byName,
         {"PHONE", "name", "e-mail"},
         {"phoneNumbers", "givenName", "emailAddresses"},
         3},
        {"by name, unknown columns keep theirs",
         MappingMode::byName,
         {"Firma", "Name"},
         {"organizationName", "givenName"},
         1},
        {"by name, nothing matches", MappingMode::byName, {"Firma"}, {"organizationName"}, 0},
        {"by position, more columns",
         MappingMode::byPosition,
         {"a", "b", "c", "d"},
         {"givenName", "emailAddresses", "phoneNumbers", "-"},
         3},
        {"by position, fewer columns",
         MappingMode::byPosition,
         {"a", "b"},
         {"givenName", "emailAddresses"},
         2},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        auto saved =
            mapping("Kunden", test.mode, {{"Name", name}, {"E-Mail", email}, {"Phone", phone}});
        saved.usageCount = 4;
        const auto updatedOn = saved.updatedOn;
        auto list = sessionColumns(test.session);
        EXPECT_EQ(applySavedMapping(saved, list, true), test.taken);
        EXPECT_EQ(keysOf(list), test.expectedKeys);
        for (const auto& entry : list) {
            EXPECT_EQ(entry.isCustomMapping,
                      entry.contactProperty.propertyKey != "organizationName" &&
                          entry.contactProperty.isValid());
        }
        EXPECT_EQ(saved.usageCount, 5);
        EXPECT_EQ(saved.updatedOn, updatedOn);
    }
    // The saved labels come along.
    auto saved = mapping("Kunden", MappingMode::byName, {{"E-Mail", email}});
    auto list = sessionColumns({"E-MAIL"});
    applySavedMapping(saved, list, true);
    EXPECT_EQ(list[0].contactProperty, email);
}

TEST(SavedMapping, HiddenExtendedRelationsBecomeOther) {
    const auto extended = extendedRelationLabels.front();
    const auto common = RelationLabel::mother;
    for (bool shown : {true, false}) {
        SCOPED_TRACE(shown ? "shown" : "hidden");
        auto saved = mapping("Familie", MappingMode::byName,
                             {{"Cousin", labelled(ContactKey::contactRelations, extended)},
                              {"Mutter", labelled(ContactKey::contactRelations, common)}});
        auto list = sessionColumns({"Cousin", "Mutter"});
        ASSERT_EQ(applySavedMapping(saved, list, shown), 2u);
        EXPECT_EQ(list[0].contactProperty.label(), std::string(shown ? extended : Label::other));
        EXPECT_EQ(list[1].contactProperty.label(), std::string(common));
    }
}

class SavedMappingStoreTest : public ::testing::Test {
  protected:
    test::TemporaryDirectory folder;
    std::filesystem::path file = folder / "pelkora/SavedMappings";
};

TEST_F(SavedMappingStoreTest, TwoStoresOnOneFileKeepBothMappings) {
    SavedMappingStore first(file);
    SavedMappingStore second(file);
    ASSERT_TRUE(first.save(mapping("beta", MappingMode::byName, {})));
    ASSERT_TRUE(second.save(mapping("Alpha", MappingMode::byName, {})));
    EXPECT_EQ(titlesOf(second.mappings()), (std::vector<std::string>{"Alpha", "beta"}));
    ASSERT_TRUE(first.save(mapping("Gamma", MappingMode::byName, {})));
    ASSERT_TRUE(second.save(mapping("Äpfel", MappingMode::byName, {})));
    ASSERT_TRUE(first.save(mapping("zebra", MappingMode::byName, {})));
    EXPECT_EQ(titlesOf(first.mappings()),
              (std::vector<std::string>{"Alpha", "Äpfel", "beta", "Gamma", "zebra"}));
    EXPECT_EQ(titlesOf(SavedMappingStore(file).mappings()), titlesOf(first.mappings()));
    EXPECT_FALSE(std::filesystem::exists(folder / "pelkora/SavedMappings.damaged"));
}

TEST_F(SavedMappingStoreTest, ChangesGoByUuid) {
    SavedMappingStore store(file);
    auto kunden = mapping("Kunden", MappingMode::byName,
                          {{"Name", SuggestedContactProperty::target(ContactKey::givenName)}});
    auto lieferanten = mapping("Lieferanten", MappingMode::byName, {});
    ASSERT_TRUE(store.save(kunden));
    ASSERT_TRUE(store.save(lieferanten));
    EXPECT_EQ(store.findByTitle("KUNDEN"), store.findByUuid(kunden.uuid));

    ASSERT_TRUE(store.rename(kunden.uuid, "Stammkunden"));
    EXPECT_EQ(store.findByUuid(kunden.uuid)->title, "Stammkunden");
    EXPECT_GE(store.findByUuid(kunden.uuid)->updatedOn, kunden.updatedOn);
    EXPECT_FALSE(store.rename("no-such-uuid", "x"));

    // An imported mapping of a known uuid replaces title, mode and columns, keeping the count.
    ASSERT_TRUE(store.save([&] {
        auto used = *store.findByUuid(kunden.uuid);
        used.usageCount = 9;
        return used;
    }()));
    auto imported = mapping("Kunden 2020", MappingMode::byPosition, {});
    imported.uuid = kunden.uuid;
    const auto added = mapping("Neu", MappingMode::byName, {});
    ASSERT_TRUE(store.merge({imported, added}));
    const SavedMapping* merged = store.findByUuid(kunden.uuid);
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->title, "Kunden 2020");
    EXPECT_EQ(merged->mappingMode, MappingMode::byPosition);
    EXPECT_TRUE(merged->mappedContactProperties.empty());
    EXPECT_EQ(merged->usageCount, 9);
    EXPECT_EQ(store.mappings().size(), 3u);

    ASSERT_TRUE(store.remove({kunden.uuid, added.uuid}));
    EXPECT_EQ(titlesOf(SavedMappingStore(file).mappings()),
              (std::vector<std::string>{"Lieferanten"}));
}

TEST_F(SavedMappingStoreTest, DamagedFileIsSetAside) {
    std::filesystem::create_directories(file.parent_path());
    { std::ofstream(file) << "not a list of mappings"; }
    test::LogCapture log;
    SavedMappingStore store(file);
    EXPECT_TRUE(store.mappings().empty());
    EXPECT_TRUE(log.contains("Cannot unarchive saved mappings: "));
    EXPECT_FALSE(std::filesystem::exists(file));
    std::vector<std::filesystem::path> aside;
    for (const auto& item : std::filesystem::directory_iterator(file.parent_path())) {
        if (item.path().filename().string().starts_with("SavedMappings.damaged-"))
            aside.push_back(item.path());
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(*readWholeFile(aside[0]), "not a list of mappings");

    ASSERT_TRUE(store.save(mapping("Kunden", MappingMode::byName, {})));
    EXPECT_EQ(titlesOf(SavedMappingStore(file).mappings()), (std::vector<std::string>{"Kunden"}));
    EXPECT_EQ(*readWholeFile(aside[0]), "not a list of mappings");
}

// A file that cannot be read is no damaged file: it is neither set aside nor replaced.
TEST_F(SavedMappingStoreTest, UnreadableFileIsLeftAlone) {
    std::filesystem::create_directories(file / "inside");
    SavedMappingStore store(file);
    EXPECT_TRUE(store.mappings().empty());
    EXPECT_FALSE(store.save(mapping("Kunden", MappingMode::byName, {})));
    EXPECT_TRUE(std::filesystem::is_directory(file / "inside"));
}

TEST_F(SavedMappingStoreTest, AvailableTitleCounts) {
    SavedMappingStore store(file);
    EXPECT_EQ(store.availableTitle("Kunden"), "Kunden");
    ASSERT_TRUE(store.save(mapping("Kunden", MappingMode::byName, {})));
    EXPECT_EQ(store.availableTitle("kunden"), "kunden 2");
    ASSERT_TRUE(store.save(mapping("Kunden 2", MappingMode::byName, {})));
    EXPECT_EQ(store.availableTitle("Kunden"), "Kunden 3");
}

}  // namespace
}  // namespace pelkora
