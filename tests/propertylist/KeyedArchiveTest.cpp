#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>

#include "TestSupport.h"
#include "propertylist/KeyedArchive.h"
#include "propertylist/PropertyList.h"

namespace pelkora {

// Prints a value in failure messages as the archive it makes, in XML. Internal linkage keeps
// it from clashing with other test files; argument-dependent lookup still finds it here.
static void PrintTo(const ArchiveValue& value, std::ostream* out) {
    const auto plist = decodePropertyList(encodeKeyedArchive(value));
    *out << "\n" << (plist ? encodePropertyList(*plist, PropertyListFormat::xml) : "<unencodable>");
}

namespace {

using namespace std::chrono_literals;
using Uid = PropertyValue::Uid;
using PlistArray = PropertyValue::Array;
using PlistDictionary = PropertyValue::Dictionary;
using Object = std::shared_ptr<ArchivedObject>;

ArchiveValue::Date utc(int year, unsigned month, unsigned day, std::chrono::nanoseconds time = {}) {
    return std::chrono::sys_days(std::chrono::year(year) / month / day) + time;
}

Object makeObject(std::string className,
                  std::map<std::string, ArchiveValue, std::less<>> fields = {}) {
    auto object = std::make_shared<ArchivedObject>();
    object->className = std::move(className);
    object->fields = std::move(fields);
    return object;
}

KeyedArchiveClassMap mappingClasses() {
    KeyedArchiveClassMap classes;
    classes.classes = {"SavedMapping", "MappedContactProperty", "SuggestedContactProperty"};
    return classes;
}

ArchiveValue roundTrip(const ArchiveValue& value) {
    auto decoded = decodeKeyedArchive(encodeKeyedArchive(value), mappingClasses());
    EXPECT_TRUE(decoded) << (decoded ? "" : decoded.error().message);
    return decoded ? *decoded : ArchiveValue("<decoding failed>");
}

std::string errorOf(std::string_view bytes,
                    const KeyedArchiveClassMap& classes = mappingClasses()) {
    auto decoded = decodeKeyedArchive(bytes, classes);
    EXPECT_FALSE(decoded) << "decoded to a " << (decoded ? decoded->typeName() : "");
    return decoded ? "" : decoded.error().message;
}

// The property list behind our own archive, for checking its layout.
PlistDictionary plistOf(const ArchiveValue& value) {
    auto plist = decodePropertyList(encodeKeyedArchive(value));
    EXPECT_TRUE(plist) << (plist ? "" : plist.error().message);
    return plist && plist->dictionaryValue() ? *plist->dictionaryValue() : PlistDictionary();
}

PlistArray objectsOf(const PlistDictionary& archive) {
    const auto found = archive.find("$objects");
    return found != archive.end() && found->second.arrayValue() ? *found->second.arrayValue()
                                                                : PlistArray();
}

// Follows a UID into $objects.
const PropertyValue& at(const PlistArray& objects, const PropertyValue& reference) {
    static const PropertyValue invalid("<not a reference>");
    const auto* uid = reference.uidValue();
    return uid != nullptr && uid->value < objects.size() ? objects[uid->value] : invalid;
}

const PropertyValue& entry(const PropertyValue& dictionary, const std::string& key) {
    static const PropertyValue missing("<missing>");
    const auto* fields = dictionary.dictionaryValue();
    if (fields == nullptr) return missing;
    const auto found = fields->find(key);
    return found != fields->end() ? found->second : missing;
}

// Hand-built archives for the hostile cases: the top-level keys around the given objects.
PlistDictionary archiveDictionary(PlistArray objects, PropertyValue root = Uid{1}) {
    objects.insert(objects.begin(), PropertyValue("$null"));
    return {{"$archiver", "NSKeyedArchiver"},
            {"$version", 100000},
            {"$top", PlistDictionary{{"root", root}}},
            {"$objects", std::move(objects)}};
}

std::string archiveBytes(PlistArray objects, PropertyValue root = Uid{1}) {
    return encodePropertyList(archiveDictionary(std::move(objects), root),
                              PropertyListFormat::binary);
}

PropertyValue classRecord(const std::string& name) {
    return PlistDictionary{{"$classname", name}, {"$classes", PlistArray{name, "NSObject"}}};
}

PropertyValue objectWithClass(std::uint64_t classUid, PlistDictionary fields = {}) {
    fields.emplace("$class", Uid{classUid});
    return fields;
}

PlistArray references(std::initializer_list<std::uint64_t> uids) {
    PlistArray list;
    for (auto uid : uids) list.emplace_back(Uid{uid});
    return list;
}

// A SavedMapping as the mappings window writes it: inline numbers, strings, dates, a list of
// column assignments whose targets are custom objects, and nil optionals.
ArchiveValue richMapping() {
    auto givenName = makeObject("SuggestedContactProperty",
                                {{"framework", "Contacts"},
                                 {"type", "Property"},
                                 {"localizedString", ArchiveValue()},
                                 {"propertyKey", "givenName"},
                                 {"propertySubKey", ArchiveValue()},
                                 {"systemLabel", ArchiveValue()},
                                 {"customLabel", ArchiveValue()},
                                 {"ISOLanguageCode", "en"},
                                 {"isVendorCustomMapping", ArchiveValue::InlineBool{false}},
                                 {"isUserCustomMapping", ArchiveValue::InlineBool{true}}});
    auto street = makeObject("SuggestedContactProperty",
                             {{"framework", "Contacts"},
                              {"type", "Property"},
                              {"propertyKey", "postalAddresses"},
                              {"propertySubKey", "street"},
                              {"systemLabel", "_$!<Work>!$_"},
                              {"ISOLanguageCode", "de"},
                              {"isVendorCustomMapping", ArchiveValue::InlineBool{true}},
                              {"isUserCustomMapping", ArchiveValue::InlineBool{false}}});
    auto first = makeObject("MappedContactProperty",
                            {{"sourceFieldName", "Vorname"}, {"contactProperty", givenName}});
    auto second = makeObject("MappedContactProperty", {{"sourceFieldName", "Straße (geschäftlich)"},
                                                       {"contactProperty", street}});
    return makeObject(
        "SavedMapping",
        {{"title", "Adressen 2024 ✉️"},
         {"mappingMode", ArchiveValue::InlineInteger{1}},
         {"columnTitlesHash",
          ArchiveValue::InlineInteger{std::numeric_limits<std::int64_t>::min()}},
         {"mappedContactProperties", ArchiveValue::Array{first, second}},
         {"uuid", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"},
         {"createdOn", utc(2024, 2, 29, 13h + 5min + 7s + 250ms)},
         {"updatedOn", utc(2024, 3, 1, 123456us)},
         {"usageCount", ArchiveValue::InlineInteger{3}},
         {"bundleVersion", "1"},
         {"originalBundleVersion", "1"},
         {"weight", ArchiveValue::InlineDouble{0.125}},
         {"numbers", ArchiveValue::Array{true, std::int64_t{-7}, 2.5, ArchiveValue()}},
         {"nested", ArchiveValue::Array{ArchiveValue::Array{}, ArchiveValue::Array{first}}},
         {"labels", ArchiveValue::Dictionary{{"home", "_$!<Home>!$_"},
                                             {"list", ArchiveValue::Array{"a", "b"}},
                                             {"nothing", ArchiveValue()}}},
         {"thumbnail", ArchiveValue::Data{0x89, 'P', 'N', 'G', 0, 0xFF}},
         {"$reserved", "kept"},
         {"record", ArchiveValue()}});
}

// ---------------------------------------------------------------------------------------

TEST(KeyedArchiveRoundTrip, RichGraphComesBackIdentical) {
    const ArchiveValue mapping = richMapping();
    const ArchiveValue decoded = roundTrip(mapping);
    EXPECT_EQ(decoded, mapping);
    ASSERT_NE(decoded.objectValue(), nullptr);
    EXPECT_EQ(decoded.objectValue()->className, "SavedMapping");
    EXPECT_EQ(decoded.objectValue()->classChain, std::vector<std::string>{"NSObject"});
}

TEST(KeyedArchiveRoundTrip, ArrayOfMappingsComesBackIdentical) {
    const ArchiveValue mappings = ArchiveValue::Array{richMapping(), richMapping()};
    EXPECT_EQ(roundTrip(mappings), mappings);
}

TEST(KeyedArchiveRoundTrip, PlainValuesAsRootComeBack) {
    for (const ArchiveValue& value :
         {ArchiveValue(), ArchiveValue("text"), ArchiveValue(""), ArchiveValue("$null"),
          ArchiveValue(true), ArchiveValue(std::int64_t{-1}), ArchiveValue(1e300),
          ArchiveValue(ArchiveValue::Data{}), ArchiveValue(utc(1999, 12, 31)),
          ArchiveValue(ArchiveValue::Dictionary{})}) {
        EXPECT_EQ(roundTrip(value), value) << value.typeName();
    }
}

TEST(KeyedArchiveRoundTrip, EncodingIsDeterministic) {
    const auto bytes = encodeKeyedArchive(richMapping());
    EXPECT_EQ(encodeKeyedArchive(richMapping()), bytes);
    auto decoded = decodeKeyedArchive(bytes, mappingClasses());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(encodeKeyedArchive(*decoded), bytes);
}

TEST(KeyedArchiveRoundTrip, AnObjectHeldTwiceIsWrittenOnceAndSharedWhenRead) {
    auto target = makeObject("SuggestedContactProperty", {{"propertyKey", "note"}});
    const ArchiveValue list = ArchiveValue::Array{target, target};

    const auto objects = objectsOf(plistOf(list));
    const auto& references = *entry(objects[1], "NS.objects").arrayValue();
    EXPECT_EQ(references[0], references[1]);

    const auto decoded = roundTrip(list);
    ASSERT_EQ(decoded.arrayValue()->size(), 2u);
    EXPECT_EQ((*decoded.arrayValue())[0].objectValue(), (*decoded.arrayValue())[1].objectValue());
}

TEST(KeyedArchiveRoundTrip, DatesKeepMicrosecondsAndFarDatesAreClamped) {
    EXPECT_EQ(roundTrip(utc(1970, 1, 1, -1us)), ArchiveValue(utc(1970, 1, 1, -1us)));
    EXPECT_EQ(roundTrip(utc(2100, 6, 30, 999999us)), ArchiveValue(utc(2100, 6, 30, 999999us)));
    EXPECT_EQ(roundTrip(utc(2024, 1, 1, 1500ns)), ArchiveValue(utc(2024, 1, 1, 2us)));
    // The platform's "distant future" (year 4001) and "distant past" (year 1).
    const auto distantFuture =
        archiveBytes({objectWithClass(2, {{"NS.time", 63113904000.0}}), classRecord("NSDate")});
    const auto future = decodeKeyedArchive(distantFuture, mappingClasses());
    ASSERT_TRUE(future) << future.error().message;
    EXPECT_EQ(*future->dateValue(), utc(2001, 1, 1) + (std::int64_t{1} << 32) * 1s);
    const auto distantPast =
        archiveBytes({objectWithClass(2, {{"NS.time", -63114076800.0}}), classRecord("NSDate")});
    const auto past = decodeKeyedArchive(distantPast, mappingClasses());
    ASSERT_TRUE(past) << past.error().message;
    EXPECT_EQ(*past->dateValue(), utc(2001, 1, 1) - (std::int64_t{1} << 32) * 1s);
}

TEST(KeyedArchiveRoundTrip, InlineNumbersOutsideAnObjectAreWrittenAsNumbers) {
    const ArchiveValue list =
        ArchiveValue::Array{ArchiveValue::InlineBool{true}, ArchiveValue::InlineInteger{5},
                            ArchiveValue::InlineDouble{0.5}};
    EXPECT_EQ(roundTrip(list), (ArchiveValue::Array{true, std::int64_t{5}, 0.5}));
}

// ---------------------------------------------------------------------------------------

TEST(KeyedArchiveLayout, SmallArchiveHasThePlatformLayout) {
    const auto target = makeObject("SuggestedContactProperty",
                                   {{"propertyKey", "givenName"},
                                    {"customLabel", ArchiveValue()},
                                    {"isUserCustomMapping", ArchiveValue::InlineBool{true}},
                                    {"usage", ArchiveValue::InlineInteger{-3}},
                                    {"score", ArchiveValue::InlineDouble{0.5}},
                                    {"count", std::int64_t{7}},
                                    {"aliases", ArchiveValue::Array{"Vorname", ArchiveValue()}},
                                    {"createdOn", utc(2001, 1, 2, 500ms)},
                                    {"bytes", ArchiveValue::Data{1, 2}}});
    const auto archive = plistOf(target);
    ASSERT_EQ(archive.size(), 4u);
    EXPECT_EQ(archive.at("$archiver"), PropertyValue("NSKeyedArchiver"));
    EXPECT_EQ(archive.at("$version"), PropertyValue(100000));
    EXPECT_EQ(archive.at("$top"), PropertyValue(PlistDictionary{{"root", Uid{1}}}));
    const auto& objects = objectsOf(archive);
    ASSERT_GE(objects.size(), 2u);
    EXPECT_EQ(objects[0], PropertyValue("$null"));

    const PropertyValue& root = objects[1];
    ASSERT_NE(root.dictionaryValue(), nullptr);
    EXPECT_EQ(root.dictionaryValue()->size(), 10u);  // nine keys and $class
    EXPECT_EQ(at(objects, entry(root, "$class")),
              PropertyValue(PlistDictionary{
                  {"$classname", "SuggestedContactProperty"},
                  {"$classes", PlistArray{"SuggestedContactProperty", "NSObject"}}}));
    // encodeBool, encodeInteger and encodeDouble are stored in the object itself.
    EXPECT_EQ(entry(root, "isUserCustomMapping"), PropertyValue(true));
    EXPECT_EQ(entry(root, "usage"), PropertyValue(-3));
    EXPECT_EQ(entry(root, "score"), PropertyValue(0.5));
    // Everything else is an object of its own; nil is UID 0.
    EXPECT_EQ(entry(root, "customLabel"), PropertyValue(Uid{0}));
    EXPECT_EQ(at(objects, entry(root, "propertyKey")), PropertyValue("givenName"));
    EXPECT_EQ(at(objects, entry(root, "count")), PropertyValue(7));
    EXPECT_EQ(at(objects, entry(root, "bytes")), PropertyValue(PropertyValue::Data{1, 2}));

    const PropertyValue& aliases = at(objects, entry(root, "aliases"));
    EXPECT_EQ(at(objects, entry(aliases, "$class")),
              PropertyValue(PlistDictionary{{"$classname", "NSArray"},
                                            {"$classes", PlistArray{"NSArray", "NSObject"}}}));
    const auto* elements = entry(aliases, "NS.objects").arrayValue();
    ASSERT_NE(elements, nullptr);
    ASSERT_EQ(elements->size(), 2u);
    EXPECT_EQ(at(objects, (*elements)[0]), PropertyValue("Vorname"));
    EXPECT_EQ((*elements)[1], PropertyValue(Uid{0}));

    const PropertyValue& date = at(objects, entry(root, "createdOn"));
    EXPECT_EQ(entry(date, "NS.time"), PropertyValue(86400.5));
    EXPECT_EQ(*entry(at(objects, entry(date, "$class")), "$classname").stringValue(), "NSDate");
}

TEST(KeyedArchiveLayout, DictionaryHasKeysAndObjectsLists) {
    const auto archive = plistOf(ArchiveValue::Dictionary{{"b", std::int64_t{2}}, {"a", "x"}});
    const auto& objects = objectsOf(archive);
    const PropertyValue& root = objects[1];
    EXPECT_EQ(*entry(at(objects, entry(root, "$class")), "$classname").stringValue(),
              "NSDictionary");
    const auto& keys = *entry(root, "NS.keys").arrayValue();
    const auto& values = *entry(root, "NS.objects").arrayValue();
    ASSERT_EQ(keys.size(), 2u);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(at(objects, keys[0]), PropertyValue("a"));
    EXPECT_EQ(at(objects, values[0]), PropertyValue("x"));
    EXPECT_EQ(at(objects, keys[1]), PropertyValue("b"));
    EXPECT_EQ(at(objects, values[1]), PropertyValue(2));
}

TEST(KeyedArchiveLayout, EqualStringsAndClassRecordsAreWrittenOnce) {
    const auto first =
        makeObject("SuggestedContactProperty", {{"framework", "Contacts"}, {"type", "Property"}});
    const auto second =
        makeObject("SuggestedContactProperty", {{"framework", "Contacts"}, {"type", "Label"}});
    const auto objects = objectsOf(plistOf(ArchiveValue::Array{first, second, "Contacts"}));
    std::size_t contacts = 0;
    std::size_t classRecords = 0;
    for (const auto& object : objects) {
        if (object == PropertyValue("Contacts")) ++contacts;
        if (entry(object, "$classname") == PropertyValue("SuggestedContactProperty")) {
            ++classRecords;
        }
    }
    EXPECT_EQ(contacts, 1u);
    EXPECT_EQ(classRecords, 1u);
    // $null, the array, two objects, their class record, three strings, the array's record.
    EXPECT_EQ(objects.size(), 9u);
}

TEST(KeyedArchiveLayout, KeysStartingWithDollarAreEscaped) {
    const auto object = makeObject("SavedMapping", {{"$class", "mine"}, {"$", "too"}});
    const auto objects = objectsOf(plistOf(object));
    EXPECT_EQ(at(objects, entry(objects[1], "$$class")), PropertyValue("mine"));
    EXPECT_EQ(at(objects, entry(objects[1], "$$")), PropertyValue("too"));
    EXPECT_EQ(roundTrip(object), ArchiveValue(object));
}

TEST(KeyedArchiveLayout, ClassChainIsWrittenAfterTheClassName) {
    auto object = makeObject("SavedMapping");
    object->classChain = {"QvRecord", "NSObject"};
    const auto objects = objectsOf(plistOf(object));
    EXPECT_EQ(entry(at(objects, entry(objects[1], "$class")), "$classes"),
              PropertyValue(PlistArray{"SavedMapping", "QvRecord", "NSObject"}));
    EXPECT_EQ(roundTrip(object).objectValue()->classChain, object->classChain);
}

// ---------------------------------------------------------------------------------------

TEST(KeyedArchiveXml, ReadsAnArchiveInThePlatformsXmlLayout) {
    const auto bytes = test::readFile(PELKORA_TEST_DATA_DIR
                                      "/keyed-archives/valid-suggested-contact-properties.plist");
    ASSERT_FALSE(bytes.empty());
    const auto decoded = decodeKeyedArchive(bytes, mappingClasses());
    ASSERT_TRUE(decoded) << decoded.error().message;
    const auto* list = decoded->arrayValue();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 2u);

    const auto* givenName = (*list)[0].objectValue();
    ASSERT_NE(givenName, nullptr);
    EXPECT_EQ(givenName->className, "SuggestedContactProperty");
    EXPECT_EQ(givenName->classChain, std::vector<std::string>{"NSObject"});
    EXPECT_EQ(givenName->stringField("framework"), "Contacts");
    EXPECT_EQ(givenName->stringField("localizedString"), "Vorname");
    EXPECT_EQ(givenName->stringField("propertyKey"), "givenName");
    EXPECT_EQ(givenName->stringField("ISOLanguageCode"), "de");
    EXPECT_EQ(givenName->boolField("isVendorCustomMapping"), true);
    EXPECT_EQ(givenName->boolField("isUserCustomMapping"), false);
    ASSERT_NE(givenName->field("systemLabel"), nullptr);
    EXPECT_TRUE(givenName->field("systemLabel")->isNull());
    EXPECT_EQ(givenName->stringField("systemLabel"), std::nullopt);

    const auto* phone = (*list)[1].objectValue();
    ASSERT_NE(phone, nullptr);
    EXPECT_EQ(phone->stringField("customLabel"), "<!ZUB-ExtractLabelFromValue!>");
    EXPECT_EQ(phone->stringField("localizedString"), "Telefon (Arbeit)");
    EXPECT_EQ(phone->boolField("isUserCustomMapping"), true);

    // Written back, it reads the same, now under the plain class name.
    EXPECT_EQ(roundTrip(*decoded), *decoded);
}

// ---------------------------------------------------------------------------------------

TEST(KeyedArchiveClassNames, ModuleQualifiedNamesReadAsThePlainName) {
    const auto bytes =
        archiveBytes({objectWithClass(2), classRecord("AnyModule.SuggestedContactProperty")});
    const auto decoded = decodeKeyedArchive(bytes, mappingClasses());
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_EQ(decoded->objectValue()->className, "SuggestedContactProperty");
}

TEST(KeyedArchiveClassNames, AliasesMapOtherNames) {
    auto classes = mappingClasses();
    classes.aliases.emplace("_TtC7Pelkora12SavedMapping", "SavedMapping");
    classes.aliases.emplace("QvDateFormat", "DateFormat");
    EXPECT_EQ(classes.canonicalName("_TtC7Pelkora12SavedMapping"), "SavedMapping");
    EXPECT_EQ(classes.canonicalName("Pelkora.QvDateFormat"), "DateFormat");
    // A target of an alias is itself a known name, so what was read can be read again.
    EXPECT_EQ(classes.canonicalName("DateFormat"), "DateFormat");
    EXPECT_EQ(classes.canonicalName("Other"), std::nullopt);
    EXPECT_EQ(classes.canonicalName(".SavedMapping"), std::nullopt);
    EXPECT_EQ(classes.canonicalName("Pelkora."), std::nullopt);
    classes.stripModulePrefix = false;
    EXPECT_EQ(classes.canonicalName("Pelkora.SavedMapping"), std::nullopt);

    const auto bytes = archiveBytes({objectWithClass(2), classRecord("QvDateFormat")});
    const auto decoded = decodeKeyedArchive(bytes, classes);
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_EQ(decoded->objectValue()->className, "DateFormat");
}

TEST(KeyedArchiveClassNames, UnknownClassIsReportedAndFailsTheDecoding) {
    auto classes = mappingClasses();
    std::vector<std::string> reported;
    classes.unknownClass = [&](std::string_view name) { reported.emplace_back(name); };
    const auto bytes =
        archiveBytes({objectWithClass(2, {{"inner", Uid{3}}}), classRecord("SavedMapping"),
                      objectWithClass(4), classRecord("Pelkora.Unknown")});
    const auto decoded = decodeKeyedArchive(bytes, classes);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().kind, KeyedArchiveError::Kind::unknownClass);
    EXPECT_EQ(decoded.error().className, "Pelkora.Unknown");
    EXPECT_NE(decoded.error().message.find("\"Pelkora.Unknown\""), std::string::npos);
    EXPECT_EQ(reported, std::vector<std::string>{"Pelkora.Unknown"});
}

TEST(KeyedArchiveClassNames, ModulePrefixIsKeptWhenStrippingIsOff) {
    auto classes = mappingClasses();
    classes.stripModulePrefix = false;
    const auto bytes = archiveBytes({objectWithClass(2), classRecord("Pelkora.SavedMapping")});
    const auto decoded = decodeKeyedArchive(bytes, classes);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().kind, KeyedArchiveError::Kind::unknownClass);
}

