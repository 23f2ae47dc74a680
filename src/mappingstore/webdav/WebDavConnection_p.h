#pragma once

// The HTTP side of the WebDAV store: one libcurl handle that keeps its connection to the server
// between requests, the mapping of answers to the store's errors, the listing of a collection
// (PROPFIND's multistatus answer) and the encoding of names in URLs.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mappingstore/RecordStore.h"
#include "mappingstore/webdav/WebDavRecordStore.h"

namespace pelkora {

struct HttpResponse {
    long status = 0;
    std::string statusLine;  // "HTTP/1.1 404 Not Found"
    // The final answer's headers, names in lower case.
    std::map<std::string, std::string> headers;
    std::string body;

    bool succeeded() const { return status >= 200 && status < 300; }
    std::string header(std::string_view name) const;
};

class WebDavConnection {
  public:
    explicit WebDavConnection(const WebDavConfiguration& configuration);
    ~WebDavConnection();
    WebDavConnection(const WebDavConnection&) = delete;
    WebDavConnection& operator=(const WebDavConnection&) = delete;

    // Sends one request and returns the server's final answer, whatever its status; a request
    // that got no answer (no connection, a refused certificate, a timeout) is the error.
    // "HEAD" asks for no body.
    Expected<HttpResponse, RecordStoreError> perform(const std::string& method,
                                                     const std::string& url,
                                                     const std::vector<std::string>& headers = {},
                                                     std::string_view body = {});

  private:
    const WebDavConfiguration& configuration_;
    void* handle_;  // CURL*
};

// The error for an answer that is not the one expected: 401 notAuthenticated, 403
// permissionFailure, anything else networkFailure; the message names the URL and the status.
RecordStoreError httpError(const HttpResponse& response, const std::string& url);

// One resource of a collection's listing.
struct CollectionMember {
    std::string name;  // the last segment of its path, percent-decoded, without a final slash
    std::string etag;
    bool isCollection = false;
};
struct CollectionListing {
    std::string collectionTag;  // the collection's own getctag or getetag, when given
    std::vector<CollectionMember> members;
};
// The PROPFIND body asking for what a listing needs.
std::string_view listingRequestBody();
// The listing in a multistatus answer for the collection at collectionPath (its URL's path,
// percent-encoded as sent); std::nullopt when the bytes are not a multistatus answer.
std::optional<CollectionListing> parseListing(std::string_view xml,
                                              std::string_view collectionPath);
// A fingerprint of the listing: equal listings give equal fingerprints, whatever their order,
// and a weak ETag counts as its strong form (servers weaken a tag for the first second).
std::string listingFingerprint(const CollectionListing& listing);

// Whether an ETag is weak (W/"…"), and whether two name the same version, weakly compared.
bool isWeakETag(std::string_view etag);
bool sameETagVersion(std::string_view first, std::string_view second);

// Every byte but the unreserved ones (letters, digits, "-._~") as %XX.
std::string percentEncode(std::string_view text);
std::string percentDecode(std::string_view text);
// The path of a URL: "https://h:1/a%20b/?q" gives "/a%20b/".
std::string urlPath(std::string_view url);

}  // namespace pelkora
