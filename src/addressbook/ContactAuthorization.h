#pragma once

// Whether the program may use the user's contacts. A local address book always
// allows it; a store behind an account or a sandbox may ask the user first.

#include <functional>

namespace pelkora {

enum class AuthorizationStatus { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

class ContactAuthorizationProvider {
  public:
    virtual ~ContactAuthorizationProvider() = default;
    // The current status, without asking the user.
    virtual AuthorizationStatus authorizationStatus() const = 0;
    // Asks for access; the completion may run on any thread with the outcome.
    virtual void requestAccess(std::function<void(bool granted)> completion) = 0;
};

// The provider of stores that need no permission: always authorized.
class AlwaysAuthorizedProvider final : public ContactAuthorizationProvider {
  public:
    AuthorizationStatus authorizationStatus() const override {
        return AuthorizationStatus::authorized;
    }
    void requestAccess(std::function<void(bool granted)> completion) override { completion(true); }
};

}  // namespace pelkora
