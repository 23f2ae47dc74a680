#include "propertylist/KeyedArchive.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include "propertylist/PropertyList.h"

namespace pelkora {

// ---------------------------------------------------------------------------------------
// Values

ArchiveValue::ArchiveValue() : value_(std::in_place_type<Null>) {}
ArchiveValue::ArchiveValue(Null) : value_(std::in_place_type<Null>) {}
ArchiveValue::ArchiveValue(std::string value)
    : value_(std::in_place_type<std::string>, std::move(value)) {}
ArchiveValue::ArchiveValue(std::string_view value)
    : value_(std::in_place_type<std::string>, value) {}
ArchiveValue::ArchiveValue(const char* value) : value_(std::in_place_type<std::string>, value) {}
ArchiveValue::ArchiveValue(Date value) : value_(std::in_place_type<Date>, value) {}
ArchiveValue::ArchiveValue(Data value) : value_(std::in_place_type<Data>, std::move(value)) {}
ArchiveValue::ArchiveValue(Array value) : value_(std::in_place_type<Array>, std::move(value)) {}
ArchiveValue::ArchiveValue(Dictionary value)
    : value_(std::in_place_type<Dictionary>, std::move(value)) {}
ArchiveValue::ArchiveValue(Object value) {
    // An empty pointer is nil, so that the object alternative always has an object.
    if (value) value_.emplace<Object>(std::move(value));
}
ArchiveValue::ArchiveValue(std::shared_ptr<ArchivedObject> value)
    : ArchiveValue(Object(std::move(value))) {}
ArchiveValue::ArchiveValue(InlineBool value) : value_(std::in_place_type<InlineBool>, value) {}
ArchiveValue::ArchiveValue(InlineInteger value)
    : value_(std::in_place_type<InlineInteger>, value) {}
ArchiveValue::ArchiveValue(InlineDouble value) : value_(std::in_place_type<InlineDouble>, value) {}

std::string ArchiveValue::typeName() const {
    static constexpr std::array<std::string_view, 13> names = {
        "nil",   "boolean",    "integer", "real",           "string",         "date",       "data",
        "array", "dictionary", "object",  "inline boolean", "inline integer", "inline real"};
    return std::string(names[value_.index()]);
}

const ArchivedObject* ArchiveValue::objectValue() const {
    const auto* object = std::get_if<Object>(&value_);
    return object != nullptr ? object->get() : nullptr;
}

ArchiveValue::Object ArchiveValue::sharedObject() const {
    const auto* object = std::get_if<Object>(&value_);
    return object != nullptr ? *object : Object();
}

std::optional<bool> ArchiveValue::asBool() const {
    if (const auto* value = inlineBoolValue()) return value->value;
    if (const auto* value = boolValue()) return *value;
    return std::nullopt;
}

std::optional<std::int64_t> ArchiveValue::asInteger() const {
    if (const auto* value = inlineIntegerValue()) return value->value;
    if (const auto* value = integerValue()) return *value;
    return std::nullopt;
}

std::optional<double> ArchiveValue::asDouble() const {
    if (const auto* value = inlineDoubleValue()) return value->value;
    if (const auto* value = realValue()) return *value;
    if (const auto integer = asInteger()) return static_cast<double>(*integer);
    return std::nullopt;
}

namespace {

// Compares two graphs as the same structure. Pairs of objects already being compared are
// taken as equal, so that objects shared many times are compared once (a graph of 40 levels
// of objects that each refer twice to the next would otherwise take 2^40 steps) and a cycle
// built by hand ends.
class GraphComparison {
  public:
    bool equal(const ArchiveValue& left, const ArchiveValue& right) {
        if (left.type() != right.type()) return false;
        switch (left.type()) {
            case ArchiveValueType::array: {
                const auto& leftElements = *left.arrayValue();
                const auto& rightElements = *right.arrayValue();
                if (leftElements.size() != rightElements.size()) return false;
                for (std::size_t index = 0; index < leftElements.size(); ++index) {
                    if (!equal(leftElements[index], rightElements[index])) return false;
                }
                return true;
            }
            case ArchiveValueType::dictionary:
                return equalFields(*left.dictionaryValue(), *right.dictionaryValue());
            case ArchiveValueType::object:
                return equal(*left.objectValue(), *right.objectValue());
            case ArchiveValueType::null:
                return true;
            case ArchiveValueType::boolean:
                return *left.boolValue() == *right.boolValue();
            case ArchiveValueType::integer:
                return *left.integerValue() == *right.integerValue();
            case ArchiveValueType::real:
                return *left.realValue() == *right.realValue();
            case ArchiveValueType::string:
                return *left.stringValue() == *right.stringValue();
            case ArchiveValueType::date:
                return *left.dateValue() == *right.dateValue();
            case ArchiveValueType::data:
                return *left.dataValue() == *right.dataValue();
            case ArchiveValueType::inlineBoolean:
                return *left.inlineBoolValue() == *right.inlineBoolValue();
            case ArchiveValueType::inlineInteger:
                return *left.inlineIntegerValue() == *right.inlineIntegerValue();
            case ArchiveValueType::inlineReal:
                return *left.inlineDoubleValue() == *right.inlineDoubleValue();
        }
        return false;
    }

