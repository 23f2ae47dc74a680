#include "session/FieldMappingPage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <utility>

#include "addressbook/ContactKeys.h"
#include "addressbook/ContactLocalization.h"
#include "import/ContactAssembly.h"
#include "import/DateColumns.h"
#include "import/ImportSource.h"
#include "input/TabularDataReader.h"
#include "mapping/ValueLabels.h"
#include "platform/MainQueue.h"
#include "session/ImportSession.h"
#include "session/SettingsKeys.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "text/TextFolding.h"

namespace pelkora {
namespace {

// The reader's index values and the mapping's "no row" are the same largest integer.
static_assert(kNoRow == TabularDataReader::kNotFound);

bool sameTarget(const SuggestedContactProperty& left, const SuggestedContactProperty& right) {
    return left.propertyKey == right.propertyKey && left.propertySubKey == right.propertySubKey;
}

bool isExtendedRelation(std::string_view label) {
    const auto& extended = contacts::extendedRelationLabels;
    return std::find(extended.begin(), extended.end(), label) != extended.end();
}

// A cell as the mapping table previews it: text as it is, numbers without decimals, dates as
// calendar days.
std::string previewText(const DataCellView& cell) {
    switch (cell.kind()) {
        case CellKind::text:
            return std::string(cell.text());
        case CellKind::number: {
            const double number = std::get<double>(cell.value);
            char text[64];
            std::snprintf(text, sizeof text, "%.0f", std::nearbyint(number));
            return text;
        }
        case CellKind::boolean:
            return std::get<bool>(cell.value) ? "1" : "0";
        case CellKind::date: {
            const std::time_t seconds =
                std::chrono::system_clock::to_time_t(std::get<CellDate>(cell.value));
            std::tm local{};
            localtime_r(&seconds, &local);
            char text[32];
            std::strftime(text, sizeof text, "%Y-%m-%d", &local);
            return text;
        }
        case CellKind::none:
        case CellKind::picture:
            return {};
    }
    return {};
}

}  // namespace

FieldMappingPage::FieldMappingPage() : Page(std::string(PageNames::FieldMappingPage)) {}

FieldMappingPage::~FieldMappingPage() {
    *alive_ = false;
    queue_.cancelAllOperations();
    queue_.waitUntilAllOperationsAreFinished();
}

const TabularDataReader* FieldMappingPage::reader(ImportSession& session) const {
    if (session.textReader()) return session.textReader().get();
    return session.excelReader().get();
}

void FieldMappingPage::viewDidLoad(ImportSession& session) {
    if (session.textReader()) {
        setPreviousPageName(std::string(PageNames::SetTextEncodingPage));
    } else if (session.excelReader()) {
        setPreviousPageName(std::string(PageNames::InitialPage));
    }
    const auto* rows = reader(session);
    if (!rows) {
        writeLog(LogType::error, "No valid TabularDataReader object found");
        return;
    }
    if (rows->dataRows().empty()) {
        writeLog(LogType::error, "tabularDataReader has no data rows");
        return;
    }
    headerRowIndex_ = rows->headerRowIndex();
    exampleDataRowIndex_ = rows->exampleDataRowIndex();
    refreshCounts(session);
    automaticRun_ = true;
    mapFields(session);
    automaticRun_ = false;
}

std::optional<std::pair<std::string, std::string>> FieldMappingPage::mappingHint(
    ImportSession& session) const {
    if (mapping_ || !lastRunWasAutomatic_ ||
        !session.settings().boolForKey(SettingKey::ShowMappingHint)) {
        return std::nullopt;
    }
    return std::pair{
        localizedString(
            "Auto-mapping did complete. Check the mapping and correct it if necessary. Your "
            "custom assignments will be saved automatically for future use."),
        localizedString("You can re-map the fields with different options by choosing “Map with "
                        "Options…” from the “Mapping” menu.")};
}

void FieldMappingPage::suppressMappingHint(ImportSession& session) {
    session.settings().set(SettingKey::ShowMappingHint, PropertyValue(false));
}

void FieldMappingPage::continueAction(ImportSession& session) {
    session.schedulePage(PageNames::ImportPage);
}

void FieldMappingPage::viewWillDisappear(ImportSession& session) {
    session.learnUserAssignments();
}

// Maps on the page's queue from the header row (or the first row) and applies the result on
// the main queue.
void FieldMappingPage::mapFields(ImportSession& session) {
    const auto* rows = reader(session);
    if (!rows || rows->dataRows().empty()) return;
    mapping_ = true;
    const bool hasHeader = headerRowIndex_ != kNoRow;
    // A copy: the reader may be dropped (start over) while the pass runs.
    DataRow titleRow = rows->dataRows()[hasHeader ? static_cast<std::size_t>(headerRowIndex_) : 0];
    const int columnStyle = session.excelReader() ? 2 : 1;
    const TitleMatcher* matcher = &session.titleMatcher();
    const StringMap custom = session.customStringMap();
    const AutoMappingSettings settings = autoMappingSettings(session.settings());
    std::weak_ptr<bool> alive = alive_;
    ImportSession* owner = &session;
    lastRunWasAutomatic_ = automaticRun_;
    const std::optional<std::string> language = chosenLanguage_;
    queue_.addOperation([=, this] {
        auto result = autoMap(titleRow, hasHeader, columnStyle, *matcher, custom, settings);
        if (language) {
            rematchTitles(result.mappedContactProperties, hasHeader, *matcher, *language, settings);
            result.detectedLanguage = *language;
            result.languageRecognised = true;
            result.sessionCustomLabels =
                pelkora::sessionCustomLabels(result.mappedContactProperties);
        }
        MainQueue::shared().post([=, this, result = std::move(result)]() mutable {
            if (auto flag = alive.lock(); flag && *flag) applyResult(*owner, std::move(result));
        });
    });
}

void FieldMappingPage::applyResult(ImportSession& session, AutoMappingResult result) {
    mapping_ = false;
    session.setDetectedLanguage(result.detectedLanguage, result.languageRecognised);
    session.mutableMappedContactProperties() = std::move(result.mappedContactProperties);
    // Columns of self-labelled values ("work: …, home: …") take their labels from the cells.
    if (const auto* rows = reader(session))
        proposeExtractedLabels(session.mutableMappedContactProperties(), rows->dataRows(),
                               headerRowIndex_);
    sessionCustomLabels_ = std::move(result.sessionCustomLabels);
    refreshContents(session);
    notifyChanged();
}

std::vector<VocabularyLanguage> FieldMappingPage::languages(ImportSession& session) const {
    auto list = vocabularyLanguages(session.stringMap());
    const auto& current = session.detectedLanguage();
    if (std::none_of(list.begin(), list.end(),
                     [&](const VocabularyLanguage& item) { return item.code == current; }))
        list.push_back(vocabularyLanguage(current));
    return list;
}

const std::string& FieldMappingPage::language(ImportSession& session) const {
    return session.detectedLanguage();
}

void FieldMappingPage::setLanguage(ImportSession& session, const std::string& code) {
    if (mapping_ || code.empty()) return;
    chosenLanguage_ = code;
    auto& list = session.mutableMappedContactProperties();
    rematchTitles(list, headerRowIndex_ != kNoRow, session.titleMatcher(), code,
                  autoMappingSettings(session.settings()));
    session.setDetectedLanguage(code);
    if (const auto* rows = reader(session))
        proposeExtractedLabels(list, rows->dataRows(), headerRowIndex_);
    sessionCustomLabels_ = pelkora::sessionCustomLabels(list);
    refreshContents(session);
    notifyChanged();
}

void FieldMappingPage::setFirstRowContainsColumnHeaders(ImportSession& session,
                                                        bool containsHeaders) {
    const auto* rows = reader(session);
    if (!rows) return;
    const auto selected = selectRecordRows(rows->dataRows(), containsHeaders,
                                           {headerRowIndex_, exampleDataRowIndex_});
    headerRowIndex_ = selected.headerRowIndex;
    exampleDataRowIndex_ = selected.exampleDataRowIndex;
    // The import and the exports take the rows after the header row the user left.
    session.setHeaderRowIndex(headerRowIndex_);
    const bool hasHeader = headerRowIndex_ != kNoRow;
    const auto& titleRow =
        rows->dataRows()[hasHeader ? static_cast<std::size_t>(headerRowIndex_) : 0];
    refreshSourceFieldNames(session.mutableMappedContactProperties(), titleRow, hasHeader);
    refreshCounts(session);
    refreshContents(session);
    notifyChanged();
}

void FieldMappingPage::refreshCounts(ImportSession& session) {
    const auto* rows = reader(session);
    if (!rows) return;
    totalRecords_ = pelkora::totalRecords(rows->dataRows().size(), headerRowIndex_);
    currentRecordIndex_ = pelkora::currentRecordIndex(exampleDataRowIndex_, headerRowIndex_);
}

void FieldMappingPage::showNextRecord(ImportSession& session) {
    const auto* rows = reader(session);
    if (!rows || rows->dataRows().empty()) return;
    const auto last = static_cast<std::int64_t>(rows->dataRows().size()) - 1;
    if (exampleDataRowIndex_ == kNoRow) {
        exampleDataRowIndex_ = 0;
    } else if (exampleDataRowIndex_ < last) {
        ++exampleDataRowIndex_;
    }
    refreshCounts(session);
    refreshContents(session);
    notifyChanged();
}

void FieldMappingPage::showPreviousRecord(ImportSession& session) {
    if (exampleDataRowIndex_ == kNoRow) {
        exampleDataRowIndex_ = 0;
    } else if (headerRowIndex_ != kNoRow) {
        if (exampleDataRowIndex_ - 1 > headerRowIndex_) --exampleDataRowIndex_;
    } else if (exampleDataRowIndex_ >= 1) {
        --exampleDataRowIndex_;
    }
    refreshCounts(session);
    refreshContents(session);
    notifyChanged();
}

void FieldMappingPage::showFirstRecord(ImportSession& session) {
    const auto* rows = reader(session);
    if (!rows || rows->dataRows().empty()) return;
    const auto last = static_cast<std::int64_t>(rows->dataRows().size()) - 1;
    exampleDataRowIndex_ = std::min(headerRowIndex_ == kNoRow ? 0 : headerRowIndex_ + 1, last);
    refreshCounts(session);
    refreshContents(session);
    notifyChanged();
}

void FieldMappingPage::showLastRecord(ImportSession& session) {
    const auto* rows = reader(session);
    if (!rows || rows->dataRows().empty()) return;
    exampleDataRowIndex_ = static_cast<std::int64_t>(rows->dataRows().size()) - 1;
    refreshCounts(session);
    refreshContents(session);
    notifyChanged();
}

void FieldMappingPage::refreshContents(ImportSession& session) {
    auto& list = session.mutableMappedContactProperties();
    const auto* rows = reader(session);
    const bool hasExample =
        rows && exampleDataRowIndex_ != kNoRow &&
        exampleDataRowIndex_ < static_cast<std::int64_t>(rows->dataRows().size());
    for (auto& entry : list) {
        entry.sourceFieldContent.clear();
        entry.sourceFieldImageData.reset();
        if (!hasExample) continue;
        const auto& row = rows->dataRows()[static_cast<std::size_t>(exampleDataRowIndex_)];
        if (auto cell = row.cellForColumn(entry.columnIndex)) {
            if (cell->kind() == CellKind::picture) {
                const auto bytes = std::get<std::span<const std::uint8_t>>(cell->value);
                entry.sourceFieldImageData = std::vector<std::uint8_t>(bytes.begin(), bytes.end());
            } else {
                entry.sourceFieldContent = previewText(*cell);
            }
        }
    }
    rebuildPreview(session);
}

// Assembles the previewed row as the import will, and marks date columns whose text gave no
// date, so the user can add a format before importing.
void FieldMappingPage::rebuildPreview(ImportSession& session) {
    auto& list = session.mutableMappedContactProperties();
    for (auto& entry : list) entry.mappingHints.clear();
    const auto* rows = reader(session);
    if (!rows || exampleDataRowIndex_ == kNoRow ||
        exampleDataRowIndex_ >= static_cast<std::int64_t>(rows->dataRows().size())) {
        previewContact_.reset();
        previewDocument_ = {};
        return;
    }
    const auto& row = rows->dataRows()[static_cast<std::size_t>(exampleDataRowIndex_)];
    const auto formats = session.dateFormats();
    auto options = assemblyOptions(session.settings());
    // The previewed row's dates read as the import will read them: in the order the
    // whole column shows, else in the order of the titles' language.
    if (session.languageRecognised()) options.dateLanguage = session.detectedLanguage();
    options.dayMonthOrders =
        dayMonthOrdersOfDateColumns(rowsAfterHeader(rows->dataRows(), headerRowIndex_), list);
    AssembledContact assembled = assembleContact(row, list, formats, options);
    previewDocument_ = attributedPreview(assembled.contact, assembled.groupNames);
    previewContact_ = std::move(assembled.contact);
    for (auto& entry : list) {
        const auto& key = entry.contactProperty.propertyKey;
        const bool isDate = key == std::string(contacts::ContactKey::birthday) ||
                            key == std::string(contacts::ContactKey::dates);
        // A producer's "no date" ("0/0/00") is an empty cell, which needs no format.
        if (!isDate || !entry.contactProperty.isValid() || entry.sourceFieldContent.empty() ||
            isNoDatePlaceholder(entry.sourceFieldContent))
            continue;
        const contacts::Contact alone = assembleContact(row, {entry}, formats, options).contact;
        if (!alone.birthday && alone.dates.empty())
            entry.mappingHints.insert(MappingHint::inconvertibleDateString);
    }
}

std::vector<TargetMenuItem> FieldMappingPage::targetMenu(ImportSession& session, std::size_t row,
                                                         std::size_t selectedCount) const {
    auto menu = makeTargetMenu(session.settings().boolForKey(SettingKey::ShowMenuIcons));
    const auto& list = session.mappedContactProperties();
    const std::string notApplicable =
        localizedString("%@ (not applicable)", "A menu item that cannot be chosen now");
    const std::string inUse =
        localizedString("%@ (in use)", "A menu item whose field another column fills");
    for (auto& item : menu) {
        if (item.kind != TargetMenuItem::Kind::property || item.representedEntry.allowsDuplicates())
            continue;
        if (selectedCount > 1) {
            item.title = formatMessage(notApplicable, item.title);
            item.tag = -item.tag;
            continue;
        }
        for (std::size_t other = 0; other < list.size(); ++other) {
            if (other != row && sameTarget(list[other].contactProperty, item.representedEntry)) {
                item.title = formatMessage(inUse, item.title);
                item.tag = -item.tag;  // a negative tag marks a disabled item
                break;
            }
        }
    }
    return menu;
}

bool FieldMappingPage::isEnabled(const TargetMenuItem& item) {
    return item.kind != TargetMenuItem::Kind::separator && item.tag > 0;
}

void FieldMappingPage::contactPropertyDidChange(ImportSession& session, std::size_t row,
                                                const TargetMenuItem& item,
                                                const std::vector<std::size_t>& otherSelectedRows) {
    auto& list = session.mutableMappedContactProperties();
    if (row >= list.size()) return;
    if (!isEnabled(item)) {
        session.beep();
        return;
    }
    auto ignore = [](MappedContactProperty& entry) {
        entry.contactProperty.clearAll();
        entry.mappingHints.clear();
        entry.isCustomMapping = false;
    };
    if (item.kind == TargetMenuItem::Kind::ignore) {
        ignore(list[row]);
        for (auto other : otherSelectedRows) {
            if (other < list.size()) ignore(list[other]);
        }
    } else {
        const auto previousLabel = list[row].contactProperty.label();
        SuggestedContactProperty target = item.representedEntry;
        target.setPropertySubKey(item.representedEntry.propertySubKey);
        if (!target.canHaveSubKey() &&
            item.representedEntry.propertySubKey != std::string(CustomPropertyKeys::Addition)) {
            target.propertySubKey.reset();
        }
        if (target.canHaveLabel()) {
            const auto labels = target.systemLabels();
            if (previousLabel &&
                std::find(labels.begin(), labels.end(), *previousLabel) != labels.end()) {
                target.setLabel(*previousLabel);
            } else if (auto preferred = target.preferredLabel()) {
                target.setLabel(*preferred);
            }
        }
        list[row].contactProperty = target;
        list[row].mappedManuallyByUser = true;
        list[row].isCustomMapping = false;
        if (target.allowsDuplicates()) {
            for (auto other : otherSelectedRows) {
                if (other >= list.size() || other == row) continue;
                list[other].contactProperty = target;
                list[other].mappedManuallyByUser = true;
                list[other].isCustomMapping = false;
            }
        }
    }
    refreshContents(session);
    notifyChanged();
}

std::vector<LabelMenuItem> FieldMappingPage::labelMenu(ImportSession& session,
                                                       std::size_t row) const {
    const auto& list = session.mappedContactProperties();
    std::vector<LabelMenuItem> menu;
    if (row >= list.size() || !list[row].contactProperty.canHaveLabel()) return menu;
    const auto& target = list[row].contactProperty;
    const bool icons = session.settings().boolForKey(SettingKey::ShowMenuIcons);
    const bool showExtended =
        session.settings().boolForKey(SettingKey::ShowExtendedRelevantRelationships);
    auto icon = [&](std::string_view name) { return icons ? std::string(name) : std::string(); };
    for (auto label : target.offeredLabels()) {
        if (!showExtended && isExtendedRelation(label)) continue;
        menu.push_back({LabelMenuItem::Kind::systemLabel, contacts::localizedStringForLabel(label),
                        std::string(label), icon("system-label")});
        if (SuggestedContactProperty::isSeparatingLabel(label)) menu.push_back({});
    }
    if (target.propertyKey == std::string(contacts::ContactKey::contactRelations)) {
        menu.push_back({});
        menu.push_back({LabelMenuItem::Kind::toggleExtendedRelationships,
                        showExtended ? localizedString("Hide extended relationships")
                                     : localizedString("Show extended relationships"),
                        {},
                        {}});
    }
    menu.push_back({});
    menu.push_back({LabelMenuItem::Kind::extractFromField, localizedString("Extract from field"),
                    std::string(kExtractLabelMarker), icon("extract-labels")});
    menu.push_back({});
    if (auto found = sessionCustomLabels_.find(*target.propertyKey);
        found != sessionCustomLabels_.end()) {
        for (const auto& label : found->second) {
            menu.push_back({LabelMenuItem::Kind::customLabel, label, label, icon("custom-label")});
        }
        menu.push_back({});
    }
    menu.push_back({LabelMenuItem::Kind::newCustomLabel, localizedString("Custom Label…"), {}, {}});
    return menu;
}

std::string FieldMappingPage::labelText(ImportSession& session, std::size_t row) const {
    const auto& list = session.mappedContactProperties();
    return row < list.size() ? displayedLabel(list[row], list) : std::string();
}

void FieldMappingPage::contactLabelDidChange(ImportSession& session, std::size_t row,
                                             const std::string& label,
                                             const std::vector<std::size_t>& otherSelectedRows) {
    auto& list = session.mutableMappedContactProperties();
    auto apply = [&](MappedContactProperty& entry) {
        if (!entry.contactProperty.canHaveLabel()) return;
        entry.contactProperty.setLabel(label);
        // A label chosen by hand holds for every row, whatever a label column says.
        entry.labelColumnIndex.reset();
        entry.mappedManuallyByUser = true;
        entry.isCustomMapping = false;
    };
    if (row < list.size()) apply(list[row]);
    for (auto other : otherSelectedRows) {
        if (other < list.size() && other != row) apply(list[other]);
    }
    sessionCustomLabels_ = pelkora::sessionCustomLabels(list);
    refreshContents(session);
    notifyChanged();
}

void FieldMappingPage::toggleShowExtendedRelevantRelationships(ImportSession& session) {
    const std::string_view key = SettingKey::ShowExtendedRelevantRelationships;
    const bool show = !session.settings().boolForKey(key);
    session.settings().set(key, PropertyValue(show));
    if (!show) {
        for (auto& entry : session.mutableMappedContactProperties()) {
            if (auto label = entry.contactProperty.label(); label && isExtendedRelation(*label)) {
                entry.contactProperty.setLabel(contacts::Label::other);
            }
        }
    }
    refreshContents(session);
    notifyChanged();
}

void FieldMappingPage::clearMapping(ImportSession& session) {
    for (auto& entry : session.mutableMappedContactProperties()) {
        entry.contactProperty.clearAll();
        entry.mappingHints.clear();
        entry.isCustomMapping = false;
    }
    sessionCustomLabels_.clear();
    refreshContents(session);  // the preview shows what is left to import: nothing
    notifyChanged();
}

std::pair<std::string, std::string> FieldMappingPage::clearMappingConfirmation() {
    return {localizedString("Do you really want to clear all mappings?"),
            localizedString("This cannot be undone.")};
}

std::vector<SharedTargetWarning> FieldMappingPage::sharedTargetWarnings(
    ImportSession& session) const {
    return pelkora::sharedTargetWarnings(session.mappedContactProperties());
}

std::vector<std::size_t> FieldMappingPage::filteredRows(ImportSession& session,
                                                        const std::string& searchText) const {
    std::vector<std::size_t> rows;
    const auto& list = session.mappedContactProperties();
    for (std::size_t index = 0; index < list.size(); ++index) {
        if (containsIgnoringCaseAndDiacritics(list[index].sourceFieldName, searchText))
            rows.push_back(index);
    }
    return rows;
}

std::vector<SavedMappingMenuItem> FieldMappingPage::savedMappingsMenu(
    ImportSession& session) const {
    std::vector<SavedMappingMenuItem> menu;
    for (const auto& mapping : session.mappingStore().mappings())
        menu.push_back({mapping.title, kSavedMappingMenuItemTag, mapping.uuid});
    return menu;
}

std::string FieldMappingPage::proposedSaveTitle(ImportSession& session) const {
    std::string title;
    if (const auto* rows = reader(session)) {
        title = rows->fileURL().stem().string();
    } else if (!session.vCardUrls().empty()) {
        title = session.vCardUrls().front().stem().string();
    }
    if (title.empty()) title = untitledMappingTitle();
    return session.mappingStore().availableTitle(title);
}

Expected<SavedMapping, std::string> FieldMappingPage::saveMapping(ImportSession& session,
                                                                  const std::string& title) {
    SavedMapping mapping;
    mapping.title = title;
    // Without titles only the order of the columns can be recognised in another file.
    mapping.mappingMode =
        firstRowContainsColumnHeaders() ? MappingMode::byName : MappingMode::byPosition;
    const auto& list = session.mappedContactProperties();
    mapping.columnTitlesHash = session.importsVCards()
                                   ? columnTitlesHash(session.vCardUrls().front().parent_path())
                                   : columnTitlesHash(list);
    mapping.mappedContactProperties = list;
    // The previewed record is the user's data, not part of the mapping.
    for (auto& entry : mapping.mappedContactProperties) {
        entry.sourceFieldContent.clear();
        entry.sourceFieldImageData.reset();
        entry.mappingHints.clear();
    }
    if (auto saved = session.mappingStore().save(mapping); !saved) return Unexpected(saved.error());
    return mapping;
}

std::size_t FieldMappingPage::applySavedMapping(ImportSession& session, std::string_view uuid) {
    auto& store = session.mappingStore();
    const SavedMapping* found = store.findByUuid(uuid);
    if (!found) {
        writeLog(LogType::error, "No saved mapping with the UUID %{public}@", uuid);
        session.beep();
        return 0;
    }
    SavedMapping mapping = *found;
    const std::size_t taken = applySavedMapping(session, mapping);
    // The store logs a failure itself.
    (void)store.update(mapping);
    return taken;
}

std::size_t FieldMappingPage::applySavedMapping(ImportSession& session, SavedMapping& mapping) {
    auto& list = session.mutableMappedContactProperties();
    const bool showExtended =
        session.settings().boolForKey(SettingKey::ShowExtendedRelevantRelationships);
    const std::size_t taken = pelkora::applySavedMapping(mapping, list, showExtended);
    if (taken == 0) {
        // By position nothing is taken only when one of the lists is empty.
        if (mapping.mappingMode == MappingMode::byName) {
            const auto [heading, text] = noMatchingColumnTexts();
            session.showAlert(Alert{.heading = heading,
                                    .text = text,
                                    .detail = {},
                                    .buttons = {localizedString("OK")},
                                    .completion = {},
                                    .style = AlertStyle::warning});
        } else {
            session.beep();
        }
    }
    sessionCustomLabels_ = pelkora::sessionCustomLabels(list);
    refreshContents(session);
    notifyChanged();
    return taken;
}

std::pair<std::string, std::string> FieldMappingPage::noMatchingColumnTexts() {
    return {localizedString("Could not apply mapping"),
            localizedString("None of the saved mapping’s column headers matches any column "
                            "header in the import file.")};
}

void FieldMappingPage::notifyChanged() {
    if (changed_) changed_();
}

}  // namespace pelkora
