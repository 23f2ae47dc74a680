#include "PageTitles.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

#include "support/Localization.h"
#include "support/SharedNames.h"

namespace pelkora::gui {

QString pageTitle(std::string_view pageName) {
    struct Title {
        std::string_view page;
        const char* title;
    };
    static constexpr std::array kTitles = {
        Title{PageNames::NoAccessPage, N_("No Access to the Address Book")},
        Title{PageNames::RestrictedAccessPage, N_("Access to the Address Book Restricted")},
        Title{PageNames::AuthStatusNotDeterminedPage, N_("Asking for the Address Book")},
        Title{PageNames::InitialPage, N_("Import Contacts")},
        Title{PageNames::SetTextEncodingPage, N_("Text Encoding")},
        Title{PageNames::FieldMappingPage, N_("Field Mapping")},
        Title{PageNames::ImportPage, N_("Import")},
        Title{PageNames::VCFScanPage, N_("vCard Scan")},
    };
    for (const auto& entry : kTitles) {
        if (entry.page == pageName) return QString::fromStdString(localizedString(entry.title));
    }
    return QString::fromUtf8(pageName.data(), static_cast<qsizetype>(pageName.size()));
}

QVBoxLayout* makePageLayout(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    return layout;
}

QLabel* makePageHeading(const QString& title, QWidget* parent, double scale) {
    auto* heading = new QLabel(title, parent);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(true);
    heading->setFont(font);
    return heading;
}

PageButtons makePageButtons(QWidget* parent) {
    PageButtons buttons;
    buttons.back = new QPushButton(QObject::tr("&Back"), parent);
    buttons.back->setAccessibleName(QObject::tr("Back"));
    buttons.next = new QPushButton(QObject::tr("&Continue"), parent);
    buttons.next->setAccessibleName(QObject::tr("Continue"));
    buttons.next->setDefault(true);
    buttons.row = new QHBoxLayout;
    buttons.row->addWidget(buttons.back);
    buttons.row->addStretch();
    buttons.row->addWidget(buttons.next);
    return buttons;
}

}  // namespace pelkora::gui
