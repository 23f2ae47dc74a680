#include "mapping/SavedMapping.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <functional>
#include <memory>
#include <system_error>
#include <utility>

#include "addressbook/Contact.h"
#include "addressbook/ContactKeys.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/SharedNames.h"
#include "text/Collation.h"
#include "text/UnicodeText.h"

#ifndef PELKORA_VERSION
#define PELKORA_VERSION "1"
#endif

namespace pelkora {
namespace {

namespace Keys {
constexpr std::string_view title = "title";
constexpr std::string_view mappingMode = "mappingMode";
constexpr std::string_view columnTitlesHash = "columnTitlesHash";
constexpr std::string_view mappedContactProperties = "mappedContactProperties";
constexpr std::string_view uuid = "uuid";
constexpr std::string_view createdOn = "createdOn";
constexpr std::string_view updatedOn = "updatedOn";
constexpr std::string_view usageCount = "usageCount";
constexpr std::string_view bundleVersion = "bundleVersion";
constexpr std::string_view originalBundleVersion = "originalBundleVersion";
}  // namespace Keys

constexpr std::string_view kSuggestedContactPropertyClassName = "SuggestedContactProperty";

std::string programVersion() {
    const std::string_view version = PELKORA_VERSION;
    return version.empty() ? std::string("1") : std::string(version);
}

// Now, to the microsecond that the archive keeps, so that a stored mapping reads back equal.
std::chrono::system_clock::time_point now() {
    return std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
}

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char byte : text) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::int64_t asSigned(std::uint64_t value) {
    return static_cast<std::int64_t>(value);
}

// The classes a list of saved mappings holds; the date-format class is known as well, as
// lists written elsewhere may hold one.
KeyedArchiveClassMap savedMappingClasses() {
    KeyedArchiveClassMap classes;
    classes.classes = {std::string(kSavedMappingClassName),
                       std::string(kMappedContactPropertyClassName),
                       std::string(kSuggestedContactPropertyClassName), "QvDateFormat"};
    classes.unknownClass = [](std::string_view className) {
        writeLog(LogType::error,
                 "Cannot decode object of classname '%{public}@'. Error: %{public}@", className,
                 std::string_view("Unknown error"));
    };
    return classes;
}

// The columns of an archived list, or why an element is not a mapped property.
Expected<std::vector<MappedContactProperty>, std::string> mappedPropertiesFromList(
    const ArchiveValue::Array& list, std::string_view title) {
    std::vector<MappedContactProperty> entries;
    entries.reserve(list.size());
    for (const auto& element : list) {
        const auto* entry = element.objectValue();
        if (!entry) {
            return Unexpected(
                formatMessage(localizedString("the mapping “%1$@” holds a %2$@ among its columns"),
                              title, element.typeName()));
        }
        if (entry->className != kMappedContactPropertyClassName) {
            return Unexpected(formatMessage(
                localizedString(
                    "the mapping “%1$@” holds an object of class %2$@ among its columns"),
                title, entry->className));
        }
        const auto* target = entry->objectField("contactProperty");
        if (target && target->className != kSuggestedContactPropertyClassName) {
            return Unexpected(
                formatMessage(localizedString("the mapping “%1$@” holds a target of class %2$@"),
                              title, target->className));
        }
        entries.push_back(mappedPropertyFromArchive(*entry));
    }
    return entries;
}

MappingArchiveError corruptData(std::string_view detail) {
    std::string message =
        localizedString("The data couldn’t be read because it isn’t in the correct format.",
                        "Error reading a saved-mappings file");
    if (!detail.empty()) message += " (" + std::string(detail) + ")";
    return MappingArchiveError{MappingArchiveErrorKind::corruptData, std::move(message)};
}

std::string folded(std::string_view text) {
    return lowercased(text);
}

// By title in the user's locale's order, in which letter case only breaks ties.
void sortByTitle(std::vector<SavedMapping>& mappings) {
    const LocalizedCollator before;
    std::stable_sort(mappings.begin(), mappings.end(),
                     [&before](const SavedMapping& left, const SavedMapping& right) {
                         return before(left.title, right.title);
                     });
}

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

std::string timeStamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &parts);
    return text;
}

