#pragma once

// What every import into the address book shares, whatever its records are (the rows of a
// table, scanned vCards): the settings it reads, the steps it takes around the contacts the
// operation makes, the events it sends and the summary it leaves. TabularDataImportOperation
// and VCardImportOperation each hold one ContactImport and run its steps in this order:
//   1. start: takes the chosen container from the settings and sends the started event;
//      then identify names the import for the journal (its time and files);
//   2. openContainer: finds the container and reads its groups;
//   3. removeGroups: deletes every group of the container, if the user asked for that;
//   4. createGroups: creates the groups the records name that do not exist yet;
//   5. readGroups: reads the groups again, for the new contacts to join;
//   6. prepareDuplicateGroups: finds or creates "OLD DUPLICATES" and "NEW DUPLICATES", as
//      the settings ask, and chooses how duplicates are found;
//   7. importChunks: for every chunk of records while the operation is not cancelled, the
//      operation makes the chunk's contacts and hands each to addContact; then the
//      chunk-submitted event, markOldDuplicates, markNewDuplicates and saveChunk;
//   8. finish: the warnings and the finished event.
// A failing step ends the import through fail; runGuarded turns an exception that escapes
// the steps into the failed event too. What earlier steps saved stays.
//
// Every chunk is one save request, applied by the store whole or not at all, so an import
// that is cancelled, fails or is killed leaves a whole number of chunks behind and never
// half a chunk. Saved chunks are not rolled back; with a journal, the groups the import makes
// and every chunk's contacts are recorded as the import goes (ImportJournal.h), so that
// `pelkora undo` can take them out again, also after a cancelled or killed import.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "addressbook/ContactStore.h"
#include "import/ImportJournal.h"
#include "import/ImportOperationDelegate.h"
#include "platform/OperationQueue.h"
#include "support/Expected.h"
#include "support/Logger.h"

namespace pelkora {

class DuplicateIndex;
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

// A value of one record that did not go in as it stood.
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

// What an import did, for a summary after it ended.
struct ImportSummary {
    std::uint64_t rowsToImport = 0;
    std::uint64_t emptyRowsSkipped = 0;
    std::uint64_t contactsProcessed = 0;  // made and handed to a chunk, saved or not
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
    // Why the journal could not record the import (then it cannot be undone in full); empty
    // when it could, or when there is no journal.
    std::string journalProblem;
    // Every value that was not taken as it stood, in record order.
    std::vector<ImportWarning> warnings;
};

// How an import tells a new contact that repeats one in the container.
enum class DuplicateMode {
    fullName,    // equal full names; contacts without one repeat none
    identifier,  // the source's identifier of the new contact is an existing one's identifier
};

class ContactImport {
  public:
    static constexpr std::size_t kChunkSize = 500;
    using StepResult = Expected<void, ImportOperationError>;

    // One chunk's save request, with what it holds.
    struct Chunk {
        contacts::SaveRequest request;
        std::uint64_t contacts = 0;
        std::uint64_t oldDuplicates = 0;
        std::uint64_t newDuplicates = 0;
    };

    // Without a journal nothing is recorded: a dry run imports into a throw-away copy of the
    // address book and has none.
    ContactImport(std::shared_ptr<contacts::ContactStore> store, ImportOptions options,
                  std::weak_ptr<ImportOperationDelegate> delegate,
                  std::shared_ptr<const ImportJournal> journal = nullptr);
    ~ContactImport();
    ContactImport(const ContactImport&) = delete;
    ContactImport& operator=(const ContactImport&) = delete;

    const ImportOptions& options() const { return options_; }
    contacts::ContactStore& store() { return *store_; }
    ImportSummary& summary() { return summary_; }
    const ImportSummary& summary() const { return summary_; }

    // Runs the import's body. An exception that escapes it ends the import: it is logged and
    // sent as importOperationDidFail (internalFailure) naming the file `source` gives then.
    void runGuarded(const std::function<void()>& body, const std::function<std::string()>& source);

    // Clears what an earlier run left. Without a chosen container returns false and sends
    // nothing; otherwise counts the records and sends the started event.
    [[nodiscard]] bool start(std::uint64_t recordsToImport);

    // What the journal's entry says of the import: when it started (the time its notes text
    // and transaction number give) and the files it reads. Called after start.
    void identify(std::chrono::system_clock::time_point startTime,
                  std::vector<std::filesystem::path> files);

    // The steps, in the order an import takes them; their definitions say what each does.
    [[nodiscard]] StepResult openContainer();
    [[nodiscard]] StepResult removeGroups();
    [[nodiscard]] StepResult createGroups(const std::vector<std::string>& names);
    [[nodiscard]] StepResult readGroups();
    [[nodiscard]] StepResult prepareDuplicateGroups(DuplicateMode mode);

    // For each chunk of the records, numbered from 1, until the operation is cancelled: logs
    // "Importing chunk #n of m...", has fill(records, chunk, operation) put the chunk's
    // contacts into the chunk through addContact, then submits the chunk. Stops at the
    // first step that fails.
    template <typename T, typename Fill>
    [[nodiscard]] StepResult importChunks(std::span<T> records, const Operation& operation,
                                          Fill&& fill);

