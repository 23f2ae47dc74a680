#pragma once

// Just enough JSON for machine-readable command output and for records other tools can read:
// string literals and numbers written, and whole texts read into a small tree.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora::json {

// Appends the text as a JSON string literal, quotes included. Invalid UTF-8 bytes become
// U+FFFD so the output always parses; control characters (C0, DEL and C1) are escaped as
// \u00XX, so that a terminal showing the JSON never acts on them.
void appendString(std::string& out, std::string_view text);

// The text as a JSON string literal.
inline std::string quoted(std::string_view text) {
    std::string out;
    appendString(out, text);
    return out;
}

// A finite number in the shortest form that reads back to the same double; null otherwise.
std::string number(double value);

// A JSON value. Members of an object keep the order of the text; a number is a double, so
// integers are exact up to 2^53.
struct Value {
    enum class Type { null, boolean, number, string, array, object };
    struct Member;

    Value();
    Value(const Value&);
    Value(Value&&) noexcept;
    Value& operator=(const Value&);
    Value& operator=(Value&&) noexcept;
    ~Value();

    Type type = Type::null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Value> array;
    std::vector<Member> object;

    // The member of an object with this name (the first, should the text repeat it); none for
    // a missing member or a value that is no object.
    const Value* find(std::string_view name) const;
};

struct Value::Member {
    std::string name;
    Value value;
};

// The value of a whole JSON text (RFC 8259: white space around it, nothing else); none when
// the text is not JSON, holds bytes that are not UTF-8, or nests deeper than 256 levels.
// Escapes are resolved, so a string holds exactly what appendString was given when that was
// well-formed UTF-8.
std::optional<Value> parse(std::string_view text);

}  // namespace pelkora::json
