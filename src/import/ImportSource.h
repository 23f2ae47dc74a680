#pragma once

// What the import and the vCard exports read from the session when they start: the reader
// with its rows, the column assignments, the date formats and the assembly settings. The
// operations read it from their background thread; the session must not change the rows
// or the assignments while one runs, which the wizard guarantees by showing the progress
// sheet over every page that could.

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "import/ContactAssembly.h"
#include "import/ImportOperationDelegate.h"
#include "input/TabularDataReader.h"
#include "mapping/DateFormat.h"
#include "mapping/MappedContactProperty.h"

namespace pelkora {

struct ImportSource {
    // The reader whose rows are imported; none when no file is open.
    std::shared_ptr<const TabularDataReader> reader;
    std::vector<MappedContactProperty> mappedProperties;
    // The user's formats followed by the common formats of the locale.
    std::vector<DateFormat> dateFormats;
    AssemblyOptions assemblyOptions;
    // The row of column titles as the user left it, kNotFound when every row is a record;
    // none for the reader's own.
    std::optional<std::int64_t> headerRowIndex;
};

// The rows after the header row, or all of them without one.
inline std::span<const DataRow> rowsAfterHeader(const std::vector<DataRow>& rows,
                                                std::int64_t header) {
    std::size_t first = 0;
    if (header != TabularDataReader::kNotFound && header >= 0)
        first = std::min(rows.size(), static_cast<std::size_t>(header) + 1);
    return std::span<const DataRow>(rows).subspan(first);
}

// The rows an import takes by the reader's own header row.
inline std::span<const DataRow> rowsToImport(const TabularDataReader& reader) {
    return rowsAfterHeader(reader.dataRows(), reader.headerRowIndex());
}

// The rows an import takes: those after the header row the source names, all of them when
// it names none; none without a reader.
inline std::span<const DataRow> rowsToImport(const ImportSource& source) {
    if (!source.reader) return {};
    return rowsAfterHeader(source.reader->dataRows(),
                           source.headerRowIndex.value_or(source.reader->headerRowIndex()));
}

}  // namespace pelkora
