#include <gtest/gtest.h>

#include "support/Json.h"

namespace pelkora {
namespace {

TEST(JsonString, EscapesEveryControlCharacter) {
    const struct {
        std::string_view text;
        std::string_view json;
    } cases[] = {
        {"Anna", "\"Anna\""},
        {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
        {"a\tb\nc\rd", "\"a\\tb\\nc\\rd\""},
        {"\x1b]0;pwned\x07", "\"\\u001B]0;pwned\\u0007\""},
        {std::string_view("\0\x1f\x7f", 3), "\"\\u0000\\u001F\\u007F\""},
        {"\xC2\x80\xC2\x9B\xC2\x9F", "\"\\u0080\\u009B\\u009F\""},  // C1 controls
        {"\xC2\xA0Köln 東京", "\"\xC2\xA0Köln 東京\""},             // no controls
        {"bad\xFF", "\"bad\xEF\xBF\xBD\""},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.json));
        EXPECT_EQ(json::quoted(entry.text), entry.json);
    }
}

}  // namespace
}  // namespace pelkora
