#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;
using test::processAlive;

std::unique_ptr<Process> shell(const std::string& script, ProcessOptions options = {}) {
    return Process::launch("/bin/sh", {"-c", script}, options);
}

TEST(Process, PassesArgumentsVerbatimAndCapturesBothStreams) {
    ProcessOptions options;
    options.standardOutput = ProcessOptions::Output::capture;
    options.standardError = ProcessOptions::Output::capture;
    options.environment = {{"QUENDA_PROCESS_TEST", "valor com espaço"}};
    // Arguments with spaces, quotes and shell syntax reach the program untouched.
    auto process = Process::launch(
        "/bin/sh",
        {"-c", "printf '%s|' \"$@\"; printf '%s' \"$QUENDA_PROCESS_TEST\" >&2; exit 3", "sh", "a b",
         "$(rm -rf x)", "-x", "ç"},
        options);
    EXPECT_EQ(process->waitForExit(), 3);
    EXPECT_FALSE(process->endedBySignal());
    EXPECT_EQ(process->standardOutputText(), "a b|$(rm -rf x)|-x|ç|");
    EXPECT_EQ(process->standardErrorText(), "valor com espaço");
}

TEST(Process, DrainsMoreOutputThanAPipeHolds) {
    ProcessOptions options;
    options.standardError = ProcessOptions::Output::capture;
    auto process = shell("head -c 3000000 /dev/zero | tr '\\0' e >&2", options);
    ASSERT_TRUE(process->waitForExit(20s).has_value());
    EXPECT_EQ(process->standardErrorText().size(), 3000000u);
}

TEST(Process, LaunchFailuresCarryTheSystemsDescription) {
    test::TempDir dir;
    test::writeFile(dir / "not-executable", "#!/bin/sh\n");
    try {
        Process::launch(dir / "missing", {});
        FAIL() << "launch of a missing program succeeded";
    } catch (const ProcessLaunchError& error) {
        EXPECT_STREQ(error.what(), "No such file or directory");
    }
    EXPECT_THROW(Process::launch(dir / "not-executable", {}), ProcessLaunchError);
    EXPECT_THROW(Process::launch(dir.path(), {}), ProcessLaunchError);
}

TEST(Process, AnExitedChildIsNotRunningAndIsReaped) {
    auto process = shell("exit 0");
    // Give it time to become a zombie without anyone waiting for it.
    ASSERT_TRUE(test::waitUntil([&] { return !processAlive(process->pid()); }));
    EXPECT_FALSE(process->isRunning());
    EXPECT_EQ(process->exitStatus(), 0);
    EXPECT_NE(::kill(process->pid(), 0), 0) << "the zombie was not reaped";
}

TEST(Process, TerminateAndKillEndARunningChild) {
    auto sleeper = shell("exec sleep 30");
    EXPECT_TRUE(sleeper->isRunning());
    EXPECT_FALSE(sleeper->waitForExit(50ms).has_value());
    sleeper->terminate();
    EXPECT_EQ(sleeper->waitForExit(5s), 128 + SIGTERM);
    EXPECT_TRUE(sleeper->endedBySignal());
    sleeper->terminate();  // harmless once it has exited

    auto stubborn = shell("trap '' TERM; while :; do sleep 0.05; done");
    ASSERT_TRUE(test::waitUntil([&] { return stubborn->isRunning(); }));
    stubborn->kill();
    EXPECT_EQ(stubborn->waitForExit(5s), 128 + SIGKILL);
}

TEST(Process, ADroppedHandleOfARunningChildLeavesNoZombie) {
    pid_t pid;
    {
        auto process = shell("sleep 0.2");
        pid = process->pid();
    }
    EXPECT_TRUE(test::waitUntil([&] { return ::kill(pid, 0) != 0; }, 5s))
        << "the child was never reaped";
}

TEST(Process, ConcurrentObserversAgreeOnTheExit) {
    auto process = shell("sleep 0.1; exit 4");
    std::vector<std::thread> observers;
    std::vector<int> statuses(4, -1);
    for (int i = 0; i < 4; ++i) {
        observers.emplace_back([&, i] {
            while (process->isRunning())
                std::this_thread::yield();
            statuses[i] = process->waitForExit();
        });
    }
    for (auto& observer : observers)
        observer.join();
    for (int status : statuses)
        EXPECT_EQ(status, 4);
}

}  // namespace
}  // namespace quenda
