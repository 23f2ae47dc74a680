// Writing vCards: contacts to vCard 3.0 text.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/ContactKeys.h"
#include "vcard/VCard.h"
#include "vcard/VCardLabels_p.h"
#include "vcard/VCardValue_p.h"

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

// Appends a parameter value: RFC 6868 carets for line breaks, quotes and carets, and in
// quotes when it holds a character that would end it.
void appendParameterValue(std::string& out, std::string_view value) {
    const std::size_t start = out.size();
    bool quoted = value.empty();
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '^') {
            out += "^^";
        } else if (c == '"') {
            out += "^'";
        } else if (c == '\n' || c == '\r') {
            out += "^n";
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
        } else {
            if (c == ';' || c == ':' || c == ',' || static_cast<unsigned char>(c) <= ' ')
                quoted = true;
            out += c;
        }
    }
    if (quoted) {
        out.insert(start, 1, '"');
        out += '"';
    }
}

// The values are views of the contact's texts or of constants, which outlive the line.
struct Parameter {
    std::string_view name;
    std::vector<std::string_view> values;
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
        out_ += "BEGIN:VCARD\r\n";
        property("VERSION", {}, "3.0");
        escapedProperty("PRODID", kProductIdentifier);
        writeNames(contact);
        writeOrganization(contact);
        writeAddresses(contact);
        writeDates(contact);
        writeOthers(contact);
        writeAdditions(contact);
        if (!contact.identifier.empty()) escapedProperty("UID", contact.identifier);
        out_ += "END:VCARD\r\n";
    }

  private:
    // A content line is written straight into the output: its name, parameters and value,
    // then folded in place in the rare case that it is longer than a line may be.
    void beginLine(std::string_view name, const std::vector<Parameter>& parameters,
                   std::string_view group) {
        lineStart_ = out_.size();
        if (!group.empty()) {
            out_ += group;
            out_ += '.';
        }
        out_ += name;
        for (const auto& parameter : parameters) {
            out_ += ';';
            out_ += parameter.name;
            out_ += '=';
            for (std::size_t i = 0; i < parameter.values.size(); ++i) {
                if (i > 0) out_ += ',';
                appendParameterValue(out_, parameter.values[i]);
            }
        }
        out_ += ':';
    }

    void endLine() {
        if (out_.size() - lineStart_ <= kMaximumLineOctets) {
            out_ += "\r\n";
            return;
        }
        const std::string line = out_.substr(lineStart_);
        out_.resize(lineStart_);
        appendFolded(out_, line);
    }

    void property(std::string_view name, const std::vector<Parameter>& parameters,
                  std::string_view value, std::string_view group = {}) {
        beginLine(name, parameters, group);
        out_ += value;
        endLine();
    }

    // A property whose value is the text, escaped.
    void escapedProperty(std::string_view name, std::string_view value,
                         std::string_view group = {}) {
        beginLine(name, {}, group);
        appendEscapedText(out_, value);
        endLine();
    }

    // A structured value: the texts escaped, with semicolons between them.
    void structuredProperty(std::string_view name, std::initializer_list<std::string_view> parts,
                            const std::vector<Parameter>& parameters = {},
                            std::string_view group = {}) {
        beginLine(name, parameters, group);
        bool first = true;
        for (std::string_view part : parts) {
            if (!first) out_ += ';';
            first = false;
            appendEscapedText(out_, part);
        }
        endLine();
    }

    void text(std::string_view name, const std::string& value) {
        if (!value.empty()) escapedProperty(name, value);
    }

    // The group a labelled property needs: its own when it has an X-ABLabel line or when
    // lines belong to it, else none.
    std::string_view labelGroup(const LabelSpelling& spelling, bool hasGroupLines) {
        group_.clear();
        if (!spelling.labelText.empty() || hasGroupLines) {
            group_ = "item";
            group_ += std::to_string(++groups_);
        }
        return group_;
    }

    // A property with a label: as TYPE words when they say it, else in a group of its own
    // followed by the group's X-ABLabel in plain words. Lines that belong to the property
    // (Apple's X-ABADR) share the group. `writeValue` appends the value.
    template <typename WriteValue>
    void labelled(
        std::string_view name, const std::string& label, LabelVocabulary vocabulary,
        std::vector<Parameter> parameters, std::vector<std::string_view> types,
        WriteValue&& writeValue,
        const std::vector<std::pair<std::string_view, std::string_view>>& groupLines = {}) {
        const LabelSpelling spelling = spellingForLabel(label, vocabulary);
        const std::string_view group = labelGroup(spelling, !groupLines.empty());
        types.insert(types.end(), spelling.types.begin(), spelling.types.end());
        if (!types.empty()) parameters.push_back({"TYPE", std::move(types)});
        beginLine(name, parameters, group);
        writeValue();
        endLine();
        if (!spelling.labelText.empty()) escapedProperty("X-ABLabel", spelling.labelText, group);
        for (const auto& [lineName, lineValue] : groupLines) {
            escapedProperty(lineName, lineValue, group);
        }
    }

    // A labelled property whose value is one escaped text.
    void labelledText(std::string_view name, const std::string& label, LabelVocabulary vocabulary,
                      std::vector<std::string_view> types, std::string_view value) {
        labelled(name, label, vocabulary, {}, std::move(types),
                 [&] { appendEscapedText(out_, value); });
    }

    void writeNames(const Contact& contact) {
        structuredProperty("N", {contact.familyName, contact.givenName, contact.middleName,
                                 contact.namePrefix, contact.nameSuffix});
        escapedProperty("FN", formattedName(contact));
        text("NICKNAME", contact.nickname);
        text("X-MAIDENNAME", contact.previousFamilyName);
        text("X-PHONETIC-FIRST-NAME", contact.phoneticGivenName);
        text("X-PHONETIC-MIDDLE-NAME", contact.phoneticMiddleName);
        text("X-PHONETIC-LAST-NAME", contact.phoneticFamilyName);
    }

    void writeOrganization(const Contact& contact) {
        if (!contact.organizationName.empty() || !contact.departmentName.empty()) {
            structuredProperty("ORG", {contact.organizationName, contact.departmentName});
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
            labelledText("EMAIL", email.label, LabelVocabulary::general, {"INTERNET"}, email.value);
        }
        for (const auto& phone : contact.phoneNumbers) {
            if (phone.value.empty()) continue;
            labelledText("TEL", phone.label, LabelVocabulary::phone, {}, phone.value);
        }
        for (const auto& [identifier, label, address] : contact.postalAddresses) {
            if (address.isEmpty()) continue;
            std::vector<std::pair<std::string_view, std::string_view>> groupLines;
            if (!address.isoCountryCode.empty())
                groupLines.emplace_back("X-ABADR", address.isoCountryCode);
            if (!address.subLocality.empty()) {
                groupLines.emplace_back("X-APPLE-SUBLOCALITY", address.subLocality);
            }
            if (!address.subAdministrativeArea.empty()) {
                groupLines.emplace_back("X-APPLE-SUBADMINISTRATIVEAREA",
                                        address.subAdministrativeArea);
            }
            labelled(
                "ADR", label, LabelVocabulary::general, {}, {},
                // clang 14 cannot capture structured bindings, so the lambdas here capture
                // named references.
                [&, &postal = address] {
                    out_ += ";;";
                    for (const std::string* part :
                         {&postal.street, &postal.city, &postal.state, &postal.postalCode}) {
                        appendEscapedText(out_, *part);
                        out_ += ';';
                    }
                    appendEscapedText(out_, postal.country);
                },
                groupLines);
        }
        for (const auto& url : contact.urlAddresses) {
            if (url.value.empty()) continue;
            labelledText("URL", url.label, LabelVocabulary::general, {}, url.value);
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
        // The first anniversary as the property other programs show; any further one (a
        // vCard has one ANNIVERSARY) as a labelled date like the rest.
        bool anniversaryWritten = false;
        for (const auto& date : contact.dates) {
            const auto value = formatDate(date.value);
            if (value.empty()) continue;
            if (date.label == Label::anniversary && !anniversaryWritten) {
                property("X-ANNIVERSARY", calendarParameters(date.value), value);
                anniversaryWritten = true;
                continue;
            }
            labelled("X-ABDATE", date.label, LabelVocabulary::none, calendarParameters(date.value),
                     {}, [&] { out_ += value; });
        }
    }

    // Apple's grouped X-ABRELATEDNAMES for every related name; then for the first spouse,
    // manager and assistant the property of its own that other programs read.
    void writeRelatedNames(const Contact& contact) {
        std::vector<std::string_view> written;
        for (const auto& relation : contact.contactRelations) {
            if (relation.value.name.empty()) continue;
            labelledText("X-ABRELATEDNAMES", relation.label, LabelVocabulary::relation, {},
                         relation.value.name);
        }
        for (const auto& relation : contact.contactRelations) {
            const std::string_view name = vCardRelationProperty(relation.label);
            if (relation.value.name.empty() || name.empty() ||
                std::find(written.begin(), written.end(), name) != written.end()) {
                continue;
            }
            written.push_back(name);
            escapedProperty(name, relation.value.name);
        }
    }

    void writeOthers(const Contact& contact) {
        if (options_.includeRelatedNames) writeRelatedNames(contact);
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
                     [&, &url = profile.urlString] { appendEscapedText(out_, url); });
        }
        for (const auto& [identifier, label, address] : contact.instantMessageAddresses) {
            if (address.username.empty()) continue;
            std::vector<Parameter> parameters;
            if (!address.service.empty()) {
                parameters.push_back({"X-SERVICE-TYPE", {address.service}});
            }
            labelled("IMPP", label, LabelVocabulary::general, std::move(parameters), {},
                     [&, &im = address] {
                         out_ += instantMessageSchemeForService(im.service);
                         out_ += ':';
                         appendEscapedText(out_, im.username);
                     });
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
                    parameters.push_back({"TYPE", {type}});
                }
                property("PHOTO", parameters, encodeBase64(image));
            }
        }
        if (options_.includeCategories && options_.categories) {
            std::string names;
            for (const auto& name : options_.categories(contact)) {
                if (name.empty()) continue;
                if (!names.empty()) names += ',';
                appendEscapedText(names, name);
            }
            if (!names.empty()) property("CATEGORIES", {}, names);
        }
    }

    std::string& out_;
    const VCardWriteOptions& options_;
    int groups_ = 0;
    std::size_t lineStart_ = 0;
    std::string group_;
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

