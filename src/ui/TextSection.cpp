#include "ui/TextSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Style.h"

namespace quenda::ui {

namespace {

// A read-only, selectable text box between two heights on a faint rounded panel.
QPlainTextEdit* textBox(QWidget* parent, const char* objectName) {
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(objectName);
    box->setReadOnly(true);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setStyleSheet(QStringLiteral("#%1 { background: rgba(128, 128, 128, 20); border: none; "
                                      "border-radius: 8px; padding: 4px; }")
                           .arg(QLatin1String(objectName)));
    return box;
}

void setHeights(QPlainTextEdit& box, int minimum, int maximum) {
    box.setMinimumHeight(minimum);
    box.setMaximumHeight(maximum);
}

// Replaces the box's text only when it differs, so a redraw keeps the user's selection.
void showText(QPlainTextEdit& box, const QString& text) {
    if (box.toPlainText() != text)
        box.setPlainText(text);
}

}  // namespace

TextSection::TextSection(AppState& state, Pasteboard& pasteboard, QWidget* parent)
    : QWidget(parent),
      state_(state),
      pasteboard_(pasteboard),
      lastTitle_(new QLabel(this)),
      last_(textBox(this, "lastText")),
      summaryHeader_(new QWidget(this)),
      summaryTitle_(new QLabel(summaryHeader_)),
      expand_(new QPushButton(summaryHeader_)),
      copyAll_(new QPushButton(summaryHeader_)),
      summary_(textBox(this, "summaryText")) {
    style::headline(*lastTitle_);
    style::headline(*summaryTitle_);
    setHeights(*last_, 80, 150);
    auto* header = new QHBoxLayout(summaryHeader_);
    header->setContentsMargins(0, 0, 0, 0);
    header->addWidget(summaryTitle_);
    header->addStretch();
    header->addWidget(expand_);
    header->addWidget(copyAll_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(lastTitle_);
    layout->addWidget(last_);
    layout->addSpacing(6);
    layout->addWidget(summaryHeader_);
    layout->addWidget(summary_);

    connect(expand_, &QPushButton::clicked, this, [this] {
        summaryExpanded_ = !summaryExpanded_;
        refresh();
    });
    connect(copyAll_, &QPushButton::clicked, this, [this] {
        pasteboard_.setString(state_.summary());
        state_.showStatus("status.summary.copied");
    });
    refresh();
}

void TextSection::refresh() {
    lastTitle_->setText(l10n("last.title"));
    last_->setAccessibleName(l10n("last.title"));
    const auto& last = state_.lastTranscription();
    showText(*last_, last.empty() ? QStringLiteral("—") : QString::fromStdString(last));

    const bool hasSummary = !state_.summary().empty();
    summaryHeader_->setVisible(hasSummary);
    summary_->setVisible(hasSummary);
    summaryTitle_->setText(l10n("summary.title"));
    summary_->setAccessibleName(l10n("summary.title"));
    expand_->setText(l10n(summaryExpanded_ ? "summary.collapse" : "summary.expand"));
    copyAll_->setText(l10n("summary.copyall"));
    showText(*summary_, QString::fromStdString(state_.summary()));
    summaryExpanded_ ? setHeights(*summary_, 300, 420) : setHeights(*summary_, 140, 200);
}

}  // namespace quenda::ui
