#pragma once

// The XML of WebDAV and its extensions (CardDAV, sync-collection): elements known by their
// namespace, whatever prefix the server chose, and the multistatus answer read into one entry
// per resource. Also the URL encoding of resource names and the comparison of ETags.

#include <cstddef>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora::net {

inline constexpr std::string_view kDavNamespace = "DAV:";
inline constexpr std::string_view kCardDavNamespace = "urn:ietf:params:xml:ns:carddav";

// The element's name without its prefix, and the namespace its prefix (or the default) names.
std::string_view localName(const pugi::xml_node& node);
std::string_view namespaceOf(const pugi::xml_node& node);
bool isElement(const pugi::xml_node& node, std::string_view ns, std::string_view name);
// The first child element of the name; an empty node when there is none.
pugi::xml_node childElement(const pugi::xml_node& node, std::string_view ns, std::string_view name);
// The element's text, spaces around it removed.
std::string trimmedText(const pugi::xml_node& node);

// A multistatus answer (PROPFIND, REPORT): for each resource its href, the status of the
// response when it has one (sync-collection's 404 for a removed resource) and the properties
// the server found (those of a 200 propstat).
class MultiStatus {
  public:
    struct Response {
        std::string href;  // as the server wrote it: a path, percent-encoded
        long status = 0;   // the response's own status; 0 when it has propstats instead
        std::vector<pugi::xml_node> properties;

        pugi::xml_node property(std::string_view ns, std::string_view name) const;
    };

    // None when the text is no multistatus document.
    static std::optional<MultiStatus> parse(std::string_view xml);

    const std::vector<Response>& responses() const { return responses_; }
    // sync-collection's new token; empty for other answers.
    const std::string& syncToken() const { return syncToken_; }

  private:
    std::shared_ptr<pugi::xml_document> document_;  // owns the nodes of the responses
    std::vector<Response> responses_;
    std::string syncToken_;
};

// The status code of a status line ("HTTP/1.1 404 Not Found" gives 404); 0 when none.
long statusCode(std::string_view statusLine);

// Every byte but the unreserved ones (letters, digits, "-._~") as %XX.
std::string percentEncode(std::string_view text);
std::string percentDecode(std::string_view text);

// Whether an ETag is weak (W/"…"), and whether two name the same version, weakly compared.
bool isWeakETag(std::string_view etag);
bool sameETagVersion(std::string_view first, std::string_view second);

}  // namespace pelkora::net
