#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/SettingsStore.h"
#include "session/DateFormatsPageModel.h"

namespace pelkora {
namespace {

class DateFormatsPageModelTest : public ::testing::Test {
  protected:
    test::TemporaryDirectory folder_;
    SettingsStore settings_{folder_ / "settings.plist"};
    std::vector<DateFormat> custom_{{"dd.MM.", "de", true}};
    const std::vector<DateFormat> common_{{"y-M-d", "en", false}, {"d.M.y", "de", false}};
    DateFormatsPageModel model_{custom_, common_, settings_};

    std::vector<DateFormat> stored() { return DateFormat::unarchiveCustomFormats(settings_); }
};

TEST_F(DateFormatsPageModelTest, ListsCustomFormatsBeforeCommonFormats) {
    const auto rows = model_.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(rows[0].userDefined);
    EXPECT_EQ(rows[0].format, "dd.MM.");
    EXPECT_FALSE(rows[1].userDefined);
    EXPECT_EQ(rows[1].format, "y-M-d");
    EXPECT_EQ(rows[2].format, "d.M.y");
    EXPECT_FALSE(rows[0].language.empty());
    EXPECT_NE(rows[0].language, rows[1].language);
}

TEST_F(DateFormatsPageModelTest, BuiltInFormatsAreRefusedWithTheirTexts) {
    const auto editing = model_.beginEditing(1);
    ASSERT_FALSE(editing);
    EXPECT_EQ(refusalMessage(editing.error()), "Built-in date formats cannot be edited.");
    const auto removal = model_.remove(2);
    ASSERT_FALSE(removal);
    EXPECT_EQ(refusalMessage(removal.error()), "Built-in date formats cannot be removed.");
    EXPECT_EQ(refusalInformativeText(removal.error()),
              "Only your own custom date formats can be edited or removed.");
    EXPECT_EQ(model_.rowCount(), 3u);
    EXPECT_FALSE(settings_.hasStoredValue("CustomDateFormats"));
}

TEST_F(DateFormatsPageModelTest, RowsOutsideTheTableAreIgnored) {
    EXPECT_EQ(model_.beginEditing(3).error(), DateFormatRefusal::noSuchRow);
    EXPECT_EQ(model_.remove(7).error(), DateFormatRefusal::noSuchRow);
    EXPECT_EQ(refusalMessage(DateFormatRefusal::noSuchRow), "");
}

TEST_F(DateFormatsPageModelTest, AddingAppendsAUserDefinedFormatAndArchives) {
    auto draft = model_.beginAdding();
    EXPECT_EQ(draft.customIndex, std::nullopt);
    draft.format = "yyyy/MM/dd";
    draft.localeIdentifier = "en_GB";
    draft.description = "Slashed ISO";
    model_.save(draft);
    const std::vector<DateFormat> expected{{"dd.MM.", "de", true}, {"yyyy/MM/dd", "en_GB", true}};
    EXPECT_EQ(custom_, expected);
    EXPECT_EQ(stored(), expected);
    EXPECT_EQ(model_.rows()[1].format, "yyyy/MM/dd");
}

TEST_F(DateFormatsPageModelTest, EditingWritesIntoTheRecordAndArchives) {
    auto draft = model_.beginEditing(0);
    ASSERT_TRUE(draft);
    EXPECT_EQ(draft->format, "dd.MM.");
    draft->format = "d.M.";
    draft->localeIdentifier = "de_AT";
    model_.save(*draft);
    const std::vector<DateFormat> expected{{"d.M.", "de_AT", true}};
    EXPECT_EQ(custom_, expected);
    EXPECT_EQ(stored(), expected);
}

TEST_F(DateFormatsPageModelTest, RemovingDeletesTheCustomFormatAndArchives) {
    ASSERT_TRUE(model_.remove(0));
    EXPECT_TRUE(custom_.empty());
    EXPECT_TRUE(settings_.hasStoredValue("CustomDateFormats"));
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(model_.rowCount(), 2u);
}

TEST_F(DateFormatsPageModelTest, LiveTestReadsTheDraft) {
    DateFormatDraft draft;
    draft.format = "dd.MM.yyyy";
    draft.localeIdentifier = "de";
    draft.testText = "12.03.1980";
    const auto result = model_.test(draft);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->components, (contacts::DateComponents{1980, 3, 12, {}}));
    draft.localeIdentifier.reset();
    EXPECT_EQ(model_.test(draft).error(), DateParsingError::unknownLocale);
}

TEST_F(DateFormatsPageModelTest, LocaleChoicesCarryIdentifiersAndNames) {
    const auto choices = DateFormatsPageModel::localeChoices();
    ASSERT_FALSE(choices.empty());
    const auto german =
        std::find_if(choices.begin(), choices.end(),
                     [](const LocaleChoice& choice) { return choice.identifier == "de"; });
    ASSERT_NE(german, choices.end());
    EXPECT_FALSE(german->name.empty());
}

}  // namespace
}  // namespace pelkora
