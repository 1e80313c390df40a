// The application shell: the single instance on a session bus, the termination signals through
// the event loop, and the tray icon on a desktop that has no tray at first.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <array>
#include <memory>

#include "l10n/L10n.h"
#include "platform/Defaults.h"
#include "platform/InMemoryDefaults.h"
#include "support/QtTestSupport.h"
#include "support/SessionBus.h"
#include "support/TestSupport.h"
#include "ui/SingleInstance.h"
#include "ui/TerminationSignals.h"
#include "ui/TrayIcon.h"

// Last: its macros (Bool, Status, None) clash with names in the headers above.
#include <X11/Xlib.h>

namespace quenda::ui {
namespace {

// One QApplication for the whole test program, never destroyed (its end would come after
// main's).
void ensureApplication() {
    [[maybe_unused]] static auto* application = new test::ScopedQtApplication<QApplication>;
}

// Without a session bus every start is the instance. On one, the first claim owns the name and
// later starts hand it their commands.
TEST(SingleInstance, TheFirstClaimOwnsTheNameAndLaterStartsHandItTheirCommands) {
    ensureApplication();
    {
        SingleInstance one, two;  // the test's address points nowhere
        EXPECT_TRUE(one.isFirstInstance());
        EXPECT_TRUE(two.isFirstInstance());
        EXPECT_FALSE(two.sendMessage(QStringLiteral("show")));
    }
    test::PrivateSessionBus bus;
    ASSERT_TRUE(bus.ready());
    auto first = std::make_unique<SingleInstance>();
    SingleInstance second;
    EXPECT_TRUE(first->isFirstInstance());
    EXPECT_FALSE(second.isFirstInstance());

    QSignalSpy received(first.get(), &SingleInstance::messageReceived);
    const QStringList commands = {QStringLiteral("show"), QStringLiteral("toggle"),
                                  QStringLiteral("ptt-press"), QStringLiteral("ptt-release")};
    for (const QString& command : commands)
        EXPECT_TRUE(second.sendMessage(command)) << command.toStdString();
    EXPECT_FALSE(second.sendMessage(QStringLiteral("format-disk")));  // not one it knows
    QStringList got;
    for (const QList<QVariant>& arguments : received)
        got << arguments.at(0).toString();
    EXPECT_EQ(got, commands);

    // The first instance gone, its name is free at once: nobody takes a message, and the next
    // start is the instance.
    first.reset();
    EXPECT_FALSE(second.sendMessage(QStringLiteral("show")));
    EXPECT_TRUE(SingleInstance().isFirstInstance());
}

volatile sig_atomic_t previousHandlerSaw = 0;

TEST(TerminationSignals, EachSignalArrivesThroughTheEventLoopAndThePreviousHandlersComeBack) {
    ensureApplication();
    const std::array numbers = {SIGTERM, SIGINT, SIGHUP};
    struct sigaction previous {};
    previous.sa_handler = [](int number) { previousHandlerSaw = number; };
    std::array<struct sigaction, 3> original{};
    for (size_t i = 0; i < numbers.size(); ++i)
        sigaction(numbers[i], &previous, &original[i]);
    {
        TerminationSignals termination;
        QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
        for (const int number : numbers)
            raise(number);
        EXPECT_EQ(requested.count(), 0);  // nothing but a byte written inside the handler
        EXPECT_TRUE(test::processEventsUntil([&] { return requested.count() == 3; }));
        QList<int> got;
        for (const QList<QVariant>& arguments : requested)
            got << arguments.at(0).toInt();
        EXPECT_EQ(got, QList<int>(numbers.begin(), numbers.end()));
    }
    for (const int number : numbers) {
        raise(number);
        EXPECT_EQ(previousHandlerSaw, number);
    }
    for (size_t i = 0; i < numbers.size(); ++i)
        sigaction(numbers[i], &original[i], nullptr);
}

// An XEmbed system tray as far as applications can see: it takes screen 0's tray selection and
// announces itself (the MANAGER message), and it notes the icons that ask to dock. Its end takes
// the tray away.
class FakeTray {
  public:
    FakeTray() : display_(XOpenDisplay(nullptr)) {
        const Window root = DefaultRootWindow(display_);
        const Atom selection = XInternAtom(display_, "_NET_SYSTEM_TRAY_S0", False);
        window_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display_, selection, window_, CurrentTime);
        XEvent manager{};
        manager.xclient.type = ClientMessage;
        manager.xclient.window = root;
        manager.xclient.message_type = XInternAtom(display_, "MANAGER", False);
        manager.xclient.format = 32;
        manager.xclient.data.l[0] = CurrentTime;
        manager.xclient.data.l[1] = static_cast<long>(selection);
        manager.xclient.data.l[2] = static_cast<long>(window_);
        XSendEvent(display_, root, False, StructureNotifyMask, &manager);
        XSync(display_, False);
    }
    ~FakeTray() { XCloseDisplay(display_); }  // its window goes with the connection

