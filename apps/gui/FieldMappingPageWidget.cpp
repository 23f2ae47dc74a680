#include "FieldMappingPageWidget.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <vector>

#include "PageTitles.h"
#include "PaletteColours.h"
#include "Utf8Text.h"
#include "session/FieldMappingPage.h"
#include "session/ImportSession.h"

namespace pelkora::gui {
namespace {

int columnNumber(FieldMappingColumn column) {
    return static_cast<int>(column);
}

constexpr int kThumbnailSize = 28;
constexpr int kPreviewPictureSize = 72;
const QUrl kPreviewPictureUrl(QStringLiteral("pelkora-preview:picture"));

bool sameTarget(const SuggestedContactProperty& left, const SuggestedContactProperty& right) {
    return left.propertyKey == right.propertyKey && left.propertySubKey == right.propertySubKey;
}

QString statusText(MappingStatus status) {
    switch (status) {
        case MappingStatus::needsAttention:
            return FieldMappingPageWidget::tr("Check the value");
        case MappingStatus::append:
        case MappingStatus::appendCustom:
            return FieldMappingPageWidget::tr("Added to the note");
        case MappingStatus::assigned:
        case MappingStatus::assignedCustom:
            return FieldMappingPageWidget::tr("Imported");
        case MappingStatus::ignored:
        case MappingStatus::ignoredCustom:
            return FieldMappingPageWidget::tr("Not imported");
    }
    return {};
}

bool isCustomStatus(MappingStatus status) {
    return status == MappingStatus::appendCustom || status == MappingStatus::assignedCustom ||
           status == MappingStatus::ignoredCustom;
}

QColor statusColour(MappingStatus status, const QPalette& palette) {
    switch (status) {
        case MappingStatus::needsAttention:
            return warningColour(palette);
        case MappingStatus::append:
        case MappingStatus::appendCustom:
            return appendColour(palette);
        case MappingStatus::assigned:
        case MappingStatus::assignedCustom:
            return assignedColour(palette);
        case MappingStatus::ignored:
        case MappingStatus::ignoredCustom:
            break;
    }
    return palette.color(QPalette::PlaceholderText);
}

// A filled dot in the status colour; a ring around it marks a target that came from the
// user's own titles or a saved mapping.
QPixmap statusIcon(MappingStatus status, const QPalette& palette) {
    QPixmap icon(16, 16);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = statusColour(status, palette);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(4, 4, 8, 8));
    if (isCustomStatus(status)) {
        painter.setPen(QPen(colour, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(1, 1, 14, 14));
    }
    return icon;
}

}  // namespace

// The rows of the table: the session's mapped properties as the page model left them. It
// keeps only the row count and the thumbnails between changes, and reads the rest live.
class FieldMappingTableModel final : public QAbstractTableModel {
  public:
    FieldMappingTableModel(ImportSession& session, FieldMappingPage& page, QObject* parent)
        : QAbstractTableModel(parent), session_(session), page_(page) {
        for (const auto& item : makeTargetMenu(false)) {
            if (item.kind == TargetMenuItem::Kind::ignore) ignoreTitle_ = fromUtf8(item.title);
        }
    }

