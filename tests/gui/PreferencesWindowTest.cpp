// The preferences window's date formats driven through its controls: the live test in the
// format sheet, a format added, edited and removed, the built-in formats refused, and the
// list kept in the settings (offscreen).

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>

#include "AddStoreSheet.h"
#include "GuiTestMain.h"
#include "MainWindow.h"
#include "MappingSharing.h"
#include "MappingsWindow.h"
#include "PreferencesWindow.h"
#include "addressbook/ContactAuthorization.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/stores/StoreLocation.h"
#include "mapping/DateFormat.h"
#include "mapping/SavedMapping.h"
#include "mappingstore/MappingStore.h"
#include "mappingstore/webdav/SyncSetup.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/ImportSession.h"
#include "support/Logger.h"
#include "support/Settings.h"

using namespace pelkora;
using namespace pelkora::gui;

namespace {

// Chooses an item as the user does, so that the pop-up's "activated" reaches the window.
void chooseItem(QComboBox* popUp, int index) {
    popUp->setCurrentIndex(index);
    emit popUp->activated(index);
}

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
        auto book =
            contacts::SqliteContactStore::open(folder_->filePath("book.sqlite").toStdString());
        QVERIFY(book);
        session_->setContactStore(std::shared_ptr<contacts::ContactStore>(std::move(*book)));
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

        // The address book for the next start, and the container the import page chooses.
        QComboBox* store = preferences_->storePopUp();
        QCOMPARE(store->currentIndex(), 0);
        chooseItem(store, store->findData(QStringLiteral("eds:")));
        QCOMPARE(settings_->stringForKey(SettingKey::ContactStore),
                 std::optional<std::string>("eds:"));
        chooseItem(store, 0);
        QVERIFY(!settings_->hasStoredValue(SettingKey::ContactStore));
        QComboBox* container = preferences_->containerPopUp();
        QCOMPARE(container->count(), 1);
        chooseItem(container, 0);
        QCOMPARE(settings_->stringForKey(SettingKey::SelectedContainerID),
                 std::optional<std::string>(container->itemData(0).toString().toStdString()));

        settings_->set(SettingKey::ShowMappingHint, PropertyValue(false));
        settings_->set(SettingKey::ShowShouldQuitContactsAppHint, PropertyValue(false));
        preferences_->resetWarningsButton()->click();
        QVERIFY(settings_->boolForKey(SettingKey::ShowMappingHint));
        QVERIFY(settings_->boolForKey(SettingKey::ShowShouldQuitContactsAppHint));
        QVERIFY(!preferences_->resetWarningsButton()->isEnabled());

        // The log level applies at once and is kept for the next start.
        chooseItem(preferences_->logLevelPopUp(), 0);
        QCOMPARE(settings_->stringForKey(SettingKey::LogLevel),
                 std::optional<std::string>("Errors"));
        QCOMPARE(Logger::shared().level(), LogLevel::errors);
        chooseItem(preferences_->logLevelPopUp(), 2);
        QCOMPARE(Logger::shared().level(), LogLevel::everything);
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

