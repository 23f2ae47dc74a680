#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "mappingstore/webdav/SecretStore.h"

// GLib hands D-Bus messages to its worker thread with synchronisation that ThreadSanitizer does
// not see (GLib is not built with it), so the string functions GLib calls there look racy.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "called_from_lib:libsecret-1.so.0\n";
}

namespace pelkora {
namespace {

// What secret-tool, another Secret Service client, prints for a command.
std::string secretTool(const std::string& arguments) {
    std::string output;
    if (FILE* pipe = popen(("secret-tool " + arguments + " 2>&1").c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        pclose(pipe);
    }
    return output;
}

// Runs only in the private keyring that secret-store-test.sh starts.
TEST(SecretStoreTest, PasswordsAreStoredFoundReplacedAndCleared) {
    if (!std::getenv("PELKORA_TEST_KEYRING")) {
        GTEST_SKIP() << "needs the private keyring of secret-store-test.sh";
    }
    const std::string cloud = "https://cloud.example.org/remote.php/dav/files/ada/";
    const std::string other = "https://127.0.0.1:8443/dav/";

    ASSERT_TRUE(storeWebDavPassword(cloud, "ada", "secret1"));
    ASSERT_TRUE(storeWebDavPassword(other, "ada", "elsewhere"));
    auto found = lookupWebDavPassword(cloud, "ada");
    ASSERT_TRUE(found) << found.error();
    EXPECT_EQ(*found, "secret1");
    EXPECT_EQ(*lookupWebDavPassword(other, "ada"), "elsewhere");
    EXPECT_EQ(*lookupWebDavPassword(cloud, "bob"), std::nullopt);

    // Other programs find it by the same attributes, under the schema and label promised.
    EXPECT_EQ(secretTool("lookup url '" + cloud + "' user ada"), "secret1");
    const auto listed = secretTool("search --all url '" + cloud + "' user ada");
    EXPECT_NE(listed.find("label = Pelkora WebDAV password for ada at " + cloud), std::string::npos)
        << listed;
    EXPECT_NE(listed.find("schema = org.pelkora.Pelkora.WebDAV"), std::string::npos) << listed;

    ASSERT_TRUE(storeWebDavPassword(cloud, "ada", "secret3"));
    EXPECT_EQ(*lookupWebDavPassword(cloud, "ada"), "secret3");

    ASSERT_TRUE(clearWebDavPassword(cloud, "ada"));
    EXPECT_EQ(*lookupWebDavPassword(cloud, "ada"), std::nullopt);
    EXPECT_EQ(*lookupWebDavPassword(other, "ada"), "elsewhere");
    EXPECT_TRUE(clearWebDavPassword(cloud, "ada"));
}

TEST(SecretStoreTest, WithoutASecretServiceTheErrorSaysSo) {
    if (std::getenv("PELKORA_TEST_KEYRING")) {
        GTEST_SKIP() << "a keyring is running";
    }
    test::TemporaryDirectory folder;
    const test::ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS",
                                      "unix:path=" + (folder / "no-bus").string());
    const auto stored = storeWebDavPassword("https://h/dav/", "ada", "secret1");
    ASSERT_FALSE(stored);
    EXPECT_NE(stored.error().find("No Secret Service"), std::string::npos) << stored.error();
    EXPECT_NE(stored.error().find("could not be stored"), std::string::npos) << stored.error();
    const auto looked = lookupWebDavPassword("https://h/dav/", "ada");
    ASSERT_FALSE(looked);
    EXPECT_NE(looked.error().find("No Secret Service"), std::string::npos) << looked.error();
}

}  // namespace
}  // namespace pelkora
