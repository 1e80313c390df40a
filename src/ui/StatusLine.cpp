#include "ui/StatusLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

#include "ui/Style.h"

namespace quenda::ui {

StatusLine::StatusLine(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state), spinner_(new QProgressBar(this)), text_(new QLabel(this)) {
    spinner_->setRange(0, 0);  // indeterminate
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(48, 10);
    style::caption(*text_);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text_->setAccessibleName(QStringLiteral("status"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(spinner_);
    layout->addWidget(text_, 1);
    refresh();
}

void StatusLine::refresh() {
    spinner_->setVisible(state_.isBusy());
    text_->setText(QString::fromStdString(state_.status()));
}

}  // namespace quenda::ui
