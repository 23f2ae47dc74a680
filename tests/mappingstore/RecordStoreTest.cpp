#include <gtest/gtest.h>

#include "mapping/SavedMapping.h"
#include "mappingstore/RecordStore.h"

namespace pelkora {
namespace {

TEST(RecordFileTest, SavedMappingFieldsSurviveTheRecordFile) {
    SavedMapping mapping;
    mapping.title = "Clients 2026";
    mapping.mappingMode = MappingMode::byPosition;
    mapping.columnTitlesHash = -42;
    mapping.usageCount = 7;
    mapping.originalBundleVersion = "0.1";
    MappedContactProperty column;
    column.sourceFieldName = "E-Mail";
    mapping.mappedContactProperties = {column, column};

    Record record{std::string(kMappingRecordType),
                  {"A1B2", "Mappings"},
                  savedMappingRecordFields(mapping),
                  "tag"};
    const auto read = decodeRecordFile(encodeRecordFile(record), record.id);
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(read->recordType, "SavedMapping");
    EXPECT_EQ(read->id, record.id);
    const auto back = savedMappingFromRecordFields(read->fields);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(*back, mapping);
}

TEST(RecordFileTest, DamagedRecordsAreErrorsNamingTheRecord) {
    for (const std::string& bytes :
         {std::string("not a plist"),
          encodePropertyList(PropertyValue(std::int64_t{3}), PropertyListFormat::binary),
          encodePropertyList(PropertyValue(), PropertyListFormat::binary)}) {
        const auto read = decodeRecordFile(bytes, {"R9", "Mappings"});
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().kind, RecordStoreErrorKind::internalError);
        EXPECT_NE(read.error().message.find("“R9”"), std::string::npos) << read.error().message;
    }
    PropertyValue::Dictionary fields = {{"mappedContactProperties", PropertyValue::Data{1, 2, 3}}};
    EXPECT_FALSE(savedMappingFromRecordFields(fields));
}

}  // namespace
}  // namespace pelkora
