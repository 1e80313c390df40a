#include "FakePortal.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include "input/HotkeyManagerPortal.h"
#include "input/PortalRequests.h"

namespace quenda::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");

QString senderPart(const QString& sender) {
    return sender.mid(1).replace('.', '_');
}

unsigned connections = 0;

}  // namespace

FakePortal::FakePortal()
    : name_(QStringLiteral("quenda-fake-portal-%1").arg(++connections)),
      connection_(PortalRequests::connectToSessionBus(name_)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    ready_ = connection_.isConnected() &&
             connection_.registerVirtualObject(kPath, this, QDBusConnection::SubPath) &&
             connection_.registerService(kService);
}

FakePortal::~FakePortal() {
    connection_.unregisterService(kService);
    connection_.unregisterObject(kPath, QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus(name_);
}

QStringList FakePortal::members() const {
    QStringList names;
    for (const auto& call : calls_)
        names << call.member;
    return names;
}

std::vector<FakePortal::Call> FakePortal::callsOf(const QString& member) const {
    std::vector<Call> found;
    for (const auto& call : calls_)
        if (call.member == member)
            found.push_back(call);
    return found;
}

void FakePortal::emitSignal(const QString& path, const QString& interface, const QString& name,
                            const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    connection_.send(signal);
}

void FakePortal::respond(const QDBusMessage& call, uint code, const QVariantMap& results) {
    const QString token = calls_.back().options.value("handle_token").toString();
    const QString request =
        kPath + QStringLiteral("/request/%1/%2").arg(senderPart(call.service()), token);
    connection_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    emitSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
               QStringLiteral("Response"), {code, results});
}

bool FakePortal::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
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
        respond(
            message, createResponse,
            createResponse == 0 ? QVariantMap{{"session_handle", lastSession_}} : QVariantMap{});
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

void FakePortal::shortcutSignal(const char* name, const QString& session, const QString& shortcut) {
    emitSignal(
        kPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QString::fromLatin1(name),
        {QVariant::fromValue(QDBusObjectPath(session)), shortcut, qulonglong(0), QVariantMap{}});
}

void FakePortal::closeSession(const QString& session) {
    emitSignal(session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"),
               {QVariantMap{}});
}

}  // namespace quenda::test
