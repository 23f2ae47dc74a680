#include "propertylist/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "support/Utf8.h"

// Which library does what, and why:
//
// - Binary encoding uses libplist 2.2 (plist_to_bin).
// - XML is read and written here. libplist 2.2's XML side drops fractions of a second,
//   reads <real> with the C library's atof (wrong under a decimal-comma locale once a GUI
//   has called setlocale), reads "010" as octal 8, turns an unparsable date into 1970
//   without an error, and frees its tree recursively, so a deeply nested file crashes it.
// - Binary is read here too. libplist 2.2's parser recurses once per nesting level (a 700 KB
//   file of nested arrays overflows the stack), checks for cycles in time quadratic in the
//   depth, and copies shared objects without limit (a 265-byte file made it build 4 million
//   nodes; a few bytes more make that endless). It also reports dates as 32-bit seconds
//   plus truncated microseconds whose sign is lost between -1 and 0.

namespace pelkora {

PropertyValue::PropertyValue() : value_(std::in_place_type<Dictionary>) {}
PropertyValue::PropertyValue(std::string value)
    : value_(std::in_place_type<std::string>, std::move(value)) {}
PropertyValue::PropertyValue(std::string_view value)
    : value_(std::in_place_type<std::string>, value) {}
PropertyValue::PropertyValue(const char* value) : value_(std::in_place_type<std::string>, value) {}
PropertyValue::PropertyValue(Date value) : value_(std::in_place_type<Date>, value) {}
PropertyValue::PropertyValue(Data value) : value_(std::in_place_type<Data>, std::move(value)) {}
PropertyValue::PropertyValue(Array value) : value_(std::in_place_type<Array>, std::move(value)) {}
PropertyValue::PropertyValue(Dictionary value)
    : value_(std::in_place_type<Dictionary>, std::move(value)) {}
PropertyValue::PropertyValue(Uid value) : value_(std::in_place_type<Uid>, value) {}

std::string PropertyValue::typeName() const {
    static constexpr std::array<std::string_view, 9> names = {
        "boolean", "integer", "real", "string", "date", "data", "list", "dictionary", "uid"};
    return std::string(names[value_.index()]);
}

bool operator==(const PropertyValue& left, const PropertyValue& right) {
    return left.value_ == right.value_;
}

namespace {

using Date = PropertyValue::Date;
using Data = PropertyValue::Data;
using Array = PropertyValue::Array;
using Dictionary = PropertyValue::Dictionary;
using Uid = PropertyValue::Uid;

// ---------------------------------------------------------------------------------------
// Text

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

void appendUtf8(std::string& out, char32_t c) {
    utf8::appendCodePoint(out, c);
}

// The text with every byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        std::size_t run = 0;
        while (run < text.size()) {
            std::size_t length = utf8::wellFormedSequenceLength(text.substr(run));
            if (length == 0) break;
            run += length;
        }
        out.append(text.substr(0, run));
        text.remove_prefix(run);
        if (!text.empty()) {
            out.append(replacementCharacter);
            text.remove_prefix(1);
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view whitespace = " \t\r\n";
    auto first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(whitespace);
    return text.substr(first, last - first + 1);
}

// ---------------------------------------------------------------------------------------
// Dates. Property lists count seconds from 2001-01-01T00:00:00Z.

constexpr std::chrono::sys_days referenceDay{std::chrono::year(2001) / 1 / 1};
constexpr std::int64_t microsecondsPerSecond = 1'000'000;
constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t referenceMicroseconds =
    std::chrono::duration_cast<std::chrono::microseconds>(referenceDay.time_since_epoch()).count();

// The clock's range (about 1678…2262), rounded inward to whole microseconds so that a date
// clamped to it stays the same through either format. Apple's "distant past" and "distant
// future" (years 1 and 4001) occur in real files; they are clamped rather than refused.
constexpr std::int64_t earliestMicroseconds =
    std::chrono::duration_cast<std::chrono::microseconds>(Date::min().time_since_epoch()).count();
constexpr std::int64_t latestMicroseconds =
    std::chrono::duration_cast<std::chrono::microseconds>(Date::max().time_since_epoch()).count();

Date dateFromMicroseconds(std::int64_t sinceEpoch) {
    sinceEpoch = std::clamp(sinceEpoch, earliestMicroseconds, latestMicroseconds);
    return Date(std::chrono::microseconds(sinceEpoch));
}

// Within a second of the clock's limits the nanosecond arithmetic could overflow, so those
// dates are clamped too.
Date dateFromSeconds(std::int64_t sinceEpoch, std::int64_t nanoseconds) {
    if (sinceEpoch <= earliestMicroseconds / microsecondsPerSecond) {
        return dateFromMicroseconds(earliestMicroseconds);
    }
    if (sinceEpoch >= latestMicroseconds / microsecondsPerSecond) {
        return dateFromMicroseconds(latestMicroseconds);
    }
    return Date(std::chrono::nanoseconds(sinceEpoch * nanosecondsPerSecond + nanoseconds));
}

std::optional<Date> dateFromReferenceSeconds(double seconds) {
    if (std::isnan(seconds)) return std::nullopt;
    const double sinceEpoch = static_cast<double>(referenceMicroseconds) +
                              std::round(seconds * static_cast<double>(microsecondsPerSecond));
    // Compare as doubles before converting: converting an out-of-range double is undefined.
    if (sinceEpoch <= static_cast<double>(earliestMicroseconds)) {
        return dateFromMicroseconds(earliestMicroseconds);
    }
    if (sinceEpoch >= static_cast<double>(latestMicroseconds)) {
        return dateFromMicroseconds(latestMicroseconds);
    }
    return dateFromMicroseconds(static_cast<std::int64_t>(sinceEpoch));
}

// Rounded to the nearest microsecond by hand: std::chrono::round overflows near the
// clock's limits.
std::int64_t microsecondsSinceReference(Date date) {
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
    std::int64_t microseconds = sinceEpoch / 1000;
    const std::int64_t rest = sinceEpoch % 1000;
    if (rest >= 500) ++microseconds;
    if (rest <= -500) --microseconds;
    return microseconds - referenceMicroseconds;
}

// "2004-11-29T21:33:09Z", with the fraction of a second when there is one. The division is
// done by hand: chrono's floor<days> and the subtraction that follows overflow near the
// clock's limits.
std::string formatDate(Date date) {
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
    std::int64_t seconds = sinceEpoch / nanosecondsPerSecond;
    std::int64_t nanoseconds = sinceEpoch % nanosecondsPerSecond;
    if (nanoseconds < 0) nanoseconds += nanosecondsPerSecond, --seconds;
    std::int64_t days = seconds / 86400;
    std::int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) secondOfDay += 86400, --days;
    const std::chrono::year_month_day calendar{std::chrono::sys_days(std::chrono::days(days))};

    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d",
                  static_cast<int>(calendar.year()), static_cast<unsigned>(calendar.month()),
                  static_cast<unsigned>(calendar.day()), static_cast<int>(secondOfDay / 3600),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    std::string result = text;
    if (nanoseconds != 0) {
        std::snprintf(text, sizeof text, ".%09lld", static_cast<long long>(nanoseconds));
        std::string fraction = text;
        fraction.erase(fraction.find_last_not_of('0') + 1);
        result += fraction;
    }
    return result + "Z";
}

// Reads "2004-11-29T21:33:09Z" with an optional fraction of a second, kept to nanoseconds.
std::optional<Date> parseDate(std::string_view text) {
    auto number = [&](std::size_t position, std::size_t digits) -> std::optional<int> {
        if (position + digits > text.size()) return std::nullopt;
        int value = 0;
        for (std::size_t i = position; i < position + digits; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    auto separator = [&](std::size_t position, char c) {
        return position < text.size() && text[position] == c;
    };
    const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    if (!separator(4, '-') || !separator(7, '-') || !separator(10, 'T') || !separator(13, ':') ||
        !separator(16, ':')) {
        return std::nullopt;
    }
    std::size_t position = 19;
    std::int64_t nanoseconds = 0;
    if (separator(position, '.')) {
        ++position;
        const std::size_t start = position;
        std::int64_t scale = nanosecondsPerSecond / 10;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
            const int digit = text[position] - '0';
            if (scale > 0) {
                nanoseconds += digit * scale;
            } else if (position == start + 9 && digit >= 5) {
                ++nanoseconds;  // rounds to the nearest nanosecond
            }
            scale /= 10;
            ++position;
        }
        if (position == start) return std::nullopt;
    }
    if (!separator(position, 'Z') || position + 1 != text.size()) return std::nullopt;

    const std::chrono::year_month_day calendar{std::chrono::year(*year),
                                               std::chrono::month(static_cast<unsigned>(*month)),
                                               std::chrono::day(static_cast<unsigned>(*day))};
    if (!calendar.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
    const std::int64_t seconds =
        std::chrono::sys_days(calendar).time_since_epoch().count() * std::int64_t{86400} +
        *hour * 3600 + *minute * 60 + *second;
    return dateFromSeconds(seconds, nanoseconds);
}

// ---------------------------------------------------------------------------------------
// Base64, for <data>.

constexpr std::string_view base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encodeBase64(const Data& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += base64Alphabet[(group >> shift) & 63];
    }
    const std::size_t rest = data.size() - i;
    if (rest > 0) {
        const std::uint32_t group = (data[i] << 16) | (rest == 2 ? data[i + 1] << 8 : 0);
        out += base64Alphabet[(group >> 18) & 63];
        out += base64Alphabet[(group >> 12) & 63];
        out += rest == 2 ? base64Alphabet[(group >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Whitespace anywhere is ignored (files wrap long data); padding may be missing.
std::optional<Data> decodeBase64(std::string_view text) {
    Data out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    int count = 0;
    bool padding = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            padding = true;
            continue;
        }
        const auto index = base64Alphabet.find(c);
        if (index == std::string_view::npos || padding) return std::nullopt;
        group = (group << 6) | static_cast<std::uint32_t>(index);
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(group >> 16));
            out.push_back(static_cast<std::uint8_t>(group >> 8));
            out.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            count = 0;
        }
    }
    if (count == 1) return std::nullopt;
    if (count >= 2) out.push_back(static_cast<std::uint8_t>(group >> (count == 2 ? 4 : 10)));
    if (count == 3) out.push_back(static_cast<std::uint8_t>(group >> 2));
    return out;
}

// ---------------------------------------------------------------------------------------
// Numbers as text, independent of the C locale.

std::string formatReal(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "+infinity" : "-infinity";
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    constexpr std::uint64_t largest = std::numeric_limits<std::int64_t>::max();
    if (!negative) {
        if (magnitude > largest) return std::nullopt;
        return static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > largest + 1) return std::nullopt;
    if (magnitude == largest + 1) return std::numeric_limits<std::int64_t>::min();
    return -static_cast<std::int64_t>(magnitude);
}

std::optional<double> parseReal(std::string_view text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lower == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity") {
        return std::numeric_limits<double>::infinity();
    }
    if (lower == "-inf" || lower == "-infinity") return -std::numeric_limits<double>::infinity();
    if (text.starts_with('+')) text.remove_prefix(1);
    double value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// ---------------------------------------------------------------------------------------
// XML writing

class XmlWriter {
  public:
    std::string write(const PropertyValue& root) {
        out_ =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n";
        writeValue(root, 0);
        out_ += "</plist>\n";
        return std::move(out_);
    }

  private:
    void indent(std::size_t depth) { out_.append(depth, '\t'); }

    void element(std::string_view name, std::string_view content) {
        out_ += '<';
        out_ += name;
        out_ += '>';
        out_ += content;
        out_ += "</";
        out_ += name;
        out_ += ">\n";
    }

    // Escapes what XML requires, and writes control characters (including a carriage
    // return, which XML parsers turn into a line feed) as character references.
    std::string escaped(std::string_view text) {
        std::string out;
        for (char c : validUtf8(text)) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '&') {
                out += "&amp;";
            } else if (c == '<') {
                out += "&lt;";
            } else if (c == '>') {
                out += "&gt;";
            } else if (byte < 0x20 && c != '\t' && c != '\n') {
                out += "&#" + std::to_string(byte) + ";";
            } else {
                out += c;
            }
        }
        return out;
    }

