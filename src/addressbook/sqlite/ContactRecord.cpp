#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "addressbook/sqlite/ContactRecord_p.h"
#include "support/Base64.h"
#include "support/Json.h"

namespace pelkora::contacts {
namespace {

template <typename Record>
struct TextField {
    std::string_view name;
    std::string Record::*member;
};

constexpr std::array<TextField<Contact>, 15> kTextFields = {{
    {"namePrefix", &Contact::namePrefix},
    {"givenName", &Contact::givenName},
    {"middleName", &Contact::middleName},
    {"familyName", &Contact::familyName},
    {"previousFamilyName", &Contact::previousFamilyName},
    {"nameSuffix", &Contact::nameSuffix},
    {"nickname", &Contact::nickname},
    {"phoneticGivenName", &Contact::phoneticGivenName},
    {"phoneticMiddleName", &Contact::phoneticMiddleName},
    {"phoneticFamilyName", &Contact::phoneticFamilyName},
    {"organizationName", &Contact::organizationName},
    {"departmentName", &Contact::departmentName},
    {"jobTitle", &Contact::jobTitle},
    {"phoneticOrganizationName", &Contact::phoneticOrganizationName},
    {"note", &Contact::note},
}};

constexpr std::array<TextField<PostalAddress>, 8> kPostalAddressFields = {{
    {"street", &PostalAddress::street},
    {"subLocality", &PostalAddress::subLocality},
    {"city", &PostalAddress::city},
    {"subAdministrativeArea", &PostalAddress::subAdministrativeArea},
    {"state", &PostalAddress::state},
    {"postalCode", &PostalAddress::postalCode},
    {"country", &PostalAddress::country},
    {"isoCountryCode", &PostalAddress::isoCountryCode},
}};

constexpr std::array<TextField<SocialProfile>, 4> kSocialProfileFields = {{
    {"urlString", &SocialProfile::urlString},
    {"username", &SocialProfile::username},
    {"userIdentifier", &SocialProfile::userIdentifier},
    {"service", &SocialProfile::service},
}};

constexpr std::array<TextField<InstantMessageAddress>, 2> kInstantMessageFields = {{
    {"username", &InstantMessageAddress::username},
    {"service", &InstantMessageAddress::service},
}};

// ---------------------------------------------------------------------------------------
// Writing.

// Appends the members of one object, each after a comma but the first.
class ObjectWriter {
  public:
    explicit ObjectWriter(std::string& out) : out_(out) { out_ += '{'; }
    ~ObjectWriter() { out_ += '}'; }
    ObjectWriter(const ObjectWriter&) = delete;
    ObjectWriter& operator=(const ObjectWriter&) = delete;

    // Starts a member; its value is appended next.
    std::string& member(std::string_view name) {
        if (!first_) out_ += ',';
        first_ = false;
        json::appendString(out_, name);
        out_ += ':';
        return out_;
    }
    void text(std::string_view name, std::string_view value) {
        if (!value.empty()) json::appendString(member(name), value);
    }
    void integer(std::string_view name, const std::optional<int>& value) {
        if (value) member(name) += std::to_string(*value);
    }

