#pragma once

// The field-mapping page: one table row per column of the file with its title, the previewed
// record's value, its target and label and its status; the header-row switch, the search
// field, record navigation, the preview of the contact the mapping makes of the previewed
// record, and back and continue. Everything it shows comes from FieldMappingPage; every
// change of a target, a label or the record goes to it, and the page redraws when the model
// says that it changed.

#include <QStyledItemDelegate>
#include <QWidget>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTextBrowser;

namespace pelkora {
class FieldMappingPage;
class ImportSession;
}  // namespace pelkora

namespace pelkora::gui {

class FieldMappingTableModel;

// The table's columns.
enum class FieldMappingColumn { column, title, example, target, label, status, count };

// Edits the target and label cells with a pop-up of the page model's menu; choosing an item
// commits it at once. "Custom Label…" turns the label pop-up into a text field whose text,
// on Return, becomes the label.
class FieldMappingDelegate final : public QStyledItemDelegate {
    Q_OBJECT

  public:
    FieldMappingDelegate(ImportSession& session, FieldMappingPage& page, QObject* parent);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

  private:
    // The rows selected besides the edited one, which follow its change.
    std::vector<std::size_t> otherSelectedRows(std::size_t row) const;
    std::size_t selectedCount() const;

    ImportSession& session_;
    FieldMappingPage& page_;
};

class FieldMappingPageWidget final : public QWidget {
    Q_OBJECT

  public:
    FieldMappingPageWidget(ImportSession& session, FieldMappingPage& page,
                           QWidget* parent = nullptr);
    ~FieldMappingPageWidget() override;

    // Shows the page model's state: rows, record, preview, warnings, buttons.
    void refresh();

    FieldMappingPage& page() const { return page_; }
    QTableView* table() const { return table_; }
    QCheckBox* headerBox() const { return header_; }
    // The language the titles are matched in; choosing one maps them again.
    QComboBox* languagePopUp() const { return language_; }
    QLineEdit* searchField() const { return search_; }
    QPushButton* firstRecordButton() const { return first_; }
    QPushButton* previousRecordButton() const { return previous_; }
    QPushButton* nextRecordButton() const { return next_; }
    QPushButton* lastRecordButton() const { return last_; }
    QLabel* recordLabel() const { return record_; }
    QTextBrowser* preview() const { return preview_; }
    QLabel* warningsLabel() const { return warnings_; }
    // The note after an automatic mapping, with its "do not show again" box.
    QWidget* hintBar() const { return hintBar_; }
    QLabel* hintLabel() const { return hint_; }
    QCheckBox* suppressHintBox() const { return suppressHint_; }
    QPushButton* dismissHintButton() const { return dismissHint_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* continueButton() const { return continue_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void applySearch();
    void showLanguage();
    void showPreview();

    ImportSession& session_;
    FieldMappingPage& page_;
    FieldMappingTableModel* model_;
    QCheckBox* header_;
    QComboBox* language_;
    QLineEdit* search_;
    QTableView* table_;
    QPushButton* first_;
    QPushButton* previous_;
    QLabel* record_;
    QPushButton* next_;
    QPushButton* last_;
    QTextBrowser* preview_;
    QLabel* warnings_;
    QWidget* hintBar_;
    QLabel* hint_;
    QCheckBox* suppressHint_;
    QPushButton* dismissHint_;
    bool hintDismissed_ = false;
    QPushButton* back_;
    QPushButton* continue_;
};

}  // namespace pelkora::gui
