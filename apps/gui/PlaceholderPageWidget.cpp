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

    auto* heading = makePageHeading(pageTitle(page.name()), this);
    auto* note = new QLabel(tr("This page is not yet available in the desktop application. "
                               "The pelkora command can do what it does."),
                            this);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);

    const PageButtons pageButtons = makePageButtons(this);
    back_ = pageButtons.back;
    continue_ = pageButtons.next;

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

    QHBoxLayout* buttons = pageButtons.row;
    layout->addWidget(heading);
    layout->addWidget(note);
    layout->addStretch();
    layout->addLayout(buttons);
    setTabOrder(back_, continue_);
    setFocusProxy(continue_->isEnabled() ? continue_ : back_);
}

}  // namespace pelkora::gui
