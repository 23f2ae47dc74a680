#pragma once

// The import session: one per process. It owns the document being imported (its
// reader, or the chosen vCard files), the progress shown to the user and the wizard's
// current page, and it turns the front end's entry points (open panel, drag and
// drop, the desktop's request to open files, reader events) into state changes.
//
// Everything here runs on the main thread. Background work (readers, operations)
// posts its events to the main queue. Nothing here draws: a front end implements
// SessionFrontEnd and shows what the session asks for.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/ContactAuthorization.h"
#include "addressbook/ContactStore.h"
#include "import/ImportJournal.h"
#include "import/ImportSource.h"
#include "import/VCardImportOperation.h"
#include "import/VCardScan.h"
#include "input/TabularDataReader.h"
#include "input/TextReader.h"
#include "mapping/AutoMapping.h"
#include "mapping/DateFormat.h"
#include "mapping/SavedMapping.h"
#include "mapping/StringMap.h"
#include "mappingstore/MappingStore.h"
#include "platform/OperationQueue.h"
#include "platform/Progress.h"
#include "platform/SettingsStore.h"
#include "session/ImportError.h"
#include "session/Page.h"
#include "session/StoreDirectory.h"
#include "support/Expected.h"

namespace pelkora {

// How the next opened file is to be read; the raw values are the tags of the
// open panel's pop-up items.
enum class OpenAsFileType {
    determineAutomatically = 1,
    officeOpenXMLSpreadsheet = 2,
    text = 3,
    vCard = 4,
};

// The case for a pop-up tag; none outside 1 to 4.
std::optional<OpenAsFileType> openAsFileTypeFromRawValue(int rawValue);

// What classification found; the number is written to the runtime log.
enum class DetectedFileType {
    unknown = 0,
    text = 1,
    officeOpenXMLSpreadsheet = 2,
    excel97Workbook = 3,
    vCard = 4,
    binaryWorkbook = 5,
    numbersSpreadsheet = 6,
    openDocumentSpreadsheet = 7,
};

// The case's name ("officeOpenXMLSpreadsheet"), for scripts and tests.
std::string_view detectedFileTypeName(DetectedFileType type);

// A critical alert shown as a sheet of the main window. The front end calls
// completion with the index of the chosen button (0 is the first, default button).
// How an alert looks: a failure, a warning, or news of work done.
enum class AlertStyle { critical, warning, informational };

struct Alert {
    std::string heading;
    std::string text;
    // What went wrong in the words of the part that failed ("The part … inflates to more
    // than … bytes"), shown below the text; empty when the text says it all.
    std::string detail;
    std::vector<std::string> buttons;
    std::function<void(std::size_t buttonIndex)> completion;
    AlertStyle style = AlertStyle::critical;
};

// What is being dragged over the window.
inline constexpr std::string_view kFilenamesPboardType = "NSFilenamesPboardType";
struct Pasteboard {
    std::vector<std::string> types;
    std::optional<std::vector<std::string>> filenames;  // the paths, when they can be read
};
enum class DragOperation { none, copy };

// What the user chose before a text file is read (command-line options); unset parts are
// detected as usual.
struct TextReadingChoices {
    std::optional<TextEncoding> encoding;
    std::optional<std::string> fieldDelimiter;  // one character
};

// The session's answer to the desktop's request to open files.
enum class OpenFilesReply { deferred, success, failure };

// What a front end (the command line, a GUI) shows for the session. Called on the
// main thread only; every method has a do-nothing default.
// One item of the sheet chooser: the sheet's name and the workbook's number for it.
struct SheetChoice {
    std::string title;
    std::int64_t sheetId = 0;
    bool operator==(const SheetChoice&) const = default;
};

class SessionFrontEnd {
  public:
    virtual ~SessionFrontEnd() = default;
    // The wizard shows another page.
    virtual void currentPageDidChange(Page& /*page*/) {}
    // The progress to show changed (none: no progress is current).
    virtual void currentProgressDidChange(const std::shared_ptr<Progress>& /*progress*/) {}
    virtual void showProgressSheet() {}
    virtual void closeProgressSheet() {}
    virtual void showAlert(const Alert& alert) {
        if (alert.completion) alert.completion(0);
    }
    virtual void bringToFront() {}
    virtual void beep() {}
    // A workbook has several sheets: show the sheet chooser with these items (workbook
    // order, the first selected) and answer with ImportSession::sheetSelected.
    virtual void chooseSheet(const std::vector<SheetChoice>& /*sheets*/) {}
};

class ImportSession final : public TabularDataReaderDelegate {
  public:
    ImportSession(SettingsStore& settings,
                  std::shared_ptr<ContactAuthorizationProvider> authorization,
                  PageRegistry registry = PageRegistry::standard());
    ~ImportSession() override;
    ImportSession(const ImportSession&) = delete;
    ImportSession& operator=(const ImportSession&) = delete;