namespace {

bool equalsIgnoringAsciiCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (fold(left[index]) != fold(right[index])) return false;
    }
    return true;
}

}  // namespace

std::string vCardWithCategories(std::string_view text, const std::vector<std::string>& names) {
    std::string line;
    if (!names.empty()) {
        std::string card;
        VCardWriteOptions options;
        options.categories = [&](const Contact&) { return names; };
        appendVCard(card, Contact{}, options);
        const std::size_t start = card.find("\r\nCATEGORIES");
        if (start != std::string::npos) {
            std::size_t end = start + 2;
            while ((end = card.find("\r\n", end)) != std::string::npos && end + 2 < card.size() &&
                   (card[end + 2] == ' ' || card[end + 2] == '\t'))
                end += 2;
            line = card.substr(start + 2, end + 2 - (start + 2));
        }
    }
    const bool crlf = text.find("\r\n") != std::string_view::npos;
    if (!crlf) {
        std::string plain;
        for (char c : line)
            if (c != '\r') plain += c;
        line = std::move(plain);
    }
    std::string out;
    out.reserve(text.size() + line.size());
    bool skipping = false;  // inside a CATEGORIES line and its folded continuations
    bool inserted = false;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        end = end == std::string_view::npos ? text.size() : end + 1;
        const std::string_view physical = text.substr(position, end - position);
        position = end;
        const bool continuation =
            !physical.empty() && (physical.front() == ' ' || physical.front() == '\t');
        if (continuation && skipping) continue;
        skipping = false;
        std::string_view name = physical.substr(0, physical.find_first_of(":;"));
        if (const auto dot = name.find('.'); dot != std::string_view::npos)
            name.remove_prefix(dot + 1);
        if (!continuation && equalsIgnoringAsciiCase(name, "CATEGORIES")) {
            skipping = true;
            continue;
        }
        if (!continuation && !inserted && equalsIgnoringAsciiCase(name, "END")) {
            out += line;
            inserted = true;
        }
        out += physical;
    }
    return out;
}

}  // namespace pelkora::contacts
