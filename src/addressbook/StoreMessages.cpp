#include "addressbook/StoreMessages.h"

#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora::contacts {

std::string inQuotes(std::string_view text) {
    // TRANSLATORS: a name in quotation marks.
    return formatMessage(localizedString("“%@”"), std::string(text));
}

std::string differentContainersText(std::string_view contactIdentifier,
                                    std::string_view groupIdentifier) {
    return formatMessage(
        localizedString("the contact %1$@ and the group %2$@ are in different containers"),
        inQuotes(contactIdentifier), inQuotes(groupIdentifier));
}

}  // namespace pelkora::contacts
