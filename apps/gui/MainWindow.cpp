#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QUrl>

#include "AccessPageWidget.h"
#include "ApplicationIdentity.h"
#include "EncodingPageWidget.h"
#include "FieldMappingPageWidget.h"
#include "ImportPageWidget.h"
#include "ImportsWindow.h"
#include "MappingOptionsSheet.h"
#include "MappingsWindow.h"
#include "OpenPanel.h"
#include "PageTitles.h"
#include "PreferencesWindow.h"
#include "ProgressSheet.h"
#include "SheetChooser.h"
#include "StartPageWidget.h"
#include "VCardScanPageWidget.h"
#include "session/FieldMappingPage.h"
#include "session/ImportPage.h"
#include "session/SetTextEncodingPage.h"
#include "session/VCFScanPage.h"
#include "support/Localization.h"
#include "support/Settings.h"

namespace pelkora::gui {
namespace {

// A message box as wide as its text needs to read well, its heading in bold. The labels are
// styled by Qt's own object names, so text() stays the plain heading.
void styleMessageBox(QMessageBox& box) {
    box.setStyleSheet(
        QStringLiteral("QLabel#qt_msgbox_label { font-weight: bold; }"
                       "QLabel#qt_msgbox_informativelabel { min-width: 400px; }"));
}

constexpr int kRecentFilesLimit = 10;
const char* const kRecentFilesKey = "RecentFiles";
const char* const kWindowSizeKey = "MainWindow/size";

std::vector<std::filesystem::path> toPaths(const QStringList& files) {
    std::vector<std::filesystem::path> paths;
    for (const auto& file : files) paths.emplace_back(file.toStdString());
    return paths;
}

}  // namespace

Pasteboard pasteboardFromMimeData(const QMimeData& data) {
    Pasteboard pasteboard;
    std::vector<std::string> files;
    for (const auto& url : data.urls()) {
        if (!url.isLocalFile()) {
            files.clear();
            break;
        }
        files.push_back(url.toLocalFile().toStdString());
    }
    if (!files.empty()) {
        pasteboard.types.emplace_back(kFilenamesPboardType);
        pasteboard.filenames = std::move(files);
        return pasteboard;
    }
    for (const auto& format : data.formats()) pasteboard.types.push_back(format.toStdString());
    return pasteboard;
}

MainWindow::MainWindow(ImportSession& session, QWidget* parent)
    : QMainWindow(parent), session_(session) {
    content_ = new QStackedWidget(this);
    content_->setMinimumSize(kMinimumContentWidth, kMinimumContentHeight);
    setCentralWidget(content_);
    setAcceptDrops(true);

    progressSheet_ = new ProgressSheet(this);
    connect(progressSheet_, &ProgressSheet::cancelRequested, this,
            [this] { session_.cancelCurrentProgress(); });

    buildMenus();
    const QSize saved = QSettings().value(kWindowSizeKey).toSize();
    resize(saved.isValid() ? saved.expandedTo(minimumSizeHint()) : QSize(1100, 720));

    // The session writes the last opened document when it has accepted a file: that is what
    // Open Recent lists, so refused files never appear there.
    recentObservation_ = session_.settings().observe(
        SettingKey::MostRecentDocumentFileURL, [this](const std::string&) {
            const auto url =
                session_.settings().stringForKey(SettingKey::MostRecentDocumentFileURL);
            if (!url) return;
            const QString path = QUrl(QString::fromStdString(*url)).toLocalFile();
            QMetaObject::invokeMethod(
                this, [this, path] { rememberRecentFile(path); }, Qt::QueuedConnection);
        });
    session_.setFrontEnd(this);
}

MainWindow::~MainWindow() {
    if (recentObservation_) session_.settings().removeObserver(*recentObservation_);
    session_.setFrontEnd(nullptr);
}

void MainWindow::buildMenus() {
    auto* file = menuBar()->addMenu(tr("&File"));
    auto* open = file->addAction(tr("&Open…"), this, &MainWindow::openDocument);
    open->setShortcut(QKeySequence::Open);
    recentMenu_ = file->addMenu(tr("Open &Recent"));
    connect(recentMenu_, &QMenu::aboutToShow, this, &MainWindow::fillRecentMenu);
    fillRecentMenu();
    file->addSeparator();
    auto* startOver = file->addAction(tr("&Start Over"), this, [this] { session_.startOver(); });
    startOver->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    file->addSeparator();
    auto* mappings = file->addAction(tr("Saved &Mappings…"), this, &MainWindow::showMappings);
    mappings->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M));
    auto* imports = file->addAction(tr("Recorded &Imports…"), this, &MainWindow::showImports);
    imports->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I));
    file->addSeparator();
    auto* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    // The standard editing commands go to whichever text field has the focus.
    auto* edit = menuBar()->addMenu(tr("&Edit"));
    struct EditCommand {
        const char* title;
        QKeySequence::StandardKey key;
        const char* slot;
    };
    static constexpr EditCommand kEditCommands[] = {
        {N_("&Undo"), QKeySequence::Undo, "undo"},
        {N_("&Redo"), QKeySequence::Redo, "redo"},
        {N_("Cu&t"), QKeySequence::Cut, "cut"},
        {N_("&Copy"), QKeySequence::Copy, "copy"},
        {N_("&Paste"), QKeySequence::Paste, "paste"},
        {N_("&Delete"), QKeySequence::Delete, "del"},
        {N_("Select &All"), QKeySequence::SelectAll, "selectAll"},
    };
    for (const auto& command : kEditCommands) {
        if (command.key == QKeySequence::Cut || command.key == QKeySequence::SelectAll)
            edit->addSeparator();
        auto* action = edit->addAction(tr(command.title));
        action->setShortcut(command.key);
        const char* slot = command.slot;
        connect(action, &QAction::triggered, this, [slot] {
            // Only widgets that edit text have these slots (QLineEdit has all, a plain text
            // view some); for the rest the command does nothing.
            auto* focus = QApplication::focusWidget();
            if (focus && focus->metaObject()->indexOfSlot(QByteArray(slot) + "()") >= 0)
                QMetaObject::invokeMethod(focus, slot);
        });
    }

    edit->addSeparator();
    auto* preferences = edit->addAction(tr("Pr&eferences…"), this, &MainWindow::showPreferences);
    preferences->setShortcut(QKeySequence::Preferences);
    if (preferences->shortcut().isEmpty())
        preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));

    addMappingMenu(*this, session_);
    auto* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("Open Runtime &Log"), this, [this] { session_.openRuntimeLog(); });
    help->addSeparator();
    help->addAction(tr("&About Pelkora"), this, [this] { showAbout(); });
}

