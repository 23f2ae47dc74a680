#include <algorithm>

#include "mappingstore/webdav/WebDavConnection_p.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

using net::childElement;
using net::isElement;
using net::kDavNamespace;

RecordStoreError transferError(const net::HttpError& error, const std::string& url) {
    const std::string& reason = error.message;
    switch (error.kind) {
        case net::HttpErrorKind::unreachable:
            return {RecordStoreErrorKind::networkUnavailable,
                    formatMessage(localizedString("Could not reach the WebDAV server at %1$@: "
                                                  "%2$@. Check the address and the network "
                                                  "connection."),
                                  url, reason)};
        case net::HttpErrorKind::insecure:
            return {RecordStoreErrorKind::networkFailure,
                    formatMessage(localizedString(
                                      "Could not make a secure connection to the WebDAV server at "
                                      "%1$@: %2$@. Check the address, and that the server's "
                                      "certificate (or the certificate authority given for it) is "
                                      "trusted."),
                                  url, reason)};
        case net::HttpErrorKind::badAddress:
            return {RecordStoreErrorKind::networkFailure,
                    formatMessage(localizedString("“%1$@” is not the address of a WebDAV folder "
                                                  "(%2$@). Give an https:// address."),
                                  url, reason)};
        case net::HttpErrorKind::refused:
        case net::HttpErrorKind::tooLarge:
        case net::HttpErrorKind::failed:
            break;
    }
    return {
        RecordStoreErrorKind::networkFailure,
        formatMessage(localizedString("The exchange with the WebDAV server at %1$@ failed: %2$@."),
                      url, reason)};
}

bool isDavElement(const pugi::xml_node& node, std::string_view name) {
    return isElement(node, kDavNamespace, name);
}

pugi::xml_node davChild(const pugi::xml_node& node, std::string_view name) {
    return childElement(node, kDavNamespace, name);
}

std::string withoutFinalSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string strongForm(std::string_view etag) {
    return std::string(etag.starts_with("W/") ? etag.substr(2) : etag);
}

net::HttpSettings httpSettings(const WebDavConfiguration& configuration) {
    net::HttpSettings settings;
    settings.user = configuration.user;
    settings.password = configuration.password;
    settings.caFile = configuration.caFile;
    settings.parallel = 1;
    settings.timeout = std::chrono::milliseconds(60'000);
    return settings;
}

}  // namespace

WebDavConnection::WebDavConnection(const WebDavConfiguration& configuration)
    : client_(httpSettings(configuration)) {}

WebDavConnection::~WebDavConnection() = default;

Expected<HttpResponse, RecordStoreError> WebDavConnection::perform(
    const std::string& method, const std::string& url, const std::vector<std::string>& headers,
    std::string_view body) {
    auto response = client_.perform({method, url, headers, std::string(body)});
    if (!response) return Unexpected(transferError(response.error(), url));
    return std::move(response).value();
}

RecordStoreError httpError(const HttpResponse& response, const std::string& url) {
    const std::string status =
        response.statusLine.empty()
            ? formatMessage(localizedString("HTTP status %@"), std::to_string(response.status))
            : response.statusLine;
    switch (response.status) {
        case 401:
            return {RecordStoreErrorKind::notAuthenticated,
                    formatMessage(localizedString("The WebDAV server at %1$@ did not accept the "
                                                  "user name or password (%2$@). Check them in the "
                                                  "settings."),
                                  url, status)};
        case 403:
            return {RecordStoreErrorKind::permissionFailure,
                    formatMessage(localizedString("The WebDAV server at %1$@ does not let this "
                                                  "account do that (%2$@). Check the account's "
                                                  "rights on the server."),
                                  url, status)};
        default:
            return {
                RecordStoreErrorKind::networkFailure,
                formatMessage(response.status >= 500
                                  ? localizedString("The WebDAV server at %1$@ answered "
                                                    "“%2$@”. Try again later.")
                                  : localizedString("The WebDAV server at %1$@ answered “%2$@”."),
                              url, status)};
    }
}

std::string_view listingRequestBody() {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<D:propfind xmlns:D="DAV:" xmlns:CS="http://calendarserver.org/ns/">
<D:prop><D:getetag/><D:resourcetype/><CS:getctag/></D:prop>
</D:propfind>
)";
}

std::optional<CollectionListing> parseListing(std::string_view xml,
                                              std::string_view collectionPath) {
    pugi::xml_document document;
    if (!document.load_buffer(xml.data(), xml.size())) return std::nullopt;
    const auto root = document.document_element();
    if (!isDavElement(root, "multistatus")) return std::nullopt;

    const std::string collection = withoutFinalSlash(percentDecode(collectionPath));
    CollectionListing listing;
    for (const auto response : root.children()) {
        if (!isDavElement(response, "response")) continue;
        const std::string path =
            withoutFinalSlash(percentDecode(urlPath(net::trimmedText(davChild(response, "href")))));
        CollectionMember member;
        std::string collectionTag;
        for (const auto propstat : response.children()) {
            if (!isDavElement(propstat, "propstat")) continue;
            const std::string status = davChild(propstat, "status").text().get();
            if (status.find(" 200 ") == std::string::npos) continue;
            for (const auto property : davChild(propstat, "prop").children()) {
                if (isDavElement(property, "getetag")) {
                    member.etag = net::trimmedText(property);
                } else if (isDavElement(property, "resourcetype")) {
                    member.isCollection = static_cast<bool>(davChild(property, "collection"));
                } else if (net::localName(property) == "getctag") {
                    collectionTag = net::trimmedText(property);
                }
            }
        }
        if (path == collection) {
            listing.collectionTag = collectionTag;
            continue;
        }
        const auto slash = path.rfind('/');
        member.name = slash == std::string::npos ? path : path.substr(slash + 1);
        listing.members.push_back(std::move(member));
    }
    return listing;
}

std::string listingFingerprint(const CollectionListing& listing) {
    std::vector<std::string> lines;
    for (const auto& member : listing.members) {
        lines.push_back(member.name + '\t' + strongForm(member.etag));
    }
    std::sort(lines.begin(), lines.end());
    std::string fingerprint = "ctag\t" + strongForm(listing.collectionTag);
    for (const auto& line : lines) fingerprint += '\n' + line;
    return fingerprint;
}

}  // namespace pelkora
