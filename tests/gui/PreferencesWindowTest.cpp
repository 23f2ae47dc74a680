// The preferences window's date formats driven through its controls: the live test in the
// format sheet, a format added, edited and removed, the built-in formats refused, and the
// list kept in the settings (offscreen).

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>

#include "GuiTestMain.h"
#include "MainWindow.h"
#include "PreferencesWindow.h"
#include "addressbook/ContactAuthorization.h"
#include "mapping/DateFormat.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/ImportSession.h"
#include "support/Settings.h"

using namespace pelkora;
using namespace pelkora::gui;

namespace {

QString cell(const QTableWidget& table, int row, int column) {
    return table.item(row, column) ? table.item(row, column)->text() : QString();
}

}  // namespace

class PreferencesWindowTest final : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        settings_ = std::make_unique<SettingsStore>(
            std::filesystem::path(folder_->filePath("settings.plist").toStdString()));
        session_ = std::make_unique<ImportSession>(*settings_,
                                                   std::make_shared<AlwaysAuthorizedProvider>());
        window_ = std::make_unique<MainWindow>(*session_);
        session_->applicationDidFinishLaunching();
        preferences_ = window_->showPreferences();
        QVERIFY(preferences_);
    }

    void cleanup() {
        window_.reset();
        session_.reset();
        MainQueue::shared().drain();
        settings_.reset();
        folder_.reset();
    }

    void generalSettingsAreWrittenAsTheyChange() {
        QCheckBox* trustBoms = preferences_->settingBox(SettingKey::TrustBOMs);
        QVERIFY(trustBoms && trustBoms->isChecked());
        trustBoms->click();
        QVERIFY(!settings_->boolForKey(SettingKey::TrustBOMs));
        QCheckBox* extended =
            preferences_->settingBox(SettingKey::ShowExtendedRelevantRelationships);
        QVERIFY(extended && !extended->isChecked());
        extended->click();
        QVERIFY(settings_->boolForKey(SettingKey::ShowExtendedRelevantRelationships));

        // The note's layout only matters while unmapped columns go into the note.
        QCheckBox* capitals = preferences_->settingBox(SettingKey::FieldNameInNotesAllCaps);
        QVERIFY(capitals->isEnabled());
        preferences_->settingBox(SettingKey::AppendUnmappedFieldsToNotes)->click();
        QVERIFY(!capitals->isEnabled());
        QVERIFY(!settings_->boolForKey(SettingKey::AppendUnmappedFieldsToNotes));

        QLineEdit* terms = preferences_->companyTermsField();
        terms->setText(QStringLiteral("Firma, GmbH"));
        emit terms->editingFinished();
        QCOMPARE(settings_->stringForKey(SettingKey::CompanyTerms),
                 std::optional<std::string>("Firma, GmbH"));

        settings_->set(SettingKey::ShowMappingHint, PropertyValue(false));
        settings_->set(SettingKey::ShowShouldQuitContactsAppHint, PropertyValue(false));
        preferences_->resetWarningsButton()->click();
        QVERIFY(settings_->boolForKey(SettingKey::ShowMappingHint));
        QVERIFY(settings_->boolForKey(SettingKey::ShowShouldQuitContactsAppHint));
        QVERIFY(!preferences_->resetWarningsButton()->isEnabled());
    }

    void builtInFormatsAreListedAndRefused() {
        QTableWidget& table = *preferences_->dateFormatTable();
        QVERIFY(table.rowCount() > 3);
        QCOMPARE(cell(table, 0, 2), QStringLiteral("Built-in"));
        QVERIFY(!preferences_->editFormatButton()->isEnabled());
        table.selectRow(0);
        QVERIFY(preferences_->removeFormatButton()->isEnabled());
        const int before = table.rowCount();
        preferences_->removeFormatButton()->click();
        QVERIFY(preferences_->messageBox());
        QCOMPARE(preferences_->messageBox()->text().toStdString(),
                 std::string(refusalMessage(DateFormatRefusal::removeBuiltInFormat)));
        preferences_->messageBox()->accept();
        QCOMPARE(table.rowCount(), before);
        table.selectRow(0);
        preferences_->editFormatButton()->click();
        QTRY_VERIFY(preferences_->messageBox() &&
                    preferences_->messageBox()->text().toStdString() ==
                        refusalMessage(DateFormatRefusal::editBuiltInFormat));
        preferences_->messageBox()->accept();
    }

    void aFormatIsTestedAddedEditedAndRemoved() {
        QTableWidget& table = *preferences_->dateFormatTable();
        const int builtIn = table.rowCount();
        preferences_->addFormatButton()->click();
        DateFormatSheet* sheet = preferences_->formatSheet();
        QVERIFY(sheet);
        QVERIFY(!sheet->saveButton()->isEnabled());
        sheet->localePopUp()->setCurrentIndex(sheet->localePopUp()->findData("de"));
        QVERIFY(sheet->localePopUp()->currentIndex() > 0);
        QTest::keyClicks(sheet->formatField(), "d. MMMM yyyy");
        QTest::keyClicks(sheet->testField(), "24. Dezember 2026");
        const auto expected = testDateFormat("d. MMMM yyyy", "de", "24. Dezember 2026");
        QVERIFY(expected);
        QCOMPARE(sheet->resultLabel()->text().toStdString(), expected->displayText);
        sheet->testField()->setText(QStringLiteral("Heiligabend"));
        QCOMPARE(sheet->resultLabel()->text().toStdString(),
                 std::string(errorText(DateParsingError::parsingFailed)));
        QVERIFY(sheet->saveButton()->isEnabled());
        sheet->saveButton()->click();

        // Yours come first, and they are kept in the settings.
        QCOMPARE(table.rowCount(), builtIn + 1);
        QCOMPARE(cell(table, 0, 0), QStringLiteral("d. MMMM yyyy"));
        QCOMPARE(cell(table, 0, 2), QStringLiteral("Yours"));
        auto stored = DateFormat::unarchiveCustomFormats(*settings_);
        QCOMPARE(stored.size(), std::size_t{1});
        QCOMPARE(stored[0].localeIdentifier, std::optional<std::string>("de"));

        table.selectRow(0);
        preferences_->editFormatButton()->click();
        sheet = preferences_->formatSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->formatField()->text(), QStringLiteral("d. MMMM yyyy"));
        sheet->formatField()->setText(QStringLiteral("dd.MM.yy"));
        sheet->saveButton()->click();
        QCOMPARE(cell(table, 0, 0), QStringLiteral("dd.MM.yy"));
        QCOMPARE(table.rowCount(), builtIn + 1);
        QCOMPARE(session_->customDateFormats().at(0).format, std::string("dd.MM.yy"));

        table.selectRow(0);
        preferences_->removeFormatButton()->click();
        QCOMPARE(table.rowCount(), builtIn);
        QVERIFY(DateFormat::unarchiveCustomFormats(*settings_).empty());
    }

  private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<ImportSession> session_;
    std::unique_ptr<MainWindow> window_;
    PreferencesWindow* preferences_ = nullptr;
};

int main(int argc, char* argv[]) {
    return pelkora::gui::test::runWidgetTests<PreferencesWindowTest>(argc, argv);
}

#include "PreferencesWindowTest.moc"
