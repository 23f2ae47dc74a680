#pragma once

// The windows in the desktop's language: every tr() text is looked up in the same
// gettext catalogues as the core's texts, and Qt's own texts (standard buttons,
// file dialogs) in Qt's translations.

class QCoreApplication;

namespace pelkora::gui {

// Installs both translators on the application; called once, before any window exists.
void installTranslations(QCoreApplication& application);

}  // namespace pelkora::gui
