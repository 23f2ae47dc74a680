// pelkora catalogue: the targets a column can be assigned to, and the labels of a target.

#include "Command.h"
#include "addressbook/ContactLocalization.h"
#include "mapping/ContactPropertyCatalogue.h"

namespace pelkora::cli {

int runCatalogue(const std::vector<std::string>& arguments, const GlobalOptions&) {
    if (arguments.empty()) {
        for (const auto& item : makeTargetMenu(false)) {
            switch (item.kind) {
                case TargetMenuItem::Kind::separator:
                    std::cout << "-\n";
                    break;
                case TargetMenuItem::Kind::ignore:
                    std::cout << item.tag << '\t' << item.title << '\n';
                    break;
                case TargetMenuItem::Kind::property: {
                    const auto& entry = item.representedEntry;
                    std::cout << item.tag << '\t' << item.title << '\t'
                              << entry.propertyKey.value_or("");
                    if (entry.propertySubKey) std::cout << '/' << *entry.propertySubKey;
                    std::cout << '\n';
                    break;
                }
            }
        }
        return kSuccess;
    }
    if (arguments.size() == 2 && arguments[0] == "--labels") {
        const auto target = SuggestedContactProperty::target(arguments[1]);
        if (!target.canHaveLabel()) {
            printError("catalogue: “" + arguments[1] +
                       "” takes no label (keys with labels: phoneNumbers, "
                       "emailAddresses, urlAddresses, postalAddresses, dates, contactRelations, "
                       "instantMessageAddresses)");
            return kUsageError;
        }
        for (auto label : target.systemLabels()) {
            std::cout << label << '\t' << contacts::localizedStringForLabel(label) << '\n';
        }
        return kSuccess;
    }
    printError("catalogue: takes no arguments, or --labels KEY");
    return kUsageError;
}

}  // namespace pelkora::cli