    void writeValue(const PropertyValue& value, std::size_t depth) {
        indent(depth);
        switch (value.type()) {
            case PropertyValueType::boolean:
                out_ += *value.boolValue() ? "<true/>\n" : "<false/>\n";
                break;
            case PropertyValueType::integer:
                element("integer", std::to_string(*value.integerValue()));
                break;
            case PropertyValueType::real:
                element("real", formatReal(*value.realValue()));
                break;
            case PropertyValueType::string:
                element("string", escaped(*value.stringValue()));
                break;
            case PropertyValueType::date:
                element("date", formatDate(*value.dateValue()));
                break;
            case PropertyValueType::data:
                element("data", encodeBase64(*value.dataValue()));
                break;
            case PropertyValueType::array: {
                const auto& array = *value.arrayValue();
                if (array.empty()) {
                    out_ += "<array/>\n";
                    break;
                }
                out_ += "<array>\n";
                for (const auto& item : array) writeValue(item, depth + 1);
                indent(depth);
                out_ += "</array>\n";
                break;
            }
            case PropertyValueType::dictionary: {
                const auto& dictionary = *value.dictionaryValue();
                if (dictionary.empty()) {
                    out_ += "<dict/>\n";
                    break;
                }
                out_ += "<dict>\n";
                for (const auto& [key, item] : dictionary) {
                    indent(depth + 1);
                    element("key", escaped(key));
                    writeValue(item, depth + 1);
                }
                indent(depth);
                out_ += "</dict>\n";
                break;
            }
            case PropertyValueType::uid:
                // Apple's XML form of a UID: a dictionary with the single key "CF$UID". The
                // integer is clamped so that the reader's int64 <integer> can take it back.
                out_ += "<dict>\n";
                indent(depth + 1);
                element("key", "CF$UID");
                indent(depth + 1);
                element("integer",
                        std::to_string(std::min<std::uint64_t>(
                            value.uidValue()->value, std::numeric_limits<std::int64_t>::max())));
                indent(depth);
                out_ += "</dict>\n";
                break;
        }
    }

