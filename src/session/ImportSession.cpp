#include "session/ImportSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "addressbook/UserCountry.h"
#include "input/ExcelReader.h"
#include "platform/Desktop.h"
#include "platform/FileTypes.h"
#include "platform/MainQueue.h"
#include "session/SettingsKeys.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {
namespace Names = PageNames;

namespace {

// Classification reads at most this much of a file of unknown type.
constexpr std::size_t kContentSniffLength = 32768;
// Below this size a file of unknown type is taken for text.
constexpr std::size_t kMinimumSniffLength = 32;
// A determinate progress is shown from this many expected rows on.
constexpr std::uint64_t kDeterminateProgressRowCount = 101;

struct ClassificationGroup {
    std::array<std::string_view, 4> identifiers;  // unused slots are empty
    DetectedFileType result;
};

// Tested in this order; the first group with a matching identifier decides.
constexpr ClassificationGroup kClassification[] = {
    {{"public.comma-separated-values-text", "public.plain-text",
      "public.tab-separated-values-text"},
     DetectedFileType::text},
    {{"public.vcard"}, DetectedFileType::vCard},
    {{"com.microsoft.excel.xls"}, DetectedFileType::excel97Workbook},
    {{"com.microsoft.excel.sheet.binary.macroenabled", "com.microsoft.excel.sheet.binary"},
     DetectedFileType::binaryWorkbook},
    {{"com.apple.iwork.numbers.sffnumbers"}, DetectedFileType::numbersSpreadsheet},
    {{"org.oasis-open.opendocument.spreadsheet"}, DetectedFileType::openDocumentSpreadsheet},
    {{"com.microsoft.excel.openxmlformats.spreadsheetml.sheet",
      "com.microsoft.excel.openxmlformats.spreadsheetml.sheet.macroenabled",
      "org.openxmlformats.spreadsheetml.sheet",
      "org.openxmlformats.spreadsheetml.sheet.macroenabled"},
     DetectedFileType::officeOpenXMLSpreadsheet},
};

template <std::size_t N>
bool beginsWith(const std::string& bytes, const std::array<unsigned char, N>& signature) {
    return bytes.size() >= N && std::memcmp(bytes.data(), signature.data(), N) == 0;
}

}  // namespace

std::optional<OpenAsFileType> openAsFileTypeFromRawValue(int rawValue) {
    if (rawValue < 1 || rawValue > 4) return std::nullopt;
    return static_cast<OpenAsFileType>(rawValue);
}

std::string_view detectedFileTypeName(DetectedFileType type) {
    switch (type) {
        case DetectedFileType::unknown:
            return "unknown";
        case DetectedFileType::text:
            return "text";
        case DetectedFileType::officeOpenXMLSpreadsheet:
            return "officeOpenXMLSpreadsheet";
        case DetectedFileType::excel97Workbook:
            return "excel97Workbook";
        case DetectedFileType::vCard:
            return "vCard";
        case DetectedFileType::binaryWorkbook:
            return "binaryWorkbook";
        case DetectedFileType::numbersSpreadsheet:
            return "numbersSpreadsheet";
        case DetectedFileType::openDocumentSpreadsheet:
            return "openDocumentSpreadsheet";
    }
    return "unknown";
}

ImportSession::ImportSession(SettingsStore& settings,
                             std::shared_ptr<ContactAuthorizationProvider> authorization,
                             PageRegistry registry)
    : settings_(settings),
      authorization_(std::move(authorization)),
      registry_(std::move(registry)),
      logViewer_(desktop::openWithDefaultApplication),
      operationQueue_("Import operations"),
      rootProgress_(Progress::make(0)) {}

ImportSession::~ImportSession() {
    *alive_ = false;
    if (companyTermsObservation_) settings_.removeObserver(*companyTermsObservation_);
    adoptTextReader(nullptr);
    adoptExcelReader(nullptr);
    operationQueue_.cancelAllOperations();
    operationQueue_.waitUntilAllOperationsAreFinished();
}

// Launch and termination

