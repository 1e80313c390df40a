// A stand-in for the desktop portal (org.freedesktop.portal.Desktop) on the test's private
// session bus, in the test's own process: the GlobalShortcuts and RemoteDesktop interfaces and
// the application registry, answering each request with a Response signal the way
// xdg-desktop-portal does, recording every call, and told by the test how to answer.
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <vector>

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

    FakePortal();
    ~FakePortal() override;
    bool ready() const { return ready_; }

    const std::vector<Call>& calls() const { return calls_; }
    QStringList members() const;
    // The arguments of every call of `member`, in order.
    std::vector<Call> callsOf(const QString& member) const;
    // The session handle the last CreateSession was given.
    QString lastSession() const { return lastSession_; }

    // Emits GlobalShortcuts.Activated / Deactivated for `session` and `shortcut`.
    void activate(const QString& session, const QString& shortcut) {
        shortcutSignal("Activated", session, shortcut);
    }
    void deactivate(const QString& session, const QString& shortcut) {
        shortcutSignal("Deactivated", session, shortcut);
    }
    // Emits Session.Closed for `session`.
    void closeSession(const QString& session);

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

  private:
    void respond(const QDBusMessage& call, uint code, const QVariantMap& results);
    void shortcutSignal(const char* name, const QString& session, const QString& shortcut);
    void emitSignal(const QString& path, const QString& interface, const QString& name,
                    const QVariantList& arguments);

    QString name_;
    QDBusConnection connection_;
    bool ready_ = false;
    std::vector<Call> calls_;
    QString lastSession_;
    unsigned tokens_ = 0;
};

}  // namespace quenda::test
