// The platform wrappers: processes, the serial queue, files, the login entry. (HTTP is
// exercised through its users, the Ollama client and the transcription engine; loopback ports
// through two engines that must not share one.)
#include <signal.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <numeric>
#include <regex>
#include <set>
#include <thread>

#include "platform/AutostartEntry.h"
#include "platform/DispatchQueue.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::unique_ptr<Process> shell(const std::string& script) {
    return Process::launch("/bin/sh", {"-c", script});
}

TEST(Process, PassesArgumentsVerbatimAndCapturesAllOutput) {
    ProcessOptions options;
    options.standardOutput = options.standardError = ProcessOptions::Output::capture;
    options.environment = {{"QUENDA_PROCESS_TEST", "valor com espaço"}};
    // Arguments with spaces, quotes and shell syntax reach the program untouched, and more
    // output than a pipe holds arrives whole.
    const std::string script =
        "printf '%s|' \"$@\"; printf '%s' \"$QUENDA_PROCESS_TEST\" >&2; "
        "head -c 3000000 /dev/zero | tr '\\0' e >&2; exit 3";
    auto process =
        Process::launch("/bin/sh", {"-c", script, "sh", "a b", "$(rm -rf x)", "-x", "ç"}, options);
    EXPECT_EQ(process->waitForExit(20s), 3);
    EXPECT_FALSE(process->endedBySignal());
    EXPECT_EQ(process->standardOutputText(), "a b|$(rm -rf x)|-x|ç|");
    EXPECT_EQ(process->standardErrorText(), "valor com espaço" + std::string(3000000, 'e'));
}

// (A launch failure carries the system's description: see the engine's unusable server program.)
TEST(Process, ExitedChildrenAreReapedAndEveryObserverSeesTheStatus) {
    auto process = shell("exit 4");
    // Give it time to become a zombie without anyone waiting for it.
    ASSERT_TRUE(test::waitUntil([&] { return !test::processAlive(process->pid()); }));
    EXPECT_FALSE(process->isRunning());
    EXPECT_EQ(process->exitStatus(), 4);
    EXPECT_NE(::kill(process->pid(), 0), 0) << "the zombie was not reaped";

    const pid_t dropped = shell("sleep 0.2")->pid();  // the handle goes while it runs
    EXPECT_TRUE(test::waitUntil([&] { return ::kill(dropped, 0) != 0; })) << "never reaped";

    auto observed = shell("sleep 0.1; exit 5");
    std::atomic<int> agreeing{0};
    std::vector<std::jthread> observers;
    for (int i = 0; i < 4; ++i) {
        observers.emplace_back([&] {
            while (observed->isRunning())
                std::this_thread::yield();
            agreeing += observed->waitForExit() == 5;
        });
    }
    observers.clear();
    EXPECT_EQ(agreeing, 4);
}

// stop: SIGTERM first, SIGKILL for a child that ignores it; reaped when it returns. (The
// stubborn child says when its trap is set: a SIGTERM before that would end it.)
TEST(Process, StopEndsARunningChildWithSIGTERMOrElseSIGKILL) {
    ProcessOptions options;
    options.standardError = ProcessOptions::Output::capture;
    auto stubborn = Process::launch(
        "/bin/sh", {"-c", "trap '' TERM; echo >&2; while :; do sleep 0.05; done"}, options);
    auto obedient = shell("exec sleep 30");
    ASSERT_TRUE(test::waitUntil([&] { return !stubborn->standardErrorText().empty(); }));
    EXPECT_TRUE(stubborn->stop(100ms));
    EXPECT_EQ(stubborn->exitStatus(), 128 + SIGKILL);
    EXPECT_TRUE(obedient->stop(5s));
    EXPECT_EQ(obedient->exitStatus(), 128 + SIGTERM);
    EXPECT_TRUE(obedient->endedBySignal());
    EXPECT_NE(::kill(obedient->pid(), 0), 0) << "not reaped";
    obedient->terminate();  // harmless once it has exited
}

