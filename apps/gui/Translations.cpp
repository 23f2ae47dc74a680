#include "Translations.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "support/Localization.h"

namespace pelkora::gui {

namespace {

// Answers Qt's lookups from the gettext catalogues, whose keys are the English texts
// whatever class asks: one text is translated once for the whole program.
class GettextTranslator final : public QTranslator {
  public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        (void)context;
        (void)disambiguation;
        (void)n;
        if (sourceText == nullptr || *sourceText == '\0') return {};
        const std::string translated = localizedString(sourceText);
        // An empty answer tells Qt to keep the source text.
        if (translated == sourceText) return {};
        return QString::fromStdString(translated);
    }

    bool isEmpty() const override { return false; }
};

}  // namespace

QString trn(const char* one, const char* many, std::uint64_t count) {
    return QString::fromStdString(localizedPlural(one, many, count));
}

void installTranslations(QCoreApplication& application) {
    adoptUserLanguage();
    auto* own = new GettextTranslator(&application);
    QCoreApplication::installTranslator(own);

    // Qt's own texts in the language our catalogues answer in, so that a window is not
    // half translated where we have no catalogue for the desktop's language.
    const std::string language = catalogueLanguage();
    if (language.empty()) return;
    auto* qt = new QTranslator(&application);
    if (qt->load(QLocale(QString::fromStdString(language)), QStringLiteral("qtbase"),
                 QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    // Right-to-left languages lay the windows out mirrored.
    QApplication::setLayoutDirection(QLocale(QString::fromStdString(language)).textDirection());
}

}  // namespace pelkora::gui
