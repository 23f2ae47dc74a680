// The mappings window's model: rows, rename, delete, export and import through the store.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "session/MappingsWindowModel.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;

class MappingsWindowModelTest : public ::testing::Test {
  protected:
    SavedMapping mapping(std::string title, MappingMode mode, std::string columnTitle) {
        SavedMapping made;
        made.title = std::move(title);
        made.mappingMode = mode;
        MappedContactProperty entry;
        entry.sourceFieldName = std::move(columnTitle);
        entry.contactProperty = SuggestedContactProperty::target(ContactKey::phoneNumbers);
        entry.contactProperty.setLabel(Label::mobile);
        made.mappedContactProperties = {entry};
        EXPECT_TRUE(store.save(made));
        return made;
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> titles;
        for (const auto& row : model.rows()) titles.push_back(row.title);
        return titles;
    }

    test::TemporaryDirectory folder;
    SavedMappingStore store{folder.path() / "SavedMappings"};
    MappingStore mappings{store};
    MappingsWindowModel model{mappings};
};

TEST_F(MappingsWindowModelTest, RowsRenameAndDeleteGoThroughTheStore) {
    EXPECT_TRUE(model.isEmpty());
    EXPECT_EQ(MappingsWindowModel::emptyStateText(), "No saved mappings.");
    const auto bank = mapping("bank", MappingMode::byPosition, "");
    mapping("Shop", MappingMode::byName, "Mobil");
    ASSERT_EQ(model.rows().size(), 2u);
    EXPECT_EQ(model.rows()[0], (MappingsWindowRow{"bank", MappingMode::byPosition, 1, 0,
                                                  bank.updatedOn, bank.uuid}));

    ASSERT_TRUE(model.rename(0, "Yearly bank"));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Shop", "Yearly bank"}));
    EXPECT_FALSE(model.rename(1, ""));
    EXPECT_FALSE(model.rename(5, "Nowhere"));
    EXPECT_EQ(SavedMappingStore(store.file()).findByUuid(bank.uuid)->title, "Yearly bank");

    EXPECT_EQ(MappingsWindowModel::deleteConfirmation(),
              (Confirmation{"Do you really want to delete the selected mappings?",
                            "This cannot be undone.",
                            {"Delete", "Cancel"}}));
    ASSERT_TRUE(model.remove({1}));
    EXPECT_EQ(titles(), std::vector<std::string>{"Shop"});
    EXPECT_EQ(SavedMappingStore(store.file()).mappings().size(), 1u);
}

TEST_F(MappingsWindowModelTest, ExportedMappingsAreImportedWithTheirTitlesAndUuids) {
    const auto bank = mapping("Bank", MappingMode::byPosition, "");
    const auto shop = mapping("Shop", MappingMode::byName, "Mobil");
    EXPECT_EQ(MappingsWindowModel::suggestedExportFileName(2), "2 Mappings.zubmapping");
    const auto file = folder.path() / MappingsWindowModel::suggestedExportFileName(2);
    EXPECT_FALSE(model.exportRows({}, file));
    ASSERT_TRUE(model.exportRows({0, 1}, file));

    // Another user's store: both are added; imported again, a renamed one takes the file's title.
    SavedMappingStore other(folder.path() / "other" / "SavedMappings");
    MappingStore otherMappings(other);
    MappingsWindowModel otherModel(otherMappings);
    auto imported = otherModel.importFile(file);
    ASSERT_TRUE(imported) << imported.error();
    ASSERT_EQ(other.mappings().size(), 2u);
    EXPECT_EQ(other.findByUuid(shop.uuid)->title, "Shop");
    EXPECT_EQ(other.findByUuid(shop.uuid)->mappedContactProperties[0].contactProperty.label(),
              std::string(Label::mobile));
    EXPECT_EQ(other.findByUuid(bank.uuid)->mappingMode, MappingMode::byPosition);
    ASSERT_TRUE(otherModel.rename(1, "My shop"));
    ASSERT_TRUE(otherModel.importFile(file));
    EXPECT_EQ(other.mappings().size(), 2u);
    EXPECT_EQ(other.findByUuid(shop.uuid)->title, "Shop");

    // A file of another kind names the file and merges nothing.
    test::writeFile(folder.path() / "people.csv", "Name,Phone\nAda,1\n");
    auto refused = otherModel.importFile(folder.path() / "people.csv");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("people.csv"), std::string::npos) << refused.error();
    EXPECT_EQ(other.mappings().size(), 2u);
}

}  // namespace
}  // namespace pelkora
