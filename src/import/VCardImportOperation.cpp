#include "import/VCardImportOperation.h"

#include <chrono>
#include <map>
#include <optional>
#include <unordered_set>
#include <utility>

#include "addressbook/ContactFormatter.h"
#include "import/ContactImport.h"
#include "platform/OperationQueue.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "vcard/VCard.h"

namespace pelkora {

namespace {

// A card the reader could read, waiting for its identifier to be checked.
struct ReadCard {
    const ScannedVCard* card;
    contacts::Contact contact;
};

std::string fileNameOf(const ScannedVCard& card) {
    return card.fileUrl().filename().string();
}

}  // namespace

struct VCardImportOperation::Impl {
    using StepResult = ContactImport::StepResult;

    Impl(std::shared_ptr<contacts::ContactStore> store, VCardImportSource source,
         ImportOptions options, std::vector<std::string> textTokens,
         std::weak_ptr<ImportOperationDelegate> delegate,
         std::shared_ptr<const ImportJournal> journal)
        : import(std::move(store), std::move(options), std::move(delegate), std::move(journal)),
          source(std::move(source)),
          textTokens(std::move(textTokens)) {}

    void importCards(Operation& operation);
    StepResult importChunk(std::span<const ScannedVCard> cards, ContactImport::Chunk& chunk,
                           const Operation& operation);
    std::optional<contacts::Contact> readCard(const ScannedVCard& card);
    StepResult giveFreeIdentifiers(std::vector<ReadCard>& cards);
    void addCard(ReadCard& read, ContactImport::Chunk& chunk);
    const std::optional<std::string>& notesFor(const ScannedVCard& card);

    ContactImport import;
    VCardImportSource source;
    std::vector<std::string> textTokens;

