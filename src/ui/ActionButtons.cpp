#include "ui/ActionButtons.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Style.h"

namespace quenda::ui {

ActionButtons::ActionButtons(AppState& state, QWidget* parent)
    : QWidget(parent),
      state_(state),
      transcribe_(new QPushButton(this)),
      summarize_(new QPushButton(this)),
      copyLast_(new QPushButton(this)),
      quit_(new QPushButton(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (QPushButton* button : {transcribe_, summarize_, copyLast_, quit_}) {
        button->setAutoDefault(true);  // Enter presses the focused button
        layout->addWidget(button, 0, Qt::AlignHCenter);
    }
    connect(transcribe_, &QPushButton::clicked, this, [this] { state_.chooseAndTranscribeFile(); });
    connect(summarize_, &QPushButton::clicked, this, [this] { state_.summarizeLast(); });
    connect(copyLast_, &QPushButton::clicked, this, [this] { state_.copyLast(); });
    connect(quit_, &QPushButton::clicked, this, &ActionButtons::quitRequested);
    refresh();
}

void ActionButtons::refresh() {
    const bool busy = state_.isBusy();
    const bool nothing = state_.lastTranscription().empty();
    transcribe_->setText(l10n("btn.transcribe"));
    summarize_->setText(l10n("btn.summarize"));
    copyLast_->setText(l10n("btn.copylast"));
    quit_->setText(l10n("btn.quit"));
    transcribe_->setEnabled(!busy);
    summarize_->setEnabled(!busy && !nothing);
    copyLast_->setEnabled(!nothing);
}

}  // namespace quenda::ui
