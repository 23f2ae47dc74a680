#pragma once

// vCards: reading versions 2.1, 3.0 and 4.0 the way address books, phones and mail programs
// write them, and writing version 3.0.
//
// Reading keeps syntax apart from meaning: bytes become unfolded content lines with their
// parameters (VCardLexer), the lines' values are decoded (VCardValue), and only then are
// properties given a meaning as contact fields (VCardReader). Writing goes the other way
// (VCardWriter). Labels are the constants of ContactKeys.h: the TYPE words a program writes
// ("HOME", "CELL", "WORK,FAX") map to them, and any other label travels as an Apple-style
// grouped "itemN.X-ABLabel" in plain words ("mother", "Boat"). The "_$!<Mother>!$_" tokens that
// labels are stored as are read but never written: other programs show them as they are.
//
// What the writer chooses for other programs (khard and python3-vobject read every vCard we
// write in the tests): a birthday without a year is "BDAY:--0621" (Apple's
// "X-APPLE-OMIT-YEAR=1604" with a year 1604 is read, but other programs show the 1604); the
// first anniversary is "X-ANNIVERSARY", further ones grouped "X-ABDATE" lines; related names
// are grouped "X-ABRELATEDNAMES" lines, and a spouse, manager or assistant also gets its
// "X-SPOUSE", "X-MANAGER" or "X-ASSISTANT" line, which the reader does not take twice.
//
// What is an error and what is passed over: an error is a fault in the structure, where the
// rest of the text can no longer be trusted — no BEGIN:VCARD, a missing END:VCARD at the end,
// END:VCARD without BEGIN:VCARD, text outside a vCard, a line that is neither a property nor a
// folded continuation (no colon, or no valid property name; dropping it could silently cut a
// note in two). A damaged value is passed over, because the rest of the vCard is still what its
// writer meant: a photo whose Base64 is broken is left out, a date that is no date is left out,
// a quoted-printable "=" that is not followed by two hex digits is kept as written (as RFC 2045
// recommends), and text that is not valid in its CHARSET (or, without one, not UTF-8) is read
// as Windows Latin 1, the encoding of the programs that write such files. Unknown properties
// are ignored.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/Contact.h"
#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora::contacts {

enum class VCardErrorKind {
    malformed,  // a structural fault: a line that is no property, a card left open …
};

// Why bytes could not be read as vCards. The message names the line and the problem, e.g.
// "line 12: “Hello there” is neither a property nor a folded continuation line (it has no
// colon)", and line holds the same number.
using VCardError = Error<VCardErrorKind>;

// One vCard of the input.
struct VCardEntry {
    Contact contact;
    std::vector<std::string> categories;  // the CATEGORIES names in order, each once
    std::string rawText;  // the vCard's own text, from BEGIN:VCARD through END:VCARD's line end
    bool operator==(const VCardEntry&) const = default;
};

// Reads every vCard of the bytes, in order. Text is UTF-8 (a byte-order mark is skipped) or,
// with a byte-order mark or the zero bytes of "BEGIN", UTF-16. A contact takes its UID as its
// identifier, or a fresh one without. Fails on the first structural fault (see above).
Expected<std::vector<VCardEntry>, VCardError> readVCards(std::string_view bytes);

// The contacts of readVCards, without their categories and text.
Expected<std::vector<Contact>, VCardError> contactsWithData(std::string_view bytes);

// What dataWithContacts writes besides the contact's own fields. The vCard export adds its
// own NOTE, PHOTO, related-name and CATEGORIES lines, and turns ours off so that every
// property appears at most once.
struct VCardWriteOptions {
    bool includeNote = true;
    bool includePhoto = true;
    bool includeRelatedNames = true;
    bool includeCategories = true;
    // The group names to write as CATEGORIES for a contact; none when not set.
    std::function<std::vector<std::string>(const Contact&)> categories;
};

// The contacts as vCard 3.0 text, one BEGIN:VCARD … END:VCARD each, with CRLF line ends and
// lines folded at 75 octets without cutting a UTF-8 sequence. The photo is the image data,
// or the thumbnail when there is no image; the thumbnail is not written on its own, as the
// store makes it from the image. Empty values and dates without month, day and year are
// left out; a date with a year and a day but no month keeps only its year, as vCard dates
// cannot say it.
std::string dataWithContacts(const std::vector<Contact>& contacts,
                             const VCardWriteOptions& options = {});

// Appends one contact's vCard, as dataWithContacts writes it, to `out`.
void appendVCard(std::string& out, const Contact& contact, const VCardWriteOptions& options = {});

// The vCard text with its CATEGORIES replaced by the names (none: removed). Only the
// CATEGORIES line changes, so properties our reader does not know survive; the new line is
// the writer's own, with its escaping and folding, and the text's own line ends.
std::string vCardWithCategories(std::string_view text, const std::vector<std::string>& names);

// The text a label is written as in an X-ABLabel line, which other programs show as it is: a
// built-in label's English name ("mother", "home fax"), any other label as it is, but for the
// "_$!<…>!$_" markers of a stored label we do not know ("_$!<Boat>!$_" → "Boat").
std::string vCardLabelText(std::string_view label);

// The property that carries a related name of this label for programs that read neither
// X-ABRELATEDNAMES nor RELATED: "X-SPOUSE" (spouse, wife, husband), "X-MANAGER" or
// "X-ASSISTANT"; empty for any other label.
std::string_view vCardRelationProperty(std::string_view label);

}  // namespace pelkora::contacts
