#include "addressbook/Contact.h"

#include <chrono>
#include <cstdint>
#include <random>

namespace pelkora::contacts {

namespace {

// The 16 bytes in the 8-4-4-4-12 text form, upper case. Written by hand rather than with
// snprintf: a contact import makes several identifiers per contact, and the formatting
// dominated their cost.
std::string uuidText(const std::uint8_t (&bytes)[16]) {
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

}  // namespace

std::string makeUUID() {
    // One generator and one clock reading per thread: contacts are made on background
    // operations too.
    thread_local std::mt19937_64 generator{std::random_device{}()};
    thread_local std::uint64_t lastMilliseconds = 0;
    thread_local std::uint16_t counter = 0;
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const auto milliseconds = static_cast<std::uint64_t>(now.count());
    if (milliseconds > lastMilliseconds) {
        lastMilliseconds = milliseconds;
        // Starting low leaves the 12-bit counter room for thousands of identifiers a
        // millisecond; past its end the next millisecond is borrowed.
        counter = static_cast<std::uint16_t>(generator() & 0x3FF);
    } else if (++counter > 0xFFF) {
        ++lastMilliseconds;
        counter = 0;
    }
    const std::uint64_t high = (lastMilliseconds << 16) | 0x7000 | counter;
    const std::uint64_t low = generator();
    std::uint8_t bytes[16];
    for (int index = 0; index < 8; ++index) {
        bytes[index] = static_cast<std::uint8_t>(high >> (56 - 8 * index));
        bytes[8 + index] = static_cast<std::uint8_t>(low >> (56 - 8 * index));
    }
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 9562 variant
    return uuidText(bytes);
}

std::string makeRandomUUID() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    const std::uint64_t high = generator();
    const std::uint64_t low = generator();
    std::uint8_t bytes[16];
    for (int index = 0; index < 8; ++index) {
        bytes[index] = static_cast<std::uint8_t>(high >> (56 - 8 * index));
        bytes[8 + index] = static_cast<std::uint8_t>(low >> (56 - 8 * index));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 9562 variant
    return uuidText(bytes);
}

Contact Contact::makeNew() {
    Contact contact;
    contact.identifier = makeUUID();
    return contact;
}

}  // namespace pelkora::contacts
