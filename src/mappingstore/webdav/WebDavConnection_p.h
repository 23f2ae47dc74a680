#pragma once

// The HTTP side of the WebDAV store: a client that keeps its connection to the server
// between requests, the mapping of answers to the store's errors, the listing of a collection
// (PROPFIND's multistatus answer) and the encoding of names in URLs.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mappingstore/RecordStore.h"
#include "mappingstore/webdav/WebDavRecordStore.h"
#include "net/Dav.h"
#include "net/Http.h"

namespace pelkora {

using net::HttpResponse;

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
    net::HttpClient client_;
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

using net::isWeakETag;
using net::percentDecode;
using net::percentEncode;
using net::sameETagVersion;
using net::urlPath;

}  // namespace pelkora
