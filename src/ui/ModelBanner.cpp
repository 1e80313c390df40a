#include "ui/ModelBanner.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "l10n/L10nFormat.h"
#include "ui/Style.h"

namespace quenda::ui {

ModelBanner::ModelBanner(AppState& state, QWidget* parent)
    : QFrame(parent),
      state_(state),
      missing_(new QLabel(this)),
      download_(new QPushButton(this)),
      progress_(new QProgressBar(this)),
      cancel_(new QPushButton(this)) {
    setObjectName("modelBanner");
    setStyleSheet(style::roundedPanel("modelBanner", "rgba(255, 149, 0, 26)"));
    style::caption(*missing_, false);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(6);
    layout->addWidget(missing_);
    layout->addWidget(progress_);
    layout->addWidget(download_, 0, Qt::AlignLeft);
    layout->addWidget(cancel_, 0, Qt::AlignLeft);
    connect(download_, &QPushButton::clicked, this, [this] { state_.downloadCurrentModel(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { state_.cancelDownload(); });
    refresh();
}

void ModelBanner::refresh() {
    setVisible(!state_.modelInstalled());
    const bool downloading = state_.downloader().isDownloading();
    const auto model = TranscriptionEngine::modelInfo(state_.modelID());
    missing_->setText(QString::fromStdString(L10nFormat::modelMissing(model ? model->sizeMB : 0)));
    const double progress = state_.downloader().progress();
    progress_->setValue(static_cast<int>(L10nFormat::percentOf(progress) * 10));
    progress_->setFormat(QString::fromStdString(L10nFormat::modelDownloading(progress)));
    download_->setText(l10n("model.download"));
    cancel_->setText(l10n("model.cancel"));
    missing_->setVisible(!downloading);
    download_->setVisible(!downloading);
    progress_->setVisible(downloading);
    cancel_->setVisible(downloading);
}

}  // namespace quenda::ui
