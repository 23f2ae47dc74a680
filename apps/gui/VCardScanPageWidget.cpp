#include "VCardScanPageWidget.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "PageTitles.h"
#include "PaletteColours.h"
#include "Utf8Text.h"
#include "session/ImportSession.h"
#include "session/VCFScanPage.h"

namespace pelkora::gui {
namespace {

QString fileName(const std::filesystem::path& path) {
    return QString::fromStdString(path.filename().string());
}

}  // namespace

VCardScanPageWidget::VCardScanPageWidget(ImportSession& session, VCFScanPage& page, QWidget* parent)
    : QWidget(parent), session_(session), page_(page) {
    auto* layout = makePageLayout(this);

    auto* heading = makePageHeading(tr("vCard Scan"), this);
    results_ = new QLabel(this);
    QFont resultsFont = results_->font();
    resultsFont.setPointSizeF(resultsFont.pointSizeF() * 1.2);
    results_->setFont(resultsFont);
    results_->setWordWrap(true);
    results_->setAccessibleName(tr("Contacts found"));
    otherPrograms_ = new QLabel(this);
    otherPrograms_->setWordWrap(true);
    otherPrograms_->setForegroundRole(QPalette::PlaceholderText);

    // The files side by side with the groups the cards name.
    auto* lists = new QHBoxLayout;
    auto* filesColumn = new QVBoxLayout;
    auto* filesHeading = new QLabel(tr("&Files:"), this);
    files_ = new QTreeWidget(this);
    files_->setAccessibleName(tr("Files"));
    files_->setRootIsDecorated(false);
    files_->setHeaderLabels({tr("File"), tr("Contacts")});
    files_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    files_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    files_->header()->setStretchLastSection(false);
    filesHeading->setBuddy(files_);
    filesColumn->addWidget(filesHeading);
    filesColumn->addWidget(files_, 1);

    auto* groupsColumn = new QVBoxLayout;
    groupsHeading_ = new QLabel(tr("&Groups the cards name:"), this);
    groups_ = new QListWidget(this);
    groups_->setAccessibleName(tr("Groups"));
    groupsHeading_->setBuddy(groups_);
    noGroups_ = new QLabel(fromUtf8(VCFScanPage::noGroupsText()), this);
    noGroups_->setForegroundRole(QPalette::PlaceholderText);
    noGroups_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    groupsColumn->addWidget(groupsHeading_);
    groupsColumn->addWidget(groups_, 1);
    groupsColumn->addWidget(noGroups_, 1);

    lists->addLayout(filesColumn, 3);
    lists->addSpacing(12);
    lists->addLayout(groupsColumn, 2);

    const PageButtons pageButtons = makePageButtons(this);
    back_ = pageButtons.back;
    continue_ = pageButtons.next;

    layout->addWidget(heading);
    layout->addWidget(results_);
    layout->addWidget(otherPrograms_);
    layout->addLayout(lists, 1);
    layout->addLayout(pageButtons.row);
    setTabOrder(files_, groups_);
    setTabOrder(groups_, back_);
    setTabOrder(back_, continue_);
    setFocusProxy(continue_);

    connect(back_, &QPushButton::clicked, this, [this] { session_.showPreviousPage(); });
    connect(continue_, &QPushButton::clicked, this, [this] { page_.continueAction(session_); });
    QPointer<VCardScanPageWidget> self(this);
    page_.setChangeHandler([self] {
        if (self) self->refresh();
    });
    refresh();
}

void VCardScanPageWidget::refresh() {
    const bool finished = page_.hasFinished();
    back_->setEnabled(page_.previousPageName().has_value());
    continue_->setEnabled(page_.isContinueEnabled());
    if (!finished) {
        results_->setText(tr("Reading the vCard files…"));
        otherPrograms_->hide();
    } else if (page_.showsNoResults()) {
        results_->setText(fromUtf8(VCFScanPage::noResultsText()));
    } else {
        results_->setText(fromUtf8(page_.resultsHeader()));
    }
    QPalette colours = palette();
    if (page_.showsNoResults()) colours.setColor(QPalette::WindowText, warningColour(palette()));
    results_->setPalette(colours);

    if (finished && page_.cardsFromOtherPrograms() > 0) {
        otherPrograms_->setText(
            tr("%1 of them were written by other programs.").arg(page_.cardsFromOtherPrograms()));
        otherPrograms_->show();
    } else {
        otherPrograms_->hide();
    }

    files_->clear();
    for (const auto& [path, cards] : page_.cardsPerFile()) {
        auto* item = new QTreeWidgetItem(files_, {fileName(path), QString::number(cards)});
        item->setToolTip(0, QString::fromStdString(path.string()));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (const auto& [path, reason] : page_.skippedFiles()) {
        auto* item = new QTreeWidgetItem(files_, {fileName(path), tr("skipped")});
        item->setToolTip(0, fromUtf8(reason));
        item->setToolTip(1, fromUtf8(reason));
        item->setForeground(1, warningColour(palette()));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }

    groups_->clear();
    for (const auto& group : page_.groups()) groups_->addItem(fromUtf8(group));
    groups_->setVisible(page_.showsGroupList());
    noGroups_->setVisible(finished && !page_.showsGroupList());
    if (continue_->isEnabled() && isVisible()) continue_->setFocus();
}

}  // namespace pelkora::gui
