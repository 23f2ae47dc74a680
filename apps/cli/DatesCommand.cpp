// pelkora dates: test a date format, and manage the user's own formats.

#include <CLI/CLI.hpp>
#include <cstdio>

#include "Command.h"
#include "CommandHelp.h"
#include "mapping/DateFormat.h"
#include "platform/SettingsStore.h"
#include "support/Json.h"
#include "text/DateFormatting.h"

namespace pelkora::cli {
namespace {

// ISO 8601: "1979-05-12", or "--05-12" for a day without a year.
std::string componentsText(const contacts::DateComponents& date) {
    char text[32];
    if (date.year) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", *date.year, date.month.value_or(0),
                      date.day.value_or(0));
    } else {
        std::snprintf(text, sizeof text, "--%02d-%02d", date.month.value_or(0),
                      date.day.value_or(0));
    }
    return text;
}

void printFormats(const std::vector<DateFormat>& formats, bool asJson) {
    std::vector<std::vector<std::string>> table;
    std::string json = "[";
    for (const auto& format : formats) {
        table.push_back({format.format, format.localeIdentifier.value_or(""),
                         format.userDefined ? "custom" : "common"});
        json += std::string(json.size() > 1 ? ",\n " : "\n ") +
                "{\"format\": " + json::quoted(format.format) + ", \"locale\": " +
                (format.localeIdentifier ? json::quoted(*format.localeIdentifier) : "null") +
                ", \"custom\": " + (format.userDefined ? "true" : "false") + "}";
    }
    if (asJson) {
        std::cout << json << "\n]\n";
    } else {
        printListing(table);
    }
}

struct DatesOptions {
    std::string action;  // test, list, add or remove
    std::string format;
    std::optional<std::string> locale;
    std::string text;   // test: the date text
    bool json = false;  // list --json
};

// Stores the user's formats; the settings are written out at once.
int store(const std::vector<DateFormat>& custom, SettingsStore& settings) {
    DateFormat::archiveWithCustomFormats(custom, settings);
    if (auto written = settings.synchronize(); !written) {
        printError("dates: " + written.error().message);
        return kStorageError;
    }
    return kSuccess;
}

int runDates(const DatesOptions& options) {
    const std::string& action = options.action;
    auto& settings = SettingsStore::standard();
    auto custom = DateFormat::unarchiveCustomFormats(settings);

    if (action == "test") {
        // Without --locale the test uses the user's language, as the format page does.
        const auto locale = options.locale.value_or(dates::currentLanguageCode());
        auto result = testDateFormat(options.format, locale, options.text);
        if (!result) {
            const auto text = errorText(result.error());
            if (result.error() == DateParsingError::parsingFailed) {
                // Reading is strict, so this also covers days that do not exist (31/02/2000).
                printError("dates: “" + options.text + "” is not a date in the format “" +
                           options.format + "” (locale " + locale + "): " + std::string(text));
            } else {
                printError("dates: " + (text.empty()
                                            ? std::string("unknown locale “") + locale + "”"
                                            : std::string(text)));
            }
            return kUsageError;
        }
        std::cout << componentsText(result->components) << '\t' << result->displayText << '\n';
        return kSuccess;
    }
    if (action == "list") {
        printFormats(parserDateFormats(custom, commonDateFormats()), options.json);
        return kSuccess;
    }
    if (action == "add") {
        custom.push_back(DateFormat(options.format, options.locale, true));
        return store(custom, settings);
    }
    const auto before = custom.size();
    std::erase_if(custom,
                  [&](const DateFormat& format) { return format.format == options.format; });
    if (custom.size() == before) {
        printError("dates: no custom format “" + options.format +
                   "” (common formats cannot be removed)");
        return kUsageError;
    }
    return store(custom, settings);
}

}  // namespace

void addDatesCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<DatesOptions>();
    CLI::App* command = app.add_subcommand("dates");
    describe(*command,
             {"Test date formats, and manage your own",
              "Date texts are read with your own formats first, then with the common ones of "
              "your locale. Patterns are ICU's (dd.MM.yyyy, M/d/yy, ...).",
              {{"pelkora dates test --format dd.MM.yyyy 12.05.1979",
                "Prints 1979-05-12 and the date as your locale writes it."},
               {"pelkora dates add --format=d/M/yy --locale de", "Adds a format of your own."},
               {"pelkora dates list", "The formats, yours first."}}});
    command->require_subcommand(1);
    auto add = [&](const char* name, CommandHelp help) {
        return addAction(*command, context, options, name, std::move(help), runDates);
    };
    auto addFormat = [&](CLI::App* action) {
        action->add_option("--format", options->format, "The date pattern, in ICU's letters.")
            ->type_name("PATTERN")
            ->required();
    };
    auto addLocale = [&](CLI::App* action) {
        action
            ->add_option("--locale", options->locale,
                         "The locale the pattern's month and day names are in (en, de_AT, ...).")
            ->type_name("ID");
    };
    CLI::App* test = add("test", {"Read a date text with a pattern", "", {}});
    addFormat(test);
    addLocale(test);
    test->add_option("TEXT", options->text, "The date text.")->required();
    add("list", {"List the formats date texts are tried with",
                 "Yours, then the common ones of your locale: pattern, locale, custom or "
                 "common.",
                 {}})
        ->add_flag("--json", options->json, "Print a JSON array (format, locale, custom).");
    CLI::App* addCommand = add("add", {"Add a format of your own", "", {}});
    addFormat(addCommand);
    addLocale(addCommand);
    addFormat(add("remove", {"Remove a format of your own", "", {}}));
}

}  // namespace pelkora::cli
