#include "net/Http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <mutex>
#include <thread>

#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora::net {
namespace {

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

std::string_view schemeOf(std::string_view url) {
    const auto end = url.find("://");
    return end == std::string_view::npos ? std::string_view() : url.substr(0, end);
}

std::string hostOf(std::string_view url) {
    const auto start = url.find("://");
    if (start == std::string_view::npos) return {};
    std::string_view authority = url.substr(start + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.starts_with('['))
        return lowercased(std::string(authority.substr(1, authority.find(']') - 1)));
    return lowercased(std::string(authority.substr(0, authority.find(':'))));
}

HttpError transferError(CURLcode code, const char* detail) {
    const std::string reason = *detail ? detail : curl_easy_strerror(code);
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
            return {HttpErrorKind::unreachable, reason};
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return {HttpErrorKind::insecure, reason};
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return {HttpErrorKind::badAddress, reason};
        default:
            return {HttpErrorKind::failed, reason};
    }
}

// The wait a 429 or 503 asks for: Retry-After in seconds, else a backoff that doubles.
std::chrono::milliseconds retryWait(const HttpResponse& response, int attempt,
                                    std::chrono::milliseconds longest) {
    std::chrono::milliseconds wait{250 << std::min(attempt, 6)};
    const std::string after = response.header("retry-after");
    unsigned seconds = 0;
    const auto [end, error] = std::from_chars(after.data(), after.data() + after.size(), seconds);
    if (error == std::errc() && end == after.data() + after.size() && !after.empty())
        wait = std::chrono::seconds(seconds);
    return std::min(wait, longest);
}

}  // namespace

struct HttpClient::Transfer {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    HttpResponse response;
    char errorText[CURL_ERROR_SIZE] = "";
    std::size_t limit = 0;
    bool tooLarge = false;
    bool added = false;  // to the multi handle
    bool done = false;
    CURLcode result = CURLE_OK;

    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }

    static std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* context) {
        auto& transfer = *static_cast<Transfer*>(context);
        if (transfer.response.body.size() + size * count > transfer.limit) {
            transfer.tooLarge = true;
            return 0;
        }
        transfer.response.body.append(data, size * count);
        return size * count;
    }

    static std::size_t receiveHeader(char* data, std::size_t size, std::size_t count,
                                     void* context) {
        auto& response = static_cast<Transfer*>(context)->response;
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            // Each answer of a redirect chain starts afresh; the last one counts.
            response.statusLine = trimmed(line);
            response.headers.clear();
            response.body.clear();
        } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
            response.headers[lowercased(std::string(line.substr(0, colon)))] =
                trimmed(line.substr(colon + 1));
        }
        return size * count;
    }
};

std::string HttpResponse::header(std::string_view name) const {
    const auto found = headers.find(lowercased(std::string(name)));
    return found == headers.end() ? std::string() : found->second;
}

HttpClient::HttpClient(HttpSettings settings) : settings_(std::move(settings)) {
    std::call_once(curlInitialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    multi_ = curl_multi_init();
    auto* multi = static_cast<CURLM*>(multi_);
    const long parallel = static_cast<long>(std::max<std::size_t>(settings_.parallel, 1));
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, parallel);
    curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, parallel);
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, parallel);
}

