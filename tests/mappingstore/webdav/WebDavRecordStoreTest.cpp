#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "TestSupport.h"
#include "mapping/SavedMapping.h"
#include "mappingstore/MappingStore.h"
#include "mappingstore/webdav/WebDavRecordStore.h"

namespace pelkora {
namespace {

using namespace std::chrono_literals;

// Apache httpd with mod_dav over TLS, started by webdav-server.sh for the test program's run
// and stopped at its end. Users: ada / secret1, bob / secret2.
struct WebDavServer {
    test::TemporaryDirectory folder;
    std::string url;           // /dav/, basic auth
    std::string forbiddenUrl;  // 403 for everybody
    std::string movedUrl;      // redirects to /dav/ on the same host
    std::string elsewhereUrl;  // redirects to /dav/ on "localhost", another host for libcurl
    std::filesystem::path caFile;
    std::string failure;  // why it did not start

    WebDavServer() {
        const auto command = "bash " PELKORA_WEBDAV_SERVER_SCRIPT " start '" +
                             folder.path().string() + "' >/dev/null 2>'" +
                             (folder / "start-failure").string() + "'";
        if (std::system(command.c_str()) != 0) {
            failure = test::readFile(folder / "start-failure");
            return;
        }
        const auto line = [this](const char* name) {
            auto text = test::readFile(folder / name);
            while (!text.empty() && text.back() == '\n') text.pop_back();
            return text;
        };
        url = line("url");
        forbiddenUrl = line("forbidden-url");
        movedUrl = line("moved-url");
        elsewhereUrl = line("elsewhere-url");
        caFile = folder / "ca.pem";
    }
    ~WebDavServer() {
        const auto command =
            "bash " PELKORA_WEBDAV_SERVER_SCRIPT " stop '" + folder.path().string() + "'";
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << "the WebDAV server did not stop";
    }
    std::filesystem::path collection(const std::string& zoneName) const {
        return folder / "root" / "dav" / ("Pelkora " + zoneName);
    }
};

// A port of 127.0.0.1 that nobody listens on.
int unusedPort() {
    const int socketDescriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(socketDescriptor, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(socketDescriptor, reinterpret_cast<sockaddr*>(&address), &length);
    close(socketDescriptor);
    return ntohs(address.sin_port);
}

Record mappingRecord(const std::string& name, const std::string& title,
                     std::string zoneName = std::string(kMappingZoneName)) {
    SavedMapping mapping;
    mapping.title = title;
    mapping.mappingMode = MappingMode::byPosition;
    mapping.columnTitlesHash = -7301;
    mapping.usageCount = 3;
    MappedContactProperty column;
    column.sourceFieldName = "E-Mail privat";
    mapping.mappedContactProperties = {column, column};
    return Record{std::string(kMappingRecordType),
                  {name, std::move(zoneName)},
                  savedMappingRecordFields(mapping),
                  ""};
}

std::string titleOf(const Record& record) {
    const auto mapping = savedMappingFromRecordFields(record.fields);
    return mapping ? mapping->title : "(not a mapping: " + mapping.error().message + ")";
}

class WebDavRecordStoreTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<WebDavServer>(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        if (!server_->failure.empty()) GTEST_SKIP() << "no WebDAV server: " << server_->failure;
    }

    // A zone of the test's own, so that tests sharing a server do not see each other's records.
    const std::string zone_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();

    static WebDavConfiguration configuration(std::string user = "ada",
                                             std::string password = "secret1") {
        return {server_->url, std::move(user), std::move(password), server_->caFile, 200ms};
    }
    // A store with a zone of the name, as one computer of ada's sees it.
    static std::unique_ptr<WebDavRecordStore> storeWithZone(std::string_view zoneName) {
        auto store = std::make_unique<WebDavRecordStore>(configuration());
        EXPECT_TRUE(store->createZone(zoneName));
        return store;
    }

    static std::unique_ptr<WebDavServer> server_;
};

std::unique_ptr<WebDavServer> WebDavRecordStoreTest::server_;

TEST_F(WebDavRecordStoreTest, AccountStatusFollowsTheServersAnswer) {
    const std::string downUrl = "https://127.0.0.1:" + std::to_string(unusedPort()) + "/dav/";
    struct Case {
        const char* name;
        std::string url;
        std::string password;
        std::filesystem::path caFile;
        std::optional<AccountStatus> status;  // or else the error
        RecordStoreErrorKind error;
    };
    const Case cases[] = {
        {"right password", server_->url, "secret1", server_->caFile, AccountStatus::available, {}},
        {"wrong password", server_->url, "wrong", server_->caFile, AccountStatus::noAccount, {}},
        {"forbidden folder",
         server_->forbiddenUrl,
         "secret1",
         server_->caFile,
         AccountStatus::restricted,
         {}},
        {"redirect on the same host",
         server_->movedUrl,
         "secret1",
         server_->caFile,
         AccountStatus::available,
         {}},
        // The password does not follow a redirect to another host, which then refuses.
        {"redirect to another host",
         server_->elsewhereUrl,
         "secret1",
         server_->caFile,
         AccountStatus::noAccount,
         {}},
        {"nobody listening", downUrl, "secret1", server_->caFile, std::nullopt,
         RecordStoreErrorKind::networkUnavailable},
        {"certificate not trusted",
         server_->url,
         "secret1",
         {},
         std::nullopt,
         RecordStoreErrorKind::networkFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WebDavRecordStore store({c.url, "ada", c.password, c.caFile});
        EXPECT_EQ(store.location(), c.url);
        const auto status = store.accountStatus();
        if (c.status) {
            ASSERT_TRUE(status) << status.error().message;
            EXPECT_EQ(*status, *c.status);
        } else {
            ASSERT_FALSE(status);
            EXPECT_EQ(status.error().kind, c.error);
            EXPECT_NE(status.error().message.find(c.url), std::string::npos)
                << status.error().message;
        }
    }
}

TEST_F(WebDavRecordStoreTest, ZonesAreCollectionsCreatedOnce) {
    WebDavRecordStore store(configuration());
    EXPECT_FALSE(store.zoneExists("Zone Ü").value_or(true));
    ASSERT_TRUE(store.createZone("Zone Ü"));
    EXPECT_TRUE(std::filesystem::is_directory(server_->collection("Zone Ü")));
    EXPECT_TRUE(store.zoneExists("Zone Ü").value_or(false));
    EXPECT_TRUE(store.createZone("Zone Ü"));

    const auto listed = store.query("Absent", kMappingRecordType);
    ASSERT_FALSE(listed);
    EXPECT_EQ(listed.error().kind, RecordStoreErrorKind::zoneNotFound);
    const auto saved = store.save(mappingRecord("R1", "Clients", "Absent"));
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().kind, RecordStoreErrorKind::zoneNotFound);
    const auto fetched = store.fetch({"R1", "Zone Ü"});
    ASSERT_FALSE(fetched);
    EXPECT_EQ(fetched.error().kind, RecordStoreErrorKind::unknownItem);

    // Every request maps the server's refusals alike.
    WebDavRecordStore wrongPassword(configuration("ada", "wrong"));
    EXPECT_EQ(wrongPassword.query("Zone Ü", kMappingRecordType).error().kind,
              RecordStoreErrorKind::notAuthenticated);
    WebDavRecordStore forbidden({server_->forbiddenUrl, "ada", "secret1", server_->caFile});
    const auto refused = forbidden.createZone("Mappings");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, RecordStoreErrorKind::permissionFailure);
    EXPECT_NE(refused.error().message.find("403 Forbidden"), std::string::npos)
        << refused.error().message;
}

TEST_F(WebDavRecordStoreTest, SavedMappingsTravelBetweenComputers) {
    auto computerA = storeWithZone(kMappingZoneName);
    auto computerB = storeWithZone(kMappingZoneName);
    const auto record = mappingRecord("Clients 2026 ü", "Clients");
    const auto saved = computerA->save(record);
    ASSERT_TRUE(saved) << saved.error().message;
    EXPECT_FALSE(saved->changeTag.empty());
    EXPECT_TRUE(
        std::filesystem::is_regular_file(server_->collection("Mappings") / "Clients 2026 ü.plist"));
    Record otherType = mappingRecord("Settings", "not a mapping");
    otherType.recordType = "Preferences";
    ASSERT_TRUE(computerA->save(otherType));

    const auto listed = computerB->query(kMappingZoneName, kMappingRecordType);
    ASSERT_TRUE(listed) << listed.error().message;
    ASSERT_EQ(listed->size(), 1u);
    EXPECT_EQ(listed->front(), *saved);
    const auto mapping = savedMappingFromRecordFields(listed->front().fields);
    ASSERT_TRUE(mapping) << mapping.error().message;
    EXPECT_EQ(*mapping, *savedMappingFromRecordFields(record.fields));
    EXPECT_EQ(computerB->fetch(record.id).value(), *saved);

    // A later change reaches the other computer's next query, past what it read before.
    Record renamed = *saved;
    renamed.fields = mappingRecord("", "Clients (renamed)").fields;
    const auto resaved = computerA->save(renamed);
    ASSERT_TRUE(resaved) << resaved.error().message;
    EXPECT_NE(resaved->changeTag, saved->changeTag);
    const auto relisted = computerB->query(kMappingZoneName, kMappingRecordType);
    ASSERT_TRUE(relisted);
    ASSERT_EQ(relisted->size(), 1u);
    EXPECT_EQ(titleOf(relisted->front()), "Clients (renamed)");
    EXPECT_EQ(relisted->front().changeTag, resaved->changeTag);
}

TEST_F(WebDavRecordStoreTest, AStaleChangeTagIsRefusedAndTheServersCopyKept) {
    auto computerA = storeWithZone(zone_);
    auto computerB = storeWithZone(zone_);
    // Apache's ETags are weak for a second after a write, and If-Match never matches a weak
    // tag; the store compares those itself, and leaves strong ones to the server.
    for (const auto wait : {0ms, 1100ms}) {
        const bool weak = wait == 0ms;
        SCOPED_TRACE(weak ? "just written: weak ETags" : "settled: strong ETags");
        const RecordID id{weak ? "Weak" : "Strong", zone_};
        ASSERT_TRUE(computerA->save(mappingRecord(id.recordName, "Original", zone_)));
        std::this_thread::sleep_for(wait);
        auto copyA = computerA->fetch(id).value();
        auto copyB = computerB->fetch(id).value();
        EXPECT_EQ(copyA.changeTag, copyB.changeTag);
        EXPECT_EQ(copyA.changeTag.starts_with("W/"), weak) << copyA.changeTag;

        copyA.fields = mappingRecord("", "Changed on A", zone_).fields;
        const auto savedA = computerA->save(copyA);
        ASSERT_TRUE(savedA) << savedA.error().message;
        copyB.fields = mappingRecord("", "Changed on B", zone_).fields;
        const auto refused = computerB->save(copyB);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().kind, RecordStoreErrorKind::serverRecordChanged);
        EXPECT_NE(refused.error().message.find("changed on the WebDAV server meanwhile"),
                  std::string::npos)
            << refused.error().message;
        EXPECT_EQ(titleOf(computerB->fetch(id).value()), "Changed on A");
    }