    // The contact goes into the chunk's request with the notes text after its note (as its
    // note when that is empty), and joins the first group of each of its group names,
    // matched ignoring letter case; names without a group are passed over. The contact is
    // recorded for the duplicate passes with the source's identifier for it, and the
    // progress event reports the count.
    void addContact(Chunk& chunk, contacts::Contact contact,
                    const std::vector<std::string>& groupNames,
                    const std::optional<std::string>& notes,
                    std::string_view sourceIdentifier = {});

    // After the last chunk: when it was not cancelled, the warnings (if any) and the finished
    // event.
    void finish(const Operation& operation);

    // Ends the import with the failed event; a store error is logged first.
    void fail(const ImportOperationError& error);

    // Posts the event to the delegate on the main queue; dropped when the delegate is gone.
    void post(std::function<void(ImportOperationDelegate&)> event) const;
    void reportProgress(std::uint64_t processed);
    void flushProgress();
    void postProgress();

    // The text appended to every note: the tokens joined with blanks, then FILE (the file's
    // name, or "UNKNOWN FILE"), DATE, TIME and TRANSNUM replaced, in that order.
    static std::string notesText(const std::vector<std::string>& tokens,
                                 const std::filesystem::path& file,
                                 std::chrono::system_clock::time_point now,
                                 std::string_view transactionNumber);
    // The first 8 hex digits of the MD5 of the seconds since 1970 as decimal text.
    static std::string transactionNumber(std::chrono::system_clock::time_point now);
    // The localized names of the two duplicate groups.
    static std::string oldDuplicatesGroupName();
    static std::string newDuplicatesGroupName();

  private:
    // The chunk-submitted event, the duplicate passes and the save, each unless cancelled.
    [[nodiscard]] StepResult submitChunk(Chunk& chunk, const Operation& operation);
    [[nodiscard]] StepResult markOldDuplicates(Chunk& chunk);
    [[nodiscard]] StepResult markNewDuplicates(Chunk& chunk);
    // Records the chunk in the journal and starts its save on a thread of its own, so that
    // the next chunk is made while the store writes this one. Only one save is in flight.
    [[nodiscard]] StepResult saveChunk(Chunk& chunk);
    // Waits for the save in flight, if any: counts its chunk as saved, or forgets it in the
    // journal and returns the store's error.
    [[nodiscard]] StepResult awaitSave();
    // A journal that cannot be written does not stop the import; the problem is logged and
    // kept in the summary.
    void recordCreatedGroups(const std::vector<std::string>& groups);
    void noteJournalProblem(const FileError& error);

    std::shared_ptr<contacts::ContactStore> store_;
    ImportOptions options_;
    std::weak_ptr<ImportOperationDelegate> delegate_;
    // The progress events: the count of contacts processed so far, and whether an event that
    // will report it is waiting on the main queue. One event at a time is enough, as it reads
    // the newest count when it runs; shared with the events, which may outlive the import.
    struct ProgressReport {
        std::atomic<std::uint64_t> processed = 0;
        std::atomic<bool> pending = false;
    };
    std::shared_ptr<ProgressReport> progress_ = std::make_shared<ProgressReport>();
    static constexpr std::chrono::milliseconds kProgressInterval{20};
    std::chrono::steady_clock::time_point lastProgressPost_;
    bool progressUnreported_ = false;
    std::shared_ptr<const ImportJournal> journal_;
    ImportSummary summary_;

    // The journal's entry of this run: described by identify, made by openContainer.
    std::optional<ImportRecord> description_;
    std::optional<ImportJournal::Entry> journalEntry_;

    // The working state of one run.
    std::string containerID_;
    contacts::Container container_;
    // The container's groups as last read.
    std::vector<contacts::Group> groups_;
    // The groups new contacts join: the first group of each lower-cased name.
    std::unordered_map<std::string, std::string> groupIdentifiers_;
    std::optional<contacts::Group> oldDuplicates_;
    std::optional<contacts::Group> newDuplicates_;
    // None when neither kind of duplicate is looked for.
    std::unique_ptr<DuplicateIndex> duplicates_;
    // The chunk being saved while the next one is made.
    struct SaveInFlight {
        std::future<Expected<void, contacts::ContactStoreError>> done;
        std::uint64_t contacts = 0;
        bool recorded = false;
    };
    std::optional<SaveInFlight> saving_;
};

template <typename T, typename Fill>
auto ContactImport::importChunks(std::span<T> records, const Operation& operation, Fill&& fill)
    -> StepResult {
    const ChunkSeq<T> chunks(records, kChunkSize);
    summary_.chunks = chunks.size();
    int chunkNumber = 0;
    for (const std::span<T> recordsOfChunk : chunks) {
        if (operation.isCancelled()) break;
        ++chunkNumber;
        writeLog(LogType::info, "Importing chunk #%d of %d...", chunkNumber,
                 static_cast<int>(summary_.chunks));
        Chunk chunk;
        StepResult done = fill(recordsOfChunk, chunk, operation);
        if (done) done = submitChunk(chunk, operation);
        if (!done) {
            // The save in flight ends before the import does; the first failure is the one
            // reported.
            (void)awaitSave();
            return done;
        }
    }
    return awaitSave();
}

}  // namespace pelkora
