#pragma once

// The window of recorded imports: every import the journal holds, newest first, and undoing
// one of them — its contacts taken out of the address book it went into, and the groups it
// made once they are empty. In two steps, so that the window can ask first: prepareUndo reads
// the address book and says what would go; undoPrepared removes it.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "import/ImportJournal.h"
#include "import/ImportUndo.h"
#include "support/Expected.h"

namespace pelkora {

class ImportSession;

struct RecordedImportRow {
    std::string number;
    std::string time;         // the user's short date and time
    std::string files;        // "people.csv", "a.vcf and 2 more files"
    std::string destination;  // the container, then the address book
    std::uint64_t contacts = 0;
    std::string state;  // "Can be undone", "Undone on …"
    bool undoable = false;
};

// What the window asks before undoing.
struct UndoQuestion {
    std::string heading;
    std::string text;
    bool nothingToRemove = false;  // then the window only tells, and undoPrepared notes it
};

class ImportsWindowModel {
  public:
    // The journal the session's imports write to (the default folder when it has none).
    explicit ImportsWindowModel(ImportSession& session);
    ImportsWindowModel(ImportSession& session, std::filesystem::path journalFolder);

    // Reads the journal again.
    void reload();
    const std::vector<RecordedImportRow>& rows() const { return rows_; }
    static std::string emptyText();

    // Opens the import's address book and plans the undo; the error says why it cannot be
    // undone (undone already, the book gone or unreachable).
    Expected<UndoQuestion, std::string> prepareUndo(std::size_t row);
    // Removes what prepareUndo planned, notes it in the journal and reloads; the outcome's
    // text, or why nothing was removed.
    Expected<std::string, std::string> undoPrepared();
    void cancelUndo() { prepared_.reset(); }

  private:
    struct Prepared {
        ImportRecord record;
        std::shared_ptr<contacts::ContactStore> store;
        ImportUndoPlan plan;
    };

    ImportSession& session_;
    ImportJournal journal_;
    std::vector<ImportRecord> records_;
    std::vector<RecordedImportRow> rows_;
    std::optional<Prepared> prepared_;
};

}  // namespace pelkora
