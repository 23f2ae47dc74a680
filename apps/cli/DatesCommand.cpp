// pelkora dates: test a date format, and manage the user's own formats.

#include <cstdio>

#include "Command.h"
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

// Reads --format PATTERN and --locale ID from the arguments; the rest are operands.
struct FormatOptions {
    std::optional<std::string> format;
    std::optional<std::string> locale;
    bool json = false;
    std::vector<std::string> operands;
};

std::optional<FormatOptions> parseFormatOptions(const std::vector<std::string>& arguments,
                                                std::size_t first) {
    FormatOptions options;
    for (std::size_t index = first; index < arguments.size(); ++index) {
        const auto& argument = arguments[index];
        if ((argument == "--format" || argument == "--locale") && index + 1 < arguments.size()) {
            (argument == "--format" ? options.format : options.locale) = arguments[++index];
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument.starts_with("--")) {
            printError("dates: unknown option “" + argument + "” (or it lacks its value)");
            return std::nullopt;
        } else {
            options.operands.push_back(argument);
        }
    }
    return options;
}

}  // namespace

int runDates(const std::vector<std::string>& arguments, const GlobalOptions&) {
    const std::string action = arguments.empty() ? std::string() : arguments[0];
    const auto options = parseFormatOptions(arguments, 1);
    if (!options) return kUsageError;
    auto& settings = SettingsStore::standard();
    auto custom = DateFormat::unarchiveCustomFormats(settings);

    if (action == "test" && options->format && options->operands.size() == 1) {
        // Without --locale the test uses the user's language, as the format page does.
        const auto locale = options->locale.value_or(dates::currentLanguageCode());
        auto result = testDateFormat(*options->format, locale, options->operands[0]);
        if (!result) {
            const auto text = errorText(result.error());
            if (result.error() == DateParsingError::parsingFailed) {
                // Reading is strict, so this also covers days that do not exist (31/02/2000).
                printError("dates: “" + options->operands[0] + "” is not a date in the format “" +
                           *options->format + "” (locale " + locale + "): " + std::string(text));
            } else {
                printError("dates: " + (text.empty()
                                            ? std::string("unknown locale “") + locale + "”"
                                            : std::string(text)));
            }
            return kFailure;
        }
        std::cout << componentsText(result->components) << '\t' << result->displayText << '\n';
        return kSuccess;
    }
    if (action == "list" && options->operands.empty()) {
        printFormats(parserDateFormats(custom, commonDateFormats()), options->json);
        return kSuccess;
    }
    if (action == "add" && options->format && options->operands.empty()) {
        custom.push_back(DateFormat(*options->format, options->locale, true));
        DateFormat::archiveWithCustomFormats(custom, settings);
        return kSuccess;
    }
    if (action == "remove" && options->format && options->operands.empty()) {
        const auto before = custom.size();
        std::erase_if(custom,
                      [&](const DateFormat& format) { return format.format == *options->format; });
        if (custom.size() == before) {
            printError("dates: no custom format “" + *options->format +
                       "” (common formats cannot be removed)");
            return kFailure;
        }
        DateFormat::archiveWithCustomFormats(custom, settings);
        return kSuccess;
    }
    printError(
        "dates: say test --format PATTERN [--locale ID] TEXT, list, add --format PATTERN [--locale "
        "ID] or "
        "remove --format PATTERN");
    return kUsageError;
}

}  // namespace pelkora::cli
