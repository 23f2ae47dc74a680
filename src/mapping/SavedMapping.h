#pragma once

// Saved mappings: the column-to-target assignment of one file, stored under a title and
// applied again to later files by column title or by column position. They are kept as a
// keyed archive in $XDG_DATA_HOME/pelkora/SavedMappings, and exchanged between users and
// machines as ".zubmapping" files (the same archive, its root an array of mappings).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mapping/MappedContactProperty.h"
#include "propertylist/KeyedArchive.h"
#include "propertylist/PropertyList.h"
#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora {

enum class MappingMode : std::int64_t { byName = 0, byPosition = 1 };

// The class name of the archived record ("Pelkora.SavedMapping" reads as it too).
inline constexpr std::string_view kSavedMappingClassName = "SavedMapping";
// The export file's extension, without the dot.
inline constexpr std::string_view kMappingFileExtension = "zubmapping";

class SavedMapping {
  public:
    // A mapping with the initial values: the localized "Untitled Mapping", by name, a new
    // random UUID, created and updated now, this program's version.
    SavedMapping();

    std::string title;
    MappingMode mappingMode = MappingMode::byName;
    // The fingerprint of the column titles it was made from (columnTitlesHash below); stored
    // and carried along, never consulted when applying.
    std::int64_t columnTitlesHash = 0;
    // One entry per column, in column order; only titles and targets are kept.
    std::vector<MappedContactProperty> mappedContactProperties;
    std::string uuid;
    std::chrono::system_clock::time_point createdOn;
    std::chrono::system_clock::time_point updatedOn;
    std::int64_t usageCount = 0;
    // The program version that last wrote it, and the one that created it ("1" when unknown).
    std::string bundleVersion;
    std::string originalBundleVersion;

    bool operator==(const SavedMapping&) const = default;
};

// The localized "Untitled Mapping".
std::string untitledMappingTitle();

// The fingerprint of a list's column titles: the titles lower-cased, sorted, concatenated
// without separator, hashed with 64-bit FNV-1a; 0 for an empty list.
std::int64_t columnTitlesHash(const std::vector<MappedContactProperty>& list);
// The fingerprint for a set of vCard files: the hash of the first file's folder as text.
std::int64_t columnTitlesHash(const std::filesystem::path& firstVCardFolder);

// After decoding: the first entry targeting the note stays; every later one is turned into an
// entry appended to the note ("CustomPropertyKey.AdditionalNote", no sub-key, no label).
void migrateNoteEntries(std::vector<MappedContactProperty>& list);

// The mapping as an archived object, and back. Decoding starts from the initial values and
// takes every field the archive holds with the right type; entries of a class that is not a
// mapped property (module-qualified names read as the plain ones) fail it, with the class
// named in the error.
ArchiveValue archivedSavedMapping(const SavedMapping& mapping);
Expected<SavedMapping, std::string> savedMappingFromArchive(const ArchivedObject& object);

// Why bytes are not a list of saved mappings.
enum class MappingArchiveErrorKind {
    corruptData,  // not a keyed archive whose root is an array of saved mappings
};
using MappingArchiveError = Error<MappingArchiveErrorKind>;

// The mappings as keyed-archive bytes (binary property list), the root an array: the export
// file's content and the local file's.
std::string archiveSavedMappings(const std::vector<SavedMapping>& mappings);
// The mappings in such bytes, or corruptData naming what is wrong.
Expected<std::vector<SavedMapping>, MappingArchiveError> unarchiveSavedMappings(
    std::string_view bytes);

// The mapping as the fields of a shared record: the same keys as the archive, the columns as
// the keyed-archive bytes of their list. Reading starts from the initial values, keeps this
// program's version as bundleVersion, and migrates the note entries; columns that are not an
// archive of mapped properties are corruptData.
PropertyValue::Dictionary savedMappingRecordFields(const SavedMapping& mapping);
Expected<SavedMapping, MappingArchiveError> savedMappingFromRecordFields(
    const PropertyValue::Dictionary& fields);

// The suggested export file name: "2 Mappings.zubmapping".
std::string exportFileName(std::size_t mappingCount);

// Applies a saved mapping to the session's list: by name, each entry takes a copy of the
// target of the first saved entry whose title equals its own ignoring case; by position, the
// entry at i takes the saved target at i, and entries past the saved list are left unmapped.
// Taken targets are marked isCustomMapping. Without extended relations shown, an extended
// relation label becomes "other". Counts the use (usageCount, updatedOn unchanged). Returns
// how many entries took a saved target. The caller stores the mapping again to keep the count.
std::size_t applySavedMapping(SavedMapping& mapping, std::vector<MappedContactProperty>& list,
                              bool showExtendedRelations);

// The user's saved mappings in one file, ordered by title ignoring case. Every change
// re-reads the file under a lock (a ".lock" file beside it, flock), applies itself to what is
// there now, merged by uuid, and writes atomically; so two programs saving at once lose
// neither's mapping. A file that cannot be read is set aside (renamed with a time stamp, as
// "SavedMappings.damaged-20261207T190000"), logged, and the list starts empty.
class SavedMappingStore {
  public:
    // $XDG_DATA_HOME/pelkora/SavedMappings.
    static std::filesystem::path defaultLocation();
    explicit SavedMappingStore(std::filesystem::path file = defaultLocation());

    // Reads the file again (an absent file is an empty list).
    void reload();
    const std::vector<SavedMapping>& mappings() const { return mappings_; }
    // By title ignoring case, or by uuid.
    const SavedMapping* findByTitle(std::string_view title) const;
    const SavedMapping* findByUuid(std::string_view uuid) const;
    // The title itself when no mapping has it, else with " 2", " 3", … appended.
    std::string availableTitle(std::string_view proposed) const;

    // Adds the mapping, or replaces the one of the same uuid.
    Expected<void, std::string> save(const SavedMapping& mapping);
    // Sets the title (and updatedOn) of the mapping with that uuid.
    Expected<void, std::string> rename(std::string_view uuid, std::string title);
    Expected<void, std::string> remove(const std::vector<std::string>& uuids);
    // Imported mappings: one with a known uuid gives that mapping its title, mode, fingerprint
    // and list; the others are added.
    Expected<void, std::string> merge(const std::vector<SavedMapping>& imported);
    // The file holds these mappings and no others (the shared list, when sharing stops).
    Expected<void, std::string> replaceAll(std::vector<SavedMapping> mappings);

    const std::filesystem::path& file() const { return file_; }

  private:
    std::filesystem::path file_;
    std::vector<SavedMapping> mappings_;
};

}  // namespace pelkora
