#include "import/ImportJournal.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <utility>

#include "platform/Paths.h"
#include "propertylist/PropertyList.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

namespace fs = std::filesystem;

// Persisted key and file names: never change them.
constexpr const char* kHeaderFile = "import.plist";
constexpr std::string_view kChunkPrefix = "contacts-";
constexpr std::string_view kChunkSuffix = ".plist";
constexpr const char* kNumber = "Number";
constexpr const char* kDate = "Date";
constexpr const char* kFiles = "Files";
constexpr const char* kStore = "Store";
constexpr const char* kContainer = "Container";
constexpr const char* kContainerName = "ContainerName";
constexpr const char* kCreatedGroups = "CreatedGroups";
constexpr const char* kUndone = "Undone";
constexpr const char* kContacts = "Contacts";

PropertyValue stringList(const std::vector<std::string>& strings) {
    PropertyValue::Array list;
    list.reserve(strings.size());
    for (const std::string& text : strings) list.emplace_back(text);
    return PropertyValue(std::move(list));
}

// Everything of the record but its contacts, which are in the chunks' files.
std::string encodedHeader(const ImportRecord& record) {
    PropertyValue::Dictionary header;
    header[kNumber] = record.number;
    header[kDate] = record.time;
    std::vector<std::string> files;
    for (const fs::path& file : record.files) files.push_back(file.string());
    header[kFiles] = stringList(files);
    header[kStore] = record.store;
    header[kContainer] = record.container;
    header[kContainerName] = record.containerName;
    header[kCreatedGroups] = stringList(record.createdGroups);
    if (record.undone) header[kUndone] = *record.undone;
    return encodePropertyList(PropertyValue(std::move(header)), PropertyListFormat::xml);
}

// The strings of a list; elements of other types are passed over.
std::vector<std::string> strings(const PropertyValue::Dictionary& dictionary, const char* key) {
    std::vector<std::string> found;
    auto entry = dictionary.find(key);
    if (entry == dictionary.end() || !entry->second.arrayValue()) return found;
    for (const PropertyValue& element : *entry->second.arrayValue()) {
        if (const std::string* text = element.stringValue()) found.push_back(*text);
    }
    return found;
}

std::string text(const PropertyValue::Dictionary& dictionary, const char* key) {
    auto entry = dictionary.find(key);
    if (entry == dictionary.end() || !entry->second.stringValue()) return {};
    return *entry->second.stringValue();
}

std::optional<PropertyValue::Date> date(const PropertyValue::Dictionary& dictionary,
                                        const char* key) {
    auto entry = dictionary.find(key);
    if (entry == dictionary.end() || !entry->second.dateValue()) return std::nullopt;
    return *entry->second.dateValue();
}

// The dictionary a journal file holds; the reason, for the log, when it holds none.
Expected<PropertyValue::Dictionary, std::string> readDictionary(const fs::path& file) {
    auto bytes = readWholeFile(file);
    if (!bytes) return Unexpected(bytes.error().message);
    auto value = decodePropertyList(*bytes);
    if (!value) return Unexpected(file.string() + ": " + value.error().message);
    if (!value->dictionaryValue())
        return Unexpected(formatMessage(localizedString("%1$@: not a dictionary but a %2$@",
                                                        "A damaged file of the import journal"),
                                        file.string(), value->typeName()));
    return std::move(*value->dictionaryValue());
}

// The entry in the folder; the reason when its header is missing or unreadable. The chunks'
// files are read in name order, which is the order they were saved in.
Expected<ImportRecord, std::string> readEntry(const fs::path& folder) {
    auto header = readDictionary(folder / kHeaderFile);
    if (!header) return Unexpected(header.error());
    ImportRecord record;
    record.entryName = folder.filename().string();
    record.number = text(*header, kNumber);
    const auto started = date(*header, kDate);
    if (record.number.empty() || !started)
        return Unexpected(formatMessage(
            localizedString("%@: no number or date", "A damaged file of the import journal"),
            (folder / kHeaderFile).string()));
    record.time = *started;
    for (std::string& file : strings(*header, kFiles)) record.files.emplace_back(std::move(file));
    record.store = text(*header, kStore);
    record.container = text(*header, kContainer);
    record.containerName = text(*header, kContainerName);
    record.createdGroups = strings(*header, kCreatedGroups);
    record.undone = date(*header, kUndone);

    std::vector<fs::path> chunks;
    std::error_code error;
    for (const fs::directory_entry& file : fs::directory_iterator(folder, error)) {
        const std::string name = file.path().filename().string();
        if (name.starts_with(kChunkPrefix) && name.ends_with(kChunkSuffix))
            chunks.push_back(file.path());
    }
    if (error) return Unexpected(folder.string() + ": " + error.message());
    std::sort(chunks.begin(), chunks.end());
    for (const fs::path& chunk : chunks) {
        auto contacts = readDictionary(chunk);
        if (!contacts) return Unexpected(contacts.error());
        for (std::string& identifier : strings(*contacts, kContacts))
            record.contacts.push_back(std::move(identifier));
    }
    return record;
}

