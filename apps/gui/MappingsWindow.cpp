#include "MappingsWindow.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <set>
#include <string>

#include "MappingSharing.h"
#include "ReadOnlyItem.h"
#include "Utf8Text.h"
#include "WarningBox.h"
#include "mappingstore/MappingStore.h"
#include "session/ImportSession.h"

namespace pelkora::gui {
namespace {

enum Column { titleColumn, modeColumn, columnsColumn, usedColumn, changedColumn, columnCount };

QString shortDateTime(std::chrono::system_clock::time_point time) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(milliseconds), QLocale::ShortFormat);
}

}  // namespace

MappingsWindow::MappingsWindow(MappingStore& store, QWidget* parent)
    : MappingsWindow(store, nullptr, parent) {}

MappingsWindow::MappingsWindow(ImportSession& session, QWidget* parent)
    : MappingsWindow(session.mappingStore(), &session, parent) {}

MappingsWindow::MappingsWindow(MappingStore& store, ImportSession* session, QWidget* parent)
    : QDialog(parent, Qt::Window), store_(store), model_(store) {
    setWindowTitle(tr("Mappings"));
    setAccessibleName(tr("Saved mappings"));

    table_ = new QTableWidget(0, columnCount, this);
    table_->setAccessibleName(tr("Saved mappings"));
    table_->setHorizontalHeaderLabels(
        {tr("Title"), tr("Mapping"), tr("Columns"), tr("Used"), tr("Last Changed")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::SelectedClicked);
    table_->verticalHeader()->hide();
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->horizontalHeader()->setSectionResizeMode(titleColumn, QHeaderView::Stretch);
    for (int column = modeColumn; column < columnCount; ++column)
        table_->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    connect(table_, &QTableWidget::itemChanged, this, &MappingsWindow::titleEdited);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &MappingsWindow::updateButtons);

    emptyLabel_ = new QLabel(fromUtf8(MappingsWindowModel::emptyStateText()), this);
    emptyLabel_->setAlignment(Qt::AlignCenter);
    emptyLabel_->setWordWrap(true);
    emptyLabel_->setEnabled(false);  // drawn in the palette's placeholder colour
    emptyLabel_->setAccessibleName(emptyLabel_->text());

    content_ = new QStackedWidget(this);
    content_->addWidget(table_);
    content_->addWidget(emptyLabel_);

    import_ = new QPushButton(tr("&Import…"), this);
    import_->setAccessibleName(tr("Import mappings from a file"));
    export_ = new QPushButton(tr("&Export…"), this);
    export_->setAccessibleName(tr("Export the selected mappings"));
    delete_ = new QPushButton(tr("&Delete…"), this);
    delete_->setAccessibleName(tr("Delete the selected mappings"));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(import_, &QPushButton::clicked, this, &MappingsWindow::chooseImportFile);
    connect(export_, &QPushButton::clicked, this, &MappingsWindow::chooseExportFile);
    connect(delete_, &QPushButton::clicked, this, &MappingsWindow::confirmDelete);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::close);
    // Delete works on the table without opening the title for editing.
    auto* deleteKey = new QShortcut(QKeySequence::Delete, table_);
    deleteKey->setContext(Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, &MappingsWindow::confirmDelete);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(import_);
    buttons->addWidget(export_);
    buttons->addWidget(delete_);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(content_, 1);
    if (session) {
        sharing_ = new MappingSharing(*session, this);
        sharingBox_ = new QCheckBox(sharingBoxTitle(), this);
        sharingBox_->setAccessibleName(sharingBoxTitle());
        sharingBox_->setChecked(sharing_->isSharing());
        const bool placeSetUp = sharing_->place().kind != SyncConfiguration::Kind::none;
        sharingBox_->setEnabled(placeSetUp);
        sharingBox_->setToolTip(
            placeSetUp
                ? sharingStatusText(*session)
                : tr("Set up a sync folder or a WebDAV server in Preferences ▸ Sync first."));
        connect(sharingBox_, &QCheckBox::toggled, this,
                [this](bool on) { sharing_->switchSharing(*sharingBox_, on, sharing_->place()); });
        connect(sharing_, &MappingSharing::switchingStarted, this, [this] {
            import_->setEnabled(false);
            export_->setEnabled(false);
            delete_->setEnabled(false);
            table_->setEnabled(false);
        });
        connect(sharing_, &MappingSharing::switchingFinished, this,
                [this, session](bool, const std::optional<SharingProblem>& problem) {
                    import_->setEnabled(true);
                    table_->setEnabled(true);
                    sharingBox_->setToolTip(sharingStatusText(*session));
                    reload();
                    if (problem) showError(problem->heading, problem->text.toStdString());
                });
        layout->addWidget(sharingBox_);
    }
    layout->addLayout(buttons);

    store_.onChange = [window = QPointer<MappingsWindow>(this)] {
        if (window) window->reload();
    };
    reload();
    resize(720, 420);
}

MappingsWindow::~MappingsWindow() {
    store_.onChange = nullptr;
}

