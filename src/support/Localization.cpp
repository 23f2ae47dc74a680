#include "support/Localization.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace pelkora {

namespace {

std::string directoryBesideProgram() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    // bin/pelkora → share/locale
    const std::filesystem::path candidate =
        program.parent_path().parent_path() / PELKORA_INSTALL_DATADIR / "locale";
    // A build-tree program has no share/locale beside it, or one without our catalogues.
    for (std::filesystem::directory_iterator language(candidate, error), end;
         !error && language != end; language.increment(error)) {
        if (std::filesystem::exists(language->path() / "LC_MESSAGES" / "pelkora.mo", error))
            return candidate.string();
    }
    return {};
}

void bindCatalogues() {
    static std::once_flag once;
    std::call_once(once, [] {
        bindtextdomain(kTextDomain, catalogueDirectory().c_str());
        // Every text of ours is UTF-8, whatever the locale's character set.
        bind_textdomain_codeset(kTextDomain, "UTF-8");
    });
}

}  // namespace

std::string catalogueDirectory() {
    if (const char* override = std::getenv("PELKORA_LOCALE_DIR"); override && *override)
        return override;
    if (std::string beside = directoryBesideProgram(); !beside.empty()) return beside;
    return PELKORA_BUILD_LOCALEDIR;
}

std::string localizedString(std::string_view english, std::string_view comment) {
    (void)comment;
    if (english.empty()) return {};
    bindCatalogues();
    const std::string key(english);  // gettext needs the terminating NUL
    return dgettext(kTextDomain, key.c_str());
}

std::string localizedPlural(std::string_view singular, std::string_view plural,
                            std::uint64_t count) {
    bindCatalogues();
    const std::string one(singular);
    const std::string many(plural);
    return dngettext(kTextDomain, one.c_str(), many.c_str(), static_cast<unsigned long>(count));
}

void adoptUserLanguage() {
    std::setlocale(LC_MESSAGES, "");
    bindCatalogues();
}

std::string catalogueLanguage() {
    bindCatalogues();
    // Every catalogue translates its own header's language name.
    const std::string header = dgettext(kTextDomain, "");
    constexpr std::string_view key = "Language: ";
    const auto at = header.find(key);
    if (at == std::string::npos) return {};
    const auto end = header.find('\n', at);
    return header.substr(at + key.size(), end == std::string::npos ? end : end - at - key.size());
}

}  // namespace pelkora
