#pragma once

// Reading the pictures anchored over a sheet's cells: the sheet's relationships name its
// drawing parts, each drawing's relationships name its pictures, and each anchor in a drawing
// places one picture with its top-left cell.

#include <vector>

#include "input/ExcelReader.h"
#include "input/zip/ZipArchive.h"

namespace pelkora::excel {

class InflationBudget;

// The pictures of a sheet's drawings.
struct SheetDrawings {
    // The image relationships of all the sheet's drawings, in document order.
    std::vector<ImageRelationship> imageRelationships;
    // The anchored pictures sorted by row, those of one row in document order.
    std::vector<AnchoredImage> anchoredImages;

    bool operator==(const SheetDrawings&) const = default;
};

// Returns the pictures anchored in the drawings of the sheet. A sheet without relationships
// has none; a drawing that cannot be read is logged and skipped, and an anchor without a cell
// or a known picture is left out. What the parts inflate to is charged to the budget, when
// given.
SheetDrawings readSheetDrawings(const ZipArchive& archive, const Sheet& sheet,
                                InflationBudget* budget = nullptr);

}  // namespace pelkora::excel