    // A record without change tag is new: it may not take a name in use.
    const auto taken = computerB->save(mappingRecord("Weak", "Also new", zone_));
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.error().kind, RecordStoreErrorKind::serverRecordChanged);
    EXPECT_EQ(titleOf(computerA->fetch({"Weak", zone_}).value()), "Changed on A");
}

TEST_F(WebDavRecordStoreTest, ModifySavesWhateverTheTagsAndDeletes) {
    auto store = storeWithZone(zone_);
    ASSERT_TRUE(store->save(mappingRecord("Keep", "Keep", zone_)));
    ASSERT_TRUE(store->save(mappingRecord("Drop", "Drop", zone_)));
    Record stale = mappingRecord("Keep", "Kept and changed", zone_);
    stale.changeTag = "\"not-the-current-tag\"";
    const auto saved = store->modify({stale, mappingRecord("New", "New", zone_)},
                                     {{"Drop", zone_}, {"Never there", zone_}});
    ASSERT_TRUE(saved) << saved.error().message;
    ASSERT_EQ(saved->size(), 2u);

    auto other = storeWithZone(zone_);
    const auto listed = other->query(zone_, kMappingRecordType);
    ASSERT_TRUE(listed);
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& record : *listed) found.emplace_back(record.id.recordName, titleOf(record));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::pair<std::string, std::string>>{{"Keep", "Kept and changed"},
                                                                       {"New", "New"}}));
    for (const auto& record : *saved) {
        EXPECT_EQ(other->fetch(record.id)->changeTag, record.changeTag) << record.id.recordName;
    }
}

