#include <gtest/gtest.h>

#include <cstdlib>

#include "net/Dav.h"
#include "net/Http.h"

namespace pelkora::net {
namespace {

TEST(HttpTest, UrlsAreTakenApartAndReferencesResolved) {
    EXPECT_EQ(urlOrigin("https://h.example:8443/dav/x?q"), "https://h.example:8443");
    EXPECT_EQ(urlPath("https://h.example:8443/dav/x%20y/?q=1"), "/dav/x%20y/");
    EXPECT_EQ(resolveUrl("https://h/dav/ada/", "/dav/ada/book/"), "https://h/dav/ada/book/");
    EXPECT_EQ(resolveUrl("https://h/dav/ada/", "book/"), "https://h/dav/ada/book/");
    EXPECT_EQ(resolveUrl("https://h/dav/", "https://other/x"), "https://other/x");
    EXPECT_TRUE(isLoopback("http://127.0.0.1:5232/"));
    EXPECT_TRUE(isLoopback("http://ada@localhost/"));
    EXPECT_TRUE(isLoopback("http://[::1]:80/"));
    EXPECT_FALSE(isLoopback("http://127.0.0.1.example.org/"));
    EXPECT_FALSE(isLoopback("http://localhost@example.org/"));
}

TEST(HttpTest, MultistatusAnswersAreReadWhateverThePrefixes) {
    auto answer = MultiStatus::parse(R"(<?xml version="1.0"?>
<multistatus xmlns="DAV:" xmlns:card="urn:ietf:params:xml:ns:carddav">
  <response><href>/b/a.vcf</href>
    <propstat><prop><getetag>"1"</getetag><card:address-data>BEGIN:VCARD</card:address-data></prop>
      <status>HTTP/1.1 200 OK</status></propstat>
    <propstat><prop><displayname/></prop><status>HTTP/1.1 404 Not Found</status></propstat>
  </response>
  <response><href>/b/gone.vcf</href><status>HTTP/1.1 404 Not Found</status></response>
  <sync-token>token-2</sync-token>
</multistatus>)");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->syncToken(), "token-2");
    ASSERT_EQ(answer->responses().size(), 2u);
    const auto& card = answer->responses()[0];
    EXPECT_EQ(trimmedText(card.property(kDavNamespace, "getetag")), "\"1\"");
    EXPECT_EQ(trimmedText(card.property(kCardDavNamespace, "address-data")), "BEGIN:VCARD");
    EXPECT_FALSE(card.property(kDavNamespace, "displayname")) << "a 404 propstat is not found";
    EXPECT_EQ(answer->responses()[1].status, 404);
    EXPECT_FALSE(MultiStatus::parse("<html>Login</html>"));
    EXPECT_FALSE(MultiStatus::parse("<D:multistatus xmlns:D=\"DAV:\"><D:resp"));
}

TEST(HttpTest, PasswordsTravelOnlyEncryptedOrToThisComputer) {
    HttpSettings settings;
    settings.user = "ada";
    settings.password = "secret";
    HttpClient client(settings);
    auto refused = client.perform({"GET", "http://example.org/", {}, {}});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, HttpErrorKind::refused);
    EXPECT_EQ(client.requestCount(), 0u) << "nothing was sent";
    auto odd = client.perform({"GET", "ftp://example.org/", {}, {}});
    ASSERT_FALSE(odd);
    EXPECT_EQ(odd.error().kind, HttpErrorKind::badAddress);
}

TEST(HttpTest, ABusyServerIsAskedAgainAfterItsRetryAfter) {
    const char* junk = std::getenv("PELKORA_TEST_JUNK_URL");
    if (!junk)
        GTEST_SKIP() << "no test server: run through carddav-store-test.sh (ctest -L carddav)";
    HttpSettings settings;
    settings.user = "ada";
    settings.password = "lovelace";
    HttpClient client(settings);
    const std::string url = std::string(junk) + "busy/";
    std::vector<HttpRequest> requests(3, HttpRequest{"PROPFIND", url, {"Depth: 0"}, {}});
    auto answers = client.performAll(requests);
    for (const auto& answer : answers) {
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 207) << answer->statusLine;
    }
    EXPECT_GT(client.requestCount(), 3u);
}

}  // namespace
}  // namespace pelkora::net
