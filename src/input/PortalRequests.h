#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <map>

namespace quenda {

// The desktop portal's request pattern over one session-bus connection of its own: a method
// that takes a "handle_token" answers later with a Response signal on a request object whose
// path is known in advance (/org/freedesktop/portal/desktop/request/<sender>/<token>). The
// subscription is made before the call, so a quick answer is never missed.
//
// Lives on the thread that creates it (the main thread); answers arrive from its event loop.
class PortalRequests final : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kService = "org.freedesktop.portal.Desktop";
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    // The response code given to the callback when the call itself failed (no portal, no
    // such interface or method, an error reply).
    static constexpr uint kCallFailed = 1000;

    using Answer = std::function<void(uint response, const QVariantMap& results)>;

    // `connectionName` must be unique in this process; the bus is the session bus named by
    // DBUS_SESSION_BUS_ADDRESS.
    explicit PortalRequests(const QString& connectionName, QObject* parent = nullptr);
    ~PortalRequests() override;

    // A private connection to the session bus: the one DBUS_SESSION_BUS_ADDRESS names now (the
    // library's own lookup keeps the first address it found for the life of the process).
    static QDBusConnection connectToSessionBus(const QString& connectionName);

    QDBusConnection& connection() { return connection_; }
    bool connected() const { return connection_.isConnected(); }

    // Calls `method` of `interface` with `arguments` followed by `options` (to which a fresh
    // handle_token is added); `answer` gets the Response's code and results, or kCallFailed.
    void request(const QString& interface, const QString& method, QVariantList arguments,
                 QVariantMap options, Answer answer);
    // A plain call whose answer is only whether it succeeded (nothing: not waited for).
    void call(const QString& path, const QString& interface, const QString& method,
              const QVariantList& arguments, std::function<void(bool ok)> done = {});

    // A fresh token for a handle ("session_handle_token" of CreateSession).
    QString newToken();
    // Forgets every request still waiting; their answers are never given.
    void cancelAll();

  private slots:
    void onResponse(const QDBusMessage& message);

  private:
    QString requestPath(const QString& token) const;

    QString connectionName_;
    QDBusConnection connection_;
    unsigned tokens_ = 0;
    std::map<QString, Answer> waiting_;  // by request path
};

}  // namespace quenda
