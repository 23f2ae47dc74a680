// Reading vCards: content lines to contacts.

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <set>
#include <span>
#include <utility>

#include "addressbook/ContactKeys.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "text/TextEncoding.h"
#include "vcard/VCard.h"
#include "vcard/VCardLabels_p.h"
#include "vcard/VCardLexer_p.h"
#include "vcard/VCardValue_p.h"

namespace pelkora::contacts {
namespace {

using namespace detail;

std::string_view trimmedValue(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string joined(std::span<const std::string> pieces, std::string_view separator) {
    std::string result;
    for (const auto& piece : pieces) {
        if (piece.empty()) continue;
        if (!result.empty()) result += separator;
        result += piece;
    }
    return result;
}

// The fields a grouped line adds to the address of its group (Apple's "item1.X-ABADR:de").
struct AddressExtras {
    std::string isoCountryCode;
    std::string subLocality;
    std::string subAdministrativeArea;
};

// One vCard's lines made into a contact. The steps: (1) note the version and what the groups
// say about their properties (custom labels, address extras), (2) give each property its
// meaning through the table in readProperty, (3) settle what depends on several properties: the
// name when there is only FN, the kind, the identifier, and addresses written twice.
class ContactReading {
  public:
    explicit ContactReading(std::span<const ContentLine* const> lines) {
        noteGroups(lines);
        for (const ContentLine* line : lines) readProperty(*line);
        settle();
    }

    Contact contact;
    std::vector<std::string> categories;

  private:
    using PropertyReader = void (ContactReading::*)(const ContentLine&);
    struct PropertyMeaning {
        std::string_view name;
        PropertyReader read;
    };

    void noteGroups(std::span<const ContentLine* const> lines) {
        for (const ContentLine* line : lines) {
            if (line->name == "VERSION") {
                if (version_.empty()) version_ = trimmedValue(line->value);
                continue;
            }
            if (line->group.empty()) continue;
            if (line->name == "X-ABLABEL") {
                if (auto label = text(*line); label && !label->empty()) {
                    labels_.try_emplace(line->group, std::move(*label));
                }
            } else if (line->name == "X-ABADR") {
                if (auto code = text(*line)) {
                    setOnce(addressExtras_[line->group].isoCountryCode, asciiLowercase(*code));
                }
            } else if (line->name == "X-APPLE-SUBLOCALITY") {
                if (auto value = text(*line))
                    setOnce(addressExtras_[line->group].subLocality, *value);
            } else if (line->name == "X-APPLE-SUBADMINISTRATIVEAREA") {
                if (auto value = text(*line)) {
                    setOnce(addressExtras_[line->group].subAdministrativeArea, *value);
                }
            }
        }
    }

    void readProperty(const ContentLine& line) {
        static constexpr PropertyMeaning kProperties[] = {
            {"N", &ContactReading::readName},
            {"FN", &ContactReading::readFormattedName},
            {"NICKNAME", &ContactReading::readNickname},
            {"X-MAIDENNAME", &ContactReading::readMaidenName},
            {"X-PHONETIC-FIRST-NAME", &ContactReading::readPhoneticGivenName},
            {"X-PHONETIC-MIDDLE-NAME", &ContactReading::readPhoneticMiddleName},
            {"X-PHONETIC-LAST-NAME", &ContactReading::readPhoneticFamilyName},
            {"X-PHONETIC-ORG", &ContactReading::readPhoneticOrganizationName},
            {"ORG", &ContactReading::readOrganization},
            {"TITLE", &ContactReading::readTitle},
            {"NOTE", &ContactReading::readNote},
            {"KIND", &ContactReading::readKind},
            {"X-ADDRESSBOOKSERVER-KIND", &ContactReading::readKind},
            {"X-ABSHOWAS", &ContactReading::readShowAs},
            {"BDAY", &ContactReading::readBirthday},
            {"X-ALTBDAY", &ContactReading::readAlternateBirthday},
            {"ANNIVERSARY", &ContactReading::readAnniversary},
            {"X-ANNIVERSARY", &ContactReading::readAnniversary},
            {"X-MS-ANNIVERSARY", &ContactReading::readAnniversary},
            {"X-EVOLUTION-ANNIVERSARY", &ContactReading::readAnniversary},
            {"X-ABDATE", &ContactReading::readDate},
            {"TEL", &ContactReading::readPhone},
            {"EMAIL", &ContactReading::readEmail},
            {"URL", &ContactReading::readUrl},
            {"ADR", &ContactReading::readAddress},
            {"RELATED", &ContactReading::readRelated},
            {"X-ABRELATEDNAMES", &ContactReading::readRelatedName},
            {"X-SOCIALPROFILE", &ContactReading::readSocialProfile},
            {"SOCIALPROFILE", &ContactReading::readSocialProfile},
            {"IMPP", &ContactReading::readInstantMessage},
            {"PHOTO", &ContactReading::readPhoto},
            {"CATEGORIES", &ContactReading::readCategories},
            {"UID", &ContactReading::readUid},
            {"X-ABUID", &ContactReading::readAppleUid},
            {"X-MAIDEN-NAME", &ContactReading::readMaidenName},
        };
        for (const auto& meaning : kProperties) {
            if (meaning.name == line.name) {
                (this->*meaning.read)(line);
                return;
            }
        }
        if (const auto service = instantMessageServiceForProperty(line.name); !service.empty()) {
            readInstantMessageProperty(line, service);
        } else if (const auto relation = relationLabelForProperty(line.name); !relation.empty()) {
            readRelationProperty(line, relation);
        }
    }

    void settle() {
        if (!hasName_ && !formattedName_.empty()) {
            // Without N, FN is the only name there is. It is not split into given and family
            // name: which word is which cannot be told from the text.
            if (isOrganization_) {
                if (contact.organizationName.empty()) contact.organizationName = formattedName_;
            } else if (formattedName_ != contact.organizationName) {
                contact.givenName = formattedName_;
            }
        }
        if (isOrganization_) contact.contactType = ContactType::organization;
        contact.identifier = !uid_.empty() ? uid_ : !appleUid_.empty() ? appleUid_ : makeUUID();

        // Apple's older vCards give an account both as IMPP and as X-AIM, X-JABBER …
        std::set<std::pair<std::string, std::string>> impp;
        for (std::size_t i = 0; i < instantMessageFromProperty_.size(); ++i) {
            if (instantMessageFromProperty_[i]) continue;
            const auto& address = contact.instantMessageAddresses[i].value;
            impp.emplace(address.service, address.username);
        }
        std::vector<LabeledValue<InstantMessageAddress>> addresses;
        for (std::size_t i = 0; i < instantMessageFromProperty_.size(); ++i) {
            auto& address = contact.instantMessageAddresses[i];
            if (instantMessageFromProperty_[i] &&
                impp.contains({address.value.service, address.value.username})) {
                continue;
            }
            addresses.push_back(std::move(address));
        }
        contact.instantMessageAddresses = std::move(addresses);

        // A spouse, manager or assistant written both as X-ABRELATEDNAMES (or RELATED) and as
        // X-SPOUSE, X-MANAGER … is one relation; so is one written as X-SPOUSE and as
        // X-EVOLUTION-SPOUSE.
        const auto& found = contact.contactRelations;
        const auto sameRelation = [&](std::size_t left, std::size_t right) {
            return found[left].value == found[right].value &&
                   (found[left].label == found[right].label ||
                    vCardRelationProperty(found[left].label) ==
                        vCardRelationProperty(found[right].label));
        };
        std::vector<LabeledValue<ContactRelation>> relations;
        for (std::size_t i = 0; i < found.size(); ++i) {
            bool duplicate = false;
            for (std::size_t j = 0; relationFromProperty_[i] && j < found.size() && !duplicate;
                 ++j) {
                duplicate = j != i && (!relationFromProperty_[j] || j < i) && sameRelation(i, j);
            }
            if (!duplicate) relations.push_back(found[i]);
        }
        contact.contactRelations = std::move(relations);
    }

    static void setOnce(std::string& field, const std::string& value) {
        if (field.empty()) field = value;
    }

    // The value as text, escapes resolved; none when its Base64 is broken.
    static std::optional<std::string> text(const ContentLine& line) {
        auto value = decodedText(line);
        if (!value) return std::nullopt;
        return unescapeText(*value);
    }

    // The pieces of a structured value (N, ADR, ORG), padded with empty ones to count.
    static std::vector<std::string> components(const ContentLine& line, std::size_t count) {
        std::vector<std::string> pieces;
        if (auto value = decodedText(line)) {
            for (const auto piece : splitEscaped(*value, ';'))
                pieces.push_back(unescapeText(piece));
        }
        if (pieces.size() < count) pieces.resize(count);
        return pieces;
    }

    std::string label(const ContentLine& line, LabelVocabulary vocabulary) const {
        if (!line.group.empty()) {
            if (const auto found = labels_.find(line.group); found != labels_.end()) {
                return labelForText(found->second);
            }
        }
        const auto types = line.parameterValues("TYPE");
        return parameterText(labelForTypes(types, vocabulary));
    }

    // A date with Apple's "no year" (X-APPLE-OMIT-YEAR=1604 on 1604-03-15) and its calendar.
    static std::optional<DateComponents> date(const ContentLine& line) {
        const auto value = text(line);
        if (!value) return std::nullopt;
        auto date = parseDate(*value);
        if (!date) return std::nullopt;
        const std::string_view omitted = line.parameter("X-APPLE-OMIT-YEAR");
        int omittedYear = 0;
        if (date->year && !omitted.empty() &&
            std::from_chars(omitted.data(), omitted.data() + omitted.size(), omittedYear).ec ==
                std::errc{} &&
            omittedYear == *date->year) {
            date->year.reset();
            if (!date->month && !date->day) return std::nullopt;
        }
        const std::string calendar = asciiLowercase(parameterText(line.parameter("CALSCALE")));
        if (calendar != "gregorian") date->calendar = calendar;
        return date;
    }

    void readName(const ContentLine& line) {
        if (nameRead_) return;
        nameRead_ = true;
        auto parts = components(line, 5);
        contact.familyName = std::move(parts[0]);
        contact.givenName = std::move(parts[1]);
        contact.middleName = std::move(parts[2]);
        contact.namePrefix = std::move(parts[3]);
        contact.nameSuffix = std::move(parts[4]);
        hasName_ = !(contact.familyName.empty() && contact.givenName.empty() &&
                     contact.middleName.empty() && contact.namePrefix.empty() &&
                     contact.nameSuffix.empty());
    }

    void readFormattedName(const ContentLine& line) {
        if (auto value = text(line)) setOnce(formattedName_, *value);
    }

    void readTextInto(const ContentLine& line, std::string Contact::*field) {
        if (auto value = text(line)) setOnce(contact.*field, *value);
    }
    void readNickname(const ContentLine& line) { readTextInto(line, &Contact::nickname); }
    void readMaidenName(const ContentLine& line) {
        readTextInto(line, &Contact::previousFamilyName);
    }
    void readPhoneticGivenName(const ContentLine& line) {
        readTextInto(line, &Contact::phoneticGivenName);
    }
    void readPhoneticMiddleName(const ContentLine& line) {
        readTextInto(line, &Contact::phoneticMiddleName);
    }
    void readPhoneticFamilyName(const ContentLine& line) {
        readTextInto(line, &Contact::phoneticFamilyName);
    }
    void readPhoneticOrganizationName(const ContentLine& line) {
        readTextInto(line, &Contact::phoneticOrganizationName);
    }
    void readTitle(const ContentLine& line) { readTextInto(line, &Contact::jobTitle); }
    void readNote(const ContentLine& line) { readTextInto(line, &Contact::note); }

    void readOrganization(const ContentLine& line) {
        if (!contact.organizationName.empty() || !contact.departmentName.empty()) return;
        auto units = components(line, 1);
        contact.organizationName = std::move(units[0]);
        // Further units are sub-departments ("ORG:ACME;Research;Optics").
        contact.departmentName = joined(std::span(units).subspan(1), ", ");
    }

    void readKind(const ContentLine& line) {
        const auto kind = trimmedValue(line.value);
        if (equalsIgnoringCase(kind, "org") || equalsIgnoringCase(kind, "organization")) {
            isOrganization_ = true;
        }
    }

    void readShowAs(const ContentLine& line) {
        if (equalsIgnoringCase(trimmedValue(line.value), "COMPANY")) isOrganization_ = true;
    }

    void readBirthday(const ContentLine& line) {
        if (!contact.birthday) contact.birthday = date(line);
    }

    void readAlternateBirthday(const ContentLine& line) {
        if (!contact.nonGregorianBirthday) contact.nonGregorianBirthday = date(line);
    }

    void readAnniversary(const ContentLine& line) {
        if (auto anniversary = date(line)) {
            auto name = label(line, LabelVocabulary::none);
            if (name.empty()) name = Label::anniversary;
            contact.dates.push_back(labeled(std::move(name), std::move(*anniversary)));
        }
    }

    void readDate(const ContentLine& line) {
        if (auto value = date(line)) {
            contact.dates.push_back(labeled(label(line, LabelVocabulary::none), std::move(*value)));
        }
    }

    void readPhone(const ContentLine& line) {
        auto number = text(line);
        if (!number) return;
        // vCard 4.0 writes numbers as "tel:" URIs.
        if ((equalsIgnoringCase(line.parameter("VALUE"), "uri") || version_ == "4.0") &&
            startsWithIgnoringCase(*number, "tel:")) {
            number->erase(0, 4);
        }
        if (number->empty()) return;
        contact.phoneNumbers.push_back(
            labeled(label(line, LabelVocabulary::phone), std::move(*number)));
    }

    void readEmail(const ContentLine& line) {
        auto address = text(line);
        if (!address || address->empty()) return;
        contact.emailAddresses.push_back(
            labeled(label(line, LabelVocabulary::general), std::move(*address)));
    }

    void readUrl(const ContentLine& line) {
        auto url = text(line);
        if (!url || url->empty()) return;
        contact.urlAddresses.push_back(
            labeled(label(line, LabelVocabulary::general), std::move(*url)));
    }

    void readAddress(const ContentLine& line) {
        auto parts = components(line, 7);
        PostalAddress address;
        // Post office box and extended address ("Suite 5") become further street lines.
        address.street = joined(std::array{parts[2], parts[1], parts[0]}, "\n");
        address.city = std::move(parts[3]);
        address.state = std::move(parts[4]);
        address.postalCode = std::move(parts[5]);
        address.country = std::move(parts[6]);
        if (!line.group.empty()) {
            if (const auto found = addressExtras_.find(line.group); found != addressExtras_.end()) {
                address.isoCountryCode = found->second.isoCountryCode;
                address.subLocality = found->second.subLocality;
                address.subAdministrativeArea = found->second.subAdministrativeArea;
            }
        }
        if (address.isEmpty()) return;
        contact.postalAddresses.push_back(
            labeled(label(line, LabelVocabulary::general), std::move(address)));
    }

    void readRelated(const ContentLine& line) {
        auto name = text(line);
        if (!name || name->empty()) return;
        auto relation = label(line, LabelVocabulary::relation);
        // RFC 6350 has relation types no label stands for ("emergency", "neighbor"); the word
        // is kept as a custom label rather than lost.
        if (relation.empty()) {
            for (const auto type : line.parameterValues("TYPE")) {
                if (!type.empty() && !equalsIgnoringCase(type, "pref")) {
                    relation = parameterText(type);
                    break;
                }
            }
        }
        contact.contactRelations.push_back(
            labeled(std::move(relation), ContactRelation{std::move(*name)}));
        relationFromProperty_.push_back(false);
    }

    void readRelatedName(const ContentLine& line) {
        auto name = text(line);
        if (!name || name->empty()) return;
        contact.contactRelations.push_back(
            labeled(label(line, LabelVocabulary::relation), ContactRelation{std::move(*name)}));
        relationFromProperty_.push_back(false);
    }

    // X-SPOUSE, X-MANAGER and their kin: one related name of a fixed label.
    void readRelationProperty(const ContentLine& line, std::string_view relation) {
        auto name = text(line);
        if (!name || name->empty()) return;
        contact.contactRelations.push_back(
            labeled(std::string(relation), ContactRelation{std::move(*name)}));
        relationFromProperty_.push_back(true);
    }

    void readSocialProfile(const ContentLine& line) {
        auto url = text(line);
        if (!url) return;
        SocialProfile profile;
        profile.urlString = std::move(*url);
        const auto joinedParameter = [&](std::string_view name) {
            std::string value;
            for (const auto piece : line.parameterValues(name)) {
                if (!value.empty()) value += ',';
                value += piece;
            }
            return parameterText(value);
        };
        profile.username = joinedParameter("X-USER");
        profile.userIdentifier = joinedParameter("X-USERID");
        // Apple names the service in TYPE, RFC 9554's SOCIALPROFILE in SERVICE-TYPE. A TYPE
        // list is a name with commas, as a writer quotes it ("Mastodon, Fediverse").
        std::string service(line.parameter("SERVICE-TYPE"));
        if (service.empty()) {
            bool first = true;
            for (const auto type : line.parameterValues("TYPE")) {
                if (equalsIgnoringCase(type, "pref")) continue;
                if (!first) service += ',';
                service += type;
                first = false;
            }
        }
        profile.service = canonicalSocialProfileService(parameterText(service));
        if (profile.urlString.empty() && profile.username.empty() &&
            profile.userIdentifier.empty()) {
            return;
        }
        contact.socialProfiles.push_back(
            labeled(label(line, LabelVocabulary::none), std::move(profile)));
    }

    void readInstantMessage(const ContentLine& line) {
        auto value = text(line);
        if (!value) return;
        InstantMessageAddress address;
        const std::string_view named = line.parameter("X-SERVICE-TYPE");
        std::optional<std::string_view> schemeService;
        const std::size_t colon = value->find(':');
        if (colon != std::string::npos)
            schemeService = instantMessageServiceForScheme(value->substr(0, colon));
        // A scheme no program uses for instant messages may be part of the name: keep it.
        address.username = schemeService ? value->substr(colon + 1) : *value;
        if (!named.empty()) {
            address.service = canonicalInstantMessageService(parameterText(named));
        } else if (schemeService) {
            address.service = *schemeService;
        }
        if (address.username.empty()) return;
        contact.instantMessageAddresses.push_back(
            labeled(label(line, LabelVocabulary::general), std::move(address)));
        instantMessageFromProperty_.push_back(false);
    }

    void readInstantMessageProperty(const ContentLine& line, std::string_view service) {
        auto username = text(line);
        if (!username || username->empty()) return;
        contact.instantMessageAddresses.push_back(
            labeled(label(line, LabelVocabulary::general),
                    InstantMessageAddress{std::move(*username), std::string(service)}));
        instantMessageFromProperty_.push_back(true);
    }

    void readPhoto(const ContentLine& line) {
        if (!contact.imageData.empty()) return;
        std::optional<std::vector<std::uint8_t>> bytes;
        const std::string_view encoding = line.parameter("ENCODING");
        const std::string_view value = trimmedValue(line.value);
        if (equalsIgnoringCase(encoding, "B") || equalsIgnoringCase(encoding, "BASE64")) {
            bytes = decodeBase64(value);
        } else if (startsWithIgnoringCase(value, "data:")) {
            // "data:image/jpeg;base64,/9j/4AAQ…" (vCard 4.0).
            const std::size_t comma = value.find(',');
            const std::string_view header = value.substr(0, comma);
            if (comma != std::string_view::npos && header.size() >= 7 &&
                equalsIgnoringCase(header.substr(header.size() - 7), ";base64")) {
                bytes = decodeBase64(value.substr(comma + 1));
            }
        }
        // A link to a photo elsewhere is not fetched, and a broken photo is left out.
        if (bytes && !bytes->empty()) contact.imageData = std::move(*bytes);
    }

    void readCategories(const ContentLine& line) {
        const auto value = decodedText(line);
        if (!value) return;
        for (const auto piece : splitEscaped(*value, ',')) {
            auto name = unescapeText(piece);
            if (name.empty() || !categoryNames_.insert(name).second) continue;
            categories.push_back(std::move(name));
        }
    }

    void readUid(const ContentLine& line) {
        auto value = text(line);
        if (!value) return;
        // Stripped as often as it is there, so that an identifier never begins with it and
        // reads back the same after writing.
        while (startsWithIgnoringCase(*value, "urn:uuid:")) value->erase(0, 9);
        setOnce(uid_, *value);
    }

    void readAppleUid(const ContentLine& line) {
        auto value = text(line);
        if (!value) return;
        // "5F2A…:ABPerson"
        if (const auto colon = value->find(':'); colon != std::string::npos) value->resize(colon);
        setOnce(appleUid_, *value);
    }

    std::string version_;
    std::map<std::string, std::string> labels_;  // by group
    std::map<std::string, AddressExtras> addressExtras_;
    bool nameRead_ = false;
    bool hasName_ = false;
    std::string formattedName_;
    bool isOrganization_ = false;
    std::string uid_;
    std::string appleUid_;
    std::vector<bool> instantMessageFromProperty_;  // parallel to the addresses
    std::vector<bool> relationFromProperty_;        // parallel to the relations
    std::set<std::string> categoryNames_;
};

// The input as UTF-8: UTF-16 (with a byte-order mark, or recognised by the zero bytes around
// "BEGIN") is converted, a UTF-8 byte-order mark skipped; anything else is left to the values'
// own CHARSET parameters.
Expected<std::string_view, VCardError> unicodeText(std::string_view bytes, std::string& converted) {
    // Past the end is no byte value at all, so that one byte 0xFE is no byte-order mark.
    const auto at = [&](std::size_t i) {
        return i < bytes.size() ? static_cast<int>(static_cast<unsigned char>(bytes[i])) : -1;
    };
    std::optional<TextEncoding> encoding;
    std::size_t skip = 0;
    if (at(0) == 0xFE && at(1) == 0xFF) {
        encoding = TextEncoding::utf16BigEndian();
        skip = 2;
    } else if (at(0) == 0xFF && at(1) == 0xFE) {
        encoding = TextEncoding::utf16LittleEndian();
        skip = 2;
    } else if (at(0) == 0 && (at(1) == 'B' || at(1) == 'b') && at(2) == 0) {
        encoding = TextEncoding::utf16BigEndian();
    } else if ((at(0) == 'B' || at(0) == 'b') && at(1) == 0 && at(2) != 0) {
        encoding = TextEncoding::utf16LittleEndian();
    }
    if (encoding) {
        const auto data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        auto text = decodeStrictly({data + skip, bytes.size() - skip}, *encoding);
        if (!text) {
            return Unexpected(lineError(1, localizedString("the text is UTF-16 but damaged (an odd "
                                                           "number of bytes or an unpaired "
                                                           "surrogate)")));
        }
        converted = std::move(*text);
        return std::string_view(converted);
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return bytes;
}

}  // namespace

Expected<std::vector<VCardEntry>, VCardError> readVCards(std::string_view bytes) {
    // Steps: the bytes as text, its content lines, the runs of lines from BEGIN:VCARD to
    // END:VCARD (a vCard 2.1 AGENT may nest a whole vCard, whose lines are skipped), and each
    // run's contact.
    std::string converted;
    auto text = unicodeText(bytes, converted);
    if (!text) return Unexpected(text.error());
    // A NUL is no character of any name, parameter or value (and the writer leaves it out):
    // a damaged file's NULs are dropped before the lines are read.
    std::string withoutNul;
    if (text->find('\0') != std::string_view::npos) {
        withoutNul.reserve(text->size());
        for (const char c : *text) {
            if (c != '\0') withoutNul += c;
        }
        text = std::string_view(withoutNul);
    }
    const auto lines = lexContentLines(*text);
    if (!lines) return Unexpected(lines.error());

    std::vector<VCardEntry> entries;
    std::size_t depth = 0;
    const ContentLine* begin = nullptr;
    std::vector<const ContentLine*> ownLines;
    for (const auto& line : *lines) {
        if (line.name == "BEGIN" && line.group.empty()) {
            if (depth == 0) {
                if (!equalsIgnoringCase(trimmedValue(line.value), "VCARD")) {
                    return Unexpected(
                        lineError(line.lineNumber,
                                  formatMessage(localizedString("BEGIN:%@ begins something that "
                                                                "is not a vCard"),
                                                parameterText(line.value.substr(0, 40)))));
                }
                begin = &line;
                ownLines.clear();
            }
            ++depth;
            continue;
        }
        if (line.name == "END" && line.group.empty()) {
            if (depth == 0) {
                return Unexpected(lineError(
                    line.lineNumber, localizedString("END:VCARD without a BEGIN:VCARD before it")));
            }
            if (--depth == 0) {
                ContactReading reading(ownLines);
                entries.push_back(
                    VCardEntry{std::move(reading.contact), std::move(reading.categories),
                               std::string(text->substr(begin->begin, line.end - begin->begin))});
            }
            continue;
        }
        if (depth == 0) {
            return Unexpected(lineError(
                line.lineNumber, formatMessage(localizedString("a %@ property outside a vCard "
                                                               "(BEGIN:VCARD must come first)"),
                                               line.name)));
        }
        if (depth == 1) ownLines.push_back(&line);
    }
    if (depth > 0) {
        return Unexpected(lineError(begin->lineNumber,
                                    localizedString("the vCard that begins here has no END:VCARD "
                                                    "(the text ends inside it)")));
    }
    if (entries.empty()) {
        return Unexpected(
            lineError(1, localizedString("there is no vCard in the text (no BEGIN:VCARD line)")));
    }
    return entries;
}

Expected<std::vector<Contact>, VCardError> contactsWithData(std::string_view bytes) {
    auto entries = readVCards(bytes);
    if (!entries) return Unexpected(entries.error());
    std::vector<Contact> contacts;
    contacts.reserve(entries->size());
    for (auto& entry : *entries) contacts.push_back(std::move(entry.contact));
    return contacts;
}

}  // namespace pelkora::contacts
