#include "ui/DropZone.h"

#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/Style.h"

namespace quenda::ui {

DropZone::DropZone(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state), title_(new QLabel(this)) {
    setAcceptDrops(true);
    setMinimumHeight(100);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_FileDialogStart).pixmap(28, 28));
    auto* formats = new QLabel(QStringLiteral("(.opus, .ogg, .m4a, .mp3, .wav)"), this);
    style::caption(*formats);
    title_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(6);
    for (QLabel* label : {icon, title_, formats}) {
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    refresh();
}

void DropZone::refresh() {
    title_->setText(l10n("drop.title"));
    setAccessibleName(l10n("drop.title"));
}

void DropZone::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(dropActive_ || hasFocus() ? palette().color(QPalette::Highlight)
                                       : palette().color(QPalette::PlaceholderText));
    pen.setDashPattern({6, 6});
    painter.setPen(pen);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

void DropZone::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        state_.chooseAndTranscribeFile();
}

void DropZone::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space)
        state_.chooseAndTranscribeFile();
    else
        QWidget::keyPressEvent(event);
}

void DropZone::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls())
        return event->ignore();
    setDropActive(true);
    event->acceptProposedAction();
}

void DropZone::dragLeaveEvent(QDragLeaveEvent*) {
    setDropActive(false);
}

void DropZone::dropEvent(QDropEvent* event) {
    setDropActive(false);
    if (takeDrop(event->mimeData()->urls()))
        event->acceptProposedAction();
    else
        event->ignore();
}

bool DropZone::takeDrop(const QList<QUrl>& urls) {
    if (urls.isEmpty())
        return false;
    if (urls.first().isLocalFile())
        state_.runPipeline(urls.first().toLocalFile().toStdString(), false);
    return true;
}

void DropZone::setDropActive(bool active) {
    dropActive_ = active;
    update();
}

}  // namespace quenda::ui
