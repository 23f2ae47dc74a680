#pragma once

// The saved mappings as a command works with them: the local file, and the shared records
// when the user shares mappings (the "ShareMappings" setting with a sync folder or a WebDAV
// server set up by "pelkora mappings sync enable").

#include <string>
#include <string_view>

#include "mapping/SavedMapping.h"
#include "mappingstore/MappingStore.h"
#include "mappingstore/webdav/SyncSetup.h"

namespace pelkora::cli {

// Sets the store up for sharing when the settings ask for it and reads the shared list. A
// store that cannot be reached is a warning naming the command, and the local file is used.
// Returns whether the store is in shared mode.
bool setUpSharing(MappingStore& store, std::string_view command);

// The options for opening the configured store: the password from the Secret Service, else
// PELKORA_WEBDAV_PASSWORD, else asked on the terminal; a WebDAV server is asked for changes
// every PELKORA_SYNC_POLL_MS milliseconds when that is set, else every minute.
OpenOptions commandOpenOptions();

// A command's own mapping store over the local file, set up for sharing.
class CommandMappings {
  public:
    explicit CommandMappings(std::string_view command) { setUpSharing(store_, command); }
    MappingStore& store() { return store_; }
    const SavedMappingStore& local() const { return local_; }

  private:
    SavedMappingStore local_;
    MappingStore store_{local_};
};

}  // namespace pelkora::cli
