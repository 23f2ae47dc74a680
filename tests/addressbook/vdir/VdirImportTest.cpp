// The import on a folder of vCard files: chunks, groups named by the rows and the duplicates
// found through the store's indexes, as on the SQLite book.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/vdir/VdirContactStore.h"
#include "import/ImportOperationTestSupport.h"
#include "import/ImportTestSupport.h"
#include "import/TabularDataImportOperation.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"

namespace pelkora {
namespace {

using namespace contacts;

ImportSummary importRows(const std::shared_ptr<ContactStore>& store,
                         const std::vector<std::vector<std::string>>& rows) {
    ImportSource source;
    source.reader = std::make_shared<test::GivenRowsReader>("/data/contacts.csv", rows, true);
    source.mappedProperties = {test::mappedColumn(0, ContactKey::givenName),
                               test::mappedColumn(1, ContactKey::familyName),
                               test::mappedColumn(2, CustomPropertyKeys::Group)};
    ImportOptions options;
    options.selectedContainerID = store->defaultContainerIdentifier();
    options.addTextToNotes = false;
    auto delegate = std::make_shared<test::RecordingDelegate>();
    Operation operation([](Operation&) {});
    TabularDataImportOperation import(store, std::move(source), options, {}, delegate);
    import.main(operation);
    MainQueue::shared().drain();
    EXPECT_TRUE(delegate->failures.empty());
    return import.summary();
}

std::shared_ptr<ContactStore> openStore(const std::filesystem::path& folder) {
    auto opened = VdirContactStore::open(folder);
    if (!opened) throw std::runtime_error(opened.error().message);
    return std::shared_ptr<ContactStore>(std::move(*opened));
}

std::size_t members(ContactStore& store, const std::string& container, const std::string& name) {
    const auto groups = *store.groups(container);
    const auto group = std::find_if(groups.begin(), groups.end(),
                                    [&](const Group& candidate) { return candidate.name == name; });
    if (group == groups.end()) return 0;
    std::size_t count = 0;
    const auto memberships = *store.groupMemberships(container);
    for (const auto& [contact, of] : memberships)
        count += static_cast<std::size_t>(std::count(of.begin(), of.end(), group->identifier));
    return count;
}

TEST(VdirImportTest, RowsGoInAsCardsWithTheirGroupsAndDuplicates) {
    MainQueue::shared().adoptCurrentThreadAsMain();
    MainQueue::shared().drain();
    test::TemporaryDirectory folder;
    std::vector<std::vector<std::string>> rows{{"First", "Last", "Group"}};
    for (int index = 0; index < 1200; ++index)
        rows.push_back(
            {"Person", std::to_string(index), index % 100 == 0 ? "Friends; Family" : ""});
    std::shared_ptr<ContactStore> store = openStore(folder / "book");
    const std::string container = store->defaultContainerIdentifier();

    const ImportSummary first = importRows(store, rows);
    EXPECT_EQ(first.contactsSaved, 1200u);
    EXPECT_EQ(first.chunksSaved, 3u);
    EXPECT_EQ(first.groupsCreated, 2u);
    EXPECT_EQ(first.oldDuplicates, 0u);

    // Half of the rows again, into a store opened anew on the folder: each is a duplicate.
    rows.resize(601);
    std::shared_ptr<ContactStore> reopened = openStore(folder / "book");
    EXPECT_EQ(members(*reopened, container, "Friends"), 12u);
    const ImportSummary second = importRows(reopened, rows);
    EXPECT_EQ(second.contactsSaved, 600u);
    EXPECT_EQ(second.groupsCreated, 0u);
    EXPECT_EQ(second.oldDuplicates, 600u);
    EXPECT_EQ(second.newDuplicates, 600u);
    EXPECT_EQ(members(*reopened, container, "OLD DUPLICATES"), 600u);
    EXPECT_EQ(members(*reopened, container, "Friends"), 18u);
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "book"))
        files += entry.path().extension() == ".vcf" ? 1 : 0;
    EXPECT_EQ(files, 1800u);
}

}  // namespace
}  // namespace pelkora
