// Writing vCards: contacts to vCard 3.0 text.

#include <string>
#include <string_view>
#include <vector>

#include "platform/contacts/ContactKeys.h"
#include "platform/contacts/VCard.h"
#include "platform/contacts/VCardLabels_p.h"
#include "platform/contacts/VCardValue_p.h"

namespace pelkora::contacts {
namespace {

using namespace detail;

// RFC 2425 limits lines to 75 octets, line break excluded.
constexpr std::size_t kMaximumLineOctets = 75;

constexpr std::string_view kProductIdentifier = "-//Pelkora//Pelkora 0.1//EN";

// Appends the line with its CR LF, folded: no line longer than 75 octets, continuation lines
// beginning with a space, and no fold inside a UTF-8 sequence, so that every physical line is
// valid UTF-8 on its own (programs that decode line by line would otherwise break characters).
void appendFolded(std::string& out, std::string_view line) {
    std::size_t limit = kMaximumLineOctets;
    while (line.size() > limit) {
        std::size_t cut = limit;
        // A UTF-8 sequence is at most 4 bytes, so at most 3 continuation bytes (10xxxxxx)
        // lie before the cut; text that is not UTF-8 is cut anyway.
        for (int step = 0; step < 3 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80;
             ++step) {
            --cut;
        }
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        limit = kMaximumLineOctets - 1;
    }
    out.append(line);
    out += "\r\n";
}

// A parameter value: RFC 6868 carets for line breaks, quotes and carets, and in quotes when it
// holds a character that would end it.
std::string parameterValue(std::string_view value) {
    std::string escaped;
    bool quoted = value.empty();
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '^') {
            escaped += "^^";
        } else if (c == '"') {
            escaped += "^'";
        } else if (c == '\n' || c == '\r') {
            escaped += "^n";
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
        } else {
            if (c == ';' || c == ':' || c == ',' || static_cast<unsigned char>(c) <= ' ')
                quoted = true;
            escaped += c;
        }
    }
    return quoted ? "\"" + escaped + "\"" : escaped;
}

struct Parameter {
    std::string_view name;
    std::vector<std::string> values;
};

std::string joinedNameParts(const Contact& contact) {
    std::string name;
    for (const std::string* part : {&contact.namePrefix, &contact.givenName, &contact.middleName,
                                    &contact.familyName, &contact.nameSuffix}) {
        if (part->empty()) continue;
        if (!name.empty()) name += ' ';
        name += *part;
    }
    return name;
}

// FN is required; readers show it as the contact's name.
std::string formattedName(const Contact& contact) {
    if (contact.contactType == ContactType::organization && !contact.organizationName.empty()) {
        return contact.organizationName;
    }
    const std::string name = joinedNameParts(contact);
    return name.empty() ? contact.organizationName : name;
}

std::string_view imageType(const std::vector<std::uint8_t>& image) {
    const auto startsWith = [&](std::initializer_list<std::uint8_t> signature) {
        return image.size() >= signature.size() &&
               std::equal(signature.begin(), signature.end(), image.begin());
    };
    if (startsWith({0xFF, 0xD8, 0xFF})) return "JPEG";
    if (startsWith({0x89, 'P', 'N', 'G'})) return "PNG";
    if (startsWith({'G', 'I', 'F', '8'})) return "GIF";
    return {};
}

// One contact's lines. The steps, in the order of the lines: the name, the organization, the
// labelled addresses, the dates, relations, profiles and messaging, then note, photo,
// categories and identifier.
class VCardWriting {
  public:
    VCardWriting(std::string& out, const VCardWriteOptions& options)
        : out_(out), options_(options) {}

    void write(const Contact& contact) {
        appendFolded(out_, "BEGIN:VCARD");
        property("VERSION", {}, "3.0");
        property("PRODID", {}, escapeText(kProductIdentifier));
        writeNames(contact);
        writeOrganization(contact);
        writeAddresses(contact);
        writeDates(contact);
        writeOthers(contact);
        writeAdditions(contact);
        if (!contact.identifier.empty()) property("UID", {}, escapeText(contact.identifier));
        appendFolded(out_, "END:VCARD");
    }