TEST(KeyedArchiveClassNames, UnreachableObjectsOfUnknownClassesAreIgnored) {
    const auto bytes = archiveBytes({"root", objectWithClass(3), classRecord("Elsewhere")});
    const auto decoded = decodeKeyedArchive(bytes, mappingClasses());
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_EQ(*decoded, ArchiveValue("root"));
}

TEST(KeyedArchiveClassNames, PlatformCollectionsDecodeToPlainValues) {
    const auto bytes = archiveBytes(
        {objectWithClass(2, {{"NS.objects", references({3, 5, 7, 9})}}),
         classRecord("NSMutableArray"), objectWithClass(4, {{"NS.string", "mutable"}}),
         classRecord("NSMutableString"), objectWithClass(6, {{"NS.data", PropertyValue::Data{7}}}),
         classRecord("NSMutableData"), objectWithClass(8, {{"NS.objects", references({10})}}),
         classRecord("NSSet"),
         objectWithClass(11, {{"NS.keys", references({10})}, {"NS.objects", references({3})}}),
         "key", classRecord("NSMutableDictionary")});
    const auto decoded = decodeKeyedArchive(bytes, mappingClasses());
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_EQ(*decoded,
              (ArchiveValue::Array{"mutable", ArchiveValue::Data{7}, ArchiveValue::Array{"key"},
                                   ArchiveValue::Dictionary{{"key", "mutable"}}}));
}