    std::string out_;
};

// ---------------------------------------------------------------------------------------
// XML reading. A small recursive-descent reader for the property-list vocabulary: it skips
// the XML declaration, DOCTYPE, comments and processing instructions, understands the five
// predefined entities, character references and CDATA sections, and nothing else of XML.

class XmlReader {
  public:
    explicit XmlReader(std::string_view text) : text_(text) {}

    Expected<PropertyValue, PropertyListError> read() {
        auto value = readDocument();
        if (!value) return Unexpected(std::move(error_));
        return std::move(*value);
    }

  private:
    struct Tag {
        std::string_view name;
        bool closing = false;
        bool selfClosing = false;
        std::size_t offset = 0;
    };

    std::nullopt_t fail(std::size_t offset, const std::string& problem) {
        if (error_.message.empty()) {
            const auto line = static_cast<std::uint64_t>(
                1 + std::count(text_.begin(), text_.begin() + offset, '\n'));
            error_ = PropertyListError{PropertyListErrorKind::malformed,
                                       "line " + std::to_string(line) + ": " + problem,
                                       {},
                                       line};
        }
        return std::nullopt;
    }

    static std::string describe(const Tag& tag) {
        return std::string(tag.closing ? "</" : "<") + std::string(tag.name) +
               (tag.selfClosing ? "/>" : ">");
    }

    bool atEnd() const { return position_ >= text_.size(); }
    bool lookingAt(std::string_view prefix) const {
        return text_.substr(position_).starts_with(prefix);
    }

    std::optional<PropertyValue> readDocument() {
        if (text_.starts_with("\xFE\xFF") || text_.starts_with("\xFF\xFE")) {
            return fail(0, "UTF-16 property lists are not supported; save the file as UTF-8");
        }
        if (text_.starts_with("\xEF\xBB\xBF")) position_ = 3;

        Tag tag;
        if (!skipMarkup() || !readTag(tag, "the property list")) return std::nullopt;
        std::optional<PropertyValue> value;
        if (!tag.closing && tag.name == "plist") {
            if (tag.selfClosing) return fail(tag.offset, "the <plist> element is empty");
            Tag inner;
            if (!skipMarkup() || !readTag(inner, "a value inside <plist>")) return std::nullopt;
            if (inner.closing && inner.name == "plist") {
                return fail(inner.offset, "the <plist> element is empty");
            }
            value = readValue(inner, 1);
            if (!value) return std::nullopt;
            Tag end;
            if (!skipMarkup() || !readTag(end, "</plist>")) return std::nullopt;
            if (!end.closing || end.name != "plist") {
                return fail(end.offset,
                            "</plist> expected after the value, found " + describe(end));
            }
        } else {
            value = readValue(tag, 1);
            if (!value) return std::nullopt;
        }
        if (!skipMarkup()) return std::nullopt;
        if (!atEnd()) return fail(position_, "unexpected content after the property list");
        return value;
    }

