#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "TestSupport.h"
#include "mapping/SavedMapping.h"
#include "mappingstore/FolderRecordStore.h"
#include "platform/AtomicFile.h"

namespace pelkora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kZone(kMappingZoneName);
const std::string kType(kMappingRecordType);

PropertyValue::Date dayOf(int day) {
    return PropertyValue::Date(
        std::chrono::sys_days(std::chrono::year(2026) / std::chrono::December / day));
}

Record mappingRecord(const std::string& name, const std::string& title, int updatedOnDay = 7) {
    SavedMapping mapping;
    mapping.title = title;
    mapping.updatedOn = dayOf(updatedOnDay);
    MappedContactProperty column;
    column.sourceFieldName = "E-Mail";
    mapping.mappedContactProperties = {column};
    return {kType, {name, kZone}, savedMappingRecordFields(mapping), ""};
}

std::string titleOf(const Record& record) {
    auto mapping = savedMappingFromRecordFields(record.fields);
    return mapping ? mapping->title : "(" + mapping.error().message + ")";
}

std::string contentOf(const fs::path& file) {
    auto bytes = readWholeFile(file);
    return bytes ? *bytes : std::string();
}

void writeFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<std::string> fileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Counts the change handler's calls, which come from the store's thread.
class HandlerCalls {
  public:
    RecordStore::ChangeHandler handler() {
        return [this](const std::string& subscriptionId) {
            const std::lock_guard lock(mutex_);
            ids_.push_back(subscriptionId);
            changed_.notify_all();
        };
    }
    // Waits until there have been at least `count` calls; false after the timeout.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 2s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return ids_.size() >= count; });
    }
    std::vector<std::string> ids() {
        const std::lock_guard lock(mutex_);
        return ids_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> ids_;
};

class FolderRecordStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(syncFolder);
        ASSERT_TRUE(store.createZone(kZone));
    }

    test::TemporaryDirectory temporary;
    fs::path syncFolder = temporary / "Nextcloud";
    fs::path supersededFolder = temporary / "Superseded Mappings";
    fs::path zoneFolder = syncFolder / "Pelkora Mappings";
    FolderRecordStore store{syncFolder, supersededFolder};
};

TEST_F(FolderRecordStoreTest, AccountIsAvailableOnlyForAWritableFolder) {
    writeFile(temporary / "file", "x");
    const struct {
        fs::path folder;
        AccountStatus status;
    } cases[] = {
        {syncFolder, AccountStatus::available},
        {temporary / "missing", AccountStatus::noAccount},
        {temporary / "file", AccountStatus::noAccount},
        {temporary / "file" / "below", AccountStatus::noAccount},
    };
    for (const auto& each : cases) {
        FolderRecordStore folderStore(each.folder, supersededFolder);
        EXPECT_EQ(folderStore.accountStatus().value(), each.status) << each.folder;
        EXPECT_EQ(folderStore.location(), each.folder.string());
        EXPECT_EQ(folderStore.placeName(), "the sync folder");
    }
    if (::geteuid() == 0) {
        std::cout << "Read-only folder not checked: root may write to any folder.\n";
    } else {
        fs::create_directory(temporary / "read-only");
        fs::permissions(temporary / "read-only", fs::perms::owner_read | fs::perms::owner_exec);
        FolderRecordStore readOnly(temporary / "read-only", supersededFolder);
        EXPECT_EQ(readOnly.accountStatus().value(), AccountStatus::noAccount);
    }
}

TEST_F(FolderRecordStoreTest, ZonesAreFoldersInTheSyncFolder) {
    EXPECT_TRUE(fs::is_directory(zoneFolder));
    EXPECT_TRUE(store.zoneExists(kZone).value());
    EXPECT_TRUE(store.createZone(kZone));
    EXPECT_FALSE(store.zoneExists("Other").value());
    const auto query = store.query("Other", kType);
    ASSERT_FALSE(query);
    EXPECT_EQ(query.error().kind, RecordStoreErrorKind::zoneNotFound);
    EXPECT_EQ(store.save(mappingRecord("R1", "x")).value().id, (RecordID{"R1", kZone}));
    auto otherZone = mappingRecord("R1", "x");
    otherZone.id.zoneName = "Other";
    EXPECT_EQ(store.save(otherZone).error().kind, RecordStoreErrorKind::zoneNotFound);
    FolderRecordStore missing(temporary / "missing", supersededFolder);
    EXPECT_FALSE(missing.createZone(kZone));
}