    // The front end that shows this session; not owned, may be null.
    void setFrontEnd(SessionFrontEnd* frontEnd) { frontEnd_ = frontEnd; }
    // What "Open Runtime Log" uses to show the file (the desktop's default viewer unless replaced).
    void setLogViewer(std::function<bool(const std::filesystem::path&)> viewer) {
        logViewer_ = std::move(viewer);
    }
    // Applied to every text reader the session makes from now on.
    void setTextReadingChoices(TextReadingChoices choices) {
        textReadingChoices_ = std::move(choices);
    }
    // Called with every change of the "CompanyTerms" setting after launch.
    void setCompanyTermsObserver(std::function<void()> observer) {
        companyTermsObserver_ = std::move(observer);
    }

    // Registers the defaults, counts launches and unclean ends, shows the first page
    // and opens the files that arrived during launch.
    void applicationDidFinishLaunching();
    // Marks a clean end and writes the settings out.
    void applicationWillTerminate();

    // The desktop asks to open files (start-up arguments, "Open With"). Before launch
    // has finished the paths wait and the answer is deferred.
    OpenFilesReply openFiles(std::vector<std::filesystem::path> paths);
    // The Open command: false when contacts may not be used; otherwise starts over and
    // the front end then runs its open panel.
    bool openDocument();
    // The open panel closed: none when cancelled, else the chosen files.
    void openPanelDidEnd(const std::optional<std::vector<std::filesystem::path>>& chosen);
    // The open panel's pop-up chose an item; tags outside 1 to 3 change nothing.
    void setOpenAsFileType(int tag);
    DragOperation draggingEntered(const Pasteboard& pasteboard);
    void draggingExited();
    // Files dropped on the window; false when the pasteboard holds no file names.
    bool performDragOperation(const Pasteboard& pasteboard);
    // The progress sheet's cancel button: cancels the current progress of this thread.
    void cancelCurrentProgress();
    // Shows the runtime log in the desktop's viewer.
    void openRuntimeLog();
    // The sheet chooser closed: parses the first sheet of the workbook with the chosen id;
    // none (or an id no sheet has) parses nothing.
    void sheetSelected(std::optional<std::int64_t> sheetId);
    // The items of the sheet chooser last shown.
    const std::vector<SheetChoice>& sheetChoices() const { return sheetChoices_; }

    // Classifies a file by its type identifier, and by its first bytes where the name says
    // nothing definite (plain text, unknown or no extension).
    DetectedFileType detectFileType(const std::filesystem::path& file) const;
    // Classifies a file of unknown type by its first bytes; text when they say nothing.
    DetectedFileType detectFileTypeByContent(const std::filesystem::path& file) const;
    // The type openAsFileType asks for, or the detected one when it asks for none.
    DetectedFileType requestedFileType(const std::filesystem::path& file) const;
    // Opens one tabular file (text or workbook) as openAsFileType says.
    Expected<void, ImportError> openFile(const std::filesystem::path& file);
    // Logs an open failure, closes the progress sheet and shows the alert; returns its texts.
    OpenErrorPresentation presentOpenError(ImportError error);

    // Back to the start page: cancels the session's operations, drops the readers and
    // the file lists.
    void startOver();
    // Replaces the current page by a new page built from the registry name.
    void setCurrentPage(std::string_view name);
    // Posts setCurrentPage to the main queue (how background work and events change
    // pages).
    void schedulePage(std::string_view name);
    void showNextPage();
    void showPreviousPage();

    // Parses the whole text file on its reader's queue (the encoding page's continue).
    void parseTextFile();
    // Sounds the front end's alert sound.
    void beep();

