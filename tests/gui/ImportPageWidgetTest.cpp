// The last pages of the window driven as a user drives them: the import page in both modes
// with its options, the vCard export's save panel, the vCard scan page, and the outcome, with
// a real address book file behind the session (offscreen platform).

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <fstream>
#include <memory>
#include <sstream>

#include "EncodingPageWidget.h"
#include "FieldMappingPageWidget.h"
#include "GuiTestMain.h"
#include "ImportPageWidget.h"
#include "ImportsWindow.h"
#include "MainWindow.h"
#include "ProgressSheet.h"
#include "QtMainQueue.h"
#include "VCardScanPageWidget.h"
#include "addressbook/ContactAuthorization.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/ImportJournal.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/ImportSession.h"

using namespace pelkora;
using namespace pelkora::gui;

namespace {

constexpr int kTimeout = 20000;  // ms
const std::filesystem::path kExamples = PELKORA_EXAMPLES_DIR;

QString pageShown(const MainWindow& window) {
    return window.currentPageWidget() ? window.currentPageWidget()->objectName() : QString();
}

}  // namespace

class ImportPageWidgetTest final : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        const std::filesystem::path root = folder_->path().toStdString();
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
        QTRY_COMPARE(pageShown(*window_), QStringLiteral("InitialViewController"));
    }

    void cleanup() {
        session_->startOver();
        window_.reset();
        session_.reset();
        MainQueue::shared().drain();
        store_.reset();
        settings_.reset();
        folder_.reset();
    }

    void exportsOneVCardFileThroughTheSavePanelThenImportsWithTheChosenOptions() {
        ImportPageWidget* page = openImportPageOfTextFile();
        QVERIFY(page);
        QVERIFY(page->contactsModeButton()->isVisible());
        QCOMPARE(page->containerPopUp()->currentText(), QStringLiteral("Local Address Book"));
        QVERIFY(page->startButton()->isDefault());
        for (QWidget* control : page->findChildren<QWidget*>()) {
            if (control->focusPolicy() != Qt::NoFocus && control->isVisible() &&
                !qobject_cast<QLabel*>(control))
                QVERIFY2(!control->accessibleName().isEmpty(),
                         qPrintable(control->metaObject()->className()));
        }

        // vCard mode: the setting follows, the button asks for a file next to the source.
        page->vCardsModeButton()->click();
        QCOMPARE(settings_->stringForKey("ImportMode").value_or(""), std::string("vCard"));
        QCOMPARE(page->startButton()->text().remove('&'), QStringLiteral("Save vCards…"));
        QVERIFY(page->oneFileButton()->isChecked());
        page->startButton()->click();
        QFileDialog* panel = page->destinationDialog();
        QVERIFY(panel);
        QCOMPARE(panel->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(QDir(panel->directory()).absolutePath(),
                 QDir(QString::fromStdString(kExamples.string())).absolutePath());
        const QString out = folder_->filePath(QStringLiteral("people.vcf"));
        panel->selectFile(out);
        static_cast<QDialog*>(panel)->accept();
        QTRY_VERIFY_WITH_TIMEOUT(window_->alertBox() && window_->alertBox()->isVisible(), kTimeout);
        QCOMPARE(window_->alertBox()->text(), QStringLiteral("vCards saved."));
        QCOMPARE(window_->alertBox()->icon(), QMessageBox::Information);
        window_->alertBox()->buttons().front()->click();
        std::ifstream written(out.toStdString());
        std::stringstream text;
        text << written.rdbuf();
        QCOMPARE(countOf(text.str(), "BEGIN:VCARD"), 30);

        // Contacts mode with no note text and duplicates of old contacts not marked.
        page->contactsModeButton()->click();
        QCOMPARE(settings_->stringForKey("ImportMode").value_or(""), std::string("Contacts"));
        page->notesBox()->click();
        QVERIFY(!page->notesField()->isEnabled());
        QVERIFY(!settings_->boolForKey("AddTextToNotes"));
        page->oldDuplicatesBox()->click();
        QVERIFY(!settings_->boolForKey("DetectDuplicates"));
        QTest::mouseClick(page->startButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window_->alertBox() && window_->alertBox()->isVisible(), kTimeout);
        QCOMPARE(window_->alertBox()->text(), QStringLiteral("Import done."));
        QTest::keyClick(window_->alertBox(), Qt::Key_Return);
        QTRY_VERIFY(page->resultLabel()->isVisible());
        QVERIFY(page->resultLabel()->text().contains(QStringLiteral("30 of 30 contacts added.")));

        std::size_t contacts = 0, notes = 0;
        QVERIFY(store_->enumerateContacts(store_->defaultContainerIdentifier(),
                                          [&](const contacts::Contact& contact) {
                                              ++contacts;
                                              if (contact.note.find("Import#") != std::string::npos)
                                                  ++notes;
                                              return true;
                                          }));
        QCOMPARE(contacts, std::size_t{30});
        QCOMPARE(notes, std::size_t{0});
    }

    void notesTextIsKeptAsTypedAndBackReturnsToTheMapping() {
        ImportPageWidget* page = openImportPageOfTextFile();
        QVERIFY(page);
        page->notesField()->clear();
        QTest::keyClicks(page->notesField(), QStringLiteral("From  FILE"));
        QCOMPARE(
            settings_->stringArrayForKey("TextToNotesTokens").value_or(std::vector<std::string>{}),
            std::vector<std::string>{"From  FILE"});
        QTest::mouseClick(page->backButton(), Qt::LeftButton);
        QTRY_COMPARE(pageShown(*window_), QStringLiteral("FieldMappingViewController"));
    }

    void vCardFilesAreScannedAndImportedWithTheirGroups() {
        (void)session_->openFiles({kExamples / "contacts.vcf"});
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("VCFScanViewController"),
                                  kTimeout);
        auto* scan = qobject_cast<VCardScanPageWidget*>(window_->currentPageWidget());
        QVERIFY(scan);
        QTRY_VERIFY_WITH_TIMEOUT(scan->continueButton()->isEnabled(), kTimeout);
        QCOMPARE(scan->resultsLabel()->text(), QStringLiteral("5 contacts found"));
        QCOMPARE(scan->fileList()->topLevelItemCount(), 1);
        QCOMPARE(scan->fileList()->topLevelItem(0)->text(1), QStringLiteral("5"));
        QCOMPARE(scan->groupList()->count(), 4);
        QVERIFY(!scan->noGroupsLabel()->isVisible());

        QTest::keyClick(scan->continueButton(), Qt::Key_Space);
        QTRY_COMPARE(pageShown(*window_), QStringLiteral("ImportViewController"));
        auto* page = qobject_cast<ImportPageWidget*>(window_->currentPageWidget());
        QVERIFY(page);
        QVERIFY(!page->contactsModeButton()->isVisible());
        page->startButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(window_->alertBox() && window_->alertBox()->isVisible(), kTimeout);
        QCOMPARE(window_->alertBox()->text(), QStringLiteral("Import done."));
        window_->alertBox()->buttons().front()->click();
        auto groups = store_->groups(store_->defaultContainerIdentifier());
        QVERIFY(groups);
        QStringList names;
        for (const auto& group : *groups) names << QString::fromStdString(group.name);
        QVERIFY(names.contains(QStringLiteral("Mathematicians")));
        QTRY_VERIFY(page->resultLabel()->text().contains(QStringLiteral("5 of 5 contacts added.")));
    }

    void containerPopUpListsEveryBookUnderItsHeadingAndSwitchesBooks() {
        // A second book offered beside the session's own.
        class Books final : public StoreDirectory {
          public:
            Books(std::shared_ptr<contacts::ContactStore> own,
                  std::shared_ptr<contacts::ContactStore> other)
                : own_(std::move(own)), other_(std::move(other)) {}
            std::vector<StoreChoice> choices() const override {
                return {{"", "On this computer"}, {"archive", "Archive"}};
            }
            Expected<std::shared_ptr<contacts::ContactStore>, std::string> open(
                const std::string& key) override {
                return key.empty() ? own_ : other_;
            }

          private:
            std::shared_ptr<contacts::ContactStore> own_, other_;
        };
        auto opened = contacts::SqliteContactStore::open(
            std::filesystem::path(folder_->path().toStdString()) / "archive.sqlite");
        QVERIFY(opened);
        std::shared_ptr<contacts::ContactStore> archive = std::move(*opened);
        session_->setStoreDirectory(std::make_shared<Books>(store_, archive));

        ImportPageWidget* page = openImportPageOfTextFile();
        QVERIFY(page);
        QComboBox* popUp = page->containerPopUp();
        QStringList items;
        for (int index = 0; index < popUp->count(); ++index) items << popUp->itemText(index);
        QCOMPARE(items, (QStringList{"On this computer", "Local Address Book", "", "Archive",
                                     "Local Address Book"}));
        // Headings are not choosable; the keyboard steps over them.
        const auto* model = qobject_cast<QStandardItemModel*>(popUp->model());
        QVERIFY(!(model->item(3)->flags() & Qt::ItemIsEnabled));
        QCOMPARE(popUp->currentIndex(), 1);
        popUp->setFocus();
        QTest::keyClick(popUp, Qt::Key_Down);
        QCOMPARE(popUp->currentIndex(), 4);
        QTRY_COMPARE(session_->contactStore(), archive);
        QCOMPARE(settings_->stringForKey("ContactStore").value_or(""), std::string("archive"));
        QCOMPARE(popUp->currentIndex(), 4);  // rebuilt, the chosen book's container selected
        session_->setStoreDirectory(nullptr);
    }

    void anImportIsUndoneFromTheRecordedImportsWindow() {
        session_->setImportJournal(std::make_shared<ImportJournal>(
            std::filesystem::path(folder_->path().toStdString()) / "imports"));
        ImportsWindow* imports = window_->showImports();
        QVERIFY(imports->emptyLabel()->isVisible());
        QVERIFY(!imports->undoButton()->isEnabled());
        imports->close();

        ImportPageWidget* page = openImportPageOfTextFile();
        QVERIFY(page);
        page->startButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(window_->alertBox() && window_->alertBox()->isVisible(), kTimeout);
        window_->alertBox()->buttons().front()->click();
        const std::string container = store_->defaultContainerIdentifier();
        QCOMPARE(contactsIn(container), 30);

        imports = window_->showImports();
        QCOMPARE(imports->table()->rowCount(), 1);
        QCOMPARE(imports->table()->item(0, 2)->text(), QStringLiteral("contacts.csv"));
        QCOMPARE(imports->table()->item(0, 4)->text(), QStringLiteral("30"));
        QVERIFY(imports->undoButton()->isEnabled());

        // Asked first; Cancel changes nothing.
        imports->undoButton()->click();
        QTRY_VERIFY(imports->messageBox() && imports->messageBox()->isVisible());
        QVERIFY(imports->messageBox()->text().startsWith(
            QStringLiteral("Remove 30 contacts imported from contacts.csv on ")));
        imports->messageBox()->button(QMessageBox::Cancel)->click();
        QCOMPARE(contactsIn(container), 30);

        imports->undoButton()->click();
        QTRY_VERIFY(imports->messageBox() && imports->messageBox()->isVisible());
        QAbstractButton* remove = nullptr;
        for (QAbstractButton* button : imports->messageBox()->buttons()) {
            if (imports->messageBox()->buttonRole(button) == QMessageBox::DestructiveRole)
                remove = button;
        }
        QVERIFY(remove);
        remove->click();
        QTRY_VERIFY(imports->messageBox() &&
                    imports->messageBox()->text() == QStringLiteral("The import was undone."));
        QCOMPARE(imports->messageBox()->informativeText(), QStringLiteral("30 contacts removed."));
        QCOMPARE(contactsIn(container), 0);
        QVERIFY(imports->table()->item(0, 5)->text().startsWith(QStringLiteral("Undone on ")));
        QVERIFY(!imports->undoButton()->isEnabled());
        imports->messageBox()->button(QMessageBox::Ok)->click();
        imports->close();
        session_->setImportJournal(nullptr);
    }

  private:
    int contactsIn(const std::string& container) {
        int count = 0;
        (void)store_->enumerateContacts(container, [&](const contacts::Contact&) {
            ++count;
            return true;
        });
        return count;
    }

    static int countOf(const std::string& text, const std::string& what) {
        int count = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++count;
        return count;
    }

    // The example text file walked to the import page with the pages' own Continue buttons.
    ImportPageWidget* openImportPageOfTextFile() {
        (void)session_->openFiles({kExamples / "contacts.csv"});
        if (!QTest::qWaitFor(
                [&] {
                    auto* encoding =
                        qobject_cast<EncodingPageWidget*>(window_->currentPageWidget());
                    return encoding && encoding->continueButton()->isEnabled() &&
                           !window_->progressSheet()->isVisible();
                },
                kTimeout))
            return nullptr;
        qobject_cast<EncodingPageWidget*>(window_->currentPageWidget())->continueButton()->click();
        if (!QTest::qWaitFor(
                [&] {
                    auto* mapping =
                        qobject_cast<FieldMappingPageWidget*>(window_->currentPageWidget());
                    return mapping && mapping->continueButton()->isEnabled();
                },
                kTimeout))
            return nullptr;
        qobject_cast<FieldMappingPageWidget*>(window_->currentPageWidget())
            ->continueButton()
            ->click();
        (void)QTest::qWaitFor([&] { return pageShown(*window_) == "ImportViewController"; },
                              kTimeout);
        auto* page = qobject_cast<ImportPageWidget*>(window_->currentPageWidget());
        if (!page) qWarning("the import page did not open");
        return page;
    }

    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<SettingsStore> settings_;
    std::shared_ptr<contacts::SqliteContactStore> store_;
    std::unique_ptr<ImportSession> session_;
    std::unique_ptr<MainWindow> window_;
};

int main(int argc, char* argv[]) {
    return pelkora::gui::test::runWidgetTests<ImportPageWidgetTest>(argc, argv);
}

#include "ImportPageWidgetTest.moc"
