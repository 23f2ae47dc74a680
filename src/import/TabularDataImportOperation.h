#pragma once

// The import: one new contact per data row, saved into the chosen container in chunks of
// 500 rows. On the way it creates the groups the data names, sets duplicates aside in the
// groups "OLD DUPLICATES" (contacts that were there before) and "NEW DUPLICATES" (the new
// contacts that repeat them), and appends a text to every note.
//
// Every chunk is one save request, applied by the store whole or not at all, so an import
// that is cancelled, fails or is killed leaves a whole number of chunks behind and never
// half a chunk. Saved chunks are not rolled back.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/ContactStore.h"
#include "import/ImportOperationDelegate.h"
#include "import/ImportSource.h"
#include "support/Expected.h"
#include "support/SharedNames.h"

namespace pelkora {

class Operation;
class SettingsStore;

// Consecutive pieces of up to n elements of a sequence, the last one possibly shorter.
template <typename T>
class ChunkSeq {
  public:
    class ChunkIterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::span<T>;
        using difference_type = std::ptrdiff_t;

        ChunkIterator() = default;
        ChunkIterator(std::span<T> rest, std::size_t n) : i(rest), n(n) {}
        std::span<T> operator*() const { return i.first(std::min(n, i.size())); }
        ChunkIterator& operator++() {
            i = i.subspan(std::min(n, i.size()));
            return *this;
        }
        ChunkIterator operator++(int) {
            ChunkIterator previous = *this;
            ++*this;
            return previous;
        }
        bool operator==(const ChunkIterator& other) const { return i.size() == other.i.size(); }

      private:
        std::span<T> i;  // what is left of the underlying sequence
        std::size_t n = 1;
    };

    // A chunk size of 0 is taken as 1, so that the sequence always ends.
    ChunkSeq(std::span<T> seq, std::size_t n) : seq(seq), n(n == 0 ? 1 : n) {}
    ChunkIterator begin() const { return ChunkIterator(seq, n); }
    ChunkIterator end() const { return ChunkIterator(seq.last(0), n); }
    std::size_t size() const { return (seq.size() + n - 1) / n; }

  private:
    std::span<T> seq;
    std::size_t n;
};

// The settings the import reads when it starts.
struct ImportOptions {
    std::optional<std::string> selectedContainerID;  // SelectedContainerID
    bool detectDuplicates = true;                    // DetectDuplicates
    bool detectNewDuplicates = true;                 // DetectNewDuplicates
    bool addTextToNotes = true;                      // AddTextToNotes
    bool removeGroups = false;                       // RemoveGroups
};
ImportOptions importOptions(const SettingsStore& settings);

// What an import did, for a summary after it ended.
// A value of one row that did not go in as it stood.
// For a vCard, row is the card's number in its file (from 1), column the property ("UID")
// or empty, and file the file's name.
struct ImportWarning {
    std::int64_t row = 0;  // the row's record number in the file, the title row being 1
    std::string column;
    std::string value;
    std::string problem;
    std::string file;  // vCards only: the name of the card's file
    bool operator==(const ImportWarning&) const = default;
};

// The problems of a vCard import, as ImportWarning::problem.
inline constexpr std::string_view kProblemUnreadableCard = "not readable as a vCard";
inline constexpr std::string_view kProblemIdentifierInUse = "identifier already in use";

// One line per kind of problem for a summary ("3 values were not dates and went into the
// note"), in the order the kinds first appear.
std::vector<std::string> warningCountLines(const std::vector<ImportWarning>& warnings);