// Collects the subscriptions a store reports as changed.
class ChangeLog {
  public:
    RecordStore::ChangeHandler handler() {
        return [this](const std::string& subscriptionId) {
            const std::lock_guard lock(mutex_);
            changes_.push_back(subscriptionId);
            arrived_.notify_all();
        };
    }
    bool waitForChange(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, timeout, [this] { return !changes_.empty(); });
    }
    std::vector<std::string> changes() {
        const std::lock_guard lock(mutex_);
        return changes_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> changes_;
};

TEST_F(WebDavRecordStoreTest, WatchingReportsOtherComputersChangesOnly) {
    auto computerA = storeWithZone(zone_);
    auto computerB = storeWithZone(zone_);
    ChangeLog changesA;
    ChangeLog changesB;
    for (auto* store : {computerA.get(), computerB.get()}) {
        ASSERT_TRUE(store->createSubscription(kMappingSubscriptionId, zone_, kMappingRecordType));
        EXPECT_TRUE(store->subscriptionExists(kMappingSubscriptionId).value_or(false));
    }
    EXPECT_FALSE(computerA->subscriptionExists("Other").value_or(true));
    computerA->startWatching(changesA.handler());
    computerB->startWatching(changesB.handler());
    // Both take their first listing as what they have seen.
    std::this_thread::sleep_for(600ms);

    ASSERT_TRUE(computerA->save(mappingRecord("Watched", "Watched", zone_)));
    ASSERT_TRUE(changesB.waitForChange(2s)) << "B did not see A's save";
    EXPECT_EQ(changesB.changes().front(), kMappingSubscriptionId);
    // Several more polls: A's own save is not reported back to it.
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(changesA.changes().empty());
    computerA->stopWatching();
    computerB->stopWatching();

    // Nothing is reported once watching stopped.
    const auto reported = changesB.changes().size();
    ASSERT_TRUE(computerA->save(mappingRecord("Unwatched", "Unwatched", zone_)));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(changesB.changes().size(), reported);
}

