#pragma once

// The mappings window: the saved mappings as a table sorted by title, or the empty-state text
// when there are none. A title is renamed in place; Delete asks first; Export writes the
// selected mappings to one file through the save panel; Import merges a file's mappings. Each
// action goes through the mappings window model, and the table is read again after it and
// whenever the mapping store announces a change (another program, a sync). With a session, the
// window also has the sharing checkbox, usable once a sync folder or WebDAV server is set up.

#include <QDialog>
#include <QPointer>
#include <memory>
#include <vector>

#include "session/MappingsWindowModel.h"

class QCheckBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class QTableWidgetItem;

namespace pelkora {
class ImportSession;
class MappingStore;
}  // namespace pelkora

namespace pelkora::gui {

class MappingSharing;

class MappingsWindow final : public QDialog {
    Q_OBJECT

  public:
    // The store must outlive the window; the window takes the store's change announcement
    // while it is open.
    explicit MappingsWindow(MappingStore& store, QWidget* parent = nullptr);
    // The session's mappings, with the sharing checkbox; the session must outlive the window.
    explicit MappingsWindow(ImportSession& session, QWidget* parent = nullptr);
    ~MappingsWindow() override;

    // Reads the mappings again and shows them, keeping the selection by uuid.
    void reload();

    // The selected rows, in table order.
    std::vector<std::size_t> selectedRows() const;
    // Asks whether to delete the selected mappings (window-modal, returns at once).
    void confirmDelete();
    // Writes the selected mappings to the file; a failure is shown in an alert.
    bool exportSelection(const QString& file);
    // Merges the file's mappings; a file that cannot be read is shown in an alert.
    bool importFrom(const QString& file);

    QTableWidget* table() const { return table_; }
    QLabel* emptyLabel() const { return emptyLabel_; }
    QPushButton* importButton() const { return import_; }
    QPushButton* exportButton() const { return export_; }
    QPushButton* deleteButton() const { return delete_; }
    // Null without a session.
    QCheckBox* sharingBox() const { return sharingBox_; }
    // The question or alert shown now; null when none is.
    QMessageBox* messageBox() const { return messageBox_; }

  private:
    MappingsWindow(MappingStore& store, ImportSession* session, QWidget* parent);
    void chooseExportFile();
    void chooseImportFile();
    void titleEdited(QTableWidgetItem* item);
    void updateButtons();
    // Adds the row to the selection.
    void selectRow(int row);
    void showError(const QString& heading, const std::string& text);

    MappingStore& store_;
    MappingsWindowModel model_;
    std::vector<MappingsWindowRow> rows_;
    bool filling_ = false;
    QStackedWidget* content_;
    QTableWidget* table_;
    QLabel* emptyLabel_;
    QPushButton* import_;
    QPushButton* export_;
    QPushButton* delete_;
    QCheckBox* sharingBox_ = nullptr;
    MappingSharing* sharing_ = nullptr;
    QPointer<QMessageBox> messageBox_;
};

}  // namespace pelkora::gui
