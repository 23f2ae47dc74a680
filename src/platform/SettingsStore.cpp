#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "platform/Paths.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view whitespace = " \t\r\n";
    const auto first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(whitespace) - first + 1);
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    text = trimmed(text);
    if (text.starts_with('+')) text.remove_prefix(1);
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<double> parseReal(std::string_view text) {
    text = trimmed(text);
    if (text.starts_with('+')) text.remove_prefix(1);
    double value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// Converting a double outside the int64 range is undefined, hence the explicit bounds
// (2^63 is exactly representable as a double; INT64_MAX is not).
std::int64_t truncatedToInteger(double value) {
    constexpr double bound = 9223372036854775808.0;
    if (std::isnan(value)) return 0;
    if (value >= bound) return std::numeric_limits<std::int64_t>::max();
    if (value < -bound) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

std::string realText(double value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowercase) {
    return std::equal(text.begin(), text.end(), lowercase.begin(), lowercase.end(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

bool boolFrom(const PropertyValue* value) {
    if (value == nullptr) return false;
    if (auto flag = value->boolValue()) return *flag;
    if (auto integer = value->integerValue()) return *integer != 0;
    if (auto real = value->realValue()) return *real != 0;
    if (auto string = value->stringValue()) {
        const auto text = trimmed(*string);
        if (equalsIgnoringCase(text, "yes") || equalsIgnoringCase(text, "true")) return true;
        if (auto integer = parseInteger(text)) return *integer != 0;
    }
    return false;
}

std::int64_t integerFrom(const PropertyValue* value) {
    if (value == nullptr) return 0;
    if (auto integer = value->integerValue()) return *integer;
    if (auto flag = value->boolValue()) return *flag ? 1 : 0;
    if (auto real = value->realValue()) return truncatedToInteger(*real);
    if (auto string = value->stringValue()) {
        if (auto integer = parseInteger(*string)) return *integer;
        if (auto real = parseReal(*string)) return truncatedToInteger(*real);
    }
    return 0;
}

double doubleFrom(const PropertyValue* value) {
    if (value == nullptr) return 0;
    if (auto real = value->realValue()) return *real;
    if (auto integer = value->integerValue()) return static_cast<double>(*integer);
    if (auto flag = value->boolValue()) return *flag ? 1 : 0;
    if (auto string = value->stringValue()) return parseReal(*string).value_or(0);
    return 0;
}

std::optional<std::string> stringFrom(const PropertyValue* value) {
    if (value == nullptr) return std::nullopt;
    if (auto string = value->stringValue()) return *string;
    if (auto integer = value->integerValue()) return std::to_string(*integer);
    if (auto real = value->realValue()) return realText(*real);
    if (auto flag = value->boolValue()) return std::string(*flag ? "1" : "0");
    return std::nullopt;
}

std::optional<std::vector<std::string>> stringArrayFrom(const PropertyValue* value) {
    const auto* array = value != nullptr ? value->arrayValue() : nullptr;
    if (array == nullptr) return std::nullopt;
    std::vector<std::string> strings;
    strings.reserve(array->size());
    for (const auto& element : *array) {
        if (!element.stringValue()) return std::nullopt;
        strings.push_back(*element.stringValue());
    }
    return strings;
}

std::string quoted(const std::filesystem::path& path) {
    return "\u201c" + path.string() + "\u201d";
}

}  // namespace

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {
    load();
}

SettingsStore::~SettingsStore() = default;

SettingsStore& SettingsStore::standard() {
    static SettingsStore store(paths::applicationConfigFolder() / "settings.plist");
    return store;
}

namespace {

// Renames the file to "<name>.damaged", or "<name>.damaged-2" and on when an earlier damaged
// file is kept there: no kept copy is ever replaced.
std::error_code keepAside(const std::filesystem::path& file, std::filesystem::path& aside) {
    for (int number = 1; number < 1000; ++number) {
        aside = file;
        aside += number == 1 ? std::string(".damaged") : ".damaged-" + std::to_string(number);
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0)
            return {};
        if (errno == EEXIST) continue;
        if (errno != EINVAL) return {errno, std::generic_category()};
        // A file system without RENAME_NOREPLACE: look first.
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(aside, error))) continue;
        std::filesystem::rename(file, aside, error);
        return error;
    }
    return std::make_error_code(std::errc::file_exists);
}

}  // namespace

// Anything but a missing file or a dictionary means the file cannot be trusted. Moving it
// aside keeps the user's data for inspection, and keeps the next synchronize() from
// silently replacing it.
void SettingsStore::load() {
    auto content = readWholeFile(file_);
    std::string problem;
    if (!content) {
        if (content.error().code == std::errc::no_such_file_or_directory) return;
        problem = formatMessage(localizedString("it cannot be read: %@"), content.error().reason);
    } else if (auto decoded = decodePropertyList(*content); !decoded) {
        problem = formatMessage(localizedString("it is damaged: %@"), decoded.error().message);
    } else if (auto* dictionary = decoded->dictionaryValue(); dictionary == nullptr) {
        problem = formatMessage(localizedString("it holds a %@ instead of a dictionary"),
                                decoded->typeName());
    } else {
        stored_ = std::move(*dictionary);
        return;
    }

    std::filesystem::path aside;
    std::error_code renameError = keepAside(file_, aside);
    if (renameError) {
        loadWarning_ = formatMessage(
            localizedString("The settings file %1$@ was not loaded (%2$@) and could not be kept "
                            "aside (%3$@); the settings start empty."),
            quoted(file_), problem, renameError.message());
    } else {
        loadWarning_ = formatMessage(
            localizedString("The settings file %1$@ was not loaded (%2$@); it was kept as %3$@ and "
                            "the settings start empty."),
            quoted(file_), problem, quoted(aside));
    }
}

std::optional<std::string> SettingsStore::loadWarning() const {
    std::lock_guard lock(mutex_);
    return loadWarning_;
}

const PropertyValue* SettingsStore::effectiveValue(std::string_view key) const {
    if (auto stored = stored_.find(key); stored != stored_.end()) return &stored->second;
    if (auto fallback = defaults_.find(key); fallback != defaults_.end()) return &fallback->second;
    return nullptr;
}

void SettingsStore::registerDefaults(
    const std::vector<std::pair<std::string, PropertyValue>>& defaults) {
    std::vector<std::string> changed;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, value] : defaults) {
            auto existing = defaults_.find(key);
            if (existing == defaults_.end()) {
                registrationOrder_.push_back(key);
                defaults_.emplace(key, value);
            } else if (existing->second == value) {
                continue;
            } else {
                existing->second = value;
            }
            const bool readsDefault = !stored_.contains(key);
            if (readsDefault && std::find(changed.begin(), changed.end(), key) == changed.end()) {
                changed.push_back(key);
            }
        }
    }
    notify(changed);
}

