#pragma once

// The recorded imports: every import the journal holds, newest first, with when, from which
// file, into which address book, how many contacts and whether it can still be undone. Undo
// Import… asks first, saying what would go, then takes the import's contacts (and the groups
// it made, once empty) out of its address book again. Everything goes through the imports
// window model.

#include <QDialog>
#include <QPointer>
#include <memory>
#include <optional>

#include "session/ImportsWindowModel.h"

class QLabel;
class QMessageBox;
class QPushButton;
class QStackedWidget;
class QTableWidget;

namespace pelkora::gui {

class ImportsWindow final : public QDialog {
    Q_OBJECT

  public:
    // The session must outlive the window.
    explicit ImportsWindow(ImportSession& session, QWidget* parent = nullptr);
    ~ImportsWindow() override;

    // Reads the journal again, keeping the selected row when it is still there.
    void reload();
    // Asks whether to undo the selected import (window-modal, returns at once); says why
    // when it cannot be undone.
    void confirmUndo();

    QTableWidget* table() const { return table_; }
    QLabel* emptyLabel() const { return emptyLabel_; }
    QPushButton* undoButton() const { return undo_; }
    // The question or the alert last shown, while it is open.
    QMessageBox* messageBox() const { return messageBox_; }

  private:
    std::optional<std::size_t> selectedRow() const;
    void updateButtons();
    void showOutcome(const QString& heading, const QString& text, bool failed);

    ImportsWindowModel model_;
    QStackedWidget* stack_;
    QTableWidget* table_;
    QLabel* emptyLabel_;
    QPushButton* undo_;
    QPointer<QMessageBox> messageBox_;
};

}  // namespace pelkora::gui