    // When the import started: every card's notes text gives this date, time and transaction
    // number, so that all of them name the same import.
    std::chrono::system_clock::time_point startTime;
    std::string transactionNumber;
    // The notes text of each file; only FILE differs between them.
    std::map<std::filesystem::path, std::optional<std::string>> notesByFile;
    // The card being read, for the log when an exception stops the import.
    const ScannedVCard* currentCard = nullptr;
    // Reads back the cards the scan kept as their place in a file, one card at a time, so
    // that only the chunk's contacts are held, never the text of all cards.
    VCardContentReader contentReader;
};

VCardImportOperation::VCardImportOperation(std::shared_ptr<contacts::ContactStore> store,
                                           VCardImportSource source, ImportOptions options,
                                           std::vector<std::string> textTokens,
                                           std::weak_ptr<ImportOperationDelegate> delegate,
                                           std::shared_ptr<const ImportJournal> journal)
    : impl_(std::make_unique<Impl>(std::move(store), std::move(source), std::move(options),
                                   std::move(textTokens), std::move(delegate),
                                   std::move(journal))) {}

VCardImportOperation::~VCardImportOperation() = default;

const ImportSummary& VCardImportOperation::summary() const {
    return impl_->import.summary();
}

std::string VCardImportOperation::unnamedContactName() {
    return localizedString("Unnamed contact", "The name of a contact whose vCard gives none");
}

// The import takes the steps of ContactImport; its own part is step 4, the groups the scan
// found, and the contacts of each chunk: every card read by the vCard reader, with a free
// identifier, the notes text naming its own file and the groups of its CATEGORIES.
// Duplicates are always compared by full name.
void VCardImportOperation::main(Operation& operation) {
    impl_->import.runGuarded([&] { impl_->importCards(operation); },
                             [&] {
                                 return impl_->currentCard ? impl_->currentCard->fileUrl().string()
                                                           : std::string();
                             });
}

void VCardImportOperation::Impl::importCards(Operation& operation) {
    const std::span<const ScannedVCard> cards = source.cards
                                                    ? std::span<const ScannedVCard>(*source.cards)
                                                    : std::span<const ScannedVCard>();
    if (!import.start(cards.size())) return;
    startTime = std::chrono::system_clock::now();
    transactionNumber = ContactImport::transactionNumber(startTime);
    notesByFile.clear();
    std::vector<std::filesystem::path> files;
    for (const ScannedVCard& card : cards) {
        if (files.empty() || files.back() != card.fileUrl()) files.push_back(card.fileUrl());
    }
    import.identify(startTime, std::move(files));

    if (auto done = import.openContainer(); !done) return import.fail(done.error());
    if (auto done = import.removeGroups(); !done) return import.fail(done.error());
    if (auto done = import.createGroups(source.detectedGroups); !done)
        return import.fail(done.error());
    if (auto done = import.readGroups(); !done) return import.fail(done.error());
    if (auto done = import.prepareDuplicateGroups(DuplicateMode::fullName); !done)
        return import.fail(done.error());

    auto done = import.importChunks(
        cards, operation,
        [this](std::span<const ScannedVCard> cardsOfChunk, ContactImport::Chunk& chunk,
               const Operation& running) { return importChunk(cardsOfChunk, chunk, running); });
    currentCard = nullptr;
    if (!done) return import.fail(done.error());

    if (const std::uint64_t others = import.summary().cardsFromOtherPrograms; others > 0) {
        writeLog(LogType::error,
                 "Warning: %{public}d vCards were written by other programs and may use labels "
                 "this import reads differently; labels such as “work” or “home” may need a "
                 "look.",
                 static_cast<int>(others));
    }
    import.finish(operation);
}

// The cards are read first and their identifiers checked together, with one question to
// the store for the chunk; then each goes into the chunk in its order. Cancelling stops
// both passes.
auto VCardImportOperation::Impl::importChunk(std::span<const ScannedVCard> cards,
                                             ContactImport::Chunk& chunk,
                                             const Operation& operation) -> StepResult {
    std::vector<ReadCard> read;
    read.reserve(cards.size());
    for (const ScannedVCard& card : cards) {
        if (operation.isCancelled()) return {};
        currentCard = &card;
        if (auto contact = readCard(card)) read.push_back({&card, std::move(*contact)});
    }
    if (auto done = giveFreeIdentifiers(read); !done) return done;
    for (ReadCard& card : read) {
        if (operation.isCancelled()) return {};
        currentCard = card.card;
        addCard(card, chunk);
    }
    return {};
}

// The first contact of the card; none, logged and reported, when its file cannot be read
// back or the reader refuses it.
std::optional<contacts::Contact> VCardImportOperation::Impl::readCard(const ScannedVCard& card) {
    std::string reason;
    if (auto content = contentReader.content(card); !content) {
        reason = std::move(content.error().message);
    } else if (auto entries = contacts::readVCards(*content)) {
        return std::move(entries->front().contact);
    } else {
        reason = std::move(entries.error().message);
    }
    writeLog(LogType::error,
             "Failed to init CNContact via CNContactVCardSerialization -> "
             "proceeding...");
    writeLog(LogType::info, "vCard %ld of %{public}@: %{public}@",
             static_cast<long>(card.indexInFile), card.fileUrl().string(), reason);
    ImportSummary& summary = import.summary();
    ++summary.unreadableCards;
    summary.warnings.push_back({static_cast<std::int64_t>(card.indexInFile), "", reason,
                                std::string(kProblemUnreadableCard), fileNameOf(card)});
    return std::nullopt;
}

// A contact takes its card's UID as identifier. A UID that a contact or group of the store
// has, in any container, or that an earlier card of the chunk took, would make the store
// refuse the whole chunk; such a card gets a fresh identifier instead. Cards of earlier
// chunks are in the store by now, so the store's answer covers them.
auto VCardImportOperation::Impl::giveFreeIdentifiers(std::vector<ReadCard>& cards) -> StepResult {
    if (cards.empty()) return {};
    std::vector<std::string> identifiers;
    identifiers.reserve(cards.size());
    for (const ReadCard& card : cards) identifiers.push_back(card.contact.identifier);
    auto inUse = import.store().identifiersInUse(identifiers);
    if (!inUse) {
        return Unexpected(
            ImportOperationError{ImportOperationError::Kind::store, inUse.error().message});
    }
    std::unordered_set<std::string> taken = std::move(*inUse);
    std::unordered_set<std::string> takenInChunk;
    for (ReadCard& card : cards) {
        std::string& identifier = card.contact.identifier;
        if (!taken.contains(identifier) && takenInChunk.insert(identifier).second) continue;
        std::string old = std::move(identifier);
        do {
            identifier = contacts::makeUUID();
        } while (taken.contains(identifier) || !takenInChunk.insert(identifier).second);
        writeLog(LogType::info,
                 "vCard %ld of %{public}@: the identifier %{public}@ is in use; the contact gets "
                 "the identifier %{public}@",
                 static_cast<long>(card.card->indexInFile), card.card->fileUrl().string(), old,
                 identifier);
        ImportSummary& summary = import.summary();
        ++summary.identifiersReplaced;
        summary.warnings.push_back({static_cast<std::int64_t>(card.card->indexInFile), "UID",
                                    std::move(old), std::string(kProblemIdentifierInUse),
                                    fileNameOf(*card.card)});
    }
    return {};
}

// Every property stays as the reader gave it; the contact gets the notes text and the
// groups of the card's CATEGORIES.
void VCardImportOperation::Impl::addCard(ReadCard& read, ContactImport::Chunk& chunk) {
    const ScannedVCard& card = *read.card;
    std::string displayName = contacts::stringFromContact(read.contact);
    if (displayName.empty()) displayName = unnamedContactName();
    if (!card.isAppleOriginal) {
        ++import.summary().cardsFromOtherPrograms;
        writeLog(LogType::info, "%{public}@, addressbook://%{public}@: Not an Apple-flavored vCard",
                 displayName, read.contact.identifier);
    }
    const std::vector<std::string> groupTitles(card.groupTitles.begin(), card.groupTitles.end());
    import.addContact(chunk, std::move(read.contact), groupTitles, notesFor(card));
}

const std::optional<std::string>& VCardImportOperation::Impl::notesFor(const ScannedVCard& card) {
    auto [found, added] = notesByFile.try_emplace(card.fileUrl());
    if (added && import.options().addTextToNotes) {
        found->second =
            ContactImport::notesText(textTokens, card.fileUrl(), startTime, transactionNumber);
    }
    return found->second;
}

}  // namespace pelkora
