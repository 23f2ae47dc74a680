// Speed of the group vCard export: 100,000 rows of the generated contact file (20 columns:
// names, company, two e-mail addresses, two phone numbers, a postal address, two dates,
// groups, notes with line breaks, nickname, department, web page, customer ID) assembled into
// contacts and written as one vCard file in the temporary folder.
//
// Benchmarks:
//   - BM_GroupVCardExport: the export with no delegate (no events are posted);
//   - BM_GroupVCardExportWithDelegate: the same with a delegate, so every contact posts its
//     progress event to the main queue, which is drained inside the timed part;
//   - BM_AssemblyOnly: the same rows only assembled into contacts, the part of the export that
//     is not vCard writing, for comparison;
//   - BM_AssemblyAndSerialization: assembled and serialized, without the export's own lines and
//     without writing a file.
//
// Counters: contacts_per_second and fileBytes (the size of the written file).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "GeneratedContacts.h"
#include "addressbook/ContactKeys.h"
#include "import/VCardExport.h"
#include "platform/MainQueue.h"

namespace {

using namespace pelkora;
using namespace pelkora::contacts;

constexpr std::size_t kRows = bench::kGeneratedRows;

const ImportSource& sharedSource() {
    static const ImportSource source = bench::generatedSource();
    return source;
}

class CountingDelegate : public ImportOperationDelegate {
  public:
    void importOperationDidProcess(std::uint64_t processed) override { last = processed; }
    std::uint64_t last = 0;
};

void runGroupExport(benchmark::State& state, bool withDelegate) {
    MainQueue::shared().adoptCurrentThreadAsMain();
    const ImportSource& source = sharedSource();
    const auto destination =
        std::filesystem::temp_directory_path() / "pelkora-bench-vcard-export.vcf";
    auto delegate = std::make_shared<CountingDelegate>();
    Operation operation([](Operation&) {});
    for (auto _ : state) {
        GroupVCardExportOperation exporter(withDelegate
                                               ? std::weak_ptr<ImportOperationDelegate>(delegate)
                                               : std::weak_ptr<ImportOperationDelegate>(),
                                           source, destination);
        exporter.run(operation);
        MainQueue::shared().drain();
    }
    if (withDelegate && delegate->last != kRows) state.SkipWithError("not every contact written");
    state.counters["contacts_per_second"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
    std::error_code error;
    state.counters["fileBytes"] =
        static_cast<double>(std::filesystem::file_size(destination, error));
    std::filesystem::remove(destination, error);
}

void BM_GroupVCardExport(benchmark::State& state) {
    runGroupExport(state, false);
}
BENCHMARK(BM_GroupVCardExport)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_GroupVCardExportWithDelegate(benchmark::State& state) {
    runGroupExport(state, true);
}
BENCHMARK(BM_GroupVCardExportWithDelegate)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

void BM_AssemblyOnly(benchmark::State& state) {
    const ImportSource& source = sharedSource();
    for (auto _ : state) {
        for (const DataRow& row : rowsToImport(*source.reader)) {
            AssembledContact assembled = assembleContact(
                row, source.mappedProperties, source.dateFormats, source.assemblyOptions);
            benchmark::DoNotOptimize(assembled);
        }
    }
    state.counters["contacts_per_second"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AssemblyOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// As the import and the exports assemble: one assembler for all rows.
void BM_AssemblerForAllRows(benchmark::State& state) {
    const ImportSource& source = sharedSource();
    for (auto _ : state) {
        ContactAssembler assembler(source.mappedProperties, source.dateFormats,
                                   source.assemblyOptions);
        for (const DataRow& row : rowsToImport(*source.reader)) {
            AssembledContact assembled = assembler.assemble(row);
            benchmark::DoNotOptimize(assembled);
        }
    }
    state.counters["contacts_per_second"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AssemblerForAllRows)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_AssemblyAndSerialization(benchmark::State& state) {
    const ImportSource& source = sharedSource();
    std::vector<Contact> one(1);
    for (auto _ : state) {
        for (const DataRow& row : rowsToImport(*source.reader)) {
            one.front() = assembleContact(row, source.mappedProperties, source.dateFormats,
                                          source.assemblyOptions)
                              .contact;
            auto vcard = vCardRepresentation(one.front(), {});
            benchmark::DoNotOptimize(vcard);
        }
    }
    state.counters["contacts_per_second"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AssemblyAndSerialization)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
