#pragma once

// The syntax of vCard text: physical lines unfolded into content lines
// "group.NAME;PARAM=value,value:value", before any property has a meaning.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "support/Expected.h"
#include "vcard/VCard.h"

namespace pelkora::contacts::detail {

// ASCII case mapping: vCard names and parameters are ASCII and compared without case.
std::string asciiUppercase(std::string_view text);
std::string asciiLowercase(std::string_view text);
bool equalsIgnoringCase(std::string_view left, std::string_view right);

// The error for a problem on an input line: "line 12: " and the problem.
VCardError lineError(std::size_t line, const std::string& problem);

struct VCardParameter {
    std::string name;                 // upper-case ("TYPE", "ENCODING", "X-USER")
    std::vector<std::string> values;  // without quotes, RFC 6868 "^n" escapes decoded
    bool operator==(const VCardParameter&) const = default;
};

struct ContentLine {
    std::size_t lineNumber = 0;  // the input line it begins on, counted from 1
    std::size_t begin = 0;       // offset of its first byte in the text
    std::size_t end = 0;         // offset just past its last line break
    std::string group;           // lower-case ("item1"); empty when the line has none
    std::string name;            // upper-case ("TEL", "X-ABLABEL")
    std::vector<VCardParameter> parameters;
    std::string value;  // unfolded but still transfer-encoded and escaped

    // The values of every parameter of that upper-case name, in order. A bare 2.1 parameter
    // ("TEL;WORK;VOICE") is a TYPE value, or an ENCODING value when it names an encoding.
    std::vector<std::string_view> parameterValues(std::string_view parameterName) const;
    // The first value of the parameter, empty without one.
    std::string_view parameter(std::string_view parameterName) const;
    // Whether a TYPE value equals the type, ignoring case.
    bool hasType(std::string_view type) const;
    // Whether the value is quoted-printable (ENCODING=QUOTED-PRINTABLE or a bare 2.1 parameter).
    bool isQuotedPrintable() const;
};

// The content lines of the text. Lines end in CR LF, LF or CR; a line that begins with a space
// or tab continues the one before (RFC 2425 folding); a quoted-printable value that ends in "="
// continues on the next line whatever it begins with (2.1 soft line breaks); a 2.1 BASE64 value
// continues on lines made only of Base64 characters (2.1 writers do not always indent them).
// Blank lines are skipped. Fails on a line without a colon, with an invalid property name or an
// unclosed quote, and on a continuation line with no line to continue.
Expected<std::vector<ContentLine>, VCardError> lexContentLines(std::string_view text);

}  // namespace pelkora::contacts::detail