    bool equal(const ArchivedObject& left, const ArchivedObject& right) {
        if (&left == &right || !compared_.emplace(&left, &right).second) return true;
        return left.className == right.className && left.classChain == right.classChain &&
               equalFields(left.fields, right.fields);
    }

  private:
    template <typename Fields>
    bool equalFields(const Fields& left, const Fields& right) {
        if (left.size() != right.size()) return false;
        for (auto leftEntry = left.begin(), rightEntry = right.begin(); leftEntry != left.end();
             ++leftEntry, ++rightEntry) {
            if (leftEntry->first != rightEntry->first) return false;
            if (!equal(leftEntry->second, rightEntry->second)) return false;
        }
        return true;
    }

    std::set<std::pair<const ArchivedObject*, const ArchivedObject*>> compared_;
};

}  // namespace

bool operator==(const ArchiveValue& left, const ArchiveValue& right) {
    return GraphComparison().equal(left, right);
}

bool operator==(const ArchivedObject& left, const ArchivedObject& right) {
    return GraphComparison().equal(left, right);
}

const ArchiveValue* ArchivedObject::field(std::string_view key) const {
    const auto found = fields.find(key);
    return found != fields.end() ? &found->second : nullptr;
}

std::optional<std::string> ArchivedObject::stringField(std::string_view key) const {
    const auto* value = field(key);
    if (value == nullptr || value->stringValue() == nullptr) return std::nullopt;
    return *value->stringValue();
}

std::optional<bool> ArchivedObject::boolField(std::string_view key) const {
    const auto* value = field(key);
    return value != nullptr ? value->asBool() : std::nullopt;
}

std::optional<std::int64_t> ArchivedObject::integerField(std::string_view key) const {
    const auto* value = field(key);
    return value != nullptr ? value->asInteger() : std::nullopt;
}

std::optional<double> ArchivedObject::doubleField(std::string_view key) const {
    const auto* value = field(key);
    return value != nullptr ? value->asDouble() : std::nullopt;
}

std::optional<ArchiveValue::Date> ArchivedObject::dateField(std::string_view key) const {
    const auto* value = field(key);
    if (value == nullptr || value->dateValue() == nullptr) return std::nullopt;
    return *value->dateValue();
}

std::optional<ArchiveValue::Data> ArchivedObject::dataField(std::string_view key) const {
    const auto* value = field(key);
    if (value == nullptr || value->dataValue() == nullptr) return std::nullopt;
    return *value->dataValue();
}

const ArchiveValue::Array* ArchivedObject::arrayField(std::string_view key) const {
    const auto* value = field(key);
    return value != nullptr ? value->arrayValue() : nullptr;
}

const ArchiveValue::Dictionary* ArchivedObject::dictionaryField(std::string_view key) const {
    const auto* value = field(key);
    return value != nullptr ? value->dictionaryValue() : nullptr;
}

const ArchivedObject* ArchivedObject::objectField(std::string_view key) const {
    const auto* value = field(key);
    return value != nullptr ? value->objectValue() : nullptr;
}

std::optional<std::string> KeyedArchiveClassMap::canonicalName(
    std::string_view archivedName) const {
    const auto lookUp = [this](std::string_view name) -> std::optional<std::string> {
        if (const auto alias = aliases.find(name); alias != aliases.end()) return alias->second;
        // An alias's target is a canonical name too, so that what was read can be written
        // and read again.
        const auto isTarget = [name](const auto& alias) { return alias.second == name; };
        if (std::find(classes.begin(), classes.end(), name) != classes.end() ||
            std::any_of(aliases.begin(), aliases.end(), isTarget)) {
            return std::string(name);
        }
        return std::nullopt;
    };
    if (auto found = lookUp(archivedName)) return found;
    if (!stripModulePrefix) return std::nullopt;
    // Only the module is stripped: "Module.Outer.Inner" is looked up as "Outer.Inner".
    const auto dot = archivedName.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == archivedName.size()) {
        return std::nullopt;
    }
    return lookUp(archivedName.substr(dot + 1));
}

