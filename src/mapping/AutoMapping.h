#pragma once

// Automatic mapping: every column of a file gets a target from its title, by matching the
// title against the column-title vocabulary of the header row's language; the user's own
// titles (the custom string map) override the vocabulary, and the user's corrections are
// learnt into that map.
//
// Also the choice of the header row and the previewed row, and the record counts the
// mapping page shows.

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "input/DataRow.h"
#include "mapping/MappedContactProperty.h"
#include "mapping/StringMap.h"
#include "mapping/SuggestedContactProperty.h"

namespace pelkora {

class SettingsStore;

// Titles shorter than this many characters are matched exactly, never by similarity.
inline constexpr std::size_t kFuzzyMatchingMinimumLength = 4;
// Candidates whose similarity score reaches this are not similar enough.
inline constexpr int kFuzzyMatchingScoreLimit = 3;
// Joined header texts shorter than this many characters are too short to tell a language.
inline constexpr std::size_t kLanguageDetectionMinimumLength = 11;
// The language used when the header row's language cannot be told.
inline constexpr std::string_view kFallbackLanguage = "en";

// Matches column titles against a vocabulary (the shipped one; the user's titles are
// applied by exact title in autoMap instead).
//
// Only entries of the title's language with framework "Contacts" are candidates.
//
// Exact mode (fuzzy off, or titles shorter than kFuzzyMatchingMinimumLength characters):
// the candidates are the entries whose title is contained in the column title, ignoring
// case, vendor entries first, otherwise in vocabulary order. An equal title decides;
// before it is met, the first Property entry gives key and sub-key, and Label entries
// ("Home", "Mobile") give a missing key and a missing label.
//
// Fuzzy mode: every entry is scored against the title (see matchScore); those scoring
// below kFuzzyMatchingScoreLimit are ranked by, in this fixed order,
//   1. score, lowest first;
//   2. the user's entries before the others;
//   3. vendor entries before the others;
//   4. Property entries before Label entries;
//   5. social-profile entries before other keys;
//   6. vocabulary order.
// The result takes the first key, the first sub-key and the first system label of the
// ranking. The vocabulary is written for exactly this ranking (resources/README.md, "Order
// of the rows"): with Label entries first "Home Street" would become a phone number.
//
// Building a matcher copies the vocabulary; each language's titles are lower-cased and
// split into words once, on its first use. Thread-safe.
class TitleMatcher {
  public:
    explicit TitleMatcher(StringMap vocabulary);
    ~TitleMatcher();
    TitleMatcher(const TitleMatcher&) = delete;
    TitleMatcher& operator=(const TitleMatcher&) = delete;

    // Returns a new target for the column title in the language (an ISO 639 code, any
    // case). With detectCustomLabels, a target that can take a label but got none from the
    // vocabulary takes the title's words around the target's name ("Phone (car)" → "Car");
    // without it, it takes the preferred label (home page for URLs, else other).
    // excludeVendor leaves out the vendor entries.
    SuggestedContactProperty match(std::string_view title, std::string_view language,
                                   bool detectCustomLabels, bool fuzzy = true,
                                   bool excludeVendor = false) const;

  private:
    struct Candidate;
    struct LanguageIndex;
    struct Title;
    const LanguageIndex& languageIndex(std::string_view language) const;
    void matchExactly(const Title& title, const LanguageIndex& index, bool excludeVendor,
                      SuggestedContactProperty& result) const;
    void matchFuzzily(const Title& title, const LanguageIndex& index, bool excludeVendor,
                      SuggestedContactProperty& result) const;

