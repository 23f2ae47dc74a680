#include "import/ContactAssembly.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>

#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/UserCountry.h"
#include "mapping/PostalCodeFormatter.h"
#include "mapping/ValueLabels.h"
#include "platform/ImageData.h"
#include "platform/SettingsStore.h"
#include "support/Logger.h"
#include "support/Settings.h"
#include "text/DateFormatting.h"
#include "text/NumberFormatting.h"
#include "text/UnicodeText.h"

namespace pelkora {

using namespace contacts;

namespace {

// Stands in for "://" while a self-labelled text is split at its colons.
constexpr std::string_view kColonSlashesPlaceholder = "<<colonbackslashes>>";

// The line breaks cell texts use: the newline characters and the group separator some
// address-book exports put between values of one cell.
constexpr std::string_view kLineSeparators[] = {
    "\r\n", "\n", "\r", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9", "\x1D"};

std::string trimmed(std::string_view text) {
    return trimmedWhiteSpace(text);
}

// The text split at every line separator and at every extra separator; empty parts kept.
std::vector<std::string> splitAtSeparators(std::string_view text,
                                           std::span<const std::string_view> extra = {}) {
    std::vector<std::string> parts;
    std::string current;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t matched = 0;
        for (std::string_view separator : kLineSeparators) {
            if (text.substr(at).starts_with(separator)) {
                matched = separator.size();
                break;
            }
        }
        for (std::string_view separator : extra) {
            if (matched == 0 && text.substr(at).starts_with(separator)) matched = separator.size();
        }
        if (matched > 0) {
            parts.push_back(std::move(current));
            current.clear();
            at += matched;
        } else {
            current += text[at++];
        }
    }
    parts.push_back(std::move(current));
    return parts;
}

// Upper case for the field titles of the note. The platform layer offers no case mapping
// for a locale yet, so this covers ASCII and the Latin-1 letters (ä → Ä, é → É), which is
// what column titles of contact exports use; other letters stay as they are.
std::string uppercasedFieldTitle(std::string_view text) {
    std::string result(text);
    for (std::size_t i = 0; i < result.size(); ++i) {
        const auto byte = static_cast<unsigned char>(result[i]);
        if (byte >= 'a' && byte <= 'z') {
            result[i] = static_cast<char>(byte - 'a' + 'A');
        } else if (byte == 0xC3 && i + 1 < result.size()) {
            const auto next = static_cast<unsigned char>(result[i + 1]);
            if (next >= 0xA0 && next <= 0xBE && next != 0xB7)
                result[i + 1] = static_cast<char>(next - 0x20);
            ++i;
        }
    }
    return result;
}

// Removes %XX escapes; a malformed escape is kept as it is.
std::string percentDecoded(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size()) {
            const auto parsed =
                std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
            if (parsed.ec == std::errc() && parsed.ptr == text.data() + i + 3) {
                result += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

// A number as text: with its fraction when it has one, else its digits only. The platform's
// number formatter has no decimal style yet, so a fraction is written in the shortest form
// that reads back as the same number, with a point.
std::string numberText(double number) {
    // A fraction is written for reading, in the user's notation; a whole number (a phone
    // number, a postal code, an identifier) as bare digits.
    if (number > std::trunc(number)) {
        if (auto text = decimalStyleString(number); text && !text->empty()) return *text;
    }
    if (auto text = NumberFormatter().string(number); text && !text->empty()) return *text;
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(std::trunc(number)));
    return std::string(buffer, result.ptr);
}

std::optional<double> numberInText(std::string_view text) {
    double number = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return number;
}

// How the assembler reads date texts: worked out once and kept across rows.
struct DateReading {
    // The detector's locale: the file's language when known, else the user's locale.
    std::string detectorLocale;
    // The order of day and month of each date column, and of any column not listed.
    std::map<std::int64_t, dates::DayMonthOrder> columnOrders;
    dates::DayMonthOrder otherColumnsOrder = dates::DayMonthOrder::undecided;
    dates::DateFormatter formatter;

    explicit DateReading(const AssemblyOptions& options)
        : detectorLocale(options.dateLanguage.empty() ? dates::currentLocaleIdentifier()
                                                      : options.dateLanguage),
          // A column its values do not decide is read as the file's language writes dates,
          // and without one as the user's locale does.
          otherColumnsOrder(dates::dayMonthOrderOfLocale(detectorLocale)) {
        for (const auto& [column, order] : options.dayMonthOrders) {
            columnOrders.emplace(
                column, order == dates::DayMonthOrder::undecided ? otherColumnsOrder : order);
        }
    }

    dates::DayMonthOrder orderOfColumn(std::int64_t column) const {
        const auto found = columnOrders.find(column);
        return found == columnOrders.end() ? otherColumnsOrder : found->second;
    }
};

// The contact photos made from the pictures of an import, by the pictures' bytes: a picture
// that many rows show (a company logo, one picture anchored over many cells) is decoded,
// scaled and encoded once.
class PhotoCache {
  public:
    // The photo of the picture, a square PNG of at most contactPhotoSide pixels a side; none
    // when the picture cannot be decoded.
    const std::optional<std::vector<std::uint8_t>>& photoOf(std::span<const std::uint8_t> bytes) {
        std::string key(bytes.begin(), bytes.end());
        auto found = photos_.find(key);
        if (found != photos_.end()) return found->second;
        // Every picture kept in the cache is kept twice (as its key and in the contact):
        // start over rather than hold more than kMaximumKeptBytes of them.
        if (keptBytes_ + key.size() > kMaximumKeptBytes) {
            photos_.clear();
            keptBytes_ = 0;
        }
        keptBytes_ += key.size();
        auto photo = squaredPngRepresentation(bytes, contactPhotoSide);
        return photos_.emplace(std::move(key), std::move(photo)).first->second;
    }

  private:
    // Pictures of 64 MiB in all: hundreds of contact photos, or two of the largest pictures.
    static constexpr std::size_t kMaximumKeptBytes = std::size_t{64} << 20;
    std::unordered_map<std::string, std::optional<std::vector<std::uint8_t>>> photos_;
    std::size_t keptBytes_ = 0;
};

// The working state of one assembly. The date reading belongs to the assembler and lives
// across rows.
struct Assembly {
    Assembly(const std::vector<DateFormat>& dateFormats, const AssemblyOptions& options,
             DateReading& dateReading, PhotoCache& photos)
        : dateFormats(dateFormats), options(options), dateReading(dateReading), photos(photos) {}

    const std::vector<DateFormat>& dateFormats;
    const AssemblyOptions& options;
    DateReading& dateReading;
    PhotoCache& photos;
    Contact contact = Contact::makeNew();
    std::vector<std::string> groupNames;
    std::vector<std::pair<std::string, std::string>> noteItems;
    std::vector<AssemblyProblem> problems;
    bool numericPostalCode = false;
    // The first full name of the row and its column's title; it fills the name parts once
    // every column has been seen.
    std::optional<std::pair<std::string, std::string>> fullName;
};

// A value that did not go in as it stood goes into the note under its column's title (so
// nothing is lost) and is listed as a problem.
void keepInNote(Assembly& assembly, const std::string& columnTitle, std::string text,
                std::string_view problem) {
    assembly.problems.push_back({columnTitle, text, std::string(problem)});
    assembly.noteItems.emplace_back(columnTitle, std::move(text));
}

// Step 1: a self-labelled cell ("work: 123, home: 456") becomes one new cell per value with
// a copy of its mapped property carrying that value's label. The "://" of web addresses is
// protected so that it is not taken for a label separator.
void expandSelfLabelledValues(DataRow& row, std::vector<MappedContactProperty>& properties) {
    std::int64_t nextColumn = 1;
    for (const auto& property : properties)
        nextColumn = std::max(nextColumn, property.columnIndex + 1);

    const std::size_t originalCount = properties.size();
    for (std::size_t index = 0; index < originalCount; ++index) {
        const MappedContactProperty property = properties[index];
        const auto& target = property.contactProperty;
        if (!target.isValid() || target.label() != kExtractLabelMarker) continue;
        const auto cell = row.cellForColumn(property.columnIndex);
        if (!cell || cell->kind() != CellKind::text) continue;

        std::string text = replacedAll(trimmed(cell->text()), "://", kColonSlashesPlaceholder);
        text = replacedAll(std::move(text), ", ", "\n");
        for (const std::string& part : splitAtSeparators(text)) {
            std::string label;
            std::string value;
            if (const auto colon = part.find(':'); colon == std::string::npos) {
                label = target.preferredLabel().value_or("");
                value = trimmed(part);
            } else {
                label = trimmed(std::string_view(part).substr(0, colon));
                value = trimmed(std::string_view(part).substr(colon + 1));
            }
            value = replacedAll(std::move(value), kColonSlashesPlaceholder, "://");

            MappedContactProperty copy = property;
            copy.columnIndex = nextColumn;
            copy.contactProperty.setLabel(label);
            row.add(DataCell(nextColumn, value));
            properties.push_back(std::move(copy));
            ++nextColumn;
        }
    }
}

// The cell's value as text, before the target sees it.
std::string cellText(const DataCellView& cell, bool postalCodeTarget, Assembly& assembly) {
    switch (cell.kind()) {
        case CellKind::text: {
            std::string text = trimmed(cell.text());
            // A text file that went through a spreadsheet carries its postal codes as the
            // digits of a number, leading zeros lost ("1067" for Dresden's 01067); such a
            // code is treated like a number cell, so the country's length restores them.
            if (postalCodeTarget && !text.empty() &&
                std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
                assembly.numericPostalCode = true;
            return text;
        }
        case CellKind::number:
            if (postalCodeTarget) assembly.numericPostalCode = true;
            return numberText(std::get<double>(cell.value));
        case CellKind::date:
            // The platform writes dates in long style only; a date cell reaches a text property
            // rarely (birthday and dates take the date itself), so that notation serves.
            return dates::longDateText(std::get<CellDate>(cell.value));
        default:
            return "?";
    }
}

std::optional<DateComponents> cellDate(const DataCellView& cell, const std::string& text,
                                       Assembly& assembly) {
    DateReading& reading = assembly.dateReading;
    if (cell.kind() == CellKind::date) {
        return parseDate(DateCellValue(std::get<CellDate>(cell.value)), assembly.dateFormats,
                         reading.formatter, reading.detectorLocale);
    }
    return parseDate(DateCellValue(std::string_view(text)), assembly.dateFormats, reading.formatter,
                     reading.detectorLocale, reading.orderOfColumn(cell.columnIndex));
}

// The contact's text field a key names; none for the other keys.
std::string Contact::*textFieldForKey(std::string_view key) {
    const std::pair<std::string_view, std::string Contact::*> fields[] = {
        {ContactKey::namePrefix, &Contact::namePrefix},
        {ContactKey::givenName, &Contact::givenName},
        {ContactKey::middleName, &Contact::middleName},
        {ContactKey::familyName, &Contact::familyName},
        {ContactKey::previousFamilyName, &Contact::previousFamilyName},
        {ContactKey::nameSuffix, &Contact::nameSuffix},
        {ContactKey::nickname, &Contact::nickname},
        {ContactKey::phoneticGivenName, &Contact::phoneticGivenName},
        {ContactKey::phoneticMiddleName, &Contact::phoneticMiddleName},
        {ContactKey::phoneticFamilyName, &Contact::phoneticFamilyName},
        {ContactKey::organizationName, &Contact::organizationName},
        {ContactKey::phoneticOrganizationName, &Contact::phoneticOrganizationName},
        {ContactKey::departmentName, &Contact::departmentName},
        {ContactKey::jobTitle, &Contact::jobTitle},
        {ContactKey::note, &Contact::note},
    };
    for (const auto& [name, field] : fields) {
        if (name == key) return field;
    }
    return nullptr;
}

std::string* postalComponent(PostalAddress& address, std::string_view subKey) {
    if (subKey == PostalAddressKey::city) return &address.city;
    if (subKey == PostalAddressKey::state) return &address.state;
    if (subKey == PostalAddressKey::country) return &address.country;
    if (subKey == PostalAddressKey::postalCode) return &address.postalCode;
    if (subKey == PostalAddressKey::isoCountryCode) return &address.isoCountryCode;
    if (subKey == PostalAddressKey::subAdministrativeArea) return &address.subAdministrativeArea;
    if (subKey == PostalAddressKey::subLocality) return &address.subLocality;
    return nullptr;
}

// One postal component goes to the first address with the label. A second value for a
// component already filled starts a new address just before it, so two city columns for
// one label give two addresses.
void applyPostalComponent(Contact& contact, const std::string& label, std::string_view subKey,
                          const std::string& text) {
    auto& addresses = contact.postalAddresses;
    auto first = std::find_if(addresses.begin(), addresses.end(),
                              [&](const auto& address) { return address.label == label; });
    if (first == addresses.end()) {
        addresses.push_back(labeled(label, PostalAddress{}));
        first = addresses.end() - 1;
    }
    PostalAddress& address = first->value;
    if (subKey == PostalAddressKey::street || subKey == CustomPropertyKeys::Addition) {
        address.street = address.street.empty() ? text : address.street + "\n" + text;
        return;
    }
    std::string* component = postalComponent(address, subKey);
    if (component == nullptr) {
        writeLog(LogType::error, "Postal Adress: skipping illegal subkey '%{public}@'", subKey);
        return;
    }
    if (component->empty()) {
        *component = text;
        return;
    }
    PostalAddress extra;
    *postalComponent(extra, subKey) = text;
    addresses.insert(first, labeled(label, std::move(extra)));
}

void applySocialProfile(Contact& contact, const std::string& service, const std::string& text) {
    SocialProfile profile;
    profile.service = service;
    if (text.starts_with("http")) {
        profile.urlString = text;
        const auto slash = text.rfind('/');
        profile.username =
            percentDecoded(slash == std::string::npos ? text : text.substr(slash + 1));
    } else {
        profile.username = text;
    }
    contact.socialProfiles.push_back(labeled(std::string(Label::other), std::move(profile)));
}

// Names a contact is listed under already are not listed again.
void applyGroups(std::vector<std::string>& listed, const std::string& text) {
    for (std::string& name : groupNamesInText(text)) {
        if (std::find(listed.begin(), listed.end(), name) == listed.end())
            listed.push_back(std::move(name));
    }
}

bool containsCompanyTerm(const std::string& text, const std::vector<std::string>& terms) {
    const std::string lower = lowercased(text);
    return std::any_of(terms.begin(), terms.end(), [&](const std::string& term) {
        return !term.empty() && lower.find(term) != std::string::npos;
    });
}

}  // namespace

// Where one column's cells go, worked out once from its mapped property.
struct ContactAssembler::ColumnPlan {
    enum class Target {
        none,  // sets nothing (the UID column, unknown keys, incomplete targets)
        textField,
        note,
        fullName,
        birthday,
        nonGregorianBirthday,
        additionalNote,
        image,
        dates,
        phoneNumber,
        emailAddress,
        urlAddress,
        relation,
        postalAddress,
        socialProfile,
        instantMessageAddress,
        group,
        contactType,
    };

    std::int64_t columnIndex = -1;
    // Whether the column's cells are applied: a key, a valid target and a label that is not
    // to be read from the value.
    bool applies = false;
    // Whether the column is the self-labelled kind whose cells are split up first.
    bool selfLabelled = false;
    // A postal-code sub-key: digits-only texts and numbers lost their leading zeros.
    bool postalCodeTarget = false;
    // Whether a text cell may hold several values joined with kMultipleValueSeparator, each
    // imported on its own: labelled values and groups.
    bool multipleValues = false;
    Target target = Target::none;
    // The column whose cell labels this column's values in the same row; label stays the
    // label of rows whose label cell is empty.
    std::optional<std::int64_t> labelColumnIndex;
    // The target, for turning a label cell's text into one of its labels.
    SuggestedContactProperty suggested;
    std::string Contact::*field = nullptr;
    std::string key;
    std::string label;
    std::string subKey;
    std::string sourceFieldName;

    explicit ColumnPlan(const MappedContactProperty& property);
};

ContactAssembler::ColumnPlan::ColumnPlan(const MappedContactProperty& property)
    : columnIndex(property.columnIndex), sourceFieldName(property.sourceFieldName) {
    using enum Target;
    const auto& suggested = property.contactProperty;
    const bool valid = suggested.isValid();
    const auto effectiveLabel = suggested.label();
    selfLabelled = valid && effectiveLabel == kExtractLabelMarker;
    postalCodeTarget = suggested.propertySubKey == PostalAddressKey::postalCode;
    applies = suggested.propertyKey && valid && !selfLabelled;
    if (!suggested.propertyKey) return;
    key = *suggested.propertyKey;
    label = effectiveLabel.value_or("");
    subKey = suggested.propertySubKey.value_or("");

    if (key == ContactKey::note) {
        target = note;
    } else if ((field = textFieldForKey(key))) {
        target = textField;
    } else if (key == CustomPropertyKeys::FullName) {
        target = fullName;
    } else if (key == ContactKey::birthday) {
        target = birthday;
    } else if (key == ContactKey::nonGregorianBirthday) {
        target = nonGregorianBirthday;
    } else if (key == CustomPropertyKeys::AdditionalNote) {
        target = additionalNote;
    } else if (key == ContactKey::imageData) {
        target = image;
    } else if (key == ContactKey::dates) {
        target = dates;
    } else if (key == ContactKey::phoneNumbers) {
        target = phoneNumber;
    } else if (key == ContactKey::emailAddresses) {
        target = emailAddress;
    } else if (key == ContactKey::urlAddresses) {
        target = urlAddress;
    } else if (key == ContactKey::contactRelations) {
        target = relation;
    } else if (key == ContactKey::postalAddresses) {
        if (!label.empty() && !subKey.empty()) target = postalAddress;
    } else if (key == ContactKey::socialProfiles) {
        if (!subKey.empty()) target = socialProfile;
    } else if (key == ContactKey::instantMessageAddresses) {
        if (!subKey.empty()) target = instantMessageAddress;
    } else if (key == CustomPropertyKeys::Group) {
        target = group;
    } else if (key == ContactKey::contactType) {
        target = contactType;
    }
    // Any other key, the UID column included, sets nothing: the new contact keeps its own
    // identifier; the import reads the UID column itself to find duplicates.

    multipleValues = target == dates || target == phoneNumber || target == emailAddress ||
                     target == urlAddress || target == relation || target == postalAddress ||
                     target == instantMessageAddress || target == group;
    if (multipleValues && target != group && suggested.canHaveLabel() &&
        property.labelColumnIndex && *property.labelColumnIndex != columnIndex) {
        labelColumnIndex = property.labelColumnIndex;
        this->suggested = suggested;
    }
}

namespace {

using ColumnPlan = ContactAssembler::ColumnPlan;

// A target that holds one value keeps the first non-empty one of the row; a different
// value of a later column goes into the note under that column's title and is reported.
// The same value again loses nothing and is dropped.
void applySingleValue(Assembly& assembly, const ColumnPlan& plan, std::string& value,
                      std::string text) {
    if (value.empty())
        value = std::move(text);
    else if (value != text)
        keepInNote(assembly, plan.sourceFieldName, std::move(text), kProblemSharedTarget);
}

// One value of a cell (its text, or its date) goes to the target's property with the label.
void applyValue(const DataCellView& cell, std::string text, const ColumnPlan& plan,
                const std::string& label, Assembly& assembly) {
    using enum ColumnPlan::Target;
    Contact& contact = assembly.contact;
    switch (plan.target) {
        case textField:
            applySingleValue(assembly, plan, contact.*plan.field, std::move(text));
            break;
        case note:
            // Several note columns make one note: the first is the note, the others follow
            // it under their titles, as additional notes do.
            if (contact.note.empty())
                contact.note = std::move(text);
            else
                assembly.noteItems.emplace_back(plan.sourceFieldName, std::move(text));
            break;
        case fullName:
            if (!assembly.fullName)
                assembly.fullName.emplace(plan.sourceFieldName, std::move(text));
            else if (assembly.fullName->second != text)
                keepInNote(assembly, plan.sourceFieldName, std::move(text), kProblemSharedTarget);
            break;
        case birthday:
            // A producer's "no date" ("0/0/00") is an empty cell, not a problem.
            if (cell.kind() == CellKind::text && isNoDatePlaceholder(text)) break;
            if (auto date = cellDate(cell, text, assembly)) {
                if (!contact.birthday)
                    contact.birthday = *date;
                else if (*contact.birthday != *date)
                    keepInNote(assembly, plan.sourceFieldName, std::move(text),
                               kProblemSharedTarget);
            } else {
                keepInNote(assembly, plan.sourceFieldName, std::move(text), kProblemNotADate);
            }
            break;
        case nonGregorianBirthday:
            writeLog(LogType::error, "Setting value for key '%{public}@' not yet implemented",
                     plan.key);
            break;
        case additionalNote:
            assembly.noteItems.emplace_back(plan.sourceFieldName, std::move(text));
            break;
        case image:
            // Pictures go in as a PNG centred on a transparent square of at most
            // contactPhotoSide pixels a side; a picture that cannot be decoded or re-encoded
            // keeps the bytes the file gave, unless its bytes or the pixels its header
            // declares are beyond the limits: then it is left out.
            if (const auto* bytes = std::get_if<std::span<const std::uint8_t>>(&cell.value)) {
                const auto declared = declaredImageSize(*bytes);
                if (bytes->size() > maximumImageBytes ||
                    (declared && static_cast<std::uint64_t>(declared->width) *
                                         static_cast<std::uint64_t>(declared->height) >
                                     maximumImagePixels)) {
                    assembly.problems.push_back({plan.sourceFieldName,
                                                 std::to_string(bytes->size()) + " bytes",
                                                 std::string(kProblemPictureTooLarge)});
                } else if (const auto& png = assembly.photos.photoOf(*bytes)) {
                    contact.imageData = *png;
                } else {
                    contact.imageData.assign(bytes->begin(), bytes->end());
                    assembly.problems.push_back({plan.sourceFieldName,
                                                 std::to_string(bytes->size()) + " bytes",
                                                 std::string(kProblemPictureNotDecoded)});
                }
            }
            break;
        case dates:
            if (cell.kind() == CellKind::text && isNoDatePlaceholder(text)) break;
            if (auto date = cellDate(cell, text, assembly))
                contact.dates.push_back(labeled(label, *date));
            else
                keepInNote(assembly, plan.sourceFieldName, std::move(text), kProblemNotADate);
            break;
        case phoneNumber:
            contact.phoneNumbers.push_back(labeled(label, std::move(text)));
            break;
        case emailAddress:
            contact.emailAddresses.push_back(labeled(label, std::move(text)));
            break;
        case urlAddress:
            contact.urlAddresses.push_back(labeled(label, std::move(text)));
            break;
        case relation:
            contact.contactRelations.push_back(labeled(label, ContactRelation{std::move(text)}));
            break;
        case postalAddress:
            applyPostalComponent(contact, label, plan.subKey, text);
            break;
        case socialProfile:
            applySocialProfile(contact, plan.subKey, text);
            break;
        case instantMessageAddress:
            contact.instantMessageAddresses.push_back(
                labeled(label, InstantMessageAddress{std::move(text), plan.subKey}));
            break;
        case group:
            applyGroups(assembly.groupNames, text);
            break;
        case contactType:
            if (containsCompanyTerm(text, assembly.options.companyTerms))
                contact.contactType = ContactType::organization;
            break;
        case none:
            break;
    }
}

// The labels of a row's values for a column labelled by another column: one per value of the
// label cell (" ::: " pairs them by position); empty when the label cell is empty.
std::vector<std::optional<std::string>> rowLabels(const DataRow& row, const ColumnPlan& plan) {
    std::vector<std::optional<std::string>> labels;
    if (!plan.labelColumnIndex) return labels;
    const auto cell = row.cellForColumn(*plan.labelColumnIndex);
    if (!cell || cell->kind() != CellKind::text) return labels;
    for (const std::string& part : splitMultipleValues(cell->text()))
        labels.push_back(labelFromLabelText(part, plan.suggested));
    return labels;
}

// Step 2 for one cell: its text (or date) goes to the target's property, value by value for
// a cell holding several, each with its label: the label cell's part at the same position,
// the label cell's only label for every value, or the column's label.
void applyCell(const DataRow& row, const DataCellView& cell, const ColumnPlan& plan,
               Assembly& assembly) {
    std::string text = cellText(cell, plan.postalCodeTarget, assembly);
    // A text cell's text is trimmed already; numbers and dates are trimmed here.
    if (cell.kind() != CellKind::text) text = trimmed(text);
    if (text.empty()) return;
    // Most cells hold one value and take the column's label: no splitting, no copies.
    if (!plan.multipleValues || (!plan.labelColumnIndex && text.find(":::") == std::string::npos)) {
        applyValue(cell, std::move(text), plan, plan.label, assembly);
        return;
    }
    const auto labels = rowLabels(row, plan);
    const auto values = cell.kind() == CellKind::text ? splitMultipleValues(text)
                                                      : std::vector<std::string>{std::move(text)};
    for (std::size_t position = 0; position < values.size(); ++position) {
        if (values[position].empty()) continue;
        const std::optional<std::string>* label = nullptr;
        if (labels.size() == 1) {
            label = &labels.front();
        } else if (position < labels.size()) {
            label = &labels[position];
        }
        applyValue(cell, values[position], plan, label && *label ? **label : plan.label, assembly);
    }
}

// The first plan of each column. The columns of a file are few and numbered from 0, so
// they are looked up in a table by number; far-out numbers go to a sorted list.
class PlanIndex {
  public:
    explicit PlanIndex(const std::vector<ColumnPlan>& plans) {
        for (std::size_t at = 0; at < plans.size(); ++at) {
            const std::int64_t column = plans[at].columnIndex;
            if (column >= 0 && column < kTableColumns) {
                const auto slot = static_cast<std::size_t>(column);
                if (slot >= table_.size()) table_.resize(slot + 1, kNone);
                if (table_[slot] == kNone) table_[slot] = at;
            } else {
                far_.emplace_back(column, at);
            }
        }
        // Stable, so that of several plans for one column the first stays in front.
        std::stable_sort(far_.begin(), far_.end(), [](const auto& left, const auto& right) {
            return left.first < right.first;
        });
    }

    // The index of the column's first plan; kNone when no plan has the column.
    std::size_t find(std::int64_t column) const {
        if (column >= 0 && column < kTableColumns) {
            const auto slot = static_cast<std::size_t>(column);
            return slot < table_.size() ? table_[slot] : kNone;
        }
        const auto found = std::lower_bound(
            far_.begin(), far_.end(), column,
            [](const auto& entry, std::int64_t wanted) { return entry.first < wanted; });
        return found != far_.end() && found->first == column ? found->second : kNone;
    }

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  private:
    static constexpr std::int64_t kTableColumns = 4096;
    std::vector<std::size_t> table_;
    std::vector<std::pair<std::int64_t, std::size_t>> far_;
};

void applyCells(const DataRow& row, const std::vector<ColumnPlan>& plans,
                const PlanIndex& planIndex, Assembly& assembly) {
    for (const DataCellView& cell : row) {
        const std::size_t found = planIndex.find(cell.columnIndex);
        if (found == PlanIndex::kNone) continue;
        const ColumnPlan& plan = plans[found];
        if (!plan.applies) continue;
        applyCell(row, cell, plan, assembly);
    }
}

// End of step 2: the row's full name fills the name parts its other columns left empty. A full
// name that disagrees with a part they filled goes into the note, reported; one that says
// what they say adds nothing.
void applyFullName(Assembly& assembly) {
    if (!assembly.fullName) return;
    auto& [title, text] = *assembly.fullName;
    const NameComponents parts = nameComponentsFromString(text);
    Contact& contact = assembly.contact;
    const std::pair<const std::string&, std::string&> fields[] = {
        {parts.namePrefix, contact.namePrefix},
        {parts.givenName, contact.givenName},
        {parts.middleName, contact.middleName},
        {parts.familyName, contact.familyName},
        {parts.nameSuffix, contact.nameSuffix}};
    const bool disagrees = std::any_of(std::begin(fields), std::end(fields), [](const auto& field) {
        return !field.first.empty() && !field.second.empty() &&
               lowercased(field.first) != lowercased(field.second);
    });
    if (disagrees) {
        keepInNote(assembly, title, std::move(text), kProblemSharedTarget);
        return;
    }
    for (const auto& [part, value] : fields) {
        if (value.empty()) value = part;
    }
}

// Step 3.1: a contact with an organization but no personal name is a company.
void detectCompany(Contact& contact) {
    const std::string personalName =
        trimmed(contact.givenName + contact.middleName + contact.familyName + contact.nickname);
    if (personalName.empty() && !contact.organizationName.empty())
        contact.contactType = ContactType::organization;
}

// Step 3.2: the additional-note items go below the note, laid out as the settings say.
void composeNote(Assembly& assembly) {
    const AssemblyOptions& options = assembly.options;
    auto& items = assembly.noteItems;
    if (options.sortNoteItemsByFieldTitle) {
        std::stable_sort(items.begin(), items.end(), [](const auto& left, const auto& right) {
            return left.first < right.first;
        });
    }
    std::string addition = "\n";
    if (!assembly.contact.note.empty() && options.extraLinefeed) addition += "\n";
    for (const auto& [title, text] : items) {
        std::string entry;
        if (options.prependFieldTitle && !title.empty()) {
            entry = options.fieldTitleAllCaps ? uppercasedFieldTitle(title) : title;
            entry += options.linefeedAfterFieldTitle ? ":\n" : ": ";
        }
        entry += text;
        addition += entry;
        addition += '\n';
        if (options.extraLinefeed) addition += "\n";
    }
    std::string& note = assembly.contact.note;
    note += addition;
    note = trimmed(note);
    note += '\n';
}

// Step 3.3, first half: every address whose country is known carries it as its ISO code, so
// that layouts, exports and the postal codes below go by the address's own country. An
// address that gives its country by name ("Belgique", "Schweiz") gets the name's code; an
// ISO code given in upper case, as three letters or as a name becomes the lower-case
// two-letter code. An address whose ISO code and country name both name no known country
// keeps them as they were.
void fillISOCountryCodes(Contact& contact) {
    for (auto& address : contact.postalAddresses) {
        if (auto code = countryCodeOfAddress(address.value)) address.value.isoCountryCode = *code;
    }
}

// Step 3.3, second half: a postal code read from a number lost its leading zeros; the
// address's country (or, when it names none, the user's) says how many digits it has. An ISO
// code of no known country pads nothing.
void formatNumericPostalCodes(Assembly& assembly) {
    if (!assembly.numericPostalCode) return;
    for (auto& address : assembly.contact.postalAddresses) {
        PostalAddress& value = address.value;
        if (value.postalCode.empty()) continue;
        const auto number = numberInText(value.postalCode);
        if (!number) continue;
        const std::string country = value.isoCountryCode.empty()
                                        ? assembly.options.defaultCountryCode
                                        : value.isoCountryCode;
        if (auto code = PostalCodeFormatter(NumberFormatter(), country).string(*number))
            value.postalCode = *code;
    }
}

}  // namespace

std::vector<std::string> companyTermsFromText(std::string_view text) {
    std::vector<std::string> terms;
    for (std::size_t start = 0;;) {
        const auto comma = text.find(',', start);
        std::string term = lowercased(trimmed(text.substr(start, comma - start)));
        if (!term.empty()) terms.push_back(std::move(term));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return terms;
}

std::vector<std::string> groupNamesInText(std::string_view text) {
    constexpr std::string_view groupSeparators[] = {",", ";", "|"};
    std::vector<std::string> names;
    for (const std::string& value : splitMultipleValues(text)) {
        for (const std::string& part : splitAtSeparators(value, groupSeparators)) {
            std::string name = trimmed(part);
            // "* myContacts", "* starred": the exporting program's own groups. The address
            // book has no favourites, so a starred contact is imported like any other.
            if (!name.empty() && !isSystemGroupName(name)) names.push_back(std::move(name));
        }
    }
    return names;
}

AssemblyOptions assemblyOptions(const SettingsStore& settings) {
    AssemblyOptions options;
    options.sortNoteItemsByFieldTitle =
        settings.boolForKey(SettingKey::FieldNameInNotesSortByFieldTitle);
    options.prependFieldTitle = settings.boolForKey(SettingKey::FieldNameInNotesPrependFieldTitle);
    options.fieldTitleAllCaps = settings.boolForKey(SettingKey::FieldNameInNotesAllCaps);
    options.linefeedAfterFieldTitle =
        settings.boolForKey(SettingKey::FieldNameInNotesAddLinefeedAfterFieldTitle);
    options.extraLinefeed = settings.boolForKey(SettingKey::FieldNameInNotesAddExtraLinefeed);
    options.appendUnmappedFieldsToNotes =
        settings.boolForKey(SettingKey::AppendUnmappedFieldsToNotes);
    if (auto terms = settings.stringForKey(SettingKey::CompanyTerms)) {
        options.companyTerms = companyTermsFromText(*terms);
    }
    options.defaultCountryCode = defaultCountryCode();
    return options;
}

struct ContactAssembler::State {
    State(std::vector<MappedContactProperty> mappedProperties, std::vector<DateFormat> dateFormats,
          AssemblyOptions options)
        : mappedProperties(std::move(mappedProperties)),
          dateFormats(std::move(dateFormats)),
          options(std::move(options)),
          dateReading(this->options) {
        plans.reserve(this->mappedProperties.size());
        for (const auto& property : this->mappedProperties) plans.emplace_back(property);
        planIndex = PlanIndex(plans);
        for (const auto& plan : plans) {
            if (plan.selfLabelled) selfLabelledColumns.push_back(plan.columnIndex);
        }
    }

    // Whether the row has a text cell for a self-labelled column, which step 1 splits up.
    bool needsExpansion(const DataRow& row) const {
        return std::any_of(selfLabelledColumns.begin(), selfLabelledColumns.end(),
                           [&](std::int64_t column) {
                               const auto cell = row.cellForColumn(column);
                               return cell && cell->kind() == CellKind::text;
                           });
    }

    std::vector<MappedContactProperty> mappedProperties;
    std::vector<DateFormat> dateFormats;
    AssemblyOptions options;
    DateReading dateReading;
    PhotoCache photos;
    std::vector<ColumnPlan> plans;
    PlanIndex planIndex{plans};
    std::vector<std::int64_t> selfLabelledColumns;
};

ContactAssembler::ContactAssembler(std::vector<MappedContactProperty> mappedProperties,
                                   std::vector<DateFormat> dateFormats, AssemblyOptions options)
    : state_(std::make_unique<State>(std::move(mappedProperties), std::move(dateFormats),
                                     std::move(options))) {}

ContactAssembler::~ContactAssembler() = default;
ContactAssembler::ContactAssembler(ContactAssembler&&) noexcept = default;
ContactAssembler& ContactAssembler::operator=(ContactAssembler&&) noexcept = default;

// The assembly runs in three steps:
//   1. expandSelfLabelledValues: cells whose label is to be read from the value become one
//      labelled cell per value;
//   2. applyCells: each cell, in row order, goes to the target of its column, then
//      applyFullName: the row's full name fills the name parts left empty;
//   3. detectCompany, composeNote, fillISOCountryCodes, formatNumericPostalCodes: what
//      needs the whole row.
// Step 1 changes the row and the columns, so only a row that needs it is copied and
// planned anew; every other row goes through the plans made once.
AssembledContact ContactAssembler::assemble(const DataRow& row) {
    State& state = *state_;
    Assembly assembly(state.dateFormats, state.options, state.dateReading, state.photos);
    if (state.needsExpansion(row)) {
        DataRow workingRow = row;
        std::vector<MappedContactProperty> properties = state.mappedProperties;
        expandSelfLabelledValues(workingRow, properties);
        std::vector<ColumnPlan> plans(properties.begin(), properties.end());
        applyCells(workingRow, plans, PlanIndex(plans), assembly);
    } else {
        applyCells(row, state.plans, state.planIndex, assembly);
    }
    applyFullName(assembly);
    detectCompany(assembly.contact);
    composeNote(assembly);
    fillISOCountryCodes(assembly.contact);
    formatNumericPostalCodes(assembly);
    return AssembledContact{std::move(assembly.contact), std::move(assembly.groupNames),
                            std::move(assembly.problems)};
}

AssembledContact assembleContact(const DataRow& row,
                                 const std::vector<MappedContactProperty>& mappedProperties,
                                 const std::vector<DateFormat>& dateFormats,
                                 const AssemblyOptions& options) {
    return ContactAssembler(mappedProperties, dateFormats, options).assemble(row);
}

}  // namespace pelkora
