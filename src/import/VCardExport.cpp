#include "import/VCardExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <span>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "import/DateColumns.h"
#include "platform/ImageData.h"
#include "platform/MainQueue.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/Utf8.h"
#include "text/UnicodeText.h"

namespace pelkora {

using namespace contacts;

namespace {

constexpr std::string_view kCrLf = "\r\n";

// Base64 text is cut into pieces of this many characters on the PHOTO line.
constexpr std::size_t kPhotoPieceCharacters = 75;

// The longest file name the file systems we write to accept, in bytes.
constexpr std::size_t kMaximumFileNameBytes = 255;

// The group numbers of the related names start here, well above the writer's own
// "item1", "item2" … groups, so the two never share a group.
constexpr int kFirstRelationGroup = 10001;

VCardRepresentationError representationError(std::string message) {
    return VCardRepresentationError{VCardRepresentationError::Kind::generic, std::move(message)};
}

bool isWellFormedUtf8(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const std::size_t length = utf8::wellFormedSequenceLength(text.substr(at));
        if (length == 0) return false;
        at += length;
    }
    return true;
}

// Appends the text with backslashes and line ends escaped: every CR LF pair, every other CR
// and every LF become "\n". With `separators`, commas and semicolons are escaped too.
void appendEscaped(std::string& out, std::string_view text, bool separators) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\n";
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
                break;
            case '\n':
                out += "\\n";
                break;
            case ',':
            case ';':
                if (separators) out += '\\';
                out += c;
                break;
            default:
                out += c;
        }
    }
}

constexpr std::array<char, 64> kBase64Alphabet = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/'};

