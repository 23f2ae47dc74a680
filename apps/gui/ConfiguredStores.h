#pragma once

// The address books the window offers on its import page: the user's own book, the desktop's
// address books and every store named with "pelkora stores add", each opened when first
// listed and kept open for the rest of the run.

#include <map>
#include <memory>
#include <string>

#include "session/StoreDirectory.h"

namespace pelkora::gui {

class ConfiguredStores final : public StoreDirectory {
  public:
    // `current` is the store the session was given, under the key it was chosen by.
    ConfiguredStores(std::string currentKey, std::shared_ptr<contacts::ContactStore> current);

    std::vector<StoreChoice> choices() const override;
    Expected<std::shared_ptr<contacts::ContactStore>, std::string> open(
        const std::string& key) override;
    Expected<std::shared_ptr<contacts::ContactStore>, std::string> openRecorded(
        const std::string& location) override;

  private:
    std::map<std::string, std::shared_ptr<contacts::ContactStore>> opened_;
    std::map<std::string, std::string> failed_;  // opened once and failed: not tried again
    std::string firstKey_;
};

}  // namespace pelkora::gui
