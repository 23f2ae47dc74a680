#pragma once

// The encoding page: the user checks the preview of a text file and may pick another
// encoding before the whole file is parsed.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/Page.h"
#include "text/EncodingList.h"
#include "text/TextEncoding.h"

namespace pelkora {

// How a view colours the status text.
enum class EncodingStatus { ok, notApplicable };

// How a view draws a stretch of the preview. Wrongly decoded characters stand out as
// nonASCII; with control characters shown, spaces, tabs and line breaks get visible glyphs.
enum class PreviewCharacterClass { ascii, nonASCII, space, tab, lineBreak };

struct PreviewRun {
    std::size_t offset = 0;  // in bytes of the UTF-8 preview text
    std::size_t length = 0;
    PreviewCharacterClass characterClass = PreviewCharacterClass::ascii;
    bool operator==(const PreviewRun&) const = default;
};

// Splits a preview into runs of one character class each.
std::vector<PreviewRun> classifyPreviewText(std::string_view text);

class SetTextEncodingPage final : public Page {
  public:
    SetTextEncodingPage();

    void viewDidLoad(ImportSession& session) override;
    // Starts parsing the whole file with the chosen encoding; the page changes when it ends.
    void continueAction(ImportSession& session) override;

    // Decodes the preview again with the chosen encoding.
    void chooseEncoding(ImportSession& session, const TextEncoding& encoding);
    void setDisplayControlCharacters(bool display) { displayControlCharacters_ = display; }

    const std::string& previewText() const { return previewText_; }
    std::vector<PreviewRun> previewRuns() const { return classifyPreviewText(previewText_); }
    const std::optional<TextEncoding>& selectedEncoding() const { return selectedEncoding_; }
    const std::string& statusText() const { return statusText_; }
    EncodingStatus status() const { return status_; }
    bool isContinueEnabled() const { return continueEnabled_; }
    bool displayControlCharacters() const { return displayControlCharacters_; }
    // The pop-up's items, built when the page loads.
    const std::vector<EncodingListItem>& encodingItems() const { return encodingItems_; }

  private:
    void showPreview(ImportSession& session, bool decoded);

    std::string previewText_;
    std::optional<TextEncoding> selectedEncoding_;
    std::string statusText_;
    EncodingStatus status_ = EncodingStatus::notApplicable;
    bool continueEnabled_ = false;
    bool displayControlCharacters_ = false;
    std::vector<EncodingListItem> encodingItems_;
};

}  // namespace pelkora
