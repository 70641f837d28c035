// Faults that hit the whole process or the whole server: the server restarts under a running
// transfer, qel is killed with SIGKILL in the middle of a file or of a checkpoint, or stopped
// by a signal it handles. The next run with --resume must finish the job from whatever the
// dead run left.

#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <thread>

#include "Scenario.h"

using namespace faults;
using namespace std::chrono_literals;

namespace {

// Long enough that a stalled transfer is still waiting when the test acts on it.
constexpr auto kPatientTimeout = 60s;
constexpr auto kWaitLimit = 60s;

// The run has logged the start of its Nth file.
bool reachedFile(Scenario& scenario, int file) {
    const char* perFile = scenario.op() == Op::Restore ? "Putting " : "Getting ";
    return countOf(scenario.user().log(), perFile) >= static_cast<std::size_t>(file);
}

std::vector<std::string> stallHalfWay(const Scenario& scenario, int file) {
    return {scenario.op() == Op::Restore ? "--stall-data-stor" : "--stall-data-retr",
            std::to_string(scenario.transferCommand(file))};
}

// The run is in the middle of file `file`: its start is logged and part of it has reached the
// other side (the server's file, or a download's temporary file, which can only be this
// file's once the run has logged it).
bool midFile(Scenario& scenario, int file) {
    if (!reachedFile(scenario, file))
        return false;
    if (scenario.op() == Op::Restore)
        return fs::exists(scenario.targetOf(file));
    for (const auto& part : partialDownloads(scenario.user().folder()))
        if (fs::file_size(scenario.user().folder() / part) > 0)
            return true;
    return false;
}

class ServerRestart : public ::testing::TestWithParam<Op> {};

// The server goes away under a transfer and comes back: the run fails like a dropped
// connection and the resume finishes.
TEST_P(ServerRestart, UnderARunningTransfer) {
    Scenario scenario(GetParam(), 10);
    const int file = 5;
    scenario.server().restart(stallHalfWay(scenario, file));
    RunningQel qel(scenario.user(), scenario.op(), scenario.host(), false, kPatientTimeout);
    ASSERT_TRUE(waitUntil([&] { return midFile(scenario, file); }, kWaitLimit));
    scenario.server().restart({});
    ASSERT_TRUE(waitUntil([&] { return !qel.running(); }, kWaitLimit));

    const std::string log = scenario.user().log();
    EXPECT_NE(log.find(scenario.op() == Op::Restore ? "FAIL:\tputNormalFiles rc = 10"
                                                    : "FAIL:\tgetNormalFiles rc = 10"),
              std::string::npos)
        << log;
    // The control connection closes under the transfer: the connection was aborted.
    EXPECT_NE(log.find("(GetLastError code = 12030)"), std::string::npos) << log;
    EXPECT_NE(readFile(scenario.user().home() / "qel.out").find(" (code 12030)\n"),
              std::string::npos)
        << readFile(scenario.user().home() / "qel.out");
    scenario.expectNothingBroken();
    scenario.expectRecoveryFrom(file);
    scenario.expectResumeCompletes(scenario.fileCount() - file + 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, ServerRestart,
                         ::testing::Values(Op::Backup, Op::Restore, Op::Logs),
                         [](const auto& info) { return std::string(opName(info.param)); });

struct KillCase {
    Op op;
    int mailboxFiles;
    int file; // killed while this file is half-way
};

class KilledMidFile : public ::testing::TestWithParam<KillCase> {};

TEST_P(KilledMidFile, ResumeFinishesTheJob) {
    const KillCase c = GetParam();
    Scenario scenario(c.op, c.mailboxFiles);
    scenario.server().restart(stallHalfWay(scenario, c.file));
    {
        RunningQel qel(scenario.user(), scenario.op(), scenario.host(), false, kPatientTimeout);
        ASSERT_TRUE(waitUntil([&] { return midFile(scenario, c.file); }, kWaitLimit));
        EXPECT_EQ(qel.kill(), SIGKILL);
    }
    if (c.op == Op::Backup) {
        EXPECT_FALSE(fs::exists(scenario.targetOf(c.file)));
    }
    if (c.file > 100) {
        // The checkpoint before file 101 is what the resume continues from.
        scenario.expectRecoveryFrom(101);
        scenario.expectResumeCompletes(scenario.fileCount() - 100);
    } else if (c.op == Op::Restore) {
        // Once the server's trees are deleted, the recovery file lists every file.
        scenario.expectRecoveryFrom(1);
        scenario.expectResumeCompletes(scenario.fileCount());
    } else {
        // No checkpoint yet: nothing to continue from, and a fresh run does it all.
        EXPECT_FALSE(fs::exists(scenario.user().folder() / "k7.bad"));
        EXPECT_EQ(scenario.user().registryDirectory(), std::nullopt);
        scenario.expectResumeCompletes(scenario.fileCount(), false);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, KilledMidFile,
    ::testing::Values(KillCase{Op::Backup, 10, 4}, KillCase{Op::Backup, 110, 105},
                      KillCase{Op::Restore, 10, 4}, KillCase{Op::Restore, 110, 105},
                      KillCase{Op::Logs, 0, 4}),
    [](const auto& info) {
        return std::string(opName(info.param.op)) + "_File" + std::to_string(info.param.file);
    });

class KilledInCheckpoint : public ::testing::TestWithParam<Op> {};

// Killed while the second checkpoint reconnects: the first checkpoint's recovery file stays
// whole and the resume continues from it.
TEST_P(KilledInCheckpoint, ResumeContinuesFromTheLastWholeCheckpoint) {
    Scenario scenario(GetParam(), 202);
    const int secondCheckpointLogin = scenario.loginsBefore(202);
    scenario.server().restart({"--stall-command", "USER:" + std::to_string(secondCheckpointLogin)});
    {
        RunningQel qel(scenario.user(), scenario.op(), scenario.host(), false, kPatientTimeout);
        // File 201 is done (a backup has renamed it into place); what follows is the
        // checkpoint, stalled in its reconnect.
        ASSERT_TRUE(waitUntil(
            [&] {
                return reachedFile(scenario, 201) &&
                       (scenario.op() != Op::Backup || fs::exists(scenario.targetOf(201)));
            },
            kWaitLimit));
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(qel.kill(), SIGKILL);
    }
    scenario.expectNothingBroken();
    scenario.expectRecoveryFrom(101);
    scenario.expectResumeCompletes(scenario.fileCount() - 100);
}

INSTANTIATE_TEST_SUITE_P(Faults, KilledInCheckpoint, ::testing::Values(Op::Backup, Op::Restore),
                         [](const auto& info) { return std::string(opName(info.param)); });

} // namespace

namespace {

struct SignalCase {
    Op op;
    int signalNumber;
    int file; // the signal comes while this file is half-way
};

class StoppedBySignal : public ::testing::TestWithParam<SignalCase> {};

// A signal ends the run at once, yet like a failed file: the file in flight and the rest are
// saved, no partial file stays, and the resume finishes the job. A restore's first file is the
// worst moment: the server's trees are gone.
TEST_P(StoppedBySignal, SavesWhatIsLeftForTheResume) {
    const SignalCase c = GetParam();
    Scenario scenario(c.op, 10);
    scenario.server().restart(stallHalfWay(scenario, c.file));
    {
        RunningQel qel(scenario.user(), scenario.op(), scenario.host(), false, kPatientTimeout);
        ASSERT_TRUE(waitUntil([&] { return midFile(scenario, c.file); }, kWaitLimit));
        EXPECT_EQ(qel.stop(c.signalNumber), 128 + c.signalNumber);
    }
    const std::string out = readFile(scenario.user().home() / "qel.out");
    EXPECT_NE(out.find("run the same command with --resume to continue."), std::string::npos)
        << out;
    const int left = scenario.fileCount() - c.file + 1;
    EXPECT_NE(scenario.user().log().find("Stopped by signal " + std::to_string(c.signalNumber) +
                                         "; k7.bad lists the " + std::to_string(left) +
                                         " files left"),
              std::string::npos)
        << scenario.user().log();
    scenario.expectNothingBroken();
    scenario.expectRecoveryFrom(c.file);
    scenario.expectResumeCompletes(left);
}

INSTANTIATE_TEST_SUITE_P(Faults, StoppedBySignal,
                         ::testing::Values(SignalCase{Op::Restore, SIGTERM, 1},
                                           SignalCase{Op::Backup, SIGINT, 4},
                                           SignalCase{Op::Logs, SIGHUP, 4}),
                         [](const auto& info) {
                             return std::string(opName(info.param.op)) +
                                    std::string(sigabbrev_np(info.param.signalNumber));
                         });

// `qel restore ... | head -1`: the output pipe closes long before the server's trees are
// deleted, and the run must still finish.
TEST(ClosedOutput, NeverEndsARestore) {
    Scenario scenario(Op::Restore, 10);
    RunningQel qel(scenario.user(), scenario.op(), scenario.host(), false, kFtpTimeout, true);
    EXPECT_EQ(qel.waitForExit(), 0) << readFile(scenario.user().home() / "qel.out");
    EXPECT_EQ(dataTrees(scenario.server().root()), dataTrees(scenario.user().folder()));
    EXPECT_FALSE(fs::exists(scenario.user().folder() / "k7.bad"));
}

} // namespace

namespace {

// Every entry below dir with its size: what a run that must change nothing is compared by.
std::map<std::string, std::uintmax_t> snapshot(const fs::path& dir) {
    std::map<std::string, std::uintmax_t> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        entries[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
    return entries;
}

class SecondRun : public ::testing::TestWithParam<Op> {};

// A second run on a folder in use fails at once, names the folder and changes nothing there
// (it once removed the first run's temporary file and then its recovery file).
TEST_P(SecondRun, OnAFolderInUseChangesNothing) {
    Scenario scenario(Op::Backup, 10);
    const int file = 4;
    scenario.server().restart(stallHalfWay(scenario, file));
    RunningQel first(scenario.user(), Op::Backup, scenario.host(), false, kPatientTimeout);
    ASSERT_TRUE(waitUntil([&] { return midFile(scenario, file); }, kWaitLimit));
    const auto before = snapshot(scenario.user().folder());

    const ProcessResult second = scenario.user().run(GetParam(), scenario.host(), false);
    EXPECT_EQ(second.exitCode, EBUSY) << second.out << second.err;
    EXPECT_NE(printedResult(second).find("Folder " + scenario.user().folder().string() +
                                         " is in use by another run."),
              std::string::npos)
        << printedResult(second);
    EXPECT_EQ(snapshot(scenario.user().folder()), before);
    EXPECT_TRUE(first.running());
}

INSTANTIATE_TEST_SUITE_P(Faults, SecondRun, ::testing::Values(Op::Backup, Op::Restore, Op::Logs),
                         [](const auto& info) { return std::string(opName(info.param)); });

} // namespace
