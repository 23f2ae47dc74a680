#pragma once

// The address books a front end offers to import into: the one the session has, and others
// the user may switch to from the import page. The session never names a store: a front end
// lists them and opens them, and the session only keeps the key of the one in use in the
// "ContactStore" setting ("" for the user's own book).

#include <memory>
#include <string>
#include <vector>

#include "addressbook/ContactStore.h"
#include "support/Expected.h"

namespace pelkora {

struct StoreChoice {
    std::string key;    // the "ContactStore" setting's value for it
    std::string title;  // what the pop-up heads its containers with
    bool operator==(const StoreChoice&) const = default;
};

class StoreDirectory {
  public:
    virtual ~StoreDirectory() = default;
    // Every store, in the order to offer them.
    virtual std::vector<StoreChoice> choices() const = 0;
    // The store of that key, opened (an open store may be kept and handed out again); the
    // error says why it cannot be used.
    virtual Expected<std::shared_ptr<contacts::ContactStore>, std::string> open(
        const std::string& key) = 0;
    // The store an import recorded by its location (ContactStore::location()), to undo it.
    virtual Expected<std::shared_ptr<contacts::ContactStore>, std::string> openRecorded(
        const std::string& location) {
        return open(location);
    }
};

}  // namespace pelkora
