#include "addressbook/ContactStore.h"

namespace pelkora::contacts {

void SaveRequest::addContact(Contact contact, std::string containerIdentifier) {
    addedContacts_.push_back({std::move(contact), std::move(containerIdentifier)});
}

void SaveRequest::addGroup(Group group, std::string containerIdentifier) {
    addedGroups_.push_back({std::move(group), std::move(containerIdentifier)});
}

void SaveRequest::addMember(std::string contactIdentifier, std::string groupIdentifier) {
    addedMembers_.push_back({std::move(contactIdentifier), std::move(groupIdentifier)});
}

void SaveRequest::deleteGroup(std::string groupIdentifier) {
    deletedGroups_.push_back(std::move(groupIdentifier));
}

void SaveRequest::deleteContact(std::string contactIdentifier) {
    deletedContacts_.push_back(std::move(contactIdentifier));
}

void SaveRequest::deleteGroupIfEmpty(std::string groupIdentifier) {
    groupsDeletedIfEmpty_.push_back(std::move(groupIdentifier));
}

bool SaveRequest::isEmpty() const {
    return addedContacts_.empty() && addedGroups_.empty() && addedMembers_.empty() &&
           deletedGroups_.empty() && deletedContacts_.empty() && groupsDeletedIfEmpty_.empty();
}

}  // namespace pelkora::contacts
