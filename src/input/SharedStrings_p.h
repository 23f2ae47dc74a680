#pragma once

// Reading a workbook's shared strings part. It is streamed rather than read whole: a workbook
// of contacts may hold millions of strings. Each "si" item gives the text of its "t"
// elements, rich-text runs joined; phonetic readings ("rPh") are not part of the text. Like a
// cell's text, a string keeps at most kMaximumCellTextSize bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/PackageParts_p.h"
#include "input/zip/ZipArchive.h"

namespace pelkora::excel {

// The strings of a shared strings part, kept back to back in one block rather than one
// allocation each.
struct SharedStrings {
    std::string bytes;
    // Where each string ends in bytes; string i begins where string i - 1 ends.
    std::vector<std::uint32_t> ends;
    // Why the part could not be read to its end; the strings before the failure are kept.
    std::optional<std::string> failure;
    // The part could not be read at all: it could not be inflated, or it failed before its
    // first string ended. The workbook is then damaged rather than missing a few strings.
    bool unreadable = false;
    // The indices of the strings longer than kMaximumCellTextSize, which were cut.
    std::vector<std::size_t> cutStrings;
};

// Returns the strings of the shared strings part, an entry of the archive, in order.
// The inflated bytes count against the budget, and the part's own inflation limit applies.
SharedStrings readSharedStrings(const ZipArchiveEntry& entry, std::string_view entryName,
                                InflationBudget& budget);

}  // namespace pelkora::excel
