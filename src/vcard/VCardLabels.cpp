#include <algorithm>
#include <array>

#include "addressbook/ContactKeys.h"
#include "addressbook/ContactLocalization.h"
#include "vcard/VCard.h"
#include "vcard/VCardLabels_p.h"
#include "vcard/VCardLexer_p.h"

namespace pelkora::contacts::detail {
namespace {

struct TypeLabel {
    std::string_view label;
    std::string_view writtenTypes;   // comma-separated, in the order written
    std::string_view requiredTypes;  // comma-separated; all present when read
};

// In the order read: the first row whose types are all present gives the label, so the more
// specific rows come first (an iPhone is also CELL, a home fax also HOME).
constexpr std::array kPhoneLabels = {
    TypeLabel{Label::iPhone, "IPHONE,CELL", "IPHONE"},
    TypeLabel{Label::homeFax, "HOME,FAX", "HOME,FAX"},
    TypeLabel{Label::workFax, "WORK,FAX", "WORK,FAX"},
    TypeLabel{Label::otherFax, "FAX", "FAX"},
    TypeLabel{Label::mobile, "CELL", "CELL"},
    TypeLabel{Label::mobile, "CELL", "MOBILE"},
    TypeLabel{Label::pager, "PAGER", "PAGER"},
    TypeLabel{Label::main, "MAIN", "MAIN"},
    TypeLabel{Label::home, "HOME", "HOME"},
    TypeLabel{Label::work, "WORK", "WORK"},
    TypeLabel{Label::other, "OTHER", "OTHER"},
};

constexpr std::array kGeneralLabels = {
    TypeLabel{Label::home, "HOME", "HOME"},
    TypeLabel{Label::work, "WORK", "WORK"},
    TypeLabel{Label::other, "OTHER", "OTHER"},
};

// RFC 6350 relation types whose word is not a label's own name. A row without written types
// is only read.
constexpr std::array kRelationTypes = {
    TypeLabel{RelationLabel::colleague, "", "CO-WORKER"},
    TypeLabel{RelationLabel::assistant, "", "AGENT"},
    TypeLabel{Label::other, "OTHER", "OTHER"},
};

struct ApproximateTypes {
    std::string_view label;
    LabelVocabulary vocabulary;
    std::string_view writtenTypes;
};

// Built-in labels that RFC 2426 has no TYPE word for: they are written as X-ABLabel, with the
// standard words that come nearest. (MAIN is Apple's own word, which other programs show as an
// unknown type or not at all; it is still read.)
constexpr std::array kApproximateTypes = {
    ApproximateTypes{Label::main, LabelVocabulary::phone, "VOICE"},
    ApproximateTypes{Label::appleWatch, LabelVocabulary::phone, "CELL"},
    ApproximateTypes{Label::homePage, LabelVocabulary::general, "HOME"},
};

struct RelationProperty {
    std::string_view property;  // upper-case
    std::string_view label;
};

// The properties that carry one related name each, as programs without X-ABRELATEDNAMES or
// RELATED write them. The first row of a label gives what is written for it.
constexpr std::array kRelationProperties = {
    RelationProperty{"X-SPOUSE", RelationLabel::spouse},
    RelationProperty{"X-SPOUSE", RelationLabel::wife},
    RelationProperty{"X-SPOUSE", RelationLabel::husband},
    RelationProperty{"X-MANAGER", RelationLabel::manager},
    RelationProperty{"X-ASSISTANT", RelationLabel::assistant},
    RelationProperty{"X-EVOLUTION-SPOUSE", RelationLabel::spouse},
    RelationProperty{"X-EVOLUTION-MANAGER", RelationLabel::manager},
    RelationProperty{"X-EVOLUTION-ASSISTANT", RelationLabel::assistant},
    RelationProperty{"X-KADDRESSBOOK-X-SPOUSESNAME", RelationLabel::spouse},
    RelationProperty{"X-KADDRESSBOOK-X-MANAGERSNAME", RelationLabel::manager},
    RelationProperty{"X-KADDRESSBOOK-X-ASSISTANTSNAME", RelationLabel::assistant},
};

struct InstantMessageServiceRow {
    std::string_view service;
    std::string_view property;  // the X- property older programs write, upper-case
    std::string_view scheme;    // written in IMPP values
};

// The first row of a service gives what is written for it.
constexpr std::array kInstantMessageServices = {
    InstantMessageServiceRow{InstantMessageService::aim, "X-AIM", "aim"},
    InstantMessageServiceRow{InstantMessageService::jabber, "X-JABBER", "xmpp"},
    InstantMessageServiceRow{InstantMessageService::icq, "X-ICQ", "icq"},
    InstantMessageServiceRow{InstantMessageService::msn, "X-MSN", "msnim"},
    InstantMessageServiceRow{InstantMessageService::yahoo, "X-YAHOO", "ymsgr"},
    InstantMessageServiceRow{InstantMessageService::skype, "X-SKYPE", "skype"},
    InstantMessageServiceRow{InstantMessageService::skype, "X-SKYPE-USERNAME", "callto"},
    InstantMessageServiceRow{InstantMessageService::qq, "X-QQ", "x-apple"},
    InstantMessageServiceRow{InstantMessageService::gaduGadu, "X-GADUGADU", "x-apple"},
    InstantMessageServiceRow{InstantMessageService::gaduGadu, "X-GADU-GADU", "gg"},
    InstantMessageServiceRow{InstantMessageService::googleTalk, "X-GOOGLE-TALK", "xmpp"},
    InstantMessageServiceRow{InstantMessageService::googleTalk, "X-GTALK", "gtalk"},
    InstantMessageServiceRow{InstantMessageService::facebook, "", "xmpp"},
};

// Schemes read: the service each stands for, empty for none in particular.
constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kInstantMessageSchemes = {{
    {"aim", InstantMessageService::aim},
    {"xmpp", InstantMessageService::jabber},
    {"jabber", InstantMessageService::jabber},
    {"icq", InstantMessageService::icq},
    {"msnim", InstantMessageService::msn},
    {"msn", InstantMessageService::msn},
    {"ymsgr", InstantMessageService::yahoo},
    {"skype", InstantMessageService::skype},
    {"callto", InstantMessageService::skype},
    {"gg", InstantMessageService::gaduGadu},
    {"gtalk", InstantMessageService::googleTalk},
    {"qq", InstantMessageService::qq},
    {"x-apple", ""},
}};

constexpr std::array kSocialProfileServices = {
    SocialProfileService::facebook,     SocialProfileService::flickr,
    SocialProfileService::gameCenter,   SocialProfileService::linkedIn,
    SocialProfileService::mySpace,      SocialProfileService::sinaWeibo,
    SocialProfileService::tencentWeibo, SocialProfileService::twitter,
    SocialProfileService::yelp,
};

constexpr std::array kInstantMessageServiceNames = {
    InstantMessageService::aim,      InstantMessageService::facebook,
    InstantMessageService::gaduGadu, InstantMessageService::googleTalk,
    InstantMessageService::icq,      InstantMessageService::jabber,
    InstantMessageService::msn,      InstantMessageService::qq,
    InstantMessageService::skype,    InstantMessageService::yahoo,
};

std::vector<std::string_view> splitCommas(std::string_view list) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) comma = list.size();
        words.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return words;
}

