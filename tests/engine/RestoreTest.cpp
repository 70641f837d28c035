#include <gtest/gtest.h>
#include <sys/mount.h>

#include "OperationHarness.h"
#include "platform/LastError.h"
#include "support/FtpTestServer.h"

using namespace ops_test;

namespace {

std::string localPathOf(const fs::path& folder, const std::string& remote) {
    return (folder / remote.substr(4)).string(); // "7.0/" is not part of the local layout
}

std::vector<std::string> localPathsFrom(const fs::path& folder,
                                        const std::vector<std::string>& remote, std::size_t from) {
    std::vector<std::string> paths;
    for (std::size_t i = from; i < remote.size(); ++i)
        paths.push_back(localPathOf(folder, remote[i]));
    return paths;
}

std::vector<std::string> withPrefix(const std::string& prefix,
                                    const std::vector<std::string>& paths) {
    std::vector<std::string> lines;
    for (const auto& path : paths)
        lines.push_back(prefix + path);
    return lines;
}

// Makes the server differ from the backup: a file gone, one changed, one added.
void alterServer(const fs::path& root) {
    const auto data = serverData(root);
    ASSERT_GE(data.size(), 3u);
    auto it = data.begin();
    fs::remove(root / it->first);
    ++it;
    writeFile(root / it->first, "changed on the server");
    putFile(root / "access2" / "added" / "extra.dat", "not in the backup");
    putFile(root / "safe", "");
}

void copyBackup(const fs::path& from, const fs::path& to) {
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

} // namespace

TEST(Restore, RoundTripPutsTheBackupBackAndRemovesBothMarkers) {
    struct Case {
        const char* name;
        bool keepListing;
        int debugLevel;
    };
    for (const Case& c : {Case{"with listing", true, 7}, Case{"without listing", false, 6}}) {
        SCOPED_TRACE(c.name);
        FtpTestServer server;
        makeSampleServerTree(server.root(), sampleTree(30, 1u << 20));
        OperationHarness harness;
        backUp(harness, server);
        const auto backup = localData(harness.folder());
        const auto order = harness.listing();
        alterServer(server.root());
        if (!c.keepListing)
            fs::remove(harness.listingFile());

        const RunResult run = harness.run(Restore, server.hostEntry(), c.debugLevel);

        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(serverData(server.root()), backup);
        EXPECT_FALSE(fs::exists(server.root() / "safe"));
        EXPECT_FALSE(fs::exists(server.root() / "safe2"));
        EXPECT_FALSE(fs::exists(harness.recoveryFile()));
        EXPECT_FALSE(harness.registryKeyExists());
        EXPECT_EQ(run.statusText, "Data restore:");
        EXPECT_EQ(run.pauses, std::vector<std::uint32_t>{5000});
        EXPECT_EQ(run.progress.steps, static_cast<int>(order.size()));

        const std::string log = harness.log();
        const auto puts = linesStartingWith(log, "Putting ");
        ASSERT_EQ(puts.size(), order.size());
        if (c.keepListing) {
            EXPECT_EQ(puts, withPrefix("Putting ", localPathsFrom(harness.folder(), order, 0)));
        } else {
            const std::string st = "Putting " + (harness.folder() / "ST").string() + "/";
            const auto firstSt = std::find_if(
                puts.begin(), puts.end(), [&](const auto& line) { return line.rfind(st, 0) == 0; });
            EXPECT_TRUE(std::all_of(firstSt, puts.end(),
                                    [&](const auto& line) { return line.rfind(st, 0) == 0; }));
        }
        const std::size_t statisticsLines = c.debugLevel > 6 ? order.size() : 0;
        EXPECT_EQ(linesStartingWith(log, "perfile:  duration = ").size(), statisticsLines);
        EXPECT_EQ(linesStartingWith(log, "overall:  duration = ").size(),
                  c.debugLevel > 6 ? 1u : 0u);
        EXPECT_EQ(linesStartingWith(log, "minuswait:  duration = ").size(),
                  c.debugLevel > 6 ? 1u : 0u);
    }
}

TEST(Restore, RefusesBeforeTouchingTheServerWhenTheBackupCannotBeUsed) {
    FtpTestServer server;
    makeSampleServerTree(server.root(), sampleTree(12, 4096));
    OperationHarness source;
    backUp(source, server);
    const auto order = source.listing();
    const auto serverBefore = serverData(server.root());

    struct Case {
        const char* name;
        std::function<void(const fs::path& folder)> damage;
        std::string logged;
    };
    const std::string missing = order[order.size() / 2].substr(4);
    const Case cases[] = {
        {"listed file missing", [&](const fs::path& folder) { fs::remove(folder / missing); },
         "verifyRestoreFile unable to find "},
        {"listing leads out of the folder",
         [&](const fs::path& folder) {
             writeListing(folder / "k7.lst", {order[0], "7.0/access2/../../outside.dat"});
         },
         "FAIL:\treadRestoreList rc = 1\n"},
        {"listing damaged", [](const fs::path& folder) { fs::resize_file(folder / "k7.lst", 11); },
         "FAIL:\treadRestoreList rc = 1\n"},
        {"no listing, tree named in another letter case",
         [](const fs::path& folder) {
             fs::remove(folder / "k7.lst");
             fs::rename(folder / "ST", folder / "st");
         },
         " could not be read completely; the server was not changed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OperationHarness harness;
        copyBackup(source.folder(), harness.folder());
        c.damage(harness.folder());
        putFile(server.root() / "safe2", "");

        const RunResult run = harness.run(Restore, server.hostEntry());

        EXPECT_EQ(run.exitCode, static_cast<std::uint32_t>(RESULT_INVALID_BACKUP));
        EXPECT_NE(harness.log().find(c.logged), std::string::npos) << harness.log();
        EXPECT_EQ(serverData(server.root()), serverBefore);
        EXPECT_TRUE(fs::exists(server.root() / "safe"));
        EXPECT_FALSE(fs::exists(server.root() / "safe2"));
        EXPECT_EQ(run.finalPhase, Finished);
        EXPECT_TRUE(run.pauses.empty());
    }
    OperationHarness named;
    copyBackup(source.folder(), named.folder());
    fs::remove(named.folder() / missing);
    named.run(Restore, server.hostEntry());
    EXPECT_NE(named.log().find("verifyRestoreFile unable to find " +
                               (named.folder() / missing).string() + "\n"),
              std::string::npos);
}

TEST(Restore, AnEmptyListingDeletesBothTrees) {
    FtpTestServer server;
    makeSampleServerTree(server.root(), sampleTree(5, 4096));
    OperationHarness harness;
    backUp(harness, server);
    writeListing(harness.listingFile(), {});

    const RunResult run = harness.run(Restore, server.hostEntry());

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(fs::exists(server.root() / "access2"));
    EXPECT_FALSE(fs::exists(server.root() / "ST"));
    EXPECT_FALSE(fs::exists(server.root() / "safe"));
    EXPECT_EQ(run.progress.calls,
              (std::vector<std::string>{"pos 96", "range 0..0", "step 1", "pos 0"}));
}

TEST(Restore, FailureAtFile40Of60SavesLocalPathsAndTheResumeDeletesNothing) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 60, 4);
    OperationHarness harness;
    backUp(harness, server);
    const auto backup = localData(harness.folder());
    const auto order = harness.listing();
    ASSERT_EQ(order.size(), 60u);
    // The driver's restore marker is the first STOR, so file 40 is the 41st.
    server.restart({"--fail-stor", "41"});