namespace {

// A window of the main window's, made when first asked for and brought to the front; an open
// one reads its content again where it can.
template <class Window>
Window* shownWindow(QPointer<Window>& window, ImportSession& session, QWidget* parent) {
    if (!window) {
        window = new Window(session, parent);
        window->setAttribute(Qt::WA_DeleteOnClose);
    } else if constexpr (requires { window->reload(); }) {
        window->reload();
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace

MappingsWindow* MainWindow::showMappings() {
    return shownWindow(mappingsWindow_, session_, this);
}

ImportsWindow* MainWindow::showImports() {
    return shownWindow(importsWindow_, session_, this);
}

PreferencesWindow* MainWindow::showPreferences() {
    return shownWindow(preferencesWindow_, session_, this);
}

QStringList MainWindow::recentFiles() const {
    return QSettings().value(kRecentFilesKey).toStringList();
}

void MainWindow::rememberRecentFile(const QString& path) {
    if (path.isEmpty()) return;
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > kRecentFilesLimit) files.removeLast();
    QSettings().setValue(kRecentFilesKey, files);
    fillRecentMenu();
}

void MainWindow::fillRecentMenu() {
    recentMenu_->clear();
    const QStringList files = recentFiles();
    for (const auto& path : files) {
        auto* action = recentMenu_->addAction(QFileInfo(path).fileName(), this, [this, path] {
            (void)session_.openFiles({std::filesystem::path(path.toStdString())});
        });
        action->setToolTip(path);
        action->setStatusTip(path);
    }
    if (!files.isEmpty()) recentMenu_->addSeparator();
    auto* clear = recentMenu_->addAction(tr("&Clear Menu"), this, [this] {
        QSettings().remove(kRecentFilesKey);
        fillRecentMenu();
    });
    clear->setEnabled(!files.isEmpty());
}

// Pages

void MainWindow::currentPageDidChange(Page& page) {
    QWidget* widget = nullptr;
    if (auto* initial = dynamic_cast<InitialPage*>(&page)) {
        auto* start = new StartPageWidget(*initial, content_);
        connect(start, &StartPageWidget::importRequested, this, &MainWindow::importFromFile);
        widget = start;
    } else if (auto* encoding = dynamic_cast<SetTextEncodingPage*>(&page)) {
        widget = new EncodingPageWidget(session_, *encoding, content_);
    } else if (auto* mapping = dynamic_cast<FieldMappingPage*>(&page)) {
        widget = new FieldMappingPageWidget(session_, *mapping, content_);
    } else if (auto* import = dynamic_cast<ImportPage*>(&page)) {
        widget = new ImportPageWidget(session_, *import, content_);
    } else if (auto* scan = dynamic_cast<VCFScanPage*>(&page)) {
        widget = new VCardScanPageWidget(session_, *scan, content_);
    } else {
        widget = new AccessPageWidget(session_, page.name(), content_);
    }
    widget->setObjectName(QString::fromStdString(page.name()));
    // The old widget views the old page, which the session has just destroyed: it goes now.
    while (content_->count() > 0) {
        QWidget* old = content_->widget(0);
        content_->removeWidget(old);
        old->deleteLater();
        old->hide();
    }
    content_->addWidget(widget);
    content_->setCurrentWidget(widget);
    enableMappingMenu(*this);
    setWindowTitle(pageTitle(page.name()));
    if (isActiveWindow()) widget->setFocus();
}

QWidget* MainWindow::currentPageWidget() const {
    return content_->currentWidget();
}

void MainWindow::refreshCurrentPage() {
    if (auto* start = qobject_cast<StartPageWidget*>(content_->currentWidget())) start->refresh();
}

// Progress, alerts, sheets

void MainWindow::currentProgressDidChange(const std::shared_ptr<Progress>& progress) {
    progress_ = progress;
    progressSheet_->setProgress(progress);
}

void MainWindow::showProgressSheet() {
    progressSheet_->setProgress(progress_);
    if (!sheetChooser_) progressSheet_->open();
}

void MainWindow::closeProgressSheet() {
    progressSheet_->hide();
}

void MainWindow::showAlert(const Alert& alert) {
    const QMessageBox::Icon icon = alert.style == AlertStyle::informational
                                       ? QMessageBox::Information
                                   : alert.style == AlertStyle::warning ? QMessageBox::Warning
                                                                        : QMessageBox::Critical;
    auto* box = new QMessageBox(icon, QGuiApplication::applicationDisplayName(),
                                QString::fromStdString(alert.heading), QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    // The failing part's own words, when there are any, follow the text as a paragraph.
    QString text = QString::fromStdString(alert.text);
    if (!alert.detail.empty())
        text += QStringLiteral("\n\n") + QString::fromStdString(alert.detail);
    box->setInformativeText(text);
    styleMessageBox(*box);
    std::vector<QAbstractButton*> buttons;
    const std::vector<std::string> titles =
        alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons;
    for (std::size_t index = 0; index < titles.size(); ++index) {
        // The first button answers Return; the others sit beside it as actions.
        auto* button =
            box->addButton(QString::fromStdString(titles[index]),
                           index == 0 ? QMessageBox::AcceptRole : QMessageBox::ActionRole);
        button->setAccessibleName(QString::fromStdString(titles[index]));
        buttons.push_back(button);
    }
    box->setDefaultButton(qobject_cast<QPushButton*>(buttons.front()));
    box->setEscapeButton(buttons.front());
    connect(box, &QMessageBox::buttonClicked, this,
            [completion = alert.completion, buttons](QAbstractButton* clicked) {
                const auto chosen = std::find(buttons.begin(), buttons.end(), clicked);
                if (completion && chosen != buttons.end())
                    completion(static_cast<std::size_t>(chosen - buttons.begin()));
            });
    alertBox_ = box;
    box->open();
}

void MainWindow::bringToFront() {
    show();
    raise();
    activateWindow();
}

void MainWindow::beep() {
    QApplication::beep();
}

void MainWindow::chooseSheet(const std::vector<SheetChoice>& sheets) {
    // The workbook's progress waits behind the chooser and comes back once a sheet is chosen.
    progressSheet_->hide();
    auto* chooser = new SheetChooser(sheets, this);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser, &QDialog::finished, this, [this, chooser](int result) {
        if (result == QDialog::Accepted) {
            session_.sheetSelected(chooser->selectedSheetId());
            if (session_.isProgressSheetShown()) progressSheet_->open();
        } else {
            session_.sheetSelected(std::nullopt);
            session_.startOver();
        }
    });
    sheetChooser_ = chooser;
    chooser->open();
}

// Opening

void MainWindow::importFromFile() {
    auto* panel = new OpenPanel(this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &OpenPanel::openAsFileTypeChosen, this,
            [this](int tag) { session_.setOpenAsFileType(tag); });
    connect(panel, &QDialog::finished, this, [this, panel](int result) {
        if (result == QDialog::Accepted)
            session_.openPanelDidEnd(toPaths(panel->selectedFiles()));
        else
            session_.openPanelDidEnd(std::nullopt);
    });
    openPanel_ = panel;
    panel->open();
}

void MainWindow::openDocument() {
    if (session_.openDocument()) importFromFile();
}

QMessageBox* MainWindow::showAbout() {
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setWindowTitle(tr("About Pelkora"));
    box->setIconPixmap(QGuiApplication::windowIcon().pixmap(64, 64));
    box->setText(applicationNameAndVersion());
    styleMessageBox(*box);
    box->setInformativeText(
        tr("Imports contacts from CSV and other delimited text files, Excel workbooks and vCard "
           "files into your address book."));
    // The libraries the program is built on, with the versions it runs with where the library
    // says, and their licences.
    QStringList libraries;
    for (const auto& library : libraryNotices())
        libraries
            << QStringLiteral("%1 %2 — %3").arg(library.name, library.version, library.licence);
    box->setDetailedText(tr("Pelkora is built with these libraries:") + QStringLiteral("\n") +
                         libraries.join(QLatin1Char('\n')));
    box->addButton(QMessageBox::Ok)->setAccessibleName(tr("OK"));
    box->open();
    return box;
}

// Dragging files onto the window

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const auto operation = session_.draggingEntered(pasteboardFromMimeData(*event->mimeData()));
    refreshCurrentPage();
    if (operation == DragOperation::copy) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    // Accepted on entering means accepted everywhere on the window, always as a copy.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void MainWindow::dragLeaveEvent(QDragLeaveEvent* event) {
    session_.draggingExited();
    refreshCurrentPage();
    event->accept();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const bool accepted = session_.performDragOperation(pasteboardFromMimeData(*event->mimeData()));
    refreshCurrentPage();
    if (accepted) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

// Return and Enter press the page's default button (Continue, Import), as they would in a
// dialog: a key the focused control does not use itself (a pop-up, the mapping table) comes
// up to the window.
void MainWindow::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        if (QWidget* page = currentPageWidget()) {
            for (auto* button : page->findChildren<QPushButton*>()) {
                if (button->isDefault() && button->isVisible() && button->isEnabled()) {
                    button->animateClick();
                    event->accept();
                    return;
                }
            }
        }
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QSettings().setValue(kWindowSizeKey, size());
    QMainWindow::closeEvent(event);
}

}  // namespace pelkora::gui
