#pragma once

// A contact of the address book, with its groups and containers.
//
// Values, not objects: a contact is built, compared, copied and handed to a store or a
// vCard writer. Multi-valued properties are ordered lists of labelled values; a label is
// one of the constants of ContactKeys.h or any other text (a custom label), and empty
// means no label.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelkora::contacts {

enum class ContactType { person = 0, organization = 1 };

// A date that may lack its year (a birthday "--03-15") or be in another calendar.
struct DateComponents {
    std::optional<int> year;
    std::optional<int> month;
    std::optional<int> day;
    // ICU's calendar identifier ("chinese", "hebrew", "islamic" …); empty for Gregorian.
    std::string calendar;
    bool operator==(const DateComponents&) const = default;
};

struct PostalAddress {
    std::string street;  // may hold several lines
    std::string subLocality;
    std::string city;
    std::string subAdministrativeArea;
    std::string state;
    std::string postalCode;
    std::string country;
    std::string isoCountryCode;  // lower-case ISO 3166 code ("de")
    bool operator==(const PostalAddress&) const = default;
    bool isEmpty() const { return *this == PostalAddress{}; }
};

struct SocialProfile {
    std::string urlString;
    std::string username;
    std::string userIdentifier;
    std::string service;  // one of SocialProfileService or any other name
    bool operator==(const SocialProfile&) const = default;
};

struct InstantMessageAddress {
    std::string username;
    std::string service;  // one of InstantMessageService or any other name
    bool operator==(const InstantMessageAddress&) const = default;
};

struct ContactRelation {
    std::string name;
    bool operator==(const ContactRelation&) const = default;
};

template <typename Value>
struct LabeledValue {
    std::string identifier;  // unique within the contact; a new UUID when made
    std::string label;       // a label constant, a custom label, or empty for none
    Value value;
    bool operator==(const LabeledValue&) const = default;
};

// A new labelled value with a fresh identifier.
template <typename Value>
LabeledValue<Value> labeled(std::string label, Value value);

struct Contact {
    std::string identifier;  // a UUID
    ContactType contactType = ContactType::person;

    std::string namePrefix;
    std::string givenName;
    std::string middleName;
    std::string familyName;
    std::string previousFamilyName;
    std::string nameSuffix;
    std::string nickname;
    std::string phoneticGivenName;
    std::string phoneticMiddleName;
    std::string phoneticFamilyName;

    std::string organizationName;
    std::string departmentName;
    std::string jobTitle;
    std::string phoneticOrganizationName;

    std::string note;
    std::optional<DateComponents> birthday;
    std::optional<DateComponents> nonGregorianBirthday;
    std::vector<LabeledValue<DateComponents>> dates;

    std::vector<LabeledValue<std::string>> phoneNumbers;
    std::vector<LabeledValue<std::string>> emailAddresses;
    std::vector<LabeledValue<std::string>> urlAddresses;
    std::vector<LabeledValue<PostalAddress>> postalAddresses;
    std::vector<LabeledValue<ContactRelation>> contactRelations;
    std::vector<LabeledValue<SocialProfile>> socialProfiles;
    std::vector<LabeledValue<InstantMessageAddress>> instantMessageAddresses;

    std::vector<std::uint8_t> imageData;  // PNG, JPEG … as given
    std::vector<std::uint8_t> thumbnailImageData;

    bool operator==(const Contact&) const = default;

    // A person with a fresh identifier and nothing else.
    static Contact makeNew();
};

enum class ContainerType { unassigned = 0, local = 1, exchange = 2, cardDAV = 3 };

struct Container {
    std::string identifier;
    std::string name;
    ContainerType type = ContainerType::local;
    bool operator==(const Container&) const = default;
};

struct Group {
    std::string identifier;
    std::string name;
    bool operator==(const Group&) const = default;
};

// A new time-ordered (version 7) UUID in upper-case text form, like
// "0193A5C2-7E41-7A03-93FC-0C247A3E6E5F": the milliseconds since 1970, a counter and 62
// random bits. The identifiers one thread makes sort in the order they were made, so the
// address book's indexes on identifiers (contacts, group members) grow at their end: an
// import that puts every contact in a duplicates group rewrites a few index pages per saved
// chunk instead of one page per member.
std::string makeUUID();

// A new random (version 4) UUID in upper-case text form, like
// "3F2504E0-4F89-41D3-9A0C-0305E82C3301": 122 random bits, nothing of the time or the order in
// which it was made, for identifiers that are shared with other computers.
std::string makeRandomUUID();

template <typename Value>
LabeledValue<Value> labeled(std::string label, Value value) {
    return LabeledValue<Value>{makeUUID(), std::move(label), std::move(value)};
}

}  // namespace pelkora::contacts
