#include "PageTitles.h"

#include <array>

#include "support/SharedNames.h"

namespace pelkora::gui {

QString pageTitle(std::string_view pageName) {
    struct Title {
        std::string_view page;
        const char* title;
    };
    static constexpr std::array kTitles = {
        Title{PageNames::NoAccessPage, "No Access to the Address Book"},
        Title{PageNames::RestrictedAccessPage, "Access to the Address Book Restricted"},
        Title{PageNames::AuthStatusNotDeterminedPage, "Asking for the Address Book"},
        Title{PageNames::InitialPage, "Import Contacts"},
        Title{PageNames::SetTextEncodingPage, "Text Encoding"},
        Title{PageNames::FieldMappingPage, "Field Mapping"},
        Title{PageNames::ImportPage, "Import"},
        Title{PageNames::VCFScanPage, "vCard Scan"},
    };
    for (const auto& entry : kTitles) {
        if (entry.page == pageName) return QString::fromUtf8(entry.title);
    }
    return QString::fromUtf8(pageName.data(), static_cast<qsizetype>(pageName.size()));
}

}  // namespace pelkora::gui
