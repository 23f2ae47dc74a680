// Feeds arbitrary bytes to the vCard reader. Whatever it reads must be written and read back
// to the same contacts and categories: the writer must be able to say everything the reader
// can produce, and the reader must understand everything the writer says.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vcard/VCard.h"

namespace {

// Identifiers of labelled values are made fresh by each reading.
void forgetLabelIdentifiers(pelkora::contacts::Contact& contact) {
    const auto forget = [](auto& values) {
        for (auto& value : values) value.identifier.clear();
    };
    forget(contact.dates);
    forget(contact.phoneNumbers);
    forget(contact.emailAddresses);
    forget(contact.urlAddresses);
    forget(contact.postalAddresses);
    forget(contact.contactRelations);
    forget(contact.socialProfiles);
    forget(contact.instantMessageAddresses);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelkora::contacts;
    auto entries = readVCards({reinterpret_cast<const char*>(data), size});
    if (!entries) return 0;
    for (auto& entry : *entries) {
        VCardWriteOptions options;
        options.categories = [&](const Contact&) { return entry.categories; };
        auto again = readVCards(dataWithContacts({entry.contact}, options));
        if (!again || again->size() != 1) __builtin_trap();
        auto& reread = again->front();
        forgetLabelIdentifiers(entry.contact);
        forgetLabelIdentifiers(reread.contact);
        if (reread.contact != entry.contact || reread.categories != entry.categories) {
            __builtin_trap();
        }
    }
    return 0;
}
