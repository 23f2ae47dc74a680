// The window in German, as a user whose desktop speaks German sees it: a German contact file
// walked from the start page through the encoding and field-mapping pages to the import and its
// outcome. Every text a page shows (labels, buttons, pop-up items, the mapping table's fields
// and labels, menus, accessible names) must be German: a text that the catalogue translates but
// that shows in English, or a text with English words in it, fails with the text named.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>
#include <fstream>
#include <memory>

#include "EncodingPageWidget.h"
#include "FieldMappingPageWidget.h"
#include "ImportPageWidget.h"
#include "MainWindow.h"
#include "QtMainQueue.h"
#include "StartPageWidget.h"
#include "Translations.h"
#include "addressbook/ContactAuthorization.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/FieldMappingPage.h"
#include "session/ImportSession.h"
#include "support/Localization.h"

using namespace pelkora;
using namespace pelkora::gui;

namespace {

constexpr int kTimeout = 20000;

QString pageShown(const MainWindow& window) {
    return window.currentPageWidget() ? window.currentPageWidget()->objectName() : QString();
}

// Words that only English has; German texts that borrow one ("Import", "Mapping") are
// not listed.
// Words inside a technical name ("Adobe-Standard-Encoding") do not count.
const QRegularExpression kEnglishWords(QStringLiteral(
    "(?<![-\\w])(the|and|of|to|with|from|into|your|this|that|Choose|Continue|Back|Cancel|Open|File|"
    "Edit|Help|Window|Quit|Save|Undo|Contacts?|contacts?|Column|Field|Preview|Record|Encoding|"
    "Settings|Ignore|None|Value|First|Last|Phone|Email|Address|Home|Work|Other|Label|"
    "Title|Group|Duplicates?|Show|Hide|Add|Remove|Please|could|not|cannot)(?![-\\w])"));

struct Finding {
    QString where;
    QString text;
};

class TextCollector {
  public:
    // The texts the widget and its visible children show.
    void collect(QWidget* root, const QString& where) {
        visit(root, where);
        for (QWidget* child : root->findChildren<QWidget*>()) {
            if (child->isVisibleTo(root)) visit(child, where);
        }
    }

    void collectMenus(QMenuBar* bar) {
        for (QAction* action : bar->actions()) collectAction(action, QStringLiteral("menu"));
    }

    void add(const QString& where, const QString& text) {
        QString plain = text;
        if (Qt::mightBeRichText(plain))
            plain = QTextDocumentFragment::fromHtml(plain).toPlainText();
        plain.remove(QRegularExpression(QStringLiteral("&(?=\\S)")));  // accelerators
        plain = plain.trimmed();
        if (!plain.isEmpty()) texts_.push_back({where, plain});
    }

    // A shown text is wrong when the catalogue has a German text for it, or when it has
    // English words.
    QStringList untranslated() const {
        QStringList findings;
        for (const Finding& found : texts_) {
            const std::string text = found.text.toStdString();
            if (localizedString(text) != text) {
                findings
                    << QStringLiteral("%1: “%2” is shown in English").arg(found.where, found.text);
                continue;
            }
            const auto match = kEnglishWords.match(found.text);
            if (match.hasMatch())
                findings << QStringLiteral("%1: “%2” has the English word “%3”")
                                .arg(found.where, found.text, match.captured());
        }
        findings.removeDuplicates();
        return findings;
    }

    int count() const { return static_cast<int>(texts_.size()); }

  private:
    void visit(QWidget* widget, const QString& where) {
        add(where, widget->accessibleName());
        add(where, widget->toolTip());
        if (auto* label = qobject_cast<QLabel*>(widget)) add(where, label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) add(where, button->text());
        if (auto* box = qobject_cast<QGroupBox*>(widget)) add(where, box->title());
        if (auto* field = qobject_cast<QLineEdit*>(widget)) add(where, field->placeholderText());
        if (auto* popUp = qobject_cast<QComboBox*>(widget)) {
            for (int index = 0; index < popUp->count(); ++index) add(where, popUp->itemText(index));
        }
        if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
            for (int index = 0; index < tabs->count(); ++index) add(where, tabs->tabText(index));
        }
        if (auto* header = qobject_cast<QHeaderView*>(widget); header && header->model()) {
            for (int section = 0; section < header->count(); ++section)
                add(where, header->model()->headerData(section, header->orientation()).toString());
        }
        for (QAction* action : widget->actions()) collectAction(action, where);
    }

    void collectAction(QAction* action, const QString& where) {
        if (action->isSeparator() || !action->isVisible()) return;
        add(where, action->text());
        if (action->menu()) {
            add(where, action->menu()->title());
            for (QAction* item : action->menu()->actions()) collectAction(item, where);
        }
    }

    std::vector<Finding> texts_;
};

}  // namespace

