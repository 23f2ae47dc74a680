#pragma once

// The password of a CardDAV account as commands find it: the Secret Service, then
// PELKORA_CARDDAV_PASSWORD, then typed on the terminal.

#include <string>

#include "addressbook/stores/StoreLocation.h"
#include "support/Expected.h"

namespace pelkora::cli {

Expected<std::string, std::string> cardDavPassword(const StoreLocation& location);

}  // namespace pelkora::cli