// ---------------------------------------------------------------------------------------

TEST(KeyedArchiveFields, ReadersGiveNoneForAbsentOrOtherTypes) {
    const auto object =
        makeObject("SavedMapping", {{"title", "Mapping"},
                                    {"flag", ArchiveValue::InlineBool{true}},
                                    {"boxedFlag", false},
                                    {"count", ArchiveValue::InlineInteger{4}},
                                    {"boxedCount", std::int64_t{5}},
                                    {"ratio", ArchiveValue::InlineDouble{0.25}},
                                    {"createdOn", utc(2020, 1, 1)},
                                    {"bytes", ArchiveValue::Data{1}},
                                    {"list", ArchiveValue::Array{}},
                                    {"table", ArchiveValue::Dictionary{}},
                                    {"target", makeObject("SuggestedContactProperty")},
                                    {"nothing", ArchiveValue()}});
    EXPECT_EQ(object->stringField("title"), "Mapping");
    EXPECT_EQ(object->stringField("count"), std::nullopt);
    EXPECT_EQ(object->stringField("absent"), std::nullopt);
    EXPECT_EQ(object->stringField("nothing"), std::nullopt);
    EXPECT_EQ(object->boolField("flag"), true);
    EXPECT_EQ(object->boolField("boxedFlag"), false);
    EXPECT_EQ(object->boolField("count"), std::nullopt);
    EXPECT_EQ(object->integerField("count"), 4);
    EXPECT_EQ(object->integerField("boxedCount"), 5);
    EXPECT_EQ(object->integerField("flag"), std::nullopt);
    EXPECT_EQ(object->integerField("ratio"), std::nullopt);
    EXPECT_EQ(object->doubleField("ratio"), 0.25);
    EXPECT_EQ(object->doubleField("count"), 4.0);
    EXPECT_EQ(object->doubleField("title"), std::nullopt);
    EXPECT_EQ(object->dateField("createdOn"), utc(2020, 1, 1));
    EXPECT_EQ(object->dateField("title"), std::nullopt);
    EXPECT_EQ(object->dataField("bytes"), ArchiveValue::Data{1});
    EXPECT_NE(object->arrayField("list"), nullptr);
    EXPECT_EQ(object->arrayField("table"), nullptr);
    EXPECT_NE(object->dictionaryField("table"), nullptr);
    EXPECT_NE(object->objectField("target"), nullptr);
    EXPECT_EQ(object->objectField("nothing"), nullptr);
    EXPECT_EQ(object->field("absent"), nullptr);
}

