#include "ImportsWindow.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ReadOnlyItem.h"
#include "Utf8Text.h"
#include "WarningBox.h"

namespace pelkora::gui {

namespace {

enum Column {
    numberColumn,
    timeColumn,
    fileColumn,
    destinationColumn,
    contactsColumn,
    stateColumn,
    columnCount
};

}  // namespace

ImportsWindow::ImportsWindow(ImportSession& session, QWidget* parent)
    : QDialog(parent), model_(session) {
    setObjectName(QStringLiteral("ImportsWindow"));
    setWindowTitle(tr("Recorded Imports"));
    resize(860, 420);

    table_ = new QTableWidget(0, columnCount, this);
    table_->setAccessibleName(tr("Recorded imports"));
    table_->setHorizontalHeaderLabels(
        {tr("Number"), tr("Time"), tr("File"), tr("Address book"), tr("Contacts"), tr("Status")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(destinationColumn, QHeaderView::Stretch);
    table_->setWordWrap(false);

    emptyLabel_ = new QLabel(fromUtf8(ImportsWindowModel::emptyText()), this);
    emptyLabel_->setAlignment(Qt::AlignCenter);
    emptyLabel_->setEnabled(false);
    stack_ = new QStackedWidget(this);
    stack_->addWidget(table_);
    stack_->addWidget(emptyLabel_);

    auto* intro = new QLabel(tr("Every import into an address book is recorded, so that it can "
                                "be taken out again."),
                             this);
    intro->setWordWrap(true);

    undo_ = new QPushButton(tr("&Undo Import…"), this);
    undo_->setAccessibleName(tr("Undo the selected import"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* row = new QHBoxLayout;
    row->addWidget(undo_);
    row->addStretch();
    row->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(stack_, 1);
    layout->addLayout(row);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(undo_, &QPushButton::clicked, this, &ImportsWindow::confirmUndo);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &ImportsWindow::updateButtons);
    reload();
}

ImportsWindow::~ImportsWindow() = default;

void ImportsWindow::reload() {
    const std::optional<std::size_t> selected = selectedRow();
    const QString selectedNumber =
        selected ? table_->item(static_cast<int>(*selected), numberColumn)->text() : QString();
    model_.reload();
    const auto& rows = model_.rows();
    table_->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const RecordedImportRow& entry = rows[index];
        const int at = static_cast<int>(index);
        table_->setItem(at, numberColumn, readOnlyItem(fromUtf8(entry.number)));
        table_->setItem(at, timeColumn, readOnlyItem(fromUtf8(entry.time)));
        table_->setItem(at, fileColumn, readOnlyItem(fromUtf8(entry.files)));
        table_->setItem(at, destinationColumn, readOnlyItem(fromUtf8(entry.destination)));
        table_->setItem(at, contactsColumn,
                        readOnlyItem(QString::number(entry.contacts), Qt::AlignRight));
        table_->setItem(at, stateColumn, readOnlyItem(fromUtf8(entry.state)));
        if (!selectedNumber.isEmpty() && fromUtf8(entry.number) == selectedNumber)
            table_->selectRow(at);
    }
    stack_->setCurrentWidget(rows.empty() ? static_cast<QWidget*>(emptyLabel_) : table_);
    if (!selectedRow() && !rows.empty()) table_->selectRow(0);
    updateButtons();
}

std::optional<std::size_t> ImportsWindow::selectedRow() const {
    const auto rows = table_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return std::nullopt;
    return static_cast<std::size_t>(rows.front().row());
}

void ImportsWindow::updateButtons() {
    const auto row = selectedRow();
    undo_->setEnabled(row && *row < model_.rows().size() && model_.rows()[*row].undoable);
}

void ImportsWindow::confirmUndo() {
    const auto row = selectedRow();
    if (!row) return;
    auto question = model_.prepareUndo(*row);
    if (!question) {
        messageBox_ =
            openWarning(this, tr("The import cannot be undone."), fromUtf8(question.error()));
        return;
    }
    if (question->nothingToRemove) {
        // Only noted in the journal: there is nothing to ask about.
        auto outcome = model_.undoPrepared();
        reload();
        showOutcome(fromUtf8(question->heading), fromUtf8(question->text), !outcome);
        return;
    }
    auto* box = makeWarningBox(this, fromUtf8(question->heading), fromUtf8(question->text));
    QPushButton* remove = box->addButton(tr("Remove Contacts"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::finished, this, [this, box, remove] {
        if (box->clickedButton() != remove) {
            model_.cancelUndo();
            return;
        }
        auto outcome = model_.undoPrepared();
        reload();
        if (outcome)
            showOutcome(tr("The import was undone."), fromUtf8(*outcome), false);
        else
            showOutcome(tr("The import was not undone."), fromUtf8(outcome.error()), true);
    });
    messageBox_ = box;
    box->open();
}

void ImportsWindow::showOutcome(const QString& heading, const QString& text, bool failed) {
    if (failed) {
        messageBox_ = openWarning(this, heading, text);
        return;
    }
    auto* box =
        new QMessageBox(QMessageBox::Information, windowTitle(), heading, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setInformativeText(text);
    messageBox_ = box;
    box->open();
}

}  // namespace pelkora::gui