// Two computers' mapping stores over the server: a change made on a copy that another computer
// changed meanwhile goes in on top only when it is the newer one.
TEST_F(WebDavRecordStoreTest, TwoComputersChangingOneMappingKeepTheNewerChange) {
    test::TemporaryDirectory homes;
    SavedMappingStore localA(homes.path() / "a"), localB(homes.path() / "b");
    MappingStore computerA(localA), computerB(localB);
    std::vector<std::string> errorsOfA;
    computerA.onError = [&](const RecordStoreError& error) { errorsOfA.push_back(error.message); };
    for (auto* store : {&computerA, &computerB}) {
        store->setRecordStore(std::make_unique<WebDavRecordStore>(configuration()));
        store->setShareMappings(true);
        ASSERT_TRUE(store->updateStatus());
        ASSERT_TRUE(store->isSharedMode());
    }
    SavedMapping shop;
    shop.title = "Shop";
    ASSERT_TRUE(computerA.save(shop));
    ASSERT_TRUE(computerB.refresh());
    ASSERT_TRUE(computerB.findByUuid(shop.uuid));

    // A renames, then B renames its older copy: B's later change is written over A's.
    ASSERT_TRUE(computerA.rename(shop.uuid, "Shop (A)"));
    ASSERT_TRUE(computerB.rename(shop.uuid, "Shop (B)"));
    ASSERT_TRUE(computerA.refresh());
    EXPECT_EQ(computerA.findByUuid(shop.uuid)->title, "Shop (B)");

    // B renames again; A counts a use on its copy, which is older: A takes B's version.
    ASSERT_TRUE(computerB.rename(shop.uuid, "Shop (B2)"));
    SavedMapping used = *computerA.findByUuid(shop.uuid);
    ++used.usageCount;
    EXPECT_FALSE(computerA.update(used));
    ASSERT_EQ(errorsOfA.size(), 1u);
    EXPECT_NE(errorsOfA[0].find("changed on another computer"), std::string::npos) << errorsOfA[0];
    EXPECT_EQ(computerA.findByUuid(shop.uuid)->title, "Shop (B2)");
    ASSERT_TRUE(computerB.refresh());
    EXPECT_EQ(computerB.findByUuid(shop.uuid)->title, "Shop (B2)");
    EXPECT_EQ(computerB.findByUuid(shop.uuid)->usageCount, 0);
}

}  // namespace
}  // namespace pelkora
