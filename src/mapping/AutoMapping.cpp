#include "mapping/AutoMapping.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <limits>
#include <numeric>

#include "addressbook/ContactKeys.h"
#include "addressbook/ContactLocalization.h"
#include "mapping/ValueLabels.h"
#include "platform/SettingsStore.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/Settings.h"
#include "support/Utf8.h"
#include "text/LanguageDetection.h"
#include "text/UnicodeText.h"

namespace pelkora {
namespace {

constexpr std::string_view kPropertyType = "Property";
constexpr std::string_view kLabelType = "Label";
constexpr std::string_view kContactsFramework = "Contacts";

// Splits at every single blank, keeping empty words between two blanks, as the vocabulary's
// scoring has always done.
std::vector<std::string> splitAtBlanks(std::string_view text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (true) {
        const std::size_t blank = text.find(' ', start);
        words.emplace_back(text.substr(start, blank - start));
        if (blank == std::string_view::npos) break;
        start = blank + 1;
    }
    return words;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool hasText(const std::optional<std::string>& text) {
    return text && !text->empty();
}

}  // namespace

// ---- Title matching ----------------------------------------------------------------------

namespace {

// The edit distance from one fixed word to many others, by Hyyrö's bit-parallel form of
// Myers' algorithm: one pass of a few word operations per character of the other word
// instead of a table. Words longer than 64 code points fall back to the table.
class EditDistancePattern {
  public:
    explicit EditDistancePattern(std::u32string_view pattern) : pattern_(pattern) {
        if (pattern.size() > 64 || pattern.empty()) return;
        bitParallel_ = true;
        for (std::size_t i = 0; i < pattern.size(); ++i) mask(pattern[i]) |= std::uint64_t{1} << i;
        lastBit_ = std::uint64_t{1} << (pattern.size() - 1);
    }

    std::size_t distanceTo(std::u32string_view text) const {
        if (!bitParallel_) return tableDistance(pattern_, text);
        std::uint64_t positiveVertical = ~std::uint64_t{0};
        std::uint64_t negativeVertical = 0;
        std::size_t distance = pattern_.size();
        for (const char32_t c : text) {
            const std::uint64_t equal = lookup(c);
            const std::uint64_t xVertical = equal | negativeVertical;
            const std::uint64_t xHorizontal =
                (((equal & positiveVertical) + positiveVertical) ^ positiveVertical) | equal;
            std::uint64_t positiveHorizontal = negativeVertical | ~(xHorizontal | positiveVertical);
            std::uint64_t negativeHorizontal = positiveVertical & xHorizontal;
            if (positiveHorizontal & lastBit_) {
                ++distance;
            } else if (negativeHorizontal & lastBit_) {
                --distance;
            }
            // The top row of the table counts up by one per character: shift in a 1.
            positiveHorizontal = (positiveHorizontal << 1) | 1;
            negativeHorizontal <<= 1;
            positiveVertical = negativeHorizontal | ~(xVertical | positiveHorizontal);
            negativeVertical = positiveHorizontal & xVertical;
        }
        return distance;
    }

    static std::size_t tableDistance(std::u32string_view left, std::u32string_view right) {
        if (left.size() < right.size()) std::swap(left, right);
        if (right.empty()) return left.size();
        std::vector<std::size_t> row(right.size() + 1);
        std::iota(row.begin(), row.end(), std::size_t{0});
        for (std::size_t i = 1; i <= left.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= right.size(); ++j) {
                const std::size_t above = row[j];
                row[j] = std::min(
                    {above + 1, row[j - 1] + 1, diagonal + (left[i - 1] == right[j - 1] ? 0 : 1)});
                diagonal = above;
            }
        }
        return row[right.size()];
    }