void MappingsWindow::reload() {
    std::set<std::string> selected;
    for (std::size_t row : selectedRows()) selected.insert(rows_[row].uuid);
    rows_ = model_.rows();
    filling_ = true;
    table_->clearSelection();
    table_->setRowCount(static_cast<int>(rows_.size()));
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        const MappingsWindowRow& row = rows_[index];
        const int at = static_cast<int>(index);
        auto* title = new QTableWidgetItem(fromUtf8(row.title));
        title->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable);
        title->setToolTip(tr("Double-click to rename"));
        table_->setItem(at, titleColumn, title);
        table_->setItem(at, modeColumn,
                        readOnlyItem(fromUtf8(MappingsWindowModel::modeText(row.mode))));
        table_->setItem(
            at, columnsColumn,
            readOnlyItem(QLocale().toString(static_cast<qulonglong>(row.columns)), Qt::AlignRight));
        table_->setItem(at, usedColumn,
                        readOnlyItem(QLocale().toString(static_cast<qlonglong>(row.usageCount)),
                                     Qt::AlignRight));
        table_->setItem(at, changedColumn, readOnlyItem(shortDateTime(row.updatedOn)));
        if (selected.contains(row.uuid)) selectRow(at);
    }
    filling_ = false;
    content_->setCurrentWidget(rows_.empty() ? static_cast<QWidget*>(emptyLabel_) : table_);
    updateButtons();
    // Sharing may have been switched elsewhere (the preferences).
    if (sharingBox_ && !sharing_->isSwitching()) {
        const QSignalBlocker quiet(sharingBox_);
        sharingBox_->setChecked(sharing_->isSharing());
        sharingBox_->setEnabled(sharing_->place().kind != SyncConfiguration::Kind::none);
    }
}

std::vector<std::size_t> MappingsWindow::selectedRows() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        if (index.row() >= 0 && static_cast<std::size_t>(index.row()) < rows_.size())
            rows.push_back(static_cast<std::size_t>(index.row()));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void MappingsWindow::selectRow(int row) {
    table_->selectionModel()->select(table_->model()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void MappingsWindow::updateButtons() {
    const bool any = !selectedRows().empty();
    export_->setEnabled(any);
    delete_->setEnabled(any);
}

void MappingsWindow::titleEdited(QTableWidgetItem* item) {
    if (filling_ || item->column() != titleColumn) return;
    const auto row = static_cast<std::size_t>(item->row());
    if (row >= rows_.size()) return;
    const std::string title = item->text().trimmed().toStdString();
    if (title == rows_[row].title) return;
    if (auto renamed = model_.rename(row, title); !renamed)
        showError(tr("The mapping could not be renamed."), renamed.error());
    // Read again in every case: the list is sorted by title, and a refused title goes back.
    QMetaObject::invokeMethod(this, &MappingsWindow::reload, Qt::QueuedConnection);
}

void MappingsWindow::confirmDelete() {
    const std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) return;
    std::vector<std::string> uuids;
    for (std::size_t row : rows) uuids.push_back(rows_[row].uuid);
    const Confirmation question = MappingsWindowModel::deleteConfirmation();
    QMessageBox* box = makeWarningBox(this, fromUtf8(question.heading), fromUtf8(question.text));
    QAbstractButton* acting = nullptr;
    for (std::size_t index = 0; index < question.buttons.size(); ++index) {
        const bool last = index + 1 == question.buttons.size();
        auto* button = box->addButton(fromUtf8(question.buttons[index]),
                                      index == 0 ? QMessageBox::DestructiveRole
                                      : last     ? QMessageBox::RejectRole
                                                 : QMessageBox::ActionRole);
        button->setAccessibleName(button->text());
        if (index == 0) acting = button;
        if (last) {
            box->setDefaultButton(qobject_cast<QPushButton*>(button));
            box->setEscapeButton(button);
        }
    }
    connect(box, &QMessageBox::buttonClicked, this, [this, acting, uuids](QAbstractButton* b) {
        if (b != acting) return;
        // The rows are found again by uuid: the list may have changed while the box was up.
        std::vector<std::size_t> rows;
        for (std::size_t index = 0; index < rows_.size(); ++index) {
            if (std::find(uuids.begin(), uuids.end(), rows_[index].uuid) != uuids.end())
                rows.push_back(index);
        }
        if (auto removed = model_.remove(rows); !removed)
            showError(tr("The mappings could not be deleted."), removed.error());
        reload();
    });
    messageBox_ = box;
    box->open();
}

void MappingsWindow::chooseExportFile() {
    const std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) return;
    const QString suggested = fromUtf8(MappingsWindowModel::suggestedExportFileName(rows.size()));
    const QString file =
        QFileDialog::getSaveFileName(this, tr("Export Mappings"), suggested,
                                     MappingsWindow::tr("Pelkora mappings (*.zubmapping)"));
    if (!file.isEmpty()) exportSelection(file);
}

void MappingsWindow::chooseImportFile() {
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Import Mappings"), QString(),
                                     MappingsWindow::tr("Pelkora mappings (*.zubmapping)") +
                                         QStringLiteral(";;") + tr("All files (*)"));
    if (!file.isEmpty()) importFrom(file);
}

bool MappingsWindow::exportSelection(const QString& file) {
    auto written = model_.exportRows(selectedRows(), file.toStdString());
    if (!written) showError(tr("The mappings could not be exported."), written.error());
    return bool(written);
}

bool MappingsWindow::importFrom(const QString& file) {
    auto imported = model_.importFile(file.toStdString());
    if (!imported) {
        showError(tr("The mappings could not be imported."), imported.error());
        return false;
    }
    reload();
    // The imported mappings are selected, so that the user sees where they went.
    table_->clearSelection();
    for (const SavedMapping& mapping : *imported) {
        for (std::size_t index = 0; index < rows_.size(); ++index) {
            if (rows_[index].uuid == mapping.uuid) selectRow(static_cast<int>(index));
        }
    }
    return true;
}

void MappingsWindow::showError(const QString& heading, const std::string& text) {
    messageBox_ = openWarning(this, heading, fromUtf8(text));
}

}  // namespace pelkora::gui
