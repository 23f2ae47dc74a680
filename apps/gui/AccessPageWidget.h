#pragma once

// The pages shown instead of the start page while the program may not use the address book:
// access refused, restricted on this computer, or asked for and not yet answered. They say
// what is going on and what the user can do; the session moves on by itself once access is
// granted.

#include <QWidget>
#include <string_view>

class QLabel;

namespace pelkora {
class ImportSession;
}

namespace pelkora::gui {

class AccessPageWidget final : public QWidget {
    Q_OBJECT

  public:
    // `pageName` is one of the three access pages' registry names.
    AccessPageWidget(ImportSession& session, std::string_view pageName, QWidget* parent = nullptr);

    QLabel* explanationLabel() const { return explanation_; }

  private:
    QLabel* explanation_;
};

}  // namespace pelkora::gui
