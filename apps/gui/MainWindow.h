#pragma once

// The main window: one page of the wizard at a time in a stacked content area, the menus,
// and the session's front end — the progress sheet, alerts, the sheet chooser, the open
// panel and drops of files anywhere on the window. It draws what the session and the page
// models say and forwards what the user does; it decides nothing about files itself.

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "OpenPanel.h"
#include "SheetChooser.h"
#include "session/ImportSession.h"

class QMenu;
class QMimeData;
class QStackedWidget;

namespace pelkora::gui {

class MappingsWindow;
class ImportsWindow;
class PreferencesWindow;
class ProgressSheet;

class MainWindow final : public QMainWindow, public SessionFrontEnd {
    Q_OBJECT

  public:
    // Becomes the session's front end; the session must outlive the window.
    explicit MainWindow(ImportSession& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    // SessionFrontEnd
    void currentPageDidChange(Page& page) override;
    void currentProgressDidChange(const std::shared_ptr<Progress>& progress) override;
    void showProgressSheet() override;
    void closeProgressSheet() override;
    void showAlert(const Alert& alert) override;
    void bringToFront() override;
    void beep() override;
    void chooseSheet(const std::vector<SheetChoice>& sheets) override;

    // The start page's import button: runs the open panel (window-modal, returns at once).
    void importFromFile();
    // File ▸ Open: starts over, then runs the open panel, when contacts may be used.
    void openDocument();

    // The widget of the page shown now.
    QWidget* currentPageWidget() const;
    // What is up now, for tests and screenshots; null when nothing is.
    OpenPanel* openPanel() const { return openPanel_; }
    ProgressSheet* progressSheet() const { return progressSheet_; }
    QMessageBox* alertBox() const { return alertBox_; }
    SheetChooser* sheetChooser() const { return sheetChooser_; }
    // File ▸ Open Recent, newest first.
    QStringList recentFiles() const;
    // Shows the About box (window-modal, returns at once).
    QMessageBox* showAbout();
    // File ▸ Saved Mappings: the one mappings window, opened or brought to the front.
    MappingsWindow* showMappings();
    // The recorded imports, where one can be undone (File ▸ Recorded Imports…).
    ImportsWindow* showImports();
    // Edit ▸ Preferences: the one preferences window, opened or brought to the front.
    PreferencesWindow* showPreferences();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildMenus();
    void fillRecentMenu();
    void rememberRecentFile(const QString& path);
    void refreshCurrentPage();

    ImportSession& session_;
    QStackedWidget* content_;
    QMenu* recentMenu_ = nullptr;
    ProgressSheet* progressSheet_;
    std::shared_ptr<Progress> progress_;
    QPointer<OpenPanel> openPanel_;
    QPointer<QMessageBox> alertBox_;
    QPointer<SheetChooser> sheetChooser_;
    QPointer<MappingsWindow> mappingsWindow_;
    QPointer<ImportsWindow> importsWindow_;
    QPointer<PreferencesWindow> preferencesWindow_;
    std::optional<std::uint64_t> recentObservation_;
};

// The pasteboard the session sees for dragged data: the file names when every item is a
// local file, else only the data's types.
Pasteboard pasteboardFromMimeData(const QMimeData& data);

}  // namespace pelkora::gui
