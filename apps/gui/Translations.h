#pragma once

// The windows in the desktop's language: every tr() text is looked up in the same
// gettext catalogues as the core's texts, and Qt's own texts (standard buttons,
// file dialogs) in Qt's translations.

#include <QString>
#include <cstdint>

class QCoreApplication;

namespace pelkora::gui {

// Installs both translators on the application; called once, before any window exists.
void installTranslations(QCoreApplication& application);

// The form of a counted text for `count` in the user's language, with its placeholders
// left for arg(): trn("%1 contact", "%1 contacts", n).arg(n).
QString trn(const char* one, const char* many, std::uint64_t count);

}  // namespace pelkora::gui
