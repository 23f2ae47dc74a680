#pragma once

// Names and addresses as people write them.

#include <string>

#include "platform/contacts/Contact.h"

namespace pelkora::contacts {

enum class ContactFormatterStyle { fullName, phoneticFullName };

// The contact's name for lists and duplicate detection: for a person prefix, given,
// middle and family name and suffix in the order of the user's locale (family name
// first for Chinese, Japanese, Korean, Hungarian and Vietnamese); for an organization
// its name. Empty when the contact has none of them.
std::string stringFromContact(const Contact& contact, ContactFormatterStyle style = ContactFormatterStyle::fullName);

}  // namespace pelkora::contacts