HttpClient::~HttpClient() {
    curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

Expected<HttpResponse, HttpError> HttpClient::perform(const HttpRequest& request) {
    return std::move(performAll({request}).front());
}

std::vector<Expected<HttpResponse, HttpError>> HttpClient::performAll(
    const std::vector<HttpRequest>& requests) {
    auto results = run(requests);
    for (int attempt = 0; attempt < settings_.retries; ++attempt) {
        std::vector<std::size_t> again;
        std::chrono::milliseconds wait{0};
        for (std::size_t index = 0; index < results.size(); ++index) {
            if (!results[index] || (results[index]->status != 429 && results[index]->status != 503))
                continue;
            again.push_back(index);
            wait = std::max(wait, retryWait(*results[index], attempt, settings_.longestWait));
        }
        if (again.empty()) break;
        std::this_thread::sleep_for(wait);
        std::vector<HttpRequest> repeated;
        for (std::size_t index : again) repeated.push_back(requests[index]);
        auto answers = run(repeated);
        for (std::size_t position = 0; position < again.size(); ++position)
            results[again[position]] = std::move(answers[position]);
    }
    return results;
}

std::vector<Expected<HttpResponse, HttpError>> HttpClient::run(
    const std::vector<HttpRequest>& requests) {
    auto* multi = static_cast<CURLM*>(multi_);
    std::vector<Expected<HttpResponse, HttpError>> results(
        requests.size(),
        Unexpected(HttpError{HttpErrorKind::failed,
                             localizedString("not sent", "Why a request to a server failed")}));
    std::vector<std::unique_ptr<Transfer>> transfers(requests.size());
    std::vector<std::size_t> ready;  // the requests to send, in order
    for (std::size_t index = 0; index < requests.size(); ++index) {
        const HttpRequest& request = requests[index];
        const std::string_view scheme = schemeOf(request.url);
        if (scheme != "http" && scheme != "https") {
            results[index] =
                Unexpected(HttpError{HttpErrorKind::badAddress,
                                     formatMessage(localizedString("“%@” is not an http:// or "
                                                                   "https:// URL"),
                                                   request.url)});
            continue;
        }
        if (scheme == "http" && !settings_.user.empty() && !isLoopback(request.url)) {
            results[index] = Unexpected(HttpError{
                HttpErrorKind::refused, formatMessage(localizedString("the password would travel "
                                                                      "unencrypted over plain HTTP "
                                                                      "to %@; use an https:// "
                                                                      "address"),
                                                      hostOf(request.url))});
            continue;
        }
        auto transfer = std::make_unique<Transfer>();
        transfer->limit = settings_.maximumBodySize;
        CURL* curl = transfer->easy = curl_easy_init();
        if (!curl) {
            results[index] = Unexpected(HttpError{HttpErrorKind::failed, "out of memory"});
            continue;
        }
        curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(curl, CURLOPT_PRIVATE, transfer.get());
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, transfer->errorText);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        // Once on HTTPS, a redirect may not fall back to plain HTTP.
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR,
                         scheme == "https" ? "https" : "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaximumRedirects);
        // A 301 or 302 keeps the method (PROPFIND, REPORT) and the body.
        curl_easy_setopt(curl, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
        // The credentials go to the configured host only, never to where a redirect points.
        curl_easy_setopt(curl, CURLOPT_UNRESTRICTED_AUTH, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!settings_.caFile.empty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, settings_.caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(settings_.connectTimeout.count()));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(settings_.timeout.count()));
        curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        curl_easy_setopt(curl, CURLOPT_PIPEWAIT, 1L);
        curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(settings_.maximumBodySize));
        if (!settings_.user.empty()) {
            curl_easy_setopt(curl, CURLOPT_USERNAME, settings_.user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, settings_.password.c_str());
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        }
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Transfer::receiveBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer.get());
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Transfer::receiveHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, transfer.get());
        if (request.method == "HEAD") {
            curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        } else if (request.method != "GET") {
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
        for (const auto& header : request.headers)
            transfer->headers = curl_slist_append(transfer->headers, header.c_str());
        if (!request.body.empty()) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            // No waiting for "100 Continue": the bodies are small.
            transfer->headers = curl_slist_append(transfer->headers, "Expect:");
        }
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer->headers);
        transfers[index] = std::move(transfer);
        ready.push_back(index);
    }

    // A transfer's timeouts run from the moment it is added, also while it waits for a free
    // connection (a slow server keeps it waiting long): only as many are added at a time as
    // there are connections or HTTP/2 streams to carry them.
    const std::size_t window = std::max<std::size_t>(settings_.parallel, 1);
    std::size_t next = 0;
    std::size_t active = 0;
    const auto addMore = [&] {
        while (active < window && next < ready.size()) {
            Transfer& transfer = *transfers[ready[next++]];
            curl_multi_add_handle(multi, transfer.easy);
            transfer.added = true;
            ++active;
            ++requestCount_;
        }
    };
    addMore();
    while (active > 0) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) break;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            transfer->done = true;
            transfer->result = message->data.result;
            curl_multi_remove_handle(multi, transfer->easy);
            transfer->added = false;
            --active;
        }
        addMore();
        if (active > 0) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }

    for (std::size_t index = 0; index < transfers.size(); ++index) {
        Transfer* transfer = transfers[index].get();
        if (!transfer) continue;
        if (transfer->added) curl_multi_remove_handle(multi, transfer->easy);
        if (!transfer->done) {
            results[index] = Unexpected(
                HttpError{HttpErrorKind::failed, localizedString("the transfer stopped")});
        } else if (transfer->tooLarge || transfer->result == CURLE_FILESIZE_EXCEEDED) {
            results[index] = Unexpected(
                HttpError{HttpErrorKind::tooLarge,
                          formatMessage(localizedString("the answer is larger than "
                                                        "%@ MB"),
                                        std::to_string(settings_.maximumBodySize >> 20))});
        } else if (transfer->result != CURLE_OK) {
            results[index] = Unexpected(transferError(transfer->result, transfer->errorText));
        } else {
            curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &transfer->response.status);
            char* effective = nullptr;
            curl_easy_getinfo(transfer->easy, CURLINFO_EFFECTIVE_URL, &effective);
            transfer->response.url = effective ? effective : requests[index].url;
            results[index] = std::move(transfer->response);
        }
    }
    return results;
}

bool isLoopback(std::string_view url) {
    const std::string host = hostOf(url);
    if (host == "localhost" || host == "::1") return true;
    // 127.0.0.0/8 as a dotted address, not a name that starts like one.
    if (!host.starts_with("127.") || std::count(host.begin(), host.end(), '.') != 3 ||
        host.ends_with('.'))
        return false;
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return c == '.' || (c >= '0' && c <= '9'); }) &&
           host.find("..") == std::string::npos;
}

std::string urlOrigin(std::string_view url) {
    const auto start = url.find("://");
    if (start == std::string_view::npos) return {};
    const auto slash = url.find_first_of("/?#", start + 3);
    return std::string(url.substr(0, slash));
}

std::string urlPath(std::string_view url) {
    if (const auto scheme = url.find("://"); scheme != std::string_view::npos) {
        const auto slash = url.find('/', scheme + 3);
        url = slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
    }
    return std::string(url.substr(0, url.find_first_of("?#")));
}

std::string resolveUrl(std::string_view base, std::string_view reference) {
    if (reference.find("://") != std::string_view::npos) return std::string(reference);
    if (reference.starts_with('/')) return urlOrigin(base) + std::string(reference);
    std::string path = urlPath(base);
    path = path.substr(0, path.rfind('/') + 1);
    return urlOrigin(base) + path + std::string(reference);
}

}  // namespace pelkora::net
