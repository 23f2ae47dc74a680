#pragma once

// A page the desktop window does not draw yet (field mapping, import, the vCard scan and the
// address-book access pages): its title, a note, and back and continue wired to the session,
// so the wizard can be walked from end to end.

#include <QWidget>

class QPushButton;

namespace pelkora {
class ImportSession;
class Page;
}  // namespace pelkora

namespace pelkora::gui {

class PlaceholderPageWidget final : public QWidget {
    Q_OBJECT

  public:
    PlaceholderPageWidget(ImportSession& session, Page& page, QWidget* parent = nullptr);

    QPushButton* backButton() const { return back_; }
    QPushButton* continueButton() const { return continue_; }

  private:
    QPushButton* back_;
    QPushButton* continue_;
};

}  // namespace pelkora::gui
