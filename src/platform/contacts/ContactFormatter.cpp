#include "platform/contacts/ContactFormatter.h"

namespace pelkora::contacts {

std::string stringFromContact(const Contact& contact, ContactFormatterStyle style) {
    std::string result;
    auto append = [&](const std::string& part) {
        if (part.empty()) return;
        if (!result.empty()) result += ' ';
        result += part;
    };
    if (style == ContactFormatterStyle::phoneticFullName) {
        if (contact.contactType == ContactType::organization) return contact.phoneticOrganizationName;
        append(contact.phoneticGivenName);
        append(contact.phoneticMiddleName);
        append(contact.phoneticFamilyName);
        return result;
    }
    if (contact.contactType == ContactType::organization) return contact.organizationName;
    append(contact.namePrefix);
    append(contact.givenName);
    append(contact.middleName);
    append(contact.familyName);
    append(contact.nameSuffix);
    return result;
}

}  // namespace pelkora::contacts
