#pragma once

// Contact assembly: one row of the input and the column assignments become one new, unsaved
// contact. The tabular import, the vCard exports and the mapping page's preview all build
// their contacts here, so the same row always gives the same contact.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/Contact.h"
#include "input/DataRow.h"
#include "mapping/DateFormat.h"
#include "mapping/MappedContactProperty.h"
#include "text/DateFormatting.h"

namespace pelkora {

class SettingsStore;

// The words that mark a contact-type cell as a company, before the user changes them.
inline const std::vector<std::string> kDefaultCompanyTerms = {"company", "firma", "organization"};

// The settings contact assembly reads, gathered once so that a caller (or a test) can give
// them without a settings file.
struct AssemblyOptions {
    bool sortNoteItemsByFieldTitle = false;  // FieldNameInNotesSortByFieldTitle
    bool prependFieldTitle = false;          // FieldNameInNotesPrependFieldTitle
    bool fieldTitleAllCaps = false;          // FieldNameInNotesAllCaps
    bool linefeedAfterFieldTitle = false;    // FieldNameInNotesAddLinefeedAfterFieldTitle
    bool extraLinefeed = false;              // FieldNameInNotesAddExtraLinefeed
    // AppendUnmappedFieldsToNotes: carried for the callers that turn unmapped columns into
    // note columns; the assembly itself only sees the columns it is given.
    bool appendUnmappedFieldsToNotes = false;
    // Lower-case words; a contact-type cell containing one makes the contact a company.
    std::vector<std::string> companyTerms = kDefaultCompanyTerms;
    // Lower-case ISO code used for numeric postal codes of addresses without a country code.
    std::string defaultCountryCode = "us";
    // The order of day and month of each date column's numeric dates ("3/4/1975"), by column
    // index, as the column's own values tell it (dayMonthOrdersOfDateColumns). A column the
    // values do not decide follows dateLanguage, and without one the user's locale.
    std::map<std::int64_t, dates::DayMonthOrder> dayMonthOrders;
    // The language of the file's column titles ("fr"), detected or chosen by the user; it
    // also adds its month names to the date detector. Empty: the user's locale decides.
    std::string dateLanguage;
};

// The company terms a "CompanyTerms" text stands for: split at ",", trimmed, lower-cased,
// empty pieces dropped.
std::vector<std::string> companyTermsFromText(std::string_view text);

// The options as the settings give them now; the country comes from the user's country.
AssemblyOptions assemblyOptions(const SettingsStore& settings);

// The group names in a cell text: split at " ::: ", ",", ";", "|", line breaks and U+001D,
// each part trimmed, empty parts and the exporting program's system groups ("* myContacts")
// dropped; repeated names are kept.
std::vector<std::string> groupNamesInText(std::string_view text);

// A value of the row that did not go in as it stood: not a date, a picture that could not
// be decoded, a value moved into the note because another column had the target first.
// The import lists them with the row's number; nothing here is ever dropped without one.
struct AssemblyProblem {
    std::string column;   // the column's title
    std::string value;    // the cell's text
    std::string problem;  // one of the kProblem… texts
    bool operator==(const AssemblyProblem&) const = default;
};

inline constexpr std::string_view kProblemNotADate = "not a date";
inline constexpr std::string_view kProblemPictureNotDecoded = "picture could not be decoded";
inline constexpr std::string_view kProblemPictureTooLarge = "picture too large, left out";
inline constexpr std::string_view kProblemSharedTarget = "target taken by another column";

// A new contact made from a row, with the groups the row names for it. The groups travel
// beside the contact because a new contact can join a group only once it is saved: the
// import files it after saving, the vCard exports write the names into its card and the
// preview lists them.
struct AssembledContact {
    contacts::Contact contact;
    // In the order of first appearance, each name once (letter for letter).
    std::vector<std::string> groupNames;
    // What did not go in as it stood, in column order; a full name, which is decided once
    // every column has been seen, comes last.
    std::vector<AssemblyProblem> problems;
    bool operator==(const AssembledContact&) const = default;
};

// Builds contacts from rows for one set of column assignments, date formats and options.
// What does not depend on the row (each column's target, label and sub-key) is worked out
// once, and the date formatter and the locale of the date detector are kept between rows,
// so an import or an export makes one assembler and calls assemble for every row. The
// detector reads dates in the titles' language (AssemblyOptions::dateLanguage), else in the
// user's locale as it was when the assembler was made. The
// result is what assembleContact gives. Not safe to share between threads.
class ContactAssembler {
  public:
    ContactAssembler(std::vector<MappedContactProperty> mappedProperties,
                     std::vector<DateFormat> dateFormats, AssemblyOptions options);
    ~ContactAssembler();
    ContactAssembler(ContactAssembler&&) noexcept;
    ContactAssembler& operator=(ContactAssembler&&) noexcept;
    ContactAssembler(const ContactAssembler&) = delete;
    ContactAssembler& operator=(const ContactAssembler&) = delete;

    // Builds a new contact from the row's cells, each going to the target of the first
    // mapped property with its column, and gathers the group names of its group columns.
    // A target that holds one value (SuggestedContactProperty::isSingleValued) keeps the
    // first non-empty value of the row; a different value of a later column goes into the
    // note under its title, reported as kProblemSharedTarget. Several note columns make one
    // note: the first is the note, the others follow under their titles. A full-name column
    // fills the name parts the row leaves empty (contacts::nameComponentsFromString).
    // Never fails: unusable values are skipped (some are logged).
    AssembledContact assemble(const DataRow& row);

    // Where one column's cells go (target, label, sub-key), worked out from its mapped
    // property; defined with the assembly steps.
    struct ColumnPlan;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Builds a new contact from the row's cells, each going to the target of the first mapped
// property with its column, and gathers the group names of its group columns. Never fails:
// unusable values are skipped (some are logged). For many rows with the same assignments,
// ContactAssembler does the same work faster.
AssembledContact assembleContact(const DataRow& row,
                                 const std::vector<MappedContactProperty>& mappedProperties,
                                 const std::vector<DateFormat>& dateFormats,
                                 const AssemblyOptions& options);

}  // namespace pelkora
