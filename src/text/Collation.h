#pragma once

// Sorting texts for people: the order of the user's locale (ICU collation), so that "Élan"
// sorts beside "Elan" and lowercase titles beside capitalised ones.

#include <memory>
#include <string_view>

namespace pelkora {

// Compares UTF-8 texts in the user's locale's order; a strict weak order, usable with
// std::sort. The POSIX locale, whose collation is byte order, sorts as the root locale does.
// Texts the collator cannot tell apart, or all texts when no collator could be built, are
// compared bytewise. Building one is costly: keep it for a whole sort. Not safe to share
// between threads.
class LocalizedCollator {
  public:
    LocalizedCollator();
    ~LocalizedCollator();
    LocalizedCollator(const LocalizedCollator&) = delete;
    LocalizedCollator& operator=(const LocalizedCollator&) = delete;

    // Whether `left` sorts before `right`.
    bool operator()(std::string_view left, std::string_view right) const;

  private:
    struct Implementation;
    std::unique_ptr<Implementation> implementation_;
};

}  // namespace pelkora
