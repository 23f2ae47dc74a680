#include <gtest/gtest.h>

#include "mappingstore/webdav/WebDavConnection_p.h"

namespace pelkora {
namespace {

// What a collection listing must yield, whatever prefixes and href forms the server uses.
TEST(WebDavListingTest, ServersListingsGiveMembersAndTags) {
    struct Case {
        const char* server;
        std::string collectionPath;
        std::string xml;
    };
    const Case cases[] = {
        {"Apache mod_dav: D: and lp1: prefixes, absolute paths", "/dav/Pelkora%20Mappings/",
         R"(<?xml version="1.0" encoding="utf-8"?>
<D:multistatus xmlns:D="DAV:" xmlns:ns0="DAV:">
<D:response xmlns:lp1="DAV:"><D:href>/dav/Pelkora%20Mappings/</D:href>
<D:propstat><D:prop><lp1:getetag>W/"1000-5f"</lp1:getetag>
<lp1:resourcetype><D:collection/></lp1:resourcetype></D:prop>
<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response xmlns:lp1="DAV:"><D:href>/dav/Pelkora%20Mappings/A%20%C3%BC.plist</D:href>
<D:propstat><D:prop><lp1:getetag>"6-5f"</lp1:getetag><lp1:resourcetype/></D:prop>
<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
</D:multistatus>)"},
        {"Nextcloud: d: prefix, getctag, unknown properties as 404",
         "/remote.php/dav/files/ada/Pelkora%20Mappings/",
         R"(<?xml version="1.0"?>
<d:multistatus xmlns:d="DAV:" xmlns:s="http://sabredav.org/ns" xmlns:cs="http://calendarserver.org/ns/">
<d:response><d:href>/remote.php/dav/files/ada/Pelkora%20Mappings</d:href>
<d:propstat><d:prop><d:getetag>"c0"</d:getetag><d:resourcetype><d:collection/></d:resourcetype>
<cs:getctag>ctag-7</cs:getctag></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>
<d:response><d:href>/remote.php/dav/files/ada/Pelkora%20Mappings/A%20ü.plist</d:href>
<d:propstat><d:prop><d:getetag>"6-5f"</d:getetag><d:resourcetype/></d:prop>
<d:status>HTTP/1.1 200 OK</d:status></d:propstat>
<d:propstat><d:prop><cs:getctag/></d:prop><d:status>HTTP/1.1 404 Not Found</d:status></d:propstat>
</d:response></d:multistatus>)"},
        {"default namespace, full URLs, a foreign element named response",
         "/dav/Pelkora%20Mappings/",
         R"(<multistatus xmlns="DAV:" xmlns:x="urn:other">
<response><href>https://h.example:8443/dav/Pelkora%20Mappings/</href>
<propstat><prop><resourcetype><collection/></resourcetype></prop>
<status>HTTP/1.1 200 OK</status></propstat></response>
<x:response><href>/dav/Pelkora%20Mappings/Stray.plist</href></x:response>
<response><href>https://h.example:8443/dav/Pelkora%20Mappings/A%20%c3%bc.plist</href>
<propstat><prop><getetag>"6-5f"</getetag><resourcetype/></prop>
<status>HTTP/1.1 200 OK</status></propstat></response>
</multistatus>)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        const auto listing = parseListing(c.xml, c.collectionPath);
        ASSERT_TRUE(listing);
        ASSERT_EQ(listing->members.size(), 1u);
        EXPECT_EQ(listing->members[0].name, "A ü.plist");
        EXPECT_EQ(listing->members[0].etag, "\"6-5f\"");
        EXPECT_FALSE(listing->members[0].isCollection);
    }
    EXPECT_EQ(parseListing(cases[1].xml, cases[1].collectionPath)->collectionTag, "ctag-7");
    EXPECT_FALSE(parseListing("<html><body>Login</body></html>", "/dav/"));
    EXPECT_FALSE(parseListing("not xml at all", "/dav/"));
}

TEST(WebDavListingTest, FingerprintsChangeWithMembersAndTagsOnly) {
    const CollectionListing listing{"ctag-1",
                                    {{"A.plist", "\"1\"", false}, {"B.plist", "\"2\"", false}}};
    const auto fingerprint = listingFingerprint(listing);
    CollectionListing reordered{"ctag-1", {listing.members[1], listing.members[0]}};
    reordered.members[0].etag = "W/\"2\"";
    EXPECT_EQ(listingFingerprint(reordered), fingerprint);

    auto changed = listing;
    changed.members[1].etag = "\"3\"";
    auto added = listing;
    added.members.push_back({"C.plist", "\"1\"", false});
    auto removed = listing;
    removed.members.pop_back();
    auto newCtag = listing;
    newCtag.collectionTag = "ctag-2";
    for (const auto& other : {changed, added, removed, newCtag}) {
        EXPECT_NE(listingFingerprint(other), fingerprint);
    }
}

TEST(WebDavListingTest, NamesArePercentEncodedBothWays) {
    EXPECT_EQ(percentEncode("Pelkora Mappings"), "Pelkora%20Mappings");
    EXPECT_EQ(percentEncode("a/b?c#ü.plist"), "a%2Fb%3Fc%23%C3%BC.plist");
    EXPECT_EQ(percentDecode("a%2Fb%3fc%23%C3%BC.plist"), "a/b?c#ü.plist");
    EXPECT_EQ(percentDecode("100%"), "100%");
    EXPECT_EQ(percentDecode("%zz%4"), "%zz%4");
    EXPECT_EQ(urlPath("https://h.example:8443/dav/x%20y/?q=1"), "/dav/x%20y/");
    EXPECT_EQ(urlPath("/dav/x#f"), "/dav/x");
    EXPECT_TRUE(sameETagVersion("W/\"6-5f\"", "\"6-5f\""));
    EXPECT_FALSE(sameETagVersion("", ""));
}

}  // namespace
}  // namespace pelkora
