#pragma once

// The import of scanned vCards: one contact per card, saved into the chosen container in
// chunks of 500 cards, on the same steps as the import of rows (container, group removal,
// groups, duplicate groups, duplicates by full name, notes text, chunks, events). Each card
// is read by the vCard reader; what this adds is the notes text (with the card's own file
// name), the groups of its CATEGORIES and the count of cards written by other programs.
//
// A card the reader cannot read is skipped, logged and reported as a warning. A card whose
// UID is taken — by an earlier card of the import or by a contact anywhere in the store —
// gets a fresh identifier instead of failing its chunk, and is reported as a warning too.

#include <memory>
#include <string>
#include <vector>

#include "addressbook/ContactStore.h"
#include "import/ImportOperationDelegate.h"
#include "import/TabularDataImportOperation.h"
#include "import/VCardScan.h"

namespace pelkora {

class Operation;

// What a vCard import reads from the session when it starts.
struct VCardImportSource {
    // The scanned cards, in scan order.
    std::shared_ptr<const std::vector<ScannedVCard>> cards;
    // The group names the scan found, sorted.
    std::vector<std::string> detectedGroups;
};

class VCardImportOperation {
  public:
    static constexpr std::size_t kChunkSize = TabularDataImportOperation::kChunkSize;

    // With a journal, the import records what it saves there, for undoing it later.
    VCardImportOperation(std::shared_ptr<contacts::ContactStore> store, VCardImportSource source,
                         ImportOptions options, std::vector<std::string> textTokens,
                         std::weak_ptr<ImportOperationDelegate> delegate,
                         std::shared_ptr<const ImportJournal> journal = nullptr);
    ~VCardImportOperation();

    // Runs the whole import on the calling (background) thread; cancelling is honoured
    // between cards and before each save. An exception that escapes is logged and sent as
    // importOperationDidFail (internalFailure).
    void main(Operation& operation);

    // Valid after main returned. rowsToImport counts the cards.
    const ImportSummary& summary() const;

    // "Unnamed contact", the name the log and the summary give a card without one.
    static std::string unnamedContactName();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pelkora
