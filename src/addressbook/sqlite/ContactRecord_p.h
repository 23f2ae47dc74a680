#pragma once

// The stored form of a contact in the local address book.
//
// A contact is kept whole in one JSON text, so that every field comes back exactly as saved
// (labels, identifiers of labelled values, dates without a year, image bytes), adding a field
// to Contact means adding a member rather than migrating tables, and people and tools can
// read the book with SQLite's JSON functions:
//
//   sqlite3 contacts.sqlite "select json_extract(record, '$.emailAddresses') from contacts"
//
// The object's members are those of Contact, by the same names, each left out when empty:
//   "contactType": "person" | "organization"
//   "givenName", "familyName", "note" … : text
//   "birthday", "nonGregorianBirthday": {"year", "month", "day", "calendar"}, parts optional
//   "phoneNumbers", "emailAddresses", "urlAddresses", "dates", "postalAddresses",
//   "contactRelations", "socialProfiles", "instantMessageAddresses":
//       [{"identifier", "label", "value"}], the value a text, a date or an object of the
//       value's fields by their names
//   "imageData", "thumbnailImageData": Base64
// The identifier is left out: it has a column of its own.
//
// Books written before the JSON form keep each contact in a compact binary record
// (decodeBinaryContactRecord); opening such a book turns its records into JSON.

#include <optional>
#include <string>
#include <string_view>

#include "addressbook/Contact.h"

namespace pelkora::contacts {

// Fills `text` (a buffer reused across contacts) with the contact's JSON record.
void encodeContactRecord(const Contact& contact, std::string& text);

// The contact of a JSON record, or none when the text is not a record this version can read.
// Unknown members are passed over, so a newer version's additions do not hide a contact.
std::optional<Contact> decodeContactRecord(std::string_view identifier, std::string_view text);

// The contact of a binary record of the first book format, or none when the bytes are not
// one (damaged, or not that format).
std::optional<Contact> decodeBinaryContactRecord(std::string_view identifier,
                                                 std::string_view bytes);

}  // namespace pelkora::contacts
