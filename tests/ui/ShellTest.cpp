// The application shell: the single instance on a session bus, the termination signals through
// the event loop, and the tray icon on a desktop that has no tray at first.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

#include "l10n/L10n.h"
#include "platform/Defaults.h"
#include "platform/InMemoryDefaults.h"
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
    static int argc = 1;
    static char name[] = "ShellTest";
    static char* argv[] = {name, nullptr};
    static auto* application = new QApplication(argc, argv);
    (void)application;
}

// A session bus of the test's own: a dbus-daemon on a socket in a temporary directory, its
// address in DBUS_SESSION_BUS_ADDRESS while the object lives.
class PrivateSessionBus {
  public:
    PrivateSessionBus() {
        daemon_.start(
            QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
             QStringLiteral("--print-address"),
             QStringLiteral("--address=unix:dir=") + QString::fromStdString(dir_.path())});
        while (daemon_.waitForReadyRead(5000) && !daemon_.canReadLine()) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed().toStdString();
        if (!address_.empty())
            env_.emplace("DBUS_SESSION_BUS_ADDRESS", address_);
    }
    ~PrivateSessionBus() {
        env_.reset();
        daemon_.kill();
        daemon_.waitForFinished();
    }
    bool started() const { return !address_.empty(); }

  private:
    test::TempDir dir_;
    QProcess daemon_;
    std::string address_;
    std::optional<test::ScopedEnv> env_;
};

class SingleInstanceTest : public ::testing::Test {
  protected:
    SingleInstanceTest() { ensureApplication(); }
};

TEST_F(SingleInstanceTest, TheFirstClaimOwnsTheNameAndLaterStartsHandItTheirCommands) {
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.started());
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

TEST_F(SingleInstanceTest, WithoutASessionBusEveryStartIsTheInstance) {
    test::ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quenda-test-bus");
    SingleInstance one;
    SingleInstance two;
    EXPECT_TRUE(one.isFirstInstance());
    EXPECT_TRUE(two.isFirstInstance());
    EXPECT_FALSE(two.sendMessage(QStringLiteral("show")));
}

volatile sig_atomic_t previousHandlerSaw = 0;
void previousHandler(int signalNumber) {
    previousHandlerSaw = signalNumber;
}

TEST(TerminationSignals, EachSignalArrivesThroughTheEventLoopAndThePreviousHandlersComeBack) {
    ensureApplication();
    const int numbers[] = {SIGTERM, SIGINT, SIGHUP};
    struct sigaction mine {};
    mine.sa_handler = previousHandler;
    struct sigaction original[3];
    for (int i = 0; i < 3; ++i)
        sigaction(numbers[i], &mine, &original[i]);

    {
        TerminationSignals termination;
        QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
        for (const int number : numbers)
            raise(number);
        EXPECT_EQ(requested.count(), 0);  // nothing happens inside the handler itself
        for (int turn = 0; turn < 3 && requested.count() < 3; ++turn)
            requested.wait(5000);
        ASSERT_EQ(requested.count(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(requested.at(i).at(0).toInt(), numbers[i]);
        EXPECT_EQ(previousHandlerSaw, 0);
    }
    for (const int number : numbers) {
        raise(number);
        EXPECT_EQ(previousHandlerSaw, number);
    }
    for (int i = 0; i < 3; ++i)
        sigaction(numbers[i], &original[i], nullptr);
}

// An XEmbed system tray as far as applications can see: the owner of the tray selection of
// screen 0. Destroying it takes the tray away.
class FakeTray {
  public:
    FakeTray() : display_(XOpenDisplay(nullptr)) {
        if (!display_)
            return;
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display_, XInternAtom(display_, "_NET_SYSTEM_TRAY_S0", False), window_,
                           CurrentTime);
        XSync(display_, False);
    }
    ~FakeTray() {
        if (display_) {
            XDestroyWindow(display_, window_);
            XCloseDisplay(display_);
        }
    }
    FakeTray(const FakeTray&) = delete;
    FakeTray& operator=(const FakeTray&) = delete;
    bool open() const { return display_ != nullptr; }

  private:
    Display* display_;
    Window window_ = 0;
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
    ASSERT_NE(icon, nullptr);
    ASSERT_NE(icon->contextMenu(), nullptr);
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
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Quenda — recording…"));

    // Each item leaves as its signal.
    QSignalSpy showHide(&tray, &TrayIcon::showHideRequested);
    QSignalSpy live(&tray, &TrayIcon::liveToggleRequested);
    QSignalSpy quit(&tray, &TrayIcon::quitRequested);
    for (QAction* action : icon->contextMenu()->actions())
        action->trigger();
    EXPECT_EQ(showHide.count(), 1);
    EXPECT_EQ(live.count(), 1);
    EXPECT_EQ(quit.count(), 1);

    // One icon per mode; recording's microphone is red.
    QList<QImage> images;
    for (const auto mode :
         {TrayIcon::Mode::idle, TrayIcon::Mode::recording, TrayIcon::Mode::transcribing}) {
        tray.setMode(mode);
        images << icon->icon().pixmap(32).toImage();
    }
    EXPECT_NE(images[0], images[1]);
    EXPECT_NE(images[0], images[2]);
    const QColor body = images[1].pixelColor(16, 10);
    EXPECT_GT(body.red(), 180);
    EXPECT_LT(body.green(), 100);

    // A tray comes up (a session still starting): the icon shows; it goes away: the icon is
    // reported gone.
    QSignalSpy visibility(&tray, &TrayIcon::visibilityChanged);
    {
        FakeTray fake;
        ASSERT_TRUE(fake.open());
        ASSERT_TRUE(visibility.wait(5000));
        EXPECT_EQ(visibility.last().at(0).toBool(), true);
        EXPECT_TRUE(tray.isVisible());
        EXPECT_TRUE(icon->isVisible());
    }
    ASSERT_TRUE(visibility.wait(8000));
    EXPECT_EQ(visibility.last().at(0).toBool(), false);
    EXPECT_FALSE(tray.isVisible());
}

}  // namespace
}  // namespace quenda::ui