std::string base64(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t triple =
            (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        text += kBase64Alphabet[(triple >> 18) & 63];
        text += kBase64Alphabet[(triple >> 12) & 63];
        text += kBase64Alphabet[(triple >> 6) & 63];
        text += kBase64Alphabet[triple & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const std::uint32_t triple =
            (std::uint32_t{bytes[i]} << 16) | (two ? std::uint32_t{bytes[i + 1]} << 8 : 0);
        text += kBase64Alphabet[(triple >> 18) & 63];
        text += kBase64Alphabet[(triple >> 12) & 63];
        text += two ? kBase64Alphabet[(triple >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

// Which of the lines the export adds the vCard already has. A marker counts at the start of
// a content line, after an optional "group." prefix; text inside a value (a job title
// reading "NOTES: see below") does not count, so it cannot suppress a line.
struct ExistingLines {
    bool categories = false;
    bool photo = false;
    bool note = false;
    bool identifier = false;
};

void noteMarkers(std::string_view line, ExistingLines& existing) {
    // Most lines are other properties; their first letter already tells.
    if (line.empty()) return;
    switch (line.front()) {
        case 'C':
            existing.categories = existing.categories || line.starts_with("CATEGORIES:");
            break;
        case 'c':
            existing.categories = existing.categories || line.starts_with("categories:");
            break;
        case 'P':
            existing.photo = existing.photo || line.starts_with("PHOTO;");
            break;
        case 'p':
            existing.photo = existing.photo || line.starts_with("photo;");
            break;
        case 'N':
            existing.note =
                existing.note || line.starts_with("NOTES:") || line.starts_with("NOTES;CHARSET");
            break;
        case 'n':
            existing.note =
                existing.note || line.starts_with("notes:") || line.starts_with("notes;charset");
            break;
        case 'X':
            existing.identifier = existing.identifier || line.starts_with("X-ABUID");
            break;
        default:
            break;
    }
}

bool isGroupCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

ExistingLines existingLines(std::string_view vcard) {
    ExistingLines existing;
    std::size_t start = 0;
    while (start < vcard.size()) {
        std::size_t end = vcard.find('\n', start);
        if (end == std::string_view::npos) end = vcard.size();
        const std::string_view line = vcard.substr(start, end - start);
        noteMarkers(line, existing);
        std::size_t name = 0;
        while (name < line.size() && isGroupCharacter(line[name])) ++name;
        if (name > 0 && name < line.size() && line[name] == '.') {
            noteMarkers(line.substr(name + 1), existing);
        }
        start = end + 1;
    }
    return existing;
}

// Where the vCard's END:VCARD line starts (end:vcard when there is no upper-case one); the
// last such line, so that a vCard handed in with text after its end still gets its lines.
std::optional<std::size_t> endLinePosition(std::string_view vcard) {
    for (std::string_view end : {std::string_view("END:VCARD"), std::string_view("end:vcard")}) {
        for (std::size_t at = vcard.rfind(end); at != std::string_view::npos;
             at = at == 0 ? std::string_view::npos : vcard.rfind(end, at - 1)) {
            if (at == 0 || vcard[at - 1] == '\n') return at;
        }
    }
    return std::nullopt;
}

// The PHOTO lines: the picture as JPEG in Base64, cut into pieces of 75 characters, every
// piece after the first beginning with a blank and every piece ending with CR LF.
Expected<std::string, VCardRepresentationError> photoLines(std::span<const std::uint8_t> image) {
    if (!imageSize(image))
        return Unexpected(representationError("Failed to initialize NSImage from data"));
    std::string encoded;
    if (isJpegData(image)) {
        encoded = base64(image);
    } else {
        const auto jpeg = jpegRepresentation(image, 0.9);
        if (!jpeg) {
            return Unexpected(
                representationError("Failed to get JPEG representation from TIFF data"));
        }
        encoded = base64(*jpeg);
    }
    if (encoded.size() > kMaximumPhotoBase64Characters) {
        return Unexpected(representationError("Loop pass count maximum exceeded"));
    }
    std::string lines = "PHOTO;ENCODING=b;TYPE=JPEG:";
    lines.reserve(lines.size() + encoded.size() + encoded.size() / kPhotoPieceCharacters * 3 + 3);
    for (std::size_t at = 0; at < encoded.size(); at += kPhotoPieceCharacters) {
        if (at > 0) lines += ' ';
        lines.append(encoded, at, kPhotoPieceCharacters);
        lines += kCrLf;
    }
    return lines;
}

// The related-name lines: the "other" label as TYPE=OTHER, any other label (or none) as a
// numbered group with its X-ABLABEL line in plain words ("mother", not the stored token, which
// other programs would show as it is). Then, for programs that read no X-ABRELATEDNAMES, the
// first spouse, manager and assistant each as X-SPOUSE, X-MANAGER or X-ASSISTANT.
std::string relationLines(const Contact& contact) {
    std::string lines;
    int group = kFirstRelationGroup;
    for (const auto& relation : contact.contactRelations) {
        if (relation.value.name.empty()) continue;
        if (!lines.empty()) lines += kCrLf;
        if (relation.label == Label::other) {
            lines += "X-ABRELATEDNAMES;TYPE=OTHER:";
            appendEscaped(lines, relation.value.name, true);
            continue;
        }
        const std::string item = "item" + std::to_string(group++);
        lines += item;
        lines += ".X-ABRELATEDNAMES:";
        appendEscaped(lines, relation.value.name, true);
        lines += kCrLf;
        lines += item;
        lines += ".X-ABLABEL:";
        appendEscaped(lines,
                      relation.label.empty() ? localizedString("Relation", "vCard relation label")
                                             : vCardLabelText(relation.label),
                      true);
    }
    std::vector<std::string_view> properties;
    for (const auto& relation : contact.contactRelations) {
        const std::string_view property = vCardRelationProperty(relation.label);
        if (relation.value.name.empty() || property.empty() ||
            std::find(properties.begin(), properties.end(), property) != properties.end()) {
            continue;
        }
        properties.push_back(property);
        lines += kCrLf;
        lines += property;
        lines += ':';
        appendEscaped(lines, relation.value.name, true);
    }
    return lines;
}

// Adds one step's text to the lines to insert, each line ending with CR LF; fails with the
// step's message when the text is not UTF-8.
Expected<void, VCardRepresentationError> addLine(std::string& insertion, std::string_view line,
                                                 std::string_view encodingFailure) {
    if (line.empty()) return {};
    if (!isWellFormedUtf8(line))
        return Unexpected(representationError(std::string(encodingFailure)));
    insertion += line;
    if (!line.ends_with(kCrLf)) insertion += kCrLf;
    return {};
}

bool isBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    });
}

// Writes all bytes, going on after interrupted or partial writes; answers errno on failure.
int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

std::string errorText(int error) {
    return std::generic_category().message(error);
}

// The text cut to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string_view cutToBytes(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

// A file created exclusively in the folder: "<base><suffix>", else "<base> 2<suffix>",
// "<base> 3<suffix>" … The name is cut to fit the file system; creation with O_EXCL means an
// existing file (or one made by someone else meanwhile) is never opened, let alone
// overwritten. `nextNumber` remembers per base where to go on, so many contacts of one name
// do not try every taken name again.
struct CreatedFile {
    int fd = -1;
    std::filesystem::path path;
};

struct FileCreationError {
    std::filesystem::path path;
    int error = 0;
};

Expected<CreatedFile, FileCreationError> createFreeFile(
    const std::filesystem::path& folder, const std::string& base, std::string_view suffix,
    std::unordered_map<std::string, unsigned>& nextNumber) {
    unsigned& number = nextNumber[std::string(base).append(suffix)];
    if (number == 0) number = 1;
    for (;; ++number) {
        std::string ending;
        if (number > 1) {
            ending += ' ';
            ending += std::to_string(number);
        }
        ending += suffix;
        std::string name(cutToBytes(base, kMaximumFileNameBytes - ending.size()));
        name += ending;
        const std::filesystem::path path = folder / name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ++number;
            return CreatedFile{fd, path};
        }
        if (errno == EINTR) {
            --number;
            continue;
        }
        if (errno != EEXIST || number == std::numeric_limits<unsigned>::max()) {
            return Unexpected(FileCreationError{path, errno});
        }
    }
}

// Writes the bytes into the new file and closes it; a file that could not be written in
// full is removed again, as it was created by us a moment ago and holds a cut vCard.
int writeNewFile(const CreatedFile& file, std::string_view bytes) {
    int error = writeAll(file.fd, bytes);
    if (::close(file.fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        std::error_code ignored;
        std::filesystem::remove(file.path, ignored);
    }
    return error;
}

std::string displayName(const Contact& contact) {
    std::string name = stringFromContact(contact, ContactFormatterStyle::fullName);
    return name.empty() ? localizedString("Untitled Contact", "log text for a nameless contact")
                        : name;
}

}  // namespace

const VCardWriteOptions& vCardExportWriteOptions() {
    static const VCardWriteOptions options{.includeNote = false,
                                           .includePhoto = false,
                                           .includeRelatedNames = false,
                                           .includeCategories = false,
                                           .categories = {}};
    return options;
}

namespace {

// What the representation inserts into a vCard, and where.
struct Insertion {
    std::size_t position = 0;  // where the END:VCARD line starts
    std::string lines;         // empty when nothing is added
};

// The lines vCardRepresentation inserts into the serialized vCard, and where; no lines when
// the vCard has no END:VCARD line.
Expected<Insertion, VCardRepresentationError> insertion(
    const Contact& contact, std::string_view vcard, const std::vector<std::string>& groupNames,
    std::optional<std::string_view> identifier) {
    const std::optional<std::size_t> end = endLinePosition(vcard);
    if (!end) return Insertion{vcard.size(), {}};
    const bool version21 = vcard.find(":2.1") != std::string_view::npos;
    const ExistingLines existing = existingLines(vcard);

    Insertion result{*end, {}};
    std::string& lines = result.lines;
    if (!existing.categories && !groupNames.empty()) {
        std::string line = version21 ? "CATEGORIES;CHARSET=UTF-8:" : "CATEGORIES:";
        const std::size_t prefix = line.size();
        for (const auto& name : groupNames) {
            if (line.size() > prefix) line += ',';
            appendEscaped(line, name, true);
        }
        const auto added = addLine(
            lines, line,
            "Failed to convert the contact's group names string to a Data object using UTF-8 "
            "string encoding.");
        if (!added) return Unexpected(added.error());
    }
    if (!existing.photo) {
        const auto& image =
            contact.imageData.empty() ? contact.thumbnailImageData : contact.imageData;
        if (!image.empty()) {
            const auto photo = photoLines(image);
            if (!photo) return Unexpected(photo.error());
            lines += *photo;
        }
    }
    if (!existing.note && !isBlank(contact.note)) {
        std::string line = version21 ? "NOTE;CHARSET=UTF-8:" : "NOTE:";
        appendEscaped(line, contact.note, false);
        const auto added = addLine(lines, line,
                                   "Failed to convert the contact's notes string to a Data "
                                   "object using UTF-8 string encoding.");
        if (!added) return Unexpected(added.error());
    }
    if (!existing.identifier && identifier && !identifier->empty()) {
        std::string line = "X-ABUID:";
        appendEscaped(line, *identifier, false);
        const auto added = addLine(lines, line,
                                   "Failed to convert the contact's identifier to a Data object "
                                   "using UTF-8 string encoding.");
        if (!added) return Unexpected(added.error());
    }
    if (!contact.contactRelations.empty()) {
        const auto added =
            addLine(lines, relationLines(contact),
                    "Failed to convert contact relations to a Data object using UTF-8 string "
                    "encoding.");
        if (!added) return Unexpected(added.error());
    }
    return result;
}

// Appends the contact's vCard (the serialized text with the inserted lines) to `out`; on
// failure `out` is left as it was.
Expected<void, VCardRepresentationError> appendVCardRepresentation(
    std::string& out, const Contact& contact, std::string_view serialized,
    const std::vector<std::string>& groupNames, std::optional<std::string_view> identifier) {
    const auto inserted = insertion(contact, serialized, groupNames, identifier);
    if (!inserted) return Unexpected(inserted.error());
    out.append(serialized.substr(0, inserted->position));
    out += inserted->lines;
    out.append(serialized.substr(inserted->position));
    return {};
}

}  // namespace

Expected<std::string, VCardRepresentationError> vCardRepresentation(
    const Contact& contact, std::optional<std::string_view> serializedData,
    const std::vector<std::string>& groupNames, std::optional<std::string_view> identifier) {
    const std::string serialized =
        serializedData ? std::string() : dataWithContacts({contact}, vCardExportWriteOptions());
    std::string vcard;
    const auto appended = appendVCardRepresentation(
        vcard, contact, serializedData ? *serializedData : std::string_view(serialized), groupNames,
        identifier);
    if (!appended) return Unexpected(appended.error());
    return vcard;
}

std::string vCardFileBaseName(const Contact& contact) {
    std::string name = stringFromContact(contact, ContactFormatterStyle::fullName);
    if (name.empty()) name = localizedString("Contact", "file name of a nameless contact's vCard");
    for (char& c : name) {
        if (c == '/' || c == ':' || c == '\\' || c == '\0') c = '_';
    }
    if (name.front() == '.') name.front() = '_';
    return name;
}

// MARK: - The operations

VCardExportOperation::VCardExportOperation(std::weak_ptr<ImportOperationDelegate> delegate,
                                           ImportSource source,
                                           std::optional<std::filesystem::path> destinationUrl)
    : delegate_(std::move(delegate)),
      source_(std::move(source)),
      destinationUrl_(std::move(destinationUrl)) {}

std::shared_ptr<Operation> VCardExportOperation::addToQueue(
    OperationQueue& queue, std::shared_ptr<VCardExportOperation> exporter) {
    return queue.addOperation(
        [exporter = std::move(exporter)](Operation& operation) { exporter->run(operation); });
}

void VCardExportOperation::run(const Operation& operation) {
    if (!source_.reader) {
        writeLog(LogType::error, "Can't create vCards: No tabularDataReader object provided!");
        return;
    }
    if (!destinationUrl_ || destinationUrl_->empty()) {
        writeLog(LogType::error, "Can't create vCards: No destination url provided!");
        return;
    }
    if (!delegate_.expired()) {
        MainQueue::shared().post([delegate = delegate_] {
            if (const auto receiver = delegate.lock()) receiver->importOperationDidStart();
        });
    }
    try {
        AssemblyOptions assemblyOptions = source_.assemblyOptions;
        assemblyOptions.dayMonthOrders =
            dayMonthOrdersOfDateColumns(rowsToImport(source_), source_.mappedProperties);
        assembler_ = std::make_unique<ContactAssembler>(
            source_.mappedProperties, source_.dateFormats, std::move(assemblyOptions));
        exportRows(operation, *destinationUrl_, rowsToImport(source_));
    } catch (...) {
        const std::string reason = currentExceptionText();
        const std::string destination = destinationUrl_->string();
        writeLog(LogType::error, "Saving vCards to %{public}@ stopped on an exception: %{public}@",
                 destination, reason);
        postFailure(
            {ImportOperationError::Kind::internalFailure,
             formatMessage(localizedString("Saving the records as vCards to “%1$@” stopped on "
                                           "an unexpected error: %2$@. The vCards written "
                                           "before it are kept; please report this problem."),
                           destination, reason),
             *destinationUrl_});
    }
    assembler_.reset();
}

AssembledContact VCardExportOperation::assembledContact(const DataRow& row,
                                                        std::string& serialized) {
    AssembledContact assembled = assembler_->assemble(row);
    // The text is rewritten in place, so its storage is reused from row to row.
    serialized.clear();
    appendVCard(serialized, assembled.contact, vCardExportWriteOptions());
    return assembled;
}

void VCardExportOperation::postProgress(std::uint64_t written) const {
    if (delegate_.expired()) return;
    MainQueue::shared().post([delegate = delegate_, written] {
        if (const auto receiver = delegate.lock()) receiver->importOperationDidProcess(written);
    });
}

void VCardExportOperation::postFailure(ImportOperationError error) const {
    if (delegate_.expired()) return;
    MainQueue::shared().post([delegate = delegate_, error = std::move(error)] {
        if (const auto receiver = delegate.lock()) receiver->importOperationDidFail(error);
    });
}

void VCardExportOperation::postFinished(const Operation& operation) const {
    if (operation.isCancelled() || delegate_.expired()) return;
    MainQueue::shared().post([delegate = delegate_] {
        if (const auto receiver = delegate.lock()) receiver->importOperationDidFinish();
    });
}

namespace {

// The group file's bytes pass through this buffer, so that a file of many contacts is
// written in large pieces while memory stays bounded.
constexpr std::size_t kGroupFileBufferBytes = std::size_t{1} << 20;

}  // namespace

void GroupVCardExportOperation::exportRows(const Operation& operation,
                                           const std::filesystem::path& destination,
                                           std::span<const DataRow> rows) {
    const int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        writeLog(LogType::error, "Can't create group vCard at path '%@'", destination);
        postFailure({ImportOperationError::Kind::fileWriteNoPermission, errorText(error)});
        return;
    }
    std::string buffer;
    buffer.reserve(kGroupFileBufferBytes + kGroupFileBufferBytes / 4);
    std::string serialized;
    std::uint64_t written = 0;
    int writeError = 0;
    for (const DataRow& row : rows) {
        if (operation.isCancelled()) break;
        if (row.empty()) continue;
        const auto [contact, groupNames, problems] = assembledContact(row, serialized);
        const auto appended =
            appendVCardRepresentation(buffer, contact, serialized, groupNames, std::nullopt);
        if (!appended) {
            writeLog(LogType::error, "Can't get vCard representation for contact '%@'",
                     displayName(contact));
            continue;
        }
        if (buffer.size() >= kGroupFileBufferBytes) {
            writeError = writeAll(fd, buffer);
            buffer.clear();
            if (writeError != 0) break;
        }
        postProgress(++written);
    }
    if (writeError == 0) writeError = writeAll(fd, buffer);
    if (::close(fd) != 0 && writeError == 0) writeError = errno;
    if (writeError != 0) {
        // A full disk or a vanished drive: the file is incomplete, which the page must say
        // rather than report success.
        writeLog(LogType::error, "Can't write vCard string to '%@': %@", destination,
                 errorText(writeError));
        postFailure({ImportOperationError::Kind::fileWriteNoPermission, errorText(writeError)});
        return;
    }
    writeLog(LogType::debug, "vCard file created!");
    postFinished(operation);
}