    // Skips whitespace, comments, processing instructions and a DOCTYPE.
    bool skipMarkup() {
        for (;;) {
            while (!atEnd() &&
                   std::string_view(" \t\r\n").find(text_[position_]) != std::string_view::npos) {
                ++position_;
            }
            if (lookingAt("<!--")) {
                if (!skipPast("-->", position_ + 4, "comment")) return false;
            } else if (lookingAt("<?")) {
                if (!skipPast("?>", position_ + 2, "processing instruction")) return false;
            } else if (lookingAt("<!DOCTYPE")) {
                if (!skipDoctype()) return false;
            } else {
                return true;
            }
        }
    }

    bool skipPast(std::string_view terminator, std::size_t from, std::string_view what) {
        const auto end = text_.find(terminator, from);
        if (end == std::string_view::npos) {
            fail(position_, "unterminated " + std::string(what));
            return false;
        }
        position_ = end + terminator.size();
        return true;
    }

    // The internal subset in brackets may contain '>' and quoted text.
    bool skipDoctype() {
        const std::size_t start = position_;
        int brackets = 0;
        for (position_ += 9; !atEnd(); ++position_) {
            const char c = text_[position_];
            if (c == '"' || c == '\'') {
                const auto close = text_.find(c, position_ + 1);
                if (close == std::string_view::npos) break;
                position_ = close;
            } else if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                --brackets;
            } else if (c == '>' && brackets <= 0) {
                ++position_;
                return true;
            }
        }
        fail(start, "unterminated DOCTYPE");
        return false;
    }

    bool readTag(Tag& tag, std::string_view expected) {
        if (atEnd()) {
            fail(position_, "the file ends where " + std::string(expected) + " should follow");
            return false;
        }
        tag = Tag{};
        tag.offset = position_;
        if (text_[position_] != '<') {
            const auto text = text_.substr(position_, 20);
            fail(position_, "text \u201c" + validUtf8(text.substr(0, text.find('\n'))) +
                                "\u201d where " + std::string(expected) + " should follow");
            return false;
        }
        ++position_;
        if (!atEnd() && text_[position_] == '/') {
            tag.closing = true;
            ++position_;
        }
        const std::size_t nameStart = position_;
        while (!atEnd() && isNameCharacter(text_[position_])) ++position_;
        tag.name = text_.substr(nameStart, position_ - nameStart);
        if (tag.name.empty()) {
            fail(tag.offset, "malformed tag");
            return false;
        }
        while (!atEnd()) {
            const char c = text_[position_];
            if (c == '>') {
                ++position_;
                return true;
            }
            if (c == '/' && position_ + 1 < text_.size() && text_[position_ + 1] == '>') {
                position_ += 2;
                tag.selfClosing = true;
                if (!tag.closing) return true;
                break;
            }
            if (c == '"' || c == '\'') {
                const auto close = text_.find(c, position_ + 1);
                if (close == std::string_view::npos) break;
                position_ = close;
            } else if (c == '<') {
                break;
            }
            ++position_;
        }
        fail(tag.offset,
             "malformed tag <" + std::string(tag.closing ? "/" : "") + std::string(tag.name) + ">");
        return false;
    }

    static bool isNameCharacter(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.' || c == ':' || c == '$' ||
               static_cast<unsigned char>(c) >= 0x80;
    }

    std::optional<PropertyValue> readValue(const Tag& tag, std::size_t depth) {
        if (depth > maximumPropertyListDepth) {
            return fail(tag.offset, "the values are nested more than " +
                                        std::to_string(maximumPropertyListDepth) + " levels deep");
        }
        if (tag.closing) return fail(tag.offset, "unexpected " + describe(tag));
        const auto& name = tag.name;
        if (name == "dict") return readDictionary(tag, depth);
        if (name == "array") return readArray(tag, depth);
        if (name == "true" || name == "false") {
            if (!tag.selfClosing) {
                auto content = readCharacterData(tag);
                if (!content) return std::nullopt;
                if (!trimmed(*content).empty()) {
                    return fail(tag.offset, describe(tag) + " must be empty");
                }
            }
            return PropertyValue(name == "true");
        }
        if (name == "key") return fail(tag.offset, "<key> outside a dictionary");
        if (name != "string" && name != "integer" && name != "real" && name != "date" &&
            name != "data") {
            return fail(tag.offset, "unknown element " + describe(tag));
        }

        std::string content;
        if (!tag.selfClosing) {
            auto read = readCharacterData(tag);
            if (!read) return std::nullopt;
            content = std::move(*read);
        }
        if (name == "string") return PropertyValue(validUtf8(content));
        const auto text = trimmed(content);
        const auto quoted = "\u201c" + validUtf8(text.substr(0, 40)) + "\u201d";
        if (name == "integer") {
            if (auto integer = parseInteger(text)) return PropertyValue(*integer);
            return fail(tag.offset, quoted + " is not an integer of at most 64 bits");
        }
        if (name == "real") {
            if (auto real = parseReal(text)) return PropertyValue(*real);
            return fail(tag.offset, quoted + " is not a real number");
        }
        if (name == "date") {
            if (auto date = parseDate(text)) return PropertyValue(*date);
            return fail(tag.offset, quoted + " is not a date like 2001-01-01T00:00:00Z");
        }
        if (auto data = decodeBase64(text)) return PropertyValue(std::move(*data));
        return fail(tag.offset, "the content of <data> is not Base64");
    }

    std::optional<PropertyValue> readArray(const Tag& tag, std::size_t depth) {
        Array array;
        if (tag.selfClosing) return PropertyValue(std::move(array));
        for (;;) {
            Tag next;
            if (!skipMarkup() || !readTag(next, "a value or </array>")) return std::nullopt;
            if (next.closing && next.name == "array") return PropertyValue(std::move(array));
            auto element = readValue(next, depth + 1);
            if (!element) return std::nullopt;
            array.push_back(std::move(*element));
        }
    }

    std::optional<PropertyValue> readDictionary(const Tag& tag, std::size_t depth) {
        Dictionary dictionary;
        if (tag.selfClosing) return PropertyValue(std::move(dictionary));
        for (;;) {
            Tag keyTag;
            if (!skipMarkup() || !readTag(keyTag, "<key> or </dict>")) return std::nullopt;
            if (keyTag.closing && keyTag.name == "dict") break;
            if (keyTag.closing || keyTag.name != "key") {
                return fail(keyTag.offset,
                            "<key> expected in a dictionary, found " + describe(keyTag));
            }
            std::string key;
            if (!keyTag.selfClosing) {
                auto read = readCharacterData(keyTag);
                if (!read) return std::nullopt;
                key = validUtf8(*read);
            }
            Tag valueTag;
            if (!skipMarkup() || !readTag(valueTag, "the value of a <key>")) return std::nullopt;
            if (valueTag.closing) {
                return fail(valueTag.offset, "the key \u201c" + key + "\u201d has no value");
            }
            auto value = readValue(valueTag, depth + 1);
            if (!value) return std::nullopt;
            dictionary.insert_or_assign(std::move(key), std::move(*value));
        }
        // Apple's convention, which libplist follows too: {"CF$UID": n} is a UID.
        if (dictionary.size() == 1) {
            auto only = dictionary.find("CF$UID");
            if (only != dictionary.end() && only->second.integerValue() &&
                *only->second.integerValue() >= 0) {
                return PropertyValue(Uid{static_cast<std::uint64_t>(*only->second.integerValue())});
            }
        }
        return PropertyValue(std::move(dictionary));
    }

    // The text up to the tag's closing tag, with entities and CDATA sections resolved.
    std::optional<std::string> readCharacterData(const Tag& tag) {
        std::string out;
        for (;;) {
            const auto next = text_.find_first_of("<&", position_);
            if (next == std::string_view::npos) {
                return fail(tag.offset, describe(tag) + " is not closed");
            }
            out.append(text_.substr(position_, next - position_));
            position_ = next;
            if (text_[position_] == '&') {
                if (!readReference(out)) return std::nullopt;
            } else if (lookingAt("<!--")) {
                if (!skipPast("-->", position_ + 4, "comment")) return std::nullopt;
            } else if (lookingAt("<![CDATA[")) {
                const auto end = text_.find("]]>", position_ + 9);
                if (end == std::string_view::npos) return fail(position_, "unterminated CDATA");
                out.append(text_.substr(position_ + 9, end - position_ - 9));
                position_ = end + 3;
            } else if (lookingAt("</")) {
                Tag end;
                if (!readTag(end, "a closing tag")) return std::nullopt;
                if (end.name != tag.name) {
                    return fail(end.offset, describe(end) + " does not close " + describe(tag));
                }
                return out;
            } else {
                return fail(position_, "unexpected element inside " + describe(tag));
            }
        }
    }

    bool readReference(std::string& out) {
        const std::size_t start = position_;
        const auto end = text_.find(';', position_);
        if (end == std::string_view::npos || end - position_ > 12) {
            fail(start, "a lone \u201c&\u201d; write it as &amp;");
            return false;
        }
        const auto name = text_.substr(position_ + 1, end - position_ - 1);
        position_ = end + 1;
        static constexpr std::array<std::pair<std::string_view, char>, 5> entities = {
            {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};
        for (const auto& [entity, character] : entities) {
            if (name == entity) {
                out += character;
                return true;
            }
        }
        std::uint32_t code = 0;
        std::from_chars_result parsed{};
        if (name.starts_with("#x") || name.starts_with("#X")) {
            parsed = std::from_chars(name.data() + 2, name.data() + name.size(), code, 16);
        } else if (name.starts_with('#')) {
            parsed = std::from_chars(name.data() + 1, name.data() + name.size(), code, 10);
        } else {
            fail(start, "unknown entity &" + validUtf8(name) + ";");
            return false;
        }
        // A NUL is accepted so that strings holding one survive a round trip (the writer
        // has no other way to keep it).
        if (parsed.ec != std::errc() || parsed.ptr != name.data() + name.size() ||
            name.size() < 2 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            fail(start, "invalid character reference &" + validUtf8(name) + ";");
            return false;
        }
        appendUtf8(out, code);
        return true;
    }

    std::string_view text_;
    std::size_t position_ = 0;
    PropertyListError error_;
};

