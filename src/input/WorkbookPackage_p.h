#pragma once

// Examining a workbook package's small parts: the workbook relationships, the workbook part
// (date system and sheets) and the styles (number formats and cell formats). Each is read
// whole with pugixml; a part that cannot be read gives empty tables, so the reader keeps
// what the other parts hold.

#include <string>
#include <string_view>
#include <vector>

#include "input/ExcelReader.h"
#include "input/zip/ZipArchive.h"
#include "support/Expected.h"

namespace pelkora::excel {

// Returns the relationships of the workbook relationships part named so, in document order;
// a relationship without an id, type or target is left out. Logs and returns none when the
// part cannot be read.
std::vector<WorkbookRelationship> readWorkbookRelationships(const ZipArchive& archive,
                                                            std::string_view entryName);

// What the workbook part says.
struct WorkbookPart {
    DateSystem dateSystem = DateSystem::windows1900;
    // The sheets in workbook order, each with the path its relationship gives.
    std::vector<Sheet> sheets;

    bool operator==(const WorkbookPart&) const = default;
};

// Returns the date system and the sheets of the workbook part named so; a sheet whose
// relationship is not among the given ones is logged and gets the path "undefined". Returns
// the error text when the part cannot be read.
Expected<WorkbookPart, std::string> readWorkbook(
    const ZipArchive& archive, std::string_view entryName,
    const std::vector<WorkbookRelationship>& relationships);

// The tables of the styles part.
struct Styles {
    std::vector<NumberFormat> numberFormats;
    // Indexed by a cell's style index.
    std::vector<CellFormat> cellFormats;
    // For each cell format, whether its number format shows a date.
    std::vector<bool> cellFormatIsDate;

    bool operator==(const Styles&) const = default;
};

// Returns the number formats and cell formats of the styles part named so. Logs and returns
// empty tables when the part cannot be read.
Styles readStyles(const ZipArchive& archive, std::string_view entryName);

}  // namespace pelkora::excel