class GermanWindowTest final : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY2(catalogueLanguage() == "de",
                 qPrintable(QStringLiteral("no German catalogue in %1")
                                .arg(QString::fromStdString(catalogueDirectory()))));
        const std::filesystem::path root = folder_.path().toStdString();
        // A German export: its titles map to German field names, its values need no
        // translation.
        std::ofstream(root / "kontakte.csv")
            << "Vorname;Nachname;Firma;Telefon privat;E-Mail;Geburtstag;Straße;PLZ;Ort\n"
               "Anna;Müller;Bäckerei Müller;030 1234567;anna@example.de;12.03.1980;"
               "Hauptstraße 5;10115;Berlin\n"
               "Jürgen;Groß;;0171 2345678;juergen@example.de;01.07.1975;Am Markt 1;80331;"
               "München\n";
        settings_ = std::make_unique<SettingsStore>(root / "settings.plist");
        session_ = std::make_unique<ImportSession>(*settings_,
                                                   std::make_shared<AlwaysAuthorizedProvider>());
        auto opened = contacts::SqliteContactStore::open(root / "book.sqlite");
        QVERIFY(opened);
        store_ = std::move(*opened);
        session_->setContactStore(store_);
        window_ = std::make_unique<MainWindow>(*session_);
        window_->show();
        session_->applicationDidFinishLaunching();
    }

    void cleanupTestCase() {
        session_->startOver();
        window_.reset();
        session_.reset();
        MainQueue::shared().drain();
        store_.reset();
        settings_.reset();
    }

    void theMainFlowIsGermanThroughout() {
        TextCollector texts;
        QTRY_COMPARE(pageShown(*window_), QStringLiteral("InitialViewController"));
        texts.collect(window_->currentPageWidget(), QStringLiteral("start page"));
        texts.collectMenus(window_->menuBar());
        texts.add(QStringLiteral("window title"), window_->windowTitle());

        const std::filesystem::path file =
            std::filesystem::path(folder_.path().toStdString()) / "kontakte.csv";
        (void)session_->openFiles({file});
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_),
                                  QStringLiteral("SetTextEncodingViewController"), kTimeout);
        auto* encoding = qobject_cast<EncodingPageWidget*>(window_->currentPageWidget());
        QVERIFY(encoding);
        QTRY_VERIFY_WITH_TIMEOUT(encoding->continueButton()->isEnabled(), kTimeout);
        texts.collect(encoding, QStringLiteral("encoding page"));
        texts.add(QStringLiteral("encoding page title"), window_->windowTitle());

        QTest::mouseClick(encoding->continueButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("FieldMappingViewController"),
                                  kTimeout);
        auto* mapping = qobject_cast<FieldMappingPageWidget*>(window_->currentPageWidget());
        QVERIFY(mapping);
        QTRY_VERIFY_WITH_TIMEOUT(!mapping->page().isMapping(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(mapping->continueButton()->isEnabled(), kTimeout);
        texts.collect(mapping, QStringLiteral("mapping page"));
        texts.add(QStringLiteral("mapping page title"), window_->windowTitle());
        // The table's fields, labels and states; the first columns are the file's own.
        QAbstractItemModel* model = mapping->table()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            for (auto column : {FieldMappingColumn::target, FieldMappingColumn::label,
                                FieldMappingColumn::status}) {
                texts.add(QStringLiteral("mapping table"),
                          model->index(row, static_cast<int>(column)).data().toString());
            }
        }
        // German titles map to German field names.
        QCOMPARE(model->index(0, static_cast<int>(FieldMappingColumn::target)).data().toString(),
                 QStringLiteral("Vorname"));

        QTest::mouseClick(mapping->continueButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("ImportViewController"),
                                  kTimeout);
        auto* import = qobject_cast<ImportPageWidget*>(window_->currentPageWidget());
        QVERIFY(import);
        texts.collect(import, QStringLiteral("import page"));
        texts.add(QStringLiteral("import page title"), window_->windowTitle());

        QTest::mouseClick(import->startButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window_->alertBox() && window_->alertBox()->isVisible(), kTimeout);
        texts.collect(window_->alertBox(), QStringLiteral("outcome alert"));
        texts.add(QStringLiteral("outcome alert"), window_->alertBox()->text());
        window_->alertBox()->buttons().front()->click();
        QTRY_VERIFY(import->resultLabel()->isVisible());
        texts.collect(import, QStringLiteral("import page after importing"));
        // The count in its German plural.
        QVERIFY2(import->resultLabel()->text().contains(QStringLiteral("2 von 2 Kontakten")),
                 qPrintable(import->resultLabel()->text()));

        QVERIFY(texts.count() > 100);
        const QStringList findings = texts.untranslated();
        QVERIFY2(findings.isEmpty(), qPrintable(findings.join('\n')));
    }

    void pluralFormsFollowTheCount() {
        QCOMPARE(trn("%1 new contact", "%1 new contacts", 1).arg(1),
                 QStringLiteral("1 neuer Kontakt"));
        QCOMPARE(trn("%1 new contact", "%1 new contacts", 2).arg(2),
                 QStringLiteral("2 neue Kontakte"));
        QCOMPARE(
            QString::fromStdString(localizedPlural("%@ contact found", "%@ contacts found", 0)),
            QString::fromStdString(localizedPlural("%@ contact found", "%@ contacts found", 2)));
    }

  private:
    QTemporaryDir folder_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<ImportSession> session_;
    std::shared_ptr<contacts::SqliteContactStore> store_;
    std::unique_ptr<MainWindow> window_;
};

int main(int argc, char* argv[]) {
    QTemporaryDir home;
    for (const char* variable :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "HOME"})
        qputenv(variable, QFile::encodeName(home.path()));
    // A German desktop: LANGUAGE is read whenever the locale is not plain C, and C.UTF-8 is
    // on every machine, where de_DE.UTF-8 may not be generated.
    qputenv("LC_ALL", "C.UTF-8");
    qputenv("LANGUAGE", "de");
    qputenv("PELKORA_LOCALE_DIR", PELKORA_BUILD_LOCALEDIR);
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("pelkora-test"));
    installTranslations(application);
    installQtMainQueueDispatcher(&application);
    GermanWindowTest tests;
    const int status = QTest::qExec(&tests, argc, argv);
    removeQtMainQueueDispatcher();
    return status;
}

#include "GermanWindowTest.moc"
