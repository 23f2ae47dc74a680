#pragma once

// One column of the file being imported and the target it is assigned to: the record that
// the mapping page lists and that contact assembly reads for every row.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mapping/SuggestedContactProperty.h"
#include "propertylist/KeyedArchive.h"

namespace pelkora {

// A warning about the value previewed in a column.
enum class MappingHint {
    // The column goes to a date, and the previewed value could not be read as a date.
    inconvertibleDateString,
};

// What the status icon of a row shows, in the order the conditions are checked.
enum class MappingStatus {
    needsAttention,  // a previewed value with a hint
    append,          // appended to the note
    appendCustom,    // appended to the note, from the user's titles or a saved mapping
    assigned,        // imported into its target
    assignedCustom,  // imported, from the user's titles or a saved mapping
    ignored,         // not imported
    ignoredCustom,   // not imported, from the user's titles or a saved mapping
};

// The image name of the status icon ("mapping-status-assigned" …).
std::string_view imageName(MappingStatus status);

class MappedContactProperty {
  public:
    // Zero-based column number in the rows; -1 until set.
    std::int64_t columnIndex = -1;
    // The column as shown: "1", "2" … for text files, "A", "B" … for workbooks.
    std::optional<std::string> formattedColumnIndex;
    // The target; a fresh entry maps nowhere.
    SuggestedContactProperty contactProperty;
    // The zero-based column whose cell in the same row labels this column's values ("Phone 1 -
    // Label" beside "Phone 1 - Value"); the target's label serves rows whose label cell is
    // empty. Not archived: it pairs columns of one file.
    std::optional<std::int64_t> labelColumnIndex;
    // The column title; empty when the file has no header row.
    std::string sourceFieldName;
    // The column's value in the previewed record, as display text.
    std::string sourceFieldContent;
    // The column's picture in the previewed record (workbook cells with anchored images).
    std::optional<std::vector<std::uint8_t>> sourceFieldImageData;
    std::set<MappingHint> mappingHints;
    // The user picked the target or label by hand in this session.
    bool mappedManuallyByUser = false;
    // The target came from the user's custom titles or from a saved mapping.
    bool isCustomMapping = false;

    bool operator==(const MappedContactProperty&) const = default;

    // The row's status, derived from content, hints, target and origin.
    MappingStatus mappingStatus() const;
    // The image name of the row's status icon.
    std::string_view statusImageName() const { return imageName(mappingStatus()); }
    // Whether the row's text is drawn in the dimmed colour: when the column is not imported.
    bool isDimmed() const { return !contactProperty.isValid(); }
};

// Columns of one list that give a single-valued target between them (see
// SuggestedContactProperty::isSingleValued), for the mapping page to point out before the
// import: contact assembly keeps the first non-empty value of such columns and puts the
// others into the note.
struct SharedTargetWarning {
    enum class Kind {
        // Several columns go to one single-valued target.
        sharedTarget,
        // A full-name column beside given-, middle- or family-name columns: it gives only
        // the parts they leave empty, and goes into the note where it disagrees with them.
        fullNameBesideNameParts,
    };
    Kind kind = Kind::sharedTarget;
    // Positions in the list, in column order; the full-name column first.
    std::vector<std::size_t> entries;
    // For the user: "columns 2 “Name” and 3 “Given Name” both go to Given Name; the first
    // non-empty value is kept, the other goes into the note".
    std::string message;
    bool operator==(const SharedTargetWarning&) const = default;
};

// The warnings for the list, ordered by their first column. Only imported targets count,
// and of several entries for one column only the first, as in contact assembly.
std::vector<SharedTargetWarning> sharedTargetWarnings(
    const std::vector<MappedContactProperty>& list);

// The class name of the archived record.
inline constexpr std::string_view kMappedContactPropertyClassName = "MappedContactProperty";

// The record as an archived object: only its title and its target are kept, since the rest
// describes one file and one preview.
ArchiveValue archivedMappedProperty(const MappedContactProperty& property);
// The record an archived object describes: title and target from the archive when present
// with the right type, every other field at its initial value.
MappedContactProperty mappedPropertyFromArchive(const ArchivedObject& object);

}  // namespace pelkora
