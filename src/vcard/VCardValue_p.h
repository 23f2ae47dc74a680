#pragma once

// The values of vCard properties, both ways: transfer encodings (quoted-printable, Base64),
// character sets, text escapes, structured and list values, and dates.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/Contact.h"
#include "support/Base64.h"
#include "vcard/VCardLexer_p.h"

namespace pelkora::contacts::detail {

// The bytes of quoted-printable text. An "=" that is not followed by two hex digits stays as
// written, as RFC 2045 advises robust decoders; a final soft line break "=" is dropped.
std::string decodeQuotedPrintable(std::string_view text);

using pelkora::decodeBase64;
using pelkora::encodeBase64;

// UTF-8 text of bytes in the named character set (an ICU name or alias, empty for none). When
// the set is unknown or the bytes are not valid in it: UTF-8, then Windows Latin 1, then ISO
// Latin 1, which takes any byte, so the result is always valid UTF-8. CR LF and CR become LF.
std::string decodeCharacters(std::string_view bytes, std::string_view charset);

// A line's value as UTF-8 text, still escaped: its transfer encoding undone, then its CHARSET.
// None when its Base64 is broken.
std::optional<std::string> decodedText(const ContentLine& line);

// A text value with its escapes resolved: "\\", "\;", "\,", "\:" (Apple writes URLs as
// "http\://") and "\n" or "\N" for a line break. Any other backslash stays as written, so that
// a 2.1 value such as "C:\Users" keeps it. NUL characters are left out.
std::string unescapeText(std::string_view text);
// The pieces between the unescaped separators (";" for N, ADR and ORG, "," for lists), still
// escaped; always at least one.
std::vector<std::string_view> splitEscaped(std::string_view text, char separator);
// Text as a value: backslash, comma and semicolon escaped, each line break as "\n", NUL
// characters left out.
std::string escapeText(std::string_view text);
// The same, appended to `out`.
void appendEscapedText(std::string& out, std::string_view text);

// A parameter value as UTF-8 (parameters have no CHARSET; bytes that are not UTF-8 are read as
// in decodeCharacters).
std::string parameterText(std::string_view value);

// The date of a value: "2000-03-15", "20000315", "--0315", "--03-15", "---15", "2000-03",
// "2000" or "--03"; a time after "T" is ignored. None when the text is none of these or the
// month or day is out of range.
std::optional<DateComponents> parseDate(std::string_view text);
// The value for a date, the inverse of parseDate: "2000-03-15", "--0315", "2000-03", "2000",
// "--03" or "---15". Components out of range count as absent (a year outside 0…9999, a month
// outside 1…12, a day outside 1…31); a day without a month is dropped when there is a year.
// Empty when nothing is left. The calendar is not part of the value.
std::string formatDate(const DateComponents& date);

}  // namespace pelkora::contacts::detail