  private:
    std::string& out_;
    bool first_ = true;
};

template <typename Record, std::size_t size>
void writeFields(std::string& out, const Record& record,
                 const std::array<TextField<Record>, size>& fields) {
    ObjectWriter object(out);
    for (const auto& field : fields) object.text(field.name, record.*field.member);
}

void writeDate(std::string& out, const DateComponents& date) {
    ObjectWriter object(out);
    object.integer("year", date.year);
    object.integer("month", date.month);
    object.integer("day", date.day);
    object.text("calendar", date.calendar);
}

void writeValue(std::string& out, const std::string& text) {
    json::appendString(out, text);
}
void writeValue(std::string& out, const DateComponents& date) {
    writeDate(out, date);
}
void writeValue(std::string& out, const PostalAddress& address) {
    writeFields(out, address, kPostalAddressFields);
}
void writeValue(std::string& out, const ContactRelation& relation) {
    json::appendString(out, relation.name);
}
void writeValue(std::string& out, const SocialProfile& profile) {
    writeFields(out, profile, kSocialProfileFields);
}
void writeValue(std::string& out, const InstantMessageAddress& address) {
    writeFields(out, address, kInstantMessageFields);
}

template <typename Value>
void writeList(ObjectWriter& object, std::string_view name,
               const std::vector<LabeledValue<Value>>& list) {
    if (list.empty()) return;
    std::string& out = object.member(name);
    out += '[';
    for (std::size_t index = 0; index < list.size(); ++index) {
        if (index > 0) out += ',';
        ObjectWriter item(out);
        json::appendString(item.member("identifier"), list[index].identifier);
        json::appendString(item.member("label"), list[index].label);
        writeValue(item.member("value"), list[index].value);
    }
    out += ']';
}

void writeData(ObjectWriter& object, std::string_view name, const std::vector<std::uint8_t>& data) {
    if (!data.empty()) object.member(name) += '"' + encodeBase64(data) + '"';
}

// ---------------------------------------------------------------------------------------
// Reading. Every reader returns false for a member of the wrong type.

using json::Value;

bool readText(const Value& value, std::string& text) {
    if (value.type != Value::Type::string) return false;
    text = value.string;
    return true;
}

template <typename Record, std::size_t size>
bool readFields(const Value& value, Record& record,
                const std::array<TextField<Record>, size>& fields) {
    if (value.type != Value::Type::object) return false;
    for (const auto& field : fields) {
        if (const Value* member = value.find(field.name)) {
            if (!readText(*member, record.*field.member)) return false;
        }
    }
    return true;
}

bool readInteger(const Value& object, std::string_view name, std::optional<int>& integer) {
    const Value* member = object.find(name);
    if (!member) return true;
    if (member->type != Value::Type::number || std::trunc(member->number) != member->number ||
        std::abs(member->number) > std::numeric_limits<int>::max())
        return false;
    integer = static_cast<int>(member->number);
    return true;
}

bool readValue(const Value& value, DateComponents& date) {
    if (value.type != Value::Type::object) return false;
    if (const Value* calendar = value.find("calendar");
        calendar && !readText(*calendar, date.calendar))
        return false;
    return readInteger(value, "year", date.year) && readInteger(value, "month", date.month) &&
           readInteger(value, "day", date.day);
}
bool readValue(const Value& value, std::string& text) {
    return readText(value, text);
}
bool readValue(const Value& value, PostalAddress& address) {
    return readFields(value, address, kPostalAddressFields);
}
bool readValue(const Value& value, ContactRelation& relation) {
    return readText(value, relation.name);
}
bool readValue(const Value& value, SocialProfile& profile) {
    return readFields(value, profile, kSocialProfileFields);
}
bool readValue(const Value& value, InstantMessageAddress& address) {
    return readFields(value, address, kInstantMessageFields);
}

template <typename Item>
bool readList(const Value& record, std::string_view name, std::vector<LabeledValue<Item>>& list) {
    const Value* member = record.find(name);
    if (!member) return true;
    if (member->type != Value::Type::array) return false;
    list.reserve(member->array.size());
    for (const Value& element : member->array) {
        LabeledValue<Item> item;
        const Value* identifier = element.find("identifier");
        const Value* label = element.find("label");
        const Value* value = element.find("value");
        if (!identifier || !label || !value || !readText(*identifier, item.identifier) ||
            !readText(*label, item.label) || !readValue(*value, item.value))
            return false;
        list.push_back(std::move(item));
    }
    return true;
}

bool readDate(const Value& record, std::string_view name, std::optional<DateComponents>& date) {
    const Value* member = record.find(name);
    if (!member) return true;
    DateComponents read;
    if (!readValue(*member, read)) return false;
    date = std::move(read);
    return true;
}

bool readData(const Value& record, std::string_view name, std::vector<std::uint8_t>& data) {
    const Value* member = record.find(name);
    if (!member) return true;
    if (member->type != Value::Type::string) return false;
    auto bytes = decodeBase64(member->string);
    if (!bytes) return false;
    data = std::move(*bytes);
    return true;
}

}  // namespace

void encodeContactRecord(const Contact& contact, std::string& text) {
    text.clear();
    ObjectWriter object(text);
    json::appendString(
        object.member("contactType"),
        contact.contactType == ContactType::organization ? "organization" : "person");
    for (const auto& field : kTextFields) object.text(field.name, contact.*field.member);
    if (contact.birthday) writeDate(object.member("birthday"), *contact.birthday);
    if (contact.nonGregorianBirthday)
        writeDate(object.member("nonGregorianBirthday"), *contact.nonGregorianBirthday);
    writeList(object, "dates", contact.dates);
    writeList(object, "phoneNumbers", contact.phoneNumbers);
    writeList(object, "emailAddresses", contact.emailAddresses);
    writeList(object, "urlAddresses", contact.urlAddresses);
    writeList(object, "postalAddresses", contact.postalAddresses);
    writeList(object, "contactRelations", contact.contactRelations);
    writeList(object, "socialProfiles", contact.socialProfiles);
    writeList(object, "instantMessageAddresses", contact.instantMessageAddresses);
    writeData(object, "imageData", contact.imageData);
    writeData(object, "thumbnailImageData", contact.thumbnailImageData);
}

std::optional<Contact> decodeContactRecord(std::string_view identifier, std::string_view text) {
    const auto record = json::parse(text);
    if (!record || record->type != Value::Type::object) return std::nullopt;
    Contact contact;
    contact.identifier = identifier;
    if (const Value* type = record->find("contactType")) {
        if (type->string == "organization")
            contact.contactType = ContactType::organization;
        else if (type->string != "person")
            return std::nullopt;
    }
    for (const auto& field : kTextFields) {
        if (const Value* member = record->find(field.name)) {
            if (!readText(*member, contact.*field.member)) return std::nullopt;
        }
    }
    const bool read =
        readDate(*record, "birthday", contact.birthday) &&
        readDate(*record, "nonGregorianBirthday", contact.nonGregorianBirthday) &&
        readList(*record, "dates", contact.dates) &&
        readList(*record, "phoneNumbers", contact.phoneNumbers) &&
        readList(*record, "emailAddresses", contact.emailAddresses) &&
        readList(*record, "urlAddresses", contact.urlAddresses) &&
        readList(*record, "postalAddresses", contact.postalAddresses) &&
        readList(*record, "contactRelations", contact.contactRelations) &&
        readList(*record, "socialProfiles", contact.socialProfiles) &&
        readList(*record, "instantMessageAddresses", contact.instantMessageAddresses) &&
        readData(*record, "imageData", contact.imageData) &&
        readData(*record, "thumbnailImageData", contact.thumbnailImageData);
    if (!read) return std::nullopt;
    return contact;
}

// ---------------------------------------------------------------------------------------
// The binary records of the first format: a format byte, the contact type, the text fields in
// kBinaryTextFields order, the two birthdays, then the lists and the two images. Numbers are
// LEB128 varints (signed ones zigzag-encoded), texts and byte strings are a length followed by
// the bytes, a list is a count followed by its elements, a labelled value is identifier,
// label, value.

namespace binary {
namespace {

constexpr std::uint8_t kRecordFormat = 1;

constexpr std::array kBinaryTextFields = {
    &Contact::namePrefix,
    &Contact::givenName,
    &Contact::middleName,
    &Contact::familyName,
    &Contact::previousFamilyName,
    &Contact::nameSuffix,
    &Contact::nickname,
    &Contact::phoneticGivenName,
    &Contact::phoneticMiddleName,
    &Contact::phoneticFamilyName,
    &Contact::organizationName,
    &Contact::departmentName,
    &Contact::jobTitle,
    &Contact::phoneticOrganizationName,
    &Contact::note,
};

constexpr std::array kBinaryPostalAddressFields = {
    &PostalAddress::street,  &PostalAddress::subLocality,
    &PostalAddress::city,    &PostalAddress::subAdministrativeArea,
    &PostalAddress::state,   &PostalAddress::postalCode,
    &PostalAddress::country, &PostalAddress::isoCountryCode,
};

constexpr std::array kBinarySocialProfileFields = {
    &SocialProfile::urlString,
    &SocialProfile::username,
    &SocialProfile::userIdentifier,
    &SocialProfile::service,
};

// Reads a record of the first format. Damaged input never reads out of bounds: a read past the
// end, or a count larger than the bytes left, marks the reader failed and yields defaults.
class RecordReader {
  public:
    explicit RecordReader(std::string_view bytes) : bytes_(bytes) {}

