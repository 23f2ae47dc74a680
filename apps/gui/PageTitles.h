#pragma once

// What the window calls each wizard page (its title bar and the placeholder pages).

#include <QString>
#include <string_view>

namespace pelkora::gui {

// "Text Encoding" for "SetTextEncodingViewController"; the registry name itself for a page
// without a title here.
QString pageTitle(std::string_view pageName);

}  // namespace pelkora::gui
