#include "input/HotkeyManagerPortal.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <algorithm>

#include "input/PortalRequests.h"

namespace quenda {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// A handle the portal gives as text or as an object path.
QString handleText(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>() && value.userType() == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

bool containsShortcut(const QVariantMap& results, const QString& id) {
    const auto list = qdbus_cast<QList<PortalShortcut>>(results.value(QStringLiteral("shortcuts")));
    return std::ranges::any_of(list, [&](const PortalShortcut& s) { return s.id == id; });
}

unsigned connections = 0;

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

HotkeyManagerPortal::HotkeyManagerPortal(QString applicationId, QString description)
    : applicationId_(std::move(applicationId)), description_(std::move(description)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

HotkeyManagerPortal::~HotkeyManagerPortal() {
    remove();
}

QList<PortalShortcut> HotkeyManagerPortal::shortcuts() const {
    return {PortalShortcut{QString::fromLatin1(kShortcutId),
                           {{QStringLiteral("description"), description_},
                            {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+ALT+d")}}}};
}

bool HotkeyManagerPortal::install(const Hotkey& hotkey, EventHandler handler, GrabHandler onGrab) {
    remove();
    portal_ = std::make_unique<PortalRequests>(
        QStringLiteral("quenda-global-shortcuts-%1").arg(++connections));
    if (!portal_->connected()) {
        portal_.reset();
        return false;
    }
    hotkey_ = hotkey;
    handler_ = std::move(handler);
    onGrab_ = std::move(onGrab);
    installed_ = true;
    subscribe(true);
    // Portals before 1.21 have no registry: the call fails and the session goes on without it.
    portal_->call(QString::fromLatin1(PortalRequests::kPath),
                  QStringLiteral("org.freedesktop.host.portal.Registry"),
                  QStringLiteral("Register"), {applicationId_, QVariantMap{}},
                  [this](bool) { createSession(); });
    return true;
}

void HotkeyManagerPortal::createSession() {
    QVariantMap options{{QStringLiteral("session_handle_token"), portal_->newToken()},
                        {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts())}};
    portal_->request(kInterface, QStringLiteral("CreateSession"), {}, options,
                     [this](uint response, const QVariantMap& results) {
                         session_ = handleText(results.value(QStringLiteral("session_handle")));
                         if (response != 0 || session_.isEmpty())
                             return failed();
                         listShortcuts();
                     });
}

void HotkeyManagerPortal::listShortcuts() {
    portal_->request(kInterface, QStringLiteral("ListShortcuts"),
                     {QVariant::fromValue(QDBusObjectPath(session_))}, {},
                     [this](uint response, const QVariantMap& results) {
                         if (response != 0)
                             return failed();
                         if (containsShortcut(results, QString::fromLatin1(kShortcutId)))
                             return bound();
                         bindShortcut();
                     });
}

void HotkeyManagerPortal::bindShortcut() {
    portal_->request(
        kInterface, QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts()),
         QString()},
        {}, [this](uint response, const QVariantMap& results) {
            if (response != 0 || !containsShortcut(results, QString::fromLatin1(kShortcutId)))
                return failed();
            bound();
        });
}

void HotkeyManagerPortal::bound() {
    if (onGrab_)
        onGrab_(true);
}

void HotkeyManagerPortal::failed() {
    subscribe(false);
    held_ = false;
    if (onGrab_)
        onGrab_(false);
}

void HotkeyManagerPortal::remove() {
    if (!portal_)
        return;
    subscribe(false);
    portal_->cancelAll();
    if (!session_.isEmpty())
        portal_->call(session_, QStringLiteral("org.freedesktop.portal.Session"),
                      QStringLiteral("Close"), {});
    portal_.reset();
    installed_ = false;
    held_ = false;
    session_.clear();
    handler_ = nullptr;
    onGrab_ = nullptr;
}

void HotkeyManagerPortal::subscribe(bool on) {
    for (const char* signal : {"Activated", "Deactivated"}) {
        const char* slot =
            signal[0] == 'A' ? SLOT(onActivated(QDBusMessage)) : SLOT(onDeactivated(QDBusMessage));
        if (on)
            portal_->connection().connect(QString::fromLatin1(PortalRequests::kService),
                                          QString::fromLatin1(PortalRequests::kPath), kInterface,
                                          QString::fromLatin1(signal), this, slot);
        else
            portal_->connection().disconnect(QString::fromLatin1(PortalRequests::kService),
                                             QString::fromLatin1(PortalRequests::kPath), kInterface,
                                             QString::fromLatin1(signal), this, slot);
    }
}

bool HotkeyManagerPortal::ours(const QDBusMessage& message) const {
    const QVariantList arguments = message.arguments();
    return installed_ && arguments.size() >= 2 && !session_.isEmpty() &&
           handleText(arguments[0]) == session_ &&
           arguments[1].toString() == QLatin1String(kShortcutId);
}

void HotkeyManagerPortal::onActivated(const QDBusMessage& message) {
    // A held key repeats Activated: the press is reported once.
    if (!ours(message) || std::exchange(held_, true))
        return;
    deliver(KeyEventType::keyDown);
}

void HotkeyManagerPortal::onDeactivated(const QDBusMessage& message) {
    if (!ours(message) || !std::exchange(held_, false))
        return;
    deliver(KeyEventType::keyUp);
}

void HotkeyManagerPortal::deliver(KeyEventType type) {
    if (handler_)
        handler_(type, hotkey_.keyCode, hotkey_.modifiers);
}

}  // namespace quenda
