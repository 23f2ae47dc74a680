#include "import/VCardExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <span>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "addressbook/ContactFormatter.h"
#include "import/DateColumns.h"
#include "platform/AtomicFile.h"
#include "platform/ImageData.h"
#include "platform/MainQueue.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/Utf8.h"

namespace pelkora {

using namespace contacts;

namespace {

// The longest file name the file systems we write to accept, in bytes.
constexpr std::size_t kMaximumFileNameBytes = 255;

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

namespace {

// Readies an assembled contact for its vCard; answers whether a picture had to be left out.
// The assembly ends every note with a line break for the address book's note field; in a
// vCard the note ends where its text ends, and a blank note is none. The picture becomes
// JPEG, which every program reading vCards shows; one that cannot be read, cannot be made
// JPEG or is too large is left out, so that the rest of the contact is still written.
bool prepareForVCard(Contact& contact) {
    std::string& note = contact.note;
    while (!note.empty() && (note.back() == '\n' || note.back() == '\r')) note.pop_back();
    if (isBlank(note)) note.clear();

    // The writer takes the thumbnail when there is no image.
    auto& picture = contact.imageData.empty() ? contact.thumbnailImageData : contact.imageData;
    if (picture.empty()) return false;
    bool usable = imageSize(picture).has_value();
    if (usable && !isJpegData(picture)) {
        auto jpeg = jpegRepresentation(picture, 0.9);
        usable = jpeg.has_value();
        if (jpeg) picture = std::move(*jpeg);
    }
    if (usable && (picture.size() + 2) / 3 * 4 > kMaximumPhotoBase64Characters) usable = false;
    if (usable) return false;
    contact.imageData.clear();
    contact.thumbnailImageData.clear();
    return true;
}

// Appends the contact's vCard to `out` (on failure `out` is left as it was); answers whether
// its picture was left out.
Expected<bool, VCardRepresentationError> appendVCardRepresentation(
    std::string& out, Contact& contact, const std::vector<std::string>& groupNames) {
    const bool pictureLeftOut = prepareForVCard(contact);
    VCardWriteOptions options;
    options.categories = [&groupNames](const Contact&) { return groupNames; };
    const std::size_t start = out.size();
    appendVCard(out, contact, options);
    // The cells were decoded into UTF-8 when the file was read; a byte that is not must not
    // reach a file that says it is UTF-8.
    if (!isWellFormedUtf8(std::string_view(out).substr(start))) {
        out.resize(start);
        return Unexpected(representationError(
            "Failed to convert the contact's vCard string to a Data object using UTF-8 string "
            "encoding."));
    }
    return pictureLeftOut;
}

// The summary lines of what an export had to leave out, as importOperationDidWarn sends them.
std::vector<std::string> exportProblemLines(std::uint64_t picturesLeftOut,
                                            std::uint64_t contactsLeftOut) {
    std::vector<std::string> lines;
    if (picturesLeftOut > 0) {
        lines.push_back(formatMessage(
            localizedPlural("%@ picture could not be written; its contact was saved without it",
                            "%@ pictures could not be written; their contacts were saved without "
                            "them",
                            picturesLeftOut),
            std::to_string(picturesLeftOut)));
    }
    if (contactsLeftOut > 0) {
        lines.push_back(formatMessage(
            localizedPlural("%@ contact could not be written and was left out",
                            "%@ contacts could not be written and were left out", contactsLeftOut),
            std::to_string(contactsLeftOut)));
    }
    return lines;
}

}  // namespace

Expected<ExportedVCard, VCardRepresentationError> vCardRepresentation(
    const Contact& contact, const std::vector<std::string>& groupNames) {
    Contact exported = contact;
    ExportedVCard vcard;
    const auto appended = appendVCardRepresentation(vcard.text, exported, groupNames);
    if (!appended) return Unexpected(appended.error());
    vcard.pictureLeftOut = *appended;
    return vcard;
}

std::string vCardFileBaseName(const Contact& contact) {
    std::string name = stringFromContact(contact, ContactFormatterStyle::fullName);
    if (name.empty()) name = localizedString("Contact", "file name of a nameless contact's vCard");
    // Control characters (C0, DEL and the two-byte C1 ones) would reach terminals and file
    // managers from a directory listing.
    std::string safe;
    safe.reserve(name.size());
    for (std::size_t at = 0; at < name.size(); ++at) {
        const auto c = static_cast<unsigned char>(name[at]);
        if (c == 0xC2 && at + 1 < name.size() && static_cast<unsigned char>(name[at + 1]) >= 0x80 &&
            static_cast<unsigned char>(name[at + 1]) <= 0x9F) {
            safe += '_';
            ++at;
        } else if (c < 0x20 || c == 0x7F || c == '/' || c == ':' || c == '\\') {
            safe += '_';
        } else {
            safe += static_cast<char>(c);
        }
    }
    if (safe.front() == '.') safe.front() = '_';
    return safe;
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
                                           "an unexpected error: %2$@. Please report this "
                                           "problem."),
                           destination, reason),
             *destinationUrl_});
    }
    assembler_.reset();
}

