#pragma once

// The field-mapping page: one row per column with its title, its previewed content and
// its target. When the page opens, the columns are mapped automatically on the page's
// queue; the user then corrects targets and labels. What the user changes by hand is
// learnt (the user's custom titles) when the page goes away.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "import/ContactPreview.h"
#include "mapping/AutoMapping.h"
#include "mapping/ContactPropertyCatalogue.h"
#include "mapping/SavedMapping.h"
#include "platform/OperationQueue.h"
#include "session/Page.h"
#include "support/Expected.h"

namespace pelkora {

class TabularDataReader;

// One item of a label menu.
struct LabelMenuItem {
    enum class Kind {
        separator,
        systemLabel,
        toggleExtendedRelationships,
        extractFromField,
        customLabel,
        newCustomLabel
    };
    Kind kind = Kind::separator;
    std::string title;
    std::string label;      // the label the item sets; empty for the others
    std::string imageName;  // empty unless icons are shown
    bool operator==(const LabelMenuItem&) const = default;
};

// One item of the saved-mappings menu: a stored mapping, by title.
inline constexpr int kSavedMappingMenuItemTag = 1027;
struct SavedMappingMenuItem {
    std::string title;
    int tag = kSavedMappingMenuItemTag;
    std::string uuid;
    bool operator==(const SavedMappingMenuItem&) const = default;
};

class FieldMappingPage final : public Page {
  public:
    FieldMappingPage();
    ~FieldMappingPage() override;

    void viewDidLoad(ImportSession& session) override;
    void continueAction(ImportSession& session) override;
    // Learns the user's assignments before the page goes away.
    void viewWillDisappear(ImportSession& session) override;

    // Runs the automatic mapping again with the options from the settings ("Map with Options…").
    void mapFields(ImportSession& session);
    // The note shown after an automatic run (heading, detail) while "ShowMappingHint" is on;
    // none after a run the user asked for, or when the user turned the note off.
    std::optional<std::pair<std::string, std::string>> mappingHint(ImportSession& session) const;
    // The note's "do not show again" checkbox.
    void suppressMappingHint(ImportSession& session);
    bool isMapping() const { return mapping_; }

    // The languages the titles can be matched in, for the language pop-up: the vocabulary's,
    // and the current one even when the vocabulary has no titles in it.
    std::vector<VocabularyLanguage> languages(ImportSession& session) const;
    // The language the titles are matched in now: the detected one until the user chooses.
    const std::string& language(ImportSession& session) const;
    // Matches every title again in the language (an ISO 639-1 code); what the user assigned
    // by hand, the user's own titles and saved mappings stay. The choice also holds for later
    // runs of mapFields. Ignored while a mapping runs.
    void setLanguage(ImportSession& session, const std::string& code);

    // Whether the first non-empty row holds the column titles.
    bool firstRowContainsColumnHeaders() const { return headerRowIndex_ != kNoRow; }
    void setFirstRowContainsColumnHeaders(ImportSession& session, bool containsHeaders);
    std::int64_t totalRecords() const { return totalRecords_; }
    std::int64_t currentRecordIndex() const { return currentRecordIndex_; }
    void showNextRecord(ImportSession& session);
    void showPreviousRecord(ImportSession& session);
    // The first record after the header row, and the file's last row.
    void showFirstRecord(ImportSession& session);
    void showLastRecord(ImportSession& session);

