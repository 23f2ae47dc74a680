#pragma once

// The order of day and month in a file's date columns, decided from the file itself. A
// text such as "03/04/1975" names 3 April or 4 March depending on who wrote it; the other
// values of its column usually tell ("25/12/1990" can only be day first), so the callers
// that have all rows (the import, the vCard export, the preview) decide every date column
// once and hand the result to the assembly in AssemblyOptions::dayMonthOrders.

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "input/DataRow.h"
#include "mapping/MappedContactProperty.h"
#include "text/DateFormatting.h"

namespace pelkora {

// For each column mapped to the birthday or the dates, the order its text cells show;
// undecided for a column whose values show none (or both). Other columns are not listed.
std::map<std::int64_t, dates::DayMonthOrder> dayMonthOrdersOfDateColumns(
    std::span<const DataRow> rows, const std::vector<MappedContactProperty>& mappedProperties);

}  // namespace pelkora
