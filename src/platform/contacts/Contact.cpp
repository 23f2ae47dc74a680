#include "platform/contacts/Contact.h"

#include <cstdio>
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
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

Contact Contact::makeNew() {
    Contact contact;
    contact.identifier = makeUUID();
    return contact;
}

}  // namespace pelkora::contacts
