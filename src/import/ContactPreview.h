#pragma once

// The preview of one contact on the field-mapping page: the contact that the current mapping
// makes of the previewed row, as a small styled document that any front end can render.
//
// The document keeps the structure (a name block, a job line, then labelled rows) and the
// styles, not a concrete font or colour: the GUI shows renderHtml's output in a rich-text
// view, the command line prints renderPlainText's. It reads the contact only and does no
// store access, because it is rebuilt on every change of the mapping or of the row.

#include <string>
#include <vector>

#include "addressbook/Contact.h"

namespace pelkora {

// How a line of the name block is set.
enum class PreviewTitleStyle {
    name,           // the contact's name as the address book shows it, the most prominent line
    alternateName,  // phonetic and other-type renderings and the nickname, set lighter
};

// One line of the name block.
struct PreviewLine {
    std::string text;
    PreviewTitleStyle style = PreviewTitleStyle::name;
    bool operator==(const PreviewLine&) const = default;
};

// One labelled value of the body: the label in the left column, the value in the right.
struct PreviewRow {
    std::string label;
    std::string value;  // may hold several lines separated by "\n" (a postal address)
    std::string note;   // a remark set small under the value, empty for none
    bool operator==(const PreviewRow&) const = default;
};

// The preview of one contact; each part is empty when the contact has nothing for it.
struct PreviewDocument {
    std::vector<PreviewLine> titleLines;
    std::string subtitle;  // the job line
    std::vector<PreviewRow> rows;
    bool operator==(const PreviewDocument&) const = default;
};

// The preview of the contact with the given group names, in the order the address book shows
// a contact: name block, job line, maiden name, phones, e-mails, URLs, birthday, dates,
// related names, social profiles, instant messaging, postal addresses, groups, note. A postal
// address is laid out for its own country (its ISO code or country name, else the user's
// country) and has a note only when the country it names is not recognised.
PreviewDocument attributedPreview(const contacts::Contact& contact,
                                  const std::vector<std::string>& groupNames);

// The date as the preview writes it: "12 March 1980", "12 March" without a year, and "???"
// when the components make no date (no day or month, or a day the month does not have).
std::string previewDateText(const contacts::DateComponents& date);

// The document as text lines: the name block, the job line, a blank line, then one
// "label  value" line per row with the labels padded to one width and continuation lines of a
// value indented under it.
std::string renderPlainText(const PreviewDocument& document);

// The document as an HTML fragment for a rich-text view: paragraphs for the name block and job
// line, a two-column table for the rows, with classes for the styles and all text escaped.
std::string renderHtml(const PreviewDocument& document);

}  // namespace pelkora
