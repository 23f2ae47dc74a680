// Speed of the tabular import: the 100,000 generated rows (bench/GeneratedContacts.h)
// assembled into contacts and saved in chunks into an SQLite address book in the temporary
// folder, with duplicate detection on, the groups the data names and no notes text.
//
// Benchmarks:
//   - BM_ImportIntoEmptyStore: the rows into a new, empty address book;
//   - BM_ImportIntoFilledStore: the same rows again into the address book the first import
//     filled (that first import is not timed), so every contact is a duplicate of an existing
//     one and the duplicate look-ups search 100,000 contacts.
//
// Counters: rows_per_second, contactsSaved and newDuplicates (from the import's summary).
// bench/import-bench.sh prints both rates and their ratio.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "GeneratedContacts.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/TabularDataImportOperation.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"

namespace {

using namespace pelkora;
using namespace pelkora::contacts;

constexpr std::size_t kRows = bench::kGeneratedRows;

const ImportSource& sharedSource() {
    static const ImportSource source = bench::generatedSource();
    return source;
}

// A folder of its own in the temporary folder, removed with everything in it at the end.
class TemporaryFolder {
  public:
    TemporaryFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("pelkora-bench-import-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

ImportOptions benchmarkOptions(ContactStore& store) {
    ImportOptions options;
    options.selectedContainerID = store.defaultContainerIdentifier();
    options.detectDuplicates = true;
    options.detectNewDuplicates = true;
    options.addTextToNotes = false;
    options.removeGroups = false;
    return options;
}

// One whole import on this thread, its events delivered before it returns.
ImportSummary importRows(const std::shared_ptr<ContactStore>& store) {
    TabularDataImportOperation import(store, sharedSource(), benchmarkOptions(*store), {}, {});
    Operation operation([](Operation&) {});
    import.main(operation);
    MainQueue::shared().drain();
    return import.summary();
}

void runImport(benchmark::State& state, bool intoFilledStore) {
    MainQueue::shared().adoptCurrentThreadAsMain();
    sharedSource();  // the rows are generated before the first timing
    ImportSummary summary;
    for (auto _ : state) {
        state.PauseTiming();
        TemporaryFolder folder;
        std::shared_ptr<ContactStore> store;
        if (auto opened = SqliteContactStore::open(folder.path() / "contacts.sqlite")) {
            store = std::move(*opened);
        } else {
            state.SkipWithError("cannot open the address book");
            break;
        }
        if (intoFilledStore && importRows(store).failed) {
            state.SkipWithError("the first import failed");
            break;
        }
        state.ResumeTiming();

        summary = importRows(store);

        state.PauseTiming();
        store.reset();  // closed before its folder goes
        state.ResumeTiming();
    }
    if (summary.failed || summary.contactsSaved != kRows) {
        state.SkipWithError("not every contact saved");
        return;
    }
    state.counters["rows_per_second"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["contactsSaved"] = static_cast<double>(summary.contactsSaved);
    state.counters["newDuplicates"] = static_cast<double>(summary.newDuplicates);
}

void BM_ImportIntoEmptyStore(benchmark::State& state) {
    runImport(state, false);
}
BENCHMARK(BM_ImportIntoEmptyStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ImportIntoFilledStore(benchmark::State& state) {
    runImport(state, true);
}
BENCHMARK(BM_ImportIntoFilledStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
