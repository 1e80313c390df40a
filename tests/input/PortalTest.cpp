// The portal backends (push-to-talk through GlobalShortcuts, the paste keystroke through
// RemoteDesktop) against a stand-in portal on a private session bus.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusObjectPath>

#include "FakePortal.h"
#include "input/HotkeyManagerPortal.h"
#include "input/KeystrokeSynthesizerRemoteDesktop.h"
#include "platform/InMemoryDefaults.h"
#include "support/QtTestSupport.h"
#include "support/SessionBus.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;
using test::processEventsUntil;

class PortalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.ready());
        restartPortal();
    }
    // A fresh portal (one on the bus at a time).
    void restartPortal() {
        portal_.reset();
        portal_ = std::make_unique<test::FakePortal>();
        ASSERT_TRUE(portal_->ready());
    }

    test::ScopedQtApplication<QCoreApplication> app_;
    test::PrivateSessionBus bus_;
    std::unique_ptr<test::FakePortal> portal_;
};

// The push-to-talk backend and what it reported, in order: "press", "release", "grab 0/1".
struct Reports {
    HotkeyManagerPortal backend{"app.quenda.Quenda", "Hold to talk"};
    std::vector<std::string> seen;
    // Installs the backend and waits for its first report.
    bool install() {
        return backend.install(
                   Hotkey::pushToTalk(),
                   [this](KeyEventType type, int64_t keyCode, uint64_t flags) {
                       EXPECT_EQ(keyCode, Hotkey::pushToTalk().keyCode);
                       EXPECT_EQ(flags, Hotkey::pushToTalk().modifiers);
                       seen.push_back(type == KeyEventType::keyDown ? "press" : "release");
                       return HotkeyDecision{};
                   },
                   [this](bool active) { seen.push_back(active ? "grab 1" : "grab 0"); }) &&
               processEventsUntil([&] { return !seen.empty(); });
    }
};

const QString kId = QString::fromLatin1(HotkeyManagerPortal::kShortcutId);

TEST_F(PortalTest, BindsOnceAndTurnsActivationsIntoOnePressAndOneRelease) {
    for (const bool boundBefore : {false, true}) {
        SCOPED_TRACE(boundBefore);
        ASSERT_NO_FATAL_FAILURE(restartPortal());
        if (boundBefore)
            portal_->alreadyBound = {kId};
        Reports reports;
        ASSERT_TRUE(reports.install());
        EXPECT_EQ(reports.seen, std::vector<std::string>{"grab 1"});

        // Registered under the application id first, then the session carries the shortcut
        // with its preferred keys, then the list; bound only when the desktop lacks it.
        const QStringList expected{"Register", "CreateSession", "ListShortcuts", "BindShortcuts"};
        EXPECT_EQ(portal_->members(), expected.mid(0, boundBefore ? 3 : 4));
        EXPECT_EQ(portal_->callsOf("Register").at(0).arguments.value(0).toString(),
                  "app.quenda.Quenda");
        const auto offered = qdbus_cast<QList<PortalShortcut>>(
            portal_->callsOf("CreateSession")[0].options.value("shortcuts"));
        ASSERT_EQ(offered.size(), 1);
        EXPECT_EQ(offered[0].id, kId);
        EXPECT_EQ(offered[0].properties.value("preferred_trigger").toString(), "CTRL+ALT+d");

        // The repeats of a held key are one press; another session's and another shortcut's
        // releases are not ours (nor are their activations, which the press would hide). The
        // last release comes after them all.
        const QString session = portal_->lastSession();
        portal_->shortcutSignal("Activated", session, kId);
        portal_->shortcutSignal("Activated", session, kId);
        portal_->shortcutSignal("Deactivated", session, kId);
        portal_->shortcutSignal("Deactivated", session, kId);
        portal_->shortcutSignal("Activated", session, kId);
        portal_->shortcutSignal("Deactivated", session + "x", kId);
        portal_->shortcutSignal("Deactivated", session, "other");
        portal_->shortcutSignal("Deactivated", session, kId);
        ASSERT_TRUE(processEventsUntil([&] { return reports.seen.size() >= 5; }));
        EXPECT_EQ(reports.seen,
                  (std::vector<std::string>{"grab 1", "press", "release", "press", "release"}));

        // Removed: the session is closed and later activations reach nobody.
        reports.backend.remove();
        ASSERT_TRUE(processEventsUntil([&] { return portal_->members().back() == "Close"; }));
        EXPECT_EQ(portal_->callsOf("Close").back().arguments.size(), 0);
        portal_->shortcutSignal("Activated", session, kId);
        QCoreApplication::processEvents();
        EXPECT_EQ(reports.seen.size(), 5u);
    }
}

