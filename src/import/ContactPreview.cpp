#include "import/ContactPreview.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/ContactLocalization.h"
#include "addressbook/PostalAddressFormatter.h"
#include "addressbook/UserCountry.h"
#include "support/Escaping.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Utf8.h"
#include "text/DateFormatting.h"
#include "text/UnicodeText.h"

namespace pelkora {

namespace {

using contacts::ContactFormatterStyle;
using contacts::ContactType;
using contacts::DateComponents;

// U+00A0 NO-BREAK SPACE, U+00B7 MIDDLE DOT, U+00A0: the job-line separator, kept from breaking
// so that a wrapped line never starts with the dot.
constexpr std::string_view kJobSeparator = "\u00A0\u00B7\u00A0";
constexpr std::string_view kNoBreakSpace = "\u00A0";

void appendIfNew(std::vector<PreviewLine>& lines, std::string text, PreviewTitleStyle style) {
    if (text.empty()) {
        return;
    }
    const bool known = std::any_of(lines.begin(), lines.end(),
                                   [&](const PreviewLine& line) { return line.text == text; });
    if (!known) {
        lines.push_back(PreviewLine{std::move(text), style});
    }
}

// Steps: the contact's own full and phonetic names, then the same contact read as the other
// type (a person's company, an organization's contact person) where that differs, else
// "No Name"; the nickname in quotation marks last.
std::vector<PreviewLine> nameBlock(const contacts::Contact& contact) {
    contacts::Contact otherType = contact;
    otherType.contactType = contact.contactType == ContactType::organization
                                ? ContactType::person
                                : ContactType::organization;
    std::vector<PreviewLine> lines;
    const std::array<const contacts::Contact*, 2> renderings{&contact, &otherType};
    for (const contacts::Contact* rendered : renderings) {
        for (const auto style :
             {ContactFormatterStyle::fullName, ContactFormatterStyle::phoneticFullName}) {
            appendIfNew(lines, contacts::stringFromContact(*rendered, style),
                        PreviewTitleStyle::alternateName);
        }
    }
    // Whatever name comes first is the title, so an unnamed person with a company is titled
    // by the company rather than "No Name".
    if (lines.empty()) {
        lines.push_back(
            PreviewLine{localizedString("No Name", "Preview title of a contact without name"), {}});
    }
    lines.front().style = PreviewTitleStyle::name;
    if (!contact.nickname.empty()) {
        lines.push_back(PreviewLine{
            formatMessage(localizedString("\u201C%@\u201D", "Nickname in the contact preview"),
                          contact.nickname),
            PreviewTitleStyle::alternateName});
    }
    return lines;
}

// An organization's name already heads its name block, so only a person's job line repeats it.
std::string jobLine(const contacts::Contact& contact) {
    std::vector<std::string_view> parts{contact.jobTitle, contact.departmentName};
    if (contact.contactType == ContactType::person) {
        parts.push_back(contact.organizationName);
    }
    std::string line;
    for (const std::string_view part : parts) {
        if (part.empty()) {
            continue;
        }
        if (!line.empty()) {
            line += kJobSeparator;
        }
        line += part;
    }
    return line;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Without a year, 29 February is a valid birthday.
int daysInMonth(int month, const std::optional<int>& year) {
    constexpr std::array<int, 12> kDays{31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && year.has_value() && !isLeapYear(*year)) {
        return 28;
    }
    return kDays.at(static_cast<std::size_t>(month - 1));
}

std::string monthName(int month) {
    static constexpr std::array<std::string_view, 12> kMonths{
        N_("January"),   N_("February"), N_("March"),    N_("April"),
        N_("May"),       N_("June"),     N_("July"),     N_("August"),
        N_("September"), N_("October"),  N_("November"), N_("December")};
    return localizedString(kMonths.at(static_cast<std::size_t>(month - 1)),
                           "Month name in a date of the contact preview");
}

std::string labelText(const std::string& label) {
    return contacts::localizedStringForLabel(label);
}

std::string keyText(std::string_view key) {
    return contacts::localizedStringForKey(key);
}

// The country's name, or its code when there is no name for it.
std::string countryName(std::string_view code) {
    std::string name = contacts::countryNameForCode(code);
    return name.empty() ? std::string(code) : name;
}

// An address of a known country is laid out by that country's rules and one without any
// country by the user's: that is the layout anyone expects, and a note under every address
// would only repeat it. Only an address whose country is not recognised gets a note, naming
// the layout it got instead: its ISO code as it stands (the international layout), or for
// a country name alone "Default (…)" with the user's country.
std::string addressFormatNote(const contacts::PostalAddress& address) {
    if (contacts::countryCodeOfAddress(address)) {
        return {};
    }
    std::string country;
    if (!trimmedWhiteSpace(address.isoCountryCode).empty()) {
        country = countryName(trimmedWhiteSpace(address.isoCountryCode));
    } else if (!trimmedWhiteSpace(address.country).empty()) {
        country = formatMessage(
            localizedString("Default (%@)", "Address format of an address without country code"),
            countryName(contacts::defaultCountryCode()));
    } else {
        return {};
    }
    return formatMessage(localizedString("Address Format (%1$@): %2$@",
                                         "Note under a postal address in the contact preview"),
                         keyText(contacts::PostalAddressKey::isoCountryCode), country);
}

template <typename Value, typename Text>
void appendRows(std::vector<PreviewRow>& rows,
                const std::vector<contacts::LabeledValue<Value>>& values, Text valueText) {
    for (const auto& labeledValue : values) {
        rows.push_back(
            PreviewRow{labelText(labeledValue.label), valueText(labeledValue.value), {}});
    }
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return lines;
        }
        start = end + 1;
    }
}

std::string escapeHtml(std::string_view text) {
    std::string escaped;
    for (const char c : markupEscaped(text)) {
        if (c == '\n')
            escaped += "<br>";
        else
            escaped += c;
    }
    return escaped;
}

}  // namespace

