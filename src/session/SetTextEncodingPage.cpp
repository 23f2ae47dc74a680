#include "session/SetTextEncodingPage.h"

#include "input/TextReader.h"
#include "session/ImportSession.h"
#include "session/SettingsKeys.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

PreviewCharacterClass classOf(std::string_view text, std::size_t offset, std::size_t& length) {
    const auto lead = static_cast<unsigned char>(text[offset]);
    length = 1;
    if (lead == ' ') return PreviewCharacterClass::space;
    if (lead == '\t') return PreviewCharacterClass::tab;
    if (lead >= 0x0A && lead <= 0x0D) return PreviewCharacterClass::lineBreak;
    if (lead >= 0x20 && lead < 0x7F) return PreviewCharacterClass::ascii;
    if (lead >= 0xC0) {
        length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        length = std::min(length, text.size() - offset);
        // U+0085, U+2028 and U+2029 break lines too.
        const std::string_view character = text.substr(offset, length);
        if (character == "\xC2\x85" || character == "\xE2\x80\xA8" || character == "\xE2\x80\xA9") {
            return PreviewCharacterClass::lineBreak;
        }
    }
    return PreviewCharacterClass::nonASCII;
}

}  // namespace

std::vector<PreviewRun> classifyPreviewText(std::string_view text) {
    std::vector<PreviewRun> runs;
    std::size_t offset = 0;
    while (offset < text.size()) {
        std::size_t length = 0;
        const auto characterClass = classOf(text, offset, length);
        if (!runs.empty() && runs.back().characterClass == characterClass &&
            runs.back().offset + runs.back().length == offset) {
            runs.back().length += length;
        } else {
            runs.push_back({offset, length, characterClass});
        }
        offset += length;
    }
    return runs;
}

SetTextEncodingPage::SetTextEncodingPage() : Page(std::string(PageNames::SetTextEncodingPage)) {}

void SetTextEncodingPage::viewDidLoad(ImportSession& session) {
    setPreviousPageName(std::string(PageNames::InitialPage));
    setNextPageName(std::string(PageNames::FieldMappingPage));
    encodingItems_ = encodingPopUpItems();
    const auto& reader = session.textReader();
    showPreview(session, reader && reader->detectedContent().has_value());
}

void SetTextEncodingPage::showPreview(ImportSession& session, bool decoded) {
    const auto& reader = session.textReader();
    if (!reader || !reader->detectedContent()) {
        previewText_.clear();
        selectedEncoding_ = reader ? std::optional(reader->stringEncoding()) : std::nullopt;
        statusText_ = localizedString("The file's content could not be read.");
        status_ = EncodingStatus::notApplicable;
        continueEnabled_ = false;
        return;
    }
    previewText_ = *reader->detectedContent();
    selectedEncoding_ = reader->stringEncoding();
    if (decoded && reader->strayByteSequencesInHead() > 0) {
        // UTF-8 but for a few bytes: say how many, and that they are kept as "�".
        statusText_ = formatMessage(
            localizedString("The file is UTF-8. Byte sequences that are not valid UTF-8: %1$lu; "
                            "each reads as “�” and is listed with its row. Please check that "
                            "special characters look correct."),
            reader->strayByteSequencesInHead());
        status_ = EncodingStatus::ok;
        continueEnabled_ = true;
    } else if (decoded) {
        statusText_ = localizedString(
            "Please check that the chosen encoding makes special characters look correct.");
        status_ = EncodingStatus::ok;
        continueEnabled_ = true;
    } else {
        statusText_ = localizedString(
            "The file’s content could not be interpreted using this encoding. Please choose "
            "another.");
        status_ = EncodingStatus::notApplicable;
        continueEnabled_ = false;
    }
}

void SetTextEncodingPage::chooseEncoding(ImportSession& session, const TextEncoding& encoding) {
    const auto& reader = session.textReader();
    if (!reader) return;
    const bool decoded = reader->reparse(encoding);
    showPreview(session, decoded);
    if (!decoded) session.beep();
}

void SetTextEncodingPage::continueAction(ImportSession& session) {
    if (continueEnabled_) session.parseTextFile();
}

}  // namespace pelkora
