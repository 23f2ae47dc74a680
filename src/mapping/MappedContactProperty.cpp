#include "mapping/MappedContactProperty.h"

#include <algorithm>
#include <map>
#include <memory>

#include "addressbook/ContactKeys.h"
#include "mapping/StringMap.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {

std::string_view imageName(MappingStatus status) {
    switch (status) {
        case MappingStatus::needsAttention:
            return "mapping-status-needs-attention";
        case MappingStatus::append:
            return "mapping-status-append";
        case MappingStatus::appendCustom:
            return "mapping-status-append-custom";
        case MappingStatus::assigned:
            return "mapping-status-assigned";
        case MappingStatus::assignedCustom:
            return "mapping-status-assigned-custom";
        case MappingStatus::ignored:
            return "mapping-status-ignored";
        case MappingStatus::ignoredCustom:
            return "mapping-status-ignored-custom";
    }
    return "mapping-status-ignored";
}

MappingStatus MappedContactProperty::mappingStatus() const {
    // A hint only matters while there is a value it talks about.
    if (!sourceFieldContent.empty() &&
        mappingHints.contains(MappingHint::inconvertibleDateString)) {
        return MappingStatus::needsAttention;
    }
    if (contactProperty.propertyKey == CustomPropertyKeys::AdditionalNote) {
        return isCustomMapping ? MappingStatus::appendCustom : MappingStatus::append;
    }
    if (contactProperty.isValid())
        return isCustomMapping ? MappingStatus::assignedCustom : MappingStatus::assigned;
    return isCustomMapping ? MappingStatus::ignoredCustom : MappingStatus::ignored;
}

namespace {

// "2 “Name”", or "2" for a column without a title.
std::string describedColumn(const MappedContactProperty& entry) {
    std::string text = entry.formattedColumnIndex.value_or(std::to_string(entry.columnIndex + 1));
    if (!entry.sourceFieldName.empty()) text += " “" + entry.sourceFieldName + "”";
    return text;
}

// "2 “Name”", "2 “Name” and 3 “Given Name”", "1, 2 and 3".
std::string listedColumns(const std::vector<MappedContactProperty>& list,
                          const std::vector<std::size_t>& entries) {
    std::string text;
    for (std::size_t at = 0; at + 1 < entries.size(); ++at) {
        if (at > 0) text += ", ";
        text += describedColumn(list[entries[at]]);
    }
    const std::string last = describedColumn(list[entries.back()]);
    if (entries.size() == 1) return last;
    return formatMessage(localizedString("%1$@ and %2$@", "the last two of several columns"), text,
                         last);
}

bool isNamePartKey(const std::optional<std::string>& key) {
    namespace ContactKey = contacts::ContactKey;
    return key == ContactKey::givenName || key == ContactKey::middleName ||
           key == ContactKey::familyName;
}

}  // namespace

std::vector<SharedTargetWarning> sharedTargetWarnings(
    const std::vector<MappedContactProperty>& list) {
    // The imported entries in column order, the first entry of each column only.
    std::vector<std::size_t> imported;
    for (std::size_t at = 0; at < list.size(); ++at) {
        const auto& entry = list[at];
        const bool columnSeen =
            std::any_of(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(at),
                        [&](const auto& other) { return other.columnIndex == entry.columnIndex; });
        if (!columnSeen && entry.contactProperty.isValid()) imported.push_back(at);
    }
    std::stable_sort(imported.begin(), imported.end(), [&](std::size_t left, std::size_t right) {
        return list[left].columnIndex < list[right].columnIndex;
    });

    std::vector<SharedTargetWarning> warnings;
    std::map<std::string, std::vector<std::size_t>> byKey;
    std::vector<std::string> keysInOrder;
    for (std::size_t at : imported) {
        const auto& target = list[at].contactProperty;
        if (!target.isSingleValued()) continue;
        auto& entries = byKey[*target.propertyKey];
        if (entries.empty()) keysInOrder.push_back(*target.propertyKey);
        entries.push_back(at);
    }
    for (const auto& key : keysInOrder) {
        const auto& entries = byKey[key];
        if (entries.size() < 2) continue;
        const std::string targetTitle =
            list[entries.front()].contactProperty.formattedContactProperty().value_or(key);
        SharedTargetWarning warning;
        warning.entries = entries;
        warning.message = formatMessage(
            entries.size() == 2
                ? localizedString("columns %1$@ both go to %2$@; the first non-empty value is "
                                  "kept, the other goes into the note")
                : localizedString("columns %1$@ all go to %2$@; the first non-empty value is "
                                  "kept, the others go into the note"),
            listedColumns(list, entries), targetTitle);
        warnings.push_back(std::move(warning));
    }

    const auto fullName = std::find_if(imported.begin(), imported.end(), [&](std::size_t at) {
        return list[at].contactProperty.propertyKey == CustomPropertyKeys::FullName;
    });
    std::vector<std::size_t> nameParts;
    std::copy_if(
        imported.begin(), imported.end(), std::back_inserter(nameParts),
        [&](std::size_t at) { return isNamePartKey(list[at].contactProperty.propertyKey); });
    if (fullName != imported.end() && !nameParts.empty()) {
        SharedTargetWarning warning;
        warning.kind = SharedTargetWarning::Kind::fullNameBesideNameParts;
        warning.entries = {*fullName};
        warning.entries.insert(warning.entries.end(), nameParts.begin(), nameParts.end());
        const std::string fullNameTitle =
            list[*fullName].contactProperty.formattedContactProperty().value_or("");
        warning.message = formatMessage(
            nameParts.size() == 1
                ? localizedString("column %1$@ goes to %2$@ and gives only the name parts that "
                                  "column %3$@ leaves empty; a full name that disagrees with it "
                                  "goes into the note")
                : localizedString("column %1$@ goes to %2$@ and gives only the name parts that "
                                  "columns %3$@ leave empty; a full name that disagrees with "
                                  "them goes into the note"),
            describedColumn(list[*fullName]), fullNameTitle, listedColumns(list, nameParts));
        warnings.push_back(std::move(warning));
    }
    std::stable_sort(warnings.begin(), warnings.end(), [&](const auto& left, const auto& right) {
        return list[left.entries.front()].columnIndex < list[right.entries.front()].columnIndex;
    });
    return warnings;
}

ArchiveValue archivedMappedProperty(const MappedContactProperty& property) {
    auto object = std::make_shared<ArchivedObject>();
    object->className = std::string(kMappedContactPropertyClassName);
    object->fields["sourceFieldName"] = ArchiveValue(property.sourceFieldName);
    object->fields["contactProperty"] = archivedEntry(property.contactProperty);
    return ArchiveValue(std::shared_ptr<const ArchivedObject>(std::move(object)));
}

MappedContactProperty mappedPropertyFromArchive(const ArchivedObject& object) {
    MappedContactProperty property;
    if (auto title = object.stringField("sourceFieldName"))
        property.sourceFieldName = std::move(*title);
    if (const auto* target = object.objectField("contactProperty")) {
        property.contactProperty = entryFromArchive(*target);
    }
    return property;
}

}  // namespace pelkora
