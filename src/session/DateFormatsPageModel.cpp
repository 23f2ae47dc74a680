#include "session/DateFormatsPageModel.h"

#include <algorithm>
#include <array>

#include "support/Localization.h"
#include "text/DateFormatting.h"

namespace pelkora {
namespace {

struct RefusalText {
    DateFormatRefusal refusal;
    const char* message;
    const char* informativeText;
};

constexpr const char* ownFormatsOnly =
    N_("Only your own custom date formats can be edited or removed.");

constexpr std::array<RefusalText, 3> refusalTexts{{
    {DateFormatRefusal::editBuiltInFormat, N_("Built-in date formats cannot be edited."),
     ownFormatsOnly},
    {DateFormatRefusal::removeBuiltInFormat, N_("Built-in date formats cannot be removed."),
     ownFormatsOnly},
    {DateFormatRefusal::noSuchRow, "", ""},
}};

const RefusalText* refusalEntry(DateFormatRefusal refusal) {
    for (const auto& entry : refusalTexts) {
        if (entry.refusal == refusal) return &entry;
    }
    return nullptr;
}

DateFormatRow rowOf(const DateFormat& format) {
    return DateFormatRow{format.userDefined, format.format,
                         format.localeIdentifier
                             ? dates::localeDisplayName(*format.localeIdentifier)
                             : std::string()};
}

}  // namespace

std::string refusalMessage(DateFormatRefusal refusal) {
    const auto* entry = refusalEntry(refusal);
    if (entry == nullptr || *entry->message == '\0') return {};
    return localizedString(entry->message, "Alert heading in the date formats preferences");
}

std::string refusalInformativeText(DateFormatRefusal refusal) {
    const auto* entry = refusalEntry(refusal);
    if (entry == nullptr || *entry->informativeText == '\0') return {};
    return localizedString(entry->informativeText, "Alert text in the date formats preferences");
}

DateFormatsPageModel::DateFormatsPageModel(std::vector<DateFormat>& customFormats,
                                           const std::vector<DateFormat>& commonFormats,
                                           SettingsStore& settings)
    : customFormats_(customFormats), commonFormats_(commonFormats), settings_(settings) {}

std::vector<DateFormatRow> DateFormatsPageModel::rows() const {
    std::vector<DateFormatRow> rows;
    rows.reserve(rowCount());
    for (const auto& format : customFormats_) rows.push_back(rowOf(format));
    for (const auto& format : commonFormats_) rows.push_back(rowOf(format));
    return rows;
}

DateFormatDraft DateFormatsPageModel::beginAdding() const {
    DateFormatDraft draft;
    draft.localeIdentifier = dates::currentLanguageCode();
    return draft;
}

Expected<DateFormatDraft, DateFormatRefusal> DateFormatsPageModel::beginEditing(
    std::size_t row) const {
    if (row >= rowCount()) return Unexpected(DateFormatRefusal::noSuchRow);
    if (row >= customFormats_.size()) return Unexpected(DateFormatRefusal::editBuiltInFormat);
    DateFormatDraft draft;
    draft.customIndex = row;
    draft.format = customFormats_[row].format;
    draft.localeIdentifier = customFormats_[row].localeIdentifier;
    return draft;
}

Expected<DateTestResult, DateParsingError> DateFormatsPageModel::test(
    const DateFormatDraft& draft) const {
    return testDateFormat(draft.format, draft.localeIdentifier, draft.testText);
}

void DateFormatsPageModel::save(const DateFormatDraft& draft) {
    if (draft.customIndex && *draft.customIndex < customFormats_.size()) {
        auto& record = customFormats_[*draft.customIndex];
        record.format = draft.format;
        record.localeIdentifier = draft.localeIdentifier;
    } else {
        customFormats_.emplace_back(draft.format, draft.localeIdentifier, true);
    }
    DateFormat::archiveWithCustomFormats(customFormats_, settings_);
}

Expected<void, DateFormatRefusal> DateFormatsPageModel::remove(std::size_t row) {
    if (row >= rowCount()) return Unexpected(DateFormatRefusal::noSuchRow);
    if (row >= customFormats_.size()) return Unexpected(DateFormatRefusal::removeBuiltInFormat);
    customFormats_.erase(customFormats_.begin() + static_cast<std::ptrdiff_t>(row));
    DateFormat::archiveWithCustomFormats(customFormats_, settings_);
    return {};
}

std::vector<LocaleChoice> DateFormatsPageModel::localeChoices() {
    std::vector<LocaleChoice> choices;
    for (auto& identifier : dates::availableLocaleIdentifiers()) {
        std::string name = dates::localeDisplayName(identifier);
        choices.push_back(LocaleChoice{std::move(identifier), std::move(name)});
    }
    std::stable_sort(
        choices.begin(), choices.end(),
        [](const LocaleChoice& left, const LocaleChoice& right) { return left.name < right.name; });
    return choices;
}

}  // namespace pelkora