    // Follows the page model: a new row count resets the table, else every cell is redrawn
    // (so that an open editor survives its own commit).
    void sync(const QPalette& palette) {
        palette_ = palette;
        const auto& list = session_.mappedContactProperties();
        const bool resized = static_cast<int>(list.size()) != rows_;
        if (resized) beginResetModel();
        rows_ = static_cast<int>(list.size());
        thumbnails_.assign(list.size(), QPixmap());
        for (std::size_t row = 0; row < list.size(); ++row) {
            const auto& bytes = list[row].sourceFieldImageData;
            if (!bytes || bytes->empty()) continue;
            const QImage image = QImage::fromData(bytes->data(), static_cast<int>(bytes->size()));
            if (!image.isNull())
                thumbnails_[row] = QPixmap::fromImage(image.scaled(
                    kThumbnailSize, kThumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
        if (resized) {
            endResetModel();
        } else if (rows_ > 0) {
            emit dataChanged(index(0, 0),
                             index(rows_ - 1, columnNumber(FieldMappingColumn::count) - 1));
        }
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : rows_;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : columnNumber(FieldMappingColumn::count);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        switch (static_cast<FieldMappingColumn>(section)) {
            case FieldMappingColumn::column:
                return FieldMappingPageWidget::tr("Column");
            case FieldMappingColumn::title:
                return FieldMappingPageWidget::tr("Title");
            case FieldMappingColumn::example:
                return FieldMappingPageWidget::tr("Value");
            case FieldMappingColumn::target:
                return FieldMappingPageWidget::tr("Imported As");
            case FieldMappingColumn::label:
                return FieldMappingPageWidget::tr("Label");
            case FieldMappingColumn::status:
                return FieldMappingPageWidget::tr("Status");
            case FieldMappingColumn::count:
                break;
        }
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags flags = QAbstractTableModel::flags(index);
        const auto* entry = entryAt(index);
        if (!entry || page_.isMapping()) return flags;
        const auto column = static_cast<FieldMappingColumn>(index.column());
        if (column == FieldMappingColumn::target ||
            (column == FieldMappingColumn::label && entry->contactProperty.canHaveLabel()))
            flags |= Qt::ItemIsEditable;
        return flags;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* entry = entryAt(index);
        if (!entry) return {};
        const auto row = static_cast<std::size_t>(index.row());
        const auto column = static_cast<FieldMappingColumn>(index.column());
        if (role == Qt::ForegroundRole && entry->isDimmed() && column != FieldMappingColumn::status)
            return palette_.color(QPalette::PlaceholderText);
        if (column == FieldMappingColumn::example && role == Qt::DecorationRole &&
            row < thumbnails_.size() && !thumbnails_[row].isNull())
            return thumbnails_[row];
        if (column == FieldMappingColumn::status) {
            const MappingStatus status = entry->mappingStatus();
            if (role == Qt::DecorationRole) return statusIcon(status, palette_);
            if (role == Qt::DisplayRole) return statusText(status);
            if (role == Qt::ForegroundRole) return statusColour(status, palette_);
            if (role == Qt::ToolTipRole && status == MappingStatus::needsAttention)
                return FieldMappingPageWidget::tr(
                    "The value could not be read as a date: add its date format in "
                    "Edit ▸ Preferences ▸ Date Formats.");
            if (role == Qt::ToolTipRole && isCustomStatus(status))
                return FieldMappingPageWidget::tr("From your own titles or a saved mapping");
            return {};
        }
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
        switch (column) {
            case FieldMappingColumn::column:
                return entry->formattedColumnIndex ? fromUtf8(*entry->formattedColumnIndex)
                                                   : QString::number(entry->columnIndex + 1);
            case FieldMappingColumn::title:
                return fromUtf8(entry->sourceFieldName);
            case FieldMappingColumn::example:
                if (entry->sourceFieldImageData && role == Qt::DisplayRole)
                    return FieldMappingPageWidget::tr("Picture");
                return fromUtf8(entry->sourceFieldContent);
            case FieldMappingColumn::target: {
                const auto title = entry->contactProperty.formattedContactProperty();
                return entry->contactProperty.isValid() && title ? fromUtf8(*title) : ignoreTitle_;
            }
            case FieldMappingColumn::label:
                return fromUtf8(page_.labelText(session_, row));
            case FieldMappingColumn::status:
            case FieldMappingColumn::count:
                break;
        }
        return {};
    }

  private:
    const MappedContactProperty* entryAt(const QModelIndex& index) const {
        const auto& list = session_.mappedContactProperties();
        if (!index.isValid() || index.row() >= rows_ ||
            static_cast<std::size_t>(index.row()) >= list.size())
            return nullptr;
        return &list[static_cast<std::size_t>(index.row())];
    }

    ImportSession& session_;
    FieldMappingPage& page_;
    QPalette palette_;
    QString ignoreTitle_;
    int rows_ = 0;
    std::vector<QPixmap> thumbnails_;
};

// Delegate

FieldMappingDelegate::FieldMappingDelegate(ImportSession& session, FieldMappingPage& page,
                                           QObject* parent)
    : QStyledItemDelegate(parent), session_(session), page_(page) {}

std::vector<std::size_t> FieldMappingDelegate::otherSelectedRows(std::size_t row) const {
    std::vector<std::size_t> rows;
    if (const auto* view = qobject_cast<const QAbstractItemView*>(parent())) {
        for (const QModelIndex& selected : view->selectionModel()->selectedRows()) {
            const auto other = static_cast<std::size_t>(selected.row());
            if (other != row) rows.push_back(other);
        }
    }
    return rows;
}

std::size_t FieldMappingDelegate::selectedCount() const {
    const auto* view = qobject_cast<const QAbstractItemView*>(parent());
    const auto count = view ? view->selectionModel()->selectedRows().size() : 0;
    return count > 1 ? static_cast<std::size_t>(count) : 1;
}

// A selected row is drawn in the highlight's own text colour, whatever colour the row's
// status or dimming gives it, so that it stays legible on the highlight.
void FieldMappingDelegate::initStyleOption(QStyleOptionViewItem* option,
                                           const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if ((option->state & QStyle::State_Selected) && option->widget) {
        const QPalette& view = option->widget->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            option->palette.setBrush(group, QPalette::HighlightedText,
                                     view.brush(group, QPalette::HighlightedText));
    }
}

QWidget* FieldMappingDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                            const QModelIndex& index) const {
    const auto column = static_cast<FieldMappingColumn>(index.column());
    const auto row = static_cast<std::size_t>(index.row());
    if (column != FieldMappingColumn::target && column != FieldMappingColumn::label)
        return QStyledItemDelegate::createEditor(parent, option, index);
    auto* popUp = new QComboBox(parent);
    popUp->setMaxVisibleItems(24);
    auto* self = const_cast<FieldMappingDelegate*>(this);
    auto commit = [self, popUp] {
        emit self->commitData(popUp);
        emit self->closeEditor(popUp);
    };
    if (column == FieldMappingColumn::target) {
        popUp->setAccessibleName(tr("Imported as"));
        const auto menu = page_.targetMenu(session_, row, selectedCount());
        auto* items = qobject_cast<QStandardItemModel*>(popUp->model());
        for (std::size_t position = 0; position < menu.size(); ++position) {
            if (menu[position].kind == TargetMenuItem::Kind::separator) {
                if (popUp->count() > 0) popUp->insertSeparator(popUp->count());
                continue;
            }
            popUp->addItem(fromUtf8(menu[position].title),
                           QVariant::fromValue(static_cast<qulonglong>(position)));
            if (!FieldMappingPage::isEnabled(menu[position]) && items)
                items->item(popUp->count() - 1)->setEnabled(false);
        }
        connect(popUp, qOverload<int>(&QComboBox::activated), popUp, commit);
        return popUp;
    }
    popUp->setAccessibleName(tr("Label"));
    const auto menu = page_.labelMenu(session_, row);
    for (std::size_t position = 0; position < menu.size(); ++position) {
        if (menu[position].kind == LabelMenuItem::Kind::separator) {
            if (popUp->count() > 0) popUp->insertSeparator(popUp->count());
            continue;
        }
        popUp->addItem(fromUtf8(menu[position].title),
                       QVariant::fromValue(static_cast<qulonglong>(position)));
    }
    // "Custom Label…" turns the pop-up into a text field; Return sets its text.
    connect(popUp, qOverload<int>(&QComboBox::activated), popUp, [popUp, menu, commit](int item) {
        const QVariant data = popUp->itemData(item);
        if (!data.isValid() || popUp->isEditable()) return;
        if (menu.at(static_cast<std::size_t>(data.toULongLong())).kind !=
            LabelMenuItem::Kind::newCustomLabel) {
            commit();
            return;
        }
        popUp->setEditable(true);
        popUp->setInsertPolicy(QComboBox::NoInsert);
        popUp->clearEditText();
        popUp->lineEdit()->setPlaceholderText(tr("Custom label"));
        popUp->lineEdit()->setAccessibleName(tr("Custom label"));
        connect(popUp->lineEdit(), &QLineEdit::returnPressed, popUp, commit);
        popUp->lineEdit()->setFocus();
    });
    return popUp;
}

void FieldMappingDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* popUp = qobject_cast<QComboBox*>(editor);
    if (!popUp) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    if (popUp->isEditable()) return;  // the user is typing a custom label
    const auto& list = session_.mappedContactProperties();
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= list.size()) return;
    const auto& target = list[row].contactProperty;
    const bool isTarget =
        static_cast<FieldMappingColumn>(index.column()) == FieldMappingColumn::target;
    const auto targetMenu =
        isTarget ? page_.targetMenu(session_, row, selectedCount()) : std::vector<TargetMenuItem>{};
    const auto labelMenu = isTarget ? std::vector<LabelMenuItem>{} : page_.labelMenu(session_, row);
    const auto label = target.label();
    for (int item = 0; item < popUp->count(); ++item) {
        const QVariant data = popUp->itemData(item);
        if (!data.isValid()) continue;
        const auto position = static_cast<std::size_t>(data.toULongLong());
        const bool current =
            isTarget ? (targetMenu.at(position).kind == TargetMenuItem::Kind::ignore
                            ? !target.isValid()
                            : target.isValid() &&
                                  sameTarget(targetMenu.at(position).representedEntry, target))
                     : (label && !labelMenu.at(position).label.empty() &&
                        labelMenu.at(position).label == *label);
        if (current) {
            popUp->setCurrentIndex(item);
            return;
        }
    }
}

void FieldMappingDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                        const QModelIndex& index) const {
    auto* popUp = qobject_cast<QComboBox*>(editor);
    if (!popUp) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    const auto row = static_cast<std::size_t>(index.row());
    if (static_cast<FieldMappingColumn>(index.column()) == FieldMappingColumn::target) {
        const QVariant data = popUp->currentData();
        const auto menu = page_.targetMenu(session_, row, selectedCount());
        if (!data.isValid() || data.toULongLong() >= menu.size()) return;
        page_.contactPropertyDidChange(session_, row,
                                       menu[static_cast<std::size_t>(data.toULongLong())],
                                       otherSelectedRows(row));
        return;
    }
    if (popUp->isEditable()) {
        const QString text = popUp->currentText().trimmed();
        if (!text.isEmpty())
            page_.contactLabelDidChange(session_, row, text.toStdString(), otherSelectedRows(row));
        return;
    }
    const QVariant data = popUp->currentData();
    const auto menu = page_.labelMenu(session_, row);
    if (!data.isValid() || data.toULongLong() >= menu.size()) return;
    const auto& item = menu[static_cast<std::size_t>(data.toULongLong())];
    switch (item.kind) {
        case LabelMenuItem::Kind::toggleExtendedRelationships:
            page_.toggleShowExtendedRelevantRelationships(session_);
            break;
        case LabelMenuItem::Kind::systemLabel:
        case LabelMenuItem::Kind::extractFromField:
        case LabelMenuItem::Kind::customLabel:
            page_.contactLabelDidChange(session_, row, item.label, otherSelectedRows(row));
            break;
        case LabelMenuItem::Kind::separator:
        case LabelMenuItem::Kind::newCustomLabel:
            break;
    }
}

