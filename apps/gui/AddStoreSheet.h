#pragma once

// "Add Address Book…": names a folder of vCard files, the desktop's address books or an
// account on a CardDAV server as a store, as "pelkora stores add" does. A CardDAV account is
// tried before it is named (a typing error, a wrong password or certificate shows at once, in
// the sheet) and its password goes into the Secret Service; a folder is made when missing.

#include <QDialog>
#include <optional>
#include <string>

#include "addressbook/stores/StoreLocation.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace pelkora::gui {

class AddStoreSheet final : public QDialog {
    Q_OBJECT

  public:
    enum Kind { vdirKind, cardDavKind, edsKind };

    // Deletes itself when closed.
    explicit AddStoreSheet(QWidget* parent);

    QComboBox* kindPopUp() const { return kind_; }
    QLineEdit* nameField() const { return name_; }
    QLineEdit* folderField() const { return folder_; }
    QLineEdit* urlField() const { return url_; }
    QLineEdit* userField() const { return user_; }
    QLineEdit* passwordField() const { return password_; }
    QLineEdit* caFileField() const { return caFile_; }
    QCheckBox* groupCardsBox() const { return groupCards_; }
    QLabel* problemLabel() const { return problem_; }
    QPushButton* addButton() const { return add_; }

    // Tries and names the store; on success the sheet closes and storeAdded is sent, else the
    // problem shows in the sheet. Returns whether it was added.
    bool addStore();

  signals:
    void storeAdded(const QString& name, const QString& uri);

  private:
    // The store the fields describe, or why they describe none.
    Expected<StoreLocation, std::string> locationInFields() const;
    void showProblem(const QString& text);

    QComboBox* kind_;
    QLineEdit* name_;
    QStackedWidget* details_;
    QLineEdit* folder_;
    QLineEdit* url_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* caFile_;
    QCheckBox* groupCards_;
    QLabel* problem_;
    QPushButton* add_;
};

}  // namespace pelkora::gui
