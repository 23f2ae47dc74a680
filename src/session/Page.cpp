#include "session/Page.h"

#include "session/FieldMappingPage.h"
#include "session/ImportPage.h"
#include "session/ImportSession.h"
#include "session/SetTextEncodingPage.h"
#include "session/SettingsKeys.h"
#include "session/VCFScanPage.h"

namespace pelkora {

std::string contentLayoutConstraint(char axis) {
    const int minimum = axis == 'H' ? kMinimumContentWidth : kMinimumContentHeight;
    return std::string(1, axis) + ":|[contentView(>=" + std::to_string(minimum) + ")]|";
}

Page::Page(std::string name) : name_(std::move(name)) {}

void Page::viewDidLoad(ImportSession&) {}

void Page::viewWillDisappear(ImportSession&) {}

void Page::continueAction(ImportSession& session) {
    session.showNextPage();
}

InitialPage::InitialPage() : Page(std::string(PageNames::InitialPage)) {}

namespace {

// A page whose targets do not depend on the session.
class FixedTargetsPage final : public Page {
  public:
    FixedTargetsPage(std::string_view name, std::optional<std::string_view> previous,
                     std::optional<std::string_view> next)
        : Page(std::string(name)), previous_(previous), next_(next) {}

    void viewDidLoad(ImportSession&) override {
        if (previous_) setPreviousPageName(std::string(*previous_));
        if (next_) setNextPageName(std::string(*next_));
    }

  private:
    std::optional<std::string_view> previous_;
    std::optional<std::string_view> next_;
};

}  // namespace

PageRegistry PageRegistry::standard() {
    namespace Names = PageNames;
    PageRegistry registry;
    auto fixed = [](std::string_view name, std::optional<std::string_view> previous = std::nullopt,
                    std::optional<std::string_view> next = std::nullopt) -> PageFactory {
        return [=] { return std::make_unique<FixedTargetsPage>(name, previous, next); };
    };
    registry.registerPage(std::string(Names::NoAccessPage), fixed(Names::NoAccessPage));
    registry.registerPage(std::string(Names::RestrictedAccessPage),
                          fixed(Names::RestrictedAccessPage));
    registry.registerPage(std::string(Names::AuthStatusNotDeterminedPage),
                          fixed(Names::AuthStatusNotDeterminedPage));
    registry.registerPage(std::string(Names::InitialPage),
                          [] { return std::make_unique<InitialPage>(); });
    registry.registerPage(std::string(Names::SetTextEncodingPage),
                          [] { return std::make_unique<SetTextEncodingPage>(); });
    registry.registerPage(std::string(Names::FieldMappingPage),
                          [] { return std::make_unique<FieldMappingPage>(); });
    registry.registerPage(std::string(Names::ImportPage),
                          [] { return std::make_unique<ImportPage>(); });
    registry.registerPage(std::string(Names::VCFScanPage),
                          [] { return std::make_unique<VCFScanPage>(); });
    return registry;
}

void PageRegistry::registerPage(std::string name, PageFactory factory) {
    for (auto& [existing, existingFactory] : pages_) {
        if (existing == name) {
            existingFactory = std::move(factory);
            return;
        }
    }
    pages_.emplace_back(std::move(name), std::move(factory));
}

std::unique_ptr<Page> PageRegistry::instantiate(std::string_view name) const {
    for (const auto& [existing, factory] : pages_) {
        if (existing == name) return factory();
    }
    return nullptr;
}

bool PageRegistry::contains(std::string_view name) const {
    for (const auto& page : pages_) {
        if (page.first == name) return true;
    }
    return false;
}

std::vector<std::string> PageRegistry::names() const {
    std::vector<std::string> result;
    for (const auto& page : pages_) result.push_back(page.first);
    return result;
}

}  // namespace pelkora
