// The main window driven as a user drives it: the open panel, the encoding pop-up, back and
// continue, drops and alerts, with the real session behind it and the main queue running in
// Qt's event loop (offscreen platform).

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QUrl>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "EncodingPageWidget.h"
#include "FieldMappingPageWidget.h"
#include "GuiTestMain.h"
#include "MainWindow.h"
#include "MappingOptionsSheet.h"
#include "PaletteColours.h"
#include "ProgressSheet.h"
#include "QtMainQueue.h"
#include "StartPageWidget.h"
#include "addressbook/ContactAuthorization.h"
#include "platform/MainQueue.h"
#include "platform/Progress.h"
#include "platform/SettingsStore.h"
#include "session/FieldMappingPage.h"
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

// The mapping table's cell text.
QString cellText(QTableView* table, int row, FieldMappingColumn column) {
    return table->model()->index(row, static_cast<int>(column)).data().toString();
}

// Opens the pop-up editor of a target or label cell, as a double-click does.
QComboBox* openCellEditor(QTableView* table, int row, FieldMappingColumn column) {
    // The editors closed before are deleted later: they go first, so that only this one is left.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QModelIndex index = table->model()->index(row, static_cast<int>(column));
    table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    table->edit(index);
    return table->viewport()->findChild<QComboBox*>();
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

    void windowSizeIsRememberedAcrossRuns() {
        window_->resize(1300, 777);
        QVERIFY(window_->close());
        MainWindow next(*session_);
        QCOMPARE(next.size(), QSize(1300, 777));
        session_->setFrontEnd(window_.get());
    }

    void progressSheetShowsTheProgressAndCancelCancelsIt() {
        auto progress = Progress::make(1000);
        progress->setLocalizedDescription("Reading records…");
        progress->setCompletedUnitCount(250);
        progress->setLocalizedAdditionalDescription("Parsed record 250 of 1000…");
        session_->presentProgress(progress);
        ProgressSheet* sheet = window_->progressSheet();
        QTRY_VERIFY(sheet->isVisible());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->descriptionLabel()->text(), QStringLiteral("Reading records…"));
        QCOMPARE(sheet->additionalDescriptionLabel()->text(),
                 QStringLiteral("Parsed record 250 of 1000…"));
        QCOMPARE(sheet->bar()->maximum(), 1000);
        QCOMPARE(sheet->bar()->value(), 250);

        // Changes made on another thread reach the sheet through the event loop.
        std::thread parser([&] { progress->setCompletedUnitCount(500); });
        parser.join();
        QTRY_COMPARE(sheet->bar()->value(), 500);

        QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
        QVERIFY(progress->isCancelled());
        session_->dismissProgress();
        QTRY_VERIFY(!sheet->isVisible());

        // A progress that may not be cancelled shows a disabled Cancel and a busy bar.
        auto examining = Progress::make(0);
        examining->setCancellable(false);
        session_->presentProgress(examining);
        QTRY_VERIFY(sheet->isVisible());
        QVERIFY(!sheet->cancelButton()->isEnabled());
        QCOMPARE(sheet->bar()->maximum(), 0);
        session_->dismissProgress();
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
        auto* mapping = qobject_cast<FieldMappingPageWidget*>(window_->currentPageWidget());
        QVERIFY(mapping);
        QTRY_VERIFY(mapping->continueButton()->isEnabled());
        QTest::mouseClick(mapping->backButton(), Qt::LeftButton);
        QTRY_COMPARE(pageShown(*window_), QStringLiteral("SetTextEncodingViewController"));

        // An accepted file is offered again under Open Recent.
        QTRY_VERIFY(window_->recentFiles().contains(kExamples + QStringLiteral("/contacts.csv")));
    }

    // The mapping page of the example text file, after its automatic mapping ran.
    void openMappingPageOfTextFile(FieldMappingPageWidget*& page) {
        (void)session_->openFiles({std::filesystem::path(PELKORA_EXAMPLES_DIR) / "contacts.csv"});
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_),
                                  QStringLiteral("SetTextEncodingViewController"), kTimeout);
        auto* encoding = qobject_cast<EncodingPageWidget*>(window_->currentPageWidget());
        QVERIFY(encoding);
        QTRY_VERIFY_WITH_TIMEOUT(encoding->continueButton()->isEnabled(), kTimeout);
        QTest::mouseClick(encoding->continueButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("FieldMappingViewController"),
                                  kTimeout);
        page = qobject_cast<FieldMappingPageWidget*>(window_->currentPageWidget());
        QVERIFY(page);
        QTRY_VERIFY_WITH_TIMEOUT(page->table()->model()->rowCount() > 0, kTimeout);
    }

    void mappingTableEditsTargetsAndLabelsThroughThePageModel() {
        FieldMappingPageWidget* page = nullptr;
        openMappingPageOfTextFile(page);
        if (QTest::currentTestFailed()) return;
        QTableView* table = page->table();
        const auto& list = session_->mappedContactProperties();
        QCOMPARE(table->model()->rowCount(), 14);
        QCOMPARE(cellText(table, 0, FieldMappingColumn::column), QStringLiteral("1"));
        QCOMPARE(cellText(table, 0, FieldMappingColumn::title), QStringLiteral("First Name"));
        QCOMPARE(cellText(table, 0, FieldMappingColumn::example), QStringLiteral("Anna"));
        QCOMPARE(cellText(table, 2, FieldMappingColumn::status), QStringLiteral("Imported"));
        QVERIFY(list[2].contactProperty.isValid());

        // The note after the automatic mapping; its box turns it off for good.
        QVERIFY(page->hintBar()->isVisible());
        QVERIFY(page->hintLabel()->text().contains(QStringLiteral("Auto-mapping did complete.")));
        page->suppressHintBox()->click();
        QVERIFY(!settings_->boolForKey("ShowMappingHint"));
        QVERIFY(page->hintBar()->isVisible());
        QTest::mouseClick(page->dismissHintButton(), Qt::LeftButton);
        QVERIFY(!page->hintBar()->isVisible());

        // Company goes nowhere: the page model takes the choice and the row follows it.
        QComboBox* target = openCellEditor(table, 2, FieldMappingColumn::target);
        QVERIFY(target);
        const int ignore = itemIndex(target, QStringLiteral("Ignore"));
        QVERIFY(ignore >= 0);
        chooseWithKeyboard(target, ignore);
        QVERIFY(!list[2].contactProperty.isValid());
        QCOMPARE(cellText(table, 2, FieldMappingColumn::target), target->itemText(ignore));
        QCOMPARE(cellText(table, 2, FieldMappingColumn::status), QStringLiteral("Not imported"));
        QVERIFY(!page->preview()->toPlainText().contains(QStringLiteral("Bäckerei")));

        // A target another column holds is offered, but marked and not choosable.
        target = openCellEditor(table, 2, FieldMappingColumn::target);
        QVERIFY(target);
        const int inUse = itemIndex(target, QStringLiteral("(in use)"));
        QVERIFY(inUse >= 0);
        auto* items = qobject_cast<QStandardItemModel*>(target->model());
        QVERIFY(items && !items->item(inUse)->isEnabled());
        QTest::keyClick(target, Qt::Key_Escape);

        // The mobile column's label: a custom one typed after "Custom Label…".
        QComboBox* label = openCellEditor(table, 6, FieldMappingColumn::label);
        QVERIFY(label);
        const int custom = itemIndex(label, QStringLiteral("Custom Label"));
        QVERIFY(custom >= 0);
        chooseWithKeyboard(label, custom);
        QVERIFY(label->isEditable());
        QTest::keyClicks(label->lineEdit(), QStringLiteral("Car"));
        QTest::keyClick(label->lineEdit(), Qt::Key_Return);
        QCOMPARE(list[6].contactProperty.label(), std::optional<std::string>("Car"));
        QCOMPARE(cellText(table, 6, FieldMappingColumn::label), QStringLiteral("Car"));
        QVERIFY(page->preview()->toPlainText().contains(QStringLiteral("Car")));

        // The custom label is offered again; a system label replaces it.
        label = openCellEditor(table, 6, FieldMappingColumn::label);
        QVERIFY(label);
        QVERIFY(itemIndex(label, QStringLiteral("Car")) >= 0);
        const int home = itemIndex(label, QStringLiteral("home"));
        QVERIFY(home >= 0);
        chooseWithKeyboard(label, home);
        QVERIFY(list[6].contactProperty.label() != std::optional<std::string>("Car"));
        QCOMPARE(cellText(table, 6, FieldMappingColumn::label), label->itemText(home));

        // Rows selected together follow the edited row's label.
        for (int row : {5, 6})
            table->selectionModel()->select(
                table->model()->index(row, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        label = openCellEditor(table, 6, FieldMappingColumn::label);
        QVERIFY(label);
        const int work = itemIndex(label, QStringLiteral("work"));
        QVERIFY(work >= 0);
        chooseWithKeyboard(label, work);
        QCOMPARE(cellText(table, 5, FieldMappingColumn::label), label->itemText(work));
        QCOMPARE(cellText(table, 6, FieldMappingColumn::label), label->itemText(work));
        QCOMPARE(list[5].contactProperty.label(), list[6].contactProperty.label());
        // With several rows selected a single-valued target is not applicable.
        target = openCellEditor(table, 6, FieldMappingColumn::target);
        QVERIFY(target);
        QVERIFY(itemIndex(target, QStringLiteral("(not applicable)")) >= 0);
        QTest::keyClick(target, Qt::Key_Escape);
        table->clearSelection();

        // A full-name column beside the name columns is pointed out until it goes again.
        QVERIFY(page->warningsLabel()->isHidden());
        auto* mapping = dynamic_cast<FieldMappingPage*>(session_->currentPage());
        QVERIFY(mapping);
        QString fullName;
        for (const auto& item : mapping->targetMenu(*session_, 2, 1)) {
            if (item.representedEntry.propertyKey == std::string(CustomPropertyKeys::FullName))
                fullName = QString::fromStdString(item.title);
        }
        QVERIFY(!fullName.isEmpty());
        target = openCellEditor(table, 2, FieldMappingColumn::target);
        QVERIFY(target);
        chooseWithKeyboard(target, target->findText(fullName));
        QVERIFY(!page->warningsLabel()->isHidden());
        const auto warnings = mapping->sharedTargetWarnings(*session_);
        QCOMPARE(warnings.size(), std::size_t(1));
        QCOMPARE(page->warningsLabel()->text(), QString::fromStdString(warnings[0].message));
        QVERIFY(page->warningsLabel()->text().contains(QStringLiteral("Company")));
        target = openCellEditor(table, 2, FieldMappingColumn::target);
        QVERIFY(target);
        chooseWithKeyboard(target, ignore);
        QVERIFY(page->warningsLabel()->isHidden());

        // The search field shows only the matching titles.
        QTest::keyClicks(page->searchField(), QStringLiteral("name"));
        QVERIFY(!table->isRowHidden(0));
        QVERIFY(!table->isRowHidden(1));
        QVERIFY(table->isRowHidden(2));
        page->searchField()->clear();
        QVERIFY(!table->isRowHidden(2));
    }

    // Google's export: each "- Label" column labels its "- Value" column row by row, and a
    // cell of several values joined with " ::: " gives several values.
    void labelColumnsAndMultipleValuesShowAsTheyImport() {
        (void)session_->openFiles(
            {std::filesystem::path(PELKORA_TEST_DATA_DIR) / "exports" / "google-current.csv"});
        QTRY_VERIFY_WITH_TIMEOUT(pageShown(*window_) == "SetTextEncodingViewController" ||
                                     pageShown(*window_) == "FieldMappingViewController",
                                 kTimeout);
        if (auto* encoding = qobject_cast<EncodingPageWidget*>(window_->currentPageWidget())) {
            QTRY_VERIFY_WITH_TIMEOUT(encoding->continueButton()->isEnabled(), kTimeout);
            QTest::mouseClick(encoding->continueButton(), Qt::LeftButton);
        }
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("FieldMappingViewController"),
                                  kTimeout);
        auto* page = qobject_cast<FieldMappingPageWidget*>(window_->currentPageWidget());
        QVERIFY(page);
        QTRY_VERIFY_WITH_TIMEOUT(!page->page().isMapping(), kTimeout);
        QTableView* table = page->table();
        const auto rowTitled = [&](const QString& title) {
            for (int row = 0; row < table->model()->rowCount(); ++row) {
                if (cellText(table, row, FieldMappingColumn::title) == title) return row;
            }
            return -1;
        };
        const int phone = rowTitled(QStringLiteral("Phone 1 - Value"));
        const int phoneLabel = rowTitled(QStringLiteral("Phone 1 - Label"));
        QVERIFY(phone >= 0 && phoneLabel >= 0);
        QCOMPARE(cellText(table, phone, FieldMappingColumn::label),
                 QStringLiteral("label from column %1").arg(phoneLabel + 1));
        QCOMPARE(cellText(table, phone, FieldMappingColumn::target), QStringLiteral("Phone"));
        // The label column labels; it is not imported itself.
        QVERIFY(cellText(table, phoneLabel, FieldMappingColumn::target) != QStringLiteral("Phone"));
        // The first record's two mobile numbers are two values, each with the row's label.
        const QString preview = page->preview()->toPlainText();
        QVERIFY2(preview.contains(QStringLiteral("+1 415 555 0101")) &&
                     preview.contains(QStringLiteral("+1 415 555 0102")) &&
                     !preview.contains(QStringLiteral(":::")),
                 qPrintable(preview));
        QVERIFY2(preview.count(QStringLiteral("mobile"), Qt::CaseInsensitive) >= 2,
                 qPrintable(preview));
    }

    void recordNavigationAndHeaderSwitchChangeThePreview() {
        FieldMappingPageWidget* page = nullptr;
        openMappingPageOfTextFile(page);
        if (QTest::currentTestFailed()) return;
        QCOMPARE(page->recordLabel()->text(), QStringLiteral("Record 1 of 30"));
        QVERIFY(page->preview()->toPlainText().contains(QStringLiteral("Anna Müller")));
        QVERIFY(!page->previousRecordButton()->isEnabled());
        QVERIFY(!page->firstRecordButton()->isEnabled());

        QTest::mouseClick(page->nextRecordButton(), Qt::LeftButton);
        QCOMPARE(page->recordLabel()->text(), QStringLiteral("Record 2 of 30"));
        QVERIFY(page->preview()->toPlainText().contains(QStringLiteral("Jörg Weiß")));
        QCOMPARE(cellText(page->table(), 0, FieldMappingColumn::example), QStringLiteral("Jörg"));

        QTest::mouseClick(page->lastRecordButton(), Qt::LeftButton);
        QCOMPARE(page->recordLabel()->text(), QStringLiteral("Record 30 of 30"));
        QVERIFY(!page->nextRecordButton()->isEnabled());
        QVERIFY(!page->lastRecordButton()->isEnabled());
        QTest::mouseClick(page->previousRecordButton(), Qt::LeftButton);
        QCOMPARE(page->recordLabel()->text(), QStringLiteral("Record 29 of 30"));
        QTest::mouseClick(page->firstRecordButton(), Qt::LeftButton);
        QCOMPARE(page->recordLabel()->text(), QStringLiteral("Record 1 of 30"));

        // Without a header row the titles become the first record.
        QVERIFY(page->headerBox()->isChecked());
        page->headerBox()->click();
        auto* mapping = dynamic_cast<FieldMappingPage*>(session_->currentPage());
        QVERIFY(mapping);
        QVERIFY(!mapping->firstRowContainsColumnHeaders());
        QCOMPARE(page->recordLabel()->text(), QStringLiteral("Record 1 of 31"));
        QCOMPARE(cellText(page->table(), 0, FieldMappingColumn::title), QString());
        QCOMPARE(cellText(page->table(), 0, FieldMappingColumn::example),
                 QStringLiteral("First Name"));
        // The title "Birthday" is no date: the row asks for attention.
        QCOMPARE(cellText(page->table(), 11, FieldMappingColumn::status),
                 QStringLiteral("Check the value"));
        QVERIFY(!page->preview()->toPlainText().contains(QStringLiteral("March")));
        page->headerBox()->click();
        QVERIFY(mapping->firstRowContainsColumnHeaders());
        QCOMPARE(cellText(page->table(), 0, FieldMappingColumn::title),
                 QStringLiteral("First Name"));
        QCOMPARE(page->recordLabel()->text(), QStringLiteral("Record 1 of 30"));
    }

    void workbookPictureShowsInTheTableAndThePreview() {
        (void)session_->openFiles({std::filesystem::path(PELKORA_EXAMPLES_DIR) / "contacts.xlsx"});
        QTRY_VERIFY_WITH_TIMEOUT(window_->sheetChooser(), kTimeout);
        chooseWithKeyboard(window_->sheetChooser()->sheetPopUp(), 1);
        QTest::mouseClick(window_->sheetChooser()->chooseButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("FieldMappingViewController"),
                                  kTimeout);
        auto* page = qobject_cast<FieldMappingPageWidget*>(window_->currentPageWidget());
        QVERIFY(page);
        QTRY_VERIFY_WITH_TIMEOUT(page->table()->model()->rowCount() > 11, kTimeout);
        QCOMPARE(cellText(page->table(), 11, FieldMappingColumn::column), QStringLiteral("L"));
        const QModelIndex picture =
            page->table()->model()->index(11, static_cast<int>(FieldMappingColumn::example));
        QVERIFY(!picture.data(Qt::DecorationRole).value<QPixmap>().isNull());
        QVERIFY(page->table()
                    ->model()
                    ->index(0, static_cast<int>(FieldMappingColumn::example))
                    .data(Qt::DecorationRole)
                    .isNull());
        QVERIFY(page->preview()->toHtml().contains(QStringLiteral("pelkora-preview:picture")));
        // The next record has no picture, and neither has its preview.
        QTest::mouseClick(page->nextRecordButton(), Qt::LeftButton);
        QVERIFY(!page->preview()->toHtml().contains(QStringLiteral("pelkora-preview:picture")));
    }

    void fieldMappingControlsAreNamedForAssistiveTechnology() {
        FieldMappingPageWidget* page = nullptr;
        openMappingPageOfTextFile(page);
        if (QTest::currentTestFailed()) return;
        const QList<QWidget*> controls = page->findChildren<QWidget*>();
        for (QWidget* control : controls) {
            if (control->focusPolicy() == Qt::NoFocus || !control->isVisible() ||
                qobject_cast<QLabel*>(control) || control->parentWidget() != page)
                continue;
            QVERIFY2(!control->accessibleName().isEmpty(),
                     qPrintable(control->metaObject()->className()));
        }
        // Tab walks the controls in reading order, from the header box to Continue.
        window_->activateWindow();
        page->headerBox()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page->headerBox()));
        QList<QWidget*> order;
        for (int step = 0; step < 12 && !page->continueButton()->hasFocus(); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget();
        }
        const QList<QWidget*> expected = {page->languagePopUp(),
                                          page->searchField(),
                                          page->table(),
                                          page->firstRecordButton(),
                                          page->previousRecordButton(),
                                          page->nextRecordButton(),
                                          page->lastRecordButton(),
                                          page->preview(),
                                          page->backButton(),
                                          page->continueButton()};
        QList<QWidget*> reached;
        for (QWidget* widget : order) {
            if (expected.contains(widget) && !reached.contains(widget)) reached << widget;
        }
        for (QWidget* widget : expected) {
            if (widget->isEnabled())
                QVERIFY2(reached.contains(widget), qPrintable(widget->accessibleName()));
        }
        QCOMPARE(order.last(), static_cast<QWidget*>(page->continueButton()));

        QTest::mouseClick(page->continueButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_), QStringLiteral("ImportViewController"),
                                  kTimeout);
    }

    void aboutBoxNamesTheLibrariesWithTheVersionsRunning() {
        QMessageBox* about = window_->showAbout();
        QTRY_VERIFY(about->isVisible());
        QCOMPARE(about->text(), QStringLiteral("Pelkora ") + QStringLiteral(PELKORA_VERSION));
        const QString libraries = about->detailedText();
        QVERIFY(libraries.contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion())));
        for (const char* name : {"ICU 7", "SQLite 3.", "zlib 1.", "OpenSSL (libcrypto) 3."})
            QVERIFY2(libraries.contains(QString::fromLatin1(name)), name);
        about->close();
    }

    void languagePopUpMatchesTheTitlesAgain() {
        FieldMappingPageWidget* page = nullptr;
        openMappingPageOfTextFile(page);
        if (QTest::currentTestFailed()) return;
        QComboBox* language = page->languagePopUp();
        QCOMPARE(language->currentData().toString(), QStringLiteral("en"));
        const QString givenName = cellText(page->table(), 0, FieldMappingColumn::target);
        chooseWithKeyboard(language, language->findData(QStringLiteral("de")));
        QCOMPARE(session_->detectedLanguage(), "de");
        // "First Name" is no German title.
        QVERIFY(cellText(page->table(), 0, FieldMappingColumn::target) != givenName);
        chooseWithKeyboard(language, language->findData(QStringLiteral("en")));
        QCOMPARE(cellText(page->table(), 0, FieldMappingColumn::target), givenName);
    }

    void mappingMenuMapsAgainWithTheOptionsTheSheetStores() {
        QMenu* menu = nullptr;
        for (auto* candidate : window_->findChildren<QMenu*>()) {
            if (candidate->title() == QStringLiteral("&Mapping")) menu = candidate;
        }
        QVERIFY(menu);
        QVERIFY(!menu->isEnabled());  // the start page has no mapping
        FieldMappingPageWidget* page = nullptr;
        openMappingPageOfTextFile(page);
        if (QTest::currentTestFailed()) return;
        QVERIFY(menu->isEnabled());
        QTRY_VERIFY(page->hintBar()->isVisible());  // the note after the automatic run
        emit menu->aboutToShow();
        for (auto* action : menu->actions()) {
            if (action->text() == QStringLiteral("Map with &Options…")) action->trigger();
        }
        auto* sheet = window_->findChild<MappingOptionsSheet*>();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QVERIFY(sheet->appendUnmappedFieldsBox()->isChecked());
        sheet->appendUnmappedFieldsBox()->click();
        QTest::mouseClick(sheet->mapButton(), Qt::LeftButton);
        QVERIFY(!settings_->boolForKey("AppendUnmappedFieldsToNotes"));
        // A run the user asked for shows no note.
        QTRY_VERIFY(!page->page().isMapping() && page->hintBar()->isHidden());
        settings_->set("AppendUnmappedFieldsToNotes", PropertyValue(true));  // for the next tests
    }

    // Save Mapping stores the mapping under the proposed title; after the mapping is cleared,
    // Apply Saved Mapping brings it back.
    void mappingMenuSavesAndAppliesAMapping() {
        QMenu* menu = nullptr;
        for (auto* candidate : window_->findChildren<QMenu*>()) {
            if (candidate->title() == QStringLiteral("&Mapping")) menu = candidate;
        }
        QVERIFY(menu);
        FieldMappingPageWidget* page = nullptr;
        openMappingPageOfTextFile(page);
        if (QTest::currentTestFailed()) return;
        QTRY_VERIFY(!page->page().isMapping());
        const QString target = cellText(page->table(), 0, FieldMappingColumn::target);
        QVERIFY(!target.isEmpty());
        auto trigger = [](QMenu* in, const QString& text) {
            emit in->aboutToShow();
            for (auto* action : in->actions()) {
                if (action->text() == text) {
                    action->trigger();
                    return true;
                }
            }
            return false;
        };
        QVERIFY(trigger(menu, QStringLiteral("&Save Mapping…")));
        auto* sheet = window_->findChild<SaveMappingSheet*>();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->titleField()->text(), QStringLiteral("contacts"));
        sheet->titleField()->setText(QStringLiteral("Shop export"));
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        QVERIFY(session_->mappingStore().findByTitle("Shop export"));

        page->page().clearMapping(*session_);
        page->refresh();
        QTRY_VERIFY(cellText(page->table(), 0, FieldMappingColumn::target) != target);
        auto* apply = menu->findChild<QMenu*>(QStringLiteral("ApplySavedMappingMenu"));
        QVERIFY(apply);
        QVERIFY(trigger(apply, QStringLiteral("Shop export")));
        QTRY_COMPARE(cellText(page->table(), 0, FieldMappingColumn::target), target);
        QCOMPARE(session_->mappingStore().findByTitle("Shop export")->usageCount, 1);
        std::vector<std::string> uuids{session_->mappingStore().findByTitle("Shop export")->uuid};
        QVERIFY(session_->mappingStore().remove(uuids));  // for the next tests
    }

    void previewColoursCharactersByClass() {
        (void)session_->openFiles({std::filesystem::path(PELKORA_EXAMPLES_DIR) / "contacts.csv"});
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_),
                                  QStringLiteral("SetTextEncodingViewController"), kTimeout);
        auto* page = qobject_cast<EncodingPageWidget*>(window_->currentPageWidget());
        QVERIFY(page);
        auto colourAt = [&](const QString& word, int offset) {
            const int position = page->preview()->toPlainText().indexOf(word) + offset;
            QTextCursor cursor(page->preview()->document());
            cursor.setPosition(position + 1);  // the format of the character before the cursor
            return cursor.charFormat().foreground().color();
        };
        const QPalette& palette = page->preview()->palette();
        QCOMPARE(colourAt(QStringLiteral("Müller"), 1), warningColour(palette));
        QCOMPARE(colourAt(QStringLiteral("Müller"), 0), palette.color(QPalette::Text));
        QCOMPARE(colourAt(QStringLiteral("Łucja"), 0), warningColour(palette));
        // The dark palette's red is lighter than the light palette's: both read on their base.
        QPalette dark = palette;
        dark.setColor(QPalette::Base, Qt::black);
        QVERIFY(warningColour(dark).lightness() > warningColour(palette).lightness());
    }

    void editMenuCopiesFromTheFocusedPreview() {
        (void)session_->openFiles({std::filesystem::path(PELKORA_EXAMPLES_DIR) / "contacts.csv"});
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_),
                                  QStringLiteral("SetTextEncodingViewController"), kTimeout);
        auto* page = qobject_cast<EncodingPageWidget*>(window_->currentPageWidget());
        QVERIFY(page);
        QApplication::clipboard()->clear();
        window_->activateWindow();
        page->preview()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page->preview()));
        auto trigger = [&](const QString& title) {
            for (auto* action : window_->findChildren<QAction*>()) {
                if (action->text() == title) {
                    action->trigger();
                    return true;
                }
            }
            return false;
        };
        QVERIFY(trigger(QStringLiteral("Select &All")));
        QVERIFY(trigger(QStringLiteral("&Copy")));
        QVERIFY(QApplication::clipboard()->text().startsWith(QStringLiteral("First Name,")));
        QVERIFY(QApplication::clipboard()->text().contains(QStringLiteral("Müller")));
    }

    void openAsTextReadsAWorkbookAsTextAndThePanelChoiceDoesNotStick() {
        window_->importFromFile();
        QVERIFY(window_->openPanel());
        QComboBox* openAs = window_->openPanel()->openAsPopUp();
        QCOMPARE(openAs->count(), 3);
        chooseWithKeyboard(openAs, 2);
        QCOMPARE(session_->openAsFileType(), OpenAsFileType::text);
        window_->openPanel()->selectFile(kExamples + QStringLiteral("/contacts.xlsx"));
        static_cast<QDialog*>(window_->openPanel())->accept();
        // A workbook read as text is a zip archive's bytes: the encoding page, not the sheets.
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_),
                                  QStringLiteral("SetTextEncodingViewController"), kTimeout);
        QVERIFY(!window_->sheetChooser());
        QCOMPARE(session_->openAsFileType(), OpenAsFileType::determineAutomatically);
    }

    void recentFileOpensAgainFromTheMenu() {
        (void)session_->openFiles({std::filesystem::path(PELKORA_EXAMPLES_DIR) / "contacts.csv"});
        QTRY_VERIFY_WITH_TIMEOUT(
            window_->recentFiles().value(0) == kExamples + QStringLiteral("/contacts.csv"),
            kTimeout);
        session_->startOver();
        QTRY_COMPARE(pageShown(*window_), QStringLiteral("InitialViewController"));
        QMenu* recent = nullptr;
        QAction* item = nullptr;
        for (auto* menu : window_->findChildren<QMenu*>()) {
            if (menu->title() == QStringLiteral("Open &Recent")) recent = menu;
        }
        QVERIFY(recent);
        emit recent->aboutToShow();
        for (auto* action : recent->actions()) {
            if (action->text() == QStringLiteral("contacts.csv")) item = action;
        }
        QVERIFY(item);
        item->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(pageShown(*window_),
                                  QStringLiteral("SetTextEncodingViewController"), kTimeout);
    }

    void alertButtonsAnswerWithTheirIndex() {
        std::optional<std::size_t> answer;
        session_->showAlert(Alert{.heading = "Could not parse Excel file",
                                  .text = "The file might be corrupted.",
                                  .detail = "The part xl/worksheets/sheet1.xml is damaged.",
                                  .buttons = {"OK", "Open Runtime Log"},
                                  .completion = [&](std::size_t index) { answer = index; }});
        QTRY_VERIFY(window_->alertBox() && window_->alertBox()->isVisible());
        // The failing part's own words come below the text.
        QCOMPARE(window_->alertBox()->informativeText(),
                 QStringLiteral("The file might be corrupted.\n\n"
                                "The part xl/worksheets/sheet1.xml is damaged."));
        const auto buttons = window_->alertBox()->buttons();
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(window_->alertBox()->defaultButton()->text(), QStringLiteral("OK"));
        for (auto* button : buttons) {
            if (button->text() == QStringLiteral("Open Runtime Log"))
                QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(answer, std::optional<std::size_t>(1));

        answer.reset();
        session_->showAlert(Alert{.heading = "Heading",
                                  .text = "Text",
                                  .detail = {},
                                  .buttons = {"OK", "Open Runtime Log"},
                                  .completion = [&](std::size_t index) { answer = index; }});
        QTRY_VERIFY(window_->alertBox() && window_->alertBox()->isVisible());
        QTest::keyClick(window_->alertBox(), Qt::Key_Escape);
        QCOMPARE(answer, std::optional<std::size_t>(0));
    }

    void cancelledSheetChooserReturnsToTheStartPage() {
        (void)session_->openFiles({std::filesystem::path(PELKORA_EXAMPLES_DIR) / "contacts.xlsx"});
        QTRY_VERIFY_WITH_TIMEOUT(window_->sheetChooser(), kTimeout);
        window_->sheetChooser()->reject();
        QTRY_VERIFY(!session_->excelReader());
        QTRY_COMPARE(pageShown(*window_), QStringLiteral("InitialViewController"));
        QTRY_VERIFY(!window_->progressSheet()->isVisible());
    }

    void pasteboardNamesFilesOnlyWhenAllAreLocal_data() {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("namesFiles");
        const QUrl local = QUrl::fromLocalFile(QStringLiteral("/home/anna/contacts.csv"));
        const QUrl second = QUrl::fromLocalFile(QStringLiteral("/home/anna/more.vcf"));
        const QUrl web(QStringLiteral("https://example.org/contacts.csv"));
        QTest::newRow("one local file") << QList<QUrl>{local} << true;
        QTest::newRow("two local files") << QList<QUrl>{local, second} << true;
        QTest::newRow("a web address") << QList<QUrl>{web} << false;
        QTest::newRow("local and web") << QList<QUrl>{local, web} << false;
        QTest::newRow("nothing") << QList<QUrl>{} << false;
    }

    void pasteboardNamesFilesOnlyWhenAllAreLocal() {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, namesFiles);
        QMimeData data;
        data.setUrls(urls);
        const Pasteboard pasteboard = pasteboardFromMimeData(data);
        QCOMPARE(pasteboard.filenames.has_value(), namesFiles);
        QCOMPARE(std::find(pasteboard.types.begin(), pasteboard.types.end(),
                           std::string(kFilenamesPboardType)) != pasteboard.types.end(),
                 namesFiles);
        if (namesFiles) QCOMPARE(pasteboard.filenames->size(), std::size_t(urls.size()));
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
    return pelkora::gui::test::runWidgetTests<MainWindowTest>(argc, argv);
}

#include "MainWindowTest.moc"
