#include <gtest/gtest.h>

#include <cerrno>
#include <regex>

#include <unistd.h>

#include "OperationHarness.h"
#include "common/StringTable.h"
#include "engine/TransferLoopProgress.h"
#include "platform/LastError.h"
#include "support/FtpTestServer.h"

using namespace ops_test;

namespace {

// The error code of the last failure record in the log.
std::optional<std::uint32_t> lastRecordedCode(const std::string& log) {
    static const std::regex code(R"(\(GetLastError code = (\d+)\))");
    std::optional<std::uint32_t> last;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), code); it != std::sregex_iterator();
         ++it)
        last = static_cast<std::uint32_t>(std::stoul((*it)[1]));
    return last;
}

std::string localPathOf(const fs::path& folder, const std::string& remote) {
    return (folder / remote.substr(4)).string(); // "7.0/" is not part of the local layout
}

std::vector<std::string> tail(const std::vector<std::string>& paths, std::size_t from) {
    return {paths.begin() + static_cast<long>(from), paths.end()};
}

// Snapshots of the recovery file each time the worker pauses and it has changed.
struct RecoveryWatcher {
    explicit RecoveryWatcher(OperationHarness& harness) {
        harness.onPause = [this, &harness](std::uint32_t) {
            auto now = harness.recovery();
            if (now && (snapshots.empty() || !(snapshots.back() == *now))) {
                snapshots.push_back(*now);
                registryAtSnapshot.push_back(harness.registryDirectory().value_or(""));
            }
        };
    }
    std::vector<RecoveryContent> snapshots;
    std::vector<std::string> registryAtSnapshot;
};

} // namespace

TEST(Backup, CopiesBothTreesWritesTheListingAndRemovesOnlySafe) {
    FtpTestServer server;
    makeSampleServerTree(server.root(), sampleTree(40, 3u << 20, true));
    const auto expectedOrder = enumerationOrder(server.root(), {"access2", "ST"});
    OperationHarness harness;
    // What a download killed in an earlier run left, beside a file of another name.
    const fs::path leftover = harness.folder() / "ST" / ".gone.dat\\qel-part-a1B2c3";
    putFile(leftover, "partial");

    const RunResult run = harness.run(Backup, server.hostEntry());

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_EQ(snapshotTree(harness.folder() / "access2"), snapshotTree(server.root() / "access2"));
    EXPECT_EQ(snapshotTree(harness.folder() / "ST"), snapshotTree(server.root() / "ST"));
    EXPECT_EQ(harness.listing(), expectedOrder);
    EXPECT_FALSE(fs::exists(server.root() / "safe"));
    EXPECT_TRUE(fs::exists(server.root() / "safe2"));
    EXPECT_FALSE(fs::exists(harness.recoveryFile()));
    EXPECT_FALSE(harness.registryKeyExists());
    EXPECT_EQ(harness.log(), "");

    EXPECT_EQ(run.statusText, "Data backup:");
    EXPECT_EQ(run.finalPhase, Finished);
    EXPECT_EQ(run.pauses, std::vector<std::uint32_t>{5000});
    const std::string count = std::to_string(expectedOrder.size());
    EXPECT_EQ(run.progress.calls,
              (std::vector<std::string>{"pos 96", "range 0.." + count, "step 1", "pos 0"}));
    EXPECT_EQ(run.progress.steps, static_cast<int>(expectedOrder.size()));
}

