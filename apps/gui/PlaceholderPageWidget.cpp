#include "PlaceholderPageWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "PageTitles.h"
#include "session/ImportSession.h"
#include "session/Page.h"
#include "support/SharedNames.h"

namespace pelkora::gui {

PlaceholderPageWidget::PlaceholderPageWidget(ImportSession& session, Page& page, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    auto* heading = new QLabel(pageTitle(page.name()), this);
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.5);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    auto* note = new QLabel(tr("This page is not yet available in the desktop application. "
                               "The pelkora command can do what it does."),
                            this);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);

    back_ = new QPushButton(tr("&Back"), this);
    back_->setAccessibleName(tr("Back"));
    continue_ = new QPushButton(tr("&Continue"), this);
    continue_->setAccessibleName(tr("Continue"));
    continue_->setDefault(true);

    // The import page sets no way back of its own: it returns to the page that led to it.
    // Its continue would start the import, which this window cannot show yet.
    const bool isImportPage = page.name() == PageNames::ImportPage;
    const std::string backTarget =
        page.previousPageName().value_or(isImportPage ? session.previousPageName() : std::string());
    back_->setEnabled(!backTarget.empty());
    connect(back_, &QPushButton::clicked, this,
            [&session, backTarget] { session.schedulePage(backTarget); });
    const bool continues = !isImportPage && (page.nextPageName().has_value() ||
                                             page.name() == PageNames::FieldMappingPage ||
                                             page.name() == PageNames::VCFScanPage);
    continue_->setEnabled(continues);
    connect(continue_, &QPushButton::clicked, this,
            [&session, &page] { page.continueAction(session); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addStretch();
    buttons->addWidget(continue_);
    layout->addWidget(heading);
    layout->addWidget(note);
    layout->addStretch();
    layout->addLayout(buttons);
    setTabOrder(back_, continue_);
    setFocusProxy(continue_->isEnabled() ? continue_ : back_);
}

}  // namespace pelkora::gui