void ImportSession::applicationDidFinishLaunching() {
    registerDefaults(settings_);
    writeLog(LogType::info, "Application launched");
    writeLog(LogType::info, "Installation path: %{public}@: ", desktop::installationPath());

    const std::int64_t launches = settings_.integerForKey(SettingKey::NumberOfLaunches) + 1;
    settings_.set(SettingKey::NumberOfLaunches, PropertyValue(launches));
    writeLog(LogType::info, "Number of launches: %{public}d", launches);

    const bool previousRunEndedCleanly = settings_.boolForKey(SettingKey::TerminatedProperly);
    if (!settings_.boolForKey(SettingKey::FirstLaunch) && !previousRunEndedCleanly) {
        const std::int64_t crashes = settings_.integerForKey(SettingKey::NumberOfCrashes) + 1;
        settings_.set(SettingKey::NumberOfCrashes, PropertyValue(crashes));
        writeLog(LogType::info, "Number of unsuccessful terminations: %{public}d", crashes);
    }
    settings_.set(SettingKey::TerminatedProperly, PropertyValue(false));
    // Written now rather than at exit: a run that dies must leave "not terminated properly" on
    // disk.
    if (auto written = settings_.synchronize(); !written) {
        writeLog(LogType::error, "Failed to synchronize the user's preferences!");
    }

    std::weak_ptr<bool> alive = alive_;
    companyTermsObservation_ =
        settings_.observe(SettingKey::CompanyTerms, [this, alive](const std::string&) {
            MainQueue::shared().post([this, alive] {
                if (alive.lock() && *alive.lock() && companyTermsObserver_) companyTermsObserver_();
            });
        });

    if (auto country = settings_.stringForKey(SettingKey::DefaultCountryCode);
        country && !country->empty()) {
        contacts::setCountryCodeOverride(*country);
    }
    customDateFormats_ =
        DateFormat::unarchiveCustomFormats(settings_, [](std::string_view className) {
            writeLog(LogType::error, "Cannot decode object of classname '%{public}@'", className);
        });
    commonDateFormats_ = pelkora::commonDateFormats();
    customStringMap_ = loadCustomStringMap();

    showPageForAuthorizationStatus();
    authorization_->requestAccess([this, alive](bool) {
        MainQueue::shared().post([this, alive] {
            if (auto flag = alive.lock(); !flag || !*flag) return;
            // Files opened during launch have moved the wizard past the start page; the
            // answer matters only while no document is open.
            const bool documentOpen = textReader_ || excelReader_ || !vCardUrls_.empty();
            if (documentOpen &&
                authorization_->authorizationStatus() == AuthorizationStatus::authorized)
                return;
            showPageForAuthorizationStatus();
        });
    });

    applicationDidFinishLaunching_ = true;
    if (!filesToOpen_.empty()) processFilesToOpen(nullptr);
}

void ImportSession::applicationWillTerminate() {
    applicationWillTerminate_ = true;
    if (currentPage_) currentPage_->viewWillDisappear(*this);
    if (learnsAssignments_) (void)saveCustomStringMap(customStringMap_);
    if (companyTermsObservation_) {
        settings_.removeObserver(*companyTermsObservation_);
        companyTermsObservation_.reset();
    }
    settings_.set(SettingKey::FirstLaunch, PropertyValue(false));
    settings_.set(SettingKey::TerminatedProperly, PropertyValue(true));
    if (auto written = settings_.synchronize(); !written) {
        writeLog(LogType::error, "Failed to synchronize the user's preferences!");
        writeLog(LogType::error, "%{public}@", written.error().message);
    }
    writeLog(LogType::info, "Goodbye!");
}

void ImportSession::showPageForAuthorizationStatus() {
    const AuthorizationStatus status = authorization_->authorizationStatus();
    switch (status) {
        case AuthorizationStatus::notDetermined:
            schedulePage(Names::AuthStatusNotDeterminedPage);
            return;
        case AuthorizationStatus::restricted:
            schedulePage(Names::RestrictedAccessPage);
            return;
        case AuthorizationStatus::denied:
            schedulePage(Names::NoAccessPage);
            return;
        case AuthorizationStatus::authorized:
            schedulePage(Names::InitialPage);
            return;
    }
    writeLog(LogType::debug, "%{public}@: Unhandled authorizationStatus encountered: '%{public}d'",
             "applicationDidFinishLaunching(_:)", static_cast<int>(status));
    schedulePage(Names::AuthStatusNotDeterminedPage);
}

// Entry points

OpenFilesReply ImportSession::openFiles(std::vector<std::filesystem::path> paths) {
    adoptTextReader(nullptr);
    adoptExcelReader(nullptr);
    filesToOpen_ = std::move(paths);
    if (!applicationDidFinishLaunching_) return OpenFilesReply::deferred;
    OpenFilesReply reply = OpenFilesReply::failure;
    processFilesToOpen(&reply);
    return reply;
}