    // The address book the import saves into; may be null until a front end sets it.
    void setContactStore(std::shared_ptr<contacts::ContactStore> store) {
        contactStore_ = std::move(store);
    }
    const std::shared_ptr<contacts::ContactStore>& contactStore() const { return contactStore_; }
    // The other address books the import page offers; null offers only the session's store.
    void setStoreDirectory(std::shared_ptr<StoreDirectory> directory) {
        storeDirectory_ = std::move(directory);
    }
    const std::shared_ptr<StoreDirectory>& storeDirectory() const { return storeDirectory_; }
    // The "ContactStore" setting: the key of the store in use ("" for the user's own book).
    std::string contactStoreKey() const;
    // Imports go to the directory's store of that key from now on, and from the next start:
    // the store is opened, becomes the session's, and the setting names it; its default
    // container is chosen. The error (and nothing changed) when it cannot be opened.
    Expected<void, std::string> switchContactStore(const std::string& key);
    // Where imports record what they save, for undoing them; a front end sets it next to
    // the store (ImportJournal::defaultFolder()). Null records nothing, as a dry run into a
    // throw-away copy of the address book wants.
    void setImportJournal(std::shared_ptr<const ImportJournal> journal) {
        importJournal_ = std::move(journal);
    }
    const std::shared_ptr<const ImportJournal>& importJournal() const { return importJournal_; }
    // The reader whose rows are imported: the workbook reader when one is open, else the
    // text reader; null when neither is.
    std::shared_ptr<const TabularDataReader> currentReader() const;
    // What an import or export reads when it starts: the current reader, the mapping, the
    // date formats and the assembly settings.
    ImportSource importSource() const;
    // The user's answer to "First row contains column headers": the row of titles, or
    // kNotFound for none. Until it is given (and for every new reader) the reader's own.
    void setHeaderRowIndex(std::int64_t index) { headerRowChoice_ = index; }
    // Shows a progress in the progress sheet (cancelling the sheet cancels it), or closes it.
    void presentProgress(std::shared_ptr<Progress> progress);
    void dismissProgress();
    // Shows an alert through the front end.
    void showAlert(const Alert& alert);

    // Makes a reader the session's text or workbook reader, with the session as its delegate.
    void adoptTextReader(std::shared_ptr<TextReader> reader);
    void adoptExcelReader(std::shared_ptr<TabularDataReader> reader);

    const std::shared_ptr<TextReader>& textReader() const { return textReader_; }
    const std::shared_ptr<TabularDataReader>& excelReader() const { return excelReader_; }
    OpenAsFileType openAsFileType() const { return openAsFileType_; }
    const std::vector<std::filesystem::path>& filesToOpen() const { return filesToOpen_; }
    const std::vector<std::filesystem::path>& vCardUrls() const { return vCardUrls_; }
    // What the last vCard scan found: the cards in scan order and the group names, sorted.
    // Replaced when a scan finishes; cleared when a scan starts and on start over.
    const std::vector<ScannedVCard>& scannedVCards() const { return *scannedVCards_; }
    const std::vector<std::string>& vCardScanDetectedGroups() const {
        return vCardScanDetectedGroups_;
    }
    void setScanResults(std::vector<ScannedVCard> cards, std::vector<std::string> groups);
    // What a vCard import reads when it starts.
    VCardImportSource vCardImportSource() const;
    // Whether the import page imports scanned vCards rather than rows.
    bool importsVCards() const { return !vCardUrls_.empty() && !currentReader(); }
    const std::string& detectedLanguage() const { return detectedLanguage_; }
    // The shipped column-title vocabulary, loaded when first asked for: decoding it is most of
    // the launch's time, and a session of vCards never needs it.
    const StringMap& stringMap();
    // The user's own titles, loaded at launch.
    const StringMap& customStringMap() const { return customStringMap_; }
    StringMap& mutableCustomStringMap() { return customStringMap_; }
    // Matches column titles against the shipped vocabulary; built when first asked for.
    const TitleMatcher& titleMatcher();
    // The titles' language; recognised is false when it is only the fallback, in which case
    // dates are read as the user's locale writes them.
    void setDetectedLanguage(std::string language, bool recognised = true) {
        detectedLanguage_ = std::move(language);
        languageRecognised_ = recognised;
    }
    bool languageRecognised() const { return languageRecognised_; }
    // The current mapping: one entry per column, in column order.
    const std::vector<MappedContactProperty>& mappedContactProperties() const {
        return mappedContactProperties_;
    }
    std::vector<MappedContactProperty>& mutableMappedContactProperties() {
        return mappedContactProperties_;
    }
    // The date formats a date text is tried with: the user's, then the common ones of the locale.
    const std::vector<DateFormat>& customDateFormats() const { return customDateFormats_; }
    const std::vector<DateFormat>& commonDateFormats() const { return commonDateFormats_; }
    // The user's formats for the date-format page of the preferences, which changes them in
    // place and archives them; the next mapping reads dates with the changed list.
    std::vector<DateFormat>& mutableCustomDateFormats() { return customDateFormats_; }
    std::vector<DateFormat> dateFormats() const {
        return parserDateFormats(customDateFormats_, commonDateFormats_);
    }
    // Adds the user's hand-made assignments to the custom titles and writes them out; does
    // nothing while the session does not learn.
    void learnUserAssignments();
    // Whether hand-made assignments are learnt when the field-mapping page goes away (on at
    // first). A run that only shows a mapping, or imports for trial, turns it off.
    void setLearnsAssignments(bool learns) { learnsAssignments_ = learns; }
    bool learnsAssignments() const { return learnsAssignments_; }
    // The user's saved mappings in the local file, read from
    // SavedMappingStore::defaultLocation() when first asked for.
    SavedMappingStore& savedMappingStore();
    // Replaces the local file's store (tests, a command line given another file), and with it
    // the mapping store.
    void setSavedMappingStore(std::unique_ptr<SavedMappingStore> store) {
        mappingStore_.reset();
        savedMappingStore_ = std::move(store);
    }
    // The saved mappings the program works with: the local file's, or the shared ones once a
    // front end has set up sharing (MappingStore::setRecordStore, updateStatus, refresh).
    MappingStore& mappingStore();
    Page* currentPage() const { return currentPage_.get(); }
    // The name of the page shown before the current one; empty at first.
    const std::string& previousPageName() const { return previousPageName_; }
    const std::shared_ptr<Progress>& rootProgress() const { return rootProgress_; }
    const std::shared_ptr<Progress>& currentProgress() const { return currentProgress_; }
    bool isProgressSheetShown() const { return progressSheetShown_; }
    bool applicationDidFinishLaunchingFlag() const { return applicationDidFinishLaunching_; }
    bool applicationWillTerminateFlag() const { return applicationWillTerminate_; }
    OperationQueue& operationQueue() { return operationQueue_; }
    SettingsStore& settings() { return settings_; }

