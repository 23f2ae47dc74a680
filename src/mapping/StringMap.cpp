#include "mapping/StringMap.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/SharedNames.h"
#include "text/Collation.h"
#include "text/DateFormatting.h"

namespace pelkora {
namespace {

constexpr std::string_view kClassName = "SuggestedContactProperty";
// The framework of the entries that take part in matching.
constexpr std::string_view kContactsFramework = "Contacts";

KeyedArchiveClassMap stringMapClasses() {
    KeyedArchiveClassMap classes;
    classes.classes = {std::string(kClassName)};
    classes.unknownClass = [](std::string_view className) {
        writeLog(LogType::error, "Cannot decode object of classname '%{public}@'", className);
    };
    return classes;
}

ArchiveValue optionalText(const std::optional<std::string>& text) {
    if (!text) return ArchiveValue();
    return ArchiveValue(*text);
}

}  // namespace

ArchiveValue archivedEntry(const SuggestedContactProperty& entry) {
    auto object = std::make_shared<ArchivedObject>();
    object->className = std::string(kClassName);
    auto& fields = object->fields;
    fields["framework"] = ArchiveValue(entry.framework);
    fields["type"] = ArchiveValue(entry.type);
    fields["localizedString"] = optionalText(entry.localizedString);
    fields["propertyKey"] = optionalText(entry.propertyKey);
    fields["propertySubKey"] = optionalText(entry.propertySubKey);
    fields["systemLabel"] = optionalText(entry.systemLabel);
    fields["ISOLanguageCode"] = ArchiveValue(entry.ISOLanguageCode);
    fields["customLabel"] = optionalText(entry.customLabel);
    fields["isVendorCustomMapping"] =
        ArchiveValue(ArchiveValue::InlineBool{entry.isVendorCustomMapping});
    fields["isUserCustomMapping"] =
        ArchiveValue(ArchiveValue::InlineBool{entry.isUserCustomMapping});
    return ArchiveValue(std::shared_ptr<const ArchivedObject>(std::move(object)));
}

SuggestedContactProperty entryFromArchive(const ArchivedObject& object) {
    SuggestedContactProperty entry;
    if (auto text = object.stringField("framework")) entry.framework = *text;
    if (auto text = object.stringField("type")) entry.type = *text;
    if (auto text = object.stringField("localizedString")) entry.localizedString = *text;
    if (auto text = object.stringField("propertyKey")) entry.propertyKey = *text;
    if (auto text = object.stringField("propertySubKey")) entry.propertySubKey = *text;
    if (auto text = object.stringField("systemLabel")) entry.systemLabel = *text;
    if (auto text = object.stringField("ISOLanguageCode")) entry.ISOLanguageCode = *text;
    if (auto text = object.stringField("customLabel")) entry.customLabel = *text;
    if (auto flag = object.boolField("isVendorCustomMapping")) entry.isVendorCustomMapping = *flag;
    if (auto flag = object.boolField("isUserCustomMapping")) entry.isUserCustomMapping = *flag;
    return entry;
}

std::string archiveStringMap(const StringMap& entries) {
    ArchiveValue::Array list;
    list.reserve(entries.size());
    for (const auto& entry : entries) list.push_back(archivedEntry(entry));
    return encodeKeyedArchive(ArchiveValue(std::move(list)));
}

Expected<StringMap, std::string> unarchiveStringMap(std::string_view bytes) {
    auto decoded = decodeKeyedArchive(bytes, stringMapClasses());
    if (!decoded) return Unexpected(decoded.error().message);
    const auto* list = decoded->arrayValue();
    if (!list) return Unexpected(localizedString("the archive's root is not a list"));
    StringMap entries;
    entries.reserve(list->size());
    for (const auto& element : *list) {
        const auto* object = element.objectValue();
        if (!object || object->className != kClassName) {
            return Unexpected(localizedString(
                "the list holds something other than SuggestedContactProperty entries"));
        }
        entries.push_back(entryFromArchive(*object));
    }
    return entries;
}

std::filesystem::path customStringMapLocation() {
    return paths::applicationDataFolder() / std::string(FileNames::CustomStringMap);
}

StringMap loadCustomStringMap(const std::filesystem::path& file) {
    auto bytes = readWholeFile(file);
    if (!bytes) {
        // No file yet is the normal state of a user who never corrected a mapping.
        if (bytes.error().code != std::errc::no_such_file_or_directory) {
            writeLog(LogType::error, "Cannot unarchive custom string map: %{public}@",
                     bytes.error().message);
        }
        return {};
    }
    auto decoded = unarchiveStringMap(*bytes);
    if (!decoded) {
        writeLog(LogType::error, "Cannot unarchive custom string map: %{public}@", decoded.error());
        writeLog(LogType::error,
                 "Cannot unarchive custom string map: unarchiver.decodeObject() returned nil");
        return {};
    }
    return std::move(decoded).value();
}

bool saveCustomStringMap(const StringMap& entries, const std::filesystem::path& file) {
    if (entries.empty()) {
        writeLog(LogType::info, "Skip archiving custom string map: No custom mappings found");
        return true;
    }
    const std::string bytes = archiveStringMap(entries);
    if (bytes.empty()) {
        writeLog(LogType::error, "Data object created by NSKeyedArchiver.archivedData() is empty");
        return false;
    }
    if (auto written = writeFileAtomically(file, bytes); !written) {
        writeLog(LogType::error, "Could not archive custom string map: %{public}@",
                 written.error().message);
        return false;
    }
    return true;
}

std::vector<VocabularyLanguage> vocabularyLanguages(const StringMap& vocabulary) {
    auto isCode = [](std::string_view code) {
        return code.size() == 2 &&
               std::all_of(code.begin(), code.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    };
    std::set<std::string, std::less<>> codes;
    for (const auto& entry : vocabulary) {
        if (entry.framework == kContactsFramework && isCode(entry.ISOLanguageCode))
            codes.insert(entry.ISOLanguageCode);
    }
    std::vector<VocabularyLanguage> languages;
    for (const auto& code : codes) languages.push_back(vocabularyLanguage(code));
    const LocalizedCollator collator;
    std::stable_sort(languages.begin(), languages.end(),
                     [&](const auto& a, const auto& b) { return collator(a.name, b.name); });
    return languages;
}

VocabularyLanguage vocabularyLanguage(std::string_view code) {
    std::string name = dates::localeDisplayName(code);
    return {std::string(code), name.empty() ? std::string(code) : std::move(name)};
}

bool forgetCustomTitle(StringMap& entries, std::string_view title) {
    const auto removed = std::erase_if(entries, [&](const SuggestedContactProperty& entry) {
        return entry.localizedString == title;
    });
    return removed > 0;
}

Expected<void, std::string> replaceCustomStringMap(const StringMap& entries,
                                                   const std::filesystem::path& file) {
    if (entries.empty()) {
        std::error_code error;
        std::filesystem::remove(file, error);
        if (error)
            return Unexpected(formatMessage(localizedString("Could not remove %1$@: %2$@"),
                                            file.string(), error.message()));
        return {};
    }
    if (auto written = writeFileAtomically(file, archiveStringMap(entries)); !written)
        return Unexpected(written.error().message);
    return {};
}

}  // namespace pelkora
