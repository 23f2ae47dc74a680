#pragma once

// The journal of imports: what each import into the address book saved, so that it can be
// undone later (`pelkora undo`).
//
// One folder per import under the journal's folder (by default
// $XDG_DATA_HOME/pelkora/imports), named after the import's transaction number — the number
// the notes text's TRANSNUM gives — with "-2", "-3" … when two imports started in the same
// second. It holds XML property lists, each written atomically (temporary file, fsync,
// rename) and never appended to:
//   import.plist          Number, Date, Files, Store, Container, ContainerName,
//                         CreatedGroups and, once undone, Undone (the date);
//   contacts-0001.plist   Contacts: the identifiers of the first chunk's contacts, and one
//                         more file for every further chunk.
// A chunk's file is written before the chunk is saved and removed when the save fails, so
// that an import that is killed or crashes has every contact it saved recorded (and at most
// one chunk recorded that never reached the store). A file per chunk keeps the cost of
// recording a chunk the same whatever the import's size.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "support/Expected.h"

namespace pelkora {

// One import as the journal has it.
struct ImportRecord {
    std::string number;  // the transaction number of the notes text
    std::chrono::system_clock::time_point time;
    std::vector<std::filesystem::path> files;  // absolute paths of the imported files
    std::string store;                         // ContactStore::location()
    std::string container;                     // the container's identifier
    std::string containerName;
    std::vector<std::string> createdGroups;  // identifiers of the groups the import made
    std::vector<std::string> contacts;       // identifiers of the contacts it saved
    std::optional<std::chrono::system_clock::time_point> undone;
    // The entry's folder name; unique in the journal, unlike the number.
    std::string entryName;

    bool operator==(const ImportRecord&) const = default;
};

class ImportJournal {
  public:
    explicit ImportJournal(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // paths::applicationDataFolder()/imports.
    static std::filesystem::path defaultFolder();
    const std::filesystem::path& folder() const { return folder_; }

    // The entry of one running import. Nothing is written before the import makes its first
    // group or saves its first chunk, so an import that changes nothing leaves no entry.
    class Entry {
      public:
        Entry(const ImportJournal& journal, ImportRecord record);

        // Adds the groups the import made to the entry.
        Expected<void, FileError> recordCreatedGroups(const std::vector<std::string>& groups);
        // Records the identifiers of a chunk about to be saved, in a file of its own.
        Expected<void, FileError> recordChunk(const std::vector<std::string>& contacts);
        // Takes back the last chunk recorded, whose save failed.
        void forgetLastChunk();

        const ImportRecord& record() const { return record_; }

      private:
        Expected<void, FileError> writeHeader();
        std::filesystem::path chunkFile(std::size_t number) const;

        std::filesystem::path journalFolder_;
        std::filesystem::path folder_;  // empty until the entry is first written
        ImportRecord record_;
        std::vector<std::size_t> chunkSizes_;  // of the chunks recorded, in order
    };

    // Every entry, the newest first (by date, then by entry name). An entry whose files
    // cannot be read is left out and logged; a missing journal folder has no entries.
    std::vector<ImportRecord> entries() const;
    // Marks the entry undone at that moment.
    Expected<void, FileError> markUndone(const ImportRecord& record,
                                         std::chrono::system_clock::time_point when) const;

  private:
    std::filesystem::path folder_;
};

}  // namespace pelkora