void ImportSession::processFilesToOpen(OpenFilesReply* reply) {
    auto answer = [reply](OpenFilesReply value) {
        if (reply) *reply = value;
    };
    if (authorization_->authorizationStatus() != AuthorizationStatus::authorized ||
        filesToOpen_.empty()) {
        filesToOpen_.clear();
        answer(OpenFilesReply::failure);
        return;
    }
    const std::filesystem::path first = filesToOpen_.front();
    if (requestedFileType(first) != DetectedFileType::vCard) {
        // Tabular files are imported one at a time: the others are ignored.
        auto opened = openFile(first);
        if (!opened) presentOpenError(opened.error());
        filesToOpen_.clear();
        answer(opened ? OpenFilesReply::success : OpenFilesReply::failure);
        return;
    }
    collectVCards(filesToOpen_);
    schedulePage(Names::VCFScanPage);
    filesToOpen_.clear();
    answer(OpenFilesReply::failure);
}

void ImportSession::collectVCards(const std::vector<std::filesystem::path>& paths) {
    vCardUrls_.clear();
    for (const auto& path : paths) {
        if (requestedFileType(path) == DetectedFileType::vCard) {
            vCardUrls_.push_back(path);
        } else {
            writeLog(LogType::error, "Error: File seems not to be a vCard [%@=%@]", "NSFilePath",
                     desktop::fileURLString(path));
        }
    }
}

bool ImportSession::openDocument() {
    if (authorization_->authorizationStatus() != AuthorizationStatus::authorized) return false;
    startOver();
    return true;
}

void ImportSession::openPanelDidEnd(
    const std::optional<std::vector<std::filesystem::path>>& chosen) {
    if (!chosen) return;
    adoptTextReader(nullptr);
    adoptExcelReader(nullptr);
    if (chosen->empty()) return;
    const auto& first = chosen->front();
    if (requestedFileType(first) != DetectedFileType::vCard) {
        if (auto opened = openFile(first); !opened) presentOpenError(opened.error());
    } else {
        collectVCards(*chosen);
        schedulePage(Names::VCFScanPage);
    }
    openAsFileType_ = OpenAsFileType::determineAutomatically;
}

void ImportSession::setOpenAsFileType(int tag) {
    if (auto type = openAsFileTypeFromRawValue(tag)) openAsFileType_ = *type;
}

DragOperation ImportSession::draggingEntered(const Pasteboard& pasteboard) {
    if (currentPage_) currentPage_->draggingEntered();
    for (const auto& type : pasteboard.types) {
        if (type == kFilenamesPboardType) return DragOperation::copy;
    }
    return DragOperation::none;
}

void ImportSession::draggingExited() {
    if (currentPage_) currentPage_->draggingExited();
}

bool ImportSession::performDragOperation(const Pasteboard& pasteboard) {
    if (currentPage_) currentPage_->draggingEnded();
    bool offersFilenames = false;
    for (const auto& type : pasteboard.types)
        offersFilenames = offersFilenames || type == kFilenamesPboardType;
    if (!offersFilenames || !pasteboard.filenames || pasteboard.filenames->empty()) return false;
    std::vector<std::filesystem::path> paths(pasteboard.filenames->begin(),
                                             pasteboard.filenames->end());
    std::weak_ptr<bool> alive = alive_;
    MainQueue::shared().post([this, alive, paths = std::move(paths)]() mutable {
        if (auto flag = alive.lock(); flag && *flag) (void)openFiles(std::move(paths));
    });
    return true;
}

void ImportSession::cancelCurrentProgress() {
    if (auto progress = Progress::current()) progress->cancel();
}

void ImportSession::openRuntimeLog() {
    Logger::shared().openRuntimeLog(logViewer_);
}

// Classification and opening

namespace {

DetectedFileType classified(std::string_view type) {
    for (const auto& group : kClassification) {
        for (auto candidate : group.identifiers) {
            if (!candidate.empty() && filetypes::conformsTo(type, candidate)) return group.result;
        }
    }
    return DetectedFileType::unknown;
}

// The first bytes of a file, for classification by content; none when it cannot be read.
std::optional<std::string> firstBytes(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        writeLog(LogType::error, "Could not detect file type for file '%{public}@': %{public}@",
                 desktop::fileURLString(file), std::strerror(errno));
        return std::nullopt;
    }
    std::string bytes(kContentSniffLength, '\0');
    std::size_t length = 0;
    while (length < bytes.size()) {
        const ssize_t count = ::read(descriptor, bytes.data() + length, bytes.size() - length);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        length += static_cast<std::size_t>(count);
    }
    ::close(descriptor);
    bytes.resize(length);
    return bytes;
}

}  // namespace