TEST(KeyedArchiveFields, EqualityComparesObjectsByContents) {
    EXPECT_EQ(ArchiveValue(makeObject("A", {{"x", "1"}})),
              ArchiveValue(makeObject("A", {{"x", "1"}})));
    EXPECT_NE(ArchiveValue(makeObject("A", {{"x", "1"}})),
              ArchiveValue(makeObject("A", {{"x", "2"}})));
    EXPECT_NE(ArchiveValue(makeObject("A")), ArchiveValue(makeObject("B")));
    EXPECT_NE(ArchiveValue(ArchiveValue::InlineBool{true}), ArchiveValue(true));
    EXPECT_EQ(ArchiveValue(Object()), ArchiveValue());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(ArchiveValue(nan), ArchiveValue(nan));
}

TEST(KeyedArchiveFields, SharedObjectsAreComparedOnce) {
    // Sixty levels of objects that each refer twice to the next: compared naively, 2^60 steps.
    ArchiveValue left = "end";
    ArchiveValue right = "end";
    for (int level = 0; level < 60; ++level) {
        left = makeObject("SavedMapping", {{"a", left}, {"b", left}});
        right = makeObject("SavedMapping", {{"a", right}, {"b", right}});
    }
    EXPECT_EQ(left, right);
}

// ---------------------------------------------------------------------------------------

