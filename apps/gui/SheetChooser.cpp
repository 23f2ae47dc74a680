#include "SheetChooser.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelkora::gui {

SheetChooser::SheetChooser(const std::vector<SheetChoice>& sheets, QWidget* parent)
    : QDialog(parent) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Choose a Sheet"));
    setMinimumWidth(420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(12);
    auto* heading = new QLabel(tr("This workbook has several sheets."), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    auto* explanation = new QLabel(tr("Choose the sheet whose rows you want to import."), this);
    explanation->setWordWrap(true);

    sheetPopUp_ = new QComboBox(this);
    sheetPopUp_->setAccessibleName(tr("Sheet"));
    for (const auto& sheet : sheets)
        sheetPopUp_->addItem(QString::fromStdString(sheet.title),
                             QVariant::fromValue(static_cast<qlonglong>(sheet.sheetId)));
    sheetPopUp_->setCurrentIndex(0);
    auto* form = new QFormLayout;
    auto* sheetLabel = new QLabel(tr("&Sheet:"), this);
    sheetLabel->setBuddy(sheetPopUp_);
    form->addRow(sheetLabel, sheetPopUp_);

    auto* buttons = new QDialogButtonBox(this);
    choose_ = buttons->addButton(tr("&Import Sheet"), QDialogButtonBox::AcceptRole);
    choose_->setAccessibleName(tr("Import Sheet"));
    choose_->setDefault(true);
    auto* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setAccessibleName(tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    layout->addWidget(heading);
    layout->addWidget(explanation);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setFocusProxy(sheetPopUp_);
}

std::optional<std::int64_t> SheetChooser::selectedSheetId() const {
    const QVariant data = sheetPopUp_->currentData();
    if (!data.isValid()) return std::nullopt;
    return data.toLongLong();
}

}  // namespace pelkora::gui