// ---------------------------------------------------------------------------------------
// Binary reading ("bplist00"): a header, the objects, a table of their offsets, and a
// 32-byte trailer that says how wide offsets and object references are, how many objects
// there are, which one is the top and where the offset table starts.

class BinaryReader {
  public:
    explicit BinaryReader(std::string_view bytes) : bytes_(bytes) {}

    // Reading takes two passes. The first walks the graph of objects once, following every
    // reference: it finds cycles, and computes for each object how deep its values nest and
    // how much memory they take once shared objects are copied out, so that a hostile file
    // is refused in time proportional to its size. The second builds the values.
    Expected<PropertyValue, PropertyListError> read() {
        std::optional<PropertyValue> value;
        if (readTrailer() && measure(topObject_, 1)) value = readObject(topObject_);
        if (!value) return Unexpected(std::move(error_));
        return std::move(*value);
    }

  private:
    static constexpr std::size_t headerSize = 8;
    static constexpr std::size_t trailerSize = 32;

    // Where an object is and what its marker byte says. For data, strings and containers,
    // `count` is the number of bytes, UTF-16 units or elements, and `payload` where they
    // start; they are known to lie before the trailer.
    struct Object {
        std::size_t offset = 0;
        unsigned kind = 0;
        unsigned info = 0;
        std::uint64_t count = 0;
        std::size_t payload = 0;
    };

