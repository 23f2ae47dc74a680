#include <gtest/gtest.h>

#include "addressbook/ContactKeys.h"
#include "mapping/MappedContactProperty.h"
#include "mapping/StringMap.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;

SuggestedContactProperty phoneTarget(std::string_view label) {
    auto target = SuggestedContactProperty::target(ContactKey::phoneNumbers);
    target.systemLabel = std::string(label);
    return target;
}

SuggestedContactProperty additionalNote() {
    SuggestedContactProperty target;
    target.clearAll();
    target.propertyKey = std::string(CustomPropertyKeys::AdditionalNote);
    return target;
}

TEST(MappedContactProperty, FreshRecordMapsNowhereAndIsIgnored) {
    const MappedContactProperty property;
    EXPECT_EQ(property.columnIndex, -1);
    EXPECT_FALSE(property.formattedColumnIndex);
    EXPECT_EQ(property.contactProperty, SuggestedContactProperty{});
    EXPECT_TRUE(property.sourceFieldName.empty());
    EXPECT_TRUE(property.sourceFieldContent.empty());
    EXPECT_FALSE(property.sourceFieldImageData);
    EXPECT_TRUE(property.mappingHints.empty());
    EXPECT_FALSE(property.mappedManuallyByUser);
    EXPECT_FALSE(property.isCustomMapping);
    EXPECT_EQ(property.mappingStatus(), MappingStatus::ignored);
    EXPECT_EQ(property.statusImageName(), "mapping-status-ignored");
    EXPECT_TRUE(property.isDimmed());
}

struct StatusCase {
    const char* name;
    SuggestedContactProperty target;
    bool custom;
    std::string content;
    bool dateHint;
    MappingStatus status;
    std::string_view image;
};

TEST(MappedContactProperty, StatusFollowsTheConditionsInOrder) {
    const auto birthday = SuggestedContactProperty::target(ContactKey::birthday);
    const std::vector<StatusCase> cases = {
        {"hint with content", birthday, false, "31.02.", true, MappingStatus::needsAttention,
         "mapping-status-needs-attention"},
        {"hint beats custom", birthday, true, "31.02.", true, MappingStatus::needsAttention,
         "mapping-status-needs-attention"},
        {"hint without content", birthday, false, "", true, MappingStatus::assigned,
         "mapping-status-assigned"},
        {"note", additionalNote(), false, "x", false, MappingStatus::append,
         "mapping-status-append"},
        {"note, custom", additionalNote(), true, "x", false, MappingStatus::appendCustom,
         "mapping-status-append-custom"},
        {"valid", phoneTarget(Label::home), false, "", false, MappingStatus::assigned,
         "mapping-status-assigned"},
        {"valid, custom", phoneTarget(Label::home), true, "", false, MappingStatus::assignedCustom,
         "mapping-status-assigned-custom"},
        {"phone without label", SuggestedContactProperty::target(ContactKey::phoneNumbers), false,
         "", false, MappingStatus::ignored, "mapping-status-ignored"},
        {"invalid, custom", SuggestedContactProperty{}, true, "", false,
         MappingStatus::ignoredCustom, "mapping-status-ignored-custom"},
    };
    for (const auto& c : cases) {
        MappedContactProperty property;
        property.contactProperty = c.target;
        property.isCustomMapping = c.custom;
        property.sourceFieldContent = c.content;
        if (c.dateHint) property.mappingHints.insert(MappingHint::inconvertibleDateString);
        EXPECT_EQ(property.mappingStatus(), c.status) << c.name;
        EXPECT_EQ(property.statusImageName(), c.image) << c.name;
    }
}

TEST(MappedContactProperty, OnlyInvalidTargetsAreDimmed) {
    MappedContactProperty property;
    property.contactProperty = phoneTarget(Label::work);
    EXPECT_FALSE(property.isDimmed());
    property.contactProperty.systemLabel.reset();
    EXPECT_TRUE(property.isDimmed());
    property.contactProperty = additionalNote();
    EXPECT_FALSE(property.isDimmed());
}

TEST(MappedContactProperty, ArchiveKeepsOnlyTitleAndTarget) {
    MappedContactProperty property;
    property.columnIndex = 4;
    property.formattedColumnIndex = "E";
    property.contactProperty = phoneTarget(Label::mobile);
    property.contactProperty.localizedString = "Handy";
    property.contactProperty.ISOLanguageCode = "de";
    property.sourceFieldName = "Handy";
    property.sourceFieldContent = "0171 1234567";
    property.sourceFieldImageData = std::vector<std::uint8_t>{1, 2, 3};
    property.mappingHints.insert(MappingHint::inconvertibleDateString);
    property.mappedManuallyByUser = true;
    property.isCustomMapping = true;

    const ArchiveValue archived = archivedMappedProperty(property);
    const auto* object = archived.objectValue();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->className, "MappedContactProperty");
    std::vector<std::string> keys;
    for (const auto& [key, value] : object->fields) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"contactProperty", "sourceFieldName"}));

    MappedContactProperty expected;
    expected.sourceFieldName = "Handy";
    expected.contactProperty = property.contactProperty;
    EXPECT_EQ(mappedPropertyFromArchive(*object), expected);
}

TEST(MappedContactProperty, ArchiveSurvivesEncodingAsBytes) {
    MappedContactProperty property;
    property.sourceFieldName = "E-mail 2 Address";
    property.contactProperty = SuggestedContactProperty::target(ContactKey::emailAddresses);
    property.contactProperty.systemLabel = std::string(Label::other);

    KeyedArchiveClassMap classes;
    classes.classes = {"MappedContactProperty", "SuggestedContactProperty"};
    auto decoded =
        decodeKeyedArchive(encodeKeyedArchive(archivedMappedProperty(property)), classes);
    ASSERT_TRUE(decoded);
    const auto* object = decoded->objectValue();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(mappedPropertyFromArchive(*object), property);
}

TEST(MappedContactProperty, DecodingMissingOrMistypedFieldsKeepsInitialValues) {
    ArchivedObject object;
    object.className = "MappedContactProperty";
    object.fields["sourceFieldName"] = ArchiveValue(std::int64_t{7});
    object.fields["columnIndex"] = ArchiveValue(ArchiveValue::InlineInteger{3});
    EXPECT_EQ(mappedPropertyFromArchive(object), MappedContactProperty{});
}

}  // namespace
}  // namespace pelkora