  private:
    void property(std::string_view name, const std::vector<Parameter>& parameters,
                  std::string_view value, std::string_view group = {}) {
        std::string line;
        if (!group.empty()) {
            line += group;
            line += '.';
        }
        line += name;
        for (const auto& parameter : parameters) {
            line += ';';
            line += parameter.name;
            line += '=';
            for (std::size_t i = 0; i < parameter.values.size(); ++i) {
                if (i > 0) line += ',';
                line += parameterValue(parameter.values[i]);
            }
        }
        line += ':';
        line += value;
        appendFolded(out_, line);
    }

    void text(std::string_view name, const std::string& value) {
        if (!value.empty()) property(name, {}, escapeText(value));
    }

    // A property with a label: as TYPE words when the vocabulary has them, else in a group of
    // its own followed by the group's X-ABLabel. Lines that belong to the property (Apple's
    // X-ABADR) share the group.
    void labelled(std::string_view name, const std::string& label, LabelVocabulary vocabulary,
                  std::vector<Parameter> parameters, std::vector<std::string_view> types,
                  std::string_view value,
                  const std::vector<std::pair<std::string_view, std::string>>& groupLines = {}) {
        bool customLabel = false;
        if (!label.empty()) {
            if (const auto labelTypes = typesForLabel(label, vocabulary)) {
                types.insert(types.end(), labelTypes->begin(), labelTypes->end());
            } else {
                customLabel = true;
            }
        }
        std::string group;
        if (customLabel || !groupLines.empty()) group = "item" + std::to_string(++groups_);
        if (!types.empty()) parameters.push_back({"TYPE", {types.begin(), types.end()}});
        property(name, parameters, value, group);
        if (customLabel) property("X-ABLabel", {}, escapeText(label), group);
        for (const auto& [lineName, lineValue] : groupLines) {
            property(lineName, {}, escapeText(lineValue), group);
        }
    }

    void writeNames(const Contact& contact) {
        property("N", {},
                 escapeText(contact.familyName) + ';' + escapeText(contact.givenName) + ';' +
                     escapeText(contact.middleName) + ';' + escapeText(contact.namePrefix) + ';' +
                     escapeText(contact.nameSuffix));
        property("FN", {}, escapeText(formattedName(contact)));
        text("NICKNAME", contact.nickname);
        text("X-MAIDENNAME", contact.previousFamilyName);
        text("X-PHONETIC-FIRST-NAME", contact.phoneticGivenName);
        text("X-PHONETIC-MIDDLE-NAME", contact.phoneticMiddleName);
        text("X-PHONETIC-LAST-NAME", contact.phoneticFamilyName);
    }

    void writeOrganization(const Contact& contact) {
        if (!contact.organizationName.empty() || !contact.departmentName.empty()) {
            property(
                "ORG", {},
                escapeText(contact.organizationName) + ';' + escapeText(contact.departmentName));
        }
        text("X-PHONETIC-ORG", contact.phoneticOrganizationName);
        text("TITLE", contact.jobTitle);
        if (contact.contactType == ContactType::organization) {
            property("X-ABShowAs", {}, "COMPANY");
        }
    }

    void writeAddresses(const Contact& contact) {
        for (const auto& email : contact.emailAddresses) {
            if (email.value.empty()) continue;
            labelled("EMAIL", email.label, LabelVocabulary::general, {}, {"INTERNET"},
                     escapeText(email.value));
        }
        for (const auto& phone : contact.phoneNumbers) {
            if (phone.value.empty()) continue;
            labelled("TEL", phone.label, LabelVocabulary::phone, {}, {}, escapeText(phone.value));
        }
        for (const auto& [identifier, label, address] : contact.postalAddresses) {
            if (address.isEmpty()) continue;
            std::vector<std::pair<std::string_view, std::string>> groupLines;
            if (!address.isoCountryCode.empty())
                groupLines.emplace_back("X-ABADR", address.isoCountryCode);
            if (!address.subLocality.empty()) {
                groupLines.emplace_back("X-APPLE-SUBLOCALITY", address.subLocality);
            }
            if (!address.subAdministrativeArea.empty()) {
                groupLines.emplace_back("X-APPLE-SUBADMINISTRATIVEAREA",
                                        address.subAdministrativeArea);
            }
            labelled("ADR", label, LabelVocabulary::general, {}, {},
                     ";;" + escapeText(address.street) + ';' + escapeText(address.city) + ';' +
                         escapeText(address.state) + ';' + escapeText(address.postalCode) + ';' +
                         escapeText(address.country),
                     groupLines);
        }
        for (const auto& url : contact.urlAddresses) {
            if (url.value.empty()) continue;
            labelled("URL", url.label, LabelVocabulary::general, {}, {}, escapeText(url.value));
        }
    }