// Page

FieldMappingPageWidget::FieldMappingPageWidget(ImportSession& session, FieldMappingPage& page,
                                               QWidget* parent)
    : QWidget(parent),
      session_(session),
      page_(page),
      model_(new FieldMappingTableModel(session, page, this)) {
    auto* layout = makePageLayout(this);

    auto* heading = makePageHeading(pageTitle(page.name()), this);
    auto* explanation =
        new QLabel(tr("Choose what each column of the file becomes in the address book: "
                      "double-click a target or a label to change it. The preview shows the "
                      "contact the current record makes."),
                   this);
    explanation->setWordWrap(true);

    hintBar_ = new QFrame(this);
    static_cast<QFrame*>(hintBar_)->setFrameShape(QFrame::StyledPanel);
    hintBar_->setAutoFillBackground(true);
    hintBar_->setBackgroundRole(QPalette::AlternateBase);
    auto* hintLayout = new QHBoxLayout(hintBar_);
    hint_ = new QLabel(hintBar_);
    hint_->setWordWrap(true);
    hint_->setAccessibleName(tr("Note about the automatic mapping"));
    hint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    suppressHint_ = new QCheckBox(tr("&Do not show this message again"), hintBar_);
    suppressHint_->setAccessibleName(tr("Do not show this message again"));
    dismissHint_ = new QPushButton(tr("&OK"), hintBar_);
    dismissHint_->setAccessibleName(tr("Dismiss the note"));
    auto* hintControls = new QVBoxLayout;
    hintControls->addWidget(dismissHint_, 0, Qt::AlignRight);
    hintControls->addWidget(suppressHint_);
    hintLayout->addWidget(hint_, 1);
    hintLayout->addLayout(hintControls);

    auto* optionsRow = new QHBoxLayout;
    header_ = new QCheckBox(tr("First row contains column &headers"), this);
    header_->setAccessibleName(tr("First row contains column headers"));
    auto* languageLabel = new QLabel(tr("&Language:"), this);
    language_ = new QComboBox(this);
    language_->setAccessibleName(tr("Language of the column titles"));
    language_->setToolTip(tr("The columns are mapped by their titles in this language."));
    language_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    languageLabel->setBuddy(language_);
    auto* searchLabel = new QLabel(tr("&Search:"), this);
    search_ = new QLineEdit(this);
    search_->setAccessibleName(tr("Search column titles"));
    search_->setPlaceholderText(tr("Column title"));
    search_->setClearButtonEnabled(true);
    searchLabel->setBuddy(search_);
    optionsRow->addWidget(header_);
    optionsRow->addSpacing(16);
    optionsRow->addWidget(languageLabel);
    optionsRow->addWidget(language_);
    optionsRow->addStretch();
    optionsRow->addWidget(searchLabel);
    optionsRow->addWidget(search_);

    table_ = new QTableView(this);
    table_->setModel(model_);
    table_->setItemDelegate(new FieldMappingDelegate(session, page, table_));
    table_->setAccessibleName(tr("Columns of the file"));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                            QAbstractItemView::EditKeyPressed);
    // Tab leaves the table for the next control; the arrow keys move between cells.
    table_->setTabKeyNavigation(false);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->setIconSize(QSize(kThumbnailSize, kThumbnailSize));
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(kThumbnailSize + 6);
    table_->horizontalHeader()->setStretchLastSection(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setSectionResizeMode(columnNumber(FieldMappingColumn::column),
                                                     QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(columnNumber(FieldMappingColumn::status),
                                                     QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(columnNumber(FieldMappingColumn::example),
                                                     QHeaderView::Stretch);
    table_->setColumnWidth(columnNumber(FieldMappingColumn::title), 120);
    table_->setColumnWidth(columnNumber(FieldMappingColumn::target), 150);
    table_->setColumnWidth(columnNumber(FieldMappingColumn::label), 140);

    auto* previewColumn = new QVBoxLayout;
    auto* previewLabel = new QLabel(tr("Pre&view"), this);
    preview_ = new QTextBrowser(this);
    preview_->setAccessibleName(tr("Preview of the contact"));
    preview_->setOpenLinks(false);
    preview_->document()->setDocumentMargin(10);
    previewLabel->setBuddy(preview_);
    auto* navigation = new QHBoxLayout;
    first_ = new QPushButton(tr("&First"), this);
    first_->setAccessibleName(tr("First record"));
    previous_ = new QPushButton(tr("&Previous"), this);
    previous_->setAccessibleName(tr("Previous record"));
    record_ = new QLabel(this);
    record_->setAccessibleName(tr("Record shown"));
    record_->setAlignment(Qt::AlignCenter);
    next_ = new QPushButton(tr("&Next"), this);
    next_->setAccessibleName(tr("Next record"));
    last_ = new QPushButton(tr("&Last"), this);
    last_->setAccessibleName(tr("Last record"));
    navigation->addWidget(first_);
    navigation->addWidget(previous_);
    navigation->addWidget(record_, 1);
    navigation->addWidget(next_);
    navigation->addWidget(last_);
    previewColumn->addWidget(previewLabel);
    previewColumn->addWidget(preview_, 1);
    previewColumn->addLayout(navigation);

    auto* body = new QHBoxLayout;
    body->addWidget(table_, 3);
    body->addLayout(previewColumn, 2);

    warnings_ = new QLabel(this);
    warnings_->setWordWrap(true);
    warnings_->setAccessibleName(tr("Warnings"));
    warnings_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const PageButtons pageButtons = makePageButtons(this);
    back_ = pageButtons.back;
    continue_ = pageButtons.next;
    QHBoxLayout* buttons = pageButtons.row;

    layout->addWidget(heading);
    layout->addWidget(explanation);
    layout->addWidget(hintBar_);
    layout->addLayout(optionsRow);
    layout->addLayout(body, 1);
    layout->addWidget(warnings_);
    layout->addLayout(buttons);

    setTabOrder(dismissHint_, suppressHint_);
    setTabOrder(suppressHint_, header_);
    setTabOrder(header_, language_);
    setTabOrder(language_, search_);
    setTabOrder(search_, table_);
    setTabOrder(table_, first_);
    setTabOrder(first_, previous_);
    setTabOrder(previous_, next_);
    setTabOrder(next_, last_);
    setTabOrder(last_, preview_);
    setTabOrder(preview_, back_);
    setTabOrder(back_, continue_);
    setFocusProxy(table_);

    connect(header_, &QCheckBox::toggled, this, [this](bool containsHeaders) {
        if (containsHeaders != page_.firstRowContainsColumnHeaders())
            page_.setFirstRowContainsColumnHeaders(session_, containsHeaders);
    });
    connect(language_, qOverload<int>(&QComboBox::activated), this, [this](int item) {
        const std::string code = language_->itemData(item).toString().toStdString();
        if (code != page_.language(session_)) page_.setLanguage(session_, code);
    });
    connect(dismissHint_, &QPushButton::clicked, this, [this] {
        hintDismissed_ = true;
        refresh();
    });
    connect(suppressHint_, &QCheckBox::toggled, this, [this](bool suppress) {
        if (suppress) page_.suppressMappingHint(session_);
    });
    connect(search_, &QLineEdit::textChanged, this, &FieldMappingPageWidget::applySearch);
    connect(first_, &QPushButton::clicked, this, [this] { page_.showFirstRecord(session_); });
    connect(previous_, &QPushButton::clicked, this, [this] { page_.showPreviousRecord(session_); });
    connect(next_, &QPushButton::clicked, this, [this] { page_.showNextRecord(session_); });
    connect(last_, &QPushButton::clicked, this, [this] { page_.showLastRecord(session_); });
    connect(back_, &QPushButton::clicked, this, [this] { session_.showPreviousPage(); });
    connect(continue_, &QPushButton::clicked, this, [this] { page_.continueAction(session_); });

    // The page model outlives no widget of the window, but the guard keeps a late call safe.
    QPointer<FieldMappingPageWidget> self(this);
    page_.setChangeHandler([self] {
        if (self) self->refresh();
    });
    refresh();
}

FieldMappingPageWidget::~FieldMappingPageWidget() = default;

void FieldMappingPageWidget::refresh() {
    model_->sync(palette());
    const bool mapping = page_.isMapping();
    {
        const QSignalBlocker blocker(header_);
        header_->setChecked(page_.firstRowContainsColumnHeaders());
    }
    header_->setEnabled(!mapping);
    showLanguage();
    language_->setEnabled(!mapping);
    const auto current = page_.currentRecordIndex();
    const auto total = page_.totalRecords();
    record_->setText(current > 0 && total > 0 ? tr("Record %1 of %2").arg(current).arg(total)
                                              : tr("No record"));
    first_->setEnabled(!mapping && current > 1);
    previous_->setEnabled(!mapping && current > 1);
    next_->setEnabled(!mapping && current < total);
    last_->setEnabled(!mapping && current < total);
    continue_->setEnabled(!mapping);

    QStringList messages;
    for (const auto& warning : page_.sharedTargetWarnings(session_))
        messages << fromUtf8(warning.message);
    warnings_->setText(messages.join(QLatin1Char('\n')));
    warnings_->setVisible(!messages.isEmpty());
    QPalette warningPalette = palette();
    warningPalette.setColor(QPalette::WindowText, warningColour(palette()));
    warnings_->setPalette(warningPalette);

    // The note stays while the user reads it, even after "do not show again".
    const auto hint = page_.mappingHint(session_);
    if (hint && !hintDismissed_) {
        hint_->setText(QStringLiteral("<b>%1</b><br>%2")
                           .arg(fromUtf8(hint->first).toHtmlEscaped(),
                                fromUtf8(hint->second).toHtmlEscaped()));
        hintBar_->show();
    } else if (!suppressHint_->isChecked() || hintDismissed_) {
        hintBar_->hide();
    }

    applySearch();
    showPreview();
}

// The pop-up lists the page's languages; it is filled again only when the language now used
// is not among its items (the detected one may be a language without titles).
void FieldMappingPageWidget::showLanguage() {
    const QString current = fromUtf8(page_.language(session_));
    if (language_->findData(current) < 0) {
        const QSignalBlocker blocker(language_);
        language_->clear();
        for (const auto& language : page_.languages(session_))
            language_->addItem(fromUtf8(language.name), fromUtf8(language.code));
    }
    language_->setCurrentIndex(language_->findData(current));
}

void FieldMappingPageWidget::applySearch() {
    const auto shown = page_.filteredRows(session_, search_->text().toStdString());
    std::vector<bool> visible(static_cast<std::size_t>(model_->rowCount()), false);
    for (auto row : shown) {
        if (row < visible.size()) visible[row] = true;
    }
    for (std::size_t row = 0; row < visible.size(); ++row)
        table_->setRowHidden(static_cast<int>(row), !visible[row]);
}

// The preview document as simple HTML: the picture beside the name block, the job line, then
// a table of labelled values with the labels set lighter. Colours come from the palette, so
// the text stays legible on a dark background.
void FieldMappingPageWidget::showPreview() {
    const PreviewDocument& document = page_.previewDocument();
    // The placeholder colour may be translucent, which HTML colours cannot say: blended here.
    const QColor placeholder = palette().color(QPalette::PlaceholderText);
    const QColor base = palette().color(QPalette::Base);
    const double alpha = placeholder.alphaF();
    const QString dim =
        QColor::fromRgbF(
            static_cast<float>(placeholder.redF() * alpha + base.redF() * (1 - alpha)),
            static_cast<float>(placeholder.greenF() * alpha + base.greenF() * (1 - alpha)),
            static_cast<float>(placeholder.blueF() * alpha + base.blueF() * (1 - alpha)))
            .name();
    auto escaped = [](const std::string& text) {
        return fromUtf8(text).toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    };

    QString head;
    for (const PreviewLine& line : document.titleLines) {
        head +=
            line.style == PreviewTitleStyle::name
                ? QStringLiteral("<div style=\"font-size:x-large; font-weight:bold\">%1</div>")
                      .arg(escaped(line.text))
                : QStringLiteral("<div style=\"color:%1\">%2</div>").arg(dim, escaped(line.text));
    }
    if (!document.subtitle.empty())
        head += QStringLiteral("<div>%1</div>").arg(escaped(document.subtitle));

    QImage picture;
    const auto& contact = page_.previewContact();
    if (contact && !contact->imageData.empty())
        picture = QImage::fromData(contact->imageData.data(),
                                   static_cast<int>(contact->imageData.size()));
    QString html;
    if (!picture.isNull()) {
        const QImage scaled = picture.scaled(kPreviewPictureSize, kPreviewPictureSize,
                                             Qt::KeepAspectRatio, Qt::SmoothTransformation);
        preview_->document()->addResource(QTextDocument::ImageResource, kPreviewPictureUrl, scaled);
        html += QStringLiteral(
                    "<table cellspacing=\"0\" cellpadding=\"0\"><tr>"
                    "<td style=\"padding-right:12px\"><img src=\"%1\" width=\"%2\" "
                    "height=\"%3\"></td><td valign=\"middle\">%4</td></tr></table>")
                    .arg(kPreviewPictureUrl.toString())
                    .arg(scaled.width())
                    .arg(scaled.height())
                    .arg(head);
    } else {
        html += head;
    }
    if (!document.rows.empty()) {
        html +=
            QStringLiteral("<table cellspacing=\"0\" cellpadding=\"3\" style=\"margin-top:12px\">");
        for (const PreviewRow& row : document.rows) {
            html += QStringLiteral(
                        "<tr><td align=\"right\" valign=\"top\" style=\"color:%1; "
                        "padding-right:8px\">%2</td><td valign=\"top\">%3")
                        .arg(dim, escaped(row.label), escaped(row.value));
            if (!row.note.empty())
                html += QStringLiteral("<br><small style=\"color:%1\">%2</small>")
                            .arg(dim, escaped(row.note));
            html += QStringLiteral("</td></tr>");
        }
        html += QStringLiteral("</table>");
    }
    if (html.isEmpty())
        html = QStringLiteral("<div style=\"color:%1\">%2</div>")
                   .arg(dim, tr("No record to preview.").toHtmlEscaped());
    preview_->setHtml(html);
}

void FieldMappingPageWidget::changeEvent(QEvent* event) {
    // The status colours and the preview's are picked for the palette: redraw when it changes.
    if (event->type() == QEvent::PaletteChange) refresh();
    QWidget::changeEvent(event);
}

}  // namespace pelkora::gui
