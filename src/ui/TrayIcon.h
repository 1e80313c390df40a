#pragma once

#include <QObject>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace quenda::ui {

// The icon in the desktop's tray (notification area) and its menu: show or hide the window,
// start or stop live translation, quit. A left click asks to show or hide the window. What the
// items do is the owner's business: they leave as signals.
//
// At login the tray often comes up after the applications that start with the session: the icon
// is docked whenever a tray appears, with no polling. The owner asks isVisible() when it needs
// to know (say, before a closed window quits the application).
class TrayIcon final : public QObject {
    Q_OBJECT
  public:
    enum class Mode { idle, recording, transcribing };

    // Needs a QApplication.
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop has a tray now, so the icon is in it.
    bool isVisible() const;
    void setMode(Mode mode);          // the icon drawn for idle / recording (red) / transcribing
    void setLiveActive(bool active);  // the live-translation item reads start or stop
    void setWindowShown(bool shown);  // the show/hide item reads show or hide
    void retranslate();               // texts from L10n::t in the current language

  signals:
    void showHideRequested();
    void liveToggleRequested();
    void quitRequested();

  private:
    std::unique_ptr<QMenu> menu_;  // a widget, so not a child of this object; outlives icon_
    QSystemTrayIcon* icon_ = nullptr;
    QAction* showHide_ = nullptr;
    QAction* live_ = nullptr;
    QAction* quit_ = nullptr;
    Mode mode_ = Mode::idle;
    bool liveActive_ = false;
    bool windowShown_ = true;
};

}  // namespace quenda::ui
