#pragma once

// How a workbook's parts write numbers, dates and cell references, read leniently: a damaged
// or unusual value gives a fallback (0, no date, column 1) rather than an error, since one
// odd cell must not cost the user the rest of the sheet.

#include <cstdint>
#include <optional>
#include <string_view>

#include "input/DataCell.h"
#include "input/ExcelReader.h"

namespace pelkora::excel {

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

}  // namespace pelkora::excel