    StringMap vocabulary_;
    // Positions in vocabulary_ of the matchable entries, by language code as written.
    std::unordered_map<std::string, std::vector<std::size_t>> positionsByLanguage_;
    mutable std::mutex mutex_;
    // Built on first use; a language's index never changes once built.
    mutable std::unordered_map<std::string, std::unique_ptr<const LanguageIndex>> indexByLanguage_;
};

// Returns a new target for the column title, matched against the vendor vocabulary (see
// TitleMatcher). Builds the candidates of one language for this one call; to match many
// titles, keep a TitleMatcher.
SuggestedContactProperty matchTitle(std::string_view title, const StringMap& vendorMap,
                                    std::string_view language, bool detectCustomLabels,
                                    bool fuzzy = true, bool excludeVendor = false);

// The similarity of a vocabulary title to a column title, lower is closer: for every pair
// of a word of the column title and a word of the vocabulary title (words are separated by
// single blanks), -1 when the whole column title equals the vocabulary word, 0 when one of
// the two contains the other, else the edit distance of the two words. Case is ignored.
int matchScore(std::string_view title, std::string_view candidateTitle);

// The Levenshtein distance between two texts, counted in code points, each insertion,
// deletion and substitution costing 1.
std::size_t editDistance(std::u32string_view left, std::u32string_view right);

// The settings auto-mapping reads.
struct AutoMappingSettings {
    // Derive a custom label from the title when the vocabulary gives none.
    bool detectCustomLabels = true;
    // Leave out the user's custom titles.
    bool ignoreCustomMappings = false;
    // Columns without a valid target are appended to the note.
    bool appendUnmappedFieldsToNotes = true;

    bool operator==(const AutoMappingSettings&) const = default;
};

// Reads "DetectCustomLabels", "IgnoreCustomMappings" and "AppendUnmappedFieldsToNotes".
AutoMappingSettings autoMappingSettings(const SettingsStore& settings);

// Custom label texts in use, per property key, each once, in list order.
using SessionCustomLabels = std::map<std::string, std::vector<std::string>>;

// What one auto-mapping run produced.
struct AutoMappingResult {
    // One entry per cell of the title row, in cell order.
    std::vector<MappedContactProperty> mappedContactProperties;
    // The language the titles were matched in.
    std::string detectedLanguage;
    // False when the titles said nothing and detectedLanguage is the fallback.
    bool languageRecognised = false;
    SessionCustomLabels sessionCustomLabels;
};

// Maps every column of the file.
//
//   1. The language: the texts of the title row joined with ", "; shorter than
//      kLanguageDetectionMinimumLength characters, or not recognised, gives the fallback.
//   2. One entry per cell of the title row: its column, the formatted column (style
//      kColumnIndexStyleOneBased for text files, kColumnIndexStyleLetters for workbooks),
//      the cell text as title ("Undefined" for a cell without text), and the title's
//      target; without a header row the target is cleared (the row is data, not titles).
//   3. Log the time taken.
//   4. With appendUnmappedFieldsToNotes, every entry without a valid target goes to the
//      additional note.
//   5. Refresh the titles from the title row (empty without a header row).
//   6. Unless ignoreCustomMappings, an entry whose title equals a title of the custom map
//      exactly takes that target and is marked custom.
//   7. Full-name columns beside given-name or family-name columns (adjustFullNameColumns).
//   8. With a header row, pair label columns with the value columns they label
//      ("Phone 1 - Label" labels "Phone 1 - Value" row by row, see pairLabelColumns).
//   9. Collect the custom labels in use.
//
// titleRow is the header row, or the first row when the file has none.
AutoMappingResult autoMap(const DataRow& titleRow, bool hasHeaderRow, int columnIndexStyle,
                          const TitleMatcher& matcher, const StringMap& customStringMap,
                          const AutoMappingSettings& settings,
                          std::string_view fallbackLanguage = kFallbackLanguage);

// Matches the titles again in the language (an ISO 639 code), as steps 2, 4, 7 and 8 of
// autoMap do, for another language than the detected one. Entries the user mapped by hand
// and entries from the user's own titles or a saved mapping keep their targets. Without a
// header row the row holds no titles and nothing changes.
void rematchTitles(std::vector<MappedContactProperty>& list, bool hasHeaderRow,
                   const TitleMatcher& matcher, std::string_view language,
                   const AutoMappingSettings& settings);

// The language of the header row's texts (step 1 of autoMap), logged.
std::string headerLanguage(const DataRow& titleRow,
                           std::string_view fallbackLanguage = kFallbackLanguage);

// A column titled as a full name ("Name", "Full Name", "Nom complet") means something else
// beside the columns of the name parts. Beside a family-name column but no given-name column
// it holds the given name ("Name, Surname"), beside a given-name column but no family-name
// column the family name ("First Name, Name"). Beside both, and beside neither, it stays a
// full name: contact assembly divides it into the name parts its row leaves empty. Entries
// from the user's titles or a saved mapping are left as they are.
void adjustFullNameColumns(std::vector<MappedContactProperty>& list);

// Gives every entry whose title equals a title of the custom map exactly (case and all) a
// copy of that entry's target and marks it custom; the first equal title wins.
void applyCustomStringMap(std::vector<MappedContactProperty>& list,
                          const StringMap& customStringMap);

// Gives the first entry of each text cell's column the cell text as title, or an empty
// title when the row holds data rather than titles.
void refreshSourceFieldNames(std::vector<MappedContactProperty>& list, const DataRow& titleRow,
                             bool hasHeaderRow);

// Every label of a label-taking target that is not one of its system labels, per key, each
// once. The extract marker is not a label text and is left out.
SessionCustomLabels sessionCustomLabels(const std::vector<MappedContactProperty>& list);

// Returns the custom map with the user's assignments learnt: for every entry the user
// mapped by hand, in list order, an older entry for the same title is removed and the
// target, with the title and flagged as the user's, is appended.
StringMap learnUserAssignments(const std::vector<MappedContactProperty>& list,
                               StringMap customStringMap);

// The header row and the previewed row, as indices into the rows; kNoRow when none.
inline constexpr std::int64_t kNoRow = std::numeric_limits<std::int64_t>::max();
struct RecordRows {
    std::int64_t headerRowIndex = kNoRow;
    std::int64_t exampleDataRowIndex = kNoRow;