TEST_F(PortalTest, AMissingOrRefusingPortalReportsTheShortcutAsNotHeld) {
    // {case, GlobalShortcuts there, CreateSession's answer, BindShortcuts' answer, binding keeps
    // the shortcut, the last call}
    for (const auto& [name, shortcuts, create, bind, keeps, lastCall] :
         std::vector<std::tuple<const char*, bool, uint, uint, bool, QString>>{
             {"no interface", false, 0, 0, true, "CreateSession"},
             {"session refused", true, 2, 0, true, "CreateSession"},
             {"binding cancelled", true, 0, 1, true, "BindShortcuts"},
             {"bound nothing", true, 0, 0, false, "BindShortcuts"}}) {
        SCOPED_TRACE(name);
        ASSERT_NO_FATAL_FAILURE(restartPortal());
        portal_->globalShortcuts = shortcuts;
        portal_->createResponse = create;
        portal_->bindResponse = bind;
        portal_->bindKeepsShortcut = keeps;
        Reports reports;
        ASSERT_TRUE(reports.install());
        EXPECT_EQ(reports.seen, std::vector<std::string>{"grab 0"});
        EXPECT_EQ(portal_->members().back(), lastCall);
        if (!portal_->lastSession().isEmpty())
            portal_->shortcutSignal("Activated", portal_->lastSession(), kId);
        QCoreApplication::processEvents();
        EXPECT_EQ(reports.seen.size(), 1u);
    }
}

// Refused, the paste is left to the user and no token is kept. Granted, the paste is Ctrl+V;
// each session is asked for with the token the one before it got (none at first), also when
// the desktop closes a session and it is asked for again.
TEST_F(PortalTest, RemoteDesktopPastesWithCtrlVOnceGrantedAndPassesEachRestoreTokenOn) {
    auto defaults = std::make_shared<InMemoryDefaults>();
    const auto token = [&] {
        return defaults->text(KeystrokeSynthesizerRemoteDesktop::kRestoreTokenKey);
    };
    portal_->startResponse = 1;
    std::optional<KeystrokeSynthesizerRemoteDesktop> keystrokes(defaults);
    ASSERT_TRUE(processEventsUntil([&] { return keystrokes->refused(); }));
    EXPECT_FALSE(keystrokes->isTrusted());
    EXPECT_FALSE(keystrokes->postPasteShortcut());
    EXPECT_FALSE(token());
    portal_->startResponse = 0;
    for (const char* expectedToken : {"token-1", "token-3"}) {  // a run of the application each
        SCOPED_TRACE(expectedToken);
        keystrokes.emplace(defaults);
        EXPECT_FALSE(keystrokes->postPasteShortcut());  // not granted yet
        ASSERT_TRUE(processEventsUntil([&] { return keystrokes->isTrusted(); }));
        EXPECT_EQ(token(), expectedToken);
        portal_->closeSession(portal_->lastSession());
        ASSERT_TRUE(processEventsUntil([&] { return !keystrokes->isTrusted(); }));
        ASSERT_TRUE(processEventsUntil([&] { return keystrokes->isTrusted(); }));
    }
    // Keyboard only, kept until revoked.
    const auto selections = portal_->callsOf("SelectDevices");
    ASSERT_EQ(selections.size(), 5u);
    for (std::size_t i = 0; i < selections.size(); ++i) {
        EXPECT_EQ(selections[i].options.value("types").toUInt(), 1u);
        EXPECT_EQ(selections[i].options.value("persist_mode").toUInt(), 2u);
        EXPECT_EQ(selections[i].options.value("restore_token", "none").toString(),
                  i < 2 ? QString("none") : QString("token-%1").arg(i - 1));
    }

    ASSERT_TRUE(keystrokes->postPasteShortcut());
    ASSERT_TRUE(
        processEventsUntil([&] { return portal_->callsOf("NotifyKeyboardKeycode").size() == 4; }));
    std::vector<std::pair<int, uint>> keys;
    for (const auto& call : portal_->callsOf("NotifyKeyboardKeycode"))
        keys.emplace_back(call.arguments.value(2).toInt(), call.arguments.value(3).toUInt());
    EXPECT_EQ(keys, (std::vector<std::pair<int, uint>>{{29, 1}, {47, 1}, {47, 0}, {29, 0}}));
}

}  // namespace
}  // namespace quenda
