#pragma once

// The per-user settings store: a key-value store of property-list values, kept in an XML
// property list (a dictionary). Registered defaults live in memory only; a key reads its
// stored value, else its registered default, else nothing.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/AtomicFile.h"
#include "propertylist/PropertyList.h"
#include "support/Expected.h"

namespace pelkora {

// Thread-safe: every member may be called from any thread.
class SettingsStore {
  public:
    using Observer = std::function<void(const std::string& key)>;
    using ObservationId = std::uint64_t;

    // Loads the file when it exists. A damaged file is renamed to "<name>.damaged" (when that
    // is taken, "<name>.damaged-2" and on), the
    // store starts empty, and loadWarning() says what happened.
    explicit SettingsStore(std::filesystem::path file);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;
    ~SettingsStore();

    // The process-wide store, paths::applicationConfigFolder()/settings.plist, loaded on
    // first use.
    static SettingsStore& standard();

    const std::filesystem::path& file() const { return file_; }
    // What went wrong while loading the file, for the caller to log; none when all went well.
    std::optional<std::string> loadWarning() const;

    // Sets the defaults, in memory only. A stored value always wins over a default;
    // registering a key again replaces its default but keeps its place in the order.
    void registerDefaults(const std::vector<std::pair<std::string, PropertyValue>>& defaults);
    // The keys with a registered default, in the order they were first registered.
    std::vector<std::string> registeredKeys() const;
    std::optional<PropertyValue> registeredDefault(std::string_view key) const;

    // The stored value, else the registered default, else none.
    std::optional<PropertyValue> object(std::string_view key) const;
    // A bool as is; a number is true when not zero; a string is true when it reads "YES",
    // "true" (any case) or a non-zero integer. Anything else, or nothing, is false.
    bool boolForKey(std::string_view key) const;
    // An integer as is; a bool is 0 or 1; a real is truncated (clamped to the int64 range);
    // a string holding a number is that number, truncated. Anything else is 0.
    std::int64_t integerForKey(std::string_view key) const;
    // A real as is; an integer or bool converted; a string holding a number is that number.
    // Anything else is 0.
    double doubleForKey(std::string_view key) const;
    // A string as is; a number (including a bool, 1 or 0) as decimal text; else none.
    std::optional<std::string> stringForKey(std::string_view key) const;
    // The list when it is a list of strings only, else none.
    std::optional<std::vector<std::string>> stringArrayForKey(std::string_view key) const;

    // Whether the key has a value of its own rather than only a default.
    bool hasStoredValue(std::string_view key) const;
    // The keys with a stored value, sorted.
    std::vector<std::string> storedKeys() const;

    // Stores the value; it is written out by the next synchronize().
    void set(std::string_view key, PropertyValue value);
    // Forgets the stored value; the key reads its default again.
    void removeObject(std::string_view key);

    // Writes the stored values to the file atomically. Does nothing when nothing changed
    // since the file was loaded or last written, or while writing is off; after a failure
    // the next call tries again.
    Expected<void, FileError> synchronize();
    // Whether synchronize() writes the file (on at first). While off, changes stay in memory:
    // a run that must leave the user's files alone (a command that only reads, a trial
    // import) still sees its own changes. The first synchronize() after writing is turned on
    // again writes them.
    void setWritesFile(bool writes);
    bool writesFile() const;

    // Calls the observer after each change of what the key reads (by set, removeObject or
    // registerDefaults), on the thread that made the change and without holding the store's
    // lock, so the observer may use the store.
    ObservationId observe(std::string_view key, Observer observer);
    // Stops the observation. A notification already under way on another thread may still
    // arrive.
    void removeObserver(ObservationId id);

  private:
    struct Observation {
        ObservationId id;
        std::shared_ptr<const Observer> observer;
    };

    void load();
    const PropertyValue* effectiveValue(std::string_view key) const;
    void notify(const std::vector<std::string>& keys) const;

    const std::filesystem::path file_;
    mutable std::mutex mutex_;
    PropertyValue::Dictionary stored_;
    std::map<std::string, PropertyValue, std::less<>> defaults_;
    std::vector<std::string> registrationOrder_;
    std::map<std::string, std::vector<Observation>, std::less<>> observers_;
    ObservationId nextObservationId_ = 1;
    bool changedSinceWrite_ = false;
    bool writesFile_ = true;
    std::optional<std::string> loadWarning_;
};

}  // namespace pelkora