// The kernel's parent-death signal follows the thread that forked; a child must live on when
// the thread that asked for it ends.
TEST(Process, AChildOutlivesTheThreadThatStartedIt) {
    std::unique_ptr<Process> child;
    pid_t starter = 0;
    std::thread([&] {
        starter = ::gettid();
        child = shell("exec sleep 30");
    }).join();
    ASSERT_TRUE(child);
    // Once the thread has left the process, any signal its end sends has been sent.
    ASSERT_TRUE(
        test::waitUntil([&] { return !fs::exists("/proc/self/task/" + std::to_string(starter)); }));
    EXPECT_FALSE(child->waitForExit(300ms)) << "the child ended with the thread that started it";
    child->kill();
}

TEST(DispatchQueue, RunsWorkFromManyThreadsOneAtATimeInOrderPerThread) {
    DispatchQueue queue("test-serial");
    std::atomic<int> running{0};
    bool overlapped = false;
    std::vector<std::vector<int>> seen(4);
    {
        std::vector<std::jthread> producers;
        for (int p = 0; p < 4; ++p) {
            producers.emplace_back([&, p] {
                for (int i = 0; i < 200; ++i) {
                    queue.async([&, p, i] {
                        overlapped = overlapped || running++ != 0;
                        seen[p].push_back(i);
                        --running;
                    });
                }
            });
        }
    }
    queue.sync([] {});
    EXPECT_FALSE(overlapped);
    std::vector<int> expected(200);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, std::vector(4, expected));
}

TEST(DispatchQueue, SyncHandsBackResultsAndFailuresAsyncFailuresAreReportedAndTheQueueGoesOn) {
    std::atomic<int> ran{0};
    ::testing::internal::CaptureStderr();
    {
        DispatchQueue queue("test-sync");
        EXPECT_EQ(queue.sync([] { return 42; }), 42);
        EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("falhou"); }),
                     std::runtime_error);
        EXPECT_EQ(queue.sync([&] {
            EXPECT_TRUE(queue.isCurrent());
            return queue.sync([] { return 7; });
        }),
                  7);
        EXPECT_FALSE(queue.isCurrent());
        queue.async([] { throw std::runtime_error("sem destino"); });
        queue.async([] { throw 5; });
        EXPECT_EQ(queue.sync([] { return 1; }), 1);
        // Destruction runs what is still queued behind a job that has not finished.
        std::promise<void> open;
        queue.async([gate = open.get_future().share()] { gate.wait(); });
        for (int i = 0; i < 10; ++i)
            queue.async([&] { ++ran; });
        open.set_value();
    }
    EXPECT_EQ(ran, 10);
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(reported, ::testing::HasSubstr("\"test-sync\" failed: sem destino\n"));
    EXPECT_THAT(reported, ::testing::HasSubstr("\"test-sync\" failed: unknown exception\n"));
    EXPECT_THAT(reported, ::testing::Not(::testing::HasSubstr("falhou")));  // sync's caller has it
}