TEST_F(FolderRecordStoreTest, SavedRecordsReadBackWithTheirTagOnEveryComputer) {
    SavedMapping mapping;
    mapping.title = "Clients 2026";
    mapping.mappingMode = MappingMode::byPosition;
    mapping.usageCount = 3;
    const Record record{kType, {"6F1C-22", kZone}, savedMappingRecordFields(mapping), ""};
    const auto saved = store.save(record);
    ASSERT_TRUE(saved) << saved.error().message;
    EXPECT_FALSE(saved->changeTag.empty());
    EXPECT_EQ(contentOf(zoneFolder / "6F1C-22.plist"), encodeRecordFile(record));

    // Not records: temporary and hidden files, other extensions, other record types.
    writeFile(zoneFolder / ".6F1C-22.plist.tmp-1-2-0", "partial");
    writeFile(zoneFolder / "notes.txt", "x");
    auto otherType = mappingRecord("other", "x");
    otherType.recordType = "Contact";
    ASSERT_TRUE(store.save(otherType));

    FolderRecordStore otherComputer(syncFolder, supersededFolder);
    for (RecordStore* reader : std::initializer_list<RecordStore*>{&store, &otherComputer}) {
        const auto records = reader->query(kZone, kType);
        ASSERT_TRUE(records) << records.error().message;
        ASSERT_EQ(records->size(), 1u);
        EXPECT_EQ(records->front(), *saved);
        EXPECT_EQ(savedMappingFromRecordFields(records->front().fields).value(), mapping);
        EXPECT_EQ(reader->fetch(record.id).value(), *saved);
    }
    const auto missing = store.fetch({"nothing", kZone});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, RecordStoreErrorKind::unknownItem);
    for (const std::string name : {"", ".hidden", "a/b", "x.sync-conflict-20261207-101010-AB"})
        EXPECT_FALSE(store.save(mappingRecord(name, "x"))) << name;
}

TEST_F(FolderRecordStoreTest, ConditionalSaveRefusesStaleTagsAndTakenNames) {
    const auto first = store.save(mappingRecord("R1", "first")).value();
    const auto bytes = contentOf(zoneFolder / "R1.plist");

    auto stale = mappingRecord("R1", "stale");
    stale.changeTag = "0123456789abcdef0123456789abcdef";
    auto fresh = mappingRecord("R1", "fresh");  // no tag: a new record under a taken name
    for (const auto& refused : {stale, fresh}) {
        const auto result = store.save(refused);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, RecordStoreErrorKind::serverRecordChanged);
        EXPECT_NE(result.error().message.find("“R1”"), std::string::npos);
        EXPECT_NE(result.error().message.find("the sync folder"), std::string::npos);
        EXPECT_EQ(contentOf(zoneFolder / "R1.plist"), bytes);
    }

    auto update = mappingRecord("R1", "second");
    update.changeTag = first.changeTag;
    const auto second = store.save(update);
    ASSERT_TRUE(second) << second.error().message;
    EXPECT_NE(second->changeTag, first.changeTag);
    EXPECT_EQ(titleOf(store.fetch(update.id).value()), "second");

    fs::remove(zoneFolder / "R1.plist");
    update.changeTag = second->changeTag;
    EXPECT_EQ(store.save(update).error().kind, RecordStoreErrorKind::serverRecordChanged);
}

TEST_F(FolderRecordStoreTest, ModifySavesWhateverTheTagAndDeletes) {
    ASSERT_TRUE(store.save(mappingRecord("R1", "one")));
    ASSERT_TRUE(store.save(mappingRecord("R2", "two")));
    auto overwrite = mappingRecord("R1", "one again");
    overwrite.changeTag = "stale";
    const auto modified =
        store.modify({overwrite, mappingRecord("R3", "three")}, {{"R2", kZone}, {"gone", kZone}});
    ASSERT_TRUE(modified) << modified.error().message;
    ASSERT_EQ(modified->size(), 2u);
    EXPECT_EQ(modified->front().changeTag, store.fetch(overwrite.id).value().changeTag);
    EXPECT_EQ(fileNames(zoneFolder), (std::vector<std::string>{".lock", "R1.plist", "R3.plist"}));
    std::vector<std::string> titles;
    const auto records = store.query(kZone, kType).value();
    for (const auto& record : records) titles.push_back(titleOf(record));
    EXPECT_EQ(titles, (std::vector<std::string>{"one again", "three"}));
}

TEST_F(FolderRecordStoreTest, EachComputerHearsOfTheOthersChangesOnly) {
    FolderRecordStore otherComputer(syncFolder, supersededFolder);
    HandlerCalls ownCalls;
    HandlerCalls otherCalls;
    for (FolderRecordStore* each : {&store, &otherComputer}) {
        ASSERT_TRUE(each->createSubscription(kMappingSubscriptionId, kZone, kType));
        EXPECT_TRUE(each->subscriptionExists(kMappingSubscriptionId).value());
        EXPECT_FALSE(each->subscriptionExists("Other").value());
    }
    store.startWatching(ownCalls.handler());
    otherComputer.startWatching(otherCalls.handler());

    const auto saved = store.save(mappingRecord("R1", "one")).value();
    ASSERT_TRUE(otherCalls.waitFor(1)) << "no call after a save";
    EXPECT_EQ(otherCalls.ids(), (std::vector<std::string>{"Mappings"}));
    ASSERT_TRUE(store.modify({}, {saved.id}));
    ASSERT_TRUE(otherCalls.waitFor(2)) << "no call after a delete";

    // The other computer's change reaches this one; its own never do.
    ASSERT_TRUE(otherComputer.save(mappingRecord("R2", "two")));
    ASSERT_TRUE(ownCalls.waitFor(1));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(ownCalls.ids().size(), 1u);
    EXPECT_EQ(otherCalls.ids().size(), 2u);

    // A zone folder removed and made again is watched again.
    fs::remove_all(zoneFolder);
    ASSERT_TRUE(otherCalls.waitFor(3)) << "no call after the zone was removed";
    ASSERT_TRUE(store.createZone(kZone));
    std::this_thread::sleep_for(700ms);  // the watcher looks for the folder twice a second
    ASSERT_TRUE(store.save(mappingRecord("R3", "three")));
    EXPECT_TRUE(otherCalls.waitFor(4)) << "no call after a save in the new zone folder";

    otherComputer.stopWatching();
    const auto calls = otherCalls.ids().size();
    ASSERT_TRUE(store.save(mappingRecord("R4", "four")));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(otherCalls.ids().size(), calls);
}

