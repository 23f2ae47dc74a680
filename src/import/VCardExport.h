#pragma once

// Writing the rows of a tabular source out as vCard files instead of saving them into the
// address book: one file holding every contact (GroupVCardExportOperation) or one file per
// contact (IndividualVCardsExportOperation). Each row becomes a contact exactly as for an
// import, and its vCard is written by the address book's vCard writer (the one `pelkora
// contacts export` uses), with the row's groups as CATEGORIES and the picture as JPEG.
//
// Both operations run on a background operation queue and post their events to the main
// queue; the session must not change the rows or the mapping while one runs.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/Contact.h"
#include "import/ContactAssembly.h"
#include "import/ImportOperationDelegate.h"
#include "import/ImportSource.h"
#include "platform/OperationQueue.h"
#include "support/Error.h"
#include "support/Expected.h"
#include "vcard/VCard.h"

namespace pelkora {

enum class VCardRepresentationErrorKind {
    generic,  // a step of building the vCard failed
};

// Why one contact's vCard could not be built; the message names the step that failed.
using VCardRepresentationError = Error<VCardRepresentationErrorKind>;

// The longest Base64 text a PHOTO line may carry (10 MiB of characters, about 7.5 MiB of
// picture); a larger picture is left out of the contact's vCard.
inline constexpr std::size_t kMaximumPhotoBase64Characters = 10'485'760;

// One contact's vCard as the exports write it.
struct ExportedVCard {
    std::string text;
    // The contact's picture could not be read, made JPEG or fit within
    // kMaximumPhotoBase64Characters, so the vCard was written without it.
    bool pictureLeftOut = false;
};

// One contact's vCard: version 3.0 from the address book's writer, with the group names as
// CATEGORIES, the picture (or else the thumbnail) as JPEG, and the note without the line
// break the assembly ends it with. Fails when a text is not UTF-8.
Expected<ExportedVCard, VCardRepresentationError> vCardRepresentation(
    const contacts::Contact& contact, const std::vector<std::string>& groupNames);

// The file name (without extension) the individual export starts from: the contact's full
// name, or "Contact" when it has none, with "/", ":" and "\" turned into "_", a leading "."
// turned into "_" so that the file is neither hidden nor a path step, and each control
// character (NUL, tab, line breaks, escape, DEL, U+0080…U+009F) turned into "_" too.
std::string vCardFileBaseName(const contacts::Contact& contact);

// The shared part of both exports: the source, the destination, the delegate and the walk
// over the rows.
class VCardExportOperation {
  public:
    VCardExportOperation(std::weak_ptr<ImportOperationDelegate> delegate, ImportSource source,
                         std::optional<std::filesystem::path> destinationUrl);
    virtual ~VCardExportOperation() = default;
    VCardExportOperation(const VCardExportOperation&) = delete;
    VCardExportOperation& operator=(const VCardExportOperation&) = delete;

    // The export's body; cancelling the operation stops it before the next row and skips the
    // finished event. An exception that escapes the export is logged and sent as
    // importOperationDidFail (internalFailure, naming the destination).
    void run(const Operation& operation);

    // Adds an operation running this export to the queue; the queue keeps the export alive
    // until the operation has run.
    static std::shared_ptr<Operation> addToQueue(OperationQueue& queue,
                                                 std::shared_ptr<VCardExportOperation> exporter);

    const std::optional<std::filesystem::path>& destinationUrl() const { return destinationUrl_; }

  protected:
    // Writes the contacts of the rows; called once the source and the destination are known to be
    // there and the started event has been sent.
    virtual void exportRows(const Operation& operation, const std::filesystem::path& destination,
                            std::span<const DataRow> rows) = 0;

    // Assembles the row into a contact with its group names.
    AssembledContact assembledContact(const DataRow& row);

    void postProgress(std::uint64_t written) const;
    // Says what had to be left out (pictures, whole contacts) as importOperationDidWarn, so
    // that the outcome tells the export was only partly done; nothing when nothing was.
    void postProblems(std::uint64_t picturesLeftOut, std::uint64_t contactsLeftOut) const;
    void postFailure(ImportOperationError error) const;
    // Skipped when the operation was cancelled.
    void postFinished(const Operation& operation) const;

  private:
    std::weak_ptr<ImportOperationDelegate> delegate_;
    ImportSource source_;
    std::optional<std::filesystem::path> destinationUrl_;
    // Made for each run from the source's assignments, so that every row reuses its plan.
    std::unique_ptr<ContactAssembler> assembler_;
};

// Writes every contact into one file, one vCard after the other. The file is written
// through a buffer and the vCards are not kept, so memory does not grow with the contacts.
// A contact whose vCard fails is left out and counted; the others are still written.
class GroupVCardExportOperation final : public VCardExportOperation {
  public:
    // `destinationUrl` is the file to write. An existing file of that name is replaced only
    // once every vCard is written (atomically, as writeFileAtomically does); a failure or a
    // cancel leaves it as it was. A symbolic link there is replaced, not written through.
    using VCardExportOperation::VCardExportOperation;

  private:
    void exportRows(const Operation& operation, const std::filesystem::path& destination,
                    std::span<const DataRow> rows) override;
};

// Writes each contact into a file of its own in the destination folder, named after the
// contact; existing files are never overwritten ("Anna Berg.vcf", "Anna Berg 2.vcf" …).
class IndividualVCardsExportOperation final : public VCardExportOperation {
  public:
    // `destinationUrl` is the folder to write into.
    using VCardExportOperation::VCardExportOperation;

  private:
    void exportRows(const Operation& operation, const std::filesystem::path& destination,
                    std::span<const DataRow> rows) override;
};

}  // namespace pelkora