namespace {

using Uid = PropertyValue::Uid;

constexpr std::string_view archiverName = "NSKeyedArchiver";
constexpr std::int64_t archiveVersion = 100000;
constexpr std::string_view nullMarker = "$null";
constexpr std::string_view classKey = "$class";

// ---------------------------------------------------------------------------------------
// Built-in classes

enum class BuiltinClass { array, dictionary, string, date, data, number };

struct BuiltinClassName {
    std::string_view name;
    BuiltinClass kind;
};

// Sets are read as arrays: no caller keeps a set, and an array keeps every element.
constexpr std::array<BuiltinClassName, 12> builtinClasses = {{
    {"NSArray", BuiltinClass::array},
    {"NSMutableArray", BuiltinClass::array},
    {"NSSet", BuiltinClass::array},
    {"NSMutableSet", BuiltinClass::array},
    {"NSDictionary", BuiltinClass::dictionary},
    {"NSMutableDictionary", BuiltinClass::dictionary},
    {"NSString", BuiltinClass::string},
    {"NSMutableString", BuiltinClass::string},
    {"NSDate", BuiltinClass::date},
    {"NSData", BuiltinClass::data},
    {"NSMutableData", BuiltinClass::data},
    {"NSNumber", BuiltinClass::number},
}};

std::optional<BuiltinClass> builtinClass(std::string_view name) {
    for (const auto& entry : builtinClasses) {
        if (entry.name == name) return entry.kind;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// Dates: NSDate keeps seconds since 2001-01-01 as a real

constexpr std::int64_t referenceDateSinceEpoch = 978307200;  // 2001-01-01T00:00:00Z
constexpr std::int64_t microsecondsPerSecond = 1'000'000;
// ±2^32 seconds around 2001. Within it a real keeps every microsecond, so a date read from an
// archive is written back as the same real, and the system clock's nanoseconds cannot overflow.
constexpr std::int64_t dateLimitSeconds = std::int64_t{1} << 32;

ArchiveValue::Date dateFromReferenceSeconds(double seconds) {
    const auto limit = static_cast<double>(dateLimitSeconds);
    const double clamped = std::clamp(seconds, -limit, limit);
    const auto microseconds = std::chrono::microseconds(
        std::llround(clamped * static_cast<double>(microsecondsPerSecond)) +
        referenceDateSinceEpoch * microsecondsPerSecond);
    return ArchiveValue::Date(
        std::chrono::duration_cast<ArchiveValue::Date::duration>(microseconds));
}

double referenceSecondsFromDate(ArchiveValue::Date date) {
    const std::int64_t microseconds =
        std::chrono::round<std::chrono::microseconds>(date.time_since_epoch()).count() -
        referenceDateSinceEpoch * microsecondsPerSecond;
    const std::int64_t limit = dateLimitSeconds * microsecondsPerSecond;
    return static_cast<double>(std::clamp(microseconds, -limit, limit)) /
           static_cast<double>(microsecondsPerSecond);
}

// The archiver escapes a key that starts with "$" with one more, so that it cannot be taken
// for "$class" or the archiver's other keys.
std::string escapedKey(const std::string& key) {
    return key.starts_with('$') ? "$" + key : key;
}

std::string unescapedKey(const std::string& key) {
    return key.starts_with("$$") ? key.substr(1) : key;
}

// ---------------------------------------------------------------------------------------
// Encoding

class ArchiveWriter {
  public:
    std::string write(const ArchiveValue& root) {
        objects_.emplace_back(std::string(nullMarker));
        const Uid rootUid = encode(root);
        PropertyValue::Dictionary top;
        top.emplace("root", rootUid);
        PropertyValue::Dictionary archive;
        archive.emplace("$archiver", std::string(archiverName));
        archive.emplace("$version", archiveVersion);
        archive.emplace("$top", std::move(top));
        archive.emplace("$objects", std::move(objects_));
        return encodePropertyList(archive, PropertyListFormat::binary);
    }

  private:
    Uid append(PropertyValue value) {
        objects_.push_back(std::move(value));
        return Uid{objects_.size() - 1};
    }

    // An object's slot is taken before its contents are written, as the platform's archiver
    // does, so a container comes before its elements and its class record after them.
    Uid reserve() { return append(PropertyValue()); }

    Uid encode(const ArchiveValue& value) {
        switch (value.type()) {
            case ArchiveValueType::null:
                return Uid{0};
            case ArchiveValueType::boolean:
                return append(*value.boolValue());
            case ArchiveValueType::integer:
                return append(*value.integerValue());
            case ArchiveValueType::real:
                return append(*value.realValue());
            case ArchiveValueType::inlineBoolean:
                return append(value.inlineBoolValue()->value);
            case ArchiveValueType::inlineInteger:
                return append(value.inlineIntegerValue()->value);
            case ArchiveValueType::inlineReal:
                return append(value.inlineDoubleValue()->value);
            case ArchiveValueType::string:
                return encodeString(*value.stringValue());
            case ArchiveValueType::data:
                return append(*value.dataValue());
            case ArchiveValueType::date:
                return encodeDate(*value.dateValue());
            case ArchiveValueType::array:
                return encodeArray(*value.arrayValue());
            case ArchiveValueType::dictionary:
                return encodeDictionary(*value.dictionaryValue());
            case ArchiveValueType::object:
                return encodeObject(*value.objectValue());
        }
        return Uid{0};
    }

    Uid encodeString(const std::string& text) {
        if (const auto found = strings_.find(text); found != strings_.end()) return found->second;
        const Uid uid = append(text);
        strings_.emplace(text, uid);
        return uid;
    }

    Uid encodeDate(ArchiveValue::Date date) {
        const Uid uid = reserve();
        PropertyValue::Dictionary fields;
        fields.emplace("NS.time", referenceSecondsFromDate(date));
        fields.emplace(classKey, classRecord("NSDate", {"NSObject"}));
        objects_[uid.value] = std::move(fields);
        return uid;
    }

    Uid encodeArray(const ArchiveValue::Array& elements) {
        const Uid uid = reserve();
        PropertyValue::Array references;
        references.reserve(elements.size());
        for (const auto& element : elements) references.emplace_back(encode(element));
        PropertyValue::Dictionary fields;
        fields.emplace("NS.objects", std::move(references));
        fields.emplace(classKey, classRecord("NSArray", {"NSObject"}));
        objects_[uid.value] = std::move(fields);
        return uid;
    }

    Uid encodeDictionary(const ArchiveValue::Dictionary& entries) {
        const Uid uid = reserve();
        PropertyValue::Array keys;
        PropertyValue::Array values;
        keys.reserve(entries.size());
        values.reserve(entries.size());
        for (const auto& entry : entries) keys.emplace_back(encodeString(entry.first));
        for (const auto& entry : entries) values.emplace_back(encode(entry.second));
        PropertyValue::Dictionary fields;
        fields.emplace("NS.keys", std::move(keys));
        fields.emplace("NS.objects", std::move(values));
        fields.emplace(classKey, classRecord("NSDictionary", {"NSObject"}));
        objects_[uid.value] = std::move(fields);
        return uid;
    }

    Uid encodeObject(const ArchivedObject& object) {
        if (const auto found = written_.find(&object); found != written_.end()) {
            return found->second;
        }
        const Uid uid = reserve();
        written_.emplace(&object, uid);
        PropertyValue::Dictionary fields;
        for (const auto& [key, value] : object.fields) {
            fields.emplace(escapedKey(key), encodeField(value));
        }
        fields.insert_or_assign(std::string(classKey),
                                classRecord(object.className, object.classChain));
        objects_[uid.value] = std::move(fields);
        return uid;
    }

    PropertyValue encodeField(const ArchiveValue& value) {
        if (const auto* inlineBool = value.inlineBoolValue()) return inlineBool->value;
        if (const auto* inlineInteger = value.inlineIntegerValue()) return inlineInteger->value;
        if (const auto* inlineDouble = value.inlineDoubleValue()) return inlineDouble->value;
        return encode(value);
    }

    Uid classRecord(const std::string& className, const std::vector<std::string>& chain) {
        std::vector<std::string> names;
        names.reserve(chain.size() + 1);
        names.push_back(className);
        names.insert(names.end(), chain.begin(), chain.end());
        if (const auto found = classRecords_.find(names); found != classRecords_.end()) {
            return found->second;
        }
        PropertyValue::Array classes(names.begin(), names.end());
        PropertyValue::Dictionary record;
        record.emplace("$classname", className);
        record.emplace("$classes", std::move(classes));
        const Uid uid = append(std::move(record));
        classRecords_.emplace(std::move(names), uid);
        return uid;
    }

    PropertyValue::Array objects_;
    std::map<std::string, Uid, std::less<>> strings_;
    std::map<std::vector<std::string>, Uid> classRecords_;
    std::map<const ArchivedObject*, Uid> written_;
};

// ---------------------------------------------------------------------------------------
// Decoding

std::string inQuotes(std::string_view text) {
    constexpr std::size_t shown = 60;
    std::string result = "\"";
    result.append(text.substr(0, shown));
    if (text.size() > shown) result += "…";
    return result + "\"";
}

// What a value costs in memory, roughly: the budget that keeps shared objects from
// expanding a small file into a huge value.
constexpr std::size_t valueCost = sizeof(ArchiveValue);
constexpr std::size_t entryCost = sizeof(ArchiveValue) + sizeof(std::string) + 4 * sizeof(void*);

// Reads the object graph from the root down. Custom objects are decoded once and shared; other
// values are copied into every place that refers to them, which the budget bounds.
class ArchiveReader {
  public:
    ArchiveReader(const PropertyValue::Array& objects, const KeyedArchiveClassMap& classes,
                  std::size_t budget)
        : objects_(objects),
          classes_(classes),
          budget_(budget),
          inProgress_(objects.size(), false),
          decodedObjects_(objects.size()) {}

    Expected<ArchiveValue, KeyedArchiveError> read(std::uint64_t root) {
        auto value = decodeReference(root, 1, [] { return std::string("$top's root"); });
        if (!value) return Unexpected(std::move(error_));
        return std::move(value->value);
    }

  private:
    // A decoded custom object and how many levels it spans, so that sharing it deeper down
    // cannot build a value nested deeper than the limit.
    struct DecodedObject {
        std::shared_ptr<const ArchivedObject> object;
        std::size_t height = 0;
    };

    // A decoded value and how many levels of references it spans: 1 for a leaf, 0 for a
    // field stored inline in its object.
    struct Place {
        ArchiveValue value;
        std::size_t height = 1;
    };

    template <typename Describe>
    std::optional<Place> decodeReference(std::uint64_t uid, std::size_t depth,
                                         const Describe& describeReferrer) {
        if (uid >= objects_.size()) {
            return fail(describeReferrer() + " refers to object " + std::to_string(uid) +
                        ", but there are " + std::to_string(objects_.size()) + " objects");
        }
        if (!spend(valueCost)) return std::nullopt;
        if (inProgress_[uid]) {
            return fail(describeReferrer() + " refers to object " + std::to_string(uid) +
                        ", which contains it: the archive has a cycle");
        }
        if (const auto& decoded = decodedObjects_[uid]) {
            if (depth + decoded->height - 1 > maximumKeyedArchiveDepth) return tooDeep(uid);
            return Place{ArchiveValue(decoded->object), decoded->height};
        }
        // Nil counts as a level too, so that whether an archive nests too deeply does not
        // depend on which of the places sharing an object is decoded first.
        if (depth > maximumKeyedArchiveDepth) return tooDeep(uid);
        if (uid == 0) return Place{};

        const PropertyValue& object = objects_[uid];
        switch (object.type()) {
            case PropertyValueType::boolean:
                return Place{ArchiveValue(*object.boolValue())};
            case PropertyValueType::integer:
                return Place{ArchiveValue(*object.integerValue())};
            case PropertyValueType::real:
                return Place{ArchiveValue(*object.realValue())};
            case PropertyValueType::string:
                if (!spend(object.stringValue()->size())) return std::nullopt;
                return Place{ArchiveValue(*object.stringValue())};
            case PropertyValueType::data:
                if (!spend(object.dataValue()->size())) return std::nullopt;
                return Place{ArchiveValue(*object.dataValue())};
            case PropertyValueType::dictionary: {
                inProgress_[uid] = true;
                auto place = decodeClassedObject(uid, *object.dictionaryValue(), depth);
                inProgress_[uid] = false;
                return place;
            }
            case PropertyValueType::date:
                return fail("object " + std::to_string(uid) +
                            " is a bare property-list date; an archive keeps dates as NSDate "
                            "objects");
            case PropertyValueType::array:
                return fail("object " + std::to_string(uid) +
                            " is a bare property-list list; an archive keeps lists as NSArray "
                            "objects");
            case PropertyValueType::uid:
                return fail("object " + std::to_string(uid) + " is a bare UID, not an object");
        }
        return fail("object " + std::to_string(uid) + " has an unknown type");
    }

    // A class record, read and resolved once however many objects use it.
    struct ClassInfo {
        std::string archivedName;
        // None when the caller's class map does not know the class.
        std::optional<std::string> canonicalName;
        std::optional<BuiltinClass> builtin;
        // The names after the class name in "$classes" (the superclasses).
        std::vector<std::string> chain;
    };

    // Steps: find the class record; map its name to a built-in class or, through the caller's
    // class map, to a canonical name; decode the built-in value or the custom object's fields.
    std::optional<Place> decodeClassedObject(std::uint64_t uid,
                                             const PropertyValue::Dictionary& fields,
                                             std::size_t depth) {
        const ClassInfo* info = classOf(uid, fields);
        if (info == nullptr) return std::nullopt;
        if (!info->canonicalName) return unknownClass(uid, info->archivedName);
        if (info->builtin) {
            return decodeBuiltin(uid, *info->builtin, *info->canonicalName, fields, depth);
        }

        auto object = std::make_shared<ArchivedObject>();
        object->className = *info->canonicalName;
        object->classChain = info->chain;
        std::size_t cost = sizeof(ArchivedObject) + object->className.size();
        for (const auto& name : object->classChain) cost += sizeof(std::string) + name.size();
        if (!spend(cost)) return std::nullopt;

        std::size_t height = 1;
        for (const auto& [key, value] : fields) {
            if (key == classKey) continue;
            if (!spend(entryCost + key.size())) return std::nullopt;
            auto field = decodeField(uid, key, value, depth);
            if (!field) return std::nullopt;
            height = std::max(height, field->height + 1);
            object->fields.insert_or_assign(unescapedKey(key), std::move(field->value));
        }
        decodedObjects_[uid] = DecodedObject{object, height};
        return Place{ArchiveValue(std::move(object)), height};
    }

    const ClassInfo* classOf(std::uint64_t uid, const PropertyValue::Dictionary& fields) {
        const auto name = [uid] { return "object " + std::to_string(uid); };
        const auto classField = fields.find(classKey);
        if (classField == fields.end()) {
            fail(name() + " has no $class");
            return nullptr;
        }
        const auto* classUid = classField->second.uidValue();
        if (classUid == nullptr) {
            fail(name() + "'s $class is a " + classField->second.typeName() +
                 ", not a reference to a class record");
            return nullptr;
        }
        if (classUid->value >= objects_.size()) {
            fail(name() + "'s $class refers to object " + std::to_string(classUid->value) +
                 ", but there are " + std::to_string(objects_.size()) + " objects");
            return nullptr;
        }
        if (const auto known = classInfo_.find(classUid->value); known != classInfo_.end()) {
            return &known->second;
        }

        const std::string record = "object " + std::to_string(classUid->value);
        const auto* recordFields = objects_[classUid->value].dictionaryValue();
        if (recordFields == nullptr) {
            fail(name() + "'s $class refers to " + record + ", a " +
                 objects_[classUid->value].typeName() + ", not a class record");
            return nullptr;
        }
        const auto className = recordFields->find("$classname");
        if (className == recordFields->end() || className->second.stringValue() == nullptr) {
            fail(name() + "'s $class refers to " + record +
                 ", which is not a class record: it has no $classname string");
            return nullptr;
        }
        ClassInfo info;
        info.archivedName = *className->second.stringValue();
        if (!readSuperclasses(record, *recordFields, info)) return nullptr;

        // A class map could name a built-in class as the canonical one; it reads as built-in,
        // as it would once written back under that name.
        info.builtin = builtinClass(info.archivedName);
        if (info.builtin) {
            info.canonicalName = info.archivedName;
        } else {
            info.canonicalName = classes_.canonicalName(info.archivedName);
            if (info.canonicalName) info.builtin = builtinClass(*info.canonicalName);
        }
        return &classInfo_.emplace(classUid->value, std::move(info)).first->second;
    }

    bool readSuperclasses(const std::string& record, const PropertyValue::Dictionary& fields,
                          ClassInfo& info) {
        const auto classes = fields.find("$classes");
        if (classes == fields.end()) return true;
        const auto* names = classes->second.arrayValue();
        if (names == nullptr) {
            fail("the $classes of class record " + record + " is a " + classes->second.typeName() +
                 ", not a list of class names");
            return false;
        }
        for (std::size_t index = 0; index < names->size(); ++index) {
            const auto* superclass = (*names)[index].stringValue();
            if (superclass == nullptr) {
                fail("the $classes of class record " + record + " holds a " +
                     (*names)[index].typeName() + " at position " + std::to_string(index) +
                     ", not a class name");
                return false;
            }
            if (index == 0 && *superclass == info.archivedName) continue;
            info.chain.push_back(*superclass);
        }
        return true;
    }

    // A field is stored inline (encodeBool, encodeInteger, encodeDouble) or refers to an object.
    std::optional<Place> decodeField(std::uint64_t uid, const std::string& key,
                                     const PropertyValue& value, std::size_t depth) {
        switch (value.type()) {
            case PropertyValueType::boolean:
                return Place{ArchiveValue::InlineBool{*value.boolValue()}, 0};
            case PropertyValueType::integer:
                return Place{ArchiveValue::InlineInteger{*value.integerValue()}, 0};
            case PropertyValueType::real:
                return Place{ArchiveValue::InlineDouble{*value.realValue()}, 0};
            case PropertyValueType::uid:
                return decodeReference(value.uidValue()->value, depth + 1, [&] {
                    return "field " + inQuotes(key) + " of object " + std::to_string(uid);
                });
            default:
                return fail("field " + inQuotes(key) + " of object " + std::to_string(uid) +
                            " is a " + value.typeName() +
                            "; only booleans, integers and reals are stored in an object, "
                            "anything else is a reference");
        }
    }

    std::optional<Place> decodeBuiltin(std::uint64_t uid, BuiltinClass kind,
                                       const std::string& className,
                                       const PropertyValue::Dictionary& fields, std::size_t depth) {
        const std::string name = "object " + std::to_string(uid) + " (" + className + ")";
        switch (kind) {
            case BuiltinClass::array: {
                const auto* references = referenceList(name, fields, "NS.objects");
                if (references == nullptr) return std::nullopt;
                ArchiveValue::Array elements;
                elements.reserve(references->size());
                std::size_t height = 1;
                for (std::size_t index = 0; index < references->size(); ++index) {
                    auto element = decodeReference(
                        (*references)[index].uidValue()->value, depth + 1,
                        [&] { return "element " + std::to_string(index) + " of " + name; });
                    if (!element) return std::nullopt;
                    height = std::max(height, element->height + 1);
                    elements.push_back(std::move(element->value));
                }
                return Place{ArchiveValue(std::move(elements)), height};
            }
            case BuiltinClass::dictionary:
                return decodeDictionary(name, fields, depth);
            case BuiltinClass::string:
                return decodeWrappedValue(name, fields, "NS.string", PropertyValueType::string);
            case BuiltinClass::data:
                return decodeWrappedValue(name, fields, "NS.data", PropertyValueType::data);
            case BuiltinClass::date: {
                const auto time = fields.find("NS.time");
                if (time == fields.end()) return fail(name + " has no NS.time");
                double seconds = 0;
                if (const auto* real = time->second.realValue()) {
                    seconds = *real;
                } else if (const auto* integer = time->second.integerValue()) {
                    seconds = static_cast<double>(*integer);
                } else {
                    return fail(name + "'s NS.time is a " + time->second.typeName() +
                                ", not a number of seconds");
                }
                if (std::isnan(seconds)) return fail(name + "'s NS.time is not a number");
                return Place{ArchiveValue(dateFromReferenceSeconds(seconds))};
            }
            case BuiltinClass::number:
                break;
        }
        return fail(name + " is a dictionary; an archive keeps numbers as plain values");
    }

    std::optional<Place> decodeDictionary(const std::string& name,
                                          const PropertyValue::Dictionary& fields,
                                          std::size_t depth) {
        const auto* keys = referenceList(name, fields, "NS.keys");
        if (keys == nullptr) return std::nullopt;
        const auto* values = referenceList(name, fields, "NS.objects");
        if (values == nullptr) return std::nullopt;
        if (keys->size() != values->size()) {
            return fail(name + " has " + std::to_string(keys->size()) + " keys but " +
                        std::to_string(values->size()) + " values");
        }
        ArchiveValue::Dictionary entries;
        std::size_t height = 1;
        for (std::size_t index = 0; index < keys->size(); ++index) {
            const auto describeKey = [&] { return "key " + std::to_string(index) + " of " + name; };
            auto key = decodeReference((*keys)[index].uidValue()->value, depth + 1, describeKey);
            if (!key) return std::nullopt;
            if (key->value.stringValue() == nullptr) {
                return fail(describeKey() + " is a " + key->value.typeName() +
                            "; only string keys are supported");
            }
            auto value = decodeReference((*values)[index].uidValue()->value, depth + 1, [&] {
                return "value " + std::to_string(index) + " of " + name;
            });
            if (!value) return std::nullopt;
            if (!spend(entryCost)) return std::nullopt;
            height = std::max(height, value->height + 1);
            // A repeated key keeps its last value, as in a property-list dictionary.
            entries.insert_or_assign(*key->value.stringValue(), std::move(value->value));
        }
        return Place{ArchiveValue(std::move(entries)), height};
    }

    // NSMutableString and NSMutableData keep their contents under one key, either in the
    // object's dictionary or as a reference to a plain string or data object.
    std::optional<Place> decodeWrappedValue(const std::string& name,
                                            const PropertyValue::Dictionary& fields,
                                            std::string_view key, PropertyValueType type) {
        const auto found = fields.find(key);
        if (found == fields.end()) return fail(name + " has no " + std::string(key));
        const PropertyValue* contents = &found->second;
        if (const auto* uid = contents->uidValue()) {
            if (uid->value == 0) return fail(name + "'s " + std::string(key) + " is nil");
            if (uid->value >= objects_.size()) {
                return fail(name + "'s " + std::string(key) + " refers to object " +
                            std::to_string(uid->value) + ", but there are " +
                            std::to_string(objects_.size()) + " objects");
            }
            contents = &objects_[uid->value];
        }
        if (contents->type() != type) {
            return fail(name + "'s " + std::string(key) + " is a " + contents->typeName() +
                        ", not a " + (type == PropertyValueType::string ? "string" : "data"));
        }
        if (const auto* text = contents->stringValue()) {
            if (!spend(text->size())) return std::nullopt;
            return Place{ArchiveValue(*text)};
        }
        if (!spend(contents->dataValue()->size())) return std::nullopt;
        return Place{ArchiveValue(*contents->dataValue())};
    }

    // The list of UIDs under a key of a collection object, checked to hold only UIDs.
    const PropertyValue::Array* referenceList(const std::string& name,
                                              const PropertyValue::Dictionary& fields,
                                              std::string_view key) {
        const auto found = fields.find(key);
        if (found == fields.end()) {
            fail(name + " has no " + std::string(key) + " list");
            return nullptr;
        }
        const auto* list = found->second.arrayValue();
        if (list == nullptr) {
            fail(name + "'s " + std::string(key) + " is a " + found->second.typeName() +
                 ", not a list of references");
            return nullptr;
        }
        for (std::size_t index = 0; index < list->size(); ++index) {
            if ((*list)[index].uidValue() == nullptr) {
                fail(name + "'s " + std::string(key) + " holds a " + (*list)[index].typeName() +
                     " at position " + std::to_string(index) + ", not a reference");
                return nullptr;
            }
        }
        return list;
    }

    std::nullopt_t unknownClass(std::uint64_t uid, const std::string& className) {
        if (classes_.unknownClass) classes_.unknownClass(className);
        error_ = KeyedArchiveError{{KeyedArchiveError::Kind::unknownClass,
                                    "object " + std::to_string(uid) + " is of class " +
                                        inQuotes(className) + ", which this reader does not know"},
                                   className};
        return std::nullopt;
    }

    std::nullopt_t tooDeep(std::uint64_t uid) {
        return fail("object " + std::to_string(uid) + " nests deeper than " +
                    std::to_string(maximumKeyedArchiveDepth) + " levels");
    }

    bool spend(std::size_t bytes) {
        spent_ += bytes;
        if (spent_ <= budget_) return true;
        fail("the archive's shared objects expand to more than " +
             std::to_string(budget_ / (1024 * 1024)) + " MiB of values");
        return false;
    }

    std::nullopt_t fail(std::string message) {
        error_ = KeyedArchiveError{{KeyedArchiveError::Kind::corrupt, std::move(message)}, {}};
        return std::nullopt;
    }

    const PropertyValue::Array& objects_;
    const KeyedArchiveClassMap& classes_;
    std::size_t budget_;
    std::size_t spent_ = 0;
    std::vector<bool> inProgress_;
    std::vector<std::optional<DecodedObject>> decodedObjects_;
    std::map<std::uint64_t, ClassInfo> classInfo_;
    KeyedArchiveError error_;
};

Unexpected<KeyedArchiveError> corrupt(std::string message) {
    return Unexpected(
        KeyedArchiveError{{KeyedArchiveError::Kind::corrupt, std::move(message)}, {}});
}

// The uid of the root object, after checking the archive's top-level dictionary.
Expected<std::uint64_t, KeyedArchiveError> checkArchive(const PropertyValue& plist) {
    const auto* archive = plist.dictionaryValue();
    if (archive == nullptr) {
        return corrupt("the property list is a " + plist.typeName() +
                       ", not a keyed archive's dictionary");
    }
    const auto archiver = archive->find("$archiver");
    if (archiver == archive->end()) return corrupt("the archive has no $archiver");
    if (archiver->second.stringValue() == nullptr ||
        *archiver->second.stringValue() != archiverName) {
        const auto* text = archiver->second.stringValue();
        return corrupt("$archiver is " +
                       (text != nullptr ? inQuotes(*text) : "a " + archiver->second.typeName()) +
                       ", not \"NSKeyedArchiver\"");
    }
    const auto version = archive->find("$version");
    if (version == archive->end()) return corrupt("the archive has no $version");
    if (version->second.integerValue() == nullptr ||
        *version->second.integerValue() != archiveVersion) {
        const auto* number = version->second.integerValue();
        return corrupt(
            "$version is " +
            (number != nullptr ? std::to_string(*number) : "a " + version->second.typeName()) +
            ", but archives of version 100000 are the only ones known");
    }

    const auto objects = archive->find("$objects");
    if (objects == archive->end()) return corrupt("the archive has no $objects");
    const auto* list = objects->second.arrayValue();
    if (list == nullptr) {
        return corrupt("$objects is a " + objects->second.typeName() + ", not a list");
    }
    if (list->empty() || list->front().stringValue() == nullptr ||
        *list->front().stringValue() != nullMarker) {
        return corrupt("$objects does not start with \"$null\"");
    }

    const auto top = archive->find("$top");
    if (top == archive->end()) return corrupt("the archive has no $top");
    const auto* topFields = top->second.dictionaryValue();
    if (topFields == nullptr) {
        return corrupt("$top is a " + top->second.typeName() + ", not a dictionary");
    }
    const auto root = topFields->find("root");
    if (root == topFields->end()) return corrupt("$top has no \"root\"");
    const auto* rootUid = root->second.uidValue();
    if (rootUid == nullptr) {
        return corrupt("$top's root is a " + root->second.typeName() + ", not a reference");
    }
    return rootUid->value;
}

}  // namespace

std::string encodeKeyedArchive(const ArchiveValue& root) {
    return ArchiveWriter().write(root);
}

// Steps: read the property list; check the archive's top-level keys; decode the graph from
// the root object down (ArchiveReader).
Expected<ArchiveValue, KeyedArchiveError> decodeKeyedArchive(std::string_view bytes,
                                                             const KeyedArchiveClassMap& classes) {
    auto plist = decodePropertyList(bytes);
    if (!plist) {
        return Unexpected(KeyedArchiveError{
            {KeyedArchiveError::Kind::unreadable, "not a property list: " + plist.error().message},
            {}});
    }
    auto root = checkArchive(*plist);
    if (!root) return Unexpected(root.error());
    const auto& objects = *plist->dictionaryValue()->find("$objects")->second.arrayValue();
    const std::size_t budget =
        std::max(keyedArchiveMemoryFloor, keyedArchiveExpansionLimit * bytes.size());
    return ArchiveReader(objects, classes, budget).read(*root);
}

}  // namespace pelkora
