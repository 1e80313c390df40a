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
    QString part = sender.mid(1);
    part.replace(QLatin1Char('.'), QLatin1Char('_'));
    return part;
}

QList<PortalShortcut> shortcutsFrom(const QVariant& value) {
    return qdbus_cast<QList<PortalShortcut>>(value);
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

QString FakePortal::introspect(const QString&) const {
    return {};
}

void FakePortal::emitSignal(const QString& path, const QString& interface, const QString& name,
                            const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    connection_.send(signal);
}

void FakePortal::respond(const QDBusMessage& call, uint code, const QVariantMap& results) {
    const QString token = calls_.back().options.value(QStringLiteral("handle_token")).toString();
    const QString request =
        kPath + QStringLiteral("/request/%1/%2").arg(senderPart(call.service()), token);
    connection_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    emitSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
               QStringLiteral("Response"), {code, results});
}

bool FakePortal::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
    const QString interface = message.interface();
    Call call{message.member(), message.arguments(), {}};
    if (!call.arguments.isEmpty())
        call.options = qdbus_cast<QVariantMap>(call.arguments.back());
    calls_.push_back(call);

    if (interface == QLatin1String("org.freedesktop.portal.GlobalShortcuts") && !globalShortcuts) {
        connection_.send(message.createErrorReply(QDBusError::UnknownInterface,
                                                  QStringLiteral("No such interface")));
        return true;
    }
    if (call.member == QLatin1String("Register") || call.member == QLatin1String("Close")) {
        connection_.send(message.createReply());
        return true;
    }
    if (call.member == QLatin1String("NotifyKeyboardKeycode")) {
        connection_.send(message.createReply());
        return true;
    }
    if (call.member == QLatin1String("CreateSession")) {
        lastSession_ =
            kPath + QStringLiteral("/session/%1/%2")
                        .arg(senderPart(message.service()),
                             call.options.value(QStringLiteral("session_handle_token")).toString());
        respond(message, createResponse,
                createResponse == 0 ? QVariantMap{{QStringLiteral("session_handle"), lastSession_}}
                                    : QVariantMap{});
        return true;
    }
    if (call.member == QLatin1String("ListShortcuts")) {
        QList<PortalShortcut> bound;
        for (const auto& id : alreadyBound)
            bound.append(PortalShortcut{id, {}});
        respond(message, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}});
        return true;
    }
    if (call.member == QLatin1String("BindShortcuts")) {
        const auto wanted = shortcutsFrom(call.arguments.value(1));
        respond(message, bindResponse,
                bindKeepsShortcut
                    ? QVariantMap{{QStringLiteral("shortcuts"), QVariant::fromValue(wanted)}}
                    : QVariantMap{});
        return true;
    }
    if (call.member == QLatin1String("SelectDevices")) {
        respond(message, 0, {});
        return true;
    }
    if (call.member == QLatin1String("Start")) {
        QVariantMap results{{QStringLiteral("devices"), 1u}};
        if (issuesRestoreTokens)
            results.insert(QStringLiteral("restore_token"),
                           QStringLiteral("token-%1").arg(++tokens_));
        respond(message, startResponse, startResponse == 0 ? results : QVariantMap{});
        return true;
    }
    connection_.send(
        message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("No such method")));
    return true;
}

void FakePortal::activate(const QString& session, const QString& shortcut) {
    emitSignal(
        kPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
        QStringLiteral("Activated"),
        {QVariant::fromValue(QDBusObjectPath(session)), shortcut, qulonglong(0), QVariantMap{}});
}

void FakePortal::deactivate(const QString& session, const QString& shortcut) {
    emitSignal(
        kPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
        QStringLiteral("Deactivated"),
        {QVariant::fromValue(QDBusObjectPath(session)), shortcut, qulonglong(0), QVariantMap{}});
}

void FakePortal::closeSession(const QString& session) {
    emitSignal(session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"),
               {QVariantMap{}});
}

}  // namespace quenda::test
