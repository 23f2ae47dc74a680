#include "StorePassword.h"

#include "Terminal.h"

namespace pelkora::cli {

Expected<std::string, std::string> cardDavPassword(const StoreLocation& location) {
    auto stored = storedCardDavPassword(location);
    if (stored || location.options.user.empty()) return stored;
    if (auto typed =
            askPassword("Password for " + location.options.user + " at " + location.url + ": "))
        return *typed;
    return Unexpected(stored.error() + ", or run the command on a terminal");
}

}  // namespace pelkora::cli
