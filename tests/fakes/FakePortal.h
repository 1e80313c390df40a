// A stand-in for the desktop portal (org.freedesktop.portal.Desktop) on the test's private
// session bus, in the test's own process: the GlobalShortcuts and RemoteDesktop interfaces and
// the application registry, answering each request with a Response signal the way
// xdg-desktop-portal does, recording every call, and told by the test how to answer.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <vector>

#include "input/HotkeyManagerPortal.h"
#include "input/PortalRequests.h"

namespace quenda::test {

class FakePortal final : public QDBusVirtualObject {
  public:
    struct Call {
        QString member;  // "CreateSession", "Register", "Close", ...
        QVariantList arguments;
        QVariantMap options;  // the last a{sv} argument, when there is one
    };

    // Knobs, set before the client starts.
    bool globalShortcuts = true;  // false: GlobalShortcuts calls answer "unknown interface"
    uint createResponse = 0;      // the CreateSession Response code (both interfaces)
    QStringList alreadyBound;     // what ListShortcuts reports as bound
    uint bindResponse = 0;
    bool bindKeepsShortcut = true;  // false: BindShortcuts answers 0 with nothing bound
    uint startResponse = 0;         // RemoteDesktop.Start (0 gives a new restore token)

    // Each portal has a connection of its own name, so that a new one can replace the last.
    FakePortal()
        : name_(QStringLiteral("quenda-fake-portal-%1").arg(++connections)),
          connection_(PortalRequests::connectToSessionBus(name_)) {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        ready_ = connection_.isConnected() &&
                 connection_.registerVirtualObject(kPath, this, QDBusConnection::SubPath) &&
                 connection_.registerService(kService);
    }
    ~FakePortal() override {
        connection_.unregisterService(kService);
        connection_.unregisterObject(kPath, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(name_);
    }
    bool ready() const { return ready_; }

    QStringList members() const {
        QStringList names;
        for (const auto& call : calls_)
            names << call.member;
        return names;
    }
    // The arguments of every call of `member`, in order.
    std::vector<Call> callsOf(const QString& member) const {
        std::vector<Call> found;
        for (const auto& call : calls_)
            if (call.member == member)
                found.push_back(call);
        return found;
    }
    // The session handle the last CreateSession was given.
    QString lastSession() const { return lastSession_; }

    // Emits GlobalShortcuts.`name` ("Activated", "Deactivated") for `session` and `shortcut`.
    void shortcutSignal(const char* name, const QString& session, const QString& shortcut) {
        emitSignal(kPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
                   QString::fromLatin1(name),
                   {QVariant::fromValue(QDBusObjectPath(session)), shortcut, qulonglong(0),
                    QVariantMap{}});
    }
    // Emits Session.Closed for `session`.
    void closeSession(const QString& session) {
        emitSignal(session, QStringLiteral("org.freedesktop.portal.Session"),
                   QStringLiteral("Closed"), {QVariantMap{}});
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        Call call{message.member(), message.arguments(), {}};
        if (!call.arguments.isEmpty())
            call.options = qdbus_cast<QVariantMap>(call.arguments.back());
        calls_.push_back(call);
        const QString& member = call.member;

        if (message.interface() == "org.freedesktop.portal.GlobalShortcuts" && !globalShortcuts) {
            connection_.send(
                message.createErrorReply(QDBusError::UnknownInterface, "No such interface"));
        } else if (member == "Register" || member == "Close" || member == "NotifyKeyboardKeycode") {
            connection_.send(message.createReply());
        } else if (member == "CreateSession") {
            lastSession_ = kPath + QStringLiteral("/session/%1/%2")
                                       .arg(senderPart(message.service()),
                                            call.options.value("session_handle_token").toString());
            respond(message, createResponse,
                    createResponse == 0 ? QVariantMap{{"session_handle", lastSession_}}
                                        : QVariantMap{});
        } else if (member == "ListShortcuts") {
            QList<PortalShortcut> bound;
            for (const auto& id : alreadyBound)
                bound.append(PortalShortcut{id, {}});
            respond(message, 0, {{"shortcuts", QVariant::fromValue(bound)}});
        } else if (member == "BindShortcuts") {
            // Bound as asked, or (bindKeepsShortcut false) nothing at all.
            const auto asked = qdbus_cast<QList<PortalShortcut>>(call.arguments.value(1));
            respond(message, bindResponse,
                    bindKeepsShortcut ? QVariantMap{{"shortcuts", QVariant::fromValue(asked)}}
                                      : QVariantMap{});
        } else if (member == "SelectDevices") {
            respond(message, 0, {});
        } else if (member == "Start") {
            respond(message, startResponse,
                    startResponse == 0
                        ? QVariantMap{{"devices", 1u},
                                      {"restore_token", QStringLiteral("token-%1").arg(++tokens_)}}
                        : QVariantMap{});
        } else {
            connection_.send(message.createErrorReply(QDBusError::UnknownMethod, "No such method"));
        }
        return true;
    }

  private:
    static inline const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline unsigned connections = 0;

    static QString senderPart(const QString& sender) { return sender.mid(1).replace('.', '_'); }
    // Replies with the request's object path, then emits that request's Response.
    void respond(const QDBusMessage& call, uint code, const QVariantMap& results) {
        const QString token = calls_.back().options.value("handle_token").toString();
        const QString request =
            kPath + QStringLiteral("/request/%1/%2").arg(senderPart(call.service()), token);
        connection_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        emitSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                   QStringLiteral("Response"), {code, results});
    }
    void emitSignal(const QString& path, const QString& interface, const QString& name,
                    const QVariantList& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(arguments);
        connection_.send(signal);
    }

    QString name_;
    QDBusConnection connection_;
    bool ready_ = false;
    std::vector<Call> calls_;
    QString lastSession_;
    unsigned tokens_ = 0;
};

}  // namespace quenda::test
