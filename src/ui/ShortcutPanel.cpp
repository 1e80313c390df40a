#include "ui/ShortcutPanel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/Style.h"

namespace quenda::ui {

ShortcutPanel::ShortcutPanel(AppState& state, QWidget* parent)
    : QWidget(parent),
      state_(state),
      clean_(new QCheckBox(this)),
      fast_(new QCheckBox(this)),
      label_(new QLabel(this)),
      keycap_(new QLabel(QString::fromStdString(Hotkey::pushToTalk().display()), this)),
      keys_(new QLabel(this)),
      recording_(new QLabel(this)),
      hint_(new QLabel(this)),
      warning_(new QLabel(this)),
      backends_(chooseInputBackends(SessionEnvironment::fromProcess())),
      backend_(new QLabel(this)) {
    keycap_->setObjectName("keycap");
    keycap_->setStyleSheet(
        QStringLiteral("#keycap { background: rgba(128, 128, 128, 38); "
                       "border-radius: 6px; padding: 4px 10px; }"));
    style::caption(*keys_);
    keys_->setWordWrap(false);
    recording_->setStyleSheet(QStringLiteral("color: #d70015;"));
    style::caption(*hint_);
    style::caption(*warning_, false);
    warning_->setStyleSheet(QStringLiteral("color: #c93400;"));
    style::caption(*backend_);
    backend_->setObjectName("inputBackends");
    backend_->setTextInteractionFlags(Qt::TextSelectableByMouse);  // the commands can be copied

    auto* toggles = new QHBoxLayout;
    toggles->setSpacing(24);
    toggles->addWidget(clean_);
    toggles->addWidget(fast_);
    toggles->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(label_);
    row->addWidget(keycap_);
    row->addWidget(keys_);
    row->addStretch();
    row->addWidget(recording_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addLayout(toggles);
    layout->addLayout(row);
    layout->addWidget(hint_);
    layout->addWidget(warning_);
    layout->addWidget(backend_);
    connect(clean_, &QCheckBox::clicked, this, [this](bool on) { state_.setCleanWithLLM(on); });
    connect(fast_, &QCheckBox::clicked, this, [this](bool on) { state_.setFastMode(on); });
    refresh();
}

void ShortcutPanel::refresh() {
    const QSignalBlocker block(clean_);
    clean_->setText(l10n("clean.toggle"));
    clean_->setChecked(state_.cleanWithLLM());
    const QSignalBlocker blockFast(fast_);
    fast_->setText(l10n("fast.toggle"));
    fast_->setToolTip(l10n("fast.help"));
    fast_->setAccessibleDescription(l10n("fast.help"));
    fast_->setChecked(state_.fastMode());
    label_->setText(l10n("hotkey.label"));
    keys_->setText(l10n("hotkey.keys"));
    keycap_->setAccessibleName(l10n("hotkey.label") + QLatin1Char(' ') + keycap_->text());
    recording_->setText(QStringLiteral("● ") + l10n("hotkey.recording"));
    recording_->setVisible(state_.isRecording());
    hint_->setText(l10n("hotkey.hint"));
    // On X11 the row says what keeps the shortcut from working; on Wayland the backend line
    // below says which command to bind instead.
    warning_->setText(l10n(state_.hotkeyTaken() ? "hotkey.taken" : "accessibility.warning"));
    warning_->setVisible(!state_.accessibilityOK() && backends_.trigger == TriggerBackend::x11Grab);
    QString backends =
        l10n("backend.inuse")
            .arg(QString::fromUtf8(triggerName(backends_.trigger)),
                 QString::fromUtf8(pasteName(backends_.paste)), l10n(backends_.reason));
    // The commands are the way in where no program may watch a key, and where the desktop's
    // shortcut portal is missing or said no.
    if (backends_.trigger == TriggerBackend::commands)
        backends += QLatin1Char('\n') + l10n("backend.bind.pressrelease");
    else if (backends_.trigger == TriggerBackend::portalShortcuts && !state_.accessibilityOK())
        backends += QLatin1Char('\n') + l10n("backend.bind.toggle");
    backend_->setText(backends);
}

}  // namespace quenda::ui