    // Another computer shares "Club" through the folder; this one shares its "Shop" there too
    // and then has both, and keeps both in its own file when it stops sharing.
    void sharingThroughAFolderBringsTheOtherComputersMappings() {
        const std::filesystem::path syncFolder = folder_->filePath("Sync").toStdString();
        std::filesystem::create_directories(syncFolder);
        SyncConfiguration place;
        place.kind = SyncConfiguration::Kind::folder;
        place.folder = syncFolder;
        {
            SettingsStore otherSettings(folder_->filePath("other.plist").toStdString());
            SavedMappingStore otherLocal(folder_->filePath("other/SavedMappings").toStdString());
            MappingStore other(otherLocal);
            QVERIFY(other.save(mapping("Club")));
            QVERIFY(enableSharing(other, otherSettings, place, {}));
        }
        QVERIFY(session_->mappingStore().save(mapping("Shop")));

        MappingsWindow* mappings = window_->showMappings();
        QVERIFY(!mappings->sharingBox()->isEnabled());      // no place set up yet
        QVERIFY(!preferences_->sharingBox()->isEnabled());  // no place given yet
        preferences_->folderChoice()->setChecked(true);
        preferences_->folderField()->setText(QString::fromStdString(syncFolder.string()));
        QVERIFY(preferences_->sharingBox()->isEnabled());
        preferences_->sharingBox()->click();
        QCOMPARE(preferences_->sharingBox()->text(), QStringLiteral("Enabling sharing…"));
        QVERIFY(!preferences_->folderField()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!preferences_->sharing()->isSwitching(), 10000);
        QVERIFY(preferences_->sharingBox()->isChecked());
        QCOMPARE(preferences_->sharingBox()->text(),
                 QStringLiteral("Share mappings between your computers"));
        QVERIFY(session_->mappingStore().isSharedMode());
        QVERIFY(session_->mappingStore().findByTitle("Club"));
        QVERIFY(
            preferences_->sharingStatus()->text().contains(QStringLiteral("Sharing 2 mappings")));
        QVERIFY(settings_->boolForKey(SettingKey::ShareMappings));
        QVERIFY(mappings->sharingBox()->isChecked());
        QCOMPARE(mappings->table()->rowCount(), 2);

        preferences_->sharingBox()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!preferences_->sharing()->isSwitching(), 10000);
        QVERIFY(!preferences_->sharingBox()->isChecked());
        QVERIFY(!session_->mappingStore().isSharedMode());
        QVERIFY(SavedMappingStore().findByTitle("Club"));
        QVERIFY(preferences_->folderField()->isEnabled());
        QVERIFY(preferences_->sharingStatus()->text().startsWith(QStringLiteral("Not sharing")));
    }

    // Add Address Book names a store as "pelkora stores add" does, after trying it; a bad name
    // or an unreachable server is said in the sheet and nothing is named.
    void addAddressBookTriesAndNamesTheStore() {
        preferences_->addStoreButton()->click();
        AddStoreSheet* sheet = preferences_->addStoreSheet();
        QVERIFY(sheet);
        sheet->nameField()->setText(QStringLiteral("work:old"));
        sheet->folderField()->setText(folder_->filePath("cards"));
        QVERIFY(!sheet->addStore());
        QVERIFY(sheet->problemLabel()->text().contains(QStringLiteral("“:”")));

        sheet->kindPopUp()->setCurrentIndex(AddStoreSheet::cardDavKind);
        sheet->nameField()->setText(QStringLiteral("work"));
        sheet->urlField()->setText(QStringLiteral("https://127.0.0.1:1/dav/"));
        QVERIFY(!sheet->addStore());
        QVERIFY(!sheet->problemLabel()->text().isEmpty());
        QVERIFY(!NamedStores::load()->uriOf("work"));

        sheet->kindPopUp()->setCurrentIndex(AddStoreSheet::vdirKind);
        sheet->nameField()->setText(QStringLiteral("cards"));
        QVERIFY(sheet->addStore());
        QVERIFY(std::filesystem::is_directory(folder_->filePath("cards").toStdString()));
        QCOMPARE(NamedStores::load()->uriOf("cards"),
                 std::optional<std::string>("vdir:" + folder_->filePath("cards").toStdString()));
        QCOMPARE(settings_->stringForKey(SettingKey::ContactStore),
                 std::optional<std::string>("cards"));
        QCOMPARE(preferences_->storePopUp()->currentData().toString(), QStringLiteral("cards"));

        // Forgotten again after asking: out of the list, and imports go to the own book.
        QVERIFY(preferences_->forgetStoreButton()->isEnabled());
        preferences_->forgetStoreButton()->click();
        QMessageBox* question = nullptr;
        QTRY_VERIFY((question = preferences_->findChild<QMessageBox*>()) && question->isVisible());
        for (QAbstractButton* button : question->buttons()) {
            if (question->buttonRole(button) == QMessageBox::DestructiveRole) button->click();
        }
        QTRY_VERIFY(!NamedStores::load()->uriOf("cards"));
        QVERIFY(!settings_->stringForKey(SettingKey::ContactStore));
        QCOMPARE(preferences_->storePopUp()->currentData().toString(), QString());
        QVERIFY(preferences_->storePopUp()->findData(QStringLiteral("cards")) < 0);
        QVERIFY(!preferences_->forgetStoreButton()->isEnabled());
        QVERIFY(std::filesystem::is_directory(folder_->filePath("cards").toStdString()));
    }

    // A folder that cannot be used is refused with the alert, and sharing stays off.
    void aPlaceThatCannotBeUsedIsRefused() {
        preferences_->folderField()->setText(folder_->filePath("settings.plist"));
        preferences_->sharingBox()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!preferences_->sharing()->isSwitching(), 10000);
        QVERIFY(!preferences_->sharingBox()->isChecked());
        QVERIFY(preferences_->messageBox());
        QVERIFY(!settings_->boolForKey(SettingKey::ShareMappings));
        preferences_->messageBox()->accept();
    }

  private:
    static SavedMapping mapping(std::string title) {
        SavedMapping made;
        made.title = std::move(title);
        MappedContactProperty entry;
        entry.sourceFieldName = "Mobil";
        made.mappedContactProperties = {entry};
        return made;
    }

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
