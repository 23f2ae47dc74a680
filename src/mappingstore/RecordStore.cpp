#include "mappingstore/RecordStore.h"

#include <utility>

#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

constexpr std::string_view kRecordTypeKey = "recordType";

}  // namespace

std::string encodeRecordFile(const Record& record) {
    PropertyValue::Dictionary dictionary = record.fields;
    dictionary.insert_or_assign(std::string(kRecordTypeKey), record.recordType);
    return encodePropertyList(PropertyValue(std::move(dictionary)), PropertyListFormat::binary);
}

Expected<Record, RecordStoreError> decodeRecordFile(std::string_view bytes, RecordID id) {
    const auto failure = [&id](std::string detail) {
        return Unexpected(
            RecordStoreError{RecordStoreErrorKind::internalError,
                             formatMessage(localizedString("The record “%1$@” is damaged: %2$@"),
                                           id.recordName, detail)});
    };
    auto decoded = decodePropertyList(bytes);
    if (!decoded) return failure(decoded.error().message);
    auto* dictionary = decoded->dictionaryValue();
    if (!dictionary)
        return failure(
            formatMessage(localizedString("it holds a %@, not fields"), decoded->typeName()));
    const auto type = dictionary->find(kRecordTypeKey);
    if (type == dictionary->end() || !type->second.stringValue())
        return failure(localizedString("it has no record type"));
    Record record;
    record.recordType = *type->second.stringValue();
    dictionary->erase(type);
    record.fields = std::move(*dictionary);
    record.id = std::move(id);
    return record;
}

}  // namespace pelkora