    static std::vector<Parameter> calendarParameters(const DateComponents& date) {
        if (date.calendar.empty()) return {};
        return {{"CALSCALE", {date.calendar}}};
    }

    void writeDates(const Contact& contact) {
        if (contact.birthday) {
            if (const auto value = formatDate(*contact.birthday); !value.empty()) {
                property("BDAY", calendarParameters(*contact.birthday), value);
            }
        }
        if (contact.nonGregorianBirthday) {
            if (const auto value = formatDate(*contact.nonGregorianBirthday); !value.empty()) {
                property("X-ALTBDAY", calendarParameters(*contact.nonGregorianBirthday), value);
            }
        }
        for (const auto& date : contact.dates) {
            const auto value = formatDate(date.value);
            if (value.empty()) continue;
            labelled("X-ABDATE", date.label, LabelVocabulary::none, calendarParameters(date.value),
                     {}, value);
        }
    }

    void writeOthers(const Contact& contact) {
        if (options_.includeRelatedNames) {
            for (const auto& relation : contact.contactRelations) {
                if (relation.value.name.empty()) continue;
                labelled("X-ABRELATEDNAMES", relation.label, LabelVocabulary::relation, {}, {},
                         escapeText(relation.value.name));
            }
        }
        for (const auto& [identifier, label, profile] : contact.socialProfiles) {
            if (profile.urlString.empty() && profile.username.empty() &&
                profile.userIdentifier.empty()) {
                continue;
            }
            std::vector<Parameter> parameters;
            if (!profile.service.empty()) parameters.push_back({"TYPE", {profile.service}});
            if (!profile.username.empty()) parameters.push_back({"X-USER", {profile.username}});
            if (!profile.userIdentifier.empty()) {
                parameters.push_back({"X-USERID", {profile.userIdentifier}});
            }
            labelled("X-SOCIALPROFILE", label, LabelVocabulary::none, std::move(parameters), {},
                     escapeText(profile.urlString));
        }
        for (const auto& [identifier, label, address] : contact.instantMessageAddresses) {
            if (address.username.empty()) continue;
            std::vector<Parameter> parameters;
            if (!address.service.empty()) {
                parameters.push_back({"X-SERVICE-TYPE", {address.service}});
            }
            labelled("IMPP", label, LabelVocabulary::general, std::move(parameters), {},
                     std::string(instantMessageSchemeForService(address.service)) + ':' +
                         escapeText(address.username));
        }
    }

    void writeAdditions(const Contact& contact) {
        if (options_.includeNote) text("NOTE", contact.note);
        if (options_.includePhoto) {
            const auto& image =
                contact.imageData.empty() ? contact.thumbnailImageData : contact.imageData;
            if (!image.empty()) {
                std::vector<Parameter> parameters{{"ENCODING", {"b"}}};
                if (const auto type = imageType(image); !type.empty()) {
                    parameters.push_back({"TYPE", {std::string(type)}});
                }
                property("PHOTO", parameters, encodeBase64(image));
            }
        }
        if (options_.includeCategories && options_.categories) {
            std::string names;
            for (const auto& name : options_.categories(contact)) {
                if (name.empty()) continue;
                if (!names.empty()) names += ',';
                names += escapeText(name);
            }
            if (!names.empty()) property("CATEGORIES", {}, names);
        }
    }

    std::string& out_;
    const VCardWriteOptions& options_;
    int groups_ = 0;
};

}  // namespace

std::string dataWithContacts(const std::vector<Contact>& contacts,
                             const VCardWriteOptions& options) {
    std::string out;
    for (const auto& contact : contacts) VCardWriting(out, options).write(contact);
    return out;
}

void appendVCard(std::string& out, const Contact& contact, const VCardWriteOptions& options) {
    VCardWriting(out, options).write(contact);
}

}  // namespace pelkora::contacts
