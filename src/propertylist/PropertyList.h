#pragma once

// Property lists: the value tree that settings, saved mappings and (later) keyed archives are
// made of, and its two file formats, XML and binary ("bplist00").
//
// Decoding accepts untrusted bytes. It never crashes and never recurses without bound: it
// refuses nesting deeper than maximumPropertyListDepth, and binary files whose shared
// objects would expand far beyond the file's size.

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora {

// The kinds of value, in the order of PropertyValue's alternatives.
enum class PropertyValueType { boolean, integer, real, string, date, data, array, dictionary, uid };

// One value of a property list. Containers hold their elements by value, so copying a value
// copies the whole tree.
class PropertyValue {
  public:
    using Date = std::chrono::system_clock::time_point;
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<PropertyValue>;
    // Ordered by key, which also makes encoding deterministic.
    using Dictionary = std::map<std::string, PropertyValue, std::less<>>;
    // A reference to another object of a keyed archive, by its index in "$objects".
    struct Uid {
        std::uint64_t value = 0;
        friend bool operator==(Uid, Uid) = default;
    };

    // An empty dictionary, the usual root of a property list.
    PropertyValue();
    // A boolean; the template keeps pointers and numbers from silently turning into bools.
    template <std::same_as<bool> B>
    PropertyValue(B value) : value_(std::in_place_type<bool>, value) {}
    // An integer; unsigned values above the int64 range are clamped to its maximum.
    template <std::integral T>
    requires(!std::same_as<T, bool>) PropertyValue(T value)
        : value_(std::in_place_type<std::int64_t>, clampToInteger(value)) {}
    // A real number.
    template <std::floating_point T>
    PropertyValue(T value) : value_(std::in_place_type<double>, static_cast<double>(value)) {}
    // A string, UTF-8.
    PropertyValue(std::string value);
    PropertyValue(std::string_view value);
    PropertyValue(const char* value);
    PropertyValue(Date value);
    PropertyValue(Data value);
    PropertyValue(Array value);
    PropertyValue(Dictionary value);
    PropertyValue(Uid value);

    PropertyValueType type() const { return static_cast<PropertyValueType>(value_.index()); }
    // "boolean", "integer", "real", "string", "date", "data", "list", "dictionary" or "uid".
    std::string typeName() const;

    // The value when it has that type, else null (like std::get_if).
    const bool* boolValue() const { return std::get_if<bool>(&value_); }
    const std::int64_t* integerValue() const { return std::get_if<std::int64_t>(&value_); }
    const double* realValue() const { return std::get_if<double>(&value_); }
    const std::string* stringValue() const { return std::get_if<std::string>(&value_); }
    const Date* dateValue() const { return std::get_if<Date>(&value_); }
    const Data* dataValue() const { return std::get_if<Data>(&value_); }
    const Array* arrayValue() const { return std::get_if<Array>(&value_); }
    Array* arrayValue() { return std::get_if<Array>(&value_); }
    const Dictionary* dictionaryValue() const { return std::get_if<Dictionary>(&value_); }
    Dictionary* dictionaryValue() { return std::get_if<Dictionary>(&value_); }
    const Uid* uidValue() const { return std::get_if<Uid>(&value_); }

    // Same type and same value, element by element; a real NaN equals nothing, as in C++.
    friend bool operator==(const PropertyValue& left, const PropertyValue& right);

  private:
    template <typename T>
    static std::int64_t clampToInteger(T value) {
        constexpr auto maximum = std::numeric_limits<std::int64_t>::max();
        if constexpr (std::unsigned_integral<T> && sizeof(T) >= sizeof(std::int64_t)) {
            if (value > static_cast<T>(maximum)) return maximum;
        }
        return static_cast<std::int64_t>(value);
    }

    std::variant<bool, std::int64_t, double, std::string, Date, Data, Array, Dictionary, Uid>
        value_;
};

enum class PropertyListFormat { xml, binary };

enum class PropertyListErrorKind {
    empty,      // there are no bytes at all
    malformed,  // the bytes are not a sound XML or binary property list
};

// Why bytes are not a property list, e.g. "line 12: <key> expected in a dictionary, found
// <string>" (with the line) or "byte 220: a reference to object 90, but there are 31
// objects" (with the byte offset).
using PropertyListError = Error<PropertyListErrorKind>;

// Decoding refuses deeper nesting than this (a real file nests a few levels).
inline constexpr std::size_t maximumPropertyListDepth = 512;
// A binary file may share one object among many containers, so a few kilobytes can stand
// for gigabytes. Decoding stops once the values, with every shared object copied out, would
// take more memory than this many times the file's size, or than the floor below for a
// smaller file.
inline constexpr std::size_t propertyListExpansionLimit = 64;
inline constexpr std::size_t propertyListMemoryFloor = 1024 * 1024;

// Encodes the value. XML is the format Apple's tools write (tab-indented, with the plist
// DOCTYPE), except that a date with a fraction of a second keeps it ("…:09.25Z") so that our
// own files give back the exact date; strict readers such as Python's plistlib reject such
// a date, while whole-second dates stay in the standard form. Invalid UTF-8 in strings and
// keys is written as U+FFFD. The binary format comes from libplist 2.2, which limits it:
// dates are clamped to 1932-12-13…2069-01-19 (its seconds since 2001 are 32-bit), UIDs to
// 32 bits, and a string ends at its first NUL character.
std::string encodePropertyList(const PropertyValue& value, PropertyListFormat format);

// Decodes XML or binary, told apart by the "bplist" signature. Strings come out as valid
// UTF-8 (invalid sequences become U+FFFD); dates from a binary file keep microseconds; a
// dictionary repeating a key keeps the last value; an XML dictionary whose only key is
// "CF$UID" is a UID, as Apple writes them.
Expected<PropertyValue, PropertyListError> decodePropertyList(std::string_view bytes);

}  // namespace pelkora
