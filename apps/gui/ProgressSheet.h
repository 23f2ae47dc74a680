#pragma once

// The progress sheet: a window-modal dialog with the current progress's description, its
// additional description and a bar (determinate when the progress knows its total), and a
// Cancel button that cancels the session's current progress.

#include <QDialog>
#include <atomic>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace pelkora {
class Progress;
}

namespace pelkora::gui {

class ProgressSheet final : public QDialog {
    Q_OBJECT

  public:
    explicit ProgressSheet(QWidget* parent);
    ~ProgressSheet() override;

    // Shows this progress from now on (null: keeps the last texts, as the sheet closes).
    void setProgress(std::shared_ptr<Progress> progress);

    QLabel* descriptionLabel() const { return description_; }
    QLabel* additionalDescriptionLabel() const { return additional_; }
    QProgressBar* bar() const { return bar_; }
    QPushButton* cancelButton() const { return cancel_; }

  signals:
    void cancelRequested();

  protected:
    // Escape cancels like the button, and only when the progress may be cancelled.
    void reject() override;

  private:
    void update();
    void stopObserving();

    QLabel* description_;
    QLabel* additional_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    std::shared_ptr<Progress> progress_;
    std::optional<std::uint64_t> observation_;
    // Set while an update is queued, so a parser's thousands of changes cost a few redraws.
    std::shared_ptr<std::atomic<bool>> updateQueued_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace pelkora::gui
