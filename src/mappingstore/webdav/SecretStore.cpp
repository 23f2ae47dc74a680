#include "mappingstore/webdav/SecretStore.h"

#include <libsecret/secret.h>

#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

const SecretSchema* webDavSchema() {
    static const SecretSchema schema = {"org.pelkora.Pelkora.WebDAV",
                                        SECRET_SCHEMA_NONE,
                                        {
                                            {"url", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        },
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

// What could not be done with the password, for the failure's text.
enum class PasswordAction { stored, read, removed };

// The failure's text; one that comes from D-Bus or the transport means there is no Secret
// Service to talk to.
std::string failureText(GError* error, PasswordAction action) {
    const std::string detail =
        error && error->message ? error->message : localizedString("unknown error");
    const bool noService = error && (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR);
    if (error) g_error_free(error);
    if (noService) {
        switch (action) {
            case PasswordAction::stored:
                return formatMessage(
                    localizedString("No Secret Service (a keyring such as GNOME Keyring or "
                                    "KWallet) is running, so the WebDAV password could not be "
                                    "stored: %@"),
                    detail);
            case PasswordAction::read:
                return formatMessage(
                    localizedString("No Secret Service (a keyring such as GNOME Keyring or "
                                    "KWallet) is running, so the WebDAV password could not be "
                                    "read: %@"),
                    detail);
            case PasswordAction::removed:
                break;
        }
        return formatMessage(
            localizedString("No Secret Service (a keyring such as GNOME Keyring or KWallet) is "
                            "running, so the WebDAV password could not be removed: %@"),
            detail);
    }
    switch (action) {
        case PasswordAction::stored:
            return formatMessage(
                localizedString("The keyring failed, so the WebDAV password could not be stored: "
                                "%@"),
                detail);
        case PasswordAction::read:
            return formatMessage(
                localizedString("The keyring failed, so the WebDAV password could not be read: %@"),
                detail);
        case PasswordAction::removed:
            break;
    }
    return formatMessage(
        localizedString("The keyring failed, so the WebDAV password could not be removed: %@"),
        detail);
}

}  // namespace

Expected<void, std::string> storeWebDavPassword(std::string_view url, std::string_view user,
                                                std::string_view password) {
    const std::string urlText(url);
    const std::string userText(user);
    const std::string passwordText(password);
    const std::string label = "Pelkora WebDAV password for " + userText + " at " + urlText;
    GError* error = nullptr;
    const gboolean stored = secret_password_store_sync(
        webDavSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(), passwordText.c_str(), nullptr,
        &error, "url", urlText.c_str(), "user", userText.c_str(), nullptr);
    if (!stored || error) return Unexpected(failureText(error, PasswordAction::stored));
    return {};
}

Expected<std::optional<std::string>, std::string> lookupWebDavPassword(std::string_view url,
                                                                       std::string_view user) {
    const std::string urlText(url);
    const std::string userText(user);
    GError* error = nullptr;
    gchar* password = secret_password_lookup_sync(
        webDavSchema(), nullptr, &error, "url", urlText.c_str(), "user", userText.c_str(), nullptr);
    if (error) {
        secret_password_free(password);
        return Unexpected(failureText(error, PasswordAction::read));
    }
    if (!password) return std::optional<std::string>();
    std::optional<std::string> found(password);
    secret_password_free(password);
    return found;
}

Expected<void, std::string> clearWebDavPassword(std::string_view url, std::string_view user) {
    const std::string urlText(url);
    const std::string userText(user);
    GError* error = nullptr;
    secret_password_clear_sync(webDavSchema(), nullptr, &error, "url", urlText.c_str(), "user",
                               userText.c_str(), nullptr);
    if (error) return Unexpected(failureText(error, PasswordAction::removed));
    return {};
}

}  // namespace pelkora
