#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string_view>

#include "addressbook/ContactKeys.h"

namespace pelkora::contacts {
namespace {

// A typo in a table would silently make a label unknown to every saved file.
TEST(ContactKeysTest, BuiltInLabelsAreDistinctAndWrappedUnlessPlainProductNames) {
    std::set<std::string_view> seen;
    for (std::string_view label : builtInLabels) {
        EXPECT_TRUE(seen.insert(label).second) << "twice: " << label;
        if (label == Label::iCloud || label == Label::iPhone) continue;
        EXPECT_TRUE(label.starts_with("_$!<") && label.ends_with(">!$_")) << label;
        EXPECT_GT(label.size(), 8u) << label;
    }
}

TEST(ContactKeysTest, CommonAndExtendedRelationsAreSeparateListsInMenuOrder) {
    EXPECT_EQ(relationLabels.size(), 35u);
    EXPECT_EQ(extendedRelationLabels.size(), 179u);
    EXPECT_EQ(relationLabels.front(), RelationLabel::assistant);
    EXPECT_EQ(extendedRelationLabels.front(), RelationLabel::grandparent);
    for (std::string_view label : extendedRelationLabels) {
        EXPECT_EQ(std::find(relationLabels.begin(), relationLabels.end(), label),
                  relationLabels.end())
            << label;
    }
    EXPECT_EQ(RelationLabel::friend_, "_$!<Friend>!$_");
}

}  // namespace
}  // namespace pelkora::contacts
