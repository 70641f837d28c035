#include <atomic>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "engine/Driver.h"
#include "engine/OperationTypes.h"
#include "engine/SpineTestSupport.h"
#include "support/FtpTestServer.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace spine_test;

namespace {

const std::string kBanner = "****** Start of Logging *************\n"
                            "Velmora Qel tool version 2.0.55 - Debug Level : 1\n";
const std::string kCompleted = "**** Operation completed ****\n";

struct Outcome {
    std::uint32_t result = 0;
    std::int32_t phase = Preparing;
    std::string log;
};

Outcome runDriver(std::int32_t operation, const std::string& host, const std::string& folder,
                  int debugLevel) {
    CurrentDirectoryGuard cwd;
    TempDir logDir;
    const fs::path logFile = logDir / "VelmoraQel.log";
    LogFileGuard guard(logFile);
    std::atomic<std::int32_t> phase{Preparing};
    std::string status = "Preparing system:";
    OperationContext context;
    context.operation = operation;
    context.localFolder = folder;
    context.host = host;
    context.phase = &phase;
    context.statusText = &status;
    context.debugLevel = debugLevel;

    Outcome outcome;
    outcome.result = runOperation(&context);
    outcome.phase = phase.load();
    outcome.log = fs::exists(logFile) ? readFile(logFile) : std::string();
    EXPECT_EQ(context.connection, nullptr);
    return outcome;
}

// The five entries a backup folder must hold, in the letter case given.
void makeBackupFolder(const fs::path& folder, bool withMailboxProfile = true,
                      const std::string& st = "ST", const std::string& profile = "MBxProf.001") {
    writeFile(folder / "access2" / "mb" / "0001.vm", "voice");
    writeFile(folder / st / "syscfg.dat", "cfg");
    writeFile(folder / st / "SYSDIR.dat", "dir");
    fs::create_directories(folder / st / "MMTA.BOX");
    if (withMailboxProfile)
        writeFile(folder / st / "MMTA.BOX" / profile, "profile");
}

std::string attemptLine(const std::string& host) {
    return "Attempting connection to " + host + "\n";
}

TEST(DriverTest, MissingSafeMarkerStopsBackupAndRestoreWithoutChanges) {
    const struct {
        OperationKind operation;
        std::uint32_t expected;
    } cases[] = {{Backup, RESULT_BACKUP_NOT_INITIATED}, {Restore, RESULT_RESTORE_NOT_INITIATED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        FtpTestServer server;
        SampleTreeOptions tree;
        tree.mailboxFiles = 5;
        tree.largeFileBytes = 1000;
        tree.safeMarker = false;
        tree.restoreMarker = true;
        makeSampleServerTree(server.root(), tree);
        TempDir local;
        makeBackupFolder(local.path());
        const auto serverBefore = snapshotTree(server.root());
        const auto localBefore = snapshotTree(local.path());

        const Outcome outcome =
            runDriver(c.operation, server.hostEntry(), local.path().string(), 1);

        EXPECT_EQ(outcome.result, c.expected);
        EXPECT_EQ(outcome.phase, Finished);
        EXPECT_EQ(outcome.log, kBanner + attemptLine(server.hostEntry()) + kCompleted);
        EXPECT_EQ(snapshotTree(server.root()), serverBefore);
        EXPECT_EQ(snapshotTree(local.path()), localBefore);
    }
}

TEST(DriverTest, RestoreFromInvalidFolderRemovesOnlyTheRestoreMarker) {
    for (const bool oldRestoreMarker : {true, false}) {
        SCOPED_TRACE(oldRestoreMarker ? "with an old safe2" : "without safe2");
        FtpTestServer server;
        SampleTreeOptions tree;
        tree.mailboxFiles = 5;
        tree.largeFileBytes = 1000;
        tree.restoreMarker = oldRestoreMarker;
        makeSampleServerTree(server.root(), tree);
        TempDir local;
        makeBackupFolder(local.path(), false);
        auto expectedServer = snapshotTree(server.root());
        expectedServer.erase("safe2");

        const Outcome outcome = runDriver(Restore, server.hostEntry(), local.path().string(), 0);

        EXPECT_EQ(outcome.result, RESULT_INVALID_BACKUP);
        EXPECT_EQ(outcome.phase, Finished);
        if (oldRestoreMarker) {
            EXPECT_EQ(outcome.log, "");
        }
        EXPECT_EQ(snapshotTree(server.root()), expectedServer);
        EXPECT_TRUE(fs::exists(server.root() / "safe"));
        EXPECT_FALSE(fs::exists(server.root() / "safe2"));
    }
}

TEST(DriverTest, BackupFolderCheckNeedsAllFiveEntriesInAnyLetterCase) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> make;
        bool valid;
    } cases[] = {
        {"complete", [](const fs::path& f) { makeBackupFolder(f); }, true},
        {"lower case", [](const fs::path& f) { makeBackupFolder(f, true, "st", "mbxprof.1"); },
         true},
        {"no mailbox profile", [](const fs::path& f) { makeBackupFolder(f, false); }, false},
        {"no access2",
         [](const fs::path& f) {
             makeBackupFolder(f);
             fs::remove_all(f / "access2");
         },
         false},
        {"no syscfg",
         [](const fs::path& f) {
             makeBackupFolder(f);
             fs::remove(f / "ST" / "syscfg.dat");
         },
         false},
        {"no SYSDIR",
         [](const fs::path& f) {
             makeBackupFolder(f);
             fs::remove(f / "ST" / "SYSDIR.dat");
         },
         false},
        {"empty", [](const fs::path&) {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CurrentDirectoryGuard cwd;
        TempDir folder;
        c.make(folder.path());
        fs::current_path(folder.path());
        EXPECT_EQ(checkBackupFolder(), c.valid);
    }
}

TEST(DriverTest, UnreachableHostGivesTwoAfterOneAttempt) {
    const LoopbackSocket refusing(false);
    TempDir local;

    const Outcome level1 = runDriver(Backup, refusing.hostEntry(), local.path().string(), 1);
    EXPECT_EQ(level1.result, RESULT_FTP_FAILED);
    EXPECT_EQ(level1.phase, Finished);
    const std::string head =
        kBanner + attemptLine(refusing.hostEntry()) + "Velmora Qel tool version 2.0.55\n";
    ASSERT_GT(level1.log.size(), head.size() + kCompleted.size());
    EXPECT_EQ(level1.log.substr(0, head.size()), head);
    EXPECT_EQ(level1.log.substr(level1.log.size() - kCompleted.size()), kCompleted);
    const std::string errorText =
        level1.log.substr(head.size(), level1.log.size() - head.size() - kCompleted.size());
    EXPECT_EQ(errorText.back(), '\n');
    EXPECT_EQ(errorText.find("Attempting"), std::string::npos);

    const Outcome level0 = runDriver(Backup, refusing.hostEntry(), local.path().string(), 0);
    EXPECT_EQ(level0.result, RESULT_FTP_FAILED);
    EXPECT_EQ(level0.phase, Finished);
    EXPECT_EQ(level0.log, "Velmora Qel tool version 2.0.55\n" + errorText);
}

TEST(DriverTest, FolderThatCannotBeMadeCurrentGivesThreeWithoutConnecting) {
    TempDir dir;
    writeFile(dir / "plain-file", "x");
    for (const std::string& folder :
         {(dir / "missing").string(), (dir / "plain-file").string(), std::string()}) {
        SCOPED_TRACE(folder);
        const LoopbackSocket listener(true);
        const Outcome outcome = runDriver(Backup, listener.hostEntry(), folder, 1);
        EXPECT_EQ(outcome.result, RESULT_FOLDER_NOT_CURRENT);
        EXPECT_EQ(outcome.phase, Finished);
        EXPECT_EQ(outcome.log, kCompleted);
        EXPECT_FALSE(listener.connectionPending());
    }
}

TEST(DriverTest, UnknownOperationIsReportedAfterConnecting) {
    FtpTestServer server;
    makeSampleServerTree(server.root());
    const LoopbackSocket refusing(false);
    TempDir local;

    const Outcome connected = runDriver(5, server.hostEntry(), local.path().string(), 1);
    EXPECT_EQ(connected.result, RESULT_UNKNOWN_OPERATION);
    EXPECT_EQ(connected.phase, Finished);
    EXPECT_EQ(connected.log, kBanner + attemptLine(server.hostEntry()) + kCompleted);

    const Outcome unreachable = runDriver(5, refusing.hostEntry(), local.path().string(), 0);
    EXPECT_EQ(unreachable.result, RESULT_FTP_FAILED);
}

} // namespace
