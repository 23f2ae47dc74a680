#pragma once

// The sheet chooser: a window-modal dialog listing a workbook's sheets in workbook order, the
// first selected. Accepting answers with the chosen sheet's id; cancelling with none.

#include <QDialog>
#include <cstdint>
#include <optional>
#include <vector>

#include "session/ImportSession.h"

class QComboBox;
class QPushButton;

namespace pelkora::gui {

class SheetChooser final : public QDialog {
    Q_OBJECT

  public:
    SheetChooser(const std::vector<SheetChoice>& sheets, QWidget* parent);

    // The id of the sheet selected now.
    std::optional<std::int64_t> selectedSheetId() const;
    QComboBox* sheetPopUp() const { return sheetPopUp_; }
    QPushButton* chooseButton() const { return choose_; }

  private:
    QComboBox* sheetPopUp_;
    QPushButton* choose_;
};

}  // namespace pelkora::gui