struct ImportSummary {
    std::uint64_t rowsToImport = 0;
    std::uint64_t emptyRowsSkipped = 0;
    std::uint64_t contactsProcessed = 0;  // assembled, saved or not
    std::uint64_t contactsSaved = 0;      // in executed chunks
    std::uint64_t chunks = 0;
    std::uint64_t chunksSaved = 0;
    std::uint64_t groupsRemoved = 0;
    std::uint64_t groupsCreated = 0;  // from the data
    std::uint64_t oldDuplicates = 0;  // distinct existing contacts put in "OLD DUPLICATES"
    std::uint64_t newDuplicates = 0;  // new contacts put in "NEW DUPLICATES"
    // vCard imports: cards skipped because they could not be read, cards that got a new
    // identifier because theirs was taken, and cards written by other programs.
    std::uint64_t unreadableCards = 0;
    std::uint64_t identifiersReplaced = 0;
    std::uint64_t cardsFromOtherPrograms = 0;
    bool cancelled = false;
    bool failed = false;
    // Every value that was not taken as it stood, in row order.
    std::vector<ImportWarning> warnings;
};

class TabularDataImportOperation {
  public:
    static constexpr std::size_t kChunkSize = 500;

    TabularDataImportOperation(std::shared_ptr<contacts::ContactStore> store, ImportSource source,
                               ImportOptions options, std::vector<std::string> textTokens,
                               std::weak_ptr<ImportOperationDelegate> delegate);

    // The body: runs the whole import on the calling (background) thread. Cancelling the
    // operation is honoured between rows and before each save. An exception that escapes the
    // import is logged and sent as importOperationDidFail (internalFailure, naming the file).
    void main(Operation& operation);

    // Valid after main returned.
    const ImportSummary& summary() const { return summary_; }

    // The text appended to every note: the tokens joined with blanks, then FILE, DATE, TIME
    // and TRANSNUM replaced, in that order.
    static std::string notesText(const std::vector<std::string>& tokens,
                                 const std::filesystem::path& file,
                                 std::chrono::system_clock::time_point now);
    // The first 8 hex digits of the MD5 of the seconds since 1970 as decimal text.
    static std::string transactionNumber(std::chrono::system_clock::time_point now);

    // The localized names of the two duplicate groups.
    static std::string oldDuplicatesGroupName();
    static std::string newDuplicatesGroupName();

  private:
    // The working state of one run of main.
    struct Run;
    // One chunk's save request, with what it holds.
    struct ChunkRequest;
    using StepResult = Expected<void, ImportOperationError>;

    // The body of main, without its guard against exceptions.
    void importRows(Operation& operation);
    // The steps of importRows, in the order it takes them; its definition says what each does.
    [[nodiscard]] StepResult openContainer(Run& run);
    [[nodiscard]] StepResult removeGroups(Run& run);
    [[nodiscard]] StepResult createDataGroups(const Run& run, std::span<const DataRow> rows);
    [[nodiscard]] StepResult readGroups(Run& run);
    [[nodiscard]] StepResult prepareDuplicateGroups(Run& run);
    ChunkRequest assembleChunk(Run& run, std::span<const DataRow> chunk,
                               ContactAssembler& assembler, std::optional<std::int64_t> uidColumn,
                               const Operation& operation);
    void recordProblems(std::int64_t rowIndex, std::vector<AssemblyProblem>& problems);
    void addContact(Run& run, ChunkRequest& chunk, AssembledContact assembled,
                    std::string_view sourceIdentifier);
    [[nodiscard]] StepResult markOldDuplicates(Run& run, ChunkRequest& chunk);
    [[nodiscard]] StepResult markNewDuplicates(Run& run, ChunkRequest& chunk);
    [[nodiscard]] StepResult saveChunk(Run& run, const ChunkRequest& chunk);

    // Ends the import with the failed event; a store error is logged first.
    void fail(const ImportOperationError& error);
    template <typename Event>
    void post(Event event) const;

    std::shared_ptr<contacts::ContactStore> store_;
    ImportSource source_;
    ImportOptions options_;
    std::vector<std::string> textTokens_;
    std::weak_ptr<ImportOperationDelegate> delegate_;
    ImportSummary summary_;
};

}  // namespace pelkora
