// Saving contacts to Evolution Data Server: the store's execute() with requests of 500, as
// the import sends them, against one e_book_client_add_contact_sync call per contact. Run by
// eds-bench.sh inside a private EDS (its own session bus and home), never the user's.
//   bench_eds_contact_store [COUNT]      (10,000 contacts by default)

#include <libebook/libebook.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "addressbook/ContactKeys.h"
#include "addressbook/eds/EdsContactStore.h"
#include "vcard/VCard.h"

using namespace pelkora::contacts;

namespace {

constexpr std::size_t kChunkSize = 500;

// A contact like a typical spreadsheet row: a name, a phone number, an e-mail, an address.
Contact generatedContact(std::size_t index) {
    Contact contact = Contact::makeNew();
    contact.givenName = "Person";
    contact.familyName = "Number-" + std::to_string(index);
    contact.organizationName = "Example Ltd";
    contact.phoneNumbers = {
        labeled(std::string(Label::mobile), "+49 170 " + std::to_string(index))};
    contact.emailAddresses = {
        labeled(std::string(Label::work), "person" + std::to_string(index) + "@example.org")};
    contact.postalAddresses = {labeled(
        std::string(Label::home),
        PostalAddress{"Hauptstraße 1", "", "München", "", "Bayern", "80331", "Deutschland", "de"})};
    return contact;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool clear(EdsContactStore& store, const std::string& book) {
    SaveRequest request;
    auto listed = store.enumerateContacts(book, [&](const Contact& contact) {
        request.deleteContact(contact.identifier);
        return true;
    });
    return listed && store.execute(request);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
    auto opened = EdsContactStore::open();
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.error().message.c_str());
        return 1;
    }
    EdsContactStore& store = **opened;
    const std::string book = store.defaultContainerIdentifier();

    auto start = std::chrono::steady_clock::now();
    for (std::size_t first = 0; first < count; first += kChunkSize) {
        SaveRequest request;
        for (std::size_t index = first; index < count && index < first + kChunkSize; ++index)
            request.addContact(generatedContact(index), book);
        if (auto saved = store.execute(request); !saved) {
            std::fprintf(stderr, "%s\n", saved.error().message.c_str());
            return 1;
        }
    }
    const double chunked = secondsSince(start);
    std::printf("execute(), requests of %zu: %zu contacts in %.2f s (%.0f contacts/s)\n",
                kChunkSize, count, chunked, static_cast<double>(count) / chunked);
    if (!clear(store, book)) return 1;

    ESourceRegistry* registry = e_source_registry_new_sync(nullptr, nullptr);
    ESource* source = e_source_registry_ref_source(registry, book.c_str());
    EClient* client =
        e_book_client_connect_sync(source, static_cast<guint32>(-1), nullptr, nullptr);
    start = std::chrono::steady_clock::now();
    for (std::size_t index = 0; index < count; ++index) {
        std::string card;
        appendVCard(card, generatedContact(index));
        EContact* contact = e_contact_new_from_vcard(card.c_str());
        GError* error = nullptr;
        if (!e_book_client_add_contact_sync(E_BOOK_CLIENT(client), contact,
                                            E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr, &error)) {
            std::fprintf(stderr, "%s\n", error->message);
            return 1;
        }
        g_object_unref(contact);
    }
    const double single = secondsSince(start);
    std::printf(
        "e_book_client_add_contact_sync, one call each: %zu contacts in %.2f s "
        "(%.0f contacts/s): %.1f× the time of execute()\n",
        count, single, static_cast<double>(count) / single, single / chunked);
    g_object_unref(client);
    g_object_unref(source);
    g_object_unref(registry);
    return 0;
}
