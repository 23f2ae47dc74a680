#pragma once

// Undoing an import that the journal recorded: its contacts leave the address book, and so
// do the groups it made once they are empty. Groups that were there before the import, or
// that hold other contacts by now, stay. Contacts the user deleted since are passed over and
// counted; what is still there goes, whether or not it changed since.
//
// In two steps, so that a front end can show the plan and ask before anything changes:
//   1. planUndo reads the store: which contacts are still there, which created groups would
//      be empty without them;
//   2. applyUndo removes them in one save request, all or nothing.

#include <cstdint>
#include <string>
#include <vector>

#include "addressbook/ContactStore.h"
#include "import/ImportJournal.h"

namespace pelkora {

struct ImportUndoPlan {
    std::string container;
    // The contacts of the import still in the container.
    std::vector<std::string> contactsToRemove;
    // Contacts the journal has that the container no longer holds.
    std::uint64_t contactsGone = 0;
    // Groups the import made that nothing but its contacts are in.
    std::vector<contacts::Group> groupsToRemove;
    // Groups the import made that hold other contacts now.
    std::vector<contacts::Group> groupsKept;
    // Groups the import made that the container no longer has.
    std::uint64_t groupsGone = 0;

    bool isEmpty() const { return contactsToRemove.empty() && groupsToRemove.empty(); }
};

// What undoing the import would remove from the store, which must be the record's store.
Expected<ImportUndoPlan, contacts::ContactStoreError> planUndo(contacts::ContactStore& store,
                                                               const ImportRecord& record);

// Removes the plan's contacts and, when they are then empty, its groups, in one request. A
// group someone joined in the meantime stays; a contact deleted in the meantime fails the
// request (contactNotFound) and nothing changes.
Expected<void, contacts::ContactStoreError> applyUndo(contacts::ContactStore& store,
                                                      const ImportUndoPlan& plan);

}  // namespace pelkora
