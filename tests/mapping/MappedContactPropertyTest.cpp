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

MappedContactProperty columnTo(std::int64_t column, std::string title, std::string_view key) {
    MappedContactProperty entry;
    entry.columnIndex = column;
    entry.formattedColumnIndex = std::to_string(column + 1);
    entry.sourceFieldName = std::move(title);
    entry.contactProperty = SuggestedContactProperty::target(key);
    return entry;
}

TEST(SharedTargetWarnings, SingleValuedTargetsOfSeveralColumnsAreNamed) {
    std::vector<MappedContactProperty> list = {
        columnTo(0, "Notes", ContactKey::note),
        columnTo(1, "Name", ContactKey::givenName),
        columnTo(2, "Given Name", ContactKey::givenName),
        columnTo(3, "Remarks", ContactKey::note),  // note columns are appended, no warning
        columnTo(4, "Mobile", ContactKey::phoneNumbers),
        columnTo(5, "Job", ContactKey::jobTitle),
        columnTo(6, "Position", ContactKey::jobTitle),
        columnTo(7, "Role", ContactKey::jobTitle),
        columnTo(8, "Born", ContactKey::birthday),
        columnTo(9, "Birthday", ContactKey::birthday),
    };
    list[4].contactProperty.systemLabel = std::string(Label::mobile);
    list.push_back(list[4]);
    list.back().columnIndex = 10;  // phone numbers take many columns
    list.push_back(columnTo(2, "Given Name", ContactKey::familyName));  // not the column's first
    list.push_back(columnTo(11, "Spare", ContactKey::familyName));

    const auto warnings = sharedTargetWarnings(list);
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0].kind, SharedTargetWarning::Kind::sharedTarget);
    EXPECT_EQ(warnings[0].entries, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(warnings[0].message,
              "columns 2 “Name” and 3 “Given Name” both go to First name; the first non-empty "
              "value is kept, the other goes into the note");
    EXPECT_EQ(warnings[1].entries, (std::vector<std::size_t>{5, 6, 7}));
    EXPECT_EQ(warnings[1].message,
              "columns 6 “Job”, 7 “Position” and 8 “Role” all go to Job title; the first "
              "non-empty value is kept, the others go into the note");
    EXPECT_EQ(warnings[2].entries, (std::vector<std::size_t>{8, 9}));

    // Ignored columns and columns without a title.
    list[2].contactProperty.clearAll();
    list[6].sourceFieldName.clear();
    list[6].formattedColumnIndex = "G";
    const auto fewer = sharedTargetWarnings(list);
    ASSERT_EQ(fewer.size(), 2u);
    EXPECT_EQ(fewer[0].message,
              "columns 6 “Job”, G and 8 “Role” all go to Job title; the first non-empty value "
              "is kept, the others go into the note");
}

TEST(SharedTargetWarnings, FullNameBesideTheNamePartsIsNamed) {
    const std::vector<MappedContactProperty> list = {
        columnTo(0, "Title", ContactKey::namePrefix),  // a prefix column is no such part
        columnTo(1, "Given Name", ContactKey::givenName),
        columnTo(2, "Name", CustomPropertyKeys::FullName),
        columnTo(3, "Family Name", ContactKey::familyName),
    };
    const auto warnings = sharedTargetWarnings(list);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].kind, SharedTargetWarning::Kind::fullNameBesideNameParts);
    EXPECT_EQ(warnings[0].entries, (std::vector<std::size_t>{2, 1, 3}));
    EXPECT_EQ(warnings[0].message,
              "column 3 “Name” goes to Full Name and gives only the name parts that columns 2 "
              "“Given Name” and 4 “Family Name” leave empty; a full name that disagrees with "
              "them goes into the note");
    EXPECT_TRUE(sharedTargetWarnings({list[0], list[2]}).empty());
}

TEST(SuggestedContactProperty, SingleValuedTargets) {
    for (std::string_view key :
         {ContactKey::givenName, ContactKey::familyName, ContactKey::organizationName,
          ContactKey::jobTitle, ContactKey::birthday, CustomPropertyKeys::FullName}) {
        EXPECT_TRUE(SuggestedContactProperty::target(key).isSingleValued()) << key;
    }
    for (std::string_view key :
         {ContactKey::note, CustomPropertyKeys::AdditionalNote, ContactKey::phoneNumbers,
          CustomPropertyKeys::Group, ContactKey::dates, CustomPropertyKeys::UID}) {
        EXPECT_FALSE(SuggestedContactProperty::target(key).isSingleValued()) << key;
    }
    EXPECT_FALSE(SuggestedContactProperty{}.isSingleValued());
}

}  // namespace
}  // namespace pelkora