Unexpected<FileError> folderFailure(const fs::path& folder, std::error_code code) {
    return Unexpected(FileError::make(FileAccess::writing, folder, code));
}

}  // namespace

fs::path ImportJournal::defaultFolder() {
    return paths::applicationDataFolder() / "imports";
}

ImportJournal::Entry::Entry(const ImportJournal& journal, ImportRecord record)
    : journalFolder_(journal.folder()), record_(std::move(record)) {}

// The first write makes the entry's folder: the number, or the number with the first free
// suffix; create_directory fails on a folder that exists, so two imports never share one.
auto ImportJournal::Entry::writeHeader() -> Expected<void, FileError> {
    if (folder_.empty()) {
        std::error_code error;
        fs::create_directories(journalFolder_, error);
        if (error) return folderFailure(journalFolder_, error);
        for (int suffix = 1;; ++suffix) {
            const std::string name =
                record_.number + (suffix == 1 ? "" : "-" + std::to_string(suffix));
            const fs::path candidate = journalFolder_ / name;
            if (fs::create_directory(candidate, error)) {
                folder_ = candidate;
                record_.entryName = name;
                break;
            }
            if (error) return folderFailure(candidate, error);
        }
    }
    return writeFileAtomically(folder_ / kHeaderFile, encodedHeader(record_));
}

fs::path ImportJournal::Entry::chunkFile(std::size_t number) const {
    char name[32];
    std::snprintf(name, sizeof name, "%04zu", number);
    return folder_ / (std::string(kChunkPrefix) + name + std::string(kChunkSuffix));
}

auto ImportJournal::Entry::recordCreatedGroups(const std::vector<std::string>& groups)
    -> Expected<void, FileError> {
    if (groups.empty()) return {};
    record_.createdGroups.insert(record_.createdGroups.end(), groups.begin(), groups.end());
    return writeHeader();
}

auto ImportJournal::Entry::recordChunk(const std::vector<std::string>& contacts)
    -> Expected<void, FileError> {
    if (contacts.empty()) return {};
    if (folder_.empty()) {
        if (auto written = writeHeader(); !written) return written;
    }
    PropertyValue::Dictionary chunk;
    chunk[kContacts] = stringList(contacts);
    auto written =
        writeFileAtomically(chunkFile(chunkSizes_.size() + 1),
                            encodePropertyList(PropertyValue(chunk), PropertyListFormat::xml));
    if (!written) return written;
    chunkSizes_.push_back(contacts.size());
    record_.contacts.insert(record_.contacts.end(), contacts.begin(), contacts.end());
    return {};
}

// Should the file stay (the folder became read-only), undo finds its contacts missing from
// the store and counts them as gone; the failure is logged.
void ImportJournal::Entry::forgetLastChunk() {
    if (chunkSizes_.empty()) return;
    const fs::path file = chunkFile(chunkSizes_.size());
    std::error_code error;
    fs::remove(file, error);
    if (error) {
        writeLog(LogType::error, "Could not remove %{public}@ from the import journal: %{public}@",
                 file.string(), error.message());
    }
    record_.contacts.resize(record_.contacts.size() - chunkSizes_.back());
    chunkSizes_.pop_back();
}

std::vector<ImportRecord> ImportJournal::entries() const {
    std::vector<ImportRecord> found;
    std::error_code error;
    if (!fs::is_directory(folder_, error)) return found;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_, error)) {
        if (!entry.is_directory(error)) continue;
        auto record = readEntry(entry.path());
        if (record) {
            found.push_back(std::move(*record));
        } else {
            writeLog(LogType::error, "An entry of the import journal cannot be read: %{public}@",
                     record.error());
        }
    }
    if (error) {
        writeLog(LogType::error, "The import journal %{public}@ cannot be read: %{public}@",
                 folder_.string(), error.message());
    }
    std::sort(found.begin(), found.end(), [](const ImportRecord& left, const ImportRecord& right) {
        if (left.time != right.time) return left.time > right.time;
        return left.entryName > right.entryName;
    });
    return found;
}

Expected<void, FileError> ImportJournal::markUndone(
    const ImportRecord& record, std::chrono::system_clock::time_point when) const {
    ImportRecord undone = record;
    undone.undone = when;
    return writeFileAtomically(folder_ / record.entryName / kHeaderFile, encodedHeader(undone));
}

}  // namespace pelkora
