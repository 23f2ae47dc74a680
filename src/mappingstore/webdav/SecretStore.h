#pragma once

// The WebDAV password in the user's keyring, through the Secret Service (GNOME Keyring,
// KWallet, KeePassXC), so that it is never written to the settings. Each password is filed in
// the default collection under the schema "org.pelkora.Pelkora.WebDAV", found by the folder's
// URL and the user name, and labelled "Pelkora WebDAV password for <user> at <url>".
//
// Failures are the text to show: when no Secret Service is running, it says so, so that the
// caller can tell the user the password was not stored (or must be typed again).

#include <optional>
#include <string>
#include <string_view>

#include "support/Expected.h"

namespace pelkora {

// Stores the password, replacing one stored for the same URL and user.
Expected<void, std::string> storeWebDavPassword(std::string_view url, std::string_view user,
                                                std::string_view password);
// The password stored for the URL and user; std::nullopt when there is none.
Expected<std::optional<std::string>, std::string> lookupWebDavPassword(std::string_view url,
                                                                       std::string_view user);
// Removes the password stored for the URL and user; none stored is no failure.
Expected<void, std::string> clearWebDavPassword(std::string_view url, std::string_view user);

}  // namespace pelkora