// Renames a damaged file aside so that the next write does not destroy what it held.
Expected<std::filesystem::path, std::string> setAside(const std::filesystem::path& file) {
    const std::string base =
        file.string() + ".damaged-" + timeStamp(std::chrono::system_clock::now());
    std::filesystem::path target = base;
    std::error_code error;
    for (int number = 2; std::filesystem::exists(target, error); ++number)
        target = base + "-" + std::to_string(number);
    std::filesystem::rename(file, target, error);
    if (error) {
        return Unexpected(formatMessage(localizedString("Could not set “%1$@” aside: %2$@"),
                                        file.string(), error.message()));
    }
    return target;
}

// Reads the list in the file: an absent file is an empty list, a damaged one is set aside
// (and logged) and gives an empty list too. An error when the file can be neither read nor
// set aside, so that a caller about to write does not replace it.
Expected<std::vector<SavedMapping>, std::string> readStoreFile(const std::filesystem::path& file) {
    auto bytes = readWholeFile(file);
    if (!bytes) {
        if (bytes.error().code == std::errc::no_such_file_or_directory)
            return std::vector<SavedMapping>{};
        writeLog(LogType::error, "Cannot unarchive saved mappings: %{public}@",
                 bytes.error().message);
        return Unexpected(bytes.error().message);
    }
    auto decoded = unarchiveSavedMappings(*bytes);
    if (decoded) {
        sortByTitle(*decoded);
        return std::move(decoded).value();
    }
    writeLog(LogType::error, "Cannot unarchive saved mappings: %{public}@",
             decoded.error().message);
    auto moved = setAside(file);
    if (!moved) {
        writeLog(LogType::error, "Cannot unarchive saved mappings: %{public}@", moved.error());
        return Unexpected(moved.error());
    }
    writeLog(LogType::error, "The damaged saved mappings were moved to %{public}@",
             moved->string());
    return std::vector<SavedMapping>{};
}

