#include "addressbook/PostalAddressFormatter.h"

#include <algorithm>
#include <array>

#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/ContactText_p.h"
#include "addressbook/UserCountry.h"
#include "support/Localization.h"

namespace pelkora::contacts {

namespace {

using detail::asciiLowercased;
using detail::trimmedText;

// A layout is the address's lines with "\n" between them. "{key}" stands for the part of
// the address with that postal address key; other text is written before the part that
// follows it, and only when that part is not empty and the line already has text or the
// text begins the line ("〒" before a Japanese postal code). Two parts without text
// between them are joined with a space, or with nothing when both are CJK text.
struct AddressLayout {
    std::string_view countryCode;
    std::string_view name;
    std::string_view lines;
};

constexpr std::array<AddressLayout, 13> kAddressLayouts = {{
    {"us", N_("United States"), "{street}\n{city}, {state} {postalCode}\n{country}"},
    {"ca", N_("Canada"), "{street}\n{city} {state} {postalCode}\n{country}"},
    // Royal Mail wants the post town and the postcode on lines of their own.
    {"gb", N_("United Kingdom"),
     "{street}\n{subLocality}\n{city}\n{state}\n{postalCode}\n{country}"},
    {"de", N_("Germany"), "{street}\n{postalCode} {city}\n{country}"},
    {"at", N_("Austria"), "{street}\n{postalCode} {city}\n{country}"},
    {"ch", N_("Switzerland"), "{street}\n{postalCode} {city}\n{country}"},
    {"fr", N_("France"), "{street}\n{postalCode} {city}\n{country}"},
    // The province follows the city as its two-letter abbreviation ("00184 Roma RM").
    {"it", N_("Italy"), "{street}\n{postalCode} {city} {state}\n{country}"},
    {"es", N_("Spain"), "{street}\n{postalCode} {city}\n{state}\n{country}"},
    {"nl", N_("Netherlands"), "{street}\n{postalCode} {city}\n{country}"},
    {"be", N_("Belgium"), "{street}\n{postalCode} {city}\n{country}"},
    // Japan and China write from the largest area to the smallest.
    {"jp", N_("Japan"), "〒{postalCode}\n{state}{city}{subLocality}\n{street}\n{country}"},
    {"cn", N_("China"),
     "{postalCode}\n{state}{city}{subAdministrativeArea}{subLocality}\n{street}\n{country}"},
}};

constexpr AddressLayout kInternationalLayout = {
    "", N_("International"), "{street}\n{subLocality}\n{postalCode} {city}\n{state}\n{country}"};

struct AddressPart {
    std::string_view key;
    std::string PostalAddress::*member;
};

constexpr std::array<AddressPart, 7> kAddressParts = {{
    {PostalAddressKey::street, &PostalAddress::street},
    {PostalAddressKey::subLocality, &PostalAddress::subLocality},
    {PostalAddressKey::city, &PostalAddress::city},
    {PostalAddressKey::subAdministrativeArea, &PostalAddress::subAdministrativeArea},
    {PostalAddressKey::state, &PostalAddress::state},
    {PostalAddressKey::postalCode, &PostalAddress::postalCode},
    {PostalAddressKey::country, &PostalAddress::country},
}};

const AddressLayout& layoutForCountry(std::string_view countryCode) {
    const std::string code = asciiLowercased(trimmedText(countryCode));
    const auto found =
        std::find_if(kAddressLayouts.begin(), kAddressLayouts.end(),
                     [&](const AddressLayout& layout) { return layout.countryCode == code; });
    return found == kAddressLayouts.end() ? kInternationalLayout : *found;
}

std::string_view partOfAddress(const PostalAddress& address, std::string_view key) {
    const auto found = std::find_if(kAddressParts.begin(), kAddressParts.end(),
                                    [&](const AddressPart& part) { return part.key == key; });
    return found == kAddressParts.end() ? std::string_view()
                                        : trimmedText(address.*(found->member));
}

// One line of a layout with the address's parts put in.
std::string formattedLine(std::string_view line, const PostalAddress& address) {
    std::string result;
    std::string_view pendingText;
    bool textBeginsLine = true;
    std::string_view previousPart;
    std::size_t position = 0;
    while (position < line.size()) {
        const std::size_t open = line.find('{', position);
        const std::size_t close = open == std::string_view::npos ? open : line.find('}', open);
        // Text after the last part stands before no part, so it is never written.
        if (close == std::string_view::npos) break;
        if (open > position) {
            pendingText = line.substr(position, open - position);
            position = open;
            continue;
        }
        const std::string_view part =
            partOfAddress(address, line.substr(open + 1, close - open - 1));
        position = close + 1;
        if (!part.empty()) {
            if (!pendingText.empty() && (!result.empty() || textBeginsLine)) {
                result += pendingText;
            } else if (pendingText.empty() && !result.empty() &&
                       !(isCJKText(previousPart) && isCJKText(part))) {
                result += ' ';
            }
            result += part;
            previousPart = part;
        }
        pendingText = {};
        textBeginsLine = false;
    }
    return result;
}

// Drops empty lines and the white space around each line; a street may hold blank lines
// or Windows line ends from the imported file.
std::string tidiedLines(std::string_view text) {
    std::string result;
    std::size_t position = 0;
    while (position <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", position);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trimmedText(text.substr(position, end - position));
        if (!line.empty()) {
            if (!result.empty()) result += '\n';
            result += line;
        }
        position = end + 1;
    }
    return result;
}

}  // namespace

std::string postalAddressLayoutCountryCode(const PostalAddress& address,
                                           std::string_view countryCode) {
    if (auto own = countryCodeOfAddress(address)) return *own;
    // A code that is no country's still says the address is not the user's.
    if (!trimmedText(address.isoCountryCode).empty())
        return asciiLowercased(trimmedText(address.isoCountryCode));
    if (!trimmedText(countryCode).empty()) return asciiLowercased(trimmedText(countryCode));
    return defaultCountryCode();
}

std::string formatPostalAddress(const PostalAddress& address, std::string_view countryCode) {
    const AddressLayout& layout =
        layoutForCountry(postalAddressLayoutCountryCode(address, countryCode));
    std::string text;
    std::size_t position = 0;
    while (position <= layout.lines.size()) {
        std::size_t end = layout.lines.find('\n', position);
        if (end == std::string_view::npos) end = layout.lines.size();
        text += formattedLine(layout.lines.substr(position, end - position), address);
        text += '\n';
        position = end + 1;
    }
    return tidiedLines(text);
}

std::string postalAddressFormatName(std::string_view countryCode) {
    const AddressLayout& layout =
        layoutForCountry(trimmedText(countryCode).empty() ? defaultCountryCode() : countryCode);
    return localizedString(layout.name,
                           "Name of a country's address layout, as in “Address Format (Germany)”");
}

std::vector<std::string_view> postalAddressLayoutCountryCodes() {
    std::vector<std::string_view> codes;
    for (const AddressLayout& layout : kAddressLayouts) codes.push_back(layout.countryCode);
    return codes;
}

}  // namespace pelkora::contacts
