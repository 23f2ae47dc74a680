// How fast the address books (SQLite, and a folder of vCard files) take an import and answer
// the duplicate lookups, with the file or folder on the disk that holds the system's temporary
// folder (set TMPDIR to choose).
//
// Counters:
//   - contacts/s: contacts saved per second, 100,000 generated contacts in save requests of
//     500 (one transaction, or one journalled request, each, synced to disk) into an empty
//     store;
//   - a lookup benchmark's time is per chunk: "which of these 500 full names exist" (or
//     identifiers), half of them present, in a container of 10,000 and of 100,000 contacts.
//     The two sizes should cost about the same.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/vdir/VdirContactStore.h"

namespace pelkora::contacts {
namespace {

constexpr std::size_t kChunkSize = 500;
constexpr std::size_t kImportSize = 100'000;

const std::vector<std::string> kGivenNames = {"Ada", "Grace",   "Alan",     "Edsger", "Barbara",
                                              "Ken", "Linus",   "Margaret", "Donald", "Zoë",
                                              "Ole", "Niklaus", "Frances",  "John",   "Radia"};
const std::vector<std::string> kFamilyNames = {"Lovelace", "Hopper",      "Turing",   "Dijkstra",
                                               "Liskov",   "Thompson",    "Torvalds", "Hamilton",
                                               "Knuth",    "Łukasiewicz", "Dahl",     "Wirth"};

// A contact like a typical spreadsheet row: a unique full name, a phone number, an e-mail
// address, a postal address and a note.
Contact generatedContact(std::size_t index) {
    Contact contact = Contact::makeNew();
    contact.givenName = kGivenNames[index % kGivenNames.size()];
    contact.familyName = kFamilyNames[index / kGivenNames.size() % kFamilyNames.size()] + "-" +
                         std::to_string(index);
    contact.organizationName = "Example Ltd";
    contact.jobTitle = "Engineer";
    contact.note = "Imported from contacts.csv on 2024-05-01";
    contact.phoneNumbers = {
        labeled(std::string(Label::mobile), "+49 170 " + std::to_string(index))};
    contact.emailAddresses = {
        labeled(std::string(Label::work), "person" + std::to_string(index) + "@example.org")};
    contact.postalAddresses = {
        labeled(std::string(Label::home),
                PostalAddress{"Hauptstraße " + std::to_string(index % 200), "", "München", "",
                              "Bayern", "80331", "Deutschland", "de"})};
    return contact;
}

class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelkora-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// A new store in the folder: a SQLite file, or a folder of vCard files.
template <typename Store>
std::unique_ptr<Store> openStore(const std::filesystem::path& folder) {
    auto opened = Store::open(
        folder / (std::is_same_v<Store, SqliteContactStore> ? "contacts.sqlite" : "contacts"));
    if (!opened) throw std::runtime_error(opened.error().message);
    return std::move(*opened);
}

// A save request adding contacts [first, first + count) to the default container.
SaveRequest requestAdding(ContactStore& store, std::size_t first, std::size_t count) {
    SaveRequest request;
    for (std::size_t index = first; index < first + count; ++index)
        request.addContact(generatedContact(index), store.defaultContainerIdentifier());
    return request;
}

void execute(ContactStore& store, const SaveRequest& request) {
    if (auto saved = store.execute(request); !saved)
        throw std::runtime_error(saved.error().message);
}

// Only the saving is timed, not making the contacts.
template <typename Store>
void BM_AddContactsInChunksOf500(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto folder = std::make_unique<TemporaryFolder>();
        auto store = openStore<Store>(folder->path());
        for (std::size_t first = 0; first < kImportSize; first += kChunkSize) {
            const SaveRequest request = requestAdding(*store, first, kChunkSize);
            state.ResumeTiming();
            execute(*store, request);
            state.PauseTiming();
        }
        // Removing 100,000 files takes long and is no part of an import.
        store.reset();
        folder.reset();
        state.ResumeTiming();
    }
    state.counters["contacts/s"] = benchmark::Counter(
        static_cast<double>(kImportSize * state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_TEMPLATE(BM_AddContactsInChunksOf500, SqliteContactStore)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_AddContactsInChunksOf500, VdirContactStore)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// A store holding `size` generated contacts, made once per size.
template <typename Store>
Store& filledStore(std::size_t size) {
    struct Filled {
        TemporaryFolder folder;
        std::unique_ptr<Store> store;
    };
    static std::map<std::size_t, Filled> stores;
    auto [entry, added] = stores.try_emplace(size);
    if (added) {
        entry->second.store = openStore<Store>(entry->second.folder.path());
        for (std::size_t first = 0; first < size; first += kChunkSize)
            execute(*entry->second.store, requestAdding(*entry->second.store, first, kChunkSize));
    }
    return *entry->second.store;
}

// Chunks of 500 questions, half about contacts of the store spread over all of it, half
// about names or identifiers it does not have.
std::vector<std::vector<std::string>> questionChunks(ContactStore& store, std::size_t size,
                                                     bool byName) {
    std::vector<Contact> present;
    const std::size_t stride = size / kChunkSize;
    std::size_t index = 0;
    if (!store.enumerateContacts(store.defaultContainerIdentifier(), [&](const Contact& contact) {
            if (index++ % stride == 0) present.push_back(contact);
            return true;
        })) {
        throw std::runtime_error("enumeration failed");
    }
    std::vector<std::vector<std::string>> chunks(8);
    for (std::size_t chunk = 0; chunk < chunks.size(); ++chunk) {
        for (std::size_t question = 0; question < kChunkSize; ++question) {
            const Contact& known = present[(question * 7 + chunk * 31) % present.size()];
            if (question % 2 == 0) {
                chunks[chunk].push_back(byName ? stringFromContact(known) : known.identifier);
            } else {
                const Contact unknown = generatedContact(size * 2 + chunk * kChunkSize + question);
                chunks[chunk].push_back(byName ? stringFromContact(unknown) : unknown.identifier);
            }
        }
    }
    return chunks;
}

template <typename Store>
void BM_ExistingFullNamesPerChunk(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    Store& store = filledStore<Store>(size);
    const auto chunks = questionChunks(store, size, true);
    const std::string container = store.defaultContainerIdentifier();
    std::size_t next = 0, found = 0;
    for (auto _ : state) {
        auto existing = store.existingFullNames(container, chunks[next++ % chunks.size()]);
        if (!existing) {
            state.SkipWithError(existing.error().message.c_str());
            break;
        }
        found += existing->size();
    }
    state.counters["found/chunk"] = static_cast<double>(found) / state.iterations();
}
BENCHMARK_TEMPLATE(BM_ExistingFullNamesPerChunk, SqliteContactStore)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_ExistingFullNamesPerChunk, VdirContactStore)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMicrosecond);

template <typename Store>
void BM_ExistingIdentifiersPerChunk(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    Store& store = filledStore<Store>(size);
    const auto chunks = questionChunks(store, size, false);
    const std::string container = store.defaultContainerIdentifier();
    std::size_t next = 0, found = 0;
    for (auto _ : state) {
        auto existing = store.existingIdentifiers(container, chunks[next++ % chunks.size()]);
        if (!existing) {
            state.SkipWithError(existing.error().message.c_str());
            break;
        }
        found += existing->size();
    }
    state.counters["found/chunk"] = static_cast<double>(found) / state.iterations();
}
BENCHMARK_TEMPLATE(BM_ExistingIdentifiersPerChunk, SqliteContactStore)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_ExistingIdentifiersPerChunk, VdirContactStore)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace pelkora::contacts

BENCHMARK_MAIN();
