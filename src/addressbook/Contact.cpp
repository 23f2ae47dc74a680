#include "addressbook/Contact.h"

#include <random>

namespace pelkora::contacts {

std::string makeUUID() {
    // One generator per thread: contacts are made on background operations too.
    thread_local std::mt19937_64 generator{std::random_device{}()};
    const std::uint64_t high = generator();
    const std::uint64_t low = generator();
    std::uint8_t bytes[16];
    for (int index = 0; index < 8; ++index) {
        bytes[index] = static_cast<std::uint8_t>(high >> (56 - 8 * index));
        bytes[8 + index] = static_cast<std::uint8_t>(low >> (56 - 8 * index));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    // Written by hand rather than with snprintf: a contact import makes several identifiers
    // per contact, and the formatting dominated their cost.
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string text(36, '-');
    std::size_t at = 0;
    for (int index = 0; index < 16; ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) ++at;  // keeps the '-'
        text[at++] = kHexDigits[bytes[index] >> 4];
        text[at++] = kHexDigits[bytes[index] & 0x0F];
    }
    return text;
}

Contact Contact::makeNew() {
    Contact contact;
    contact.identifier = makeUUID();
    return contact;
}

}  // namespace pelkora::contacts
