#pragma once

// Duplicate detection for an import that saves its new contacts in chunks. The index is told
// each new contact of the chunk being built and answers two questions about the chunk: which
// contacts already in the container it repeats (old duplicates) and which of its contacts
// repeat one (new duplicates). "Already in the container" covers the contacts there before
// the import and those of the chunks saved since; the contacts of one chunk are never
// compared with each other, since none of them is saved yet.
//
// The answers come from the store's indexed lookups, so a chunk costs one lookup per
// question whatever the size of the container. The index knows nothing of where the
// contacts come from: the caller hands over each contact with the identifier its source
// gave it.

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "addressbook/ContactStore.h"

namespace pelkora {

class DuplicateIndex {
  public:
    template <typename T>
    using Result = contacts::ContactStore::Result<T>;

    virtual ~DuplicateIndex() = default;

    // Takes note of a new contact of the chunk being built. `sourceIdentifier` is the
    // identifier its source gives it (the text of a UID column), empty when it has none.
    virtual void record(const contacts::Contact& contact, std::string_view sourceIdentifier) = 0;

    // The identifiers of the contacts in the container that a recorded contact repeats. Each
    // contact is answered once over the life of the index, so a chunk leaves out those an
    // earlier chunk answered.
    [[nodiscard]] virtual Result<std::vector<std::string>> oldDuplicates() = 0;

    // The identifiers of the recorded contacts that repeat a contact in the container.
    [[nodiscard]] virtual Result<std::vector<std::string>> newDuplicates() = 0;

    // The recorded contacts were saved: from now on they are in the container, and the next
    // contact recorded starts a new chunk.
    virtual void chunkSaved() = 0;
};

// Contacts repeat each other when their full names (as stringFromContact writes them) are
// equal; contacts without a full name repeat none. The store is asked about each name once:
// what it answered stays true apart from the contacts saved through this index since, which
// the index keeps itself. The store must outlive the index.
class FullNameDuplicateIndex final : public DuplicateIndex {
  public:
    FullNameDuplicateIndex(contacts::ContactStore& store, std::string containerIdentifier);

    void record(const contacts::Contact& contact, std::string_view sourceIdentifier) override;
    [[nodiscard]] Result<std::vector<std::string>> oldDuplicates() override;
    [[nodiscard]] Result<std::vector<std::string>> newDuplicates() override;
    void chunkSaved() override;

  private:
    struct NamedContact {
        std::string fullName;
        std::string identifier;
    };
    // The contacts of one name saved through this index, and how many of them have been
    // answered as old duplicates.
    struct SavedContacts {
        std::vector<std::string> identifiers;
        std::size_t answered = 0;
    };

    bool firstAskedInThisChunk(const std::string& fullName) const;

    contacts::ContactStore& store_;
    std::string containerIdentifier_;

    // The chunk being built.
    std::vector<NamedContact> chunkContacts_;
    // The chunk's names the store has not been asked about before, each once.
    std::vector<std::string> namesToAsk_;
    std::unordered_set<std::string> namesToAskSet_;

    // Over the whole import.
    std::unordered_set<std::string> askedNames_;
    std::unordered_set<std::string> existingNames_;  // from the store's answers and saved chunks
    std::unordered_map<std::string, SavedContacts> savedContactsByName_;
    std::unordered_set<std::string> answeredOldDuplicates_;
};

// Contacts repeat each other when the source identifier of a new contact is the identifier
// of one in the container. A contact without a source identifier is looked up as
// "-UNDEFINED-"; of several contacts of a chunk with one source identifier, the last one
// recorded is the new duplicate. The store must outlive the index.
class IdentifierDuplicateIndex final : public DuplicateIndex {
  public:
    IdentifierDuplicateIndex(contacts::ContactStore& store, std::string containerIdentifier);

    void record(const contacts::Contact& contact, std::string_view sourceIdentifier) override;
    [[nodiscard]] Result<std::vector<std::string>> oldDuplicates() override;
    [[nodiscard]] Result<std::vector<std::string>> newDuplicates() override;
    void chunkSaved() override;

  private:
    contacts::ContactStore& store_;
    std::string containerIdentifier_;

    // The chunk being built: the source identifiers in the order recorded, repeats kept, and
    // the new contact of each.
    std::vector<std::string> sourceIdentifiers_;
    std::unordered_map<std::string, std::string> contactForSourceIdentifier_;

    std::unordered_set<std::string> answeredOldDuplicates_;
};

}  // namespace pelkora
