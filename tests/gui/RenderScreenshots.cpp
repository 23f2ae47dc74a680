// Renders every page and window of pelkora-gui at 1280×800, in a light and a dark palette,
// offscreen, to PNG files: scripts/screenshots runs it so the pictures can be reviewed.
// Usage: pelkora_gui_screenshots OUTPUT_FOLDER [LANGUAGE]
// With a language ("de"), the windows speak it and the files' names end in "-LANGUAGE".

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <functional>
#include <memory>

#include "AddStoreSheet.h"
#include "ApplicationIdentity.h"
#include "EncodingPageWidget.h"
#include "FieldMappingPageWidget.h"
#include "ImportPageWidget.h"
#include "ImportsWindow.h"
#include "MainWindow.h"
#include "MappingOptionsSheet.h"
#include "MappingsWindow.h"
#include "PreferencesWindow.h"
#include "ProgressSheet.h"
#include "QtMainQueue.h"
#include "StartPageWidget.h"
#include "Translations.h"
#include "addressbook/ContactAuthorization.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/ImportJournal.h"
#include "mapping/SavedMapping.h"
#include "mappingstore/MappingStore.h"
#include "platform/MainQueue.h"
#include "platform/Progress.h"
#include "platform/SettingsStore.h"
#include "support/Localization.h"

using namespace pelkora;
using namespace pelkora::gui;

namespace {

const QString kExamples = QStringLiteral(PELKORA_EXAMPLES_DIR);

bool waitFor(const std::function<bool()>& done) {
    QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(20);
    }
    QTest::qWait(100);  // let layouts and queued updates settle
    return true;
}

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x2b, 0x2d, 0x31), base(0x1e, 0x1f, 0x22), text(0xe6, 0xe6, 0xe6);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa4, 0xab));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3d, 0x42));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4d, 0x52));
    palette.setColor(QPalette::Midlight, QColor(0x40, 0x43, 0x48));
    palette.setColor(QPalette::Mid, QColor(0x6a, 0x6e, 0x75));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1b));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xd9));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x79, 0xc0, 0xff));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    return palette;
}

class Renderer {
  public:
    Renderer(QString folder, QString variant)
        : folder_(std::move(folder)), variant_(std::move(variant)) {}

    // The window, and a window-modal dialog drawn over it as a sheet at its top centre.
    void save(const QString& name, QWidget& window, QWidget* sheet = nullptr) {
        QImage picture = window.grab().toImage();
        if (sheet) {
            QPainter painter(&picture);
            painter.fillRect(picture.rect(), QColor(0, 0, 0, 60));
            const QPixmap dialog = sheet->grab();
            const int x = (picture.width() - dialog.width()) / 2;
            painter.setPen(QColor(0, 0, 0, 90));
            painter.drawRect(x - 1, 79, dialog.width() + 1, dialog.height() + 1);
            painter.drawPixmap(x, 80, dialog);
        }
        saveImage(name, picture);
    }

    void saveImage(const QString& name, const QImage& picture) {
        const QString file = QDir(folder_).filePath(name + "-" + variant_ + ".png");
        if (!picture.save(file)) std::fprintf(stderr, "could not write %s\n", qPrintable(file));
        std::printf("%s\n", qPrintable(file));
    }

  private:
    QString folder_;
    QString variant_;
};

// A store that has refused access, for the page shown instead of the start page.
class RefusingProvider final : public ContactAuthorizationProvider {
  public:
    AuthorizationStatus authorizationStatus() const override { return AuthorizationStatus::denied; }
    void requestAccess(std::function<void(bool)> completion) override { completion(false); }
};

int renderNoAccess(Renderer& renderer, const QTemporaryDir& home) {
    SettingsStore settings(std::filesystem::path(home.filePath("denied.plist").toStdString()));
    ImportSession session(settings, std::make_shared<RefusingProvider>());
    MainWindow window(session);
    window.resize(1280, 800);
    window.show();
    session.applicationDidFinishLaunching();
    if (!waitFor([&] {
            return window.currentPageWidget() &&
                   window.currentPageWidget()->objectName() == "NoAccessViewController";
        }))
        return 1;
    renderer.save("no-access", window);
    return 0;
}