TEST(KeyedArchiveHostile, NotAPropertyListIsUnreadable) {
    const auto decoded = decodeKeyedArchive("hello", mappingClasses());
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().kind, KeyedArchiveError::Kind::unreadable);
    EXPECT_EQ(decodeKeyedArchive("", mappingClasses()).error().kind,
              KeyedArchiveError::Kind::unreadable);
}

TEST(KeyedArchiveHostile, TopLevelKeysAreChecked) {
    const auto withChange = [](const std::string& key, std::optional<PropertyValue> value) {
        auto archive = archiveDictionary({"root"});
        if (value) {
            archive.insert_or_assign(key, *value);
        } else {
            archive.erase(key);
        }
        return encodePropertyList(archive, PropertyListFormat::binary);
    };
    EXPECT_EQ(errorOf(withChange("$archiver", "NSArchiver")),
              "$archiver is \"NSArchiver\", not \"NSKeyedArchiver\"");
    EXPECT_EQ(errorOf(withChange("$archiver", 1)),
              "$archiver is a integer, not \"NSKeyedArchiver\"");
    EXPECT_EQ(errorOf(withChange("$archiver", std::nullopt)), "the archive has no $archiver");
    EXPECT_NE(errorOf(withChange("$version", 99999)).find("$version is 99999"), std::string::npos);
    EXPECT_EQ(errorOf(withChange("$top", std::nullopt)), "the archive has no $top");
    EXPECT_EQ(errorOf(withChange("$top", PlistArray{})), "$top is a list, not a dictionary");
    EXPECT_EQ(errorOf(withChange("$top", PlistDictionary{})), "$top has no \"root\"");
    EXPECT_EQ(errorOf(withChange("$top", PlistDictionary{{"root", 1}})),
              "$top's root is a integer, not a reference");
    EXPECT_EQ(errorOf(withChange("$objects", std::nullopt)), "the archive has no $objects");
    EXPECT_EQ(errorOf(withChange("$objects", PlistArray{})),
              "$objects does not start with \"$null\"");
    EXPECT_EQ(errorOf(withChange("$objects", "$null")), "$objects is a string, not a list");
    EXPECT_EQ(errorOf(encodePropertyList(PlistArray{}, PropertyListFormat::binary)),
              "the property list is a list, not a keyed archive's dictionary");
}

