#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Terminal.h"

namespace pelkora::cli {
namespace {

TEST(DisplayWidth, WideCharactersCountTwoAndMarksNone) {
    const struct {
        std::string_view text;
        std::size_t width;
    } cases[] = {
        {"", 0},
        {"Anna", 4},
        {"Müller", 6},
        {"Mu\xCC\x88ller", 6},  // u and a combining diaeresis
        {"東京都", 6},
        {"ｶﾀｶﾅ", 4},  // half-width katakana
        {"ＡＢ", 4},  // full-width letters
        {"한국", 4},
        {"👍", 2},
        {"a\xFF"
         "b",
         3},  // an ill-formed byte is shown as one escape, counted one
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.text));
        EXPECT_EQ(displayWidth(entry.text), entry.width);
    }
}

TEST(Truncation, CutsByDisplayWidthWithAnEllipsis) {
    const struct {
        std::string_view text;
        std::size_t width;
        std::string_view truncated;
    } cases[] = {
        {"Anna Berg", 20, "Anna Berg"},
        {"Anna Berg", 9, "Anna Berg"},
        {"Anna Berg", 8, "Anna Be…"},
        {"Anna Berg", 1, "…"},
        {"Anna Berg", 0, ""},
        {"東京都港区", 6, "東京…"},  // two wide characters and the ellipsis: 5 columns
        {"東京都港区", 5, "東京…"},
        {"東京都港区", 4, "東…"},              // the second character would straddle the edge
        {"Mu\xCC\x88ller", 3, "Mu\xCC\x88…"},  // the mark stays with its letter
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.text) + " in " + std::to_string(entry.width));
        const auto truncated = truncatedToWidth(entry.text, entry.width);
        EXPECT_EQ(truncated, entry.truncated);
        EXPECT_LE(displayWidth(truncated), entry.width);
    }
    EXPECT_EQ(fittedToWidth("東京", 6), "東京  ");
    EXPECT_EQ(fittedToWidth("東京都港区", 5), "東京…");
}

