#pragma once

// The open panel: Qt's file dialog, files only, several at once, with the "Open as" pop-up
// (tags 1 to 3 of OpenAsFileType) below the file list. Qt's own dialog rather than the
// desktop portal's, because a portal dialog cannot carry the pop-up.

#include <QFileDialog>

class QComboBox;

namespace pelkora::gui {

class OpenPanel final : public QFileDialog {
    Q_OBJECT

  public:
    explicit OpenPanel(QWidget* parent);

    QComboBox* openAsPopUp() const { return openAs_; }

  signals:
    // The pop-up chose the item with this tag.
    void openAsFileTypeChosen(int tag);

  private:
    QComboBox* openAs_;
};

}  // namespace pelkora::gui
