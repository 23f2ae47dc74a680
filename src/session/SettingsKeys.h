#pragma once

// Registering the defaults of the user's settings. The keys and shared names are in
// support/SharedNames.h, so that every module can use them.

#include "support/SharedNames.h"

namespace pelkora {

class SettingsStore;

// Registers the default of every setting, in the order of UserDefaultsKeys, and writes the store
// out. Stored values are never overwritten. A failed write is logged.
void registerDefaults(SettingsStore& settings);

}  // namespace pelkora
