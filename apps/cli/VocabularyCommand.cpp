// pelkora vocabulary: the column titles the importer recognises, and what each maps to.

#include <map>

#include "Command.h"
#include "mapping/StringMap.h"
#include "support/Json.h"

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

// Removes one learnt title, or all of them (title none).
int forgetTitles(const std::optional<std::string>& title) {
    StringMap learnt = loadCustomStringMap();
    const std::size_t before = learnt.size();
    if (!title) {
        learnt.clear();
    } else if (!forgetCustomTitle(learnt, *title)) {
        printError("vocabulary: “" + *title +
                   "” is not a learnt title. Run “pelkora vocabulary --custom” to see them.");
        return kFailure;
    }
    if (auto replaced = replaceCustomStringMap(learnt); !replaced) {
        printError("vocabulary: " + replaced.error());
        return kStorageError;
    }
    std::cerr << "forgot " << before - learnt.size() << " learnt "
              << (before - learnt.size() == 1 ? "title" : "titles") << '\n';
    return kSuccess;
}

}  // namespace

int runVocabulary(const std::vector<std::string>& arguments, const GlobalOptions&) {
    std::optional<std::string> language;
    std::optional<std::string> find;
    std::optional<std::string> forget;
    bool forgetAll = false;
    bool custom = false;
    bool asJson = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const auto& argument = arguments[index];
        if ((argument == "--lang" || argument == "--find") && index + 1 < arguments.size()) {
            (argument == "--lang" ? language : find) = arguments[++index];
        } else if (argument == "--custom") {
            custom = true;
        } else if (argument == "--forget-all" ||
                   (argument == "--forget" && index + 1 < arguments.size() &&
                    arguments[index + 1] == "--all")) {
            if (argument == "--forget") ++index;
            forgetAll = true;
        } else if (argument == "--forget" && index + 1 < arguments.size()) {
            forget = arguments[++index];
        } else if (argument == "--json") {
            asJson = true;
        } else {
            printError(
                "vocabulary: options are --lang xx, --find TITLE, --custom, --json, --forget TITLE "
                "and --forget-all");
            return kUsageError;
        }
    }
    if (forget || forgetAll) {
        if ((forget && forgetAll) || language || find || custom) {
            printError("vocabulary: --forget TITLE or --forget-all, alone");
            return kUsageError;
        }
        return forgetTitles(forget);
    }
    const StringMap entries = custom ? loadCustomStringMap() : vendorStringMap();
    const auto wanted = find ? std::optional(folded(*find)) : std::nullopt;
    std::map<std::string, std::size_t> perLanguage;
    std::size_t shown = 0;
    std::vector<std::vector<std::string>> table;
    std::string json = "[";
    for (const auto& entry : entries) {
        if (language && entry.ISOLanguageCode != *language) continue;
        const auto title = entry.localizedString.value_or("");
        if (wanted && folded(title).find(*wanted) == std::string::npos) continue;
        ++perLanguage[entry.ISOLanguageCode];
        ++shown;
        table.push_back({entry.ISOLanguageCode, title, entry.type, targetText(entry),
                         entry.isVendorCustomMapping ? "vendor" : ""});
        const auto optional = [](const std::optional<std::string>& text) {
            return text ? json::quoted(*text) : std::string("null");
        };
        json += std::string(json.size() > 1 ? ",\n " : "\n ") +
                "{\"language\": " + json::quoted(entry.ISOLanguageCode) +
                ", \"title\": " + json::quoted(title) + ", \"kind\": " + json::quoted(entry.type) +
                ", \"propertyKey\": " + optional(entry.propertyKey) +
                ", \"propertySubKey\": " + optional(entry.propertySubKey) +
                ", \"label\": " + optional(entry.label()) +
                ", \"vendor\": " + (entry.isVendorCustomMapping ? "true" : "false") + "}";
    }
    if (asJson) {
        std::cout << json << "\n]\n";
    } else {
        printListing(table);
    }
    std::cerr << shown << " entries";
    for (const auto& [code, count] : perLanguage)
        std::cerr << (code == perLanguage.begin()->first ? ": " : ", ") << code << ' ' << count;
    std::cerr << '\n';
    return kSuccess;
}

}  // namespace pelkora::cli
