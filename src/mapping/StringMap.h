#pragma once

// The column-title vocabularies: the one shipped with the program ("ContactPropertyStrings")
// and the user's own assignments ("CustomStringMap.map"). Both are lists of
// SuggestedContactProperty entries whose localizedString is a column title, stored as keyed
// archives of the list.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mapping/SuggestedContactProperty.h"
#include "propertylist/KeyedArchive.h"
#include "support/Expected.h"

namespace pelkora {

using StringMap = std::vector<SuggestedContactProperty>;

// The entry as an archived object of class "SuggestedContactProperty".
ArchiveValue archivedEntry(const SuggestedContactProperty& entry);
// The entry an archived object describes, starting from a fresh entry and taking every field
// the archive holds with the right type.
SuggestedContactProperty entryFromArchive(const ArchivedObject& object);

// The list as keyed-archive bytes.
std::string archiveStringMap(const StringMap& entries);
// The list in keyed-archive bytes; an error names what is wrong. Class names with a module
// prefix ("Pelkora.SuggestedContactProperty") read as the plain name.
Expected<StringMap, std::string> unarchiveStringMap(std::string_view bytes);

// The vocabulary shipped with the program; empty (and logged) when it cannot be decoded.
// Defined with the compiled vocabulary (resources/), which the program links.
const StringMap& vendorStringMap();

// A language the vocabulary has titles in.
struct VocabularyLanguage {
    std::string code;  // lower-case ISO 639-1 ("de")
    std::string name;  // in the user's language ("German" for an English-speaking user)
    bool operator==(const VocabularyLanguage&) const = default;
};
// The languages of the vocabulary's entries that take part in matching (framework
// "Contacts", a two-letter code), each once, sorted by name as the user's locale sorts.
std::vector<VocabularyLanguage> vocabularyLanguages(const StringMap& vocabulary);
// The language as an item of such a list: its code with its name in the user's language.
VocabularyLanguage vocabularyLanguage(std::string_view code);

// Where the user's custom titles live: $XDG_DATA_HOME/pelkora/CustomStringMap.map.
std::filesystem::path customStringMapLocation();
// The user's custom titles; empty (and logged) when the file is absent or damaged.
StringMap loadCustomStringMap(const std::filesystem::path& file = customStringMapLocation());
// Writes the user's custom titles atomically; nothing is written when there are none.
// Returns false when writing failed (the failure is logged).
bool saveCustomStringMap(const StringMap& entries,
                         const std::filesystem::path& file = customStringMapLocation());

// Removes the learnt entries whose title is exactly `title`; false when there was none.
bool forgetCustomTitle(StringMap& entries, std::string_view title);
// Replaces the user's custom titles by the list, atomically: a reader sees the old list or
// the new one. Unlike saveCustomStringMap an empty list counts: with no title left the file
// goes away. The error says what could not be written or removed.
Expected<void, std::string> replaceCustomStringMap(
    const StringMap& entries, const std::filesystem::path& file = customStringMapLocation());

// The archive bytes of the shipped vocabulary, compiled into the program.
std::string_view vendorStringMapArchive();

}  // namespace pelkora