    struct Measure {
        std::uint64_t memory = 0;
        std::size_t height = 0;
    };

    std::nullopt_t fail(std::size_t offset, const std::string& problem) {
        if (error_.message.empty()) {
            error_ = PropertyListError{PropertyListErrorKind::malformed,
                                       "byte " + std::to_string(offset) + ": " + problem,
                                       {},
                                       std::nullopt,
                                       offset};
        }
        return std::nullopt;
    }

    std::nullopt_t failNesting(std::size_t offset) {
        return fail(offset, "the values are nested more than " +
                                std::to_string(maximumPropertyListDepth) + " levels deep");
    }

    // A big-endian unsigned number of 1 to 8 bytes that lies before the trailer.
    std::optional<std::uint64_t> readUnsigned(std::size_t offset, std::size_t width) const {
        if (width == 0 || width > 8 || offset > objectsEnd_ || objectsEnd_ - offset < width) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            value = (value << 8) | static_cast<unsigned char>(bytes_[offset + i]);
        }
        return value;
    }

    static std::uint64_t trailerNumber(std::string_view bytes) {
        std::uint64_t value = 0;
        for (char c : bytes) value = (value << 8) | static_cast<unsigned char>(c);
        return value;
    }

    bool readTrailer() {
        if (bytes_.size() < headerSize + 1 + 1 + trailerSize) {
            fail(0, "the binary property list is truncated");
            return false;
        }
        if (bytes_.substr(0, headerSize) != "bplist00") {
            fail(6, "binary property list version \u201c" + validUtf8(bytes_.substr(6, 2)) +
                        "\u201d is not supported");
            return false;
        }
        const std::size_t trailer = bytes_.size() - trailerSize;
        const auto fields = bytes_.substr(trailer);
        offsetSize_ = static_cast<unsigned char>(fields[6]);
        referenceSize_ = static_cast<unsigned char>(fields[7]);
        objectCount_ = trailerNumber(fields.substr(8, 8));
        topObject_ = trailerNumber(fields.substr(16, 8));
        const std::uint64_t offsetTable = trailerNumber(fields.substr(24, 8));
        objectsEnd_ = trailer;

        const auto damaged = [&](const std::string& what) {
            fail(trailer, "the trailer is damaged (" + what + ")");
            return false;
        };
        if (offsetSize_ < 1 || offsetSize_ > 8) return damaged("offset size");
        if (referenceSize_ < 1 || referenceSize_ > 8) return damaged("reference size");
        if (objectCount_ == 0) return damaged("no objects");
        if (topObject_ >= objectCount_) return damaged("top object");
        if (offsetTable < headerSize || offsetTable >= trailer ||
            objectCount_ > (trailer - offsetTable) / offsetSize_) {
            return damaged("offset table");
        }
        offsetTable_ = static_cast<std::size_t>(offsetTable);
        // The offset table holds at least one byte per object, so these fit in memory.
        measures_.assign(static_cast<std::size_t>(objectCount_), Measure{});
        visiting_.assign(static_cast<std::size_t>(objectCount_), false);
        return true;
    }

    std::optional<Object> locate(std::uint64_t index) {
        const auto entry = static_cast<std::size_t>(offsetTable_ + index * offsetSize_);
        const auto start = readUnsigned(entry, offsetSize_);
        if (!start || *start < headerSize || *start >= offsetTable_) {
            return fail(entry, "object " + std::to_string(index) + " lies outside the objects");
        }
        Object object;
        object.offset = static_cast<std::size_t>(*start);
        const auto marker = static_cast<unsigned char>(bytes_[object.offset]);
        object.kind = marker >> 4;
        object.info = marker & 0x0F;
        object.payload = object.offset + 1;

        std::uint64_t unit = 0;
        switch (object.kind) {
            case 0x4:
            case 0x5:
                unit = 1;
                break;
            case 0x6:
                unit = 2;
                break;
            case 0xA:
            case 0xC:
                unit = referenceSize_;
                break;
            case 0xD:
                unit = 2 * referenceSize_;
                break;
            default:
                return object;
        }
        object.count = object.info;
        if (object.info == 0x0F) {
            const auto lengthMarker = readUnsigned(object.payload, 1);
            if (!lengthMarker || (*lengthMarker >> 4) != 0x1 || (*lengthMarker & 0x0F) > 3) {
                return fail(object.offset, "malformed length");
            }
            const std::size_t width = std::size_t{1} << (*lengthMarker & 0x0F);
            const auto count = readUnsigned(object.payload + 1, width);
            if (!count) return fail(object.offset, "the length runs past the end of the objects");
            object.count = *count;
            object.payload += 1 + width;
        }
        if (object.payload > objectsEnd_ || object.count > (objectsEnd_ - object.payload) / unit) {
            return fail(object.offset, "the object runs past the end of the objects");
        }
        return object;
    }

    std::optional<std::uint64_t> reference(const Object& container, std::uint64_t position) {
        const auto index =
            readUnsigned(container.payload + static_cast<std::size_t>(position) * referenceSize_,
                         referenceSize_);
        if (!index || *index >= objectCount_) {
            return fail(container.offset,
                        "a reference to object " + std::to_string(index.value_or(0)) +
                            ", but there are " + std::to_string(objectCount_) + " objects");
        }
        return index;
    }

    // The memory the object's values take once decoded (roughly: each value plus the bytes of
    // its strings and data) and how deeply they nest. Each object is measured once.
    std::optional<Measure> measure(std::uint64_t index, std::size_t depth) {
        auto& known = measures_[static_cast<std::size_t>(index)];
        if (known.height > 0) {
            if (depth + known.height - 1 > maximumPropertyListDepth) {
                const auto object = locate(index);
                return failNesting(object ? object->offset : 0);
            }
            return known;
        }
        const auto object = locate(index);
        if (!object) return std::nullopt;
        if (depth > maximumPropertyListDepth) return failNesting(object->offset);

        Measure result{sizeof(PropertyValue), 1};
        if (object->kind >= 0x4 && object->kind <= 0x6) result.memory += object->count;
        if (object->kind == 0xA || object->kind == 0xC || object->kind == 0xD) {
            const std::uint64_t references =
                object->kind == 0xD ? 2 * object->count : object->count;
            visiting_[static_cast<std::size_t>(index)] = true;
            for (std::uint64_t i = 0; i < references; ++i) {
                const auto child = reference(*object, i);
                if (!child) return std::nullopt;
                if (visiting_[static_cast<std::size_t>(*child)]) {
                    return fail(object->offset,
                                "object " + std::to_string(*child) + " contains itself");
                }
                const auto measured = measure(*child, depth + 1);
                if (!measured) return std::nullopt;
                // Adding up stops at the budget, so that the sum cannot overflow.
                result.memory = std::min(result.memory + measured->memory, budget() + 1);
                result.height = std::max(result.height, measured->height + 1);
            }
            visiting_[static_cast<std::size_t>(index)] = false;
        }
        if (result.memory > budget()) {
            return fail(object->offset,
                        "shared objects expand to far more data than the file holds");
        }
        known = result;
        return result;
    }

    std::uint64_t budget() const {
        return std::max(propertyListMemoryFloor, propertyListExpansionLimit * bytes_.size());
    }

    static std::string decodeUtf16BigEndian(std::string_view bytes) {
        std::string out;
        out.reserve(bytes.size());
        auto unitAt = [&](std::size_t i) {
            return static_cast<char16_t>((static_cast<unsigned char>(bytes[2 * i]) << 8) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]));
        };
        const std::size_t units = bytes.size() / 2;
        for (std::size_t i = 0; i < units; ++i) {
            const char16_t unit = unitAt(i);
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units && unitAt(i + 1) >= 0xDC00 &&
                unitAt(i + 1) <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) +
                                    (char32_t(unitAt(i + 1)) - 0xDC00));
                ++i;
            } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                out.append(replacementCharacter);
            } else {
                appendUtf8(out, unit);
            }
        }
        return out;
    }

    // Builds the object's value; measure() has checked the references, the nesting and the
    // size already.
    std::optional<PropertyValue> readObject(std::uint64_t index) {
        const auto object = locate(index);
        if (!object) return std::nullopt;
        const std::size_t offset = object->offset;
        const std::size_t position = object->payload;
        const unsigned info = object->info;
        switch (object->kind) {
            case 0x0:
                if (info == 0x08 || info == 0x09) return PropertyValue(info == 0x09);
                return fail(offset, "null and fill objects are not supported");
            case 0x1:
                return readInteger(position, info, offset);
            case 0x2: {
                if (info != 2 && info != 3) return fail(offset, "a real must have 4 or 8 bytes");
                const auto bits = readUnsigned(position, std::size_t{1} << info);
                if (!bits) return fail(offset, "the real runs past the end of the objects");
                if (info == 2) {
                    return PropertyValue(std::bit_cast<float>(static_cast<std::uint32_t>(*bits)));
                }
                return PropertyValue(std::bit_cast<double>(*bits));
            }
            case 0x3: {
                const auto bits = info == 3 ? readUnsigned(position, 8) : std::nullopt;
                if (!bits) return fail(offset, "malformed date");
                auto date = dateFromReferenceSeconds(std::bit_cast<double>(*bits));
                if (!date) return fail(offset, "the date is not a number");
                return PropertyValue(*date);
            }
            case 0x4:
            case 0x5:
            case 0x6: {
                const auto unit = object->kind == 0x6 ? 2 : 1;
                const auto bytes =
                    bytes_.substr(position, static_cast<std::size_t>(object->count) * unit);
                if (object->kind == 0x4) return PropertyValue(Data(bytes.begin(), bytes.end()));
                if (object->kind == 0x5) return PropertyValue(validUtf8(bytes));
                return PropertyValue(decodeUtf16BigEndian(bytes));
            }
            case 0x8: {
                const auto value = info < 8 ? readUnsigned(position, info + 1) : std::nullopt;
                if (!value) return fail(offset, "malformed UID");
                return PropertyValue(Uid{*value});
            }
            case 0xA:
            case 0xC:
                return readArray(*object);
            case 0xD:
                return readDictionary(*object);
            default:
                return fail(offset,
                            "unknown object type " + std::to_string(object->kind << 4 | info));
        }
    }

    std::optional<PropertyValue> readInteger(std::size_t position, unsigned info,
                                             std::size_t offset) {
        if (info > 4) return fail(offset, "an integer must have 1, 2, 4, 8 or 16 bytes");
        if (info == 4) {
            // 16 bytes: Apple writes unsigned values above the int64 range this way. Only
            // values that fit int64 are accepted.
            const auto high = readUnsigned(position, 8);
            const auto low = readUnsigned(position + 8, 8);
            if (!high || !low) return fail(offset, "the integer runs past the end of the objects");
            const bool fitsPositive = *high == 0 && (*low >> 63) == 0;
            const bool fitsNegative = *high == ~std::uint64_t{0} && (*low >> 63) == 1;
            if (!fitsPositive && !fitsNegative) {
                return fail(offset, "the integer does not fit in 64 bits");
            }
            return PropertyValue(static_cast<std::int64_t>(*low));
        }
        const auto value = readUnsigned(position, std::size_t{1} << info);
        if (!value) return fail(offset, "the integer runs past the end of the objects");
        // Integers of up to 4 bytes are unsigned; 8 bytes are two's complement.
        return PropertyValue(static_cast<std::int64_t>(*value));
    }

    std::optional<PropertyValue> readArray(const Object& array) {
        Array elements;
        elements.reserve(static_cast<std::size_t>(array.count));
        for (std::uint64_t i = 0; i < array.count; ++i) {
            const auto index = reference(array, i);
            if (!index) return std::nullopt;
            auto element = readObject(*index);
            if (!element) return std::nullopt;
            elements.push_back(std::move(*element));
        }
        return PropertyValue(std::move(elements));
    }

    // The keys' references come first, then the values' in the same order.
    std::optional<PropertyValue> readDictionary(const Object& dictionary) {
        Dictionary entries;
        for (std::uint64_t i = 0; i < dictionary.count; ++i) {
            const auto keyIndex = reference(dictionary, i);
            const auto valueIndex = reference(dictionary, dictionary.count + i);
            if (!keyIndex || !valueIndex) return std::nullopt;
            auto key = readObject(*keyIndex);
            if (!key) return std::nullopt;
            if (!key->stringValue()) {
                return fail(dictionary.offset,
                            "a dictionary key must be a string, not of type " + key->typeName());
            }
            auto value = readObject(*valueIndex);
            if (!value) return std::nullopt;
            entries.insert_or_assign(*key->stringValue(), std::move(*value));
        }
        return PropertyValue(std::move(entries));
    }

    std::string_view bytes_;
    unsigned offsetSize_ = 0;
    unsigned referenceSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t topObject_ = 0;
    std::size_t offsetTable_ = 0;
    std::size_t objectsEnd_ = 0;
    // Per object: its measure once known (height 0 until then), and whether it is being
    // measured, which makes a container that holds itself an error instead of a loop.
    std::vector<Measure> measures_;
    std::vector<bool> visiting_;
    PropertyListError error_;
};