std::vector<std::string> SettingsStore::registeredKeys() const {
    std::lock_guard lock(mutex_);
    return registrationOrder_;
}

std::optional<PropertyValue> SettingsStore::registeredDefault(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (auto found = defaults_.find(key); found != defaults_.end()) return found->second;
    return std::nullopt;
}

std::optional<PropertyValue> SettingsStore::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (const auto* value = effectiveValue(key)) return *value;
    return std::nullopt;
}

bool SettingsStore::boolForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return boolFrom(effectiveValue(key));
}

std::int64_t SettingsStore::integerForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return integerFrom(effectiveValue(key));
}

double SettingsStore::doubleForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return doubleFrom(effectiveValue(key));
}

std::optional<std::string> SettingsStore::stringForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return stringFrom(effectiveValue(key));
}

std::optional<std::vector<std::string>> SettingsStore::stringArrayForKey(
    std::string_view key) const {
    std::lock_guard lock(mutex_);
    return stringArrayFrom(effectiveValue(key));
}

bool SettingsStore::hasStoredValue(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return stored_.contains(key);
}

std::vector<std::string> SettingsStore::storedKeys() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> keys;
    keys.reserve(stored_.size());
    for (const auto& entry : stored_) keys.push_back(entry.first);
    return keys;
}

void SettingsStore::set(std::string_view key, PropertyValue value) {
    bool readsDifferently = false;
    {
        std::lock_guard lock(mutex_);
        if (auto stored = stored_.find(key); stored != stored_.end() && stored->second == value) {
            return;
        }
        const auto* before = effectiveValue(key);
        readsDifferently = before == nullptr || !(*before == value);
        stored_.insert_or_assign(std::string(key), std::move(value));
        changedSinceWrite_ = true;
    }
    if (readsDifferently) notify({std::string(key)});
}

void SettingsStore::removeObject(std::string_view key) {
    bool readsDifferently = false;
    {
        std::lock_guard lock(mutex_);
        auto stored = stored_.find(key);
        if (stored == stored_.end()) return;
        auto fallback = defaults_.find(key);
        readsDifferently = fallback == defaults_.end() || !(fallback->second == stored->second);
        stored_.erase(stored);
        changedSinceWrite_ = true;
    }
    if (readsDifferently) notify({std::string(key)});
}

// The lock is held while writing: the file is small, and it keeps two threads from writing
// their snapshots in the wrong order.
Expected<void, FileError> SettingsStore::synchronize() {
    std::lock_guard lock(mutex_);
    if (!changedSinceWrite_ || !writesFile_) return {};
    const auto bytes = encodePropertyList(PropertyValue(stored_), PropertyListFormat::xml);
    if (auto written = writeFileAtomically(file_, bytes); !written) return written;
    changedSinceWrite_ = false;
    return {};
}

void SettingsStore::setWritesFile(bool writes) {
    std::lock_guard lock(mutex_);
    writesFile_ = writes;
}

bool SettingsStore::writesFile() const {
    std::lock_guard lock(mutex_);
    return writesFile_;
}

SettingsStore::ObservationId SettingsStore::observe(std::string_view key, Observer observer) {
    std::lock_guard lock(mutex_);
    const ObservationId id = nextObservationId_++;
    observers_[std::string(key)].push_back(
        {id, std::make_shared<const Observer>(std::move(observer))});
    return id;
}

void SettingsStore::removeObserver(ObservationId id) {
    std::lock_guard lock(mutex_);
    for (auto entry = observers_.begin(); entry != observers_.end(); ++entry) {
        auto& list = entry->second;
        auto found = std::find_if(list.begin(), list.end(), [id](const Observation& observation) {
            return observation.id == id;
        });
        if (found == list.end()) continue;
        list.erase(found);
        if (list.empty()) observers_.erase(entry);
        return;
    }
}

// Observers are copied out under the lock and called after releasing it; shared ownership
// keeps an observer alive if it is removed while being called.
void SettingsStore::notify(const std::vector<std::string>& keys) const {
    for (const auto& key : keys) {
        std::vector<std::shared_ptr<const Observer>> observers;
        {
            std::lock_guard lock(mutex_);
            if (auto found = observers_.find(key); found != observers_.end()) {
                for (const auto& observation : found->second) {
                    observers.push_back(observation.observer);
                }
            }
        }
        for (const auto& observer : observers) (*observer)(key);
    }
}

}  // namespace pelkora