TEST_F(FolderRecordStoreTest, NewestConflictCopyBecomesTheRecordAndTheOthersAreSetAside) {
    const auto write = [this](const std::string& fileName, const std::string& title, int day) {
        writeFile(zoneFolder / fileName, encodeRecordFile(mappingRecord("R1", title, day)));
    };
    write("R1.plist", "base", 7);
    write("R1 (conflicted copy 2026-12-08 101010).plist", "newest", 8);
    write("R1.sync-conflict-20261206-101010-ABCDEFG.plist", "oldest", 6);
    // A copy whose record has no file of its own any more, Dropbox-style.
    write("R2 (Jane's conflicted copy 2026-12-07).plist", "orphan", 7);
    fs::create_directories(supersededFolder);
    writeFile(supersededFolder / "R1.plist", "set aside earlier");
    test::LogCapture log;

    const auto records = store.query(kZone, kType);
    ASSERT_TRUE(records) << records.error().message;
    ASSERT_EQ(records->size(), 2u);
    EXPECT_EQ(titleOf(records->at(0)), "newest");
    EXPECT_EQ(records->at(0).id, (RecordID{"R1", kZone}));
    EXPECT_EQ(titleOf(records->at(1)), "orphan");
    EXPECT_EQ(fileNames(zoneFolder), (std::vector<std::string>{".lock", "R1.plist", "R2.plist"}));
    EXPECT_EQ(records->at(0).changeTag, store.fetch({"R1", kZone}).value().changeTag);
    EXPECT_EQ(fileNames(supersededFolder),
              (std::vector<std::string>{"R1 2.plist", "R1.plist",
                                        "R1.sync-conflict-20261206-101010-ABCDEFG.plist"}));
    EXPECT_EQ(titleOf(decodeRecordFile(contentOf(supersededFolder / "R1 2.plist"), {}).value()),
              "base");
    EXPECT_TRUE(log.contains("R1.sync-conflict-20261206-101010-ABCDEFG.plist"));

    // Older copies arriving later lose to the record; fetch settles them too.
    write("R1_conflict-20261201-101010.plist", "late", 1);
    write("R1 (conflicted copy 1) (conflicted copy 2).plist", "copy of a copy", 2);
    EXPECT_EQ(titleOf(store.fetch({"R1", kZone}).value()), "newest");
    EXPECT_TRUE(fs::exists(supersededFolder / "R1_conflict-20261201-101010.plist"));
    EXPECT_TRUE(fs::exists(supersededFolder / "R1 (conflicted copy 1) (conflicted copy 2).plist"));

    // Deleting a record sets its copies aside, so that none brings it back.
    write("R2.sync-conflict-20261208-101010-ABCDEFG.plist", "copy", 9);
    ASSERT_TRUE(store.modify({}, {{"R2", kZone}}));
    EXPECT_EQ(fileNames(zoneFolder), (std::vector<std::string>{".lock", "R1.plist"}));
}

TEST_F(FolderRecordStoreTest, DamagedFilesAreSkippedAndKept) {
    ASSERT_TRUE(store.save(mappingRecord("good", "good")));
    writeFile(zoneFolder / "bad.plist", "not a property list");
    writeFile(zoneFolder / "R1.plist", "damaged too");
    writeFile(zoneFolder / "R1 (conflicted copy 2026-12-07 101010).plist",
              encodeRecordFile(mappingRecord("R1", "readable copy")));
    test::LogCapture log;

    const auto records = store.query(kZone, kType);
    ASSERT_TRUE(records) << records.error().message;
    std::vector<std::string> titles;
    for (const auto& record : *records) titles.push_back(titleOf(record));
    EXPECT_EQ(titles, (std::vector<std::string>{"readable copy", "good"}));
    EXPECT_EQ(contentOf(zoneFolder / "bad.plist"), "not a property list");
    EXPECT_EQ(contentOf(supersededFolder / "R1.plist"), "damaged too");
    EXPECT_TRUE(log.contains("bad.plist"));
    EXPECT_EQ(store.fetch({"bad", kZone}).error().kind, RecordStoreErrorKind::unknownItem);
}

}  // namespace
}  // namespace pelkora