std::string previewDateText(const DateComponents& date) {
    const bool makesDate = date.month.has_value() && date.day.has_value() && *date.month >= 1 &&
                           *date.month <= 12 && *date.day >= 1 &&
                           *date.day <= daysInMonth(*date.month, date.year);
    if (!makesDate) {
        return "???";
    }
    // The platform converts no calendars, so a date of another calendar keeps its own numbers
    // and names the calendar rather than borrowing Gregorian month names.
    if (!date.calendar.empty() && date.calendar != "gregorian") {
        std::string text = std::to_string(*date.day) + "." + std::to_string(*date.month) + ".";
        if (date.year.has_value()) {
            text += std::to_string(*date.year);
        }
        return text + " (" + date.calendar + ")";
    }
    if (std::string text = dates::calendarDayText(date.year, *date.month, *date.day); !text.empty())
        return text;
    std::string text = std::to_string(*date.day) + " " + monthName(*date.month);
    if (date.year.has_value()) {
        text += " " + std::to_string(*date.year);
    }
    return text;
}

// Steps: name block, job line, then the labelled rows in the address book's order.
PreviewDocument attributedPreview(const contacts::Contact& contact,
                                  const std::vector<std::string>& groupNames) {
    PreviewDocument document;
    document.titleLines = nameBlock(contact);
    document.subtitle = jobLine(contact);

    std::vector<PreviewRow>& rows = document.rows;
    if (!contact.previousFamilyName.empty()) {
        rows.push_back(PreviewRow{
            keyText(contacts::ContactKey::previousFamilyName), contact.previousFamilyName, {}});
    }
    const auto asIs = [](const std::string& value) { return value; };
    appendRows(rows, contact.phoneNumbers, asIs);
    appendRows(rows, contact.emailAddresses, asIs);
    appendRows(rows, contact.urlAddresses, asIs);
    if (contact.birthday.has_value()) {
        rows.push_back(PreviewRow{
            keyText(contacts::ContactKey::birthday), previewDateText(*contact.birthday), {}});
    }
    appendRows(rows, contact.dates, previewDateText);
    appendRows(rows, contact.contactRelations,
               [](const contacts::ContactRelation& relation) { return relation.name; });
    for (const auto& profile : contact.socialProfiles) {
        rows.push_back(
            PreviewRow{contacts::localizedStringForSocialProfileService(profile.value.service),
                       profile.value.username,
                       {}});
    }
    appendRows(rows, contact.instantMessageAddresses,
               [](const contacts::InstantMessageAddress& address) {
                   std::string text = address.username;
                   for (int i = 0; i < 3; ++i) {
                       text += kNoBreakSpace;
                   }
                   return text + contacts::localizedStringForInstantMessageService(address.service);
               });
    for (const auto& address : contact.postalAddresses) {
        rows.push_back(PreviewRow{labelText(address.label),
                                  contacts::formatPostalAddress(address.value),
                                  addressFormatNote(address.value)});
    }
    if (!groupNames.empty()) {
        std::string joined;
        for (const std::string& name : groupNames) {
            if (!joined.empty()) {
                joined += ", ";
            }
            joined += name;
        }
        rows.push_back(
            PreviewRow{localizedString("Groups", "Label of the group names in the contact preview"),
                       joined,
                       {}});
    }
    if (!contact.note.empty()) {
        rows.push_back(PreviewRow{keyText(contacts::ContactKey::note), contact.note, {}});
    }
    return document;
}

std::string renderPlainText(const PreviewDocument& document) {
    std::string text;
    for (const PreviewLine& line : document.titleLines) {
        text += line.text + "\n";
    }
    if (!document.subtitle.empty()) {
        text += document.subtitle + "\n";
    }
    if (document.rows.empty()) {
        return text;
    }
    text += "\n";
    std::size_t labelWidth = 0;
    for (const PreviewRow& row : document.rows) {
        labelWidth = std::max(labelWidth, utf8::codePointCount(row.label));
    }
    const std::string indent(labelWidth + 2, ' ');
    for (const PreviewRow& row : document.rows) {
        std::vector<std::string_view> lines = splitLines(row.value);
        if (!row.note.empty()) {
            lines.push_back(row.note);
        }
        text += row.label + std::string(labelWidth - utf8::codePointCount(row.label) + 2, ' ');
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i > 0) {
                text += indent;
            }
            text += std::string(lines[i]) + "\n";
        }
    }
    return text;
}

std::string renderHtml(const PreviewDocument& document) {
    std::string html = "<div class=\"contact-preview\">\n";
    for (const PreviewLine& line : document.titleLines) {
        const char* style = line.style == PreviewTitleStyle::name ? "name" : "alternate-name";
        html += std::string("<p class=\"") + style + "\">" + escapeHtml(line.text) + "</p>\n";
    }
    if (!document.subtitle.empty()) {
        html += "<p class=\"job\">" + escapeHtml(document.subtitle) + "</p>\n";
    }
    if (!document.rows.empty()) {
        html += "<table class=\"rows\">\n";
        for (const PreviewRow& row : document.rows) {
            html += "<tr><td class=\"label\">" + escapeHtml(row.label) +
                    "</td><td class=\"value\">" + escapeHtml(row.value);
            if (!row.note.empty()) {
                html += "<br><span class=\"note\">" + escapeHtml(row.note) + "</span>";
            }
            html += "</td></tr>\n";
        }
        html += "</table>\n";
    }
    return html + "</div>\n";
}

}  // namespace pelkora
