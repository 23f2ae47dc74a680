#pragma once

// Keyed archives: the object-graph format of the desktop platform's keyed archiver, in which
// saved mappings, learnt column titles and custom date formats are kept.
//
// An archive is a binary property list dictionary:
//   $archiver = "NSKeyedArchiver", $version = 100000, $top = {"root": UID of the root},
//   $objects  = ["$null", …every archived object…].
// Objects refer to each other by UID, their index in $objects; UID 0 ("$null") is nil. A
// custom object is a dictionary of its encoded keys plus "$class", the UID of a class record
// {"$classname": name, "$classes": [name, superclasses…, "NSObject"]}. Values encoded with
// encodeBool/encodeInteger/encodeDouble sit inline in that dictionary; every other value is
// an object of its own: strings, numbers and data as plain property-list values, arrays and
// dictionaries as NSArray/NSDictionary objects with "NS.objects" (and "NS.keys") lists of
// UIDs, dates as NSDate objects with "NS.time", seconds since 2001-01-01 as a real.
//
// Decoding accepts untrusted bytes: it refuses cycles, nesting deeper than
// maximumKeyedArchiveDepth, and archives whose shared objects would expand far beyond the
// file's size, and it never crashes.

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora {

struct ArchivedObject;

// The kinds of value, in the order of ArchiveValue's alternatives.
enum class ArchiveValueType {
    null,
    boolean,
    integer,
    real,
    string,
    date,
    data,
    array,
    dictionary,
    object,
    inlineBoolean,
    inlineInteger,
    inlineReal
};

// One value of an archived object graph. Containers hold their elements by value; custom
// objects are shared, so an object the archive refers to twice is decoded once and both
// places hold the same ArchivedObject.
//
// The alternatives boolean, integer and real are NSNumber objects: they get an entry of
// their own in $objects. The inline alternatives are what encodeBool, encodeInteger and
// encodeDouble write: they are only meaningful as a field of an ArchivedObject, where they
// are stored in the object's own dictionary; anywhere else they are written as NSNumbers.
class ArchiveValue {
  public:
    struct Null {
        friend bool operator==(Null, Null) = default;
    };
    struct InlineBool {
        bool value = false;
        friend bool operator==(InlineBool, InlineBool) = default;
    };
    struct InlineInteger {
        std::int64_t value = 0;
        friend bool operator==(InlineInteger, InlineInteger) = default;
    };
    struct InlineDouble {
        double value = 0;
        friend bool operator==(InlineDouble, InlineDouble) = default;
    };
    using Date = std::chrono::system_clock::time_point;
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<ArchiveValue>;
    // Ordered by key, which also makes encoding deterministic.
    using Dictionary = std::map<std::string, ArchiveValue, std::less<>>;
    using Object = std::shared_ptr<const ArchivedObject>;

    // Nil.
    ArchiveValue();
    ArchiveValue(Null);
    // An NSNumber holding a bool; the template keeps pointers from silently turning into bools.
    template <std::same_as<bool> B>
    ArchiveValue(B value) : value_(std::in_place_type<bool>, value) {}
    // An NSNumber holding an integer.
    template <std::integral T>
    requires(!std::same_as<T, bool>) ArchiveValue(T value)
        : value_(std::in_place_type<std::int64_t>, static_cast<std::int64_t>(value)) {}
    // An NSNumber holding a real.
    template <std::floating_point T>
    ArchiveValue(T value) : value_(std::in_place_type<double>, static_cast<double>(value)) {}
    // A string, UTF-8.
    ArchiveValue(std::string value);
    ArchiveValue(std::string_view value);
    ArchiveValue(const char* value);
    ArchiveValue(Date value);
    ArchiveValue(Data value);
    ArchiveValue(Array value);
    ArchiveValue(Dictionary value);
    // A custom object; a null pointer is nil.
    ArchiveValue(Object value);
    ArchiveValue(std::shared_ptr<ArchivedObject> value);
    ArchiveValue(InlineBool value);
    ArchiveValue(InlineInteger value);
    ArchiveValue(InlineDouble value);

    ArchiveValueType type() const { return static_cast<ArchiveValueType>(value_.index()); }
    // "nil", "boolean", "integer", "real", "string", "date", "data", "array", "dictionary",
    // "object", "inline boolean", "inline integer" or "inline real".
    std::string typeName() const;
    bool isNull() const { return type() == ArchiveValueType::null; }

    // The value when it has exactly that type, else null (like std::get_if).
    const bool* boolValue() const { return std::get_if<bool>(&value_); }
    const std::int64_t* integerValue() const { return std::get_if<std::int64_t>(&value_); }
    const double* realValue() const { return std::get_if<double>(&value_); }
    const std::string* stringValue() const { return std::get_if<std::string>(&value_); }
    const Date* dateValue() const { return std::get_if<Date>(&value_); }
    const Data* dataValue() const { return std::get_if<Data>(&value_); }
    const Array* arrayValue() const { return std::get_if<Array>(&value_); }
    const Dictionary* dictionaryValue() const { return std::get_if<Dictionary>(&value_); }
    // The custom object, else null.
    const ArchivedObject* objectValue() const;
    // The shared custom object, else an empty pointer.
    Object sharedObject() const;
    const InlineBool* inlineBoolValue() const { return std::get_if<InlineBool>(&value_); }
    const InlineInteger* inlineIntegerValue() const { return std::get_if<InlineInteger>(&value_); }
    const InlineDouble* inlineDoubleValue() const { return std::get_if<InlineDouble>(&value_); }

    // A bool stored inline or as an NSNumber; none for any other value.
    std::optional<bool> asBool() const;
    // An integer stored inline or as an NSNumber; none for any other value.
    std::optional<std::int64_t> asInteger() const;
    // A real, or an integer converted, stored inline or as an NSNumber; none otherwise.
    std::optional<double> asDouble() const;

    // Same type and same value, element by element; custom objects are compared by their
    // contents, not their identity, each pair once (so shared objects cost no more than
    // once, and a cycle built by hand compares too). A real NaN equals nothing, as in C++.
    friend bool operator==(const ArchiveValue& left, const ArchiveValue& right);

  private:
    std::variant<Null, bool, std::int64_t, double, std::string, Date, Data, Array, Dictionary,
                 Object, InlineBool, InlineInteger, InlineDouble>
        value_;
};

// A custom object: its class, as the caller knows it, and its encoded keys.
struct ArchivedObject {
    // The canonical class name (a module-qualified name in the archive maps to it).
    std::string className;
    // The superclasses after className, ending in "NSObject"; written to the class record.
    std::vector<std::string> classChain{"NSObject"};
    // Encoded keys and their values; a key may start with "$" (the archive escapes it).
    std::map<std::string, ArchiveValue, std::less<>> fields;

    // The value of a key, else null.
    const ArchiveValue* field(std::string_view key) const;
    // The value of a key when it is present and of that kind, else none, so that a caller
    // that starts from a record's initial values overwrites only what the archive holds.
    std::optional<std::string> stringField(std::string_view key) const;
    // A bool, encoded inline or as an NSNumber.
    std::optional<bool> boolField(std::string_view key) const;
    // An integer, encoded inline or as an NSNumber.
    std::optional<std::int64_t> integerField(std::string_view key) const;
    // A real or an integer, encoded inline or as an NSNumber.
    std::optional<double> doubleField(std::string_view key) const;
    std::optional<ArchiveValue::Date> dateField(std::string_view key) const;
    std::optional<ArchiveValue::Data> dataField(std::string_view key) const;
    const ArchiveValue::Array* arrayField(std::string_view key) const;
    const ArchiveValue::Dictionary* dictionaryField(std::string_view key) const;
    // A custom object; none for nil or any other value.
    const ArchivedObject* objectField(std::string_view key) const;

    // Same class, chain and fields, compared deeply as ArchiveValue compares.
    friend bool operator==(const ArchivedObject& left, const ArchivedObject& right);
};

// Which archived class names a reader accepts, and the class name it works with for each.
// The platform writes a class either under its plain name or qualified by the module that
// defined it ("Pelkora.SuggestedContactProperty"); both must read as the same class.
struct KeyedArchiveClassMap {
    // Canonical class names, accepted as they are.
    std::vector<std::string> classes;
    // Archived name → canonical name, for names that differ by more than a module prefix.
    // A target is accepted as it is, like the names in `classes`.
    std::map<std::string, std::string, std::less<>> aliases;
    // Whether "AnyModule.Name" reads as "Name" when "Name" is known (an alias or a class).
    bool stripModulePrefix = true;
    // Told about each archived class name that maps to no known class, before the decoding
    // fails; the platform's unarchiver delegate is told the same way.
    std::function<void(std::string_view className)> unknownClass;

    // The canonical name for an archived class name, else none.
    std::optional<std::string> canonicalName(std::string_view archivedName) const;
};

// Why bytes are not a keyed archive the caller can use.
enum class KeyedArchiveErrorKind {
    // Not a property list at all.
    unreadable,
    // A property list, but not a sound keyed archive.
    corrupt,
    // A sound archive holding an object of a class the caller does not know.
    unknownClass,
};

// Why bytes are not a keyed archive the caller can use; the message reads e.g. "object 12
// refers to object 90, but there are 31 objects".
struct KeyedArchiveError : Error<KeyedArchiveErrorKind> {
    // The archived class name, for unknownClass.
    std::string className;

    bool operator==(const KeyedArchiveError&) const = default;
};

// Decoding refuses deeper nesting of objects than this (a list of saved mappings nests six
// levels).
inline constexpr std::size_t maximumKeyedArchiveDepth = 200;
// An archive may refer to one array or string from many places, and each place gets its own
// copy, so a small file can stand for a huge value. Decoding stops once the values would
// take more memory than this many times the file's size, or than the floor for a small file.
inline constexpr std::size_t keyedArchiveExpansionLimit = 64;
inline constexpr std::size_t keyedArchiveMemoryFloor = 4 * 1024 * 1024;

// Encodes the value as the root object of a binary keyed archive. The output depends only on
// the value: fields are written in key order, equal strings share one entry, each class
// record is written once, and a custom object held in several places is written once (so a
// cycle of objects is written as the platform writes it, though decoding refuses it).
// Dates keep microseconds and are clamped to 1864-11-24…2137-02-07; a string ends at its first
// NUL character (a limit of the binary writer). An ArchivedObject must not use the class name
// of a built-in collection ("NSArray", "NSDictionary", …), or it reads back as one.
std::string encodeKeyedArchive(const ArchiveValue& root);

// Decodes the root object of a keyed archive in binary or XML form. NSArray, NSMutableArray,
// NSSet and NSMutableSet give arrays; NSDictionary and NSMutableDictionary dictionaries (with
// string keys); NSString and NSMutableString strings; NSDate dates; NSData and NSMutableData
// data; NSNumbers booleans, integers or reals. Any other class must be known to `classes`:
// a class it does not know is reported to its unknownClass callback and fails the whole
// decoding with an unknownClass error naming the class, as the platform's decodeObject fails.
// Objects that the root does not lead to are not looked at.
Expected<ArchiveValue, KeyedArchiveError> decodeKeyedArchive(std::string_view bytes,
                                                             const KeyedArchiveClassMap& classes);

}  // namespace pelkora
