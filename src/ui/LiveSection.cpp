#include "ui/LiveSection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/Style.h"

namespace quenda::ui {

namespace {

constexpr std::array<const char*, 3> kSources = {"en", "es", "auto"};

}  // namespace

LiveSection::LiveSection(AppState& state, QWidget* parent)
    : QWidget(parent),
      state_(state),
      title_(new QLabel(this)),
      subtitle_(new QLabel(this)),
      sourceLabel_(new QLabel(this)),
      source_(new QComboBox(this)),
      speak_(new QCheckBox(this)),
      mute_(new QCheckBox(this)),
      toggle_(new QPushButton(this)),
      lines_(new QListWidget(this)),
      permissions_(new QLabel(this)) {
    style::headline(*title_);
    style::caption(*subtitle_);
    style::caption(*permissions_);
    sourceLabel_->setBuddy(source_);
    source_->setMaximumWidth(180);
    for (size_t i = 0; i < kSources.size(); ++i)
        source_->addItem(QString());
    lines_->setObjectName("liveLines");
    lines_->setStyleSheet(QStringLiteral(
        "#liveLines { background: rgba(128, 128, 128, 20); border: none; border-radius: 8px; "
        "padding: 8px; }"));
    lines_->setMinimumHeight(60);
    lines_->setMaximumHeight(140);
    lines_->setWordWrap(true);
    lines_->setSpacing(2);
    lines_->setSelectionMode(QAbstractItemView::ContiguousSelection);

    auto* sourceRow = new QHBoxLayout;
    sourceRow->addWidget(sourceLabel_);
    sourceRow->addWidget(source_);
    sourceRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(title_);
    layout->addWidget(subtitle_);
    layout->addLayout(sourceRow);
    layout->addWidget(speak_);
    layout->addWidget(mute_);
    layout->addWidget(toggle_, 0, Qt::AlignLeft);
    layout->addWidget(lines_);
    layout->addWidget(permissions_);

    connect(source_, &QComboBox::activated, this, [this](int index) {
        state_.setLiveSourceLanguage(kSources[static_cast<size_t>(index)]);
    });
    connect(speak_, &QCheckBox::clicked, this, [this](bool on) { state_.setLiveSpeak(on); });
    connect(mute_, &QCheckBox::clicked, this, [this](bool on) { state_.setLiveMuteOriginal(on); });
    connect(toggle_, &QPushButton::clicked, this, [this] { state_.toggleLiveTranslation(); });
    refresh();
}

void LiveSection::refresh() {
    const QSignalBlocker blockSource(source_), blockSpeak(speak_), blockMute(mute_);
    const bool active = state_.liveActive();
    title_->setText(l10n("live.title"));
    subtitle_->setText(l10n("live.subtitle"));
    sourceLabel_->setText(l10n("live.source"));
    for (size_t i = 0; i < kSources.size(); ++i)
        source_->setItemText(static_cast<int>(i), l10n(std::string("live.source.") + kSources[i]));
    source_->setAccessibleName(l10n("live.source"));
    for (size_t i = 0; i < kSources.size(); ++i)
        if (state_.liveSourceLanguage() == kSources[i])
            source_->setCurrentIndex(static_cast<int>(i));
    speak_->setText(l10n("live.speak"));
    speak_->setChecked(state_.liveSpeak());
    mute_->setText(l10n("live.mute"));
    mute_->setChecked(state_.liveMuteOriginal());
    for (QWidget* choice : std::initializer_list<QWidget*>{source_, speak_, mute_})
        choice->setEnabled(!active);
    toggle_->setText(l10n(active ? "live.stop" : "live.start"));
    toggle_->setStyleSheet(active ? QStringLiteral("color: #d70015;") : QString());
    permissions_->setText(l10n("live.permissions"));

    // The lines: only what changed is touched, and a new line scrolls into view.
    const auto& text = state_.liveText();
    const int previous = lines_->count();
    if (previous != static_cast<int>(text.size()) ||
        (previous > 0 && lines_->item(previous - 1)->text().toStdString() != text.back())) {
        lines_->clear();
        for (const auto& line : text)
            lines_->addItem(QString::fromStdString(line));
        if (!text.empty())
            lines_->scrollToBottom();
    }
    lines_->setVisible(active || !text.empty());
}

}  // namespace quenda::ui