// The name decides where it says something definite; a plain-text name (".txt") or a name
// without an extension leaves it to the content, so a vCard saved as ".txt" is a vCard and a CSV
// file without an extension is text.
DetectedFileType ImportSession::detectFileType(const std::filesystem::path& file) const {
    auto identifier = filetypes::typeIdentifierForFile(file);
    if (!identifier) {
        writeLog(LogType::error, "%{public}@", identifier.error().message);
        return DetectedFileType::unknown;
    }
    std::string type = *identifier;
    // Tab-separated files often carry ".tab", which desktops may not know as text.
    if (file.extension() == ".tab") type = "public.tab-separated-values-text";
    writeLog(LogType::info, "Detected UTI: %{public}@", type);
    const bool nameless = type == "public.data" && !file.has_extension();
    if (type == "public.plain-text" || nameless) {
        if (auto bytes = firstBytes(file)) {
            std::string byContent = filetypes::typeIdentifierForContent(*bytes);
            // Plain text stays text whatever its bytes.
            if (byContent != "public.data" || nameless) {
                if (byContent != type)
                    writeLog(LogType::info, "Content says: %{public}@", byContent);
                type = std::move(byContent);
            }
        }
    }
    return classified(type);
}

DetectedFileType ImportSession::detectFileTypeByContent(const std::filesystem::path& file) const {
    const auto bytes = firstBytes(file);
    if (!bytes || bytes->size() < kMinimumSniffLength) return DetectedFileType::text;
    const std::string type = filetypes::typeIdentifierForContent(*bytes);
    // Asked to read what it can, a zip archive is tried as a workbook.
    if (type == "public.zip-archive") return DetectedFileType::officeOpenXMLSpreadsheet;
    const DetectedFileType kind = classified(type);
    return kind == DetectedFileType::unknown ? DetectedFileType::text : kind;
}

DetectedFileType ImportSession::requestedFileType(const std::filesystem::path& file) const {
    switch (openAsFileType_) {
        case OpenAsFileType::text:
            return DetectedFileType::text;
        case OpenAsFileType::officeOpenXMLSpreadsheet:
            return DetectedFileType::officeOpenXMLSpreadsheet;
        case OpenAsFileType::vCard:
            return DetectedFileType::vCard;
        case OpenAsFileType::determineAutomatically:
            break;
    }
    return detectFileType(file);
}

namespace {

// A file that may not be read, or that is no regular file (a folder, a device, or a named pipe
// whose bytes could be read only once), is refused before anything looks at its content.
Expected<void, ImportError> checkReadableRegularFile(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        if (errno == EACCES || errno == EPERM) return Unexpected(ImportError::permissionDenied);
        return {};  // A file that is not there is reported by the reader that opens it.
    }
    if (!S_ISREG(status.st_mode)) return Unexpected(ImportError::notARegularFile);
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::close(descriptor);
    } else if (errno == EACCES || errno == EPERM) {
        return Unexpected(ImportError::permissionDenied);
    }
    return {};
}

}  // namespace

Expected<void, ImportError> ImportSession::openFile(const std::filesystem::path& file) {
    if (auto readable = checkReadableRegularFile(file); !readable) return readable;
    DetectedFileType kind = requestedFileType(file);
    if (kind == DetectedFileType::unknown &&
        settings_.boolForKey(SettingKey::TreatUnknownFileTypesAsText)) {
        kind = detectFileTypeByContent(file);
    }
    writeLog(LogType::info, "Detected file type for %{public}@: %{public}d", file.filename(),
             static_cast<int>(kind));

    switch (kind) {
        case DetectedFileType::unknown:
            return Unexpected(ImportError::unknownFormat);
        case DetectedFileType::excel97Workbook:
            return Unexpected(ImportError::unsupportedExcel97Workbook);
        case DetectedFileType::vCard:
            return Unexpected(ImportError::vCard);
        case DetectedFileType::binaryWorkbook:
            return Unexpected(ImportError::unsupportedBinarySpreadsheet);
        case DetectedFileType::numbersSpreadsheet:
            return Unexpected(ImportError::numbersSpreadsheet);
        case DetectedFileType::openDocumentSpreadsheet:
            return Unexpected(ImportError::openDocumentSpreadsheet);
        case DetectedFileType::text:
            openTextFile(file);
            break;
        case DetectedFileType::officeOpenXMLSpreadsheet:
            if (auto opened = openWorkbookFile(file); !opened) return opened;
            break;
    }
    rememberOpenedDocument(file);
    return {};
}

