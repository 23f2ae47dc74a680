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

// Every string appendString writes from well-formed UTF-8 reads back to the same bytes.
TEST(JsonParse, StringsReadBackExactlyWhatWasWritten) {
    const std::string texts[] = {
        "",
        "Anna",
        "say \"hi\" \\ bye / ok",
        std::string("\0\x01\x1f\x7f tab\t nl\n cr\r", 17),
        "\xC2\x80\xC2\x9F\xC2\xA0 Köln 東京 😀",
    };
    for (const std::string& text : texts) {
        std::string document = "[";
        json::appendString(document, text);
        document += "]";
        SCOPED_TRACE(document);
        const auto value = json::parse(document);
        ASSERT_TRUE(value);
        ASSERT_EQ(value->array.size(), 1u);
        EXPECT_EQ(value->array[0].string, text);
    }
}

TEST(JsonParse, ReadsObjectsArraysNumbersAndEscapes) {
    const auto value = json::parse(
        " {\"name\": \"A\\u00e9\\uD83D\\uDE00\\n\", \"year\": -1984, \"ratio\": 2.5e-1,"
        " \"list\": [true, false, null, {}], \"empty\": [], \"name\": \"second\"}\r\n");
    ASSERT_TRUE(value);
    ASSERT_EQ(value->type, json::Value::Type::object);
    ASSERT_TRUE(value->find("name"));
    EXPECT_EQ(value->find("name")->string, "Aé😀\n");  // the first of a repeated name
    EXPECT_EQ(value->find("year")->number, -1984);
    EXPECT_EQ(value->find("ratio")->number, 0.25);
    const json::Value& list = *value->find("list");
    ASSERT_EQ(list.array.size(), 4u);
    EXPECT_TRUE(list.array[0].boolean);
    EXPECT_EQ(list.array[1].type, json::Value::Type::boolean);
    EXPECT_EQ(list.array[2].type, json::Value::Type::null);
    EXPECT_EQ(list.array[3].type, json::Value::Type::object);
    EXPECT_TRUE(value->find("empty")->array.empty());
    EXPECT_EQ(value->find("missing"), nullptr);
    EXPECT_EQ(list.find("anything"), nullptr);
    // A lone surrogate names no character.
    EXPECT_EQ(json::parse("\"\\uD800x\"")->string, "\xEF\xBF\xBDx");
}

TEST(JsonParse, RefusesWhatIsNotJson) {
    for (const std::string_view text : {"",
                                        "   ",
                                        "{",
                                        "[1,]",
                                        "{\"a\" 1}",
                                        "{\"a\":1,}",
                                        "[1] 2",
                                        "01",
                                        "1.",
                                        "-",
                                        "+1",
                                        ".5",
                                        "1e",
                                        "\"open",
                                        "\"tab\there\"",
                                        "\"bad \\x escape\"",
                                        "\"\\u12G4\"",
                                        "tru",
                                        "nul",
                                        "{'a': 1}",
                                        "\"\xFF\"",
                                        "\"\xC0\xAF\""}) {
        SCOPED_TRACE(std::string(text));
        EXPECT_FALSE(json::parse(text));
    }
    EXPECT_TRUE(json::parse(std::string(200, '[') + std::string(200, ']')));
    EXPECT_FALSE(json::parse(std::string(100000, '[') + std::string(100000, ']')));
}

}  // namespace
}  // namespace pelkora
