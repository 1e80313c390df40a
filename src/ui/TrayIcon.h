#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace quenda::ui {

// The icon in the desktop's tray (notification area) and its menu: show or hide the window,
// start or stop live translation, quit. A left click asks to show or hide the window. What the
// items do is the owner's business: they leave as signals.
//
// At login the tray often comes up after the applications that start with the session, so while
// there is none the icon is retried every second for a minute; once shown, the tray is watched
// and a tray that goes away (a panel restarting) is retried again the same way. The owner asks
// isVisible() (say, before a closed window quits the application) or follows visibilityChanged.
class TrayIcon final : public QObject {
    Q_OBJECT
  public:
    enum class Mode { idle, recording, transcribing };

    // Needs a QApplication.
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows the icon when the desktop has a tray; while it has none yet (a session still
    // starting), retries for a while. False until an icon is visible.
    bool isVisible() const;
    void setMode(Mode mode);          // the icon drawn for idle / recording (red) / transcribing
    void setLiveActive(bool active);  // the live-translation item reads start or stop
    void setWindowShown(bool shown);  // the show/hide item reads show or hide
    void retranslate();               // texts from L10n::t in the current language

  signals:
    void showHideRequested();
    void liveToggleRequested();
    void quitRequested();
    void visibilityChanged(bool visible);  // a tray appeared (or went away)

  private:
    void checkTray();
    void setVisible(bool visible);

    std::unique_ptr<QMenu> menu_;  // a widget, so not a child of this object; outlives icon_
    QSystemTrayIcon* icon_ = nullptr;
    QAction* showHide_ = nullptr;
    QAction* live_ = nullptr;
    QAction* quit_ = nullptr;
    QTimer trayCheck_;
    int retriesLeft_ = 0;
    Mode mode_ = Mode::idle;
    bool liveActive_ = false;
    bool windowShown_ = true;
    bool visible_ = false;
};

}  // namespace quenda::ui
