#pragma once

// The preferences window. Date Formats lists the user's formats, then the built-in ones;
// Add… and Edit… open the format sheet (description, pattern, language and a live test of a
// sample text), Remove takes a custom format away, and built-in formats are refused with
// the page's alert. General holds the reading, mapping and note settings, the words that
// mark a company and the reset of the warnings; Sync chooses where saved mappings are shared
// (a folder a sync tool keeps in step, or a WebDAV server) and switches sharing on or off;
// Diagnostics opens the runtime log.

#include <QDialog>
#include <QPointer>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "AddStoreSheet.h"
#include "mappingstore/webdav/SyncSetup.h"
#include "session/DateFormatsPageModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTabWidget;

namespace pelkora {
class ImportSession;
}

namespace pelkora::gui {

class MappingSharing;

// The sheet that adds or edits one custom format; the test runs on every change.
class DateFormatSheet final : public QDialog {
    Q_OBJECT

  public:
    DateFormatSheet(const DateFormatsPageModel& model, DateFormatDraft draft, QWidget* parent);

    DateFormatDraft draft() const;
    QLineEdit* formatField() const { return format_; }
    QComboBox* localePopUp() const { return locale_; }
    QLineEdit* testField() const { return test_; }
    QLabel* resultLabel() const { return result_; }
    QPushButton* saveButton() const { return save_; }

  private:
    void runTest();

    const DateFormatsPageModel& model_;
    std::optional<std::size_t> customIndex_;
    QLineEdit* description_;
    QLineEdit* format_;
    QComboBox* locale_;
    QLineEdit* test_;
    QLabel* result_;
    QPushButton* save_;
};

class PreferencesWindow final : public QDialog {
    Q_OBJECT

  public:
    // The session must outlive the window.
    explicit PreferencesWindow(ImportSession& session, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }
    // The General tab's box for the setting; null for a key it does not show.
    QCheckBox* settingBox(std::string_view key) const;
    QLineEdit* companyTermsField() const { return companyTerms_; }
    // The address book imports go to (from the next start) and its default container.
    QComboBox* storePopUp() const { return store_; }
    QComboBox* containerPopUp() const { return container_; }
    QComboBox* logLevelPopUp() const { return logLevel_; }
    QPushButton* addStoreButton() const { return addStore_; }
    QPushButton* forgetStoreButton() const { return removeStore_; }
    // Asks whether to forget the named store chosen in the pop-up (window-modal).
    void confirmForgetStore();
    // The Add Address Book sheet shown now; null when none is.
    AddStoreSheet* addStoreSheet() const { return addStoreSheet_; }
    QPushButton* resetWarningsButton() const { return resetWarnings_; }
    // The Sync tab's controls.
    QCheckBox* sharingBox() const { return sharingBox_; }
    QRadioButton* folderChoice() const { return folderChoice_; }
    QRadioButton* webDavChoice() const { return webDavChoice_; }
    QLineEdit* folderField() const { return folder_; }
    QLineEdit* urlField() const { return url_; }
    QLineEdit* userField() const { return user_; }
    QLineEdit* passwordField() const { return password_; }
    QLineEdit* caFileField() const { return caFile_; }
    QLabel* sharingStatus() const { return sharingStatus_; }
    MappingSharing* sharing() const { return sharing_; }
    QTableWidget* dateFormatTable() const { return dateFormats_; }
    QPushButton* addFormatButton() const { return add_; }
    QPushButton* editFormatButton() const { return edit_; }
    QPushButton* removeFormatButton() const { return remove_; }
    // The format sheet or the refusal shown now; null when none is.
    DateFormatSheet* formatSheet() const { return sheet_; }
    QMessageBox* messageBox() const { return messageBox_; }

    // Reads the formats again.
    void reloadDateFormats();
    // The buttons' actions on the selected row (window-modal sheets, return at once).
    void addFormat();
    void editFormat();
    void removeFormat();

  private:
    QWidget* makeGeneralTab();
    QWidget* makeAddressBookBox(QWidget* parent);
    void fillContainers();
    void updateRemoveStore();
    QWidget* makeDateFormatsTab();
    QWidget* makeSyncTab();
    QWidget* makeDiagnosticsTab();
    // The place the Sync tab's fields name.
    SyncConfiguration placeInFields() const;
    void updateSyncControls();
    std::optional<std::size_t> selectedRow() const;
    void openSheet(DateFormatDraft draft);
    void refuse(DateFormatRefusal refusal);

    ImportSession& session_;
    DateFormatsPageModel dateFormatsModel_;
    QTabWidget* tabs_;
    std::vector<std::pair<std::string_view, QCheckBox*>> settingBoxes_;
    QLineEdit* companyTerms_ = nullptr;
    QComboBox* store_ = nullptr;
    QComboBox* container_ = nullptr;
    QComboBox* logLevel_ = nullptr;
    QPushButton* addStore_ = nullptr;
    QPushButton* removeStore_ = nullptr;
    QPointer<AddStoreSheet> addStoreSheet_;
    QPushButton* resetWarnings_ = nullptr;
    QTableWidget* dateFormats_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* remove_ = nullptr;
    MappingSharing* sharing_ = nullptr;
    QCheckBox* sharingBox_ = nullptr;
    QRadioButton* folderChoice_ = nullptr;
    QRadioButton* webDavChoice_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QLineEdit* url_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* caFile_ = nullptr;
    QLabel* sharingStatus_ = nullptr;
    QPointer<DateFormatSheet> sheet_;
    QPointer<QMessageBox> messageBox_;
};

}  // namespace pelkora::gui
