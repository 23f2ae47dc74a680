#include "session/ContentViewController.h"

#include "session/AppDelegate.h"
#include "session/FieldMappingViewController.h"
#include "session/ImportViewController.h"
#include "session/SetTextEncodingViewController.h"
#include "session/SettingsKeys.h"

namespace pelkora {

std::string contentLayoutConstraint(char axis) {
    const int minimum = axis == 'H' ? kMinimumContentWidth : kMinimumContentHeight;
    return std::string(1, axis) + ":|[contentView(>=" + std::to_string(minimum) + ")]|";
}

ContentViewController::ContentViewController(std::string name) : name_(std::move(name)) {}

void ContentViewController::viewDidLoad(AppDelegate&) {}

void ContentViewController::viewWillDisappear(AppDelegate&) {}

void ContentViewController::continueAction(AppDelegate& session) {
    session.showNextViewController();
}

InitialViewController::InitialViewController()
    : ContentViewController(std::string(ViewControllerNames::InitialViewController)) {}

namespace {

// A page whose targets do not depend on the session.
class FixedTargetsPage final : public ContentViewController {
  public:
    FixedTargetsPage(std::string_view name, std::optional<std::string_view> previous,
                     std::optional<std::string_view> next)
        : ContentViewController(std::string(name)), previous_(previous), next_(next) {}

    void viewDidLoad(AppDelegate&) override {
        if (previous_) setPreviousViewControllerName(std::string(*previous_));
        if (next_) setNextViewControllerName(std::string(*next_));
    }

  private:
    std::optional<std::string_view> previous_;
    std::optional<std::string_view> next_;
};

}  // namespace

ViewControllerRegistry ViewControllerRegistry::standard() {
    namespace Names = ViewControllerNames;
    ViewControllerRegistry registry;
    auto fixed = [](std::string_view name, std::optional<std::string_view> previous = std::nullopt,
                    std::optional<std::string_view> next = std::nullopt) -> ViewControllerFactory {
        return [=] { return std::make_unique<FixedTargetsPage>(name, previous, next); };
    };
    registry.registerPage(std::string(Names::NoAccessViewController),
                          fixed(Names::NoAccessViewController));
    registry.registerPage(std::string(Names::RestrictedAccessViewController),
                          fixed(Names::RestrictedAccessViewController));
    registry.registerPage(std::string(Names::AuthStatusNotDeterminedViewController),
                          fixed(Names::AuthStatusNotDeterminedViewController));
    registry.registerPage(std::string(Names::InitialViewController),
                          [] { return std::make_unique<InitialViewController>(); });
    registry.registerPage(std::string(Names::SetTextEncodingViewController),
                          [] { return std::make_unique<SetTextEncodingViewController>(); });
    registry.registerPage(std::string(Names::FieldMappingViewController),
                          [] { return std::make_unique<FieldMappingViewController>(); });
    registry.registerPage(std::string(Names::ImportViewController),
                          [] { return std::make_unique<ImportViewController>(); });
    registry.registerPage(std::string(Names::VCFScanViewController),
                          fixed(Names::VCFScanViewController, Names::InitialViewController,
                                Names::ImportViewController));
    return registry;
}

void ViewControllerRegistry::registerPage(std::string name, ViewControllerFactory factory) {
    for (auto& [existing, existingFactory] : pages_) {
        if (existing == name) {
            existingFactory = std::move(factory);
            return;
        }
    }
    pages_.emplace_back(std::move(name), std::move(factory));
}

std::unique_ptr<ContentViewController> ViewControllerRegistry::instantiate(
    std::string_view name) const {
    for (const auto& [existing, factory] : pages_) {
        if (existing == name) return factory();
    }
    return nullptr;
}

bool ViewControllerRegistry::contains(std::string_view name) const {
    for (const auto& page : pages_) {
        if (page.first == name) return true;
    }
    return false;
}

std::vector<std::string> ViewControllerRegistry::names() const {
    std::vector<std::string> result;
    for (const auto& page : pages_) result.push_back(page.first);
    return result;
}

}  // namespace pelkora