    bool dockRequested() {
        const Atom opcode = XInternAtom(display_, "_NET_SYSTEM_TRAY_OPCODE", False);
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            docked_ |= event.type == ClientMessage && event.xclient.message_type == opcode &&
                       event.xclient.data.l[1] == 0;  // SYSTEM_TRAY_REQUEST_DOCK
        }
        return docked_;
    }

  private:
    Display* display_;
    Window window_;
    bool docked_ = false;
};

// Cases in one test: they share the display's one tray selection.
TEST(TrayIcon, WaitsForATrayAndItsMenuFollowsStateAndLanguage) {
    ensureApplication();
    auto store = std::make_shared<InMemoryDefaults>();
    struct Restore {
        std::shared_ptr<Defaults> previous;
        ~Restore() { installStandardDefaults(previous); }
    } restore{installStandardDefaults(store)};

    TrayIcon tray;
    EXPECT_FALSE(tray.isVisible());
    auto* icon = tray.findChild<QSystemTrayIcon*>();
    ASSERT_TRUE(icon && icon->contextMenu());
    const auto texts = [&] {
        QStringList list;
        for (QAction* action : icon->contextMenu()->actions())
            if (!action->isSeparator())
                list << action->text();
        return list;
    };
    EXPECT_EQ(texts(), QStringList({QStringLiteral("Ocultar Quenda"),
                                    QStringLiteral("Iniciar tradução ao vivo"),
                                    QStringLiteral("Sair do Quenda")}));
    tray.setWindowShown(false);
    tray.setLiveActive(true);
    tray.setMode(TrayIcon::Mode::recording);
    store->setText(L10n::kLanguageKey, "en");
    tray.retranslate();
    EXPECT_EQ(texts(),
              QStringList({QStringLiteral("Show Quenda"), QStringLiteral("Stop live translation"),
                           QStringLiteral("Quit Quenda")}));

    // Each item leaves as its signal.
    QSignalSpy showHide(&tray, &TrayIcon::showHideRequested);
    QSignalSpy live(&tray, &TrayIcon::liveToggleRequested);
    QSignalSpy quit(&tray, &TrayIcon::quitRequested);
    for (QAction* action : icon->contextMenu()->actions())
        action->trigger();
    EXPECT_EQ(QList<qsizetype>({showHide.count(), live.count(), quit.count()}),
              QList<qsizetype>({1, 1, 1}));

    // One icon per mode; recording's microphone is red.
    QList<QImage> images;
    for (const auto mode :
         {TrayIcon::Mode::idle, TrayIcon::Mode::recording, TrayIcon::Mode::transcribing}) {
        tray.setMode(mode);
        images << icon->icon().pixmap(32).toImage();
    }
    EXPECT_TRUE(images[0] != images[1] && images[0] != images[2] && images[1] != images[2]);
    EXPECT_EQ(images[1].pixelColor(16, 10).name(), QStringLiteral("#e5383b"));

    // A tray comes up (a session still starting): the icon docks; it goes away: the icon is
    // reported gone.
    {
        FakeTray fake;
        EXPECT_TRUE(test::processEventsUntil([&] { return fake.dockRequested(); }));
        EXPECT_TRUE(tray.isVisible());
    }
    EXPECT_TRUE(test::processEventsUntil([&] { return !tray.isVisible(); }));
}

}  // namespace
}  // namespace quenda::ui
