#pragma once

// The core's texts are UTF-8 std::strings; the widgets' are QStrings.

#include <QString>
#include <string_view>

namespace pelkora::gui {

inline QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace pelkora::gui
