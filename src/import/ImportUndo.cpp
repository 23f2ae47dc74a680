#include "import/ImportUndo.h"

#include <unordered_map>
#include <unordered_set>

namespace pelkora {

using contacts::ContactStoreError;
using contacts::Group;

// Three reads: the identifiers still there (one index lookup each), the container's groups
// and its memberships. A created group stays when a contact outside the plan is in it.
Expected<ImportUndoPlan, ContactStoreError> planUndo(contacts::ContactStore& store,
                                                     const ImportRecord& record) {
    ImportUndoPlan plan;
    plan.container = record.container;
    auto existing = store.existingIdentifiers(record.container, record.contacts);
    if (!existing) return Unexpected(existing.error());
    std::unordered_set<std::string> planned;
    for (const std::string& identifier : record.contacts) {
        if (!existing->contains(identifier)) {
            ++plan.contactsGone;
        } else if (planned.insert(identifier).second) {
            plan.contactsToRemove.push_back(identifier);
        }
    }

    auto groups = store.groups(record.container);
    if (!groups) return Unexpected(groups.error());
    std::unordered_map<std::string, const Group*> current;
    for (const Group& group : *groups) current.emplace(group.identifier, &group);
    auto memberships = store.groupMemberships(record.container);
    if (!memberships) return Unexpected(memberships.error());
    std::unordered_set<std::string> withOtherMembers;
    for (const auto& [contact, groupsOfContact] : *memberships) {
        if (planned.contains(contact)) continue;
        withOtherMembers.insert(groupsOfContact.begin(), groupsOfContact.end());
    }
    for (const std::string& identifier : record.createdGroups) {
        auto found = current.find(identifier);
        if (found == current.end()) {
            ++plan.groupsGone;
        } else if (withOtherMembers.contains(identifier)) {
            plan.groupsKept.push_back(*found->second);
        } else {
            plan.groupsToRemove.push_back(*found->second);
        }
    }
    return plan;
}

Expected<void, ContactStoreError> applyUndo(contacts::ContactStore& store,
                                            const ImportUndoPlan& plan) {
    contacts::SaveRequest request;
    for (const std::string& identifier : plan.contactsToRemove) request.deleteContact(identifier);
    for (const Group& group : plan.groupsToRemove) request.deleteGroupIfEmpty(group.identifier);
    return store.execute(request);
}

}  // namespace pelkora
