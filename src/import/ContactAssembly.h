#pragma once

// Contact assembly: one row of the input and the column assignments become one new, unsaved
// contact. The tabular import, the vCard exports and the mapping page's preview all build
// their contacts here, so the same row always gives the same contact.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "addressbook/Contact.h"
#include "input/DataRow.h"
#include "mapping/DateFormat.h"
#include "mapping/MappedContactProperty.h"

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
};

// The company terms a "CompanyTerms" text stands for: split at ",", trimmed, lower-cased,
// empty pieces dropped.
std::vector<std::string> companyTermsFromText(std::string_view text);

// The options as the settings give them now; the country comes from the user's country.
AssemblyOptions assemblyOptions(const SettingsStore& settings);

// The group names in a cell text: split at ",", ";", "|", line breaks and U+001D, each part
// trimmed, empty parts dropped; repeated names are kept.
std::vector<std::string> groupNamesInText(std::string_view text);

// The group names gathered for new contacts, keyed by contact identifier. Shared by the whole
// process; every member is safe to call from any thread.
class ContactGroupNames {
  public:
    // Adds the names the contact does not list yet, keeping their order.
    void add(const std::string& contactIdentifier, const std::vector<std::string>& names);
    // The names gathered for the contact, in the order they were first added.
    std::vector<std::string> names(const std::string& contactIdentifier) const;
    // The names gathered for the contact, removed from the table: for the import and the
    // exports, which read each new contact's names once, so that the table does not grow
    // with every contact they write.
    std::vector<std::string> take(const std::string& contactIdentifier);

  private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::vector<std::string>> names_;
};

// The process-wide group table; created empty on first use. Identifiers of new contacts do
// not repeat; an entry stays until its names are taken.
ContactGroupNames& contactGroupNames();

// Builds contacts from rows for one set of column assignments, date formats and options.
// What does not depend on the row (each column's target, label and sub-key) is worked out
// once, and the date formatter and the locale of the date detector are kept between rows,
// so an import or an export makes one assembler and calls assemble for every row. The
// detector reads dates in the user's locale as it was when the assembler was made. The
// result is the contact assembleContact gives. Not safe to share between threads.
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
    // mapped property with its column. Never fails: unusable values are skipped (some are
    // logged).
    contacts::Contact assemble(const DataRow& row);

    // Where one column's cells go (target, label, sub-key), worked out from its mapped
    // property; defined with the assembly steps.
    struct ColumnPlan;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Builds a new contact from the row's cells, each going to the target of the first mapped
// property with its column. Never fails: unusable values are skipped (some are logged).
// For many rows with the same assignments, ContactAssembler does the same work faster.
contacts::Contact assembleContact(const DataRow& row,
                                  const std::vector<MappedContactProperty>& mappedProperties,
                                  const std::vector<DateFormat>& dateFormats,
                                  const AssemblyOptions& options);

}  // namespace pelkora