TEST(KeyedArchiveHostile, ReferencesOutOfRangeAreRefused) {
    EXPECT_EQ(errorOf(archiveBytes({"x"}, Uid{90})),
              "$top's root refers to object 90, but there are 2 objects");
    EXPECT_EQ(errorOf(archiveBytes(
                  {objectWithClass(2, {{"title", Uid{90}}}), classRecord("SavedMapping")})),
              "field \"title\" of object 1 refers to object 90, but there are 3 objects");
    EXPECT_EQ(errorOf(archiveBytes({objectWithClass(2, {{"NS.objects", references({0, 31})}}),
                                    classRecord("NSArray")})),
              "element 1 of object 1 (NSArray) refers to object 31, but there are 3 objects");
    EXPECT_EQ(errorOf(archiveBytes({objectWithClass(12)})),
              "object 1's $class refers to object 12, but there are 2 objects");
    EXPECT_EQ(errorOf(archiveBytes(
                  {objectWithClass(2, {{"NS.string", Uid{9}}}), classRecord("NSMutableString")})),
              "object 1 (NSMutableString)'s NS.string refers to object 9, but there are 3 objects");
}

TEST(KeyedArchiveHostile, CyclesAreRefused) {
    const auto self = archiveBytes(
        {objectWithClass(2, {{"contactProperty", Uid{1}}}), classRecord("MappedContactProperty")});
    EXPECT_EQ(errorOf(self),
              "field \"contactProperty\" of object 1 refers to object 1, which contains it: the "
              "archive has a cycle");
    const auto pair =
        archiveBytes({objectWithClass(3, {{"next", Uid{2}}}),
                      objectWithClass(3, {{"next", Uid{1}}}), classRecord("SavedMapping")});
    EXPECT_NE(errorOf(pair).find("cycle"), std::string::npos);
    const auto array = archiveBytes(
        {objectWithClass(2, {{"NS.objects", references({1})}}), classRecord("NSArray")});
    EXPECT_NE(errorOf(array).find("cycle"), std::string::npos);
    const auto dictionaryKey = archiveBytes(
        {objectWithClass(2, {{"NS.keys", references({1})}, {"NS.objects", references({0})}}),
         classRecord("NSDictionary")});
    EXPECT_NE(errorOf(dictionaryKey).find("cycle"), std::string::npos);
}

