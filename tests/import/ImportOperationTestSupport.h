#pragma once

// What the tests of the imports into the address book share: a real store that lets a test
// act at chosen moments, a delegate that records the events, and readings of the store.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "addressbook/ContactFormatter.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/ImportOperationDelegate.h"
#include "input/TabularDataReader.h"

namespace pelkora::test {

// A reader whose rows are given, as if it had parsed a file (the first row its titles when
// hasHeader).
class GivenRowsReader final : public TabularDataReader {
  public:
    GivenRowsReader(std::filesystem::path file, const std::vector<std::vector<std::string>>& rows,
                    bool hasHeader = true)
        : TabularDataReader(std::move(file)) {
        std::int64_t number = 0;
        for (const auto& texts : rows) {
            DataRow row(++number);
            for (std::size_t column = 0; column < texts.size(); ++column)
                row.addText(static_cast<std::int64_t>(column), texts[column]);
            appendDataRow(std::move(row));
        }
        if (hasHeader) setHeaderRowIndex(0);
    }
};

// Passes everything to the real store; lets a test act at chosen moments.
class ObservedStore final : public contacts::ContactStore {
  public:
    using Contact = contacts::Contact;
    using Container = contacts::Container;
    using Group = contacts::Group;

    explicit ObservedStore(std::unique_ptr<contacts::SqliteContactStore> store)
        : store_(std::move(store)) {}
    contacts::SqliteContactStore& real() { return *store_; }

    std::function<void(const contacts::SaveRequest&)> beforeExecute;
    std::function<void()> beforeDuplicateLookup;
    std::function<void()> beforeIdentifierLookup;

    std::string location() const override { return store_->location(); }
    AuthorizationStatus authorizationStatus() const override {
        return store_->authorizationStatus();
    }
    void requestAccess(std::function<void(bool)> completion) override {
        store_->requestAccess(std::move(completion));
    }
    Result<std::vector<Container>> containers() override { return store_->containers(); }
    Result<std::optional<Container>> container(const std::string& id) override {
        return store_->container(id);
    }
    std::string defaultContainerIdentifier() override {
        return store_->defaultContainerIdentifier();
    }
    Result<std::vector<Group>> groups(const std::string& id) override { return store_->groups(id); }
    Result<void> enumerateContacts(const std::string& id,
                                   const std::function<bool(const Contact&)>& visit) override {
        return store_->enumerateContacts(id, visit);
    }
    Result<std::vector<Contact>> contacts(const std::vector<std::string>& ids) override {
        return store_->contacts(ids);
    }
    Result<std::vector<std::pair<std::string, std::vector<std::string>>>> groupMemberships(
        const std::string& id) override {
        return store_->groupMemberships(id);
    }
    Result<std::unordered_set<std::string>> existingFullNames(
        const std::string& id, const std::vector<std::string>& names) override {
        if (beforeDuplicateLookup) beforeDuplicateLookup();
        return store_->existingFullNames(id, names);
    }
    Result<std::vector<std::string>> contactIdentifiersWithFullNames(
        const std::string& id, const std::vector<std::string>& names) override {
        if (beforeDuplicateLookup) beforeDuplicateLookup();
        return store_->contactIdentifiersWithFullNames(id, names);
    }
    Result<std::unordered_set<std::string>> existingIdentifiers(
        const std::string& id, const std::vector<std::string>& ids) override {
        if (beforeDuplicateLookup) beforeDuplicateLookup();
        return store_->existingIdentifiers(id, ids);
    }
    Result<std::unordered_set<std::string>> identifiersInUse(
        const std::vector<std::string>& ids) override {
        if (beforeIdentifierLookup) beforeIdentifierLookup();
        return store_->identifiersInUse(ids);
    }
    Result<void> execute(const contacts::SaveRequest& request) override {
        if (beforeExecute) beforeExecute(request);
        return store_->execute(request);
    }

  private:
    std::unique_ptr<contacts::SqliteContactStore> store_;
};

struct RecordingDelegate final : ImportOperationDelegate {
    int started = 0, finished = 0, chunksSubmitted = 0;
    std::uint64_t processed = 0;
    std::vector<ImportOperationError> failures;
    std::vector<std::string> warnings;
    void importOperationDidStart() override { ++started; }
    void importOperationDidProcess(std::uint64_t count) override { processed = count; }
    void importOperationDidSubmitChunk() override { ++chunksSubmitted; }
    void importOperationDidFail(const ImportOperationError& error) override {
        failures.push_back(error);
    }
    void importOperationDidWarn(const std::vector<std::string>& lines) override {
        warnings = lines;
    }
    void importOperationDidFinish() override { ++finished; }
};

// The contacts of the container, in the order they were saved.
inline std::vector<contacts::Contact> savedContacts(contacts::ContactStore& store,
                                                    const std::string& container) {
    std::vector<contacts::Contact> all;
    EXPECT_TRUE(store.enumerateContacts(container, [&](const contacts::Contact& c) {
        all.push_back(c);
        return true;
    }));
    return all;
}

// The full names of the members of the container's group with the name (letter for
// letter), sorted.
inline std::vector<std::string> memberNames(contacts::ContactStore& store,
                                            const std::string& container,
                                            const std::string& groupName) {
    std::string groupId;
    const auto groups = store.groups(container).value();
    for (const contacts::Group& group : groups)
        if (group.name == groupName) groupId = group.identifier;
    std::vector<std::string> names;
    const auto memberships = store.groupMemberships(container).value();
    for (const auto& [contact, groupIds] : memberships) {
        if (std::find(groupIds.begin(), groupIds.end(), groupId) == groupIds.end()) continue;
        names.push_back(contacts::stringFromContact(store.contacts({contact}).value().at(0)));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace pelkora::test
