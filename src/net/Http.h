#pragma once

// HTTP requests over libcurl, one at a time or many at once.
//
// A client keeps its connections between requests (one pool for all of them: HTTP/2 streams
// share one connection where the server offers it, otherwise up to `parallel` connections
// carry the requests side by side). It guards the user's credentials: certificates are always
// verified (against the system's authorities or a PEM file), a password goes over plain HTTP
// only to this computer (loopback), a redirect may not leave HTTPS and never carries the
// password to another host, and at most three redirects are followed. An answer larger than
// the limit is cut off and is an error. A server that asks the client to wait (429, 503) is
// asked again, after its Retry-After or a short backoff, a few times.
//
// Not thread-safe: one thread at a time.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora::net {

enum class HttpErrorKind {
    unreachable,  // no connection: the host is unknown, refuses or does not answer in time
    insecure,     // the server's certificate is not trusted, or TLS failed
    badAddress,   // not an http:// or https:// URL
    refused,      // the client would not send the request (a password over plain HTTP)
    tooLarge,     // the answer is larger than the limit
    failed,       // anything else: the connection broke, too many redirects …
};

// Why a request got no answer. The message is the reason only ("SSL certificate problem:
// unable to get local issuer certificate"); callers say what they were doing and to whom.
using HttpError = Error<HttpErrorKind>;

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::string> headers;  // "Name: value"
    std::string body;
};

struct HttpResponse {
    long status = 0;
    std::string statusLine;  // "HTTP/1.1 404 Not Found"
    // The final answer's headers, names in lower case.
    std::map<std::string, std::string> headers;
    std::string body;
    std::string url;  // where the answer came from, after redirects

    bool succeeded() const { return status >= 200 && status < 300; }
    std::string header(std::string_view name) const;
};

struct HttpSettings {
    std::string user;  // none: no credentials are sent
    std::string password;
    std::filesystem::path caFile;  // the authorities to trust, a PEM file; empty: the system's
    std::size_t maximumBodySize = 64 * 1024 * 1024;
    std::size_t parallel = 4;                       // connections when the server has no HTTP/2
    int retries = 3;                                // for 429 and 503
    std::chrono::milliseconds longestWait{10'000};  // a longer Retry-After is cut to this
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds timeout{120'000};
};

class HttpClient {
  public:
    explicit HttpClient(HttpSettings settings);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    const HttpSettings& settings() const { return settings_; }

    // The server's final answer, whatever its status; the error when there is none.
    Expected<HttpResponse, HttpError> perform(const HttpRequest& request);
    // Every request's answer, in the order of the requests; they run side by side.
    std::vector<Expected<HttpResponse, HttpError>> performAll(
        const std::vector<HttpRequest>& requests);

    // How many requests went to servers, retries included.
    std::size_t requestCount() const { return requestCount_; }

  private:
    struct Transfer;
    std::vector<Expected<HttpResponse, HttpError>> run(const std::vector<HttpRequest>& requests);

    HttpSettings settings_;
    void* multi_;  // CURLM*, whose connection cache outlives the transfers
    std::size_t requestCount_ = 0;
};

// Whether the URL's host is this computer: "localhost", 127.0.0.0/8 or ::1.
bool isLoopback(std::string_view url);
// "https://host:port" of a URL, without the path.
std::string urlOrigin(std::string_view url);
// The path of a URL: "https://h:1/a%20b/?q" gives "/a%20b/".
std::string urlPath(std::string_view url);
// A reference (an href: absolute, or a path) made absolute against the URL it came from.
std::string resolveUrl(std::string_view base, std::string_view reference);

}  // namespace pelkora::net
