// pelkora vocabulary: the column titles the importer recognises, and what each maps to.

#include <CLI/CLI.hpp>
#include <map>
#include <optional>
#include <vector>

#include "Command.h"
#include "CommandHelp.h"
#include "CommandOptions.h"
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

struct VocabularyOptions {
    std::optional<std::string> language;  // --lang xx
    std::optional<std::string> find;      // --find TITLE
    bool custom = false;                  // --custom
    bool json = false;                    // --json
    std::vector<std::string> forget;      // --forget [TITLE]: the title, or none with --all
    bool all = false;                     // --all, after --forget
    bool forgetAll = false;               // --forget-all, or --forget --all
    bool forgetting = false;              // --forget or --forget-all given
};

// Removes one learnt title, or all of them (title none).
int forgetTitles(const std::optional<std::string>& title) {
    StringMap learnt = loadCustomStringMap();
    const std::size_t before = learnt.size();
    if (!title) {
        learnt.clear();
    } else if (!forgetCustomTitle(learnt, *title)) {
        printError("vocabulary: “" + *title +
                   "” is not a learnt title. Run “pelkora vocabulary --custom” to see them.");
        return kUsageError;
    }
    if (auto replaced = replaceCustomStringMap(learnt); !replaced) {
        printError("vocabulary: " + replaced.error());
        return kStorageError;
    }
    std::cerr << "forgot " << before - learnt.size() << " learnt "
              << (before - learnt.size() == 1 ? "title" : "titles") << '\n';
    return kSuccess;
}

int runVocabulary(const VocabularyOptions& options) {
    if (options.forgetting)
        return forgetTitles(options.forgetAll ? std::nullopt
                                              : std::optional<std::string>(options.forget.front()));
    const StringMap entries = options.custom ? loadCustomStringMap() : vendorStringMap();
    const auto wanted = options.find ? std::optional(folded(*options.find)) : std::nullopt;
    std::map<std::string, std::size_t> perLanguage;
    std::size_t shown = 0;
    std::vector<std::vector<std::string>> table;
    std::string json = "[";
    for (const auto& entry : entries) {
        if (options.language && entry.ISOLanguageCode != *options.language) continue;
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
    if (options.json) {
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

}  // namespace

void addVocabularyCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<VocabularyOptions>();
    CLI::App* command = app.add_subcommand("vocabulary");
    describe(*command,
             {"List the column titles the importer recognises",
              "Language, title, kind, target and label of each title; --custom lists the "
              "titles learnt from your own corrections instead. Counts go to stderr. --forget "
              "removes a learnt title, --forget --all (or --forget-all) every one.",
              {{"pelkora vocabulary --lang=de --find mail", "German titles holding \"mail\"."},
               {"pelkora vocabulary --custom", "What your corrections taught."},
               {"pelkora vocabulary --forget Groups", "Forgets the learnt title \"Groups\"."}}});
    command
        ->add_option("--lang", options->language,
                     "Only the titles of this language (an ISO 639-1 code the vocabulary has).")
        ->type_name("xx")
        ->check(vocabularyLanguageCheck());
    command->add_option("--find", options->find, "Only titles holding this text (any case).")
        ->type_name("TITLE");
    command->add_flag("--custom", options->custom, "The titles learnt from your corrections.");
    command->add_flag("--json", options->json,
                      "Print a JSON array (language, title, kind, propertyKey, propertySubKey, "
                      "label, vendor).");
    CLI::Option* forget =
        command
            ->add_option("--forget", options->forget,
                         "Forget a title learnt from your corrections (--forget --all: every "
                         "one); exits 2 when the title was not learnt.")
            ->type_name("TITLE")
            ->expected(0, 1);
    command->add_flag("--all", options->all, "With --forget: every learnt title.")->needs(forget);
    CLI::Option* forgetAll =
        command->add_flag("--forget-all", options->forgetAll, "Forget every learnt title.")
            ->excludes(forget);
    for (const char* listing : {"--lang", "--find", "--custom", "--json"}) {
        command->get_option(listing)->excludes(forget);
        command->get_option(listing)->excludes(forgetAll);
    }
    command->parse_complete_callback([options, forget] {
        if (forget->count() == 0 && !options->forgetAll) return;
        options->forgetting = true;
        if (options->forgetAll) return;
        // --forget without a value leaves an empty result.
        std::erase(options->forget, std::string());
        if (options->all && !options->forget.empty())
            throw CLI::ValidationError("--forget", "a TITLE or --all, not both");
        if (!options->all && options->forget.empty())
            throw CLI::ValidationError("--forget", "name the TITLE, or --all");
        options->forgetAll = options->all;
    });
    setAction(*command, context, [options] { return runVocabulary(*options); });
}

}  // namespace pelkora::cli
