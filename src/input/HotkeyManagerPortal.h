#pragma once

#include <QDBusArgument>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>

#include "input/HotkeyManager.h"

namespace quenda {

class PortalRequests;

// One entry of the portal's shortcut lists, D-Bus signature (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// Push-to-talk through the desktop's GlobalShortcuts portal (KDE Plasma, GNOME 48 and later):
// the desktop owns the key, and tells us when it goes down (Activated) and up (Deactivated).
//
// install() answers at once and sets up in the background: the application id is registered
// (newer portals require it before any other call), a session is created (the shortcut goes
// in its options too, where KDE 5.27 takes it), the bound shortcuts are listed, and the
// shortcut is bound only when the desktop does not have it yet (binding again would ask the
// user again, on KDE 6 by opening System Settings at every start). When the portal is missing
// or refuses any step, the grab handler is told `false`; the window then offers the commands.
//
// Held keys repeat Activated (about every 0.7 s on KDE): only the first reaches the handler.
// Use from the main thread; the handler runs there too.
class HotkeyManagerPortal final : public QObject, public HotkeyManager::Backend {
    Q_OBJECT
  public:
    static constexpr const char* kShortcutId = "push-to-talk";

    // `description` is what the desktop shows beside the shortcut in its settings.
    HotkeyManagerPortal(QString applicationId, QString description);
    ~HotkeyManagerPortal() override;

    bool install(const Hotkey& hotkey, EventHandler handler, GrabHandler onGrab) override;
    void remove() override;

  private slots:
    void onActivated(const QDBusMessage& message);
    void onDeactivated(const QDBusMessage& message);

  private:
    void createSession();
    void listShortcuts();
    void bindShortcut();
    void failed();
    void bound();
    QList<PortalShortcut> shortcuts() const;
    bool ours(const QDBusMessage& message) const;
    void deliver(KeyEventType type);
    void subscribe(bool on);

    const QString applicationId_;
    const QString description_;
    std::unique_ptr<PortalRequests> portal_;
    Hotkey hotkey_;
    EventHandler handler_;
    GrabHandler onGrab_;
    QString session_;
    bool installed_ = false;
    bool held_ = false;
};

}  // namespace quenda

Q_DECLARE_METATYPE(quenda::PortalShortcut)