TEST(Files, Utf8Validation) {
    EXPECT_TRUE(files::isValidUtf8(""));
    EXPECT_TRUE(files::isValidUtf8("ação, ç, Ç — Olá 😀"));
    EXPECT_FALSE(files::isValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(files::isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(files::isValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(files::isValidUtf8("ol\xE1"));            // Latin-1 "olá": a truncated sequence
}

TEST(Files, AtomicWritesAndCopiesAreWholeAndLeaveNothingBehind) {
    test::TempDir dir;
    const std::string big(300000, 'm');
    test::writeFile(dir / "from.bin", big);
    files::copyFileAtomically(dir / "from.bin", dir / "to.bin");
    EXPECT_EQ(test::readFile(dir / "to.bin"), big);
    EXPECT_EQ(test::readFile(dir / "from.bin"), big);
    EXPECT_THROW(files::copyFileAtomically(dir / "absent", dir / "x"), fs::filesystem_error);
    EXPECT_THROW(files::copyFileAtomically(dir / "from.bin", dir / "no-dir" / "x"),
                 fs::filesystem_error);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
    // (Files with and without the permission: see the engine's search for its programs.)
    EXPECT_FALSE(files::isExecutableFile(dir.path()));  // a directory is not a program

    auto target = dir / "texto.txt";
    // (Replacing and leaving one file, also with writers racing: see the last transcription.)
    ASSERT_FALSE(files::writeFileAtomically(target, "segundo, ação"));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0644));

    // A write that cannot happen reports it and leaves the old content alone.
    EXPECT_TRUE(files::writeFileAtomically(dir / "missing" / "x.txt", "x"));
    if (::geteuid() != 0) {
        fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(files::writeFileAtomically(target, "terceiro"));
        EXPECT_EQ(files::readUtf8File(target), "segundo, ação");
    }
}

// Each writer names its temporary files after its kind and removes only its own leftovers:
// never a file a writer still holds (locked, in this or another process), nor another kind's.
TEST(Files, OnlyStaleTemporaryFilesOfTheirOwnKindAreRemoved) {
    test::TempDir dir;
    const auto target = dir / "model.bin";
    const std::string uuid = "0A1B2C3D-0000-4000-8000-00000000CAFE";
    std::set<std::string> kept = {"model.bin.copy-" + uuid, "other.bin.download-" + uuid,
                                  "model.bin.download-0A1B2C3D", "model.bin.tmp-Ab12Cd"};
    for (const auto& name : kept)
        test::writeFile(dir / name, "");
    test::writeFile(dir / ("model.bin.download-" + uuid), "left by a crash");
    files::SiblingTempFile held(target, "download");
    ASSERT_FALSE(held.error());
    const auto heldName = fs::path(held.path()).filename().string();
    EXPECT_TRUE(std::regex_match(heldName, std::regex("model\\.bin\\.download-[-0-9A-F]{36}")));

    files::removeStaleTempFiles(target, "download");
    kept.insert(heldName);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, kept);
    ASSERT_FALSE(held.write("complete"));
    ASSERT_FALSE(held.commit(target));
    EXPECT_EQ(test::readFile(target), "complete");
}

// The login entry: where it goes, that its program survives the desktop file's quoting (checked
// by the desktop's own validator where it is installed), and that it exists exactly while
// enabled.
TEST(AutostartEntry, ExistsExactlyWhileEnabledAndRunsTheProgramHidden) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path().string());
    test::ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    const bool validator = fs::exists("/usr/bin/desktop-file-validate");
    const struct {
        std::string program, exec;
    } cases[] = {
        {"/usr/bin/quenda", "Exec=/usr/bin/quenda --start-hidden"},
        {"/home/ana/meus programas/quenda",
         R"(Exec="/home/ana/meus programas/quenda" --start-hidden)"},
        // Reserved characters escaped inside the quotes, then backslashes and "%" escaped
        // once more for the file.
        {R"(/opt/a$b\c%d"e/quenda)", R"(Exec="/opt/a\\$b\\\\c%%d\\"e/quenda" --start-hidden)"},
    };
    for (const auto& [program, exec] : cases) {
        SCOPED_TRACE(program);
        const AutostartEntry entry("app.quenda.Quenda", program);
        EXPECT_EQ(entry.path(), dir / "config/autostart/app.quenda.Quenda.desktop");
        EXPECT_FALSE(entry.isEnabled());
        ASSERT_FALSE(entry.enable());  // the folder is made as needed
        EXPECT_TRUE(entry.isEnabled());
        const std::string text = test::readFile(entry.path());
        EXPECT_NE(text.find("\n" + exec + "\n"), std::string::npos) << text;
        if (validator) {
            const auto check =
                test::runProgram("/usr/bin/desktop-file-validate", {entry.path().string()});
            EXPECT_EQ(check.status, 0) << check.out << check.err;
            EXPECT_EQ(check.out, "") << text;
        }
        ASSERT_FALSE(entry.disable());
        EXPECT_FALSE(entry.isEnabled());
        EXPECT_FALSE(entry.disable());  // nothing to remove is no error
    }
    EXPECT_EQ(fs::directory_iterator(dir / "config/autostart"), fs::directory_iterator());

    // A line break cannot be written; a relative configuration folder is not used.
    EXPECT_TRUE(AutostartEntry("app.quenda.Quenda", "/tmp/a\nb").enable());
    test::ScopedEnv relative("XDG_CONFIG_HOME", "config");
    EXPECT_EQ(AutostartEntry("app.quenda.Quenda", "/q").path(),
              dir / ".config/autostart/app.quenda.Quenda.desktop");
}

}  // namespace
}  // namespace quenda