    // The target menu for a clicked row, with targets other columns use marked "(in use)", or
    // with several rows selected the targets that allow no duplicates "(not applicable)".
    std::vector<TargetMenuItem> targetMenu(ImportSession& session, std::size_t row,
                                           std::size_t selectedCount) const;
    // Whether a target item of that menu may be chosen.
    static bool isEnabled(const TargetMenuItem& item);
    // The user chose a target item (or Ignore) for the row; the other selected rows follow.
    void contactPropertyDidChange(ImportSession& session, std::size_t row,
                                  const TargetMenuItem& item,
                                  const std::vector<std::size_t>& otherSelectedRows = {});
    // The label menu of the row's target.
    std::vector<LabelMenuItem> labelMenu(ImportSession& session, std::size_t row) const;
    // What the row's label cell shows: "label from column N" for a column labelled row by row
    // by another column ("Phone 1 - Label"), else the target's label; empty for targets
    // without labels.
    std::string labelText(ImportSession& session, std::size_t row) const;
    // The user chose a label (a constant, the extract marker or a custom text) for the row;
    // it then holds for every row, in place of a label column.
    void contactLabelDidChange(ImportSession& session, std::size_t row, const std::string& label,
                               const std::vector<std::size_t>& otherSelectedRows = {});
    // Shows or hides the extended relations; hiding them turns such labels into "other".
    void toggleShowExtendedRelevantRelationships(ImportSession& session);
    // Clears every target (after the front end's confirmation).
    void clearMapping(ImportSession& session);
    // The texts of the confirmation the front end shows before clearMapping.
    static std::pair<std::string, std::string> clearMappingConfirmation();

    // The saved-mappings menu: one item per stored mapping, in the store's order (by title).
    std::vector<SavedMappingMenuItem> savedMappingsMenu(ImportSession& session) const;
    // The title the save sheet proposes: the import file's name without extension, or
    // "Untitled Mapping" without a file; " 2", " 3", … appended while a mapping has it.
    std::string proposedSaveTitle(ImportSession& session) const;
    // Stores the current mapping under the title: by position when the file has no header
    // row, else by name. Returns what was stored, or why the store could not write it.
    Expected<SavedMapping, std::string> saveMapping(ImportSession& session,
                                                    const std::string& title);
    // Applies the stored mapping with that uuid (a saved-mappings menu item) and stores its
    // increased usage count. Returns how many columns took a saved target; with none, says so
    // (an alert by name, the beep by position).
    std::size_t applySavedMapping(ImportSession& session, std::string_view uuid);
    // The same for a mapping from elsewhere (an exported file): only `mapping` counts the use,
    // the caller decides whether to store it.
    std::size_t applySavedMapping(ImportSession& session, SavedMapping& mapping);
    // The heading and text of the alert shown when a mapping by name matches no column title.
    static std::pair<std::string, std::string> noMatchingColumnTexts();

    // The columns of the current mapping that share a target only one value fits, with the
    // message the page shows for each: contact assembly keeps the first non-empty value and
    // puts the others into the note. Follows every change of the mapping.
    std::vector<SharedTargetWarning> sharedTargetWarnings(ImportSession& session) const;

    // Rows whose title contains the text, ignoring case and diacritics; all rows for "".
    std::vector<std::size_t> filteredRows(ImportSession& session,
                                          const std::string& searchText) const;
    const SessionCustomLabels& sessionCustomLabels() const { return sessionCustomLabels_; }
    // The contact the mapping makes of the previewed row, and its preview; none without an
    // example row. Rebuilt after every change of mapping or record.
    const std::optional<contacts::Contact>& previewContact() const { return previewContact_; }
    const PreviewDocument& previewDocument() const { return previewDocument_; }
    // Called on the main thread whenever rows, contents or counts changed.
    void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

  private:
    void applyResult(ImportSession& session, AutoMappingResult result);
    void refreshContents(ImportSession& session);
    void rebuildPreview(ImportSession& session);
    void refreshCounts(ImportSession& session);
    const TabularDataReader* reader(ImportSession& session) const;
    void notifyChanged();

    OperationQueue queue_{"Auto-mapping"};
    bool mapping_ = false;
    bool automaticRun_ = false;  // set while the page starts the first run itself
    bool lastRunWasAutomatic_ = false;
    std::optional<std::string> chosenLanguage_;  // set by the user, in place of detection
    std::int64_t headerRowIndex_ = kNoRow;
    std::int64_t exampleDataRowIndex_ = kNoRow;
    std::int64_t totalRecords_ = 0;
    std::int64_t currentRecordIndex_ = 0;
    SessionCustomLabels sessionCustomLabels_;
    std::optional<contacts::Contact> previewContact_;
    PreviewDocument previewDocument_;
    std::function<void()> changed_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pelkora