AssembledContact VCardExportOperation::assembledContact(const DataRow& row) {
    return assembler_->assemble(row);
}

void VCardExportOperation::postProgress(std::uint64_t written) const {
    if (delegate_.expired()) return;
    MainQueue::shared().post([delegate = delegate_, written] {
        if (const auto receiver = delegate.lock()) receiver->importOperationDidProcess(written);
    });
}

void VCardExportOperation::postProblems(std::uint64_t picturesLeftOut,
                                        std::uint64_t contactsLeftOut) const {
    if (delegate_.expired()) return;
    std::vector<std::string> lines = exportProblemLines(picturesLeftOut, contactsLeftOut);
    if (lines.empty()) return;
    MainQueue::shared().post([delegate = delegate_, lines = std::move(lines)] {
        if (const auto receiver = delegate.lock()) receiver->importOperationDidWarn(lines);
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
    // The vCards go to a temporary file that replaces the destination only when all of them
    // are written: a full disk, a failure or a cancel leaves the old file as it was. A
    // symbolic link at the destination is replaced itself, never written through.
    auto file = AtomicFileWriter::open(destination, AtomicFileWriter::SymbolicLinks::replace);
    if (!file) {
        writeLog(LogType::error, "Can't create group vCard at path '%@': %@", destination,
                 file.error().reason);
        postFailure(
            {ImportOperationError::Kind::fileWriteNoPermission, file.error().message, destination});
        return;
    }
    std::string buffer;
    buffer.reserve(kGroupFileBufferBytes + kGroupFileBufferBytes / 4);
    std::uint64_t written = 0;
    std::uint64_t picturesLeftOut = 0;
    std::uint64_t contactsLeftOut = 0;
    Expected<void, FileError> stored;
    for (const DataRow& row : rows) {
        if (operation.isCancelled()) return;
        if (row.empty()) continue;
        auto [contact, groupNames, problems] = assembledContact(row);
        const auto appended = appendVCardRepresentation(buffer, contact, groupNames);
        if (!appended) {
            writeLog(LogType::error, "Can't get vCard representation for contact '%@': %@",
                     displayName(contact), appended.error().message);
            ++contactsLeftOut;
            continue;
        }
        if (*appended) {
            writeLog(LogType::error, "The picture of contact '%@' could not be written",
                     displayName(contact));
            ++picturesLeftOut;
        }
        if (buffer.size() >= kGroupFileBufferBytes) {
            stored = file->append(buffer);
            buffer.clear();
            if (!stored) break;
        }
        postProgress(++written);
    }
    if (stored) stored = file->append(buffer);
    if (stored && !operation.isCancelled()) stored = file->commit();
    if (!stored) {
        // A full disk or a vanished drive: the page must say so rather than report success.
        writeLog(LogType::error, "Can't write vCard string to '%@': %@", destination,
                 stored.error().reason);
        postFailure({ImportOperationError::Kind::fileWriteNoPermission, stored.error().message,
                     destination});
        return;
    }
    if (operation.isCancelled()) return;
    writeLog(LogType::debug, "vCard file created!");
    postProblems(picturesLeftOut, contactsLeftOut);
    postFinished(operation);
}

void IndividualVCardsExportOperation::exportRows(const Operation& operation,
                                                 const std::filesystem::path& destination,
                                                 std::span<const DataRow> rows) {
    std::unordered_map<std::string, unsigned> nextNumber;
    std::uint64_t written = 0;
    std::uint64_t failures = 0;
    std::uint64_t picturesLeftOut = 0;
    for (const DataRow& row : rows) {
        if (operation.isCancelled()) break;
        if (row.empty()) continue;
        const auto [contact, groupNames, problems] = assembledContact(row);
        const std::string base = vCardFileBaseName(contact);
        const auto vcard = vCardRepresentation(contact, groupNames);
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
        if (vcard->pictureLeftOut) {
            writeLog(LogType::error, "The picture of contact '%@' could not be written",
                     displayName(contact));
            ++picturesLeftOut;
        }
        if (const int error = writeNewFile(*file, vcard->text); error != 0) {
            writeLog(LogType::error, "Can't write vCard string to '%@': %@", file->path,
                     errorText(error));
            ++failures;
            continue;
        }
        postProgress(++written);
    }
    if (operation.isCancelled()) return;
    postProblems(picturesLeftOut, 0);
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
