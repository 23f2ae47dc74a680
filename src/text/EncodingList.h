#pragma once

// The encodings pop-up's items as data, so that any front end shows the same list.
//
// The list starts with the encodings contact files are usually in (ASCII, Mac OS
// Roman, Windows Latin 1, ISO Latin 1, UTF-8, UTF-16 big- and little-endian), then a
// separator, then every other encoding ICU can decode, sorted by title for the user's
// locale.

#include <optional>
#include <string>
#include <vector>

#include "text/TextEncoding.h"

namespace pelkora {

// One item of the pop-up: a separator, or an encoding with its title.
struct EncodingListItem {
    std::optional<TextEncoding> encoding;  // none for a separator
    std::string title;                     // the encoding's display name; empty for a separator

    bool isSeparator() const { return !encoding; }
    bool operator==(const EncodingListItem&) const = default;
};

// The pop-up's items: the common encodings in a fixed order, a separator, the rest by title.
// Titles are unique.
std::vector<EncodingListItem> encodingPopUpItems();

}  // namespace pelkora
