#pragma once

// The fixed list of targets a column can be assigned to, and the target menu built from it.

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mapping/SuggestedContactProperty.h"

namespace pelkora {

// One entry of the catalogue: a separator, the Ignore choice, or a target.
struct CatalogueSeparator {
    bool operator==(const CatalogueSeparator&) const = default;
};
struct CatalogueIgnore {
    bool operator==(const CatalogueIgnore&) const = default;
};
using CatalogueEntry = std::variant<CatalogueSeparator, CatalogueIgnore, SuggestedContactProperty>;

// The 65 entries in menu order: Ignore, then the targets in groups divided by separators.
const std::vector<CatalogueEntry>& contactPropertyCatalogue();

// One item of the target menu, for any front end to draw.
struct TargetMenuItem {
    enum class Kind { separator, ignore, property };
    Kind kind = Kind::separator;
    int tag = 0;                    // 1 for Ignore; 100, 101 … for the targets in order
    std::string title;              // "Ignore", the target's title, or "Undefined"
    std::string representedString;  // the Ignore marker for Ignore
    SuggestedContactProperty representedEntry;  // the target, for property items
    std::string imageName;                      // empty unless icons are shown
    bool operator==(const TargetMenuItem&) const = default;
};

inline constexpr int kIgnoreMenuTag = 1;
inline constexpr int kFirstTargetMenuTag = 100;

// The target menu: a separator, then one item per catalogue entry. With showIcons each
// target item names its icon.
std::vector<TargetMenuItem> makeTargetMenu(bool showIcons);

}  // namespace pelkora
