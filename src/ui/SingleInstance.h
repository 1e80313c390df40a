#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

#include "ui/ApplicationId.h"

namespace quenda::ui {

// One running Quenda per session. The first process to claim the application's name on the
// session bus is the instance; a later start hands its command to that one and exits.
//
// Each object has a bus connection of its own, so the name it owns is released when it is
// destroyed (or the process dies), and two objects in one process behave as two processes.
// The bus address is read from DBUS_SESSION_BUS_ADDRESS when set, otherwise the bus library
// looks it up the usual way.
class SingleInstance final : public QObject {
    Q_OBJECT
  public:
    // Claims the session-bus name (kApplicationId unless given) at once and atomically. With no
    // session bus at all, this process counts as the first instance (and says so on stderr once).
    explicit SingleInstance(const QString& serviceName = QString::fromLatin1(kApplicationId),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    bool isFirstInstance() const;

    // From a second instance: hands `command` ("show", "toggle", "ptt-press", "ptt-release") to
    // the first one; false when it could not be delivered (no bus, no first instance, a command
    // the first one does not know, no answer within a few seconds). The call spins a local event
    // loop while it waits.
    bool sendMessage(const QString& command);

    // The commands the first instance accepts.
    static bool isKnownCommand(const QString& command);

  signals:
    void messageReceived(const QString& command);  // in the first instance, on the main thread

  private slots:
    // The D-Bus method app.quenda.Quenda.Command, called by the generated adaptor: emits
    // messageReceived for a known command and answers whether it was one.
    bool Command(const QString& command);

  private:
    QString serviceName_;
    QString connectionName_;
    std::optional<QDBusConnection> connection_;
    bool first_ = true;
};

}  // namespace quenda::ui
