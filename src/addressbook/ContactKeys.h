#pragma once

// The names of contact properties, labels and services, as stored in the address book
// and in saved files. The string values never change: saved mappings written on one
// computer are read on another.
//
// Each vocabulary is one table (a .def file beside this header). The scoped names
// (ContactKey::givenName, Label::home, RelationLabel::mother, InstantMessageService::skype)
// and the lists below are generated from it, so a name and its string cannot drift apart,
// and resources/check-vocabulary.py reads the same tables.
//
// Labels follow the "_$!<Name>!$_" convention for the built-in labels, so that a label
// can be told apart from a custom label text the user typed ("Car", "Summer house").

#include <array>
#include <string_view>

namespace pelkora::contacts {

// Contact properties.
namespace ContactKey {
#define CONTACT_KEY(name, value) inline constexpr std::string_view name = value;
#include "addressbook/ContactKeys.def"
}  // namespace ContactKey

// Components of a postal address.
namespace PostalAddressKey {
#define POSTAL_ADDRESS_KEY(name, value) inline constexpr std::string_view name = value;
#include "addressbook/ContactKeys.def"
}  // namespace PostalAddressKey

// Fields of a social profile.
namespace SocialProfileKey {
#define SOCIAL_PROFILE_KEY(name, value) inline constexpr std::string_view name = value;
#include "addressbook/ContactKeys.def"
}  // namespace SocialProfileKey

// Fields of an instant-message address.
namespace InstantMessageKey {
#define INSTANT_MESSAGE_KEY(name, value) inline constexpr std::string_view name = value;
#include "addressbook/ContactKeys.def"
}  // namespace InstantMessageKey

// Social-profile services.
namespace SocialProfileService {
#define SOCIAL_PROFILE_SERVICE(name, value) inline constexpr std::string_view name = value;
#include "addressbook/Services.def"
}  // namespace SocialProfileService

// Instant-message services.
namespace InstantMessageService {
#define INSTANT_MESSAGE_SERVICE(name, value) inline constexpr std::string_view name = value;
#include "addressbook/Services.def"
}  // namespace InstantMessageService

// Generic and phone-number labels.
namespace Label {
#define LABEL(name, value) inline constexpr std::string_view name = value;
#define PHONE_LABEL(name, value) inline constexpr std::string_view name = value;
#include "addressbook/Labels.def"
}  // namespace Label

// Relation labels, the common and the extended ones.
namespace RelationLabel {
#define RELATION_LABEL(name, value) inline constexpr std::string_view name = value;
#define EXTENDED_RELATION_LABEL(name, value) inline constexpr std::string_view name = value;
#include "addressbook/RelationLabels.def"
}  // namespace RelationLabel

// The relation labels every address book knows, in menu order.
inline constexpr std::array relationLabels = {
#define RELATION_LABEL(name, value) std::string_view(value),
#include "addressbook/RelationLabels.def"
};

// The extended relations, in menu order.
inline constexpr std::array extendedRelationLabels = {
#define EXTENDED_RELATION_LABEL(name, value) std::string_view(value),
#include "addressbook/RelationLabels.def"
};

// The labels named after one maker's devices and services. Cards and address books hold them,
// so they are read, kept and shown as they are, but no menu offers them to label a new value.
inline constexpr std::array deviceLabels = {Label::iCloud, Label::iPhone, Label::appleWatch};

// Every built-in label (generic, phone, relation), for checks that a text is one of them.
inline constexpr std::array builtInLabels = {
#define LABEL(name, value) std::string_view(value),
#define PHONE_LABEL(name, value) std::string_view(value),
#include "addressbook/Labels.def"
#define RELATION_LABEL(name, value) std::string_view(value),
#define EXTENDED_RELATION_LABEL(name, value) std::string_view(value),
#include "addressbook/RelationLabels.def"
};

}  // namespace pelkora::contacts
