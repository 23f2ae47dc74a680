#pragma once

// The Mapping menu and its options sheet. "Map with Options…" opens a window-modal sheet with
// the automatic mapping's settings; OK stores them and maps the columns again, Cancel leaves
// the settings as they were. "Clear Mapping" asks first, then clears every target. The menu
// works on the field-mapping page shown in the window and is disabled on the other pages.
// "Save Mapping…" stores the current mapping under a title the sheet proposes; "Apply Saved
// Mapping" lists the stored mappings by title and applies the one chosen.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;

namespace pelkora {
class FieldMappingPage;
class ImportSession;
}  // namespace pelkora

namespace pelkora::gui {

class MainWindow;

class MappingOptionsSheet final : public QDialog {
    Q_OBJECT

  public:
    // Shows the settings' current values; deletes itself when closed.
    MappingOptionsSheet(ImportSession& session, FieldMappingPage& page, QWidget* parent);

    QCheckBox* detectCustomLabelsBox() const { return detectCustomLabels_; }
    QCheckBox* ignoreCustomMappingsBox() const { return ignoreCustomMappings_; }
    QCheckBox* appendUnmappedFieldsBox() const { return appendUnmappedFields_; }
    QPushButton* mapButton() const { return map_; }

  private:
    void storeAndMap();

    ImportSession& session_;
    FieldMappingPage& page_;
    QCheckBox* detectCustomLabels_;
    QCheckBox* ignoreCustomMappings_;
    QCheckBox* appendUnmappedFields_;
    QPushButton* map_;
};

// The sheet that names the mapping to save; Save stores it, a failure is shown in an alert.
class SaveMappingSheet final : public QDialog {
    Q_OBJECT

  public:
    // Proposes the page's title for it; deletes itself when closed.
    SaveMappingSheet(ImportSession& session, FieldMappingPage& page, QWidget* parent);

    QLineEdit* titleField() const { return title_; }
    QPushButton* saveButton() const { return save_; }

  private:
    void save();

    ImportSession& session_;
    FieldMappingPage& page_;
    QLineEdit* title_;
    QPushButton* save_;
};

// Adds the Mapping menu to the window's menu bar, disabled until enableMappingMenu.
QMenu* addMappingMenu(MainWindow& window, ImportSession& session);
// Enables the Mapping menu while the field-mapping page is shown.
void enableMappingMenu(MainWindow& window);

}  // namespace pelkora::gui