// An exclusive lock on the ".lock" file beside the store, held while it lives.
class StoreLock {
  public:
    static Expected<StoreLock, std::string> acquire(const std::filesystem::path& file) {
        const std::filesystem::path lockFile = file.string() + ".lock";
        const int descriptor = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (descriptor < 0) {
            return Unexpected(formatMessage(localizedString("Could not open “%1$@”: %2$@"),
                                            lockFile.string(),
                                            std::system_category().message(errno)));
        }
        while (::flock(descriptor, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(descriptor);
            return Unexpected(formatMessage(localizedString("Could not lock “%1$@”: %2$@"),
                                            lockFile.string(),
                                            std::system_category().message(error)));
        }
        return StoreLock(descriptor);
    }
    StoreLock(StoreLock&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    StoreLock& operator=(StoreLock&&) = delete;
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    ~StoreLock() {
        if (descriptor_ >= 0) ::close(descriptor_);  // closing releases the lock
    }

  private:
    explicit StoreLock(int descriptor) : descriptor_(descriptor) {}
    int descriptor_ = -1;
};

// Re-reads the store under its lock, changes the list and writes it back.
Expected<std::vector<SavedMapping>, std::string> changeStore(
    const std::filesystem::path& file,
    const std::function<Expected<void, std::string>(std::vector<SavedMapping>&)>& change) {
    std::error_code error;
    std::filesystem::create_directories(folderOf(file), error);
    if (error) {
        std::string message = formatMessage(localizedString("Could not create “%1$@”: %2$@"),
                                            folderOf(file).string(), error.message());
        writeLog(LogType::error, "Could not archive saved mappings: %{public}@", message);
        return Unexpected(std::move(message));
    }
    auto lock = StoreLock::acquire(file);
    if (!lock) {
        writeLog(LogType::error, "Could not archive saved mappings: %{public}@", lock.error());
        return Unexpected(lock.error());
    }
    auto current = readStoreFile(file);
    if (!current) return Unexpected(current.error());
    if (auto changed = change(*current); !changed) return Unexpected(changed.error());
    sortByTitle(*current);
    if (auto written = writeFileAtomically(file, archiveSavedMappings(*current)); !written) {
        writeLog(LogType::error, "Could not archive saved mappings: %{public}@",
                 written.error().message);
        return Unexpected(written.error().message);
    }
    return std::move(current).value();
}

}  // namespace

SavedMapping::SavedMapping()
    : title(untitledMappingTitle()),
      uuid(contacts::makeRandomUUID()),
      createdOn(now()),
      updatedOn(createdOn),
      bundleVersion(programVersion()),
      originalBundleVersion(bundleVersion) {}

std::string untitledMappingTitle() {
    return localizedString("Untitled Mapping", "Title of a saved mapping not named yet");
}

std::int64_t columnTitlesHash(const std::vector<MappedContactProperty>& list) {
    if (list.empty()) return 0;
    std::vector<std::string> titles;
    titles.reserve(list.size());
    for (const auto& entry : list) titles.push_back(lowercased(entry.sourceFieldName));
    std::sort(titles.begin(), titles.end());
    std::string joined;
    for (const auto& title : titles) joined += title;
    return asSigned(fnv1a(joined));
}

std::int64_t columnTitlesHash(const std::filesystem::path& firstVCardFolder) {
    return asSigned(fnv1a(firstVCardFolder.string()));
}

void migrateNoteEntries(std::vector<MappedContactProperty>& list) {
    bool noteSeen = false;
    for (auto& entry : list) {
        if (entry.contactProperty.propertyKey != contacts::ContactKey::note) continue;
        if (!noteSeen) {
            noteSeen = true;
            continue;
        }
        entry.contactProperty =
            SuggestedContactProperty::target(CustomPropertyKeys::AdditionalNote);
    }
}

ArchiveValue archivedSavedMapping(const SavedMapping& mapping) {
    auto object = std::make_shared<ArchivedObject>();
    object->className = std::string(kSavedMappingClassName);
    auto& fields = object->fields;
    fields[std::string(Keys::title)] = ArchiveValue(mapping.title);
    fields[std::string(Keys::mappingMode)] =
        ArchiveValue(ArchiveValue::InlineInteger{static_cast<std::int64_t>(mapping.mappingMode)});
    fields[std::string(Keys::columnTitlesHash)] =
        ArchiveValue(ArchiveValue::InlineInteger{mapping.columnTitlesHash});
    ArchiveValue::Array list;
    list.reserve(mapping.mappedContactProperties.size());
    for (const auto& entry : mapping.mappedContactProperties)
        list.push_back(archivedMappedProperty(entry));
    fields[std::string(Keys::mappedContactProperties)] = ArchiveValue(std::move(list));
    fields[std::string(Keys::uuid)] = ArchiveValue(mapping.uuid);
    fields[std::string(Keys::createdOn)] = ArchiveValue(mapping.createdOn);
    fields[std::string(Keys::updatedOn)] = ArchiveValue(mapping.updatedOn);
    fields[std::string(Keys::usageCount)] =
        ArchiveValue(ArchiveValue::InlineInteger{mapping.usageCount});
    fields[std::string(Keys::bundleVersion)] = ArchiveValue(mapping.bundleVersion);
    fields[std::string(Keys::originalBundleVersion)] = ArchiveValue(mapping.originalBundleVersion);
    return ArchiveValue(std::shared_ptr<const ArchivedObject>(std::move(object)));
}

Expected<SavedMapping, std::string> savedMappingFromArchive(const ArchivedObject& object) {
    SavedMapping mapping;
    if (auto text = object.stringField(Keys::title)) mapping.title = std::move(*text);
    if (auto mode = object.integerField(Keys::mappingMode)) {
        if (*mode == static_cast<std::int64_t>(MappingMode::byName) ||
            *mode == static_cast<std::int64_t>(MappingMode::byPosition)) {
            mapping.mappingMode = static_cast<MappingMode>(*mode);
        }
    }
    if (auto hash = object.integerField(Keys::columnTitlesHash)) mapping.columnTitlesHash = *hash;
    if (const auto* list = object.arrayField(Keys::mappedContactProperties)) {
        auto entries = mappedPropertiesFromList(*list, mapping.title);
        if (!entries) return Unexpected(std::move(entries).error());
        mapping.mappedContactProperties = std::move(entries).value();
    }
    if (auto text = object.stringField(Keys::uuid)) mapping.uuid = std::move(*text);
    if (auto date = object.dateField(Keys::createdOn)) mapping.createdOn = *date;
    if (auto date = object.dateField(Keys::updatedOn)) mapping.updatedOn = *date;
    if (auto count = object.integerField(Keys::usageCount)) mapping.usageCount = *count;
    if (auto text = object.stringField(Keys::bundleVersion))
        mapping.bundleVersion = std::move(*text);
    if (auto text = object.stringField(Keys::originalBundleVersion))
        mapping.originalBundleVersion = std::move(*text);
    migrateNoteEntries(mapping.mappedContactProperties);
    return mapping;
}

std::string archiveSavedMappings(const std::vector<SavedMapping>& mappings) {
    ArchiveValue::Array list;
    list.reserve(mappings.size());
    for (const auto& mapping : mappings) list.push_back(archivedSavedMapping(mapping));
    return encodeKeyedArchive(ArchiveValue(std::move(list)));
}

Expected<std::vector<SavedMapping>, MappingArchiveError> unarchiveSavedMappings(
    std::string_view bytes) {
    auto decoded = decodeKeyedArchive(bytes, savedMappingClasses());
    if (!decoded) return Unexpected(corruptData(decoded.error().message));
    const auto* list = decoded->arrayValue();
    if (!list) {
        return Unexpected(corruptData(
            formatMessage(localizedString("the archive holds a %@, not a list of saved mappings"),
                          decoded->typeName())));
    }
    std::vector<SavedMapping> mappings;
    mappings.reserve(list->size());
    for (const auto& element : *list) {
        const auto* object = element.objectValue();
        if (!object || object->className != kSavedMappingClassName) {
            return Unexpected(corruptData(
                object ? formatMessage(localizedString("the list holds an object of class %@, not "
                                                       "a saved mapping"),
                                       object->className)
                       : formatMessage(localizedString("the list holds a %@, not a saved mapping"),
                                       element.typeName())));
        }
        auto mapping = savedMappingFromArchive(*object);
        if (!mapping) return Unexpected(corruptData(mapping.error()));
        mappings.push_back(std::move(mapping).value());
    }
    return mappings;
}

std::string exportFileName(std::size_t mappingCount) {
    return replacedAll(
        localizedString("%d Mappings.zubmapping", "Suggested name of an export file"), "%d",
        std::to_string(mappingCount));
}

std::size_t applySavedMapping(SavedMapping& mapping, std::vector<MappedContactProperty>& list,
                              bool showExtendedRelations) {
    ++mapping.usageCount;
    const auto& saved = mapping.mappedContactProperties;
    std::size_t taken = 0;
    if (mapping.mappingMode == MappingMode::byName) {
        std::vector<std::string> savedTitles;
        savedTitles.reserve(saved.size());
        for (const auto& entry : saved) savedTitles.push_back(folded(entry.sourceFieldName));
        for (auto& entry : list) {
            const std::string title = folded(entry.sourceFieldName);
            const auto found = std::find(savedTitles.begin(), savedTitles.end(), title);
            if (found == savedTitles.end()) continue;
            entry.contactProperty =
                saved[static_cast<std::size_t>(found - savedTitles.begin())].contactProperty;
            entry.isCustomMapping = true;
            ++taken;
        }
    } else {
        for (std::size_t index = 0; index < list.size(); ++index) {
            auto& entry = list[index];
            if (index < saved.size()) {
                entry.contactProperty = saved[index].contactProperty;
                entry.isCustomMapping = true;
                ++taken;
            } else {
                entry.contactProperty = SuggestedContactProperty();
            }
        }
    }
    if (!showExtendedRelations) {
        const auto extended = SuggestedContactProperty::extendedRelevantRelationships();
        for (auto& entry : list) {
            const auto label = entry.contactProperty.label();
            if (!label || std::find(extended.begin(), extended.end(), *label) == extended.end())
                continue;
            entry.contactProperty.systemLabel = std::string(contacts::Label::other);
            entry.contactProperty.customLabel.reset();
        }
    }
    return taken;
}

std::filesystem::path SavedMappingStore::defaultLocation() {
    return paths::applicationDataFolder() / std::string(FileNames::SavedMappings);
}

SavedMappingStore::SavedMappingStore(std::filesystem::path file) : file_(std::move(file)) {
    reload();
}

void SavedMappingStore::reload() {
    // Without its folder there is no file either; reading does not create the folder.
    std::error_code error;
    if (!std::filesystem::is_directory(folderOf(file_), error)) {
        mappings_.clear();
        return;
    }
    // Under the lock, so that no other program replaces a damaged file between our reading it
    // and setting it aside.
    auto lock = StoreLock::acquire(file_);
    if (!lock)
        writeLog(LogType::error, "Cannot unarchive saved mappings: %{public}@", lock.error());
    auto read = readStoreFile(file_);
    mappings_ = read ? std::move(read).value() : std::vector<SavedMapping>{};
}

const SavedMapping* SavedMappingStore::findByTitle(std::string_view title) const {
    const std::string wanted = folded(title);
    for (const auto& mapping : mappings_) {
        if (folded(mapping.title) == wanted) return &mapping;
    }
    return nullptr;
}

const SavedMapping* SavedMappingStore::findByUuid(std::string_view uuid) const {
    for (const auto& mapping : mappings_) {
        if (mapping.uuid == uuid) return &mapping;
    }
    return nullptr;
}

std::string SavedMappingStore::availableTitle(std::string_view proposed) const {
    std::string title(proposed);
    for (int number = 2; findByTitle(title) != nullptr; ++number)
        title = std::string(proposed) + " " + std::to_string(number);
    return title;
}

Expected<void, std::string> SavedMappingStore::save(const SavedMapping& mapping) {
    auto changed = changeStore(
        file_, [&mapping](std::vector<SavedMapping>& list) -> Expected<void, std::string> {
            const auto found = std::find_if(list.begin(), list.end(), [&](const SavedMapping& m) {
                return m.uuid == mapping.uuid;
            });
            if (found != list.end()) {
                *found = mapping;
            } else {
                list.push_back(mapping);
            }
            return {};
        });
    if (!changed) return Unexpected(changed.error());
    mappings_ = std::move(changed).value();
    return {};
}

Expected<void, std::string> SavedMappingStore::rename(std::string_view uuid, std::string title) {
    auto changed = changeStore(
        file_, [uuid, &title](std::vector<SavedMapping>& list) -> Expected<void, std::string> {
            const auto found = std::find_if(list.begin(), list.end(),
                                            [&](const SavedMapping& m) { return m.uuid == uuid; });
            if (found == list.end())
                return Unexpected(
                    formatMessage(localizedString("No saved mapping has the identifier %@"), uuid));
            found->title = title;
            found->updatedOn = now();
            return {};
        });
    if (!changed) return Unexpected(changed.error());
    mappings_ = std::move(changed).value();
    return {};
}

Expected<void, std::string> SavedMappingStore::remove(const std::vector<std::string>& uuids) {
    auto changed = changeStore(
        file_, [&uuids](std::vector<SavedMapping>& list) -> Expected<void, std::string> {
            std::erase_if(list, [&](const SavedMapping& m) {
                return std::find(uuids.begin(), uuids.end(), m.uuid) != uuids.end();
            });
            return {};
        });
    if (!changed) return Unexpected(changed.error());
    mappings_ = std::move(changed).value();
    return {};
}

Expected<void, std::string> SavedMappingStore::merge(const std::vector<SavedMapping>& imported) {
    auto changed = changeStore(
        file_, [&imported](std::vector<SavedMapping>& list) -> Expected<void, std::string> {
            for (const auto& mapping : imported) {
                const auto found =
                    std::find_if(list.begin(), list.end(),
                                 [&](const SavedMapping& m) { return m.uuid == mapping.uuid; });
                if (found == list.end()) {
                    list.push_back(mapping);
                    continue;
                }
                found->title = mapping.title;
                found->mappingMode = mapping.mappingMode;
                found->columnTitlesHash = mapping.columnTitlesHash;
                found->mappedContactProperties = mapping.mappedContactProperties;
            }
            return {};
        });
    if (!changed) return Unexpected(changed.error());
    mappings_ = std::move(changed).value();
    return {};
}

Expected<void, std::string> SavedMappingStore::replaceAll(std::vector<SavedMapping> mappings) {
    auto changed = changeStore(
        file_, [&mappings](std::vector<SavedMapping>& list) -> Expected<void, std::string> {
            list = std::move(mappings);
            return {};
        });
    if (!changed) return Unexpected(changed.error());
    mappings_ = std::move(changed).value();
    return {};
}

PropertyValue::Dictionary savedMappingRecordFields(const SavedMapping& mapping) {
    ArchiveValue::Array list;
    list.reserve(mapping.mappedContactProperties.size());
    for (const auto& entry : mapping.mappedContactProperties)
        list.push_back(archivedMappedProperty(entry));
    PropertyValue::Dictionary fields;
    fields.emplace(Keys::title, mapping.title);
    fields.emplace(Keys::mappingMode, static_cast<std::int64_t>(mapping.mappingMode));
    fields.emplace(Keys::columnTitlesHash, mapping.columnTitlesHash);
    const std::string archived = encodeKeyedArchive(ArchiveValue(std::move(list)));
    fields.emplace(Keys::mappedContactProperties,
                   PropertyValue::Data(archived.begin(), archived.end()));
    fields.emplace(Keys::uuid, mapping.uuid);
    fields.emplace(Keys::createdOn, mapping.createdOn);
    fields.emplace(Keys::updatedOn, mapping.updatedOn);
    fields.emplace(Keys::usageCount, mapping.usageCount);
    fields.emplace(Keys::bundleVersion, mapping.bundleVersion);
    fields.emplace(Keys::originalBundleVersion, mapping.originalBundleVersion);
    return fields;
}

Expected<SavedMapping, MappingArchiveError> savedMappingFromRecordFields(
    const PropertyValue::Dictionary& fields) {
    const auto field = [&fields](std::string_view key) -> const PropertyValue* {
        const auto found = fields.find(key);
        return found == fields.end() ? nullptr : &found->second;
    };
    SavedMapping mapping;
    if (const auto* value = field(Keys::title); value && value->stringValue())
        mapping.title = *value->stringValue();
    if (const auto* value = field(Keys::mappingMode); value && value->integerValue()) {
        const auto mode = *value->integerValue();
        if (mode == static_cast<std::int64_t>(MappingMode::byName) ||
            mode == static_cast<std::int64_t>(MappingMode::byPosition)) {
            mapping.mappingMode = static_cast<MappingMode>(mode);
        }
    }
    if (const auto* value = field(Keys::columnTitlesHash); value && value->integerValue())
        mapping.columnTitlesHash = *value->integerValue();
    if (const auto* value = field(Keys::mappedContactProperties); value && value->dataValue()) {
        const auto& data = *value->dataValue();
        auto decoded = decodeKeyedArchive(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
            savedMappingClasses());
        if (!decoded) return Unexpected(corruptData(decoded.error().message));
        const auto* list = decoded->arrayValue();
        if (!list) {
            return Unexpected(corruptData(
                formatMessage(localizedString("the columns of “%1$@” are a %2$@, not a list"),
                              mapping.title, decoded->typeName())));
        }
        auto entries = mappedPropertiesFromList(*list, mapping.title);
        if (!entries) return Unexpected(corruptData(entries.error()));
        mapping.mappedContactProperties = std::move(entries).value();
    }
    if (const auto* value = field(Keys::uuid); value && value->stringValue())
        mapping.uuid = *value->stringValue();
    if (const auto* value = field(Keys::createdOn); value && value->dateValue())
        mapping.createdOn = *value->dateValue();
    if (const auto* value = field(Keys::updatedOn); value && value->dateValue())
        mapping.updatedOn = *value->dateValue();
    if (const auto* value = field(Keys::usageCount); value && value->integerValue())
        mapping.usageCount = *value->integerValue();
    // The version that wrote the record is not taken: this program is the one holding it now.
    if (const auto* value = field(Keys::originalBundleVersion); value && value->stringValue())
        mapping.originalBundleVersion = *value->stringValue();
    migrateNoteEntries(mapping.mappedContactProperties);
    return mapping;
}

}  // namespace pelkora
