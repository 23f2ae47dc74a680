#pragma once

// The import of rows: one new contact per data row, saved into the chosen container in
// chunks of 500 rows, on the steps every import shares (ContactImport.h). On the way it
// creates the groups the group column names, sets duplicates aside in the groups
// "OLD DUPLICATES" (contacts that were there before) and "NEW DUPLICATES" (the new contacts
// that repeat them), and appends a text to every note.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/ContactStore.h"
#include "import/ContactImport.h"
#include "import/ImportOperationDelegate.h"
#include "import/ImportSource.h"
#include "support/SharedNames.h"

namespace pelkora {

class Operation;

class TabularDataImportOperation {
  public:
    static constexpr std::size_t kChunkSize = ContactImport::kChunkSize;

    // With a journal, the import records what it saves there, for undoing it later.
    TabularDataImportOperation(std::shared_ptr<contacts::ContactStore> store, ImportSource source,
                               ImportOptions options, std::vector<std::string> textTokens,
                               std::weak_ptr<ImportOperationDelegate> delegate,
                               std::shared_ptr<const ImportJournal> journal = nullptr);

    // The body: runs the whole import on the calling (background) thread. Cancelling the
    // operation is honoured between rows and before each save. An exception that escapes the
    // import is logged and sent as importOperationDidFail (internalFailure, naming the file).
    void main(Operation& operation);

    // Valid after main returned.
    const ImportSummary& summary() const { return import_.summary(); }

    // The text appended to every note: the tokens joined with blanks, then FILE, DATE, TIME
    // and TRANSNUM replaced, in that order.
    static std::string notesText(const std::vector<std::string>& tokens,
                                 const std::filesystem::path& file,
                                 std::chrono::system_clock::time_point now) {
        return ContactImport::notesText(tokens, file, now, transactionNumber(now));
    }
    // The first 8 hex digits of the MD5 of the seconds since 1970 as decimal text.
    static std::string transactionNumber(std::chrono::system_clock::time_point now) {
        return ContactImport::transactionNumber(now);
    }

    // The localized names of the two duplicate groups.
    static std::string oldDuplicatesGroupName() { return ContactImport::oldDuplicatesGroupName(); }
    static std::string newDuplicatesGroupName() { return ContactImport::newDuplicatesGroupName(); }

  private:
    using StepResult = ContactImport::StepResult;

    // The body of main, without its guard against exceptions.
    void importRows(Operation& operation);
    // The names of the group column, split, in the order of first appearance.
    std::vector<std::string> groupNamesOfRows(std::span<const DataRow> rows) const;
    // One contact per row, with the notes text and its groups, into the chunk's request.
    StepResult assembleChunk(std::span<const DataRow> rows, ContactImport::Chunk& chunk,
                             const Operation& operation, ContactAssembler& assembler,
                             std::optional<std::int64_t> uidColumn,
                             const std::optional<std::string>& notes);
    void recordProblems(std::int64_t rowIndex, std::vector<AssemblyProblem>& problems);

    ContactImport import_;
    ImportSource source_;
    std::vector<std::string> textTokens_;
};

}  // namespace pelkora
