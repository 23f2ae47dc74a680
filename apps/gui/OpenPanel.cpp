#include "OpenPanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

#include "session/ImportSession.h"

namespace pelkora::gui {

OpenPanel::OpenPanel(QWidget* parent) : QFileDialog(parent) {
    setOption(QFileDialog::DontUseNativeDialog);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Import from File"));
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, tr("&Open"));
    setNameFilters(
        {tr("Contact files (*.csv *.tsv *.tab *.txt *.xlsx *.vcf *.vcard)"), tr("All files (*)")});

    openAs_ = new QComboBox(this);
    openAs_->setAccessibleName(tr("Open as"));
    struct Item {
        const char* title;
        OpenAsFileType type;
    };
    static constexpr Item kItems[] = {
        {"Determine Automatically", OpenAsFileType::determineAutomatically},
        {"Excel Workbook (.xlsx)", OpenAsFileType::officeOpenXMLSpreadsheet},
        {"Text File", OpenAsFileType::text},
    };
    for (const auto& item : kItems) openAs_->addItem(tr(item.title), static_cast<int>(item.type));
    openAs_->setCurrentIndex(0);
    connect(openAs_, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { emit openAsFileTypeChosen(openAs_->itemData(index).toInt()); });

    // Qt's own dialog lays its rows out in a grid: the pop-up becomes one more row of it.
    auto* label = new QLabel(tr("Open &as:"), this);
    label->setBuddy(openAs_);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(openAs_, row, 1);
    }
}

}  // namespace pelkora::gui
