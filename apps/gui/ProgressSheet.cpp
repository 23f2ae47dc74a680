#include "ProgressSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Progress.h"

namespace pelkora::gui {

ProgressSheet::ProgressSheet(QWidget* parent) : QDialog(parent) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Progress"));
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(8);
    description_ = new QLabel(this);
    QFont bold = description_->font();
    bold.setBold(true);
    description_->setFont(bold);
    description_->setAccessibleName(tr("Progress description"));
    bar_ = new QProgressBar(this);
    bar_->setTextVisible(false);
    bar_->setAccessibleName(tr("Progress"));
    additional_ = new QLabel(this);
    additional_->setAccessibleName(tr("Progress details"));
    additional_->setWordWrap(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setAccessibleName(tr("Cancel"));
    connect(cancel_, &QPushButton::clicked, this, &ProgressSheet::cancelRequested);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    layout->addWidget(description_);
    layout->addWidget(bar_);
    layout->addWidget(additional_);
    layout->addLayout(buttons);
}

ProgressSheet::~ProgressSheet() {
    stopObserving();
}

void ProgressSheet::stopObserving() {
    if (progress_ && observation_) progress_->removeObserver(*observation_);
    observation_.reset();
}

void ProgressSheet::setProgress(std::shared_ptr<Progress> progress) {
    if (!progress) return;
    stopObserving();
    progress_ = std::move(progress);
    // Observers run on the thread that changed the progress: hop to this one.
    observation_ = progress_->observe([this, queued = updateQueued_](const Progress&) {
        if (queued->exchange(true)) return;
        QMetaObject::invokeMethod(
            this,
            [this, queued] {
                queued->store(false);
                update();
            },
            Qt::QueuedConnection);
    });
    update();
}

void ProgressSheet::update() {
    if (!progress_) return;
    description_->setText(QString::fromStdString(progress_->localizedDescription()));
    additional_->setText(QString::fromStdString(progress_->localizedAdditionalDescription()));
    if (progress_->isIndeterminate()) {
        bar_->setRange(0, 0);
    } else {
        bar_->setRange(0, 1000);
        bar_->setValue(
            static_cast<int>(std::clamp(progress_->fractionCompleted(), 0.0, 1.0) * 1000));
    }
    cancel_->setEnabled(progress_->isCancellable() && !progress_->isCancelled());
}

void ProgressSheet::reject() {
    if (cancel_->isEnabled()) emit cancelRequested();
}

}  // namespace pelkora::gui