TEST(Escaping, ControlCharactersAreWrittenOut) {
    const struct {
        std::string_view text;
        std::string_view escaped;
    } cases[] = {
        {"Anna Berg", "Anna Berg"},
        {"\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
        {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {std::string_view("nul\0!", 5), "nul\\x00!"},
        {"del\x7f", "del\\x7f"},
        {"csi\xC2\x9B"
         "2J",
         "csi\\x9b2J"},  // U+009B, the one-character CSI
        {"nel\xC2\x85", "nel\\x85"},
        {"\xC2\xA0non-break", "\xC2\xA0non-break"},  // U+00A0 is no control
        {"bad\xFF\xFE", "bad\\xff\\xfe"},
        {"東京\x1b", "東京\\x1b"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.escaped));
        const auto escaped = escapedControls(entry.text);
        EXPECT_EQ(escaped, entry.escaped);
        for (unsigned char byte : escaped) EXPECT_FALSE(byte < 0x20 || byte == 0x7F);
    }
    EXPECT_EQ(escapedControls("two\nlines\x1b", true), "two\nlines\\x1b");
}

TEST(TerminalRules, ColourOnlyOnATerminalWithoutNoColor) {
    EXPECT_TRUE(colourWanted(true, nullptr));
    EXPECT_TRUE(colourWanted(true, ""));  // set but empty: as if not set
    EXPECT_FALSE(colourWanted(true, "1"));
    EXPECT_FALSE(colourWanted(true, "0"));  // any non-empty value
    EXPECT_FALSE(colourWanted(false, nullptr));
    EXPECT_FALSE(colourWanted(false, ""));

    EXPECT_EQ(coloured("pelkora:", Colour::red, false), "pelkora:");
    EXPECT_EQ(coloured("pelkora:", Colour::red, true), "\x1b[31mpelkora:\x1b[0m");
}

TEST(TerminalRules, WidthFromTheTerminalElseColumnsElseEighty) {
    EXPECT_EQ(terminalColumns(120, "60"), 120u);
    EXPECT_EQ(terminalColumns(std::nullopt, "60"), 60u);
    EXPECT_EQ(terminalColumns(0, "60"), 60u);
    EXPECT_EQ(terminalColumns(std::nullopt, nullptr), 80u);
    for (const char* bad : {"", "0", "-5", "wide", "60x"})
        EXPECT_EQ(terminalColumns(std::nullopt, bad), 80u) << bad;
}

TEST(Tables, FitTheTerminalOnlyWhenAsked) {
    const std::vector<std::vector<std::string>> rows = {
        {"1", "Name", "Anna Berg"},
        {"2", "Address", "Hauptstraße 1, 10115 Berlin, Deutschland"},
        {"3", "City", "東京都港区六本木"},
        {"4", "Note", "\x1b]0;pwned\x07"},
    };
    const auto whole = tableLines(rows, std::nullopt);
    ASSERT_EQ(whole.size(), 4u);
    EXPECT_EQ(whole[0], "1  Name     Anna Berg");
    EXPECT_EQ(whole[1], "2  Address  Hauptstraße 1, 10115 Berlin, Deutschland");
    EXPECT_EQ(whole[3], "4  Note     \\x1b]0;pwned\\x07");

    for (std::size_t columns : {40u, 30u, 24u}) {
        SCOPED_TRACE(columns);
        const auto fitted = tableLines(rows, columns);
        for (const auto& line : fitted) EXPECT_LE(displayWidth(line), columns) << line;
        EXPECT_EQ(fitted[0].substr(0, 12), "1  Name     ");
        EXPECT_NE(fitted[1].find("…"), std::string::npos);
        // The short columns keep their width; the wide one gives way.
        EXPECT_EQ(fitted[2].substr(0, 12), "3  City     ");
    }
    // Too narrow for every column: the lines are cut at the edge.
    for (const auto& line : tableLines(rows, 8)) EXPECT_LE(displayWidth(line), 8u) << line;
}

TEST(Listings, TabsInAPipeAlignedOnATerminal) {
    const std::vector<std::vector<std::string>> rows = {{"Work", "3", ""}, {"Fa\tmily", "12", ""}};
    const OutputStream pipe{false, false, 80};
    EXPECT_EQ(listingLines(rows, pipe), (std::vector<std::string>{"Work\t3", "Fa\\tmily\t12"}));
    const OutputStream terminal{true, true, 80};
    EXPECT_EQ(listingLines(rows, terminal),
              (std::vector<std::string>{"Work      3", "Fa\\tmily  12"}));
}

TEST(Progress, TheLineFitsTheTerminal) {
    const std::string description = "Importing “Adressen 2024.csv”";
    const std::string detail = "1200 of 4000 contacts";
    const auto wide = progressLine(description, 0.5, detail, 120);
    EXPECT_EQ(wide,
              description + " [" + std::string(15, '#') + std::string(15, ' ') + "] " + detail);
    for (std::size_t columns : {80u, 60u, 40u, 20u, 2u}) {
        SCOPED_TRACE(columns);
        EXPECT_LT(displayWidth(progressLine(description, 0.5, detail, columns)), columns);
        EXPECT_LT(displayWidth(progressLine(description, std::nullopt, detail, columns)), columns);
    }
    // The bar shrinks before the texts are cut: to 15 cells at 70 columns, then to its
    // narrowest, 10, after which the detail gives way.
    EXPECT_EQ(progressLine(description, 1.0, detail, 70),
              description + " [" + std::string(15, '#') + "] " + detail);
    const auto narrow = progressLine(description, 1.0, detail, 60);
    EXPECT_EQ(narrow.substr(0, narrow.find(']') + 1),
              description + " [" + std::string(10, '#') + "]");
    EXPECT_EQ(narrow.substr(narrow.size() - 3), "…");
    EXPECT_EQ(progressLine("Reading \x1b[2J", std::nullopt, "", 80), "Reading \\x1b[2J ");
}

TEST(PageTitles, PagesAreNamedAsPeopleCallThem) {
    EXPECT_EQ(pageTitle("FieldMappingViewController"), "Field mapping");
    EXPECT_EQ(pageTitle("InitialViewController"), "Start");
    EXPECT_EQ(pageTitle("SomeFuturePage"), "SomeFuturePage");
}

}  // namespace
}  // namespace pelkora::cli