void ImportSession::openTextFile(const std::filesystem::path& file) {
    adoptTextReader(nullptr);
    adoptExcelReader(nullptr);
    auto progress = Progress::make(0, rootProgress_, 0);
    progress->setLocalizedDescription(localizedString("Examining text file…"));
    progress->setLocalizedAdditionalDescription(localizedString("Determining Character Encoding…"));
    progress->setCancellable(false);
    setCurrentProgress(progress);
    showProgressSheet();

    auto reader = std::make_shared<TextReader>(file);
    if (textReadingChoices_.encoding)
        reader->setStringEncodingByUser(*textReadingChoices_.encoding);
    if (textReadingChoices_.fieldDelimiter)
        reader->setFieldDelimiterByUser(*textReadingChoices_.fieldDelimiter);
    adoptTextReader(reader);
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<TextReader> weakReader = reader;
    // The operation holds the reader weakly: the reader's destructor waits for its queue, so
    // the last reference must never be dropped on that queue's own thread.
    reader->backgroundQueue().addOperation([this, alive, weakReader, raw = reader.get()] {
        raw->examineFile();
        MainQueue::shared().post([this, alive, weakReader] {
            auto examined = weakReader.lock();
            if (auto flag = alive.lock(); flag && *flag && examined) textReaderDidExamine(examined);
        });
    });
}

void ImportSession::textReaderDidExamine(const std::shared_ptr<TextReader>& reader) {
    if (reader != textReader_) return;
    for (const auto& entry : reader->parseLog())
        writeLog(LogType::info, "%{public}@", entry.message);
    writeLog(LogType::info,
             "Examined %{public}@: encoding %{public}@, field delimiter '%{public}@', %{public}lu "
             "lines expected",
             reader->fileURL().filename(), reader->stringEncoding().name(),
             reader->fieldDelimiter(), reader->proposedRowCount());
    if (reader->detectedContent() && reader->hasByteOrderMark() &&
        settings_.boolForKey(SettingKey::TrustBOMs)) {
        parseTextFile();
        return;
    }
    // The user confirms the encoding first; a file that could not be read at all ends there
    // too, in the page's unreadable state, instead of under a sheet that cannot be closed.
    closeProgressSheet();
    setCurrentProgress(nullptr);
    schedulePage(Names::SetTextEncodingPage);
}

void ImportSession::parseTextFile() {
    if (!textReader_) return;
    TextReader* reader = textReader_.get();
    reader->backgroundQueue().addOperation([reader] { reader->parse(true); });
}

const StringMap& ImportSession::stringMap() {
    if (!stringMap_) stringMap_ = vendorStringMap();
    return *stringMap_;
}

const TitleMatcher& ImportSession::titleMatcher() {
    if (!titleMatcher_) titleMatcher_ = std::make_unique<TitleMatcher>(stringMap());
    return *titleMatcher_;
}

void ImportSession::learnUserAssignments() {
    if (!learnsAssignments_) return;
    const bool anyManual =
        std::any_of(mappedContactProperties_.begin(), mappedContactProperties_.end(),
                    [](const MappedContactProperty& entry) { return entry.mappedManuallyByUser; });
    if (!anyManual) return;
    customStringMap_ =
        pelkora::learnUserAssignments(mappedContactProperties_, std::move(customStringMap_));
    for (auto& entry : mappedContactProperties_) entry.mappedManuallyByUser = false;
    (void)saveCustomStringMap(customStringMap_);
}

SavedMappingStore& ImportSession::savedMappingStore() {
    if (!savedMappingStore_) savedMappingStore_ = std::make_unique<SavedMappingStore>();
    return *savedMappingStore_;
}

MappingStore& ImportSession::mappingStore() {
    if (!mappingStore_) mappingStore_ = std::make_unique<MappingStore>(savedMappingStore());
    return *mappingStore_;
}

void ImportSession::beep() {
    if (frontEnd_) frontEnd_->beep();
}

