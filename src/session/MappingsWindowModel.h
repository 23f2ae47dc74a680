#pragma once

// The mappings window: the user's saved mappings as a table, which the user renames,
// deletes, exports to a ".zubmapping" file and imports from one. Front-end agnostic: a window
// shows rows() (or the empty-state text) and calls the actions; every action goes through the
// store, so two programs changing mappings at once lose neither's change. Rows are indexes
// into rows() as last read; after an action the window reads rows() again.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mapping/SavedMapping.h"
#include "mappingstore/MappingStore.h"
#include "support/Expected.h"

namespace pelkora {

// One row of the table.
struct MappingsWindowRow {
    std::string title;
    MappingMode mode = MappingMode::byName;
    std::size_t columns = 0;  // the columns of the file it was made from
    std::int64_t usageCount = 0;
    std::chrono::system_clock::time_point updatedOn;
    std::string uuid;
    bool operator==(const MappingsWindowRow&) const = default;
};

// A question the window asks before it acts.
struct Confirmation {
    std::string heading;
    std::string text;
    std::vector<std::string> buttons;  // the first one acts, the last one cancels
    bool operator==(const Confirmation&) const = default;
};

// The mappings in an exported file; an unreadable file or one of another kind is an error
// naming the file.
Expected<std::vector<SavedMapping>, std::string> readMappingFile(const std::filesystem::path& file);

class MappingsWindowModel {
  public:
    // The store must outlive the model.
    explicit MappingsWindowModel(MappingStore& store) : store_(store) {}

    // The stored mappings in the store's order (by title, ignoring case).
    std::vector<MappingsWindowRow> rows() const;
    bool isEmpty() const { return store_.mappings().empty(); }
    // What the window shows in place of an empty table.
    static std::string emptyStateText();
    // The mode as the table's column shows it: "By Name", "By Position".
    static std::string modeText(MappingMode mode);

    // Gives the row's mapping a new title; an empty title is refused.
    Expected<void, std::string> rename(std::size_t row, std::string title);
    // The question asked before remove().
    static Confirmation deleteConfirmation();
    Expected<void, std::string> remove(const std::vector<std::size_t>& rows);

    // The name the save panel suggests for exporting that many rows ("2 Mappings.zubmapping").
    static std::string suggestedExportFileName(std::size_t rowCount);
    // Writes the rows' mappings to the file as a whole (a file there is replaced, a symbolic
    // link itself rather than the file it points to); needs at least one row.
    Expected<void, std::string> exportRows(const std::vector<std::size_t>& rows,
                                           const std::filesystem::path& file) const;
    // Reads an exported file and merges its mappings into the store by uuid; returns them.
    // Nothing is merged from a file that cannot be read.
    Expected<std::vector<SavedMapping>, std::string> importFile(const std::filesystem::path& file);

  private:
    // The uuids of the rows; a row past the end is an error.
    Expected<std::vector<std::string>, std::string> uuidsOf(
        const std::vector<std::size_t>& rows) const;

    MappingStore& store_;
};

}  // namespace pelkora