TEST(Backup, FailureAtFile150SavesTheRestAndTheResumeFetchesOnlyThose) {
    FtpTestServer server(withFaults({"--fail-retr", "150"}));
    makeNumberedTree(server.root(), 250, 5);
    const auto serverFiles = snapshotTree(server.root());
    OperationHarness harness;
    RecoveryWatcher watcher(harness);

    const RunResult failed = harness.run(Backup, server.hostEntry());

    const auto order = harness.listing();
    ASSERT_EQ(order.size(), 250u);
    EXPECT_EQ(failed.exitCode, ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(lastRecordedCode(harness.log()), failed.exitCode);
    EXPECT_NE(harness.log().find("FAIL:\tgetNormalFiles rc = 10\n"), std::string::npos);
    const RecoveryContent expected{1, server.hostEntry(), harness.folder().string(),
                                   tail(order, 149)};
    EXPECT_EQ(harness.recovery(), expected);
    EXPECT_EQ(harness.registryDirectory(), harness.folder().string());
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(fs::exists(localPathOf(harness.folder(), order[i])), i < 149) << order[i];
    EXPECT_EQ(failed.pauses, (std::vector<std::uint32_t>{5000, 120000}));
    EXPECT_TRUE(fs::exists(server.root() / "safe"));
    // The first checkpoint came before file 101; the failure replaced it.
    ASSERT_EQ(watcher.snapshots.size(), 2u);
    EXPECT_EQ(watcher.snapshots[0].paths, tail(order, 100));

    // A resume must not fetch files 1-149 again: they are gone from the server now.
    server.restart({});
    for (std::size_t i = 0; i < 149; ++i)
        fs::remove(server.root() / order[i].substr(4));
    const std::string listingBefore = readFile(harness.listingFile());
    harness.clearLog();

    const RunResult resumed = harness.run(Backup, server.hostEntry(), 1, 1);

    EXPECT_EQ(resumed.exitCode, 0u);
    const auto fetched = linesStartingWith(harness.log(), "Getting ");
    ASSERT_EQ(fetched.size(), 101u);
    EXPECT_EQ(fetched.front(), "Getting " + order[149]);
    EXPECT_EQ(readFile(harness.listingFile()), listingBefore);
    std::map<std::string, std::string> serverAccess2;
    for (const auto& [path, bytes] : serverFiles)
        if (path.rfind("access2/", 0) == 0)
            serverAccess2[path.substr(8)] = bytes;
    EXPECT_EQ(snapshotTree(harness.folder() / "access2"), serverAccess2);
    EXPECT_FALSE(fs::exists(harness.recoveryFile()));
    EXPECT_FALSE(harness.registryKeyExists());
    EXPECT_FALSE(fs::exists(server.root() / "safe"));
}

TEST(Backup, CheckpointsComeBeforeFiles101And202AndVanishAtTheEnd) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 250, 5);
    OperationHarness harness;
    RecoveryWatcher watcher(harness);

    const RunResult run = harness.run(Backup, server.hostEntry());

    ASSERT_EQ(run.exitCode, 0u);
    const auto order = harness.listing();
    ASSERT_EQ(watcher.snapshots.size(), 2u);
    const std::string folder = harness.folder().string();
    EXPECT_EQ(watcher.snapshots[0],
              (RecoveryContent{1, server.hostEntry(), folder, tail(order, 100)}));
    EXPECT_EQ(watcher.snapshots[1],
              (RecoveryContent{1, server.hostEntry(), folder, tail(order, 201)}));
    EXPECT_EQ(watcher.registryAtSnapshot, (std::vector<std::string>{folder, folder}));
    EXPECT_FALSE(fs::exists(harness.recoveryFile()));
    EXPECT_FALSE(harness.registryKeyExists());
    EXPECT_EQ(run.progress.steps, 250);
}

TEST(Backup, ALostConnectionKeepsTheFileInFlightForTheResume) {
    FtpTestServer server(withFaults({"--max-logins", "10"}));
    makeNumberedTree(server.root(), 20, 2);
    OperationHarness harness;

    const RunResult failed = harness.run(Backup, server.hostEntry());

    EXPECT_EQ(failed.exitCode, static_cast<std::uint32_t>(RESULT_FTP_FAILED));
    const auto order = harness.listing();
    std::size_t fetched = 0;
    while (fetched < order.size() && fs::exists(localPathOf(harness.folder(), order[fetched])))
        ++fetched;
    ASSERT_GT(fetched, 0u);
    ASSERT_LT(fetched, order.size());
    const auto saved = harness.recovery();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->code, 1);
    EXPECT_EQ(saved->paths, tail(order, fetched));
    EXPECT_EQ(harness.registryDirectory(), harness.folder().string());

    server.restart({});
    const RunResult resumed = harness.run(Backup, server.hostEntry(), 0, 1);

    EXPECT_EQ(resumed.exitCode, 0u);
    EXPECT_EQ(snapshotTree(harness.folder() / "access2"), snapshotTree(server.root() / "access2"));
    EXPECT_FALSE(fs::exists(harness.recoveryFile()));
}

