#include "input/PortalRequests.h"

#include <unistd.h>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace quenda {

PortalRequests::PortalRequests(const QString& connectionName, QObject* parent)
    : QObject(parent),
      connectionName_(connectionName),
      connection_(connectToSessionBus(connectionName)) {}

QDBusConnection PortalRequests::connectToSessionBus(const QString& connectionName) {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return QDBusConnection::connectToBus(address, connectionName);
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
}

PortalRequests::~PortalRequests() {
    cancelAll();
    QDBusConnection::disconnectFromBus(connectionName_);
}

QString PortalRequests::newToken() {
    return QStringLiteral("quenda%1_%2").arg(::getpid()).arg(++tokens_);
}

QString PortalRequests::requestPath(const QString& token) const {
    // The sender's unique name without its leading ':' and with '.' as '_'.
    QString sender = connection_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalRequests::request(const QString& interface, const QString& method,
                             QVariantList arguments, QVariantMap options, Answer answer) {
    const QString token = newToken();
    const QString path = requestPath(token);
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    connection_.connect(QString::fromLatin1(kService), path,
                        QStringLiteral("org.freedesktop.portal.Request"),
                        QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
    waiting_[path] = std::move(answer);

    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kPath), interface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (!finished->isError())
                    return;
                const auto entry = waiting_.find(path);
                if (entry == waiting_.end())
                    return;
                Answer failed = std::move(entry->second);
                waiting_.erase(entry);
                connection_.disconnect(QString::fromLatin1(kService), path,
                                       QStringLiteral("org.freedesktop.portal.Request"),
                                       QStringLiteral("Response"), this,
                                       SLOT(onResponse(QDBusMessage)));
                failed(kCallFailed, {});
            });
}

void PortalRequests::call(const QString& path, const QString& interface, const QString& method,
                          const QVariantList& arguments, std::function<void(bool ok)> done) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), path, interface, method);
    message.setArguments(arguments);
    if (!done) {
        connection_.send(message);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                done(!finished->isError());
            });
}

void PortalRequests::cancelAll() {
    for (const auto& [path, answer] : waiting_)
        connection_.disconnect(QString::fromLatin1(kService), path,
                               QStringLiteral("org.freedesktop.portal.Request"),
                               QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
    waiting_.clear();
}

void PortalRequests::onResponse(const QDBusMessage& message) {
    const auto entry = waiting_.find(message.path());
    if (entry == waiting_.end())
        return;
    Answer answer = std::move(entry->second);
    waiting_.erase(entry);
    connection_.disconnect(QString::fromLatin1(kService), message.path(),
                           QStringLiteral("org.freedesktop.portal.Request"),
                           QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2)
        return answer(kCallFailed, {});
    answer(arguments[0].toUInt(), qdbus_cast<QVariantMap>(arguments[1]));
}

}  // namespace quenda
