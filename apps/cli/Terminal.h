#pragma once

// How the pelkora command writes for people: text sized to the terminal, control characters
// made visible, colour only where a person looks at a terminal that wants it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora::cli {

// The width a terminal gives a text: wide and full-width characters (CJK, most emoji) count
// two columns, combining marks and other zero-width characters none, the rest one. Ill-formed
// bytes count one each, as they are shown escaped.
std::size_t displayWidth(std::string_view text);

// The text cut to at most `width` columns, ending in "…" when something was cut; a wide
// character that would straddle the edge is left out whole.
std::string truncatedToWidth(std::string_view text, std::size_t width);

// The text cut to `width` columns, then padded with spaces to exactly `width` columns.
std::string fittedToWidth(std::string_view text, std::size_t width);

// The text with every control character written out, so that no byte of it can act on a
// terminal: ESC as "\x1b", tab, line feed and carriage return as "\t", "\n" and "\r", the
// other C0 controls, DEL and the C1 controls (U+0080 to U+009F) as "\xNN" with their code,
// ill-formed UTF-8 bytes as "\xNN" too, and a backslash as itself. With `keepLineFeeds` a line
// feed stays one (messages of several lines).
std::string escapedControls(std::string_view text, bool keepLineFeeds = false);

// Rows of cells as the lines of a table: control characters escaped, columns aligned by display
// width and joined by `separator`, no spaces after the last cell. With `fitTo` (the width of a
// terminal) the widest columns are cut, each with "…", until a line fits; a table too wide even
// then has its lines cut at the edge. Without it nothing is cut.
std::vector<std::string> tableLines(const std::vector<std::vector<std::string>>& rows,
                                    std::optional<std::size_t> fitTo,
                                    std::string_view separator = "  ");

// The columns of a terminal: `fromTerminal` (its window size) when known and non-zero, else
// $COLUMNS when it is a positive number, else 80.
std::size_t terminalColumns(std::optional<std::size_t> fromTerminal, const char* columnsVariable);

// One line of a progress display, "Reading “a.csv” [#####     ] 120 of 400" (without a
// fraction, no bar), escaped and at most `columns` - 1 columns wide, so that the terminal never
// wraps it: the bar shrinks from 30 cells to 10 before the texts are cut.
std::string progressLine(std::string_view description, std::optional<double> fraction,
                         std::string_view detail, std::size_t columns);

// Colour is written only to a terminal, and never when NO_COLOR is set to a non-empty value.
bool colourWanted(bool isTerminal, const char* noColorVariable);

// Facts about one of the process's output streams, read once.
struct OutputStream {
    bool isTerminal = false;
    bool colour = false;
    std::size_t columns = 80;  // the terminal's width; meaningful only on a terminal
};
// Standard output and standard error as this process finds them.
const OutputStream& standardOutput();
const OutputStream& standardError();

// The lines of a listing on `stream`: on a terminal a table fitted to its width; elsewhere the
// escaped cells parted by tabs, as scripts read them (empty cells at the end left out).
std::vector<std::string> listingLines(const std::vector<std::vector<std::string>>& rows,
                                      const OutputStream& stream);
// Prints a listing on standard output.
void printListing(const std::vector<std::vector<std::string>>& rows);

enum class Colour { red, yellow, green, dim };

// The text in the colour when `enabled`, else the text as it is.
std::string coloured(std::string_view text, Colour colour, bool enabled);

// A page of the wizard as people call it ("Field mapping" for "FieldMappingViewController");
// the registry name itself for a page without a title here.
std::string pageTitle(std::string_view pageName);

// A line typed on the terminal without showing it (a password), after the prompt on standard
// error; none when standard input is no terminal or ends.
std::optional<std::string> askPassword(const std::string& prompt);

}  // namespace pelkora::cli
