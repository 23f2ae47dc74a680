#pragma once

// What the window calls each wizard page (its title bar and headings), and the
// pieces every page shows alike: its margins, its heading, and Back and Continue below it.

#include <QString>
#include <string_view>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace pelkora::gui {

// "Text Encoding" for "SetTextEncodingViewController"; the registry name itself for a page
// without a title here.
QString pageTitle(std::string_view pageName);

// A page's column of rows, with the margins and spacing every page has.
QVBoxLayout* makePageLayout(QWidget* page);

// A page's heading: bold, `scale` times the normal size.
QLabel* makePageHeading(const QString& title, QWidget* parent, double scale = 1.5);

// Back on the left, Continue (the default button) on the right, in one row.
struct PageButtons {
    QPushButton* back = nullptr;
    QPushButton* next = nullptr;
    QHBoxLayout* row = nullptr;
};
PageButtons makePageButtons(QWidget* parent);

}  // namespace pelkora::gui
