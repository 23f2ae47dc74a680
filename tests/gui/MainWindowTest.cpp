// The main window driven as a user drives it: the open panel, the encoding pop-up, back and
// continue, drops and alerts, with the real session behind it and the main queue running in
// Qt's event loop (offscreen platform).

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <atomic>
#include <memory>
#include <thread>

#include "EncodingPageWidget.h"
#include "MainWindow.h"
#include "PlaceholderPageWidget.h"
#include "ProgressSheet.h"
#include "QtMainQueue.h"
#include "StartPageWidget.h"
#include "addressbook/ContactAuthorization.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/ImportSession.h"

using namespace pelkora;
using namespace pelkora::gui;

namespace {

constexpr int kTimeout = 20000;  // ms; parsing runs on the reader's thread
const QString kExamples = QStringLiteral(PELKORA_EXAMPLES_DIR);

// The page widget's registry name (the window names each page's widget after its page).
QString pageShown(const MainWindow& window) {
    return window.currentPageWidget() ? window.currentPageWidget()->objectName() : QString();
}

// Selects an item of a closed pop-up the way the keyboard does, so the pop-up's own
// "activated" reaches the page: from the item next to it, one arrow key.
void chooseWithKeyboard(QComboBox* popUp, int index) {
    const bool fromBelow = index + 1 < popUp->count() && popUp->itemData(index + 1).isValid();
    popUp->setCurrentIndex(fromBelow ? index + 1 : index - 1);
    popUp->setFocus();
    QTest::keyClick(popUp, fromBelow ? Qt::Key_Up : Qt::Key_Down);
    QCOMPARE(popUp->currentIndex(), index);
}

int itemIndex(QComboBox* popUp, const QString& prefix) {
    for (int index = 0; index < popUp->count(); ++index) {
        if (popUp->itemText(index).contains(prefix)) return index;
    }
    return -1;
}

}  // namespace