TEST(Backup, AListingCutShortCopiesNothing) {
    FtpTestServer server(withFaults({"--fail-pwd-after", "5"}));
    makeNumberedTree(server.root(), 33, 10);
    for (int i = 0; i < 3; ++i)
        putFile(server.root() / "access2" / ("top" + std::to_string(i) + ".dat"), "top");
    OperationHarness harness;

    const RunResult run = harness.run(Backup, server.hostEntry());

    EXPECT_EQ(run.exitCode, static_cast<std::uint32_t>(RESULT_TRANSFER_FAILED));
    EXPECT_NE(harness.log().find("doBackup: the listing of 7.0/access2 was cut short"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(harness.listingFile()));
    EXPECT_FALSE(fs::exists(harness.folder() / "access2"));
    EXPECT_TRUE(fs::exists(server.root() / "safe"));
}

TEST(Backup, LogLinesFollowTheDebugLevel) {
    struct Case {
        int level;
        bool perFile;    // Getting / Current directory lines
        bool counts;     // Normal files found / doBackup N files
        bool statistics; // perfile / overall / minuswait
    };
    const Case cases[] = {
        {0, false, false, false}, {1, true, false, false}, {2, true, true, false},
        {6, true, true, false},   {7, true, true, true},
    };
    FtpTestServer server;
    makeSampleServerTree(server.root(), sampleTree(6, 200000));
    const auto order = enumerationOrder(server.root(), {"access2", "ST"});
    std::size_t totalBytes = 0;
    for (const auto& [path, bytes] : snapshotTree(server.root()))
        if (path.rfind("access2/", 0) == 0 || path.rfind("ST/", 0) == 0)
            totalBytes += bytes.size();

    for (const Case& c : cases) {
        SCOPED_TRACE("debug level " + std::to_string(c.level));
        putFile(server.root() / "safe", "");
        OperationHarness harness;
        ASSERT_EQ(harness.run(Backup, server.hostEntry(), c.level).exitCode, 0u);
        const std::string log = harness.log();
        const std::size_t n = order.size();

        EXPECT_EQ(linesStartingWith(log, "Getting ").size(), c.perFile ? n : 0);
        EXPECT_EQ(linesStartingWith(log, "Current directory: ").size(), c.perFile ? n : 0);
        EXPECT_EQ(countOccurrences(log, "doBackup " + std::to_string(n) + " files\n"),
                  c.counts ? 1u : 0u);
        EXPECT_EQ(countOccurrences(log, "Normal files found in 7.0/access2:  "),
                  c.counts ? 1u : 0u);
        EXPECT_EQ(linesStartingWith(log, "perfile:  duration = ").size(), c.statistics ? n : 0);
        const auto overall = linesStartingWith(log, "overall:  duration = ");
        EXPECT_EQ(overall.size(), c.statistics ? 1u : 0u);
        EXPECT_EQ(linesStartingWith(log, "minuswait:  duration = ").size(), c.statistics ? 1u : 0u);
        if (c.statistics && !overall.empty()) {
            const std::regex form(
                R"(overall:  duration = \d+\.\d{6} bytesTransfered = (\d+) Avg Rate = +\d+\.\d)");
            std::smatch match;
            ASSERT_TRUE(std::regex_match(overall.front(), match, form)) << overall.front();
            EXPECT_EQ(std::stoull(match[1]), totalBytes);
        }
    }
}

TEST(TransferPhase, RangesTheBarWith32BitBoundsForLargeBackups) {
    RecordingProgress bar;
    std::atomic<std::int32_t> phase{Preparing};
    std::string status;
    OperationContext context;
    context.progressBar = &bar;
    context.phase = &phase;
    context.statusText = &status;
    std::vector<std::uint32_t> pauses;
    SetSleepHook([&](std::uint32_t ms) { pauses.push_back(ms); });

    enterTransferPhase(context, IDS_DATA_BACKUP, 40000);
    OperationContext headless;
    enterTransferPhase(headless, IDS_DATA_RESTORE, 3);
    stepProgress(headless);
    SetSleepHook({});

    EXPECT_EQ(bar.calls, (std::vector<std::string>{"pos 96", "range 0..40000", "step 1", "pos 0"}));
    EXPECT_EQ(status, "Data backup:");
    EXPECT_EQ(phase.load(), Transferring);
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{5000, 5000}));
}

TEST(Backup, ARecoveryFileCannotSteerADownloadOutOfTheFolder) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 5, 1);
    const std::string name = "escape-" + std::to_string(::getpid()) + ".dat";
    putFile(server.root() / name, "must stay on the server");
    OperationHarness harness;
    const std::string climbing = "7.0/access2/../../../" + name;
    writeRecoveryFile(harness.recoveryFile(),
                      {1, server.hostEntry(), harness.folder().string(), {climbing}});

    const RunResult run = harness.run(Backup, server.hostEntry(), 0, 1);

    EXPECT_EQ(run.exitCode, static_cast<std::uint32_t>(EINVAL));
    EXPECT_NE(harness.log().find("getNormalFiles: " + climbing + " would be stored at "),
              std::string::npos);
    EXPECT_FALSE(fs::exists(harness.folder().parent_path().parent_path() / name));
    EXPECT_EQ(harness.recovery()->paths, std::vector<std::string>{climbing});
}