Expected<void, ImportError> ImportSession::openWorkbookFile(const std::filesystem::path& file) {
    adoptTextReader(nullptr);
    adoptExcelReader(nullptr);
    sheetChoices_.clear();
    if (!ExcelReader::isOfficeOpenXMLSpreadsheet(file))
        return Unexpected(ImportError::unreadableExcelFile);
    // The reader examines the workbook (relationships, sheets, shared strings, styles) as
    // it is made.
    auto reader = std::make_shared<ExcelReader>(file);
    adoptExcelReader(reader);
    auto progress = Progress::make(0, rootProgress_, 0);
    progress->setLocalizedDescription(localizedString("Reading Excel file…"));
    progress->setLocalizedAdditionalDescription(localizedString("Examining content…"));
    progress->setCancellable(false);
    setCurrentProgress(progress);
    showProgressSheet();

    const auto& sheets = reader->sheets();
    // A workbook whose sheets are listed but whose shared strings cannot be read at all is
    // damaged as well: importing it would give contacts without a single text.
    if (sheets.empty() || reader->examinationError()) {
        adoptExcelReader(nullptr);
        return Unexpected(ImportError::unreadableExcelFile);
    }
    if (sheets.size() == 1) {
        parseWorkbookSheet(0);
    } else {
        for (const auto& sheet : sheets)
            sheetChoices_.push_back({sheet.displayName, sheet.sheetId});
        if (frontEnd_) frontEnd_->chooseSheet(sheetChoices_);
    }
    return {};
}

void ImportSession::sheetSelected(std::optional<std::int64_t> sheetId) {
    MainQueue::shared().post([this, alive = std::weak_ptr<bool>(alive_), sheetId] {
        if (alive.expired()) return;
        auto* reader = dynamic_cast<ExcelReader*>(excelReader_.get());
        if (!reader || !sheetId) return;
        const auto& sheets = reader->sheets();
        for (std::size_t index = 0; index < sheets.size(); ++index) {
            if (sheets[index].sheetId == *sheetId) {
                parseWorkbookSheet(static_cast<std::int64_t>(index));
                return;
            }
        }
    });
}

void ImportSession::parseWorkbookSheet(std::int64_t sheetIndex) {
    auto reader = std::dynamic_pointer_cast<ExcelReader>(excelReader_);
    if (!reader) return;
    reader->setShouldCancelParsing(false);
    // A raw pointer, as for text files: the reader's destructor waits for its own queue, so
    // the reader outlives the operation, and the last reference is never dropped on it.
    reader->backgroundQueue().addOperation([raw = reader.get(), sheetIndex] {
        const auto& sheets = raw->sheets();
        if (sheetIndex >= 0 && static_cast<std::size_t>(sheetIndex) < sheets.size())
            raw->parseSheet(sheets[static_cast<std::size_t>(sheetIndex)]);
    });
}

void ImportSession::rememberOpenedDocument(const std::filesystem::path& file) {
    settings_.set(SettingKey::MostRecentDocumentFileURL,
                  PropertyValue(desktop::fileURLString(file)));
}

OpenErrorPresentation ImportSession::presentOpenError(ImportError error) {
    auto presentation = presentationOf(error);
    writeLog(LogType::error, "An error occurred: %{public}@: %{public}@", presentation.heading,
             presentation.text);
    closeProgressSheet();
    if (frontEnd_) {
        frontEnd_->bringToFront();
        frontEnd_->showAlert(Alert{.heading = presentation.heading,
                                   .text = presentation.text,
                                   .detail = {},
                                   .buttons = {localizedString("OK")},
                                   .completion = {}});
    }
    return presentation;
}

// Wizard

void ImportSession::startOver() {
    operationQueue_.cancelAllOperations();
    operationQueue_.waitUntilAllOperationsAreFinished();
    adoptTextReader(nullptr);
    adoptExcelReader(nullptr);
    vCardUrls_.clear();
    setScanResults({}, {});
    filesToOpen_.clear();
    setCurrentProgress(nullptr);
    schedulePage(Names::InitialPage);
}

void ImportSession::setCurrentPage(std::string_view name) {
    auto page = registry_.instantiate(name);
    if (!page) {
        // The current page stays in place.
        if (frontEnd_) frontEnd_->beep();
        writeLog(LogType::error,
                 "Failed to instantiate view controller: Unregistered nib name '%{public}@'", name);
        if (!currentPage_) {
            writeLog(LogType::error,
                     "Can't set current view controller to %{public}@ViewController", name);
        }
        return;
    }
    if (currentPage_) currentPage_->viewWillDisappear(*this);
    previousPageName_ = currentPage_ ? currentPage_->name() : std::string();
    currentPage_ = std::move(page);
    currentPage_->viewDidLoad(*this);
    if (frontEnd_) frontEnd_->currentPageDidChange(*currentPage_);
}

