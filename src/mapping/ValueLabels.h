#pragma once

// Labels that come with the values rather than with the column's target.
//
// Exports such as Google's give every value column a sibling that names the value's kind row
// by row ("Phone 1 - Label" = "Mobile" beside "Phone 1 - Value"), write several values of one
// kind into one cell joined with " ::: ", and mark the program's own groups with "* "
// ("* myContacts"). Other files say where a value belongs in the column title, in any word
// order ("Telefon privat", "Ciudad donde vive", "Rue (bureau)").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mapping/MappedContactProperty.h"
#include "mapping/SuggestedContactProperty.h"

namespace pelkora {

// Separates the values of one cell in Google's exports.
inline constexpr std::string_view kMultipleValueSeparator = " ::: ";

// The values of a cell joined with kMultipleValueSeparator, each trimmed of white space; a
// cell without the separator is one value. The separator's blanks may be missing at the ends
// of the text (" ::: b" trimmed is "::: b"), but ":::" inside a word does not separate. Empty
// values are kept, so that a label cell's parts stay paired with the value cell's parts by
// position.
std::vector<std::string> splitMultipleValues(std::string_view text);

// The label a label cell's text gives a value of the target: the label constant when the text
// names one the target offers, in any vocabulary language and letter case ("Mobile",
// "* Work", "Home Fax", "Portable", "Geschäftlich"), the text itself as a custom label
// otherwise ("Google Voice", "Blog"). A leading "* " (Google's mark of the primary value) is
// not part of the label. None for a text that is empty once trimmed.
std::optional<std::string> labelFromLabelText(std::string_view text,
                                              const SuggestedContactProperty& target);

// The label constant (home or work) for the place a column title names, in any vocabulary
// language and word order ("Business Phone", "Telefon privat", "Città di residenza",
// "Rue (bureau)"); none for a title that names no place.
std::optional<std::string_view> placeLabelInTitle(std::string_view title);

// Whether a label cell names the column pairing: the title is "<prefix> - <word>" with a label
// word of any vocabulary language ("Label", "Type", "Etiqueta", "Typ", "Libellé" …).
// Returns the prefix ("Phone 1") or none.
std::optional<std::string> labelColumnPrefix(std::string_view title);

// Pairs label columns with their value columns: a column titled "<prefix> - <label word>"
// becomes the per-row label source of every column titled "<prefix> - …" whose target takes
// a label ("E-mail 1 - Value"; "Address 1 - Street", "Address 1 - City" …). A label column
// that labels at least one column is not imported itself (its target is cleared). Columns
// the user mapped by hand keep their label source.
void pairLabelColumns(std::vector<MappedContactProperty>& list);

// The label column's number as the user sees it ("3", or "C" in a workbook) when the entry
// takes its labels from another column of the list; none otherwise.
std::optional<std::string> labelColumnName(const MappedContactProperty& entry,
                                           const std::vector<MappedContactProperty>& list);

// What the label cell of a mapping row shows: "label from column N" for an entry labelled by
// another column, else the target's label text; empty for targets without labels.
std::string displayedLabel(const MappedContactProperty& entry,
                           const std::vector<MappedContactProperty>& list);

// Whether a group name is one of the exporting program's own system groups ("* myContacts",
// "* starred"), which are not groups of the user's.
bool isSystemGroupName(std::string_view name);

}  // namespace pelkora