class MainWindowTest final : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        settings_ = std::make_unique<SettingsStore>(
            std::filesystem::path(home_.filePath("settings.plist").toStdString()));
        session_ = std::make_unique<ImportSession>(*settings_,
                                                   std::make_shared<AlwaysAuthorizedProvider>());
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
        settings_.reset();
    }

    void mainQueueTasksRunInTheEventLoopOnTheGuiThread() {
        std::atomic<bool> ranOnGuiThread = false;
        std::thread worker([&] {
            MainQueue::shared().post([&] { ranOnGuiThread = MainQueue::shared().isMainThread(); });
        });
        worker.join();
        // Nothing drains the queue here: only Qt's event loop can run the task.
        QTRY_VERIFY_WITH_TIMEOUT(ranOnGuiThread, kTimeout);
    }

    void windowKeepsTheMinimumContentSize() {
        QVERIFY(window_->centralWidget()->minimumWidth() >= kMinimumContentWidth);
        QVERIFY(window_->centralWidget()->minimumHeight() >= kMinimumContentHeight);
    }

    void openedTextFileWalksEncodingPageToFieldMappingAndBack() {
        auto* start = qobject_cast<StartPageWidget*>(window_->currentPageWidget());
        QVERIFY(start);
        QTest::mouseClick(start->importButton(), Qt::LeftButton);
        QVERIFY(window_->openPanel());
        window_->openPanel()->selectFile(kExamples + QStringLiteral("/contacts.csv"));
        // The panel's Open button, as QFileDialog's accept handles it.
        static_cast<QDialog*>(window_->openPanel())->accept();

        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_),
                                  QStringLiteral("SetTextEncodingViewController"), kTimeout);
        auto* page = qobject_cast<EncodingPageWidget*>(window_->currentPageWidget());
        QVERIFY(page);
        QTRY_VERIFY(!window_->progressSheet()->isVisible());
        QCOMPARE(
            page->statusLabel()->text(),
            QStringLiteral(
                "Please check that the chosen encoding makes special characters look correct."));
        QVERIFY(page->preview()->toPlainText().contains(QStringLiteral("Müller")));
        QVERIFY(page->continueButton()->isEnabled());
        const int utf8 = itemIndex(page->encodingPopUp(), QStringLiteral("UTF-8"));
        QCOMPARE(page->encodingPopUp()->currentIndex(), utf8);

        // ASCII cannot hold the file's umlauts: the page says so and will not continue.
        chooseWithKeyboard(page->encodingPopUp(), 0);
        QCOMPARE(page->statusLabel()->text(),
                 QStringLiteral("The file’s content could not be interpreted using this "
                                "encoding. Please choose another."));
        QVERIFY(!page->continueButton()->isEnabled());

        chooseWithKeyboard(page->encodingPopUp(), utf8);
        QCOMPARE(
            page->statusLabel()->text(),
            QStringLiteral(
                "Please check that the chosen encoding makes special characters look correct."));
        QVERIFY(page->continueButton()->isEnabled());

        // Invisible characters get glyphs of their own; the text itself stays.
        page->invisibleCharactersBox()->click();
        QVERIFY(page->preview()->toPlainText().contains(QChar(0x21B5)));
        QVERIFY(page->preview()->toPlainText().contains(QStringLiteral("Müller")));

        QTest::mouseClick(page->continueButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("FieldMappingViewController"),
                                  kTimeout);
        auto* mapping = qobject_cast<PlaceholderPageWidget*>(window_->currentPageWidget());
        QVERIFY(mapping);
        QVERIFY(mapping->continueButton()->isEnabled());
        QTest::mouseClick(mapping->backButton(), Qt::LeftButton);
        QTRY_COMPARE(pageShown(*window_), QStringLiteral("SetTextEncodingViewController"));

        // An accepted file is offered again under Open Recent.
        QTRY_VERIFY(window_->recentFiles().contains(kExamples + QStringLiteral("/contacts.csv")));
    }

    void workbookOfSeveralSheetsAsksWhichSheet() {
        (void)session_->openFiles({std::filesystem::path(PELKORA_EXAMPLES_DIR) / "contacts.xlsx"});
        QTRY_VERIFY_WITH_TIMEOUT(window_->sheetChooser(), kTimeout);
        QComboBox* sheets = window_->sheetChooser()->sheetPopUp();
        QCOMPARE(sheets->count(), 2);
        QCOMPARE(sheets->itemText(0), QStringLiteral("Overview"));
        QCOMPARE(sheets->currentIndex(), 0);
        chooseWithKeyboard(sheets, 1);
        QTest::mouseClick(window_->sheetChooser()->chooseButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("FieldMappingViewController"),
                                  kTimeout);
        // The People sheet's titles were read, not the Overview's single note.
        QVERIFY(session_->excelReader());
        QVERIFY(session_->excelReader()->dataRows().size() > 2);
    }

    void droppedNonFileIsRefused() {
        QMimeData text;
        text.setText(QStringLiteral("Anna Müller, +49 170 1234567"));
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction | Qt::MoveAction, &text,
                              Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &enter);
        QVERIFY(!enter.isAccepted());

        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://example.org/contacts.csv"))});
        QDropEvent drop(QPointF(200, 200), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &drop);
        QVERIFY(!drop.isAccepted());
        QTest::qWait(50);
        QCOMPARE(pageShown(*window_), QStringLiteral("InitialViewController"));
    }

    void draggedFileLightsUpTheDropTargetAndOpensAsCopy() {
        auto* start = qobject_cast<StartPageWidget*>(window_->currentPageWidget());
        QVERIFY(start);
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(kExamples + QStringLiteral("/contacts.csv"))});
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction | Qt::MoveAction, &files,
                              Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QVERIFY(start->isDropTargetHighlighted());

        QDropEvent drop(QPointF(200, 200), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_),
                                  QStringLiteral("SetTextEncodingViewController"), kTimeout);
    }

    void unsupportedFileShowsTheAlertTextsAndItsButtonAnswers() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("scan.pdf"));
        QFile pdf(path);
        QVERIFY(pdf.open(QIODevice::WriteOnly));
        pdf.write("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj << /Type /Catalog >> endobj\n");
        pdf.close();

        (void)session_->openFiles({std::filesystem::path(path.toStdString())});
        QTRY_VERIFY_WITH_TIMEOUT(window_->alertBox() && window_->alertBox()->isVisible(), kTimeout);
        QMessageBox* alert = window_->alertBox();
        QCOMPARE(alert->text(), QStringLiteral("Unsupported file format"));
        QCOMPARE(
            alert->informativeText(),
            QStringLiteral("Please provide an Excel file, a text file, or one or more vCards."));
        QCOMPARE(alert->icon(), QMessageBox::Critical);
        QCOMPARE(alert->windowModality(), Qt::WindowModal);
        QCOMPARE(alert->buttons().size(), 1);
        QCOMPARE(alert->buttons().front()->text(), QStringLiteral("OK"));
        QTest::mouseClick(alert->buttons().front(), Qt::LeftButton);
        QTRY_VERIFY(!window_->alertBox());
        QVERIFY(!window_->recentFiles().contains(path));
    }

  private:
    QTemporaryDir home_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<ImportSession> session_;
    std::unique_ptr<MainWindow> window_;
};

int main(int argc, char* argv[]) {
    // Settings, the runtime log and the window's own state go to a folder of this run.
    QTemporaryDir home;
    for (const char* variable :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "HOME"})
        qputenv(variable, QFile::encodeName(home.path()));
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("pelkora-test"));
    installQtMainQueueDispatcher(&application);
    MainWindowTest test;
    const int status = QTest::qExec(&test, argc, argv);
    removeQtMainQueueDispatcher();
    return status;
}

#include "MainWindowTest.moc"