  private:
    std::uint64_t& mask(char32_t c) {
        if (c < ascii_.size()) return ascii_[c];
        for (auto& [character, bits] : others_) {
            if (character == c) return bits;
        }
        return others_.emplace_back(c, 0).second;
    }
    std::uint64_t lookup(char32_t c) const {
        if (c < ascii_.size()) return ascii_[c];
        for (const auto& [character, bits] : others_) {
            if (character == c) return bits;
        }
        return 0;
    }

    std::u32string_view pattern_;
    bool bitParallel_ = false;
    std::uint64_t lastBit_ = 0;
    std::array<std::uint64_t, 128> ascii_{};
    std::vector<std::pair<char32_t, std::uint64_t>> others_;
};

// The title's words around the target's name, capitalised: "Phone (car)" is a phone
// labelled "Car". None for a one-word title, which names the target itself, and for a title
// that is only the name and punctuation.
std::optional<std::string> customLabelFromTitle(std::string_view title,
                                                std::string_view loweredTitle,
                                                const SuggestedContactProperty& target) {
    const auto words = splitAtBlanks(title);
    if (std::count_if(words.begin(), words.end(), [](const auto& word) { return !word.empty(); }) <
        2) {
        return std::nullopt;
    }
    auto name = target.localizedPropertySubKey();
    if (!name) name = target.localizedPropertyKey();
    const std::string loweredName = name ? lowercased(*name) : std::string();
    std::vector<std::string_view> pieces;
    std::string_view rest = loweredTitle;
    while (!loweredName.empty()) {
        const std::size_t found = rest.find(loweredName);
        if (found == std::string_view::npos) break;
        pieces.push_back(rest.substr(0, found));
        rest.remove_prefix(found + loweredName.size());
    }
    pieces.push_back(rest);
    std::string joined;
    for (const auto piece : pieces) {
        const std::string trimmed = trimmedToWordCharacters(piece);
        if (trimmed.empty()) continue;
        if (!joined.empty()) joined += ' ';
        joined += trimmed;
    }
    joined = trimmedWhiteSpace(joined);
    if (joined.empty()) return std::nullopt;
    return capitalized(joined);
}

// Custom labels only when detected; a target that takes a label and has none gets one, from
// the title or the preferred label.
void applyLabelRules(std::string_view title, std::string_view loweredTitle, bool detectCustomLabels,
                     SuggestedContactProperty& target) {
    if (!detectCustomLabels) target.customLabel.reset();
    if (target.label() || !target.canHaveLabel()) return;
    if (detectCustomLabels) {
        if (auto label = customLabelFromTitle(title, loweredTitle, target)) {
            target.customLabel = std::move(label);
            target.systemLabel.reset();
            return;
        }
    }
    target.systemLabel = target.preferredLabel();
}

// A phone number, e-mail or postal address whose title says where it belongs ("Business
// Phone", "Telefon privat", "Ciudad donde vive") is labelled so, whatever the language and
// the word order; only a title that says nothing keeps "other" (or a label derived from its
// words).
void applyPlaceLabel(std::string_view title, SuggestedContactProperty& target) {
    using namespace contacts;
    const auto& key = target.propertyKey;
    if (!key || (*key != ContactKey::phoneNumbers && *key != ContactKey::emailAddresses &&
                 *key != ContactKey::postalAddresses))
        return;
    if (target.systemLabel != Label::other && !hasText(target.customLabel)) return;
    const auto place = placeLabelInTitle(title);
    if (!place) return;
    target.systemLabel = std::string(*place);
    target.customLabel.reset();
}

// A sub-key only where the key takes one; a key that needs one and has none cannot be
// imported and goes.
void cleanUpSubKey(SuggestedContactProperty& target) {
    if (hasText(target.propertySubKey) && !target.canHaveSubKey()) target.propertySubKey.reset();
    if (target.canHaveSubKey() && !hasText(target.propertySubKey)) target.propertyKey.reset();
    if (!target.propertyKey) target.propertySubKey.reset();
}

}  // namespace

struct TitleMatcher::Candidate {
    const SuggestedContactProperty* entry = nullptr;
    std::string loweredTitle;
    // Indices into the language's distinct words.
    std::vector<std::uint32_t> wordIds;
    // Ranks of the fuzzy tie-break flags, 0 first (see the class comment).
    unsigned tieRank = 0;
};

// A language's candidates, with their words stored once: vocabulary titles share most
// words ("Home", "Business", "Phone"), so a title is compared with each distinct word once.
struct TitleMatcher::LanguageIndex {
    std::vector<Candidate> candidates;
    std::vector<std::string> words;
    std::vector<std::u32string> wordCodePoints;
};

struct TitleMatcher::Title {
    std::string lowered;
    std::vector<std::string> words;
    std::vector<std::u32string> wordCodePoints;
};

TitleMatcher::TitleMatcher(StringMap vocabulary) : vocabulary_(std::move(vocabulary)) {
    for (std::size_t position = 0; position < vocabulary_.size(); ++position) {
        const auto& entry = vocabulary_[position];
        if (entry.framework != kContactsFramework) continue;
        positionsByLanguage_[entry.ISOLanguageCode].push_back(position);
    }
}

TitleMatcher::~TitleMatcher() = default;

const TitleMatcher::LanguageIndex& TitleMatcher::languageIndex(std::string_view language) const {
    const std::string key(language);
    std::lock_guard lock(mutex_);
    auto& slot = indexByLanguage_[key];
    if (slot) return *slot;
    auto index = std::make_unique<LanguageIndex>();
    if (auto positions = positionsByLanguage_.find(key); positions != positionsByLanguage_.end()) {
        std::unordered_map<std::string, std::uint32_t> wordIds;
        index->candidates.reserve(positions->second.size());
        for (const std::size_t position : positions->second) {
            const auto& entry = vocabulary_[position];
            Candidate candidate;
            candidate.entry = &entry;
            if (entry.localizedString) {
                candidate.loweredTitle = lowercased(*entry.localizedString);
                for (auto& word : splitAtBlanks(candidate.loweredTitle)) {
                    auto [found, added] =
                        wordIds.try_emplace(word, static_cast<std::uint32_t>(index->words.size()));
                    if (added) {
                        index->wordCodePoints.push_back(codePoints(word));
                        index->words.push_back(std::move(word));
                    }
                    candidate.wordIds.push_back(found->second);
                }
            }
            candidate.tieRank =
                (entry.isUserCustomMapping ? 0u : 8u) | (entry.isVendorCustomMapping ? 0u : 4u) |
                (entry.type == kLabelType ? 2u : 0u) |
                (entry.propertyKey == contacts::ContactKey::socialProfiles ? 0u : 1u);
            index->candidates.push_back(std::move(candidate));
        }
    }
    slot = std::move(index);
    return *slot;
}

SuggestedContactProperty TitleMatcher::match(std::string_view title, std::string_view language,
                                             bool detectCustomLabels, bool fuzzy,
                                             bool excludeVendor) const {
    // 1. Start from a fresh Property entry; lower-case language and title.
    // 2. The candidates: entries of the language (see languageIndex()).
    // 3. Fuzzy mode for titles of at least kFuzzyMatchingMinimumLength characters.
    // 4./5. Match exactly or fuzzily.
    // 6. Labels: drop custom labels unless detected; give a label-taking target without a
    //    label the preferred or a derived custom label.
    //    A phone number, e-mail or postal address whose title names a place takes its label.
    // 7. Sub-keys: only where the key takes one; a key that needs one and has none is dropped.
    SuggestedContactProperty result;
    result.type = std::string(kPropertyType);

    Title lowered;
    lowered.lowered = lowercased(title);
    lowered.words = splitAtBlanks(lowered.lowered);
    for (const auto& word : lowered.words) lowered.wordCodePoints.push_back(codePoints(word));

    const auto& index = languageIndex(lowercased(language));
    if (fuzzy && utf8::codePointCount(title) >= kFuzzyMatchingMinimumLength) {
        matchFuzzily(lowered, index, excludeVendor, result);
    } else {
        matchExactly(lowered, index, excludeVendor, result);
    }

    applyLabelRules(title, lowered.lowered, detectCustomLabels, result);
    applyPlaceLabel(title, result);
    cleanUpSubKey(result);
    return result;
}

void TitleMatcher::matchExactly(const Title& title, const LanguageIndex& index, bool excludeVendor,
                                SuggestedContactProperty& result) const {
    std::vector<const Candidate*> contained;
    for (const auto& candidate : index.candidates) {
        if (!candidate.entry->localizedString) continue;
        if (excludeVendor && candidate.entry->isVendorCustomMapping) continue;
        if (contains(title.lowered, candidate.loweredTitle)) contained.push_back(&candidate);
    }
    std::stable_sort(
        contained.begin(), contained.end(), [](const Candidate* left, const Candidate* right) {
            return left->entry->isVendorCustomMapping && !right->entry->isVendorCustomMapping;
        });
    const auto takeLabel = [&result](const SuggestedContactProperty& entry) {
        if (hasText(entry.systemLabel)) {
            result.systemLabel = entry.systemLabel;
            result.customLabel.reset();
        } else if (hasText(entry.customLabel)) {
            result.customLabel = entry.customLabel;
            result.systemLabel.reset();
        }
    };
    for (const Candidate* candidate : contained) {
        const auto& entry = *candidate->entry;
        if (candidate->loweredTitle == title.lowered) {
            result.propertyKey = entry.propertyKey;
            result.propertySubKey = entry.propertySubKey;
            result.ISOLanguageCode = entry.ISOLanguageCode;
            takeLabel(entry);
            break;
        }
        if (entry.type == kPropertyType) {
            if (!result.propertyKey) {
                result.propertyKey = entry.propertyKey;
                result.propertySubKey = entry.propertySubKey;
                result.ISOLanguageCode = entry.ISOLanguageCode;
            }
        } else if (entry.type == kLabelType) {
            if (!result.propertyKey) result.propertyKey = entry.propertyKey;
            if (!result.label()) takeLabel(entry);
        }
    }
}

void TitleMatcher::matchFuzzily(const Title& title, const LanguageIndex& index, bool excludeVendor,
                                SuggestedContactProperty& result) const {
    // A word's contribution to a candidate's score does not depend on the candidate: -1 per
    // title word when it equals the whole title, 0 when it contains or is contained in the
    // title, else the sum of its edit distances to the title words. Work it out once per
    // distinct word, on first need.
    std::vector<EditDistancePattern> patterns;
    patterns.reserve(title.wordCodePoints.size());
    for (const auto& word : title.wordCodePoints) patterns.emplace_back(word);
    constexpr int kNotYet = std::numeric_limits<int>::min();
    std::vector<int> wordScores(index.words.size(), kNotYet);
    const auto wordScore = [&](std::uint32_t id) {
        int& score = wordScores[id];
        if (score != kNotYet) return score;
        const std::string& word = index.words[id];
        if (title.lowered == word) {
            score = -static_cast<int>(title.words.size());
        } else if (contains(title.lowered, word) || contains(word, title.lowered)) {
            score = 0;
        } else {
            score = 0;
            for (const auto& pattern : patterns) {
                score += static_cast<int>(pattern.distanceTo(index.wordCodePoints[id]));
            }
        }
        return score;
    };

    struct Scored {
        int score;
        const Candidate* candidate;
    };
    std::vector<Scored> kept;
    for (const auto& candidate : index.candidates) {
        if (!candidate.entry->localizedString) continue;
        if (excludeVendor && candidate.entry->isVendorCustomMapping) continue;
        int score = 0;
        for (const std::uint32_t id : candidate.wordIds) score += wordScore(id);
        if (score < kFuzzyMatchingScoreLimit) kept.push_back({score, &candidate});
    }
    // Candidates are in vocabulary order, so a stable sort keeps it among equals.
    std::stable_sort(kept.begin(), kept.end(), [](const Scored& left, const Scored& right) {
        if (left.score != right.score) return left.score < right.score;
        return left.candidate->tieRank < right.candidate->tieRank;
    });
    // A target combined from several entries has no one language, so the result keeps its
    // initial language.
    for (const auto& scored : kept) {
        const auto& entry = *scored.candidate->entry;
        if (!result.propertyKey && hasText(entry.propertyKey))
            result.propertyKey = entry.propertyKey;
        if (!result.propertySubKey && hasText(entry.propertySubKey))
            result.propertySubKey = entry.propertySubKey;
        if (!result.systemLabel && hasText(entry.systemLabel))
            result.systemLabel = entry.systemLabel;
        if (result.propertyKey && result.propertySubKey && result.systemLabel) break;
    }
}

SuggestedContactProperty matchTitle(std::string_view title, const StringMap& vendorMap,
                                    std::string_view language, bool detectCustomLabels, bool fuzzy,
                                    bool excludeVendor) {
    // Only the title's language is ever looked at, so copy no more than that.
    const std::string loweredLanguage = lowercased(language);
    StringMap entries;
    for (const auto& entry : vendorMap) {
        if (entry.ISOLanguageCode == loweredLanguage) entries.push_back(entry);
    }
    const TitleMatcher matcher(std::move(entries));
    return matcher.match(title, language, detectCustomLabels, fuzzy, excludeVendor);
}

int matchScore(std::string_view title, std::string_view candidateTitle) {
    const std::string loweredTitle = lowercased(title);
    const auto titleWords = splitAtBlanks(loweredTitle);
    const auto candidateWords = splitAtBlanks(lowercased(candidateTitle));
    int score = 0;
    for (const auto& titleWord : titleWords) {
        for (const auto& word : candidateWords) {
            if (loweredTitle == word) {
                score -= 1;
            } else if (!contains(loweredTitle, word) && !contains(word, loweredTitle)) {
                score += static_cast<int>(editDistance(codePoints(word), codePoints(titleWord)));
            }
        }
    }
    return score;
}

std::size_t editDistance(std::u32string_view left, std::u32string_view right) {
    if (left.size() < right.size()) std::swap(left, right);
    return EditDistancePattern(right).distanceTo(left);
}

// ---- Auto-mapping ------------------------------------------------------------------------

AutoMappingSettings autoMappingSettings(const SettingsStore& settings) {
    AutoMappingSettings result;
    result.detectCustomLabels = settings.boolForKey(SettingKey::DetectCustomLabels);
    result.ignoreCustomMappings = settings.boolForKey(SettingKey::IgnoreCustomMappings);
    result.appendUnmappedFieldsToNotes =
        settings.boolForKey(SettingKey::AppendUnmappedFieldsToNotes);
    return result;
}

namespace {

// A date cell's title, as the platform describes a date: "2024-03-01 12:00:00 +0000".
std::string dateDescription(CellDate date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return std::string(text, length);
}

std::string cellTitle(const DataCellView& cell) {
    if (const auto* text = std::get_if<std::string_view>(&cell.value)) return std::string(*text);
    if (const auto* date = std::get_if<CellDate>(&cell.value)) return dateDescription(*date);
    return localizedString("Undefined");
}

}  // namespace

namespace {

std::optional<std::string> recognisedHeaderLanguage(const DataRow& titleRow,
                                                    std::string_view fallbackLanguage) {
    std::string joined;
    bool first = true;
    for (const DataCellView cell : titleRow) {
        const auto* text = std::get_if<std::string_view>(&cell.value);
        if (!text) continue;
        if (!first) joined += ", ";
        joined += *text;
        first = false;
    }
    if (utf8::codePointCount(joined) < kLanguageDetectionMinimumLength) {
        writeLog(LogType::info, "String to short to detect language -- using '%{public}@' instead.",
                 fallbackLanguage);
        return std::nullopt;
    }
    if (auto language = detectLanguage(joined)) {
        writeLog(LogType::info, "Language detected from column headers: %{public}@", *language);
        return *language;
    }
    return std::nullopt;
}

}  // namespace

std::string headerLanguage(const DataRow& titleRow, std::string_view fallbackLanguage) {
    return recognisedHeaderLanguage(titleRow, fallbackLanguage)
        .value_or(std::string(fallbackLanguage));
}

AutoMappingResult autoMap(const DataRow& titleRow, bool hasHeaderRow, int columnIndexStyle,
                          const TitleMatcher& matcher, const StringMap& customStringMap,
                          const AutoMappingSettings& settings, std::string_view fallbackLanguage) {
    // Steps: see the declaration.
    const auto start = std::chrono::steady_clock::now();
    AutoMappingResult result;
    const auto recognised = recognisedHeaderLanguage(titleRow, fallbackLanguage);
    result.languageRecognised = recognised.has_value();
    result.detectedLanguage = recognised.value_or(std::string(fallbackLanguage));

    auto& list = result.mappedContactProperties;
    list.reserve(titleRow.cellCount());
    for (const DataCellView cell : titleRow) {
        MappedContactProperty property;
        property.columnIndex = cell.columnIndex;
        property.formattedColumnIndex = cell.formattedColumnIndex(columnIndexStyle);
        property.sourceFieldName = cellTitle(cell);
        if (hasHeaderRow) {
            property.contactProperty = matcher.match(
                property.sourceFieldName, result.detectedLanguage, settings.detectCustomLabels);
        } else {
            property.contactProperty.clearAll();
        }
        list.push_back(std::move(property));
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    writeLog(LogType::info, "Auto-mapping fields took %f seconds.", elapsed.count());

    if (settings.appendUnmappedFieldsToNotes) {
        for (auto& property : list) {
            if (property.contactProperty.isValid()) continue;
            property.contactProperty.clearAll();
            property.contactProperty.propertyKey = std::string(CustomPropertyKeys::AdditionalNote);
        }
    }
    refreshSourceFieldNames(list, titleRow, hasHeaderRow);
    if (!settings.ignoreCustomMappings) applyCustomStringMap(list, customStringMap);
    adjustFullNameColumns(list);
    if (hasHeaderRow) pairLabelColumns(list);
    result.sessionCustomLabels = sessionCustomLabels(list);
    return result;
}

void rematchTitles(std::vector<MappedContactProperty>& list, bool hasHeaderRow,
                   const TitleMatcher& matcher, std::string_view language,
                   const AutoMappingSettings& settings) {
    if (!hasHeaderRow) return;
    for (auto& property : list) {
        if (property.mappedManuallyByUser || property.isCustomMapping) continue;
        property.labelColumnIndex.reset();
        property.contactProperty =
            matcher.match(property.sourceFieldName, language, settings.detectCustomLabels);
        if (settings.appendUnmappedFieldsToNotes && !property.contactProperty.isValid()) {
            property.contactProperty.clearAll();
            property.contactProperty.propertyKey = std::string(CustomPropertyKeys::AdditionalNote);
        }
    }
    adjustFullNameColumns(list);
    pairLabelColumns(list);
}

void applyCustomStringMap(std::vector<MappedContactProperty>& list,
                          const StringMap& customStringMap) {
    for (auto& property : list) {
        const auto found = std::find_if(
            customStringMap.begin(), customStringMap.end(),
            [&](const auto& entry) { return entry.localizedString == property.sourceFieldName; });
        if (found == customStringMap.end()) continue;
        property.contactProperty = *found;
        property.isCustomMapping = true;
    }
}

void adjustFullNameColumns(std::vector<MappedContactProperty>& list) {
    namespace ContactKey = contacts::ContactKey;
    const auto hasColumnFor = [&](std::string_view key) {
        return std::any_of(list.begin(), list.end(), [&](const MappedContactProperty& entry) {
            return entry.contactProperty.propertyKey == key && entry.contactProperty.isValid();
        });
    };
    const bool givenName = hasColumnFor(ContactKey::givenName);
    const bool familyName = hasColumnFor(ContactKey::familyName);
    if (givenName == familyName) return;
    for (auto& entry : list) {
        if (entry.isCustomMapping || entry.mappedManuallyByUser ||
            entry.contactProperty.propertyKey != CustomPropertyKeys::FullName)
            continue;
        entry.contactProperty.propertyKey =
            std::string(givenName ? ContactKey::familyName : ContactKey::givenName);
    }
}

void refreshSourceFieldNames(std::vector<MappedContactProperty>& list, const DataRow& titleRow,
                             bool hasHeaderRow) {
    for (const DataCellView cell : titleRow) {
        const auto* text = std::get_if<std::string_view>(&cell.value);
        if (!text) continue;
        const auto entry = std::find_if(list.begin(), list.end(), [&](const auto& property) {
            return property.columnIndex == cell.columnIndex;
        });
        if (entry == list.end()) continue;
        entry->sourceFieldName = hasHeaderRow ? std::string(*text) : std::string();
    }
}

SessionCustomLabels sessionCustomLabels(const std::vector<MappedContactProperty>& list) {
    SessionCustomLabels labels;
    for (const auto& property : list) {
        const auto& target = property.contactProperty;
        if (!target.canHaveLabel()) continue;
        const auto label = target.label();
        if (!label || *label == kExtractLabelMarker) continue;
        const auto systemLabels = target.systemLabels();
        if (std::find(systemLabels.begin(), systemLabels.end(), *label) != systemLabels.end())
            continue;
        auto& texts = labels[*target.propertyKey];
        if (std::find(texts.begin(), texts.end(), *label) == texts.end()) texts.push_back(*label);
    }
    return labels;
}

StringMap learnUserAssignments(const std::vector<MappedContactProperty>& list,
                               StringMap customStringMap) {
    for (const auto& property : list) {
        if (!property.mappedManuallyByUser) continue;
        const auto older = std::find_if(
            customStringMap.begin(), customStringMap.end(),
            [&](const auto& entry) { return entry.localizedString == property.sourceFieldName; });
        if (older != customStringMap.end()) customStringMap.erase(older);
        SuggestedContactProperty learnt = property.contactProperty;
        learnt.localizedString = property.sourceFieldName;
        learnt.isUserCustomMapping = true;
        customStringMap.push_back(std::move(learnt));
    }
    return customStringMap;
}

// ---- Header and example rows -------------------------------------------------------------

namespace {
// The header and example rows are looked for among this many rows at the top of the file.
constexpr std::size_t kHeaderSearchRows = 50;
}  // namespace

RecordRows selectRecordRows(const std::vector<DataRow>& rows, bool firstRowContainsColumnHeaders,
                            RecordRows current) {
    if (rows.size() <= 1) {
        if (!firstRowContainsColumnHeaders) current.headerRowIndex = kNoRow;
        return current;
    }
    const std::size_t searched = std::min(rows.size(), kHeaderSearchRows);
    for (std::size_t index = 0; index < searched; ++index) {
        if (rows[index].empty()) continue;
        if (firstRowContainsColumnHeaders) {
            current.headerRowIndex = static_cast<std::int64_t>(index);
            if (index + 1 < rows.size())
                current.exampleDataRowIndex = static_cast<std::int64_t>(index + 1);
        } else {
            current.headerRowIndex = kNoRow;
            current.exampleDataRowIndex = static_cast<std::int64_t>(index);
        }
        return current;
    }
    if (!firstRowContainsColumnHeaders) current.headerRowIndex = kNoRow;
    return current;
}

std::int64_t totalRecords(std::size_t rowCount, std::int64_t headerRowIndex) {
    const auto count = static_cast<std::int64_t>(rowCount);
    if (headerRowIndex == kNoRow) return count;
    return std::max<std::int64_t>(0, count - headerRowIndex - 1);
}

std::int64_t currentRecordIndex(std::int64_t exampleDataRowIndex, std::int64_t headerRowIndex) {
    if (exampleDataRowIndex == kNoRow) return 0;
    if (headerRowIndex == kNoRow) return exampleDataRowIndex + 1;
    return exampleDataRowIndex - headerRowIndex;
}

bool looksSelfLabelled(const SuggestedContactProperty& target,
                       const std::vector<std::string_view>& samples) {
    using namespace contacts;
    const auto& key = target.propertyKey;
    if (!key || (*key != ContactKey::phoneNumbers && *key != ContactKey::emailAddresses &&
                 *key != ContactKey::urlAddresses && *key != ContactKey::contactRelations))
        return false;
    const auto labels = target.systemLabels();
    const auto isLabel = [&](std::string_view text) {
        if (std::find(labels.begin(), labels.end(), text) != labels.end()) return true;
        const auto constant = contacts::labelForLocalizedString(text);
        return constant && std::find(labels.begin(), labels.end(), *constant) != labels.end();
    };
    bool sawText = false;
    for (std::string_view sample : samples) {
        std::string text = trimmedWhiteSpace(sample);
        if (text.empty()) continue;
        sawText = true;
        // Protect "://" and split as the assembly does: at ", " and at line breaks.
        for (std::size_t at = text.find("://"); at != std::string::npos;
             at = text.find("://", at + 1))
            text.replace(at, 3, "\x01\x02\x03");
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.size();
            std::size_t next = text.size() + 1;
            for (std::string_view separator :
                 {std::string_view(", "), std::string_view("\n"), std::string_view("\r")}) {
                const auto found = text.find(separator, start);
                if (found != std::string::npos && found < end) {
                    end = found;
                    next = found + separator.size();
                }
            }
            const std::string part =
                trimmedWhiteSpace(std::string_view(text).substr(start, end - start));
            if (!part.empty()) {
                const auto colon = part.find(':');
                if (colon == std::string::npos || colon == 0) return false;
                if (!isLabel(trimmedWhiteSpace(std::string_view(part).substr(0, colon))))
                    return false;
                if (trimmedWhiteSpace(std::string_view(part).substr(colon + 1)).empty())
                    return false;
            }
            start = next;
        }
    }
    return sawText;
}

void proposeExtractedLabels(std::vector<MappedContactProperty>& list,
                            const std::vector<DataRow>& rows, std::int64_t headerRowIndex,
                            std::size_t sampleCount) {
    const std::size_t first = headerRowIndex >= 0 && headerRowIndex != kNoRow
                                  ? static_cast<std::size_t>(headerRowIndex) + 1
                                  : 0;
    for (auto& entry : list) {
        auto& target = entry.contactProperty;
        if (entry.mappedManuallyByUser || entry.isCustomMapping || target.customLabel ||
            entry.labelColumnIndex || !target.isValid())
            continue;
        std::vector<std::string_view> samples;
        for (std::size_t index = first; index < rows.size() && samples.size() < sampleCount;
             ++index) {
            if (rows[index].empty()) continue;
            const auto cell = rows[index].cellForColumn(entry.columnIndex);
            samples.push_back(cell ? cell->text() : std::string_view());
        }
        if (looksSelfLabelled(target, samples)) {
            target.systemLabel.reset();
            target.customLabel = std::string(kExtractLabelMarker);
        }
    }
}

}  // namespace pelkora