bool containsType(std::span<const std::string_view> types, std::string_view type) {
    return std::any_of(types.begin(), types.end(),
                       [&](std::string_view value) { return equalsIgnoringCase(value, type); });
}

template <std::size_t N>
std::string labelFromTable(std::span<const std::string_view> types,
                           const std::array<TypeLabel, N>& table) {
    for (const auto& row : table) {
        const auto required = splitCommas(row.requiredTypes);
        if (std::all_of(required.begin(), required.end(),
                        [&](std::string_view type) { return containsType(types, type); })) {
            return std::string(row.label);
        }
    }
    return {};
}

bool isToken(std::string_view label) {
    return label.size() >= 8 && label.starts_with("_$!<") && label.ends_with(">!$_");
}

// "Mother" for "_$!<Mother>!$_".
std::string_view innerName(std::string_view label) {
    return isToken(label) ? label.substr(4, label.size() - 8) : label;
}

std::string relationLabel(std::string_view type) {
    for (const auto& row : kRelationTypes) {
        if (equalsIgnoringCase(type, row.requiredTypes)) return std::string(row.label);
    }
    for (const auto& labels : {std::span<const std::string_view>(relationLabels),
                               std::span<const std::string_view>(extendedRelationLabels)}) {
        for (const auto label : labels) {
            if (equalsIgnoringCase(type, innerName(label))) return std::string(label);
        }
    }
    return {};
}

}  // namespace

