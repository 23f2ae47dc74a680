#pragma once

// Pieces of the messages every contact store gives, so that the stores say the same thing the
// same way.

#include <string>
#include <string_view>

namespace pelkora::contacts {

// A name or identifier in the user's quotation marks.
std::string inQuotes(std::string_view text);

// A membership whose contact and group are in different containers.
std::string differentContainersText(std::string_view contactIdentifier,
                                    std::string_view groupIdentifier);

}  // namespace pelkora::contacts
