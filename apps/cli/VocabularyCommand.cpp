// pelkora vocabulary: the column titles the importer recognises, and what each maps to.

#include <map>

#include "Command.h"
#include "mapping/StringMap.h"

namespace pelkora::cli {
namespace {

// Lower-case ASCII; enough for finding titles typed on the command line.
std::string folded(std::string text) {
    for (auto& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return text;
}

std::string targetText(const SuggestedContactProperty& entry) {
    std::string text = entry.formattedContactProperty().value_or(entry.propertyKey.value_or(""));
    if (auto label = entry.formattedContactLabel()) text += " (" + *label + ")";
    return text;
}

}  // namespace

int runVocabulary(const std::vector<std::string>& arguments, const GlobalOptions&) {
    std::optional<std::string> language;
    std::optional<std::string> find;
    bool custom = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const auto& argument = arguments[index];
        if ((argument == "--lang" || argument == "--find") && index + 1 < arguments.size()) {
            (argument == "--lang" ? language : find) = arguments[++index];
        } else if (argument == "--custom") {
            custom = true;
        } else {
            printError("vocabulary: options are --lang xx, --find TITLE and --custom");
            return kUsageError;
        }
    }
    const StringMap entries = custom ? loadCustomStringMap() : vendorStringMap();
    const auto wanted = find ? std::optional(folded(*find)) : std::nullopt;
    std::map<std::string, std::size_t> perLanguage;
    std::size_t shown = 0;
    for (const auto& entry : entries) {
        if (language && entry.ISOLanguageCode != *language) continue;
        const auto title = entry.localizedString.value_or("");
        if (wanted && folded(title).find(*wanted) == std::string::npos) continue;
        ++perLanguage[entry.ISOLanguageCode];
        ++shown;
        std::cout << entry.ISOLanguageCode << '\t' << title << '\t' << entry.type << '\t'
                  << targetText(entry) << (entry.isVendorCustomMapping ? "\tvendor" : "") << '\n';
    }
    std::cerr << shown << " entries";
    for (const auto& [code, count] : perLanguage)
        std::cerr << (code == perLanguage.begin()->first ? ": " : ", ") << code << ' ' << count;
    std::cerr << '\n';
    return kSuccess;
}

}  // namespace pelkora::cli
