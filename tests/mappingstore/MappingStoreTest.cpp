#include <gtest/gtest.h>

#include <map>

#include "TestSupport.h"
#include "mappingstore/MappingStore.h"
#include "platform/MainQueue.h"

namespace pelkora {
namespace {

// A record store in memory, with counters for what was asked of it and switches for failures.
class MemoryRecordStore : public RecordStore {
  public:
    std::string placeName() const override { return "the sync folder"; }
    std::string location() const override { return "/memory"; }
    Expected<AccountStatus, RecordStoreError> accountStatus() override {
        if (statusFailure) return Unexpected(*statusFailure);
        return status;
    }
    Expected<bool, RecordStoreError> zoneExists(std::string_view) override { return zone; }
    Expected<void, RecordStoreError> createZone(std::string_view) override {
        zone = true;
        return {};
    }
    Expected<bool, RecordStoreError> subscriptionExists(std::string_view) override {
        return subscribed;
    }
    Expected<void, RecordStoreError> createSubscription(std::string_view, std::string_view,
                                                        std::string_view) override {
        subscribed = true;
        return {};
    }
    Expected<std::vector<Record>, RecordStoreError> query(std::string_view,
                                                          std::string_view) override {
        if (failure) return Unexpected(*failure);
        std::vector<Record> all;
        for (const auto& [name, record] : records) all.push_back(record);
        return all;
    }
    Expected<Record, RecordStoreError> fetch(const RecordID& id) override {
        const auto found = records.find(id.recordName);
        if (found == records.end())
            return Unexpected(RecordStoreError{RecordStoreErrorKind::unknownItem});
        return found->second;
    }
    Expected<Record, RecordStoreError> save(const Record& record) override {
        if (failure) return Unexpected(*failure);
        const auto found = records.find(record.id.recordName);
        const std::string present = found == records.end() ? "" : found->second.changeTag;
        if (present != record.changeTag)
            return Unexpected(
                RecordStoreError{RecordStoreErrorKind::serverRecordChanged, "changed"});
        return put(record);
    }
    Expected<std::vector<Record>, RecordStoreError> modify(
        const std::vector<Record>& saves, const std::vector<RecordID>& deletes) override {
        if (failure) return Unexpected(*failure);
        ++batches;
        std::vector<Record> saved;
        for (const auto& record : saves) saved.push_back(put(record));
        for (const auto& id : deletes) {
            deleted.push_back(id);
            records.erase(id.recordName);
        }
        return saved;
    }
    void startWatching(ChangeHandler handler) override { watcher = std::move(handler); }
    void stopWatching() override { watcher = nullptr; }

    Record put(Record record) {
        record.changeTag = std::to_string(++version);
        records[record.id.recordName] = record;
        return record;
    }

    AccountStatus status = AccountStatus::available;
    bool zone = false;
    bool subscribed = false;
    std::optional<RecordStoreError> failure;
    std::optional<RecordStoreError> statusFailure;
    std::map<std::string, Record> records;
    std::vector<RecordID> deleted;
    int batches = 0;
    int version = 0;
    ChangeHandler watcher;
};

SavedMapping mappingTitled(std::string title) {
    SavedMapping mapping;
    mapping.title = std::move(title);
    return mapping;
}

class MappingStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto memory = std::make_unique<MemoryRecordStore>();
        cloud = memory.get();
        store.setRecordStore(std::move(memory));
        store.onError = [this](const RecordStoreError& error) { errors.push_back(error.message); };
    }
    // Sharing on and the store ready, as after start with the setting on.
    void share() {
        store.setShareMappings(true);
        ASSERT_TRUE(store.updateStatus());
        ASSERT_TRUE(store.isSharedMode());
    }

    test::TemporaryDirectory folder;
    SavedMappingStore local{folder.path() / "SavedMappings"};
    MappingStore store{local};
    MemoryRecordStore* cloud = nullptr;
    std::vector<std::string> errors;
};