    // Reader events, on the main thread.
    void readerDidBeginParsing(TabularDataReader& reader) override;
    void readerDidParseRecord(TabularDataReader& reader, std::uint64_t recordNumber) override;
    void readerDidEndParsing(TabularDataReader& reader) override;
    void readerDidFailWithError(TabularDataReader& reader, const ReaderError& error) override;

  private:
    void processFilesToOpen(OpenFilesReply* reply);
    void collectVCards(const std::vector<std::filesystem::path>& paths);
    void showPageForAuthorizationStatus();
    void openTextFile(const std::filesystem::path& file);
    void textReaderDidExamine(const std::shared_ptr<TextReader>& reader);
    Expected<void, ImportError> openWorkbookFile(const std::filesystem::path& file);
    void parseWorkbookSheet(std::int64_t sheetIndex);
    void rememberOpenedDocument(const std::filesystem::path& file);
    void setCurrentProgress(std::shared_ptr<Progress> progress);
    void showProgressSheet();
    void closeProgressSheet();
    bool isSessionReader(const TabularDataReader& reader) const;

    SettingsStore& settings_;
    std::shared_ptr<ContactAuthorizationProvider> authorization_;
    PageRegistry registry_;
    SessionFrontEnd* frontEnd_ = nullptr;
    std::function<bool(const std::filesystem::path&)> logViewer_;
    std::function<void()> companyTermsObserver_;
    std::optional<SettingsStore::ObservationId> companyTermsObservation_;
    TextReadingChoices textReadingChoices_;

    std::shared_ptr<contacts::ContactStore> contactStore_;
    std::shared_ptr<StoreDirectory> storeDirectory_;
    std::shared_ptr<const ImportJournal> importJournal_;
    std::shared_ptr<TextReader> textReader_;
    std::shared_ptr<TabularDataReader> excelReader_;
    std::vector<SheetChoice> sheetChoices_;
    OpenAsFileType openAsFileType_ = OpenAsFileType::determineAutomatically;
    std::vector<std::filesystem::path> filesToOpen_;
    std::vector<std::filesystem::path> vCardUrls_;
    std::optional<std::int64_t> headerRowChoice_;
    std::shared_ptr<const std::vector<ScannedVCard>> scannedVCards_ =
        std::make_shared<const std::vector<ScannedVCard>>();
    std::vector<std::string> vCardScanDetectedGroups_;
    std::string detectedLanguage_ = "en";
    bool languageRecognised_ = false;
    std::optional<StringMap> stringMap_;
    StringMap customStringMap_;
    std::unique_ptr<TitleMatcher> titleMatcher_;
    std::vector<DateFormat> customDateFormats_;
    std::vector<DateFormat> commonDateFormats_;
    std::vector<MappedContactProperty> mappedContactProperties_;
    std::unique_ptr<SavedMappingStore> savedMappingStore_;
    std::unique_ptr<MappingStore> mappingStore_;  // refers to savedMappingStore_
    OperationQueue operationQueue_;
    std::shared_ptr<Progress> rootProgress_;
    std::shared_ptr<Progress> currentProgress_;
    bool progressSheetShown_ = false;
    std::unique_ptr<Page> currentPage_;
    std::string previousPageName_;
    bool applicationDidFinishLaunching_ = false;
    bool applicationWillTerminate_ = false;
    bool learnsAssignments_ = true;
    // Set while the session is alive; posted closures check it before touching the session.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pelkora
