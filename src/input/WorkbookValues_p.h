#pragma once

// How a workbook's parts write numbers, dates and cell references, read leniently: a damaged
// or unusual value gives a fallback (0, no date, column 1) rather than an error, since one
// odd cell must not cost the user the rest of the sheet.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "input/DataCell.h"
#include "input/ExcelReader.h"
#include "input/XmlPullScanner_p.h"

namespace pelkora::excel {

// The largest sheet the file format allows, XFD1048576. A reference beyond it is damage, not
// data: taken as it stands, a column such as "MWLQKWU" would have every consumer that sizes
// a row by its last column allocate billions of entries.
inline constexpr std::int64_t kLastColumnNumber = 16384;
inline constexpr std::int64_t kLastRowNumber = 1048576;

// The most text one cell keeps, in bytes; the rest is cut at a character boundary. A contact
// field is never near this long, while a few hundred kilobytes of compressed XML inflate to a
// cell of gigabytes that every later copy (row, preview, table, contact) would pay for again.
inline constexpr std::size_t kMaximumCellTextSize = std::size_t{1} << 20;

// Returns the leading integer of the text: white space, an optional sign, then digits; 0 when
// there are none. Saturates instead of overflowing.
std::int64_t integerValue(std::string_view text);

// Returns the whole text read as a decimal floating-point number (white space around it
// allowed); none when anything else is in it or it is not finite.
std::optional<double> doubleValue(std::string_view text);

// Returns midnight plus the time of day of a calendar day in the current time zone; none when
// the components make no valid date or the date cannot be held by a CellDate.
std::optional<CellDate> localDate(std::int64_t year, std::int64_t month, std::int64_t day,
                                  std::int64_t hour = 0, std::int64_t minute = 0,
                                  std::int64_t second = 0);

// Returns the date of a "d" cell, written as text: "2024-03-05T10:20:30", "2024-03-05" or
// "10:20". A time alone falls on 1 January 1904.
std::optional<CellDate> dateFromText(std::string_view text);

// Returns midnight of the day a serial number of the date system stands for, in the current
// time zone (the time of day is dropped); none when it has no date.
std::optional<CellDate> dateFromSerial(double serial, DateSystem dateSystem);

// Returns the 1-based column of a cell reference such as "AB12" without building a
// CellReference: the hot path of a sheet's cells.
std::int64_t columnOfReference(std::string_view text);

// Returns the 1-based row of a cell reference such as "AB12", its digits read as one number
// (saturating); 0 when it has none.
std::int64_t rowOfReference(std::string_view text);

// How appending a text token under a limit went.
enum class LimitedTextResult { appended, cut, referenceToNoCharacter };

// Appends the characters of the scanner's current text token to out, but lets out grow no
// larger than limit bytes: the token is decoded in chunks and decoding stops once the limit is
// reached, so an oversize text is never copied whole. A cut falls on a character boundary.
// Returns cut when characters were left out (also when out was already full), and
// referenceToNoCharacter for a numeric reference to no character in the part decoded.
LimitedTextResult appendLimitedText(const xml::XmlPullScanner& scanner, std::string& out,
                                    std::size_t limit);

}  // namespace pelkora::excel
