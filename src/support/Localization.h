#pragma once

// Every user-visible text goes through localizedString, so that translations can
// be added later in one place. The English text is the key and the default.

#include <string>
#include <string_view>

namespace pelkora {

// The text in the user's language; the comment tells translators where it appears.
inline std::string localizedString(std::string_view english, std::string_view comment = {}) {
    (void)comment;
    return std::string(english);
}

}  // namespace pelkora
