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

#include "ContactCsv.h"
#include "contacts/VCardExport.h"
#include "platform/MainQueue.h"
#include "platform/contacts/ContactKeys.h"

namespace {

using namespace pelkora;
using namespace pelkora::contacts;

constexpr std::size_t kRows = 100'000;

// A CSV field's value: outer quotes removed and doubled quotes undone.
std::string fieldValue(std::string_view field) {
    if (field.size() < 2 || field.front() != '"') return std::string(field);
    std::string value;
    field = field.substr(1, field.size() - 2);
    for (std::size_t i = 0; i < field.size(); ++i) {
        value += field[i];
        if (field[i] == '"' && i + 1 < field.size() && field[i + 1] == '"') ++i;
    }
    return value;
}

// The rows of bench/ContactCsv.h, built as a reader would, with a header row.
class GeneratedContactsReader : public TabularDataReader {
  public:
    GeneratedContactsReader() : TabularDataReader("contacts.csv") {
        bench::Random random;
        DataRow header(1);
        for (std::int64_t column = 0; column < 20; ++column) {
            header.addText(column, "Column " + std::to_string(column));
        }
        appendDataRow(std::move(header));
        setHeaderRowIndex(0);
        reserveDataRows(kRows + 1);
        for (std::uint32_t record = 1; record <= kRows; ++record) {
            const std::string id = std::to_string(record);
            const std::string number = std::to_string(1'000'000 + random.next() % 9'000'000);
            const std::string day = std::to_string(10 + record % 18);
            const std::string month = std::to_string(10 + record % 3);
            const std::string year = std::to_string(1940 + record % 65);
            const std::string_view first = random.pick(bench::kFirstNames);
            const std::string_view last = random.pick(bench::kLastNames);
            const std::string company = fieldValue(random.pick(bench::kCompanies));
            const std::string_view city = random.pick(bench::kCities);
            const std::size_t comma1 = city.find(',');
            const std::size_t comma2 = city.find(',', comma1 + 1);
            const std::string groups = fieldValue(random.pick(bench::kGroups));
            const std::string notes = fieldValue(random.pick(bench::kNotes));
            const std::vector<std::string> texts = {
                std::string(first),
                std::string(last),
                company,
                "Sales Manager",
                "contact" + id + "@example.com",
                "",
                "+49 30 " + number,
                "+1 (555) " + number,
                "Hauptstraße " + std::to_string(record % 250) + ", Hof 2",
                std::string(city.substr(0, comma1)),
                std::string(city.substr(comma1 + 1, comma2 - comma1 - 1)),
                std::string(city.substr(comma2 + 1)),
                year + "-" + month + "-" + day,
                day + "." + month + "." + year,
                groups,
                notes,
                std::string(first),
                "Vertrieb",
                "https://example.com/people/" + id,
                "C-" + id};
            DataRow row(record + 1);
            for (std::size_t column = 0; column < texts.size(); ++column) {
                row.addText(static_cast<std::int64_t>(column), texts[column]);
            }
            appendDataRow(std::move(row));
        }
    }
};

MappedContactProperty column(std::int64_t index, std::string_view key,
                             std::optional<std::string_view> subKey = std::nullopt,
                             std::optional<std::string_view> label = std::nullopt,
                             std::string title = {}) {
    MappedContactProperty property;
    property.columnIndex = index;
    property.contactProperty = SuggestedContactProperty::target(key, subKey);
    property.contactProperty.systemLabel.reset();
    property.contactProperty.customLabel.reset();
    if (label) property.contactProperty.setLabel(*label);
    property.sourceFieldName = std::move(title);
    return property;
}

ImportSource generatedSource() {
    ImportSource source;
    source.reader = std::make_shared<GeneratedContactsReader>();
    source.mappedProperties = {
        column(0, CNContactGivenNameKey),
        column(1, CNContactFamilyNameKey),
        column(2, CNContactOrganizationNameKey),
        column(3, CNContactJobTitleKey),
        column(4, CNContactEmailAddressesKey, std::nullopt, CNLabelWork),
        column(5, CNContactEmailAddressesKey, std::nullopt, CNLabelHome),
        column(6, CNContactPhoneNumbersKey, std::nullopt, CNLabelWork),
        column(7, CNContactPhoneNumbersKey, std::nullopt, CNLabelPhoneNumberMobile),
        column(8, CNContactPostalAddressesKey, CNPostalAddressStreetKey, CNLabelWork),
        column(9, CNContactPostalAddressesKey, CNPostalAddressPostalCodeKey, CNLabelWork),
        column(10, CNContactPostalAddressesKey, CNPostalAddressCityKey, CNLabelWork),
        column(11, CNContactPostalAddressesKey, CNPostalAddressCountryKey, CNLabelWork),
        column(12, CNContactBirthdayKey),
        column(13, CNContactDatesKey, std::nullopt, CNLabelDateAnniversary),
        column(14, CustomPropertyKeys::Group),
        column(15, CNContactNoteKey),
        column(16, CNContactNicknameKey),
        column(17, CNContactDepartmentNameKey),
        column(18, CNContactUrlAddressesKey, std::nullopt, CNLabelURLAddressHomePage),
        column(19, CustomPropertyKeys::AdditionalNote, std::nullopt, std::nullopt, "Customer ID"),
    };
    source.dateFormats = {QvDateFormat("yyyy-MM-dd", std::nullopt, true),
                          QvDateFormat("dd.MM.yyyy", std::string("de"), true)};
    source.assemblyOptions.prependFieldTitle = true;
    return source;
}

const ImportSource& sharedSource() {
    static const ImportSource source = generatedSource();
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
            Contact contact = assembleContact(row, source.mappedProperties, source.dateFormats,
                                              source.assemblyOptions);
            benchmark::DoNotOptimize(contact);
        }
    }
    state.counters["contacts_per_second"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AssemblyOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_AssemblyAndSerialization(benchmark::State& state) {
    const ImportSource& source = sharedSource();
    std::vector<Contact> one(1);
    for (auto _ : state) {
        for (const DataRow& row : rowsToImport(*source.reader)) {
            one.front() = assembleContact(row, source.mappedProperties, source.dateFormats,
                                          source.assemblyOptions);
            std::string vcard = dataWithContacts(one, vCardExportWriteOptions());
            benchmark::DoNotOptimize(vcard);
        }
    }
    state.counters["contacts_per_second"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AssemblyAndSerialization)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