// ---------------------------------------------------------------------------------------
// Binary writing through libplist

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistNode = std::unique_ptr<void, PlistDeleter>;

// libplist 2.2 keeps a date as 32-bit seconds plus microseconds since 2001; both parts
// carry the sign so that their sum is the date.
plist_t newPlistDate(Date date) {
    constexpr std::int64_t earliest =
        std::int64_t{std::numeric_limits<std::int32_t>::min()} * microsecondsPerSecond;
    constexpr std::int64_t latest =
        std::int64_t{std::numeric_limits<std::int32_t>::max()} * microsecondsPerSecond;
    const std::int64_t microseconds =
        std::clamp(microsecondsSinceReference(date), earliest, latest);
    return plist_new_date(static_cast<std::int32_t>(microseconds / microsecondsPerSecond),
                          static_cast<std::int32_t>(microseconds % microsecondsPerSecond));
}

PlistNode toPlist(const PropertyValue& value) {
    switch (value.type()) {
        case PropertyValueType::boolean:
            return PlistNode(plist_new_bool(*value.boolValue() ? 1 : 0));
        case PropertyValueType::integer:
            // libplist writes a negative value as 8 bytes, which readers take as signed.
            return PlistNode(plist_new_uint(static_cast<std::uint64_t>(*value.integerValue())));
        case PropertyValueType::real:
            return PlistNode(plist_new_real(*value.realValue()));
        case PropertyValueType::string:
            // libplist stops converting a string to UTF-16 at the first invalid byte.
            return PlistNode(plist_new_string(validUtf8(*value.stringValue()).c_str()));
        case PropertyValueType::date:
            return PlistNode(newPlistDate(*value.dateValue()));
        case PropertyValueType::data: {
            const auto& data = *value.dataValue();
            return PlistNode(
                plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
        }
        case PropertyValueType::array: {
            PlistNode array(plist_new_array());
            for (const auto& element : *value.arrayValue()) {
                plist_array_append_item(array.get(), toPlist(element).release());
            }
            return array;
        }
        case PropertyValueType::dictionary: {
            PlistNode dictionary(plist_new_dict());
            for (const auto& [key, element] : *value.dictionaryValue()) {
                plist_dict_set_item(dictionary.get(), validUtf8(key).c_str(),
                                    toPlist(element).release());
            }
            return dictionary;
        }
        case PropertyValueType::uid:
            return PlistNode(plist_new_uid(std::min<std::uint64_t>(
                value.uidValue()->value, std::numeric_limits<std::uint32_t>::max())));
    }
    return PlistNode(plist_new_dict());
}

std::string encodeBinary(const PropertyValue& value) {
    PlistNode root = toPlist(value);
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    std::string result(bytes != nullptr ? bytes : "", bytes != nullptr ? length : 0);
    plist_to_bin_free(bytes);
    return result;
}

}  // namespace

std::string encodePropertyList(const PropertyValue& value, PropertyListFormat format) {
    if (format == PropertyListFormat::binary) return encodeBinary(value);
    return XmlWriter().write(value);
}

Expected<PropertyValue, PropertyListError> decodePropertyList(std::string_view bytes) {
    if (bytes.empty())
        return Unexpected(PropertyListError{PropertyListErrorKind::empty, "the file is empty"});
    if (bytes.starts_with("bplist")) return BinaryReader(bytes).read();
    return XmlReader(bytes).read();
}

}  // namespace pelkora