TEST(KeyedArchiveHostile, ClassRecordsAreChecked) {
    EXPECT_EQ(errorOf(archiveBytes({PlistDictionary{{"title", Uid{0}}}})),
              "object 1 has no $class");
    EXPECT_EQ(errorOf(archiveBytes({PlistDictionary{{"$class", 2}}})),
              "object 1's $class is a integer, not a reference to a class record");
    EXPECT_EQ(errorOf(archiveBytes({objectWithClass(2), "SavedMapping"})),
              "object 1's $class refers to object 2, a string, not a class record");
    EXPECT_EQ(
        errorOf(archiveBytes({objectWithClass(2), PlistDictionary{{"$classes", PlistArray{}}}})),
        "object 1's $class refers to object 2, which is not a class record: it has no "
        "$classname string");
    EXPECT_EQ(errorOf(archiveBytes({objectWithClass(2),
                                    PlistDictionary{{"$classname", "SavedMapping"},
                                                    {"$classes", PlistArray{"SavedMapping", 3}}}})),
              "the $classes of class record object 2 holds a integer at position 1, not a class "
              "name");
    EXPECT_EQ(
        errorOf(archiveBytes({objectWithClass(2), PlistDictionary{{"$classname", "SavedMapping"},
                                                                  {"$classes", "NSObject"}}})),
        "the $classes of class record object 2 is a string, not a list of class names");
    // A class record without $classes is accepted; the chain is empty.
    const auto bare = decodeKeyedArchive(
        archiveBytes({objectWithClass(2), PlistDictionary{{"$classname", "SavedMapping"}}}),
        mappingClasses());
    ASSERT_TRUE(bare) << bare.error().message;
    EXPECT_TRUE(bare->objectValue()->classChain.empty());
}

TEST(KeyedArchiveHostile, ValuesOfTheWrongTypeAreRefused) {
    EXPECT_EQ(errorOf(archiveBytes(
                  {objectWithClass(2, {{"title", "inline"}}), classRecord("SavedMapping")})),
              "field \"title\" of object 1 is a string; only booleans, integers and reals are "
              "stored in an object, anything else is a reference");
    EXPECT_EQ(errorOf(archiveBytes({PlistArray{}})),
              "object 1 is a bare property-list list; an archive keeps lists as NSArray objects");
    EXPECT_NE(errorOf(archiveBytes({utc(2020, 1, 1)})).find("NSDate"), std::string::npos);
    EXPECT_EQ(errorOf(archiveBytes({Uid{0}})), "object 1 is a bare UID, not an object");
    EXPECT_EQ(errorOf(archiveBytes({objectWithClass(2), classRecord("NSArray")})),
              "object 1 (NSArray) has no NS.objects list");
    EXPECT_EQ(errorOf(archiveBytes(
                  {objectWithClass(2, {{"NS.objects", PlistArray{1}}}), classRecord("NSArray")})),
              "object 1 (NSArray)'s NS.objects holds a integer at position 0, not a reference");
    EXPECT_EQ(errorOf(archiveBytes({objectWithClass(2, {{"NS.keys", references({0})},
                                                        {"NS.objects", references({})}}),
                                    classRecord("NSDictionary")})),
              "object 1 (NSDictionary) has 1 keys but 0 values");
    EXPECT_EQ(errorOf(archiveBytes({objectWithClass(2, {{"NS.keys", references({3})},
                                                        {"NS.objects", references({3})}}),
                                    classRecord("NSDictionary"), 7})),
              "key 0 of object 1 (NSDictionary) is a integer; only string keys are supported");
    EXPECT_EQ(errorOf(archiveBytes(
                  {objectWithClass(2, {{"NS.time", "yesterday"}}), classRecord("NSDate")})),
              "object 1 (NSDate)'s NS.time is a string, not a number of seconds");
    EXPECT_EQ(errorOf(archiveBytes(
                  {objectWithClass(2, {{"NS.time", std::nan("")}}), classRecord("NSDate")})),
              "object 1 (NSDate)'s NS.time is not a number");
    EXPECT_EQ(errorOf(archiveBytes(
                  {objectWithClass(2, {{"NS.string", Uid{0}}}), classRecord("NSString")})),
              "object 1 (NSString)'s NS.string is nil");
    EXPECT_EQ(
        errorOf(archiveBytes({objectWithClass(2, {{"NS.data", "text"}}), classRecord("NSData")})),
        "object 1 (NSData)'s NS.data is a string, not a data");
    EXPECT_EQ(errorOf(archiveBytes({objectWithClass(2), classRecord("NSNumber")})),
              "object 1 (NSNumber) is a dictionary; an archive keeps numbers as plain values");
}

