#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "input/KeystrokeSynthesizer.h"
#include "platform/Defaults.h"

namespace quenda {

class PortalRequests;

// Synthetic keystrokes through the desktop's RemoteDesktop portal (KDE Plasma, GNOME): a
// session with keyboard access, then key codes sent into it. Only the paste shortcut is sent:
// typing text key by key loses accented letters under some layouts, while the clipboard
// carries them intact.
//
// The session is asked for at construction, so a desktop that asks the user does so once, at
// start, and not in the middle of a dictation; until it is granted, isTrusted() is false and
// the text stays on the clipboard. The portal's restore token (portals of version 2 and later)
// is kept in `defaults` under kRestoreTokenKey and replaced by the new one after every start,
// since each token serves once: the next run is then let in without asking. A session the
// desktop closes is asked for again at the next isTrusted().
//
// Use from the main thread.
class KeystrokeSynthesizerRemoteDesktop final : public QObject, public KeystrokeSynthesizer {
    Q_OBJECT
  public:
    static constexpr const char* kRestoreTokenKey = "remoteDesktopRestoreToken";

    explicit KeystrokeSynthesizerRemoteDesktop(std::shared_ptr<Defaults> defaults);
    ~KeystrokeSynthesizerRemoteDesktop() override;

    bool isTrusted() override;
    bool postPasteShortcut() override;

    // Whether the session was refused (or the portal is missing) at the last attempt.
    bool refused() const { return refused_; }

  private slots:
    void onClosed();

  private:
    void begin();
    void selectDevices();
    void startSession();
    void fail();

    std::shared_ptr<Defaults> defaults_;
    std::unique_ptr<PortalRequests> portal_;
    QString session_;
    bool starting_ = false;
    bool started_ = false;
    bool refused_ = false;
};

}  // namespace quenda
