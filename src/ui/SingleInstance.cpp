#include "ui/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <atomic>
#include <cstdio>

#include "QuendaAdaptor.h"

namespace quenda::ui {

namespace {

constexpr const char* kObjectPath = "/app/quenda/Quenda";
constexpr const char* kInterface = "app.quenda.Quenda";
constexpr int kSendTimeoutMs = 5000;

QDBusConnection connectToSessionBus(const QString& connectionName) {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return QDBusConnection::connectToBus(address, connectionName);
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
}

}  // namespace

SingleInstance::SingleInstance(const QString& serviceName, QObject* parent)
    : QObject(parent), serviceName_(serviceName) {
    static std::atomic<int> connections{0};
    connectionName_ = QStringLiteral("quenda-single-instance-%1").arg(++connections);
    connection_ = connectToSessionBus(connectionName_);
    if (!connection_->isConnected()) {
        static std::atomic_flag warned = ATOMIC_FLAG_INIT;
        if (!warned.test_and_set())
            std::fprintf(stderr,
                         "quenda: no D-Bus session bus (%s); running as the only instance\n",
                         qPrintable(connection_->lastError().message()));
        return;
    }
    // The object is in place before the name is claimed, so a command sent the moment the name
    // appears finds it.
    new QuendaAdaptor(this);
    connection_->registerObject(QString::fromLatin1(kObjectPath), this,
                                QDBusConnection::ExportAdaptors);
    // The bus grants a name to one connection only (no queueing, no replacement): whoever gets
    // it first is the instance, however many start at once.
    first_ = connection_->registerService(serviceName_);
    if (first_)
        return;
    const QString refusal = connection_->lastError().message();
    connection_->unregisterObject(QString::fromLatin1(kObjectPath));
    // Refused while nobody holds the name (a bus policy, say): there is no instance to hand
    // anything to, so this one runs.
    if (!connection_->interface()->isServiceRegistered(serviceName_).value()) {
        std::fprintf(stderr, "quenda: the session bus refused the name %s (%s); running anyway\n",
                     qPrintable(serviceName_), qPrintable(refusal));
        first_ = true;
    }
}

SingleInstance::~SingleInstance() {
    if (connection_->isConnected() && first_)
        connection_->unregisterService(serviceName_);
    connection_.reset();  // the last reference, so that the connection really closes
    QDBusConnection::disconnectFromBus(connectionName_);
}

bool SingleInstance::isFirstInstance() const {
    return first_;
}

bool SingleInstance::sendMessage(const QString& command) {
    if (!connection_->isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(serviceName_, QString::fromLatin1(kObjectPath),
                                       QString::fromLatin1(kInterface), QStringLiteral("Command"));
    call << command;
    // BlockWithGui keeps this thread's events flowing while waiting, so the answer also comes
    // when the first instance lives in this very process (as in the tests).
    const QDBusMessage reply = connection_->call(call, QDBus::BlockWithGui, kSendTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

bool SingleInstance::isKnownCommand(const QString& command) {
    return command == u"show" || command == u"toggle" || command == u"ptt-press" ||
           command == u"ptt-release";
}

bool SingleInstance::Command(const QString& command) {
    if (!isKnownCommand(command))
        return false;
    emit messageReceived(command);
    return true;
}

}  // namespace quenda::ui
