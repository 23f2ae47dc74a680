#pragma once

// The import page: where the records go (a container of the address book, or vCard files),
// the options of an import, the button that starts it, and what the last import did. The
// choices are the page model's and the settings'; the import itself runs in the session, with
// the window's progress sheet and outcome alert.

#include <QPointer>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace pelkora {
class ImportSession;
class ImportPage;
}  // namespace pelkora

namespace pelkora::gui {

class ImportPageWidget final : public QWidget {
    Q_OBJECT

  public:
    ImportPageWidget(ImportSession& session, ImportPage& page, QWidget* parent = nullptr);
    ~ImportPageWidget() override;

    // Shows the mode's options, the button's title and what the last import did.
    void refresh();

    QRadioButton* contactsModeButton() const { return contactsMode_; }
    QRadioButton* vCardsModeButton() const { return vCardsMode_; }
    QComboBox* containerPopUp() const { return containers_; }
    QCheckBox* oldDuplicatesBox() const { return oldDuplicates_; }
    QCheckBox* newDuplicatesBox() const { return newDuplicates_; }
    QCheckBox* notesBox() const { return addNotes_; }
    QLineEdit* notesField() const { return notesText_; }
    QCheckBox* removeGroupsBox() const { return removeGroups_; }
    QRadioButton* oneFileButton() const { return oneFile_; }
    QRadioButton* filePerContactButton() const { return filePerContact_; }
    QLabel* resultLabel() const { return result_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* startButton() const { return start_; }
    // The save panel or folder chooser of a vCard export while it is up.
    QFileDialog* destinationDialog() const { return destination_; }

  private:
    void buildContainerPopUp();
    void start();
    void chooseVCardDestination();
    void showResult();

    ImportSession& session_;
    ImportPage& page_;
    QLabel* header_;
    QWidget* modeRow_;
    QRadioButton* contactsMode_;
    QRadioButton* vCardsMode_;
    QStackedWidget* options_;
    QComboBox* containers_;
    QCheckBox* oldDuplicates_;
    QCheckBox* newDuplicates_;
    QCheckBox* addNotes_;
    QLineEdit* notesText_;
    QCheckBox* removeGroups_;
    QRadioButton* oneFile_;
    QRadioButton* filePerContact_;
    QLabel* result_;
    QPushButton* back_;
    QPushButton* start_;
    QPointer<QFileDialog> destination_;
};

}  // namespace pelkora::gui