    bool failed() const { return failed_; }
    bool atEnd() const { return position_ == bytes_.size(); }

    std::uint8_t byte() {
        if (position_ >= bytes_.size()) {
            fail();
            return 0;
        }
        return static_cast<std::uint8_t>(bytes_[position_++]);
    }
    std::uint64_t varint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64 && !failed_; shift += 7) {
            const std::uint8_t next = byte();
            value |= static_cast<std::uint64_t>(next & 0x7F) << shift;
            if ((next & 0x80) == 0) return value;
        }
        fail();
        return 0;
    }
    std::int64_t integer() {
        const std::uint64_t value = varint();
        return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
    }
    int smallInteger() {
        const std::int64_t value = integer();
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
            fail();
            return 0;
        }
        return static_cast<int>(value);
    }
    // A list's length; every element takes at least one byte.
    std::size_t count() {
        const std::uint64_t value = varint();
        if (value > bytes_.size() - position_) {
            fail();
            return 0;
        }
        return static_cast<std::size_t>(value);
    }
    std::string_view span() {
        const std::size_t size = count();
        const std::string_view result = bytes_.substr(position_, size);
        position_ += size;
        return result;
    }
    std::string text() { return std::string(span()); }
    std::vector<std::uint8_t> data() {
        const std::string_view bytes = span();
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }

  private:
    void fail() {
        failed_ = true;
        position_ = bytes_.size();
    }

    std::string_view bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

DateComponents readDate(RecordReader& reader) {
    DateComponents date;
    const std::uint8_t present = reader.byte();
    if (present & 1) date.year = reader.smallInteger();
    if (present & 2) date.month = reader.smallInteger();
    if (present & 4) date.day = reader.smallInteger();
    date.calendar = reader.text();
    return date;
}

std::optional<DateComponents> readOptionalDate(RecordReader& reader) {
    if (reader.byte() == 0) return std::nullopt;
    return readDate(reader);
}

template <typename Value, typename ReadValue>
void readList(RecordReader& reader, std::vector<LabeledValue<Value>>& list, ReadValue readValue) {
    const std::size_t size = reader.count();
    list.reserve(size);
    for (std::size_t index = 0; index < size && !reader.failed(); ++index) {
        LabeledValue<Value> item;
        item.identifier = reader.text();
        item.label = reader.text();
        item.value = readValue();
        list.push_back(std::move(item));
    }
}

template <typename Record, std::size_t size>
Record readFields(RecordReader& reader, const std::array<std::string Record::*, size>& fields) {
    Record record;
    for (auto field : fields) record.*field = reader.text();
    return record;
}

}  // namespace
}  // namespace binary

std::optional<Contact> decodeBinaryContactRecord(std::string_view identifier,
                                                 std::string_view bytes) {
    using namespace binary;
    RecordReader reader(bytes);
    if (reader.byte() != kRecordFormat) return std::nullopt;
    Contact contact;
    contact.identifier = identifier;
    const std::uint8_t type = reader.byte();
    if (type > static_cast<std::uint8_t>(ContactType::organization)) return std::nullopt;
    contact.contactType = static_cast<ContactType>(type);
    for (auto field : kBinaryTextFields) contact.*field = reader.text();
    contact.birthday = readOptionalDate(reader);
    contact.nonGregorianBirthday = readOptionalDate(reader);
    readList(reader, contact.dates, [&] { return readDate(reader); });
    const auto readText = [&] { return reader.text(); };
    readList(reader, contact.phoneNumbers, readText);
    readList(reader, contact.emailAddresses, readText);
    readList(reader, contact.urlAddresses, readText);
    readList(reader, contact.postalAddresses,
             [&] { return readFields(reader, kBinaryPostalAddressFields); });
    readList(reader, contact.contactRelations, [&] { return ContactRelation{reader.text()}; });
    readList(reader, contact.socialProfiles,
             [&] { return readFields(reader, kBinarySocialProfileFields); });
    readList(reader, contact.instantMessageAddresses, [&] {
        InstantMessageAddress address;
        address.username = reader.text();
        address.service = reader.text();
        return address;
    });
    contact.imageData = reader.data();
    contact.thumbnailImageData = reader.data();
    if (reader.failed() || !reader.atEnd()) return std::nullopt;
    return contact;
}

}  // namespace pelkora::contacts
