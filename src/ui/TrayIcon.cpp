#include "ui/TrayIcon.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "l10n/L10n.h"

namespace quenda::ui {

namespace {

QString text(const char* key) {
    return QString::fromStdString(L10n::t(key));
}

// A microphone drawn on a 64-unit square: a capsule, the U of its holder, a stem and a foot.
// Idle is a neutral grey that reads on light and dark panels; recording is red; transcribing is
// the grey microphone with a blue dot in the top-right corner.
QPixmap drawIcon(TrayIcon::Mode mode, int size) {
    const QColor grey(0x8c, 0x91, 0x99);
    const QColor red(0xe5, 0x38, 0x3b);
    const QColor blue(0x2f, 0x80, 0xed);
    const QColor ink = mode == TrayIcon::Mode::recording ? red : grey;

    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawRoundedRect(QRectF(22, 4, 20, 34), 10, 10);

    QPen pen(ink, 5, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(13, 12, 38, 36), 180 * 16, 180 * 16);  // the lower half
    painter.drawLine(QPointF(32, 48), QPointF(32, 57));
    painter.drawLine(QPointF(22, 58), QPointF(42, 58));

    if (mode == TrayIcon::Mode::transcribing) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(blue);
        painter.drawEllipse(QPointF(52, 12), 10, 10);
    }
    return pixmap;
}

QIcon iconFor(TrayIcon::Mode mode) {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(drawIcon(mode, size));
    return icon;
}

}  // namespace

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent), menu_(std::make_unique<QMenu>()), icon_(new QSystemTrayIcon(this)) {
    showHide_ = menu_->addAction(QString());
    live_ = menu_->addAction(QString());
    menu_->addSeparator();
    quit_ = menu_->addAction(QString());
    connect(showHide_, &QAction::triggered, this, &TrayIcon::showHideRequested);
    connect(live_, &QAction::triggered, this, &TrayIcon::liveToggleRequested);
    connect(quit_, &QAction::triggered, this, &TrayIcon::quitRequested);

    icon_->setContextMenu(menu_.get());
    icon_->setIcon(iconFor(mode_));
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger)
                    emit showHideRequested();
            });
    retranslate();
    // Shown at once when there is a tray; Qt docks it when one appears later (a session still
    // starting, a panel restarting) and takes it back when the tray goes.
    icon_->setVisible(true);
}

TrayIcon::~TrayIcon() {
    // The icon goes before its menu.
    delete icon_;
}

bool TrayIcon::isVisible() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setMode(Mode mode) {
    if (mode == mode_)
        return;
    mode_ = mode;
    icon_->setIcon(iconFor(mode_));
    retranslate();  // the tooltip names the mode
}

void TrayIcon::setLiveActive(bool active) {
    liveActive_ = active;
    live_->setText(text(liveActive_ ? "tray.live.stop" : "tray.live.start"));
}

void TrayIcon::setWindowShown(bool shown) {
    windowShown_ = shown;
    showHide_->setText(text(windowShown_ ? "tray.hide" : "tray.show"));
}

void TrayIcon::retranslate() {
    setLiveActive(liveActive_);
    setWindowShown(windowShown_);
    quit_->setText(text("tray.quit"));
    switch (mode_) {
        case Mode::idle:
            icon_->setToolTip(QStringLiteral("Quenda"));
            break;
        case Mode::recording:
            icon_->setToolTip(text("tray.recording"));
            break;
        case Mode::transcribing:
            icon_->setToolTip(text("tray.transcribing"));
            break;
    }
}

}  // namespace quenda::ui
