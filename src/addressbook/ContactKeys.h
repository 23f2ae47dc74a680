#pragma once

// The names of contact properties, labels and services, as stored in the address book
// and in saved files. The string values never change: saved mappings written on one
// computer are read on another.
//
// Labels follow the "_$!<Name>!$_" convention for the built-in labels, so that a label
// can be told apart from a custom label text the user typed ("Car", "Summer house").

#include <array>
#include <string_view>

namespace pelkora::contacts {

// Contact properties.
inline constexpr std::string_view CNContactIdentifierKey = "identifier";
inline constexpr std::string_view CNContactTypeKey = "contactType";
inline constexpr std::string_view CNContactNamePrefixKey = "namePrefix";
inline constexpr std::string_view CNContactGivenNameKey = "givenName";
inline constexpr std::string_view CNContactMiddleNameKey = "middleName";
inline constexpr std::string_view CNContactFamilyNameKey = "familyName";
inline constexpr std::string_view CNContactPreviousFamilyNameKey = "previousFamilyName";
inline constexpr std::string_view CNContactNameSuffixKey = "nameSuffix";
inline constexpr std::string_view CNContactNicknameKey = "nickname";
inline constexpr std::string_view CNContactPhoneticGivenNameKey = "phoneticGivenName";
inline constexpr std::string_view CNContactPhoneticMiddleNameKey = "phoneticMiddleName";
inline constexpr std::string_view CNContactPhoneticFamilyNameKey = "phoneticFamilyName";
inline constexpr std::string_view CNContactOrganizationNameKey = "organizationName";
inline constexpr std::string_view CNContactDepartmentNameKey = "departmentName";
inline constexpr std::string_view CNContactJobTitleKey = "jobTitle";
inline constexpr std::string_view CNContactPhoneticOrganizationNameKey = "phoneticOrganizationName";
inline constexpr std::string_view CNContactBirthdayKey = "birthday";
inline constexpr std::string_view CNContactNonGregorianBirthdayKey = "nonGregorianBirthday";
inline constexpr std::string_view CNContactDatesKey = "dates";
inline constexpr std::string_view CNContactNoteKey = "note";
inline constexpr std::string_view CNContactImageDataKey = "imageData";
inline constexpr std::string_view CNContactThumbnailImageDataKey = "thumbnailImageData";
inline constexpr std::string_view CNContactPhoneNumbersKey = "phoneNumbers";
inline constexpr std::string_view CNContactEmailAddressesKey = "emailAddresses";
inline constexpr std::string_view CNContactPostalAddressesKey = "postalAddresses";
inline constexpr std::string_view CNContactUrlAddressesKey = "urlAddresses";
inline constexpr std::string_view CNContactRelationsKey = "contactRelations";
inline constexpr std::string_view CNContactSocialProfilesKey = "socialProfiles";
inline constexpr std::string_view CNContactInstantMessageAddressesKey = "instantMessageAddresses";

// Components of a postal address.
inline constexpr std::string_view CNPostalAddressStreetKey = "street";
inline constexpr std::string_view CNPostalAddressSubLocalityKey = "subLocality";
inline constexpr std::string_view CNPostalAddressCityKey = "city";
inline constexpr std::string_view CNPostalAddressSubAdministrativeAreaKey = "subAdministrativeArea";
inline constexpr std::string_view CNPostalAddressStateKey = "state";
inline constexpr std::string_view CNPostalAddressPostalCodeKey = "postalCode";
inline constexpr std::string_view CNPostalAddressCountryKey = "country";
inline constexpr std::string_view CNPostalAddressISOCountryCodeKey = "ISOCountryCode";

// Fields of a social profile and of an instant-message address.
inline constexpr std::string_view CNSocialProfileURLStringKey = "urlString";
inline constexpr std::string_view CNSocialProfileUsernameKey = "username";
inline constexpr std::string_view CNSocialProfileUserIdentifierKey = "userIdentifier";
inline constexpr std::string_view CNSocialProfileServiceKey = "service";
inline constexpr std::string_view CNInstantMessageAddressUsernameKey = "username";
inline constexpr std::string_view CNInstantMessageAddressServiceKey = "service";

// Social-profile services.
inline constexpr std::string_view CNSocialProfileServiceFacebook = "facebook";
inline constexpr std::string_view CNSocialProfileServiceFlickr = "flickr";
inline constexpr std::string_view CNSocialProfileServiceGameCenter = "GameCenter";
inline constexpr std::string_view CNSocialProfileServiceLinkedIn = "linkedin";
inline constexpr std::string_view CNSocialProfileServiceMySpace = "myspace";
inline constexpr std::string_view CNSocialProfileServiceSinaWeibo = "sinaweibo";
inline constexpr std::string_view CNSocialProfileServiceTencentWeibo = "tencentweibo";
inline constexpr std::string_view CNSocialProfileServiceTwitter = "twitter";
inline constexpr std::string_view CNSocialProfileServiceYelp = "yelp";

// Instant-message services.
inline constexpr std::string_view CNInstantMessageServiceAIM = "AIM";
inline constexpr std::string_view CNInstantMessageServiceFacebook = "Facebook";
inline constexpr std::string_view CNInstantMessageServiceGaduGadu = "GaduGadu";
inline constexpr std::string_view CNInstantMessageServiceGoogleTalk = "GoogleTalk";
inline constexpr std::string_view CNInstantMessageServiceICQ = "ICQ";
inline constexpr std::string_view CNInstantMessageServiceJabber = "Jabber";
inline constexpr std::string_view CNInstantMessageServiceMSN = "MSN";
inline constexpr std::string_view CNInstantMessageServiceQQ = "QQ";
inline constexpr std::string_view CNInstantMessageServiceSkype = "Skype";
inline constexpr std::string_view CNInstantMessageServiceYahoo = "Yahoo";

// Generic labels.
inline constexpr std::string_view CNLabelHome = "_$!<Home>!$_";
inline constexpr std::string_view CNLabelWork = "_$!<Work>!$_";
inline constexpr std::string_view CNLabelSchool = "_$!<School>!$_";
inline constexpr std::string_view CNLabelOther = "_$!<Other>!$_";
inline constexpr std::string_view CNLabelEmailiCloud = "iCloud";
inline constexpr std::string_view CNLabelURLAddressHomePage = "_$!<HomePage>!$_";
inline constexpr std::string_view CNLabelDateAnniversary = "_$!<Anniversary>!$_";

// Phone-number labels.
inline constexpr std::string_view CNLabelPhoneNumberiPhone = "iPhone";
inline constexpr std::string_view CNLabelPhoneNumberAppleWatch = "_$!<AppleWatch>!$_";
inline constexpr std::string_view CNLabelPhoneNumberMobile = "_$!<Mobile>!$_";
inline constexpr std::string_view CNLabelPhoneNumberMain = "_$!<Main>!$_";
inline constexpr std::string_view CNLabelPhoneNumberHomeFax = "_$!<HomeFAX>!$_";
inline constexpr std::string_view CNLabelPhoneNumberWorkFax = "_$!<WorkFAX>!$_";
inline constexpr std::string_view CNLabelPhoneNumberOtherFax = "_$!<OtherFAX>!$_";
inline constexpr std::string_view CNLabelPhoneNumberPager = "_$!<Pager>!$_";

// Relation labels.
inline constexpr std::string_view CNLabelContactRelationAssistant = "_$!<Assistant>!$_";
inline constexpr std::string_view CNLabelContactRelationManager = "_$!<Manager>!$_";
inline constexpr std::string_view CNLabelContactRelationColleague = "_$!<Colleague>!$_";
inline constexpr std::string_view CNLabelContactRelationTeacher = "_$!<Teacher>!$_";
inline constexpr std::string_view CNLabelContactRelationSibling = "_$!<Sibling>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerSibling = "_$!<YoungerSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationElderSibling = "_$!<ElderSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationSister = "_$!<Sister>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerSister = "_$!<YoungerSister>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungestSister = "_$!<YoungestSister>!$_";
inline constexpr std::string_view CNLabelContactRelationElderSister = "_$!<ElderSister>!$_";
inline constexpr std::string_view CNLabelContactRelationEldestSister = "_$!<EldestSister>!$_";
inline constexpr std::string_view CNLabelContactRelationBrother = "_$!<Brother>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerBrother = "_$!<YoungerBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungestBrother = "_$!<YoungestBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationElderBrother = "_$!<ElderBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationEldestBrother = "_$!<EldestBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationFriend = "_$!<Friend>!$_";
inline constexpr std::string_view CNLabelContactRelationMaleFriend = "_$!<MaleFriend>!$_";
inline constexpr std::string_view CNLabelContactRelationFemaleFriend = "_$!<FemaleFriend>!$_";
inline constexpr std::string_view CNLabelContactRelationSpouse = "_$!<Spouse>!$_";
inline constexpr std::string_view CNLabelContactRelationWife = "_$!<Wife>!$_";
inline constexpr std::string_view CNLabelContactRelationHusband = "_$!<Husband>!$_";
inline constexpr std::string_view CNLabelContactRelationPartner = "_$!<Partner>!$_";
inline constexpr std::string_view CNLabelContactRelationMalePartner = "_$!<MalePartner>!$_";
inline constexpr std::string_view CNLabelContactRelationFemalePartner = "_$!<FemalePartner>!$_";
inline constexpr std::string_view CNLabelContactRelationGirlfriendOrBoyfriend =
    "_$!<GirlfriendOrBoyfriend>!$_";
inline constexpr std::string_view CNLabelContactRelationGirlfriend = "_$!<Girlfriend>!$_";
inline constexpr std::string_view CNLabelContactRelationBoyfriend = "_$!<Boyfriend>!$_";
inline constexpr std::string_view CNLabelContactRelationParent = "_$!<Parent>!$_";
inline constexpr std::string_view CNLabelContactRelationMother = "_$!<Mother>!$_";
inline constexpr std::string_view CNLabelContactRelationFather = "_$!<Father>!$_";
inline constexpr std::string_view CNLabelContactRelationChild = "_$!<Child>!$_";
inline constexpr std::string_view CNLabelContactRelationDaughter = "_$!<Daughter>!$_";
inline constexpr std::string_view CNLabelContactRelationSon = "_$!<Son>!$_";

// The extended relations, in the order the label menus list them.
inline constexpr std::string_view CNLabelContactRelationGrandparent = "_$!<Grandparent>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandmother = "_$!<Grandmother>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandmotherMothersMother =
    "_$!<GrandmotherMothersMother>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandmotherFathersMother =
    "_$!<GrandmotherFathersMother>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandfather = "_$!<Grandfather>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandfatherMothersFather =
    "_$!<GrandfatherMothersFather>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandfatherFathersFather =
    "_$!<GrandfatherFathersFather>!$_";
inline constexpr std::string_view CNLabelContactRelationGreatGrandparent =
    "_$!<GreatGrandparent>!$_";
inline constexpr std::string_view CNLabelContactRelationGreatGrandmother =
    "_$!<GreatGrandmother>!$_";
inline constexpr std::string_view CNLabelContactRelationGreatGrandfather =
    "_$!<GreatGrandfather>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandchild = "_$!<Grandchild>!$_";
inline constexpr std::string_view CNLabelContactRelationGranddaughter = "_$!<Granddaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationGranddaughterDaughtersDaughter =
    "_$!<GranddaughterDaughtersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationGranddaughterSonsDaughter =
    "_$!<GranddaughterSonsDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandson = "_$!<Grandson>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandsonDaughtersSon =
    "_$!<GrandsonDaughtersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandsonSonsSon = "_$!<GrandsonSonsSon>!$_";
inline constexpr std::string_view CNLabelContactRelationGreatGrandchild = "_$!<GreatGrandchild>!$_";
inline constexpr std::string_view CNLabelContactRelationGreatGranddaughter =
    "_$!<GreatGranddaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationGreatGrandson = "_$!<GreatGrandson>!$_";
inline constexpr std::string_view CNLabelContactRelationParentInLaw = "_$!<ParentInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationMotherInLaw = "_$!<MotherInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationMotherInLawWifesMother =
    "_$!<MotherInLawWifesMother>!$_";
inline constexpr std::string_view CNLabelContactRelationMotherInLawHusbandsMother =
    "_$!<MotherInLawHusbandsMother>!$_";
inline constexpr std::string_view CNLabelContactRelationFatherInLaw = "_$!<FatherInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationFatherInLawWifesFather =
    "_$!<FatherInLawWifesFather>!$_";
inline constexpr std::string_view CNLabelContactRelationFatherInLawHusbandsFather =
    "_$!<FatherInLawHusbandsFather>!$_";
inline constexpr std::string_view CNLabelContactRelationCoParentInLaw = "_$!<CoParentInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationCoMotherInLaw = "_$!<CoMotherInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationCoFatherInLaw = "_$!<CoFatherInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationSiblingInLaw = "_$!<SiblingInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerSiblingInLaw =
    "_$!<YoungerSiblingInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationElderSiblingInLaw =
    "_$!<ElderSiblingInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLaw = "_$!<SisterInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerSisterInLaw =
    "_$!<YoungerSisterInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationElderSisterInLaw =
    "_$!<ElderSisterInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLawSpousesSister =
    "_$!<SisterInLawSpousesSister>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLawWifesSister =
    "_$!<SisterInLawWifesSister>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLawHusbandsSister =
    "_$!<SisterInLawHusbandsSister>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLawBrothersWife =
    "_$!<SisterInLawBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLawYoungerBrothersWife =
    "_$!<SisterInLawYoungerBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLawElderBrothersWife =
    "_$!<SisterInLawElderBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLaw = "_$!<BrotherInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerBrotherInLaw =
    "_$!<YoungerBrotherInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationElderBrotherInLaw =
    "_$!<ElderBrotherInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLawSpousesBrother =
    "_$!<BrotherInLawSpousesBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLawHusbandsBrother =
    "_$!<BrotherInLawHusbandsBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLawWifesBrother =
    "_$!<BrotherInLawWifesBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLawSistersHusband =
    "_$!<BrotherInLawSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLawYoungerSistersHusband =
    "_$!<BrotherInLawYoungerSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLawElderSistersHusband =
    "_$!<BrotherInLawElderSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLawWifesBrothersWife =
    "_$!<SisterInLawWifesBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationSisterInLawHusbandsBrothersWife =
    "_$!<SisterInLawHusbandsBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLawWifesSistersHusband =
    "_$!<BrotherInLawWifesSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationBrotherInLawHusbandsSistersHusband =
    "_$!<BrotherInLawHusbandsSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationCoSiblingInLaw = "_$!<CoSiblingInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationCoSisterInLaw = "_$!<CoSisterInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationCoBrotherInLaw = "_$!<CoBrotherInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationChildInLaw = "_$!<ChildInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationDaughterInLaw = "_$!<DaughterInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationSonInLaw = "_$!<SonInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationCousin = "_$!<Cousin>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousin = "_$!<YoungerCousin>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousin = "_$!<ElderCousin>!$_";
inline constexpr std::string_view CNLabelContactRelationMaleCousin = "_$!<MaleCousin>!$_";
inline constexpr std::string_view CNLabelContactRelationFemaleCousin = "_$!<FemaleCousin>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinParentsSiblingsChild =
    "_$!<CousinParentsSiblingsChild>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinParentsSiblingsSon =
    "_$!<CousinParentsSiblingsSon>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinParentsSiblingsSon =
    "_$!<YoungerCousinParentsSiblingsSon>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinParentsSiblingsSon =
    "_$!<ElderCousinParentsSiblingsSon>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinParentsSiblingsDaughter =
    "_$!<CousinParentsSiblingsDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinParentsSiblingsDaughter =
    "_$!<YoungerCousinParentsSiblingsDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinParentsSiblingsDaughter =
    "_$!<ElderCousinParentsSiblingsDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinMothersSistersDaughter =
    "_$!<CousinMothersSistersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinMothersSistersDaughter =
    "_$!<YoungerCousinMothersSistersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinMothersSistersDaughter =
    "_$!<ElderCousinMothersSistersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinMothersSistersSon =
    "_$!<CousinMothersSistersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinMothersSistersSon =
    "_$!<YoungerCousinMothersSistersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinMothersSistersSon =
    "_$!<ElderCousinMothersSistersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinMothersBrothersDaughter =
    "_$!<CousinMothersBrothersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinMothersBrothersDaughter =
    "_$!<YoungerCousinMothersBrothersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinMothersBrothersDaughter =
    "_$!<ElderCousinMothersBrothersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinMothersBrothersSon =
    "_$!<CousinMothersBrothersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinMothersBrothersSon =
    "_$!<YoungerCousinMothersBrothersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinMothersBrothersSon =
    "_$!<ElderCousinMothersBrothersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinFathersSistersDaughter =
    "_$!<CousinFathersSistersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinFathersSistersDaughter =
    "_$!<YoungerCousinFathersSistersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinFathersSistersDaughter =
    "_$!<ElderCousinFathersSistersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinFathersSistersSon =
    "_$!<CousinFathersSistersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinFathersSistersSon =
    "_$!<YoungerCousinFathersSistersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinFathersSistersSon =
    "_$!<ElderCousinFathersSistersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinFathersBrothersDaughter =
    "_$!<CousinFathersBrothersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinFathersBrothersDaughter =
    "_$!<YoungerCousinFathersBrothersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinFathersBrothersDaughter =
    "_$!<ElderCousinFathersBrothersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinFathersBrothersSon =
    "_$!<CousinFathersBrothersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationYoungerCousinFathersBrothersSon =
    "_$!<YoungerCousinFathersBrothersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationElderCousinFathersBrothersSon =
    "_$!<ElderCousinFathersBrothersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinGrandparentsSiblingsChild =
    "_$!<CousinGrandparentsSiblingsChild>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinGrandparentsSiblingsDaughter =
    "_$!<CousinGrandparentsSiblingsDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinGrandparentsSiblingsSon =
    "_$!<CousinGrandparentsSiblingsSon>!$_";
inline constexpr std::string_view
    CNLabelContactRelationYoungerCousinMothersSiblingsSonOrFathersSistersSon =
        "_$!<YoungerCousinMothersSiblingsSonOrFathersSistersSon>!$_";
inline constexpr std::string_view
    CNLabelContactRelationElderCousinMothersSiblingsSonOrFathersSistersSon =
        "_$!<ElderCousinMothersSiblingsSonOrFathersSistersSon>!$_";
inline constexpr std::string_view
    CNLabelContactRelationYoungerCousinMothersSiblingsDaughterOrFathersSistersDaughter =
        "_$!<YoungerCousinMothersSiblingsDaughterOrFathersSistersDaughter>!$_";
inline constexpr std::string_view
    CNLabelContactRelationElderCousinMothersSiblingsDaughterOrFathersSistersDaughter =
        "_$!<ElderCousinMothersSiblingsDaughterOrFathersSistersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsSibling = "_$!<ParentsSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsYoungerSibling =
    "_$!<ParentsYoungerSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsElderSibling =
    "_$!<ParentsElderSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsSiblingMothersSibling =
    "_$!<ParentsSiblingMothersSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsSiblingMothersYoungerSibling =
    "_$!<ParentsSiblingMothersYoungerSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsSiblingMothersElderSibling =
    "_$!<ParentsSiblingMothersElderSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsSiblingFathersSibling =
    "_$!<ParentsSiblingFathersSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsSiblingFathersYoungerSibling =
    "_$!<ParentsSiblingFathersYoungerSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationParentsSiblingFathersElderSibling =
    "_$!<ParentsSiblingFathersElderSibling>!$_";
inline constexpr std::string_view CNLabelContactRelationAunt = "_$!<Aunt>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntParentsSister =
    "_$!<AuntParentsSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntParentsYoungerSister =
    "_$!<AuntParentsYoungerSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntParentsElderSister =
    "_$!<AuntParentsElderSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntFathersSister =
    "_$!<AuntFathersSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntFathersYoungerSister =
    "_$!<AuntFathersYoungerSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntFathersElderSister =
    "_$!<AuntFathersElderSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntFathersBrothersWife =
    "_$!<AuntFathersBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntFathersYoungerBrothersWife =
    "_$!<AuntFathersYoungerBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntFathersElderBrothersWife =
    "_$!<AuntFathersElderBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntMothersSister =
    "_$!<AuntMothersSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntMothersYoungerSister =
    "_$!<AuntMothersYoungerSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntMothersElderSister =
    "_$!<AuntMothersElderSister>!$_";
inline constexpr std::string_view CNLabelContactRelationAuntMothersBrothersWife =
    "_$!<AuntMothersBrothersWife>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandaunt = "_$!<Grandaunt>!$_";
inline constexpr std::string_view CNLabelContactRelationUncle = "_$!<Uncle>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleParentsBrother =
    "_$!<UncleParentsBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleParentsYoungerBrother =
    "_$!<UncleParentsYoungerBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleParentsElderBrother =
    "_$!<UncleParentsElderBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleMothersBrother =
    "_$!<UncleMothersBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleMothersYoungerBrother =
    "_$!<UncleMothersYoungerBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleMothersElderBrother =
    "_$!<UncleMothersElderBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleMothersSistersHusband =
    "_$!<UncleMothersSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleFathersBrother =
    "_$!<UncleFathersBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleFathersYoungerBrother =
    "_$!<UncleFathersYoungerBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleFathersElderBrother =
    "_$!<UncleFathersElderBrother>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleFathersSistersHusband =
    "_$!<UncleFathersSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleFathersYoungerSistersHusband =
    "_$!<UncleFathersYoungerSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationUncleFathersElderSistersHusband =
    "_$!<UncleFathersElderSistersHusband>!$_";
inline constexpr std::string_view CNLabelContactRelationGranduncle = "_$!<Granduncle>!$_";
inline constexpr std::string_view CNLabelContactRelationSiblingsChild = "_$!<SiblingsChild>!$_";
inline constexpr std::string_view CNLabelContactRelationNiece = "_$!<Niece>!$_";
inline constexpr std::string_view CNLabelContactRelationNieceSistersDaughter =
    "_$!<NieceSistersDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationNieceBrothersDaughter =
    "_$!<NieceBrothersDaughter>!$_";
inline constexpr std::string_view
    CNLabelContactRelationNieceSistersDaughterOrWifesSiblingsDaughter =
        "_$!<NieceSistersDaughterOrWifesSiblingsDaughter>!$_";
inline constexpr std::string_view
    CNLabelContactRelationNieceBrothersDaughterOrHusbandsSiblingsDaughter =
        "_$!<NieceBrothersDaughterOrHusbandsSiblingsDaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationNephew = "_$!<Nephew>!$_";
inline constexpr std::string_view CNLabelContactRelationNephewSistersSon =
    "_$!<NephewSistersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationNephewBrothersSon =
    "_$!<NephewBrothersSon>!$_";
inline constexpr std::string_view CNLabelContactRelationNephewBrothersSonOrHusbandsSiblingsSon =
    "_$!<NephewBrothersSonOrHusbandsSiblingsSon>!$_";
inline constexpr std::string_view CNLabelContactRelationNephewSistersSonOrWifesSiblingsSon =
    "_$!<NephewSistersSonOrWifesSiblingsSon>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandniece = "_$!<Grandniece>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandnieceSistersGranddaughter =
    "_$!<GrandnieceSistersGranddaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandnieceBrothersGranddaughter =
    "_$!<GrandnieceBrothersGranddaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandnephew = "_$!<Grandnephew>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandnephewSistersGrandson =
    "_$!<GrandnephewSistersGrandson>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandnephewBrothersGrandson =
    "_$!<GrandnephewBrothersGrandson>!$_";
inline constexpr std::string_view CNLabelContactRelationStepparent = "_$!<Stepparent>!$_";
inline constexpr std::string_view CNLabelContactRelationStepfather = "_$!<Stepfather>!$_";
inline constexpr std::string_view CNLabelContactRelationStepmother = "_$!<Stepmother>!$_";
inline constexpr std::string_view CNLabelContactRelationStepchild = "_$!<Stepchild>!$_";
inline constexpr std::string_view CNLabelContactRelationStepson = "_$!<Stepson>!$_";
inline constexpr std::string_view CNLabelContactRelationStepdaughter = "_$!<Stepdaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationStepbrother = "_$!<Stepbrother>!$_";
inline constexpr std::string_view CNLabelContactRelationStepsister = "_$!<Stepsister>!$_";
inline constexpr std::string_view CNLabelContactRelationMotherInLawOrStepmother =
    "_$!<MotherInLawOrStepmother>!$_";
inline constexpr std::string_view CNLabelContactRelationFatherInLawOrStepfather =
    "_$!<FatherInLawOrStepfather>!$_";
inline constexpr std::string_view CNLabelContactRelationDaughterInLawOrStepdaughter =
    "_$!<DaughterInLawOrStepdaughter>!$_";
inline constexpr std::string_view CNLabelContactRelationSonInLawOrStepson =
    "_$!<SonInLawOrStepson>!$_";
inline constexpr std::string_view CNLabelContactRelationCousinOrSiblingsChild =
    "_$!<CousinOrSiblingsChild>!$_";
inline constexpr std::string_view CNLabelContactRelationNieceOrCousin = "_$!<NieceOrCousin>!$_";
inline constexpr std::string_view CNLabelContactRelationNephewOrCousin = "_$!<NephewOrCousin>!$_";
inline constexpr std::string_view CNLabelContactRelationGrandchildOrSiblingsChild =
    "_$!<GrandchildOrSiblingsChild>!$_";
inline constexpr std::string_view CNLabelContactRelationGreatGrandchildOrSiblingsGrandchild =
    "_$!<GreatGrandchildOrSiblingsGrandchild>!$_";
inline constexpr std::string_view CNLabelContactRelationDaughterInLawOrSisterInLaw =
    "_$!<DaughterInLawOrSisterInLaw>!$_";
inline constexpr std::string_view CNLabelContactRelationSonInLawOrBrotherInLaw =
    "_$!<SonInLawOrBrotherInLaw>!$_";

// The relation labels every address book knows, in menu order.
inline constexpr std::array<std::string_view, 35> kRelationLabels = {
    CNLabelContactRelationAssistant,
    CNLabelContactRelationManager,
    CNLabelContactRelationColleague,
    CNLabelContactRelationTeacher,
    CNLabelContactRelationSibling,
    CNLabelContactRelationYoungerSibling,
    CNLabelContactRelationElderSibling,
    CNLabelContactRelationSister,
    CNLabelContactRelationYoungerSister,
    CNLabelContactRelationYoungestSister,
    CNLabelContactRelationElderSister,
    CNLabelContactRelationEldestSister,
    CNLabelContactRelationBrother,
    CNLabelContactRelationYoungerBrother,
    CNLabelContactRelationYoungestBrother,
    CNLabelContactRelationElderBrother,
    CNLabelContactRelationEldestBrother,
    CNLabelContactRelationFriend,
    CNLabelContactRelationMaleFriend,
    CNLabelContactRelationFemaleFriend,
    CNLabelContactRelationSpouse,
    CNLabelContactRelationWife,
    CNLabelContactRelationHusband,
    CNLabelContactRelationPartner,
    CNLabelContactRelationMalePartner,
    CNLabelContactRelationFemalePartner,
    CNLabelContactRelationGirlfriendOrBoyfriend,
    CNLabelContactRelationGirlfriend,
    CNLabelContactRelationBoyfriend,
    CNLabelContactRelationParent,
    CNLabelContactRelationMother,
    CNLabelContactRelationFather,
    CNLabelContactRelationChild,
    CNLabelContactRelationDaughter,
    CNLabelContactRelationSon,
};

// The extended relations, in menu order.
inline constexpr std::array<std::string_view, 179> kExtendedRelationLabels = {
    CNLabelContactRelationGrandparent,
    CNLabelContactRelationGrandmother,
    CNLabelContactRelationGrandmotherMothersMother,
    CNLabelContactRelationGrandmotherFathersMother,
    CNLabelContactRelationGrandfather,
    CNLabelContactRelationGrandfatherMothersFather,
    CNLabelContactRelationGrandfatherFathersFather,
    CNLabelContactRelationGreatGrandparent,
    CNLabelContactRelationGreatGrandmother,
    CNLabelContactRelationGreatGrandfather,
    CNLabelContactRelationGrandchild,
    CNLabelContactRelationGranddaughter,
    CNLabelContactRelationGranddaughterDaughtersDaughter,
    CNLabelContactRelationGranddaughterSonsDaughter,
    CNLabelContactRelationGrandson,
    CNLabelContactRelationGrandsonDaughtersSon,
    CNLabelContactRelationGrandsonSonsSon,
    CNLabelContactRelationGreatGrandchild,
    CNLabelContactRelationGreatGranddaughter,
    CNLabelContactRelationGreatGrandson,
    CNLabelContactRelationParentInLaw,
    CNLabelContactRelationMotherInLaw,
    CNLabelContactRelationMotherInLawWifesMother,
    CNLabelContactRelationMotherInLawHusbandsMother,
    CNLabelContactRelationFatherInLaw,
    CNLabelContactRelationFatherInLawWifesFather,
    CNLabelContactRelationFatherInLawHusbandsFather,
    CNLabelContactRelationCoParentInLaw,
    CNLabelContactRelationCoMotherInLaw,
    CNLabelContactRelationCoFatherInLaw,
    CNLabelContactRelationSiblingInLaw,
    CNLabelContactRelationYoungerSiblingInLaw,
    CNLabelContactRelationElderSiblingInLaw,
    CNLabelContactRelationSisterInLaw,
    CNLabelContactRelationYoungerSisterInLaw,
    CNLabelContactRelationElderSisterInLaw,
    CNLabelContactRelationSisterInLawSpousesSister,
    CNLabelContactRelationSisterInLawWifesSister,
    CNLabelContactRelationSisterInLawHusbandsSister,
    CNLabelContactRelationSisterInLawBrothersWife,
    CNLabelContactRelationSisterInLawYoungerBrothersWife,
    CNLabelContactRelationSisterInLawElderBrothersWife,
    CNLabelContactRelationBrotherInLaw,
    CNLabelContactRelationYoungerBrotherInLaw,
    CNLabelContactRelationElderBrotherInLaw,
    CNLabelContactRelationBrotherInLawSpousesBrother,
    CNLabelContactRelationBrotherInLawHusbandsBrother,
    CNLabelContactRelationBrotherInLawWifesBrother,
    CNLabelContactRelationBrotherInLawSistersHusband,
    CNLabelContactRelationBrotherInLawYoungerSistersHusband,
    CNLabelContactRelationBrotherInLawElderSistersHusband,
    CNLabelContactRelationSisterInLawWifesBrothersWife,
    CNLabelContactRelationSisterInLawHusbandsBrothersWife,
    CNLabelContactRelationBrotherInLawWifesSistersHusband,
    CNLabelContactRelationBrotherInLawHusbandsSistersHusband,
    CNLabelContactRelationCoSiblingInLaw,
    CNLabelContactRelationCoSisterInLaw,
    CNLabelContactRelationCoBrotherInLaw,
    CNLabelContactRelationChildInLaw,
    CNLabelContactRelationDaughterInLaw,
    CNLabelContactRelationSonInLaw,
    CNLabelContactRelationCousin,
    CNLabelContactRelationYoungerCousin,
    CNLabelContactRelationElderCousin,
    CNLabelContactRelationMaleCousin,
    CNLabelContactRelationFemaleCousin,
    CNLabelContactRelationCousinParentsSiblingsChild,
    CNLabelContactRelationCousinParentsSiblingsSon,
    CNLabelContactRelationYoungerCousinParentsSiblingsSon,
    CNLabelContactRelationElderCousinParentsSiblingsSon,
    CNLabelContactRelationCousinParentsSiblingsDaughter,
    CNLabelContactRelationYoungerCousinParentsSiblingsDaughter,
    CNLabelContactRelationElderCousinParentsSiblingsDaughter,
    CNLabelContactRelationCousinMothersSistersDaughter,
    CNLabelContactRelationYoungerCousinMothersSistersDaughter,
    CNLabelContactRelationElderCousinMothersSistersDaughter,
    CNLabelContactRelationCousinMothersSistersSon,
    CNLabelContactRelationYoungerCousinMothersSistersSon,
    CNLabelContactRelationElderCousinMothersSistersSon,
    CNLabelContactRelationCousinMothersBrothersDaughter,
    CNLabelContactRelationYoungerCousinMothersBrothersDaughter,
    CNLabelContactRelationElderCousinMothersBrothersDaughter,
    CNLabelContactRelationCousinMothersBrothersSon,
    CNLabelContactRelationYoungerCousinMothersBrothersSon,
    CNLabelContactRelationElderCousinMothersBrothersSon,
    CNLabelContactRelationCousinFathersSistersDaughter,
    CNLabelContactRelationYoungerCousinFathersSistersDaughter,
    CNLabelContactRelationElderCousinFathersSistersDaughter,
    CNLabelContactRelationCousinFathersSistersSon,
    CNLabelContactRelationYoungerCousinFathersSistersSon,
    CNLabelContactRelationElderCousinFathersSistersSon,
    CNLabelContactRelationCousinFathersBrothersDaughter,
    CNLabelContactRelationYoungerCousinFathersBrothersDaughter,
    CNLabelContactRelationElderCousinFathersBrothersDaughter,
    CNLabelContactRelationCousinFathersBrothersSon,
    CNLabelContactRelationYoungerCousinFathersBrothersSon,
    CNLabelContactRelationElderCousinFathersBrothersSon,
    CNLabelContactRelationCousinGrandparentsSiblingsChild,
    CNLabelContactRelationCousinGrandparentsSiblingsDaughter,
    CNLabelContactRelationCousinGrandparentsSiblingsSon,
    CNLabelContactRelationYoungerCousinMothersSiblingsSonOrFathersSistersSon,
    CNLabelContactRelationElderCousinMothersSiblingsSonOrFathersSistersSon,
    CNLabelContactRelationYoungerCousinMothersSiblingsDaughterOrFathersSistersDaughter,
    CNLabelContactRelationElderCousinMothersSiblingsDaughterOrFathersSistersDaughter,
    CNLabelContactRelationParentsSibling,
    CNLabelContactRelationParentsYoungerSibling,
    CNLabelContactRelationParentsElderSibling,
    CNLabelContactRelationParentsSiblingMothersSibling,
    CNLabelContactRelationParentsSiblingMothersYoungerSibling,
    CNLabelContactRelationParentsSiblingMothersElderSibling,
    CNLabelContactRelationParentsSiblingFathersSibling,
    CNLabelContactRelationParentsSiblingFathersYoungerSibling,
    CNLabelContactRelationParentsSiblingFathersElderSibling,
    CNLabelContactRelationAunt,
    CNLabelContactRelationAuntParentsSister,
    CNLabelContactRelationAuntParentsYoungerSister,
    CNLabelContactRelationAuntParentsElderSister,
    CNLabelContactRelationAuntFathersSister,
    CNLabelContactRelationAuntFathersYoungerSister,
    CNLabelContactRelationAuntFathersElderSister,
    CNLabelContactRelationAuntFathersBrothersWife,
    CNLabelContactRelationAuntFathersYoungerBrothersWife,
    CNLabelContactRelationAuntFathersElderBrothersWife,
    CNLabelContactRelationAuntMothersSister,
    CNLabelContactRelationAuntMothersYoungerSister,
    CNLabelContactRelationAuntMothersElderSister,
    CNLabelContactRelationAuntMothersBrothersWife,
    CNLabelContactRelationGrandaunt,
    CNLabelContactRelationUncle,
    CNLabelContactRelationUncleParentsBrother,
    CNLabelContactRelationUncleParentsYoungerBrother,
    CNLabelContactRelationUncleParentsElderBrother,
    CNLabelContactRelationUncleMothersBrother,
    CNLabelContactRelationUncleMothersYoungerBrother,
    CNLabelContactRelationUncleMothersElderBrother,
    CNLabelContactRelationUncleMothersSistersHusband,
    CNLabelContactRelationUncleFathersBrother,
    CNLabelContactRelationUncleFathersYoungerBrother,
    CNLabelContactRelationUncleFathersElderBrother,
    CNLabelContactRelationUncleFathersSistersHusband,
    CNLabelContactRelationUncleFathersYoungerSistersHusband,
    CNLabelContactRelationUncleFathersElderSistersHusband,
    CNLabelContactRelationGranduncle,
    CNLabelContactRelationSiblingsChild,
    CNLabelContactRelationNiece,
    CNLabelContactRelationNieceSistersDaughter,
    CNLabelContactRelationNieceBrothersDaughter,
    CNLabelContactRelationNieceSistersDaughterOrWifesSiblingsDaughter,
    CNLabelContactRelationNieceBrothersDaughterOrHusbandsSiblingsDaughter,
    CNLabelContactRelationNephew,
    CNLabelContactRelationNephewSistersSon,
    CNLabelContactRelationNephewBrothersSon,
    CNLabelContactRelationNephewBrothersSonOrHusbandsSiblingsSon,
    CNLabelContactRelationNephewSistersSonOrWifesSiblingsSon,
    CNLabelContactRelationGrandniece,
    CNLabelContactRelationGrandnieceSistersGranddaughter,
    CNLabelContactRelationGrandnieceBrothersGranddaughter,
    CNLabelContactRelationGrandnephew,
    CNLabelContactRelationGrandnephewSistersGrandson,
    CNLabelContactRelationGrandnephewBrothersGrandson,
    CNLabelContactRelationStepparent,
    CNLabelContactRelationStepfather,
    CNLabelContactRelationStepmother,
    CNLabelContactRelationStepchild,
    CNLabelContactRelationStepson,
    CNLabelContactRelationStepdaughter,
    CNLabelContactRelationStepbrother,
    CNLabelContactRelationStepsister,
    CNLabelContactRelationMotherInLawOrStepmother,
    CNLabelContactRelationFatherInLawOrStepfather,
    CNLabelContactRelationDaughterInLawOrStepdaughter,
    CNLabelContactRelationSonInLawOrStepson,
    CNLabelContactRelationCousinOrSiblingsChild,
    CNLabelContactRelationNieceOrCousin,
    CNLabelContactRelationNephewOrCousin,
    CNLabelContactRelationGrandchildOrSiblingsChild,
    CNLabelContactRelationGreatGrandchildOrSiblingsGrandchild,
    CNLabelContactRelationDaughterInLawOrSisterInLaw,
    CNLabelContactRelationSonInLawOrBrotherInLaw,
};

}  // namespace pelkora::contacts
