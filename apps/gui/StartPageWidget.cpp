#include "StartPageWidget.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "session/Page.h"

namespace pelkora::gui {

// A rounded, dashed frame that turns into a solid highlight while files hover.
class DropTarget final : public QWidget {
  public:
    explicit DropTarget(QWidget* parent) : QWidget(parent) {
        setMinimumSize(520, 220);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(32, 32, 32, 32);
        layout->addStretch();
        auto* headline = new QLabel(tr("Drop a file here"), this);
        QFont headlineFont = headline->font();
        headlineFont.setPointSizeF(headlineFont.pointSizeF() * 1.5);
        headlineFont.setBold(true);
        headline->setFont(headlineFont);
        headline->setAlignment(Qt::AlignCenter);
        auto* kinds =
            new QLabel(tr("Text files (CSV, tab- or semicolon-separated, in any encoding), "
                          "Excel workbooks (.xlsx) or one or more vCard files"),
                       this);
        kinds->setAlignment(Qt::AlignCenter);
        kinds->setWordWrap(true);
        kinds->setForegroundRole(QPalette::PlaceholderText);
        layout->addWidget(headline);
        layout->addWidget(kinds);
        layout->addStretch();
        setAccessibleName(tr("Drop target for files"));
    }

    void setHighlighted(bool highlighted) {
        if (highlighted_ == highlighted) return;
        highlighted_ = highlighted;
        update();
    }
    bool isHighlighted() const { return highlighted_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect()).adjusted(2, 2, -2, -2);
        QPainterPath path;
        path.addRoundedRect(frame, 14, 14);
        QColor border = palette().color(highlighted_ ? QPalette::Highlight : QPalette::Mid);
        if (highlighted_) {
            QColor fill = palette().color(QPalette::Highlight);
            fill.setAlphaF(0.15);
            painter.fillPath(path, fill);
        }
        QPen pen(border, highlighted_ ? 3 : 2, highlighted_ ? Qt::SolidLine : Qt::DashLine);
        painter.setPen(pen);
        painter.drawPath(path);
    }

  private:
    bool highlighted_ = false;
};

StartPageWidget::StartPageWidget(const InitialPage& page, QWidget* parent)
    : QWidget(parent), page_(page) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(48, 40, 48, 40);
    layout->setSpacing(16);

    auto* heading = new QLabel(tr("Import Contacts"), this);
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 2);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    heading->setAlignment(Qt::AlignCenter);

    auto* explanation = new QLabel(
        tr("Pelkora reads the columns of your file, matches each to a contact property and "
           "saves one contact per row into your address book."),
        this);
    explanation->setAlignment(Qt::AlignCenter);
    explanation->setWordWrap(true);

    dropTarget_ = new DropTarget(this);

    importButton_ = new QPushButton(tr("&Import from File…"), this);
    importButton_->setAccessibleName(tr("Import from File"));
    importButton_->setDefault(true);
    importButton_->setMinimumWidth(220);
    connect(importButton_, &QPushButton::clicked, this, &StartPageWidget::importRequested);

    layout->addWidget(heading);
    layout->addWidget(explanation);
    layout->addWidget(dropTarget_, 1);
    layout->addWidget(importButton_, 0, Qt::AlignHCenter);
    setFocusProxy(importButton_);
    refresh();
}

void StartPageWidget::refresh() {
    dropTarget_->setHighlighted(page_.isDropTargetHighlighted());
}

bool StartPageWidget::isDropTargetHighlighted() const {
    return dropTarget_->isHighlighted();
}

}  // namespace pelkora::gui