    const RunResult failed = harness.run(Restore, server.hostEntry());

    EXPECT_EQ(failed.exitCode, ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_NE(harness.log().find("FAIL:\tputNormalFiles rc = 10\n"), std::string::npos);
    EXPECT_EQ(harness.recovery(), (RecoveryContent{2, server.hostEntry(), harness.folder().string(),
                                                   localPathsFrom(harness.folder(), order, 39)}));
    EXPECT_EQ(harness.registryDirectory(), harness.folder().string());
    EXPECT_EQ(serverData(server.root()).size(), 39u);
    EXPECT_TRUE(fs::exists(server.root() / "safe2"));

    server.restart({});
    putFile(server.root() / "access2" / "sentinel.dat", "uploaded by nobody");
    harness.clearLog();
    const RunResult resumed = harness.run(Restore, server.hostEntry(), 1, 1);

    EXPECT_EQ(resumed.exitCode, 0u);
    EXPECT_EQ(linesStartingWith(harness.log(), "Putting "),
              withPrefix("Putting ", localPathsFrom(harness.folder(), order, 39)));
    auto expected = backup;
    expected["access2/sentinel.dat"] = "uploaded by nobody";
    EXPECT_EQ(serverData(server.root()), expected);
    EXPECT_FALSE(fs::exists(harness.recoveryFile()));
    EXPECT_FALSE(harness.registryKeyExists());
    EXPECT_FALSE(fs::exists(server.root() / "safe2"));
}

TEST(Restore, ALostConnectionKeepsTheFileInFlightForTheResume) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 20, 2);
    OperationHarness harness;
    backUp(harness, server);
    const auto backup = localData(harness.folder());
    const auto order = harness.listing();
    server.restart({"--max-logins", "10"});

    const RunResult failed = harness.run(Restore, server.hostEntry());

    EXPECT_EQ(failed.exitCode, static_cast<std::uint32_t>(RESULT_FTP_FAILED));
    const std::size_t uploaded = serverData(server.root()).size();
    ASSERT_GT(uploaded, 0u);
    ASSERT_LT(uploaded, order.size());
    const auto saved = harness.recovery();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->code, 2);
    EXPECT_EQ(saved->paths, localPathsFrom(harness.folder(), order, uploaded));

    server.restart({});
    EXPECT_EQ(harness.run(Restore, server.hostEntry(), 0, 1).exitCode, 0u);
    EXPECT_EQ(serverData(server.root()), backup);
}