// The user's own book and a second one, as the import page lists them.
class TwoBooks final : public StoreDirectory {
  public:
    TwoBooks(std::shared_ptr<contacts::ContactStore> own,
             std::shared_ptr<contacts::ContactStore> work)
        : own_(std::move(own)), work_(std::move(work)) {}
    std::vector<StoreChoice> choices() const override {
        return {{"", localizedString("Pelkora's own address book")}, {"work", "work (CardDAV)"}};
    }
    Expected<std::shared_ptr<contacts::ContactStore>, std::string> open(
        const std::string& key) override {
        return key.empty() ? own_ : work_;
    }

  private:
    std::shared_ptr<contacts::ContactStore> own_, work_;
};

int render(const QString& folder, const QString& variant) {
    QTemporaryDir home;
    SettingsStore settings(std::filesystem::path(home.filePath("settings.plist").toStdString()));
    ImportSession session(settings, std::make_shared<AlwaysAuthorizedProvider>());
    auto store = contacts::SqliteContactStore::open(
        std::filesystem::path(home.filePath("book.sqlite").toStdString()));
    auto work = contacts::SqliteContactStore::open(
        std::filesystem::path(home.filePath("work.sqlite").toStdString()));
    if (!store || !work) return 1;
    (void)(*work)->addContainer({"TEAM", "Team", contacts::ContainerType::cardDAV});
    session.setContactStore(std::shared_ptr<contacts::ContactStore>(std::move(*store)));
    session.setStoreDirectory(std::make_shared<TwoBooks>(
        session.contactStore(), std::shared_ptr<contacts::ContactStore>(std::move(*work))));
    session.setImportJournal(std::make_shared<ImportJournal>(
        std::filesystem::path(home.filePath("imports").toStdString())));
    MainWindow window(session);
    window.resize(1280, 800);
    window.show();
    session.applicationDidFinishLaunching();
    Renderer renderer(folder, variant);
    auto pageIs = [&](const char* name) {
        return window.currentPageWidget() && window.currentPageWidget()->objectName() == name;
    };
    if (!waitFor([&] { return pageIs("InitialViewController"); })) return 1;
    renderer.save("start", window);
    session.currentPage()->draggingEntered();
    if (auto* start = qobject_cast<StartPageWidget*>(window.currentPageWidget())) start->refresh();
    waitFor([] { return true; });
    renderer.save("start-file-hovering", window);
    session.currentPage()->draggingExited();
    if (auto* start = qobject_cast<StartPageWidget*>(window.currentPageWidget())) start->refresh();

    window.importFromFile();
    waitFor([&] { return window.openPanel() && window.openPanel()->isVisible(); });
    window.openPanel()->setDirectory(kExamples);
    waitFor([] { return true; });
    renderer.save("open-panel", window, window.openPanel());
    window.openPanel()->close();
    waitFor([&] { return !window.openPanel(); });

    // The progress sheet as a long text file's parse shows it.
    auto progress = Progress::make(12000);
    progress->setLocalizedDescription("Reading records…");
    progress->setLocalizedAdditionalDescription("Parsed record 4200 of 12000…");
    progress->setCompletedUnitCount(4200);
    window.currentProgressDidChange(progress);
    window.showProgressSheet();
    waitFor([&] { return window.progressSheet()->isVisible(); });
    renderer.save("progress", window, window.progressSheet());
    auto examining = Progress::make(0);
    examining->setLocalizedDescription("Examining text file…");
    examining->setLocalizedAdditionalDescription("Determining Character Encoding…");
    examining->setCancellable(false);
    window.currentProgressDidChange(examining);
    waitFor([] { return true; });
    renderer.save("progress-indeterminate", window, window.progressSheet());
    window.closeProgressSheet();
    window.currentProgressDidChange(nullptr);

    (void)session.openFiles({std::filesystem::path((kExamples + "/contacts.csv").toStdString())});
    if (!waitFor([&] {
            return pageIs("SetTextEncodingViewController") && !window.progressSheet()->isVisible();
        }))
        return 1;
    renderer.save("encoding", window);
    auto* encoding = qobject_cast<EncodingPageWidget*>(window.currentPageWidget());
    encoding->invisibleCharactersBox()->setChecked(true);
    waitFor([] { return true; });
    renderer.save("encoding-invisibles", window);
    encoding->invisibleCharactersBox()->setChecked(false);
    // A wrong choice: the status turns to the failure text.
    encoding->encodingPopUp()->setCurrentIndex(1);
    emit encoding->encodingPopUp()->activated(1);
    waitFor([] { return true; });
    renderer.save("encoding-mac-roman", window);
    encoding->encodingPopUp()->setCurrentIndex(0);
    emit encoding->encodingPopUp()->activated(0);
    waitFor([] { return true; });
    renderer.save("encoding-failed", window);

    session.startOver();
    (void)session.openFiles({std::filesystem::path((kExamples + "/contacts.xlsx").toStdString())});
    if (!waitFor([&] { return window.sheetChooser() && window.sheetChooser()->isVisible(); }))
        return 1;
    renderer.save("sheet-chooser", window, window.sheetChooser());
    // The People sheet, whose first record has a picture.
    window.sheetChooser()->sheetPopUp()->setCurrentIndex(1);
    window.sheetChooser()->chooseButton()->click();
    auto mappingPage = [&] {
        auto* page = qobject_cast<FieldMappingPageWidget*>(window.currentPageWidget());
        return page && page->continueButton()->isEnabled() ? page : nullptr;
    };
    if (!waitFor([&] { return mappingPage() != nullptr; })) return 1;
    renderer.save("field-mapping-picture", window);

    session.startOver();
    (void)session.openFiles({std::filesystem::path((kExamples + "/contacts.csv").toStdString())});
    if (!waitFor([&] {
            return pageIs("SetTextEncodingViewController") && !window.progressSheet()->isVisible();
        }))
        return 1;
    qobject_cast<EncodingPageWidget*>(window.currentPageWidget())->continueButton()->click();
    if (!waitFor([&] { return mappingPage() != nullptr; })) return 1;
    auto* mapping = mappingPage();
    mapping->nextRecordButton()->click();
    mapping->table()->selectRow(5);
    waitFor([] { return true; });
    renderer.save("field-mapping", window);
    mapping->headerBox()->click();
    waitFor([] { return true; });
    renderer.save("field-mapping-no-header", window);
    mapping->headerBox()->click();
    const QModelIndex label =
        mapping->table()->model()->index(5, static_cast<int>(FieldMappingColumn::label));
    mapping->table()->setCurrentIndex(label);
    mapping->table()->edit(label);
    if (auto* popUp = mapping->table()->viewport()->findChild<QComboBox*>()) {
        popUp->showPopup();
        waitFor([] { return true; });
        // The pop-up is a window of its own: drawn onto the picture where it opened.
        QImage picture = window.grab().toImage();
        QWidget* list = popUp->view()->window();
        QPainter painter(&picture);
        painter.drawPixmap(window.mapFromGlobal(list->mapToGlobal(QPoint(0, 0))), list->grab());
        painter.end();
        renderer.saveImage("field-mapping-label-menu", picture);
        popUp->hidePopup();
    }
    auto* options = new MappingOptionsSheet(session, mapping->page(), &window);
    options->open();
    waitFor([&] { return options->isVisible(); });
    renderer.save("mapping-options", window, options);
    options->reject();
    auto* saveSheet = new SaveMappingSheet(session, mapping->page(), &window);
    saveSheet->open();
    waitFor([&] { return saveSheet->isVisible(); });
    renderer.save("save-mapping", window, saveSheet);
    saveSheet->reject();

    // The import page in both modes, the running import and its outcome.
    mapping->continueButton()->click();
    auto importPage = [&] { return qobject_cast<ImportPageWidget*>(window.currentPageWidget()); };
    if (!waitFor([&] { return importPage() != nullptr; })) return 1;
    renderer.save("import", window);
    // The address books and their containers, as the open pop-up lists them.
    QComboBox* books = importPage()->containerPopUp();
    books->showPopup();
    waitFor([&] { return books->view()->isVisible(); });
    renderer.save("import-books", window, books->view()->window());
    books->hidePopup();
    importPage()->vCardsModeButton()->click();
    waitFor([] { return true; });
    renderer.save("import-vcard", window);
    importPage()->contactsModeButton()->click();
    auto importing = Progress::make(5000);
    importing->setLocalizedDescription("Importing records into the address book…");
    importing->setLocalizedAdditionalDescription("Processed record 1800 of 5000…");
    importing->setCompletedUnitCount(1800);
    window.currentProgressDidChange(importing);
    window.showProgressSheet();
    waitFor([&] { return window.progressSheet()->isVisible(); });
    renderer.save("import-progress", window, window.progressSheet());
    window.closeProgressSheet();
    window.currentProgressDidChange(nullptr);
    importPage()->startButton()->click();
    if (!waitFor([&] { return window.alertBox() && window.alertBox()->isVisible(); })) return 1;
    renderer.save("import-done", window, window.alertBox());
    window.alertBox()->buttons().front()->click();
    waitFor([&] { return !window.alertBox(); });
    renderer.save("import-result", window);

    // The recorded import, and the question before undoing it.
    ImportsWindow* imports = window.showImports();
    waitFor([&] { return imports->isVisible(); });
    renderer.save("imports", *imports);
    imports->undoButton()->click();
    if (!waitFor([&] { return imports->messageBox() && imports->messageBox()->isVisible(); }))
        return 1;
    renderer.save("imports-undo", *imports, imports->messageBox());
    imports->messageBox()->button(QMessageBox::Cancel)->click();
    imports->close();
    waitFor([] { return true; });

    session.startOver();
    (void)session.openFiles({std::filesystem::path((kExamples + "/contacts.vcf").toStdString())});
    if (!waitFor([&] {
            return pageIs("VCFScanViewController") && !window.progressSheet()->isVisible();
        }))
        return 1;
    waitFor([] { return true; });
    renderer.save("vcard-scan", window);

    session.startOver();
    QTemporaryDir files;
    QFile pdf(files.filePath("scan.pdf"));
    if (pdf.open(QIODevice::WriteOnly)) pdf.write("%PDF-1.4\n1 0 obj << >> endobj\n");
    pdf.close();
    (void)session.openFiles({std::filesystem::path(pdf.fileName().toStdString())});
    if (!waitFor([&] { return window.alertBox() && window.alertBox()->isVisible(); })) return 1;
    renderer.save("alert", window, window.alertBox());
    window.alertBox()->buttons().front()->click();
    waitFor([&] { return !window.alertBox(); });

    // The alert that names a second button and carries the failing part's words: a text file
    // that cannot be parsed.
    session.showAlert(Alert{
        .heading = "Could not parse text file",
        .text = "The file might be incorrectly formatted. This is often caused by a missing or "
                "redundant field delimiter or double quote in conjunction with a linebreak in a "
                "field. Additional information may be available in the runtime log.",
        .detail = "Unterminated quoted field in line 12.",
        .buttons = {"OK", "Open Runtime Log"},
        .completion = nullptr});
    waitFor([&] { return window.alertBox() && window.alertBox()->isVisible(); });
    renderer.save("alert-parse", window, window.alertBox());
    window.alertBox()->buttons().front()->click();
    waitFor([&] { return !window.alertBox(); });

    // The mappings window, empty, then with three mappings and the question before deleting.
    MappingsWindow* mappings = window.showMappings();
    mappings->resize(760, 420);
    waitFor([&] { return mappings->isVisible(); });
    renderer.save("mappings-empty", *mappings);
    const std::pair<const char*, MappingMode> saved[] = {{"Bank export", MappingMode::byPosition},
                                                         {"Club members", MappingMode::byName},
                                                         {"Shop customers", MappingMode::byName}};
    for (const auto& [title, mode] : saved) {
        SavedMapping made;
        made.title = title;
        made.mappingMode = mode;
        for (const char* column : {"Name", "Mobil", "E-Mail"}) {
            MappedContactProperty entry;
            entry.sourceFieldName = column;
            made.mappedContactProperties.push_back(entry);
        }
        (void)session.mappingStore().save(made);
    }
    mappings->table()->selectRow(1);
    waitFor([] { return true; });
    renderer.save("mappings", *mappings);
    mappings->confirmDelete();
    waitFor([&] { return mappings->messageBox() && mappings->messageBox()->isVisible(); });
    renderer.save("mappings-delete", *mappings, mappings->messageBox());
    mappings->messageBox()->reject();
    // The next variant starts from no mappings again.
    std::vector<std::string> uuids;
    for (const SavedMapping& made : session.mappingStore().mappings()) uuids.push_back(made.uuid);
    (void)session.mappingStore().remove(uuids);
    mappings->close();
    waitFor([] { return true; });

    // The preferences: the date formats with one of the user's, its sheet testing a date,
    // and the diagnostics.
    PreferencesWindow* preferences = window.showPreferences();
    waitFor([&] { return preferences->isVisible(); });
    renderer.save("preferences-general", *preferences);
    preferences->addStoreButton()->click();
    AddStoreSheet* addStore = preferences->addStoreSheet();
    addStore->kindPopUp()->setCurrentIndex(AddStoreSheet::cardDavKind);
    addStore->nameField()->setText(QStringLiteral("work"));
    addStore->urlField()->setText(QStringLiteral("https://cloud.example.org/remote.php/dav"));
    addStore->userField()->setText(QStringLiteral("ada"));
    waitFor([&] { return addStore->isVisible(); });
    renderer.save("preferences-add-address-book", *preferences, addStore);
    addStore->reject();
    preferences->tabs()->setCurrentIndex(1);
    preferences->addFormat();
    DateFormatSheet* sheet = preferences->formatSheet();
    sheet->localePopUp()->setCurrentIndex(sheet->localePopUp()->findData(QStringLiteral("de")));
    sheet->formatField()->setText(QStringLiteral("d. MMMM yyyy"));
    sheet->testField()->setText(QStringLiteral("24. Dezember 2026"));
    waitFor([] { return true; });
    renderer.save("preferences-date-format-sheet", *preferences, sheet);
    sheet->testField()->setText(QStringLiteral("Heiligabend"));
    waitFor([] { return true; });
    renderer.save("preferences-date-format-failed", *preferences, sheet);
    sheet->testField()->setText(QStringLiteral("24. Dezember 2026"));
    sheet->saveButton()->click();
    waitFor([] { return true; });
    renderer.save("preferences-date-formats", *preferences);
    preferences->dateFormatTable()->selectRow(0);
    preferences->removeFormat();
    preferences->tabs()->setCurrentIndex(2);
    waitFor([] { return true; });
    renderer.save("preferences-sync", *preferences);
    preferences->tabs()->setCurrentIndex(3);
    waitFor([] { return true; });
    renderer.save("preferences-diagnostics", *preferences);
    preferences->close();
    waitFor([] { return true; });

    QMessageBox* about = window.showAbout();
    waitFor([&] { return about->isVisible(); });
    renderer.save("about", window, about);
    about->close();
    waitFor([] { return true; });
    session.startOver();
    MainQueue::shared().drain();
    return renderNoAccess(renderer, home);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: pelkora_gui_screenshots OUTPUT_FOLDER [LANGUAGE]\n");
        return 2;
    }
    // English unless a language is asked for, whatever the desktop running this speaks.
    const QString language = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    // A desktop of that language (LANG=de_DE.UTF-8, its locale generated) is used as it is,
    // so that dates and numbers follow it too; else only the texts are switched.
    if (!language.isEmpty() && qEnvironmentVariable("LANG").startsWith(language + "_")) {
        qunsetenv("LC_ALL");
        qunsetenv("LANGUAGE");
    } else {
        qputenv("LC_ALL", "C.UTF-8");
        if (language.isEmpty())
            qunsetenv("LANGUAGE");
        else
            qputenv("LANGUAGE", language.toLocal8Bit());
    }
    QTemporaryDir home;
    for (const char* variable :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "HOME"})
        qputenv(variable, QFile::encodeName(home.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    setUpApplicationIdentity();
    installTranslations(application);
    installQtMainQueueDispatcher(&application);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const QPalette light = QApplication::style()->standardPalette();
    int status = 0;
    for (const auto& [variant, palette] : {std::pair{QStringLiteral("light"), light},
                                           std::pair{QStringLiteral("dark"), darkPalette()}}) {
        QApplication::setPalette(palette);
        status |= render(folder, language.isEmpty() ? variant : variant + "-" + language);
    }
    removeQtMainQueueDispatcher();
    return status;
}
