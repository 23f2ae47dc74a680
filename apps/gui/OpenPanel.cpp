#include "OpenPanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>

#include "session/ImportSession.h"

namespace pelkora::gui {

OpenPanel::OpenPanel(QWidget* parent) : QFileDialog(parent) {
    setOption(QFileDialog::DontUseNativeDialog);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Import from File"));
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, tr("&Open"));
    // Wide enough for the Name, Size, Type and Date columns without eliding them.
    setMinimumSize(860, 480);
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

    // Type names such as "CSV document" and "Excel 2007 spreadsheet" are long: give the
    // detail view's columns room for them.
    if (auto* details = findChild<QTreeView*>()) {
        QHeaderView* header = details->header();
        header->resizeSection(0, 260);
        header->resizeSection(1, 90);
        header->resizeSection(2, 200);
        header->resizeSection(3, 170);
    }

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
