#include "AccessPageWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "PageTitles.h"
#include "session/ImportSession.h"
#include "support/SharedNames.h"

namespace pelkora::gui {
namespace {

struct AccessTexts {
    QString heading;
    QString explanation;
    QStyle::StandardPixmap icon;
};

AccessTexts accessTexts(std::string_view pageName) {
    if (pageName == PageNames::NoAccessPage)
        return {QObject::tr("Pelkora may not use your address book."),
                QObject::tr("The address book refused access to Pelkora. Allow Pelkora to use "
                            "your contacts in the address book’s settings, then open Pelkora "
                            "again."),
                QStyle::SP_MessageBoxCritical};
    if (pageName == PageNames::RestrictedAccessPage)
        return {QObject::tr("Access to the address book is restricted on this computer."),
                QObject::tr("An administrator has restricted which programs may use the "
                            "address book. Ask them to allow Pelkora."),
                QStyle::SP_MessageBoxWarning};
    return {QObject::tr("Waiting for permission to use your address book…"),
            QObject::tr("Pelkora has asked for access to your contacts. The start page appears "
                        "as soon as access is granted."),
            QStyle::SP_MessageBoxInformation};
}

}  // namespace

AccessPageWidget::AccessPageWidget(ImportSession& session, std::string_view pageName,
                                   QWidget* parent)
    : QWidget(parent) {
    const AccessTexts texts = accessTexts(pageName);
    auto* layout = makePageLayout(this);

    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(texts.icon).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    auto* textColumn = new QVBoxLayout;
    auto* heading = makePageHeading(texts.heading, this, 1.3);
    heading->setWordWrap(true);
    explanation_ = new QLabel(texts.explanation, this);
    explanation_->setWordWrap(true);
    explanation_->setAccessibleName(texts.heading);
    textColumn->addWidget(heading);
    textColumn->addWidget(explanation_);
    row->addWidget(icon);
    row->addSpacing(12);
    row->addLayout(textColumn, 1);

    auto* log = new QPushButton(tr("Open Runtime &Log"), this);
    log->setAccessibleName(tr("Open Runtime Log"));
    connect(log, &QPushButton::clicked, this, [&session] { session.openRuntimeLog(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(log);

    layout->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(2);
    layout->addLayout(buttons);
    setFocusProxy(log);
}

}  // namespace pelkora::gui