TEST(Restore, WithoutAListingTheRecoveryFileStaysInTheLocalFolder) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 12, 2);
    OperationHarness harness;
    backUp(harness, server);
    fs::remove(harness.listingFile());
    // The driver's restore marker is the first STOR: the fifth file fails.
    server.restart({"--fail-stor", "6"});

    const RunResult failed = harness.run(Restore, server.hostEntry());

    EXPECT_EQ(failed.exitCode, ERROR_INTERNET_EXTENDED_ERROR);
    const auto saved = harness.recovery();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->code, 2);
    EXPECT_EQ(saved->paths.size(), 8u);
    EXPECT_EQ(harness.registryDirectory(), harness.folder().string());
    std::vector<std::string> strays;
    for (const auto& entry : fs::recursive_directory_iterator(harness.folder()))
        if (entry.path().filename() == "k7.bad" && entry.path().parent_path() != harness.folder())
            strays.push_back(entry.path().string());
    EXPECT_TRUE(strays.empty()) << strays.front();
}

TEST(Restore, AResumeNamingFilesOutsideTheFolderIsRefused) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 5, 1);
    OperationHarness harness;
    backUp(harness, server);
    const auto before = serverData(server.root());
    const fs::path outside = harness.folder().parent_path() / "outside.dat";
    putFile(outside, "not part of the backup");
    writeRecoveryFile(harness.recoveryFile(),
                      {2,
                       server.hostEntry(),
                       harness.folder().string(),
                       {(harness.folder() / "access2/../../outside.dat").string()}});

    const RunResult run = harness.run(Restore, server.hostEntry(), 0, 1);

    EXPECT_EQ(run.exitCode, static_cast<std::uint32_t>(RESULT_INVALID_BACKUP));
    EXPECT_NE(harness.log().find("the recovery file names files outside the local folder"),
              std::string::npos);
    EXPECT_EQ(serverData(server.root()), before);
}

TEST(Restore, FromAReadOnlyFolderLogsNoFailure) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 6, 1);
    OperationHarness harness;
    if (::mount("tmpfs", harness.folder().c_str(), "tmpfs", 0, "size=8m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    struct Unmount {
        fs::path point;
        ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
    } unmount{harness.folder()};
    backUp(harness, server);
    ASSERT_EQ(::mount(nullptr, harness.folder().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
              0);

    const RunResult run = harness.run(Restore, server.hostEntry());

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(linesStartingWith(harness.log(), "FAIL"), std::vector<std::string>{});
}