std::string labelForTypes(std::span<const std::string_view> types, LabelVocabulary vocabulary) {
    std::string label;
    switch (vocabulary) {
        case LabelVocabulary::phone:
            label = labelFromTable(types, kPhoneLabels);
            break;
        case LabelVocabulary::general:
            label = labelFromTable(types, kGeneralLabels);
            break;
        case LabelVocabulary::relation:
            for (const auto type : types) {
                label = relationLabel(type);
                if (!label.empty()) break;
            }
            break;
        case LabelVocabulary::none:
            return {};
    }
    if (!label.empty()) return label;
    for (const auto type : types) {
        if (type.size() > 2 && (type.starts_with("X-") || type.starts_with("x-"))) {
            return std::string(type.substr(2));
        }
    }
    return {};
}

LabelSpelling spellingForLabel(std::string_view label, LabelVocabulary vocabulary) {
    LabelSpelling spelling;
    if (label.empty()) return spelling;
    for (const auto& row : kApproximateTypes) {
        if (row.label == label && row.vocabulary == vocabulary) {
            spelling.types = splitCommas(row.writtenTypes);
            spelling.labelText = vCardLabelText(label);
            return spelling;
        }
    }
    const auto find = [&](const auto& table) {
        for (const auto& row : table) {
            if (row.label == label && !row.writtenTypes.empty()) {
                spelling.types = splitCommas(row.writtenTypes);
                return true;
            }
        }
        return false;
    };
    bool found = false;
    switch (vocabulary) {
        case LabelVocabulary::phone:
            found = find(kPhoneLabels);
            break;
        case LabelVocabulary::general:
            found = find(kGeneralLabels);
            break;
        case LabelVocabulary::relation:
            found = find(kRelationTypes);
            break;
        case LabelVocabulary::none:
            break;
    }
    if (!found) spelling.labelText = vCardLabelText(label);
    return spelling;
}

std::string labelForText(std::string_view text) {
    // A token names a built-in label as it is stored. One we do not know is read as its
    // name, as the writer writes it, so that a card reads the same after a round trip.
    if (isToken(text)) {
        for (const auto label : builtInLabels) {
            if (label == text) return std::string(label);
        }
        const std::string_view name = innerName(text);
        return name.empty() ? std::string() : labelForText(name);
    }
    if (const auto label = labelForEnglishText(text)) return std::string(*label);
    if (const auto label = labelForLocalizedString(text)) return std::string(*label);
    for (const auto label : builtInLabels) {
        if (equalsIgnoringCase(innerName(label), text)) return std::string(label);
    }
    return std::string(text);
}

std::string_view relationLabelForProperty(std::string_view name) {
    for (const auto& row : kRelationProperties) {
        if (row.property == name) return row.label;
    }
    return {};
}

std::string_view instantMessageServiceForProperty(std::string_view name) {
    for (const auto& row : kInstantMessageServices) {
        if (!row.property.empty() && row.property == name) return row.service;
    }
    return {};
}

std::optional<std::string_view> instantMessageServiceForScheme(std::string_view scheme) {
    for (const auto& [name, service] : kInstantMessageSchemes) {
        if (equalsIgnoringCase(name, scheme)) return service;
    }
    return std::nullopt;
}

std::string_view instantMessageSchemeForService(std::string_view service) {
    for (const auto& row : kInstantMessageServices) {
        if (row.service == service) return row.scheme;
    }
    return "x-apple";
}

std::string canonicalInstantMessageService(std::string_view name) {
    for (const auto service : kInstantMessageServiceNames) {
        if (equalsIgnoringCase(service, name)) return std::string(service);
    }
    return std::string(name);
}

std::string canonicalSocialProfileService(std::string_view name) {
    for (const auto service : kSocialProfileServices) {
        if (equalsIgnoringCase(service, name)) return std::string(service);
    }
    return std::string(name);
}

}  // namespace pelkora::contacts::detail

namespace pelkora::contacts {

std::string vCardLabelText(std::string_view label) {
    if (const auto english = englishTextForLabel(label)) return std::string(*english);
    return std::string(detail::innerName(label));
}

std::string_view vCardRelationProperty(std::string_view label) {
    for (const auto& row : detail::kRelationProperties) {
        if (row.label == label) return row.property;
    }
    return {};
}

}  // namespace pelkora::contacts
