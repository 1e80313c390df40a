#include "input/KeystrokeSynthesizerRemoteDesktop.h"

#include <QDBusObjectPath>

#include "input/PortalRequests.h"

namespace quenda {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint kKeyboard = 1;
constexpr uint kPersistUntilRevoked = 2;
// Linux input key codes (the portal takes evdev codes).
constexpr int kLeftCtrl = 29;
constexpr int kV = 47;

unsigned connections = 0;

}  // namespace

KeystrokeSynthesizerRemoteDesktop::KeystrokeSynthesizerRemoteDesktop(
    std::shared_ptr<Defaults> defaults)
    : defaults_(std::move(defaults)) {
    begin();
}

KeystrokeSynthesizerRemoteDesktop::~KeystrokeSynthesizerRemoteDesktop() {
    if (portal_ && started_)
        portal_->call(session_, QStringLiteral("org.freedesktop.portal.Session"),
                      QStringLiteral("Close"), {});
}

void KeystrokeSynthesizerRemoteDesktop::begin() {
    starting_ = true;
    started_ = false;
    refused_ = false;
    session_.clear();
    portal_ = std::make_unique<PortalRequests>(
        QStringLiteral("quenda-remote-desktop-%1").arg(++connections));
    if (!portal_->connected())
        return fail();
    portal_->request(kInterface, QStringLiteral("CreateSession"), {},
                     {{QStringLiteral("session_handle_token"), portal_->newToken()}},
                     [this](uint response, const QVariantMap& results) {
                         const QVariant handle = results.value(QStringLiteral("session_handle"));
                         session_ = handle.userType() == qMetaTypeId<QDBusObjectPath>()
                                        ? handle.value<QDBusObjectPath>().path()
                                        : handle.toString();
                         if (response != 0 || session_.isEmpty())
                             return fail();
                         portal_->connection().connect(
                             QString::fromLatin1(PortalRequests::kService), session_,
                             QStringLiteral("org.freedesktop.portal.Session"),
                             QStringLiteral("Closed"), this, SLOT(onClosed()));
                         selectDevices();
                     });
}

void KeystrokeSynthesizerRemoteDesktop::selectDevices() {
    QVariantMap options{{QStringLiteral("types"), kKeyboard},
                        {QStringLiteral("persist_mode"), kPersistUntilRevoked}};
    if (const auto token = defaults_->text(kRestoreTokenKey); token && !token->empty())
        options.insert(QStringLiteral("restore_token"), QString::fromStdString(*token));
    portal_->request(kInterface, QStringLiteral("SelectDevices"),
                     {QVariant::fromValue(QDBusObjectPath(session_))}, options,
                     [this](uint response, const QVariantMap&) {
                         if (response != 0)
                             return fail();
                         startSession();
                     });
}

void KeystrokeSynthesizerRemoteDesktop::startSession() {
    portal_->request(
        kInterface, QStringLiteral("Start"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QString()}, {},
        [this](uint response, const QVariantMap& results) {
            if (response != 0 || !(results.value(QStringLiteral("devices")).toUInt() & kKeyboard))
                return fail();
            // A token serves once: the one just used is spent, the new one opens the next run.
            const QString token = results.value(QStringLiteral("restore_token")).toString();
            if (!token.isEmpty())
                defaults_->setText(kRestoreTokenKey, token.toStdString());
            starting_ = false;
            started_ = true;
        });
}

void KeystrokeSynthesizerRemoteDesktop::fail() {
    starting_ = false;
    started_ = false;
    refused_ = true;
}

void KeystrokeSynthesizerRemoteDesktop::onClosed() {
    started_ = false;
}

bool KeystrokeSynthesizerRemoteDesktop::isTrusted() {
    // A closed session is asked for again; a refusal stands until the next start of Quenda.
    if (!started_ && !starting_ && !refused_)
        begin();
    return started_;
}

bool KeystrokeSynthesizerRemoteDesktop::postPasteShortcut() {
    if (!started_)
        return false;
    const QDBusObjectPath session(session_);
    bool sent = true;
    for (const auto& [code, state] :
         {std::pair{kLeftCtrl, 1u}, {kV, 1u}, {kV, 0u}, {kLeftCtrl, 0u}}) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(QString::fromLatin1(PortalRequests::kService),
                                           QString::fromLatin1(PortalRequests::kPath), kInterface,
                                           QStringLiteral("NotifyKeyboardKeycode"));
        message.setArguments({QVariant::fromValue(session), QVariantMap{}, code, state});
        sent = portal_->connection().send(message) && sent;
    }
    return sent;
}

}  // namespace quenda
