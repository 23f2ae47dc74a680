#pragma once

// The start page: what the program does, a drop target that lights up while files hover
// over the window, and the button that runs the open panel. The window handles the drag
// itself (the whole window accepts drops); this page only shows the highlight the page
// model holds.

#include <QWidget>

class QPushButton;

namespace pelkora {
class InitialPage;
}

namespace pelkora::gui {

class DropTarget;

class StartPageWidget final : public QWidget {
    Q_OBJECT

  public:
    StartPageWidget(const InitialPage& page, QWidget* parent = nullptr);

    // Redraws the drop target from the page model's highlight.
    void refresh();
    QPushButton* importButton() const { return importButton_; }
    bool isDropTargetHighlighted() const;

  signals:
    void importRequested();

  private:
    const InitialPage& page_;
    DropTarget* dropTarget_;
    QPushButton* importButton_;
};

}  // namespace pelkora::gui
