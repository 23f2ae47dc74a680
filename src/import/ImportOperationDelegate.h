#pragma once

// The events of the operations that take the rows somewhere (into the address book, out as
// vCard files). The operations run on a background queue and post every event to the main
// queue, so a delegate always runs on the main thread. Operations hold their delegate
// weakly: an event that arrives after the delegate went away is dropped.

#include <cstdint>
#include <string>
#include <vector>

#include "support/Error.h"

namespace pelkora {

enum class ImportOperationErrorKind {
    containerNotFound,             // the chosen container is not in the address book
    store,                         // a save request or an enumeration failed
    fileWriteNoPermission,         // a vCard file could not be created
    multipleVCardFilesNotCreated,  // some contacts of an individual export were not written
    internalFailure,               // the operation itself broke off (an exception escaped it)
};

// Why an import or export operation stopped. `kind` tells the page which alert to show;
// `message` is the reason: a store's or file system's message, or, for internalFailure, a
// sentence naming the file and what went wrong.
using ImportOperationError = Error<ImportOperationErrorKind>;

class ImportOperationDelegate {
  public:
    virtual ~ImportOperationDelegate() = default;

    virtual void importOperationDidStart() {}
    // A step that takes a while begins ("Removing existing groups from …").
    virtual void importOperationDidChangeNote(const std::string& /*note*/) {}
    // `processed` records (or contacts written) so far.
    virtual void importOperationDidProcess(std::uint64_t /*processed*/) {}
    // A chunk has been handed to the store; saving may take a moment.
    virtual void importOperationDidSubmitChunk() {}
    virtual void importOperationDidFail(const ImportOperationError& /*error*/) {}
    // Sent just before importOperationDidFinish when values did not go in as they stood:
    // one line per kind of problem ("3 values were not dates and went into the note").
    virtual void importOperationDidWarn(const std::vector<std::string>& /*summaryLines*/) {}
    virtual void importOperationDidFinish() {}
};

}  // namespace pelkora