TEST_F(MappingStoreTest, WithoutAnAvailableAccountTheLocalFileIsUsed) {
    store.setShareMappings(true);
    cloud->status = AccountStatus::noAccount;
    ASSERT_TRUE(store.updateStatus());
    EXPECT_FALSE(store.isSharedMode());
    test::LogCapture log;
    ASSERT_TRUE(store.save(mappingTitled("Local")));
    EXPECT_TRUE(log.contains("Mapping 'Local' successfully saved to the local store"));
    EXPECT_TRUE(cloud->records.empty());
    SavedMappingStore reread(local.file());
    ASSERT_EQ(reread.mappings().size(), 1u);
    EXPECT_EQ(reread.mappings()[0].title, "Local");
}

TEST_F(MappingStoreTest, SharedChangesGoToRecordsAndAFailedSaveKeepsTheMapping) {
    share();
    EXPECT_TRUE(cloud->zone && cloud->subscribed);
    ASSERT_TRUE(store.save(mappingTitled("Beta")));
    ASSERT_TRUE(store.save(mappingTitled("alpha")));
    ASSERT_EQ(cloud->records.size(), 2u);
    EXPECT_EQ(store.mappings()[0].title, "alpha");
    // Record names are fresh, never the mapping's uuid.
    for (const auto& [name, record] : cloud->records) EXPECT_FALSE(store.findByUuid(name));
    EXPECT_TRUE(local.mappings().empty());

    ASSERT_TRUE(store.rename(store.mappings()[1].uuid, "Gamma"));
    ASSERT_TRUE(store.refresh());
    EXPECT_EQ(store.mappings()[1].title, "Gamma");

    cloud->failure = RecordStoreError{RecordStoreErrorKind::networkUnavailable, "offline"};
    EXPECT_FALSE(store.save(mappingTitled("Delta")));
    EXPECT_TRUE(store.findByTitle("delta"));
    EXPECT_EQ(errors, std::vector<std::string>{"offline"});
    // A failed query leaves the list as it is.
    EXPECT_FALSE(store.refresh());
    EXPECT_EQ(store.mappings().size(), 3u);
}

TEST_F(MappingStoreTest, DeletingAMappingThatNeverReachedTheStoreNamesItsUuid) {
    share();
    cloud->failure = RecordStoreError{RecordStoreErrorKind::networkFailure, "down"};
    const SavedMapping lost = mappingTitled("Lost");
    EXPECT_FALSE(store.save(lost));
    cloud->failure.reset();
    ASSERT_TRUE(store.save(mappingTitled("Kept")));
    const std::string keptRecord = cloud->records.begin()->first;
    ASSERT_TRUE(store.remove({lost.uuid, store.findByTitle("Kept")->uuid}));
    ASSERT_EQ(cloud->deleted.size(), 2u);
    EXPECT_EQ(cloud->deleted[0].recordName, lost.uuid);
    EXPECT_EQ(cloud->deleted[1].recordName, keptRecord);
    EXPECT_TRUE(store.mappings().empty());
}

TEST_F(MappingStoreTest, SwitchingSharingOnUploadsLocalMappingsInOneBatch) {
    SavedMapping known = mappingTitled("Old title in the store");
    MappedContactProperty column;
    column.sourceFieldName = "Phone";
    Record record{
        std::string(kMappingRecordType), {"R1", "Mappings"}, savedMappingRecordFields(known), {}};
    cloud->put(record);
    known.title = "Local title";
    known.mappingMode = MappingMode::byPosition;
    known.mappedContactProperties = {column};
    for (const auto& mapping : {known, mappingTitled("One"), mappingTitled("Two")})
        ASSERT_TRUE(local.save(mapping));

    std::vector<bool> persisted;
    test::LogCapture log;
    const auto outcome = store.switchSharing(true, [&](bool on) { persisted.push_back(on); });
    EXPECT_TRUE(log.contains("3 locally stored mappings synced to the sync folder"));
    EXPECT_TRUE(outcome.enabled);
    EXPECT_FALSE(outcome.alert);
    EXPECT_EQ(persisted, std::vector<bool>{true});
    EXPECT_EQ(cloud->batches, 1);
    ASSERT_EQ(cloud->records.size(), 3u);
    const auto overwritten = savedMappingFromRecordFields(cloud->records.at("R1").fields);
    ASSERT_TRUE(overwritten);
    EXPECT_EQ(overwritten->title, "Local title");
    EXPECT_EQ(overwritten->mappingMode, MappingMode::byPosition);
    EXPECT_EQ(overwritten->mappedContactProperties.size(), 1u);

    // Switching off keeps the shared list in the local file.
    ASSERT_TRUE(store.save(mappingTitled("Made while shared")));
    EXPECT_FALSE(store.switchSharing(false, {}).enabled);
    EXPECT_FALSE(store.isSharedMode());
    EXPECT_EQ(local.mappings().size(), 4u);
}

