#include "ConfiguredStores.h"

#include "addressbook/stores/StoreLocation.h"
#include "support/Localization.h"

namespace pelkora::gui {

ConfiguredStores::ConfiguredStores(std::string currentKey,
                                   std::shared_ptr<contacts::ContactStore> current)
    : firstKey_(std::move(currentKey)) {
    if (current) opened_[firstKey_] = std::move(current);
}

std::vector<StoreChoice> ConfiguredStores::choices() const {
    std::vector<StoreChoice> choices{
        {"", localizedString("Pelkora's own address book")},
        {"eds:", localizedString("The desktop's address books (Evolution Data Server)")}};
    if (auto named = NamedStores::load()) {
        for (const auto& [name, uri] : named->stores()) choices.push_back({name, name});
    }
    // A store chosen by its URI ("pelkora stores default vdir:…") is offered too.
    const bool listed = std::any_of(choices.begin(), choices.end(), [&](const StoreChoice& choice) {
        return choice.key == firstKey_;
    });
    if (!listed) choices.push_back({firstKey_, firstKey_});
    return choices;
}

Expected<std::shared_ptr<contacts::ContactStore>, std::string> ConfiguredStores::open(
    const std::string& key) {
    if (auto found = opened_.find(key); found != opened_.end()) return found->second;
    if (auto failed = failed_.find(key); failed != failed_.end()) return Unexpected(failed->second);
    auto location = resolveStore(key);
    if (!location) return Unexpected(failed_[key] = location.error());
    // The own book is made when first used, as at the start; other books must be there.
    auto store = openStore(*location, location->kind == StoreLocation::Kind::sqlite);
    if (!store) return Unexpected(failed_[key] = store.error().message);
    return opened_[key] = std::shared_ptr<contacts::ContactStore>(std::move(*store));
}

Expected<std::shared_ptr<contacts::ContactStore>, std::string> ConfiguredStores::openRecorded(
    const std::string& location) {
    for (const auto& [key, store] : opened_) {
        if (store->location() == location) return store;
    }
    auto recorded = recordedStore(location);
    if (!recorded) return Unexpected(recorded.error());
    auto store = openStore(*recorded, false);
    if (!store) return Unexpected(store.error().message);
    return std::shared_ptr<contacts::ContactStore>(std::move(*store));
}

}  // namespace pelkora::gui