void IndividualVCardsExportOperation::exportRows(const Operation& operation,
                                                 const std::filesystem::path& destination,
                                                 std::span<const DataRow> rows) {
    std::unordered_map<std::string, unsigned> nextNumber;
    std::string serialized;
    std::uint64_t written = 0;
    std::uint64_t failures = 0;
    for (const DataRow& row : rows) {
        if (operation.isCancelled()) break;
        if (row.empty()) continue;
        const auto [contact, groupNames, problems] = assembledContact(row, serialized);
        const std::string base = vCardFileBaseName(contact);
        const auto vcard = vCardRepresentation(contact, serialized, groupNames);
        if (!vcard) {
            writeLog(LogType::error, "Can't get vCard representation for contact '%@'",
                     displayName(contact));
            ++failures;
            // For diagnosis: the plain serialization, next to where the vCard would be.
            const auto file =
                createFreeFile(destination, base, " (raw vcf data).zubdebugdata", nextNumber);
            if (!file) {
                writeLog(LogType::error, "Can't write vCard string to '%@': %@", file.error().path,
                         errorText(file.error().error));
                continue;
            }
            writeLog(LogType::error,
                     "Attempting to write raw serialized vcard data to '%@' for debugging "
                     "purposes...",
                     file->path);
            if (const int error = writeNewFile(*file, dataWithContacts({contact})); error != 0) {
                writeLog(LogType::error, "Can't write vCard string to '%@': %@", file->path,
                         errorText(error));
            }
            continue;
        }
        const auto file = createFreeFile(destination, base, ".vcf", nextNumber);
        if (!file) {
            writeLog(LogType::error, "Can't write vCard string to '%@': %@", file.error().path,
                     errorText(file.error().error));
            ++failures;
            continue;
        }
        if (const int error = writeNewFile(*file, *vcard); error != 0) {
            writeLog(LogType::error, "Can't write vCard string to '%@': %@", file->path,
                     errorText(error));
            ++failures;
            continue;
        }
        postProgress(++written);
    }
    if (failures == 0) {
        writeLog(LogType::debug, "vCard files created!");
        postFinished(operation);
        return;
    }
    const ImportOperationError error{
        ImportOperationError::Kind::multipleVCardFilesNotCreated,
        localizedString("Some vCard files could not be created.", "export failure")};
    writeLog(LogType::error, "Import error: %{public}@, userinfo: %{public}@", error.message,
             "{failedContacts = " + std::to_string(failures) +
                 "; writtenContacts = " + std::to_string(written) + ";}");
    postFailure(error);
}

}  // namespace pelkora