TEST_F(MappingStoreTest, SwitchingSharingOnFailsWithTheAlertOfTheCause) {
    const struct {
        AccountStatus status;
        std::optional<RecordStoreErrorKind> error;
        std::string heading;
        std::string text;
    } cases[] = {
        {AccountStatus::noAccount, {}, "Choose a sync folder", "does not exist"},
        {AccountStatus::restricted, {}, "could not be enabled", "is denied"},
        {AccountStatus::available, RecordStoreErrorKind::networkUnavailable, "could not be enabled",
         "The network is unavailable."},
        {AccountStatus::available, RecordStoreErrorKind::networkFailure, "could not be enabled",
         "The network is available but cannot be accessed."},
    };
    for (const auto& example : cases) {
        cloud->status = example.status;
        cloud->statusFailure.reset();
        if (example.error) cloud->statusFailure = RecordStoreError{*example.error, "x"};
        std::vector<bool> persisted;
        const auto outcome = store.switchSharing(true, [&](bool on) { persisted.push_back(on); });
        EXPECT_FALSE(outcome.enabled);
        ASSERT_TRUE(outcome.alert);
        EXPECT_NE(outcome.alert->heading.find(example.heading), std::string::npos)
            << outcome.alert->heading;
        EXPECT_NE(outcome.alert->text.find(example.text), std::string::npos) << outcome.alert->text;
        EXPECT_EQ(persisted.back(), false);
        EXPECT_FALSE(store.shareMappings());
    }
}

TEST_F(MappingStoreTest, AChangeMadeElsewhereMeanwhileIsNeverWrittenOver) {
    share();
    ASSERT_TRUE(store.save(mappingTitled("Shared")));
    auto& stored = cloud->records.begin()->second;
    SavedMapping ours = *store.findByTitle("Shared");

    // Another computer renames it later than our change: theirs is kept, ours reported.
    auto theirs = *savedMappingFromRecordFields(stored.fields);
    theirs.title = "Renamed elsewhere";
    theirs.updatedOn = ours.updatedOn + std::chrono::seconds(10);
    stored.fields = savedMappingRecordFields(theirs);
    stored.changeTag = "elsewhere";
    ours.usageCount = 5;
    EXPECT_FALSE(store.update(ours));
    EXPECT_TRUE(store.findByTitle("Renamed elsewhere"));
    EXPECT_EQ(savedMappingFromRecordFields(stored.fields)->title, "Renamed elsewhere");

    // Our change is newer: it goes in on top of theirs.
    theirs.title = "Older elsewhere";
    theirs.updatedOn = ours.updatedOn - std::chrono::seconds(10);
    stored.fields = savedMappingRecordFields(theirs);
    stored.changeTag = "elsewhere again";
    ours.title = "Ours";
    ours.updatedOn = theirs.updatedOn + std::chrono::seconds(20);
    EXPECT_TRUE(store.update(ours));
    EXPECT_EQ(savedMappingFromRecordFields(cloud->records.begin()->second.fields)->title, "Ours");
}

TEST_F(MappingStoreTest, PushesOfTheMappingsSubscriptionRefreshOnTheMainQueue) {
    share();
    int changes = 0;
    store.onChange = [&changes] { ++changes; };
    ASSERT_TRUE(cloud->watcher);
    cloud->watcher("Other");
    MainQueue::shared().drain();
    EXPECT_EQ(changes, 0);
    cloud->put(Record{std::string(kMappingRecordType),
                      {"R2", "Mappings"},
                      savedMappingRecordFields(mappingTitled("From elsewhere")),
                      {}});
    cloud->watcher("Mappings");
    MainQueue::shared().drain();
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(store.findByTitle("From elsewhere"));
}

}  // namespace
}  // namespace pelkora
