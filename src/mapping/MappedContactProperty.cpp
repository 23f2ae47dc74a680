#include "mapping/MappedContactProperty.h"

#include <memory>

#include "mapping/StringMap.h"

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
