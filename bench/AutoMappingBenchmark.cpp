// How long auto-mapping takes for a wide header against the shipped vocabulary: 200 columns
// of titles as contact exports write them, matched in English.
//
// Benchmarks:
//   - AutoMap200Columns: one auto-mapping run (language detection, matching, the finishing
//     steps) with a matcher whose English index is already built, as on a second import;
//   - FirstAutoMap200Columns: the same with a new matcher, so the English titles are
//     lower-cased and split first, as on the first import after launch.

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

#include "mapping/AutoMapping.h"

namespace pelkora {
namespace {

constexpr std::array<const char*, 50> kTitles = {
    "Title",
    "First Name",
    "Middle Name",
    "Last Name",
    "Suffix",
    "Company",
    "Department",
    "Job Title",
    "Business Street",
    "Business City",
    "Business State",
    "Business Postal Code",
    "Business Country/Region",
    "Home Street",
    "Home City",
    "Home State",
    "Home Postal Code",
    "Home Country/Region",
    "Business Fax",
    "Business Phone",
    "Home Phone",
    "Mobile Phone",
    "Pager",
    "E-mail Address",
    "E-mail Display Name",
    "Birthday",
    "Anniversary",
    "Categories",
    "Notes",
    "Web Page",
    "Spouse",
    "Children",
    "Nickname",
    "Phone 1 - Value",
    "Phone 1 - Type",
    "Address 1 - Formatted",
    "Organization 1 - Name",
    "Website 1 - Value",
    "Primary Email",
    "Screen Name",
    "Work ZipCode",
    "Custom 1",
    "Lead Status",
    "Connected On",
    "Mailing Street",
    "Favourite Colour",
    "Customer Number",
    "Membership Since",
    "Emergency Contact Phone",
    "Shoe Size",
};

DataRow wideHeader() {
    DataRow header(1);
    for (std::size_t column = 0; column < 200; ++column) {
        std::string title = kTitles[column % kTitles.size()];
        if (column >= kTitles.size()) title += " " + std::to_string(column / kTitles.size() + 1);
        header.addText(static_cast<std::int64_t>(column), title);
    }
    return header;
}

void AutoMap200Columns(benchmark::State& state) {
    const DataRow header = wideHeader();
    const TitleMatcher matcher(vendorStringMap());
    autoMap(header, true, kColumnIndexStyleOneBased, matcher, {}, {});
    for (auto _ : state) {
        auto result = autoMap(header, true, kColumnIndexStyleOneBased, matcher, {}, {});
        benchmark::DoNotOptimize(result);
    }
    state.counters["columns/s"] = benchmark::Counter(
        200.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(AutoMap200Columns)->Unit(benchmark::kMillisecond);

void FirstAutoMap200Columns(benchmark::State& state) {
    const DataRow header = wideHeader();
    vendorStringMap();
    for (auto _ : state) {
        const TitleMatcher matcher(vendorStringMap());
        auto result = autoMap(header, true, kColumnIndexStyleOneBased, matcher, {}, {});
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(FirstAutoMap200Columns)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pelkora

BENCHMARK_MAIN();
