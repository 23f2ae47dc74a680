#include "EncodingPageWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include "PageTitles.h"
#include "PaletteColours.h"
#include "Utf8Text.h"
#include "session/ImportSession.h"
#include "session/SetTextEncodingPage.h"

namespace pelkora::gui {
namespace {

// How many line breaks a run of line-break characters holds: CR LF counts once.
int lineBreakCount(std::string_view run) {
    int count = 0;
    for (std::size_t index = 0; index < run.size(); ++index) {
        if (run[index] == '\r' && index + 1 < run.size() && run[index + 1] == '\n') ++index;
        ++count;
    }
    return count;
}

}  // namespace

EncodingPageWidget::EncodingPageWidget(ImportSession& session, SetTextEncodingPage& page,
                                       QWidget* parent)
    : QWidget(parent), session_(session), page_(page) {
    auto* layout = makePageLayout(this);

    auto* heading = makePageHeading(tr("Text Encoding"), this);
    auto* explanation = new QLabel(
        tr("Characters that do not belong to plain ASCII are shown in colour: when names with "
           "accents or other special characters look wrong, choose another encoding."),
        this);
    explanation->setWordWrap(true);

    auto* encodingRow = new QHBoxLayout;
    auto* encodingLabel = new QLabel(tr("&Encoding:"), this);
    encodingPopUp_ = new QComboBox(this);
    encodingPopUp_->setAccessibleName(tr("Encoding"));
    encodingPopUp_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    encodingPopUp_->setMaxVisibleItems(24);
    encodingLabel->setBuddy(encodingPopUp_);
    invisibles_ = new QCheckBox(tr("Show &invisible characters"), this);
    invisibles_->setAccessibleName(tr("Show invisible characters"));
    encodingRow->addWidget(encodingLabel);
    encodingRow->addWidget(encodingPopUp_);
    encodingRow->addStretch();
    encodingRow->addWidget(invisibles_);

    preview_ = new QPlainTextEdit(this);
    preview_->setReadOnly(true);
    preview_->setLineWrapMode(QPlainTextEdit::NoWrap);
    preview_->setAccessibleName(tr("Preview of the file"));
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(11);
    preview_->setFont(fixed);
    preview_->document()->setDocumentMargin(10);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setAccessibleName(tr("Status"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const PageButtons pageButtons = makePageButtons(this);
    back_ = pageButtons.back;
    continue_ = pageButtons.next;
    QHBoxLayout* buttons = pageButtons.row;

    layout->addWidget(heading);
    layout->addWidget(explanation);
    layout->addLayout(encodingRow);
    layout->addWidget(preview_, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    setTabOrder(encodingPopUp_, invisibles_);
    setTabOrder(invisibles_, preview_);
    setTabOrder(preview_, back_);
    setTabOrder(back_, continue_);
    setFocusProxy(encodingPopUp_);

    fillEncodingPopUp();
    connect(encodingPopUp_, qOverload<int>(&QComboBox::activated), this,
            &EncodingPageWidget::encodingChosen);
    connect(invisibles_, &QCheckBox::toggled, this, [this](bool display) {
        page_.setDisplayControlCharacters(display);
        showPreview();
    });
    connect(back_, &QPushButton::clicked, this, [this] { session_.showPreviousPage(); });
    connect(continue_, &QPushButton::clicked, this, [this] {
        continue_->setEnabled(false);  // the parse runs once; the page changes when it ends
        page_.continueAction(session_);
    });
    refresh();
}

void EncodingPageWidget::fillEncodingPopUp() {
    const auto& items = page_.encodingItems();
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (items[index].isSeparator()) {
            encodingPopUp_->insertSeparator(encodingPopUp_->count());
        } else {
            encodingPopUp_->addItem(fromUtf8(items[index].title),
                                    QVariant::fromValue(static_cast<qulonglong>(index)));
        }
    }
}

void EncodingPageWidget::encodingChosen(int comboIndex) {
    const QVariant data = encodingPopUp_->itemData(comboIndex);
    if (!data.isValid()) return;
    const auto& item = page_.encodingItems().at(static_cast<std::size_t>(data.toULongLong()));
    if (item.encoding) page_.chooseEncoding(session_, *item.encoding);
    refresh();
}

void EncodingPageWidget::refresh() {
    const auto& items = page_.encodingItems();
    for (int comboIndex = 0; comboIndex < encodingPopUp_->count(); ++comboIndex) {
        const QVariant data = encodingPopUp_->itemData(comboIndex);
        if (!data.isValid()) continue;
        const auto& item = items.at(static_cast<std::size_t>(data.toULongLong()));
        if (item.encoding && item.encoding == page_.selectedEncoding()) {
            encodingPopUp_->setCurrentIndex(comboIndex);
            break;
        }
    }
    const bool ok = page_.status() == EncodingStatus::ok;
    status_->setText(fromUtf8(page_.statusText()));
    QPalette statusPalette = palette();
    statusPalette.setColor(QPalette::WindowText,
                           ok ? palette().color(QPalette::WindowText) : warningColour(palette()));
    status_->setPalette(statusPalette);
    continue_->setEnabled(page_.isContinueEnabled());
    showPreview();
}

// Draws the preview run by run: characters outside printable ASCII stand out in the warning
// colour; with invisible characters shown, spaces, tabs and line breaks get glyphs of their
// own in the control-character colour and plain ASCII steps back to half strength.
void EncodingPageWidget::showPreview() {
    const std::string& text = page_.previewText();
    const bool invisibles = page_.displayControlCharacters();
    const QPalette& colours = palette();

    QTextCharFormat plain;
    plain.setForeground(colours.color(QPalette::Text));
    QTextCharFormat ascii = plain;
    if (invisibles) {
        QColor faded = colours.color(QPalette::Text);
        faded.setAlphaF(0.5);
        ascii.setForeground(faded);
    }
    QTextCharFormat nonAscii;
    nonAscii.setForeground(warningColour(colours));
    QTextCharFormat control;
    control.setForeground(controlCharacterColour(colours));

    preview_->clear();
    QTextCursor cursor(preview_->document());
    cursor.beginEditBlock();
    for (const auto& run : page_.previewRuns()) {
        const std::string_view piece = std::string_view(text).substr(run.offset, run.length);
        switch (run.characterClass) {
            case PreviewCharacterClass::ascii:
                cursor.insertText(fromUtf8(piece), ascii);
                break;
            case PreviewCharacterClass::nonASCII:
                cursor.insertText(fromUtf8(piece), nonAscii);
                break;
            case PreviewCharacterClass::space:
                if (invisibles)
                    cursor.insertText(QString(static_cast<qsizetype>(piece.size()), QChar(0x00B7)),
                                      control);
                else
                    cursor.insertText(fromUtf8(piece), plain);
                break;
            case PreviewCharacterClass::tab:
                for (std::size_t index = 0; index < piece.size(); ++index)
                    cursor.insertText(
                        invisibles ? QStringLiteral("\u2192\t") : QStringLiteral("\t"),
                        invisibles ? control : plain);
                break;
            case PreviewCharacterClass::lineBreak:
                for (int index = lineBreakCount(piece); index > 0; --index) {
                    if (invisibles) cursor.insertText(QStringLiteral("\u21B5"), control);
                    cursor.insertBlock();
                }
                break;
        }
    }
    cursor.endEditBlock();
    preview_->moveCursor(QTextCursor::Start);
}

void EncodingPageWidget::changeEvent(QEvent* event) {
    // The preview's colours are picked for the palette: redraw when it changes.
    if (event->type() == QEvent::PaletteChange) refresh();
    QWidget::changeEvent(event);
}

}  // namespace pelkora::gui
