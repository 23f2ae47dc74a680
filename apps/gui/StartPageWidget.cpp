#include "StartPageWidget.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "PageTitles.h"
#include "session/Page.h"

namespace pelkora::gui {

// A rounded, dashed frame that turns into a solid highlight while files hover.
class DropTarget final : public QWidget {
  public:
    explicit DropTarget(QWidget* parent) : QWidget(parent) {
        setMinimumSize(520, 300);
        setMaximumSize(880, 440);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(32, 32, 32, 32);
        layout->addStretch();
        layout->addSpacing(kGlyphHeight + 16);
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
        drawGlyph(painter);
    }

  private:
    static constexpr int kGlyphHeight = 72;

    // A sheet of paper with a folded corner and an arrow pointing down into it.
    void drawGlyph(QPainter& painter) const {
        const QColor colour = palette().color(highlighted_ ? QPalette::Highlight : QPalette::Mid);
        const qreal height = kGlyphHeight, width = height * 0.78, fold = width * 0.32;
        const QPointF origin((this->width() - width) / 2, this->height() / 2.0 - height - 8);
        QPainterPath paper;
        paper.moveTo(origin);
        paper.lineTo(origin + QPointF(width - fold, 0));
        paper.lineTo(origin + QPointF(width, fold));
        paper.lineTo(origin + QPointF(width, height));
        paper.lineTo(origin + QPointF(0, height));
        paper.closeSubpath();
        painter.setPen(QPen(colour, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(paper);
        painter.drawPolyline(
            QPolygonF({origin + QPointF(width - fold, 0), origin + QPointF(width - fold, fold),
                       origin + QPointF(width, fold)}));
        const QPointF top = origin + QPointF(width / 2, height * 0.3);
        const QPointF tip = origin + QPointF(width / 2, height * 0.78);
        painter.drawLine(top, tip);
        painter.drawPolyline(QPolygonF({tip + QPointF(-11, -11), tip, tip + QPointF(11, -11)}));
    }

    bool highlighted_ = false;
};

StartPageWidget::StartPageWidget(const InitialPage& page, QWidget* parent)
    : QWidget(parent), page_(page) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(48, 40, 48, 40);
    layout->setSpacing(16);

    auto* heading = makePageHeading(tr("Import Contacts"), this, 2.0);
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
    layout->addStretch(1);
    layout->addWidget(dropTarget_, 4, Qt::AlignHCenter);
    layout->addSpacing(8);
    layout->addWidget(importButton_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
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
