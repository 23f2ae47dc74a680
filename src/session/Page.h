#pragma once

// The wizard's pages as front-end-agnostic models. A page knows its registry
// name and where back and continue lead; a front end draws it and forwards the
// user's actions. Pages are built by name from the registry, so going back builds a
// new instance: what must survive belongs to the session.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora {

class ImportSession;

// The smallest size of the content area a front end gives a page, in points.
inline constexpr int kMinimumContentWidth = 1024;
inline constexpr int kMinimumContentHeight = 645;

// The layout constraint of one axis ('H' or 'V'): "H:|[contentView(>=1024)]|".
std::string contentLayoutConstraint(char axis);

class Page {
  public:
    explicit Page(std::string name);
    virtual ~Page() = default;
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    // The registry name the page was built from.
    const std::string& name() const { return name_; }

    // The page the back button shows; absent when there is no way back.
    const std::optional<std::string>& previousPageName() const { return previous_; }
    void setPreviousPageName(std::optional<std::string> name) { previous_ = std::move(name); }
    // The page the continue button shows; absent when continue does something else or nothing.
    const std::optional<std::string>& nextPageName() const { return next_; }
    void setNextPageName(std::optional<std::string> name) { next_ = std::move(name); }

    // Called once when the page has become the session's current page; pages set
    // their back and continue targets here.
    virtual void viewDidLoad(ImportSession& session);
    // Called before another page replaces this one, and when the program ends while it shows.
    virtual void viewWillDisappear(ImportSession& session);
    // The continue button: shows nextPageName unless a page does more.
    virtual void continueAction(ImportSession& session);

    // Feedback while files are dragged over the window (the start page highlights its drop target).
    virtual void draggingEntered() {}
    virtual void draggingExited() {}
    virtual void draggingEnded() {}

  private:
    std::string name_;
    std::optional<std::string> previous_;
    std::optional<std::string> next_;
};

// The start page: an import button and a drop target that lights up while files hover.
class InitialPage final : public Page {
  public:
    InitialPage();
    bool isDropTargetHighlighted() const { return highlighted_; }
    void draggingEntered() override { highlighted_ = true; }
    void draggingExited() override { highlighted_ = false; }
    void draggingEnded() override { highlighted_ = false; }

  private:
    bool highlighted_ = false;
};

using PageFactory = std::function<std::unique_ptr<Page>()>;

// Page names and how each page is built.
class PageRegistry {
  public:
    // The registry with the eight pages of the wizard.
    static PageRegistry standard();

    // Adds or replaces the page built for a name.
    void registerPage(std::string name, PageFactory factory);
    // A new page for a registered name; null for a name outside the registry.
    std::unique_ptr<Page> instantiate(std::string_view name) const;
    bool contains(std::string_view name) const;
    // The registered names in registration order.
    std::vector<std::string> names() const;

  private:
    std::vector<std::pair<std::string, PageFactory>> pages_;
};

}  // namespace pelkora