    bool operator==(const RecordRows&) const = default;
};

// Chooses the header and previewed rows after the user said whether the first row holds
// titles. With titles: the first non-empty row among the first 50 is the header and the
// row after it, if any, is previewed. Without: no header, and the first non-empty row
// among the first 50 is previewed. With a single row, or when those rows are all empty,
// the current choice stays.
RecordRows selectRecordRows(const std::vector<DataRow>& rows, bool firstRowContainsColumnHeaders,
                            RecordRows current);

// The number of records: the rows after the header row, or all rows without one.
std::int64_t totalRecords(std::size_t rowCount, std::int64_t headerRowIndex);

// The one-based number of the previewed record; 0 when no row is previewed.
std::int64_t currentRecordIndex(std::int64_t exampleDataRowIndex, std::int64_t headerRowIndex);

// Whether every non-empty text is a list of self-labelled values for the target, such as
// "work: +49 30 1, home: +49 30 2": parts separated by ", " or line breaks, each a label
// the target offers (a system label or its display text), a colon and a value. A web
// address's "://" is not a label separator. Only phone numbers, e-mail and web addresses
// and related names take such lists; no sample text at all answers false.
bool looksSelfLabelled(const SuggestedContactProperty& target,
                       const std::vector<std::string_view>& samples);

// Sets the extract marker ("Extract from field") as label of every automatically mapped
// column whose first records (up to sampleCount after the header row) all hold
// self-labelled values, so a column such as Phone = "work: …, home: …" gives one labelled
// number per part. Columns the user or a saved mapping decided, columns whose title gave a
// custom label and columns labelled by a label column keep their label.
void proposeExtractedLabels(std::vector<MappedContactProperty>& list,
                            const std::vector<DataRow>& rows, std::int64_t headerRowIndex,
                            std::size_t sampleCount = 20);

}  // namespace pelkora
