#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <pugixml.hpp>

#include "mappingstore/webdav/WebDavConnection_p.h"

namespace pelkora {
namespace {

// More than any listing or record of saved mappings; a server sending more is not one we talk to.
constexpr std::size_t kMaximumBodySize = 64 * 1024 * 1024;
constexpr long kConnectTimeoutMilliseconds = 10'000;
constexpr long kRequestTimeoutMilliseconds = 60'000;
constexpr long kMaximumRedirects = 3;

std::once_flag curlInitialized;

std::string trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& response = *static_cast<HttpResponse*>(context);
    if (response.body.size() + size * count > kMaximumBodySize) return 0;
    response.body.append(data, size * count);
    return size * count;
}

std::size_t receiveHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto& response = *static_cast<HttpResponse*>(context);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        // Each answer of a redirect chain starts afresh; the last one counts.
        response.statusLine = trimmed(line);
        response.headers.clear();
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
        response.headers[lowercased(std::string(line.substr(0, colon)))] =
            trimmed(line.substr(colon + 1));
    }
    return size * count;
}

RecordStoreError transferError(CURLcode code, const char* detail, const std::string& url) {
    const std::string reason = *detail ? detail : curl_easy_strerror(code);
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
            return {RecordStoreErrorKind::networkUnavailable,
                    "Could not reach the WebDAV server at " + url + ": " + reason +
                        ". Check the address and the network connection."};
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return {RecordStoreErrorKind::networkFailure,
                    "Could not make a secure connection to the WebDAV server at " + url + ": " +
                        reason +
                        ". Check the address, and that the server's certificate (or the "
                        "certificate authority given for it) is trusted."};
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return {RecordStoreErrorKind::networkFailure,
                    "“" + url + "” is not the address of a WebDAV folder (" + reason +
                        "). Give an https:// address."};
        default:
            return {RecordStoreErrorKind::networkFailure,
                    "The exchange with the WebDAV server at " + url + " failed: " + reason + "."};
    }
}

// DAV elements come with whatever prefix the server chose (D:, d:, lp1:, none); they are known
// by their namespace, found on the element or an ancestor.
std::string_view localName(const pugi::xml_node& node) {
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view namespaceOf(const pugi::xml_node& node) {
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    const std::string attribute =
        colon == std::string_view::npos ? "xmlns" : "xmlns:" + std::string(name.substr(0, colon));
    for (auto ancestor = node; ancestor; ancestor = ancestor.parent()) {
        if (const auto declaration = ancestor.attribute(attribute.c_str())) {
            return declaration.value();
        }
    }
    return {};
}

bool isDavElement(const pugi::xml_node& node, std::string_view name) {
    return node.type() == pugi::node_element && localName(node) == name &&
           namespaceOf(node) == "DAV:";
}

pugi::xml_node davChild(const pugi::xml_node& node, std::string_view name) {
    for (const auto child : node.children()) {
        if (isDavElement(child, name)) return child;
    }
    return {};
}

std::string withoutFinalSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string strongForm(std::string_view etag) {
    return std::string(etag.starts_with("W/") ? etag.substr(2) : etag);
}

}  // namespace

std::string HttpResponse::header(std::string_view name) const {
    const auto found = headers.find(lowercased(std::string(name)));
    return found == headers.end() ? std::string() : found->second;
}

WebDavConnection::WebDavConnection(const WebDavConfiguration& configuration)
    : configuration_(configuration) {
    std::call_once(curlInitialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    handle_ = curl_easy_init();
}

WebDavConnection::~WebDavConnection() {
    curl_easy_cleanup(static_cast<CURL*>(handle_));
}

Expected<HttpResponse, RecordStoreError> WebDavConnection::perform(
    const std::string& method, const std::string& url, const std::vector<std::string>& headers,
    std::string_view body) {
    auto* curl = static_cast<CURL*>(handle_);
    if (!curl) {
        return Unexpected(RecordStoreError{RecordStoreErrorKind::internalError,
                                           "Could not set up a connection to " + url + "."});
    }
    // A reset keeps the open connection, the TLS session and the DNS cache.
    curl_easy_reset(curl);
    HttpResponse response;
    char errorText[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaximumRedirects);
    // The credentials go to the configured host only, never to where a redirect points.
    curl_easy_setopt(curl, CURLOPT_UNRESTRICTED_AUTH, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!configuration_.caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, configuration_.caFile.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMilliseconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kRequestTimeoutMilliseconds);
    if (!configuration_.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, configuration_.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, configuration_.password.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receiveBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);

    if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    curl_slist* headerList = nullptr;
    for (const auto& header : headers) headerList = curl_slist_append(headerList, header.c_str());
    if (!body.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        // No waiting for "100 Continue": the bodies are small.
        headerList = curl_slist_append(headerList, "Expect:");
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);

    const CURLcode result = curl_easy_perform(curl);
    curl_slist_free_all(headerList);
    if (result != CURLE_OK) return Unexpected(transferError(result, errorText, url));
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

RecordStoreError httpError(const HttpResponse& response, const std::string& url) {
    const std::string status = response.statusLine.empty()
                                   ? "HTTP status " + std::to_string(response.status)
                                   : response.statusLine;
    switch (response.status) {
        case 401:
            return {RecordStoreErrorKind::notAuthenticated,
                    "The WebDAV server at " + url + " did not accept the user name or password (" +
                        status + "). Check them in the settings."};
        case 403:
            return {RecordStoreErrorKind::permissionFailure,
                    "The WebDAV server at " + url + " does not let this account do that (" +
                        status + "). Check the account's rights on the server."};
        default:
            return {RecordStoreErrorKind::networkFailure,
                    "The WebDAV server at " + url + " answered “" + status + "”" +
                        (response.status >= 500 ? ". Try again later." : ".")};
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
        const std::string path = withoutFinalSlash(
            percentDecode(urlPath(trimmed(davChild(response, "href").text().get()))));
        CollectionMember member;
        std::string collectionTag;
        for (const auto propstat : response.children()) {
            if (!isDavElement(propstat, "propstat")) continue;
            const std::string status = davChild(propstat, "status").text().get();
            if (status.find(" 200 ") == std::string::npos) continue;
            for (const auto property : davChild(propstat, "prop").children()) {
                if (isDavElement(property, "getetag")) {
                    member.etag = trimmed(property.text().get());
                } else if (isDavElement(property, "resourcetype")) {
                    member.isCollection = static_cast<bool>(davChild(property, "collection"));
                } else if (localName(property) == "getctag") {
                    collectionTag = trimmed(property.text().get());
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

bool isWeakETag(std::string_view etag) {
    return etag.starts_with("W/");
}

bool sameETagVersion(std::string_view first, std::string_view second) {
    return !first.empty() && strongForm(first) == strongForm(second);
}

std::string percentEncode(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHexDigits[byte >> 4];
            encoded += kHexDigits[byte & 0xF];
        }
    }
    return encoded;
}

std::string percentDecode(std::string_view text) {
    const auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string urlPath(std::string_view url) {
    if (const auto scheme = url.find("://"); scheme != std::string_view::npos) {
        const auto slash = url.find('/', scheme + 3);
        url = slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
    }
    return std::string(url.substr(0, url.find_first_of("?#")));
}

}  // namespace pelkora