void ImportSession::schedulePage(std::string_view name) {
    std::weak_ptr<bool> alive = alive_;
    MainQueue::shared().post([this, alive, name = std::string(name)] {
        if (auto flag = alive.lock(); flag && *flag) setCurrentPage(name);
    });
}

void ImportSession::showNextPage() {
    if (currentPage_ && currentPage_->nextPageName()) {
        schedulePage(*currentPage_->nextPageName());
    }
}

void ImportSession::showPreviousPage() {
    if (currentPage_ && currentPage_->previousPageName()) {
        schedulePage(*currentPage_->previousPageName());
    }
}

// Readers and progress

void ImportSession::adoptTextReader(std::shared_ptr<TextReader> reader) {
    headerRowChoice_.reset();
    if (textReader_) {
        textReader_->setShouldCancelParsing(true);
        textReader_->setDelegate(nullptr);
    }
    textReader_ = std::move(reader);
    if (textReader_) textReader_->setDelegate(this);
}

void ImportSession::adoptExcelReader(std::shared_ptr<TabularDataReader> reader) {
    headerRowChoice_.reset();
    if (excelReader_) {
        excelReader_->setShouldCancelParsing(true);
        excelReader_->setDelegate(nullptr);
    }
    excelReader_ = std::move(reader);
    if (excelReader_) excelReader_->setDelegate(this);
}

bool ImportSession::isSessionReader(const TabularDataReader& reader) const {
    return &reader == textReader_.get() || &reader == excelReader_.get();
}

void ImportSession::setCurrentProgress(std::shared_ptr<Progress> progress) {
    // Only one progress is current on the main thread at a time: the one the sheet shows.
    if (currentProgress_ && Progress::current() == currentProgress_)
        currentProgress_->resignCurrent();
    currentProgress_ = std::move(progress);
    if (currentProgress_) currentProgress_->becomeCurrent(0);
    if (frontEnd_) frontEnd_->currentProgressDidChange(currentProgress_);
}

void ImportSession::showProgressSheet() {
    if (progressSheetShown_) return;
    progressSheetShown_ = true;
    if (frontEnd_) frontEnd_->showProgressSheet();
}

void ImportSession::closeProgressSheet() {
    if (!progressSheetShown_) return;
    progressSheetShown_ = false;
    if (frontEnd_) frontEnd_->closeProgressSheet();
}

void ImportSession::readerDidBeginParsing(TabularDataReader& reader) {
    if (!isSessionReader(reader)) return;
    writeLog(LogType::debug, "Did begin parsing file '%{public}@' with %{public}@",
             reader.fileURL().filename(), reader.readerClassName());
    reader.setShouldCancelParsing(false);
    if (reader.proposedRowCount() < kDeterminateProgressRowCount) return;

    auto progress =
        Progress::make(static_cast<std::int64_t>(reader.proposedRowCount()), rootProgress_, 0);
    progress->setLocalizedDescription(localizedString("Reading records…"));
    progress->setCancellable(true);
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<Progress> weakProgress = progress;
    std::weak_ptr<TabularDataReader> weakReader = reader.weak_from_this();
    // The handler runs on the thread that cancels; the sheet and start over belong to the main
    // thread.
    progress->setCancellationHandler([this, alive, weakProgress, weakReader] {
        if (auto cancelled = weakProgress.lock()) {
            cancelled->setLocalizedDescription(localizedString("Cancelling operation…"));
            cancelled->setLocalizedAdditionalDescription(localizedString("Please wait…"));
        }
        if (auto parsing = weakReader.lock()) parsing->setShouldCancelParsing(true);
        MainQueue::shared().post([this, alive] {
            if (auto flag = alive.lock(); !flag || !*flag) return;
            closeProgressSheet();
            startOver();
        });
    });
    setCurrentProgress(progress);
    showProgressSheet();
}

void ImportSession::readerDidParseRecord(TabularDataReader& reader, std::uint64_t recordNumber) {
    if (!isSessionReader(reader) || reader.shouldCancelParsing()) return;
    if (auto progress = Progress::current()) {
        progress->setLocalizedAdditionalDescription(
            formatMessage(localizedString("Parsed record %1$lu of %2$lu…"), recordNumber,
                          reader.proposedRowCount()));
        progress->setCompletedUnitCount(static_cast<std::int64_t>(recordNumber));
    }
}