// A chain of arrays, each the only element of the one before, ending in nil.
PlistArray nestedArrays(std::size_t levels, std::uint64_t first, std::uint64_t arrayClass) {
    PlistArray objects;
    for (std::size_t level = 0; level < levels; ++level) {
        const std::uint64_t next = level + 1 < levels ? first + level + 1 : 0;
        objects.push_back(objectWithClass(arrayClass, {{"NS.objects", references({next})}}));
    }
    return objects;
}

TEST(KeyedArchiveHostile, DeepNestingIsRefused) {
    auto shallow = nestedArrays(maximumKeyedArchiveDepth - 1, 2, 1);
    shallow.insert(shallow.begin(), classRecord("NSArray"));
    EXPECT_TRUE(decodeKeyedArchive(archiveBytes(shallow, Uid{2}), mappingClasses()));

    auto deep = nestedArrays(5000, 2, 1);
    deep.insert(deep.begin(), classRecord("NSArray"));
    EXPECT_NE(errorOf(archiveBytes(deep, Uid{2})).find("nests deeper than 200 levels"),
              std::string::npos);
}

TEST(KeyedArchiveHostile, SharingAnObjectDeepDownCannotExceedTheDepthLimit) {
    // The root holds a custom object whose field nests 150 levels deep, then a chain of 100
    // arrays that ends in that same object: in the second place it would nest 250 levels.
    PlistArray objects{classRecord("NSArray"), classRecord("SavedMapping"),
                       objectWithClass(1, {{"NS.objects", references({4, 5})}}),
                       objectWithClass(2, {{"next", Uid{105}}})};
    auto chainToObject = nestedArrays(100, 5, 1);
    chainToObject.back() = objectWithClass(1, {{"NS.objects", references({4})}});
    const auto chainFromObject = nestedArrays(150, 105, 1);
    objects.insert(objects.end(), chainToObject.begin(), chainToObject.end());
    objects.insert(objects.end(), chainFromObject.begin(), chainFromObject.end());
    EXPECT_EQ(errorOf(archiveBytes(objects, Uid{3})), "object 4 nests deeper than 200 levels");

    // With a chain of 40 arrays, both places fit.
    objects[2] = objectWithClass(1, {{"NS.objects", references({4, 65})}});
    const auto decoded = decodeKeyedArchive(archiveBytes(objects, Uid{3}), mappingClasses());
    EXPECT_TRUE(decoded) << decoded.error().message;
}

TEST(KeyedArchiveHostile, SharedArraysCannotExpandWithoutBound) {
    // Forty arrays that each hold the next twice stand for 2^40 strings.
    PlistArray objects{classRecord("NSArray")};
    for (std::uint64_t level = 0; level < 40; ++level) {
        objects.push_back(objectWithClass(1, {{"NS.objects", references({level + 3, level + 3})}}));
    }
    objects.push_back("leaf");
    EXPECT_NE(errorOf(archiveBytes(objects, Uid{2})).find("expand to more than"),
              std::string::npos);
}

TEST(KeyedArchiveHostile, SharedObjectsAreDecodedOnce) {
    // Forty custom objects that each refer twice to the next decode into forty objects.
    PlistArray objects{classRecord("SavedMapping")};
    for (std::uint64_t level = 0; level < 40; ++level) {
        objects.push_back(objectWithClass(1, {{"a", Uid{level + 3}}, {"b", Uid{level + 3}}}));
    }
    objects.push_back("leaf");
    const auto decoded = decodeKeyedArchive(archiveBytes(objects, Uid{2}), mappingClasses());
    ASSERT_TRUE(decoded) << decoded.error().message;
    const auto* top = decoded->objectValue();
    EXPECT_EQ(top->objectField("a"), top->objectField("b"));
    EXPECT_EQ(roundTrip(*decoded), *decoded);
}

// Inputs that once broke the decoder, and samples to seed the fuzzer with. A file whose name
// starts with "valid" must decode and survive a round trip; any other must be refused.
TEST(KeyedArchiveRegression, RegressionFiles) {
    const std::filesystem::path folder = PELKORA_TEST_DATA_DIR "/keyed-archives";
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto bytes = test::readFile(entry.path());
        const auto decoded = decodeKeyedArchive(bytes, mappingClasses());
        const bool expectValid = entry.path().filename().string().starts_with("valid");
        EXPECT_EQ(bool(decoded), expectValid)
            << entry.path() << ": " << (decoded ? "" : decoded.error().message);
        if (decoded) {
            EXPECT_EQ(roundTrip(*decoded), *decoded) << entry.path();
        }
        ++files;
    }
    EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace pelkora