void ImportSession::readerDidEndParsing(TabularDataReader& reader) {
    if (!isSessionReader(reader)) return;
    writeLog(LogType::debug, "Did end parsing file");
    if (&reader == textReader_.get()) {
        writeLog(LogType::debug, "Parsed %{public}lu lines", reader.dataRows().size());
    }
    if (!reader.shouldCancelParsing()) schedulePage(Names::FieldMappingPage);
    closeProgressSheet();
    setCurrentProgress(nullptr);
}

void ImportSession::readerDidFailWithError(TabularDataReader& reader, const ReaderError& error) {
    if (!isSessionReader(reader)) return;
    writeLog(LogType::error, "%{public}@ did fail with error: %{public}@",
             reader.debugDescription(), error.message);
    closeProgressSheet();
    setCurrentProgress(nullptr);
    Alert alert;
    if (&reader == excelReader_.get()) {
        alert.heading = localizedString("Could not parse Excel file");
        alert.text = localizedString(
            "The file might be corrupted. Additional information may be available in the runtime "
            "log.");
    } else {
        alert.heading = localizedString("Could not parse text file");
        alert.text = localizedString(
            "The file might be incorrectly formatted. This is often caused by a missing or "
            "redundant field "
            "delimiter or double quote in conjunction with a linebreak in a field. Additional "
            "information may be "
            "available in the runtime log.");
    }
    alert.detail = error.message;
    alert.buttons = {localizedString("OK"), localizedString("Open Runtime Log")};
    std::weak_ptr<bool> alive = alive_;
    alert.completion = [this, alive](std::size_t button) {
        if (auto flag = alive.lock(); !flag || !*flag) return;
        if (button == 1) openRuntimeLog();
        startOver();
    };
    if (frontEnd_) {
        frontEnd_->bringToFront();
        frontEnd_->showAlert(alert);
    } else {
        alert.completion(0);
    }
}

}  // namespace pelkora

namespace pelkora {

std::shared_ptr<const TabularDataReader> ImportSession::currentReader() const {
    if (excelReader_) return excelReader_;
    return textReader_;
}

ImportSource ImportSession::importSource() const {
    ImportSource source;
    source.reader = currentReader();
    source.headerRowIndex = headerRowChoice_;
    source.mappedProperties = mappedContactProperties_;
    source.dateFormats = dateFormats();
    source.assemblyOptions = assemblyOptions(settings_);
    // Dates a file's columns leave ambiguous ("03/04/1975") read as the titles' language
    // writes them; the import works out each column's own order from its rows.
    // Titles too short to tell their language leave dates to the user's locale.
    if (languageRecognised_) source.assemblyOptions.dateLanguage = detectedLanguage_;
    return source;
}

void ImportSession::setScanResults(std::vector<ScannedVCard> cards,
                                   std::vector<std::string> groups) {
    // A running import holds the previous list; it is replaced, never changed.
    scannedVCards_ = std::make_shared<const std::vector<ScannedVCard>>(std::move(cards));
    vCardScanDetectedGroups_ = std::move(groups);
}

VCardImportSource ImportSession::vCardImportSource() const {
    return VCardImportSource{scannedVCards_, vCardScanDetectedGroups_};
}

void ImportSession::presentProgress(std::shared_ptr<Progress> progress) {
    setCurrentProgress(std::move(progress));
    showProgressSheet();
}

void ImportSession::dismissProgress() {
    setCurrentProgress(nullptr);
    closeProgressSheet();
}

void ImportSession::showAlert(const Alert& alert) {
    if (frontEnd_) frontEnd_->showAlert(alert);
}

std::string ImportSession::contactStoreKey() const {
    return settings_.stringForKey(SettingKey::ContactStore).value_or(std::string());
}

Expected<void, std::string> ImportSession::switchContactStore(const std::string& key) {
    if (!storeDirectory_) return Unexpected(localizedString("No other address book is set up."));
    auto opened = storeDirectory_->open(key);
    if (!opened) return Unexpected(opened.error());
    writeLog(LogType::info, "Importing into the address book “%{public}@” from now on", key);
    contactStore_ = std::move(*opened);
    if (key.empty())
        settings_.removeObject(SettingKey::ContactStore);
    else
        settings_.set(SettingKey::ContactStore, PropertyValue(key));
    // The container chosen in the book before means nothing in this one.
    settings_.removeObject(SettingKey::SelectedContainerID);
    return {};
}

}  // namespace pelkora
