#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "../engine/SpineTestSupport.h"
#include "support/FtpTestServer.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace spine_test;

namespace {

class QelTest : public ::testing::Test {
  protected:
    ProcessResult qel(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), qelBinary().string());
        return runProcess(arguments,
                          {{"XDG_CONFIG_HOME", (home / "config").string()},
                           {"XDG_STATE_HOME", (home / "state").string()},
                           {"QEL_TEST_TIMEOUT_MS", "10000"}},
                          std::chrono::seconds(60));
    }

    std::vector<std::string> run(const std::string& operation, const std::string& host) {
        return {operation,    "--host",        host, "--folder", folder.path().string(), "--log",
                log.string(), "--pause-scale", "0"};
    }

    TempDir home;
    TempDir folder;
    fs::path log = home / "VelmoraQel.log";
};

TEST_F(QelTest, UsageErrorsExitWith64AndAShortUsage) {
    const std::string dir = folder.path().string();
    const struct {
        std::vector<std::string> arguments;
        std::string problem;
    } cases[] = {
        {{}, "name the operation"},
        {{"copy", "--host", "h", "--folder", dir}, "unknown operation \"copy\""},
        {{"backup", "--folder", dir}, "--host is required"},
        {{"backup", "--host", "h"}, "--folder is required"},
        {{"backup", "--host", "h", "--folder"}, "--folder needs a value"},
        {{"logs", "--host", "h", "--folder", dir, "--resume", "--no-resume"}, "exclude"},
        {{"logs", "--host", "h", "--folder", dir, "--debug-level", "7x"}, "--debug-level"},
        {{"logs", "--host", "h", "--folder", dir, "--pause-scale", "-1"}, "--pause-scale"},
        {{"logs", "--host", "h:99999", "--folder", dir}, "--host"},
        {{"restore", "--host", "h", "--folder", dir, "--bogus"}, "unknown option --bogus"},
        {{"restore", "backup", "--host", "h", "--folder", dir}, "one operation"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        const ProcessResult result = qel(c.arguments);
        EXPECT_EQ(result.exitCode, 64);
        EXPECT_NE(result.err.find(c.problem), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("usage: qel backup|restore|logs"), std::string::npos);
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(QelTest, VersionAndHelp) {
    const ProcessResult version = qel({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "qel 2.0.55\n");
    const ProcessResult help = qel({"backup", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: qel backup|restore|logs", 0), 0u);
}

TEST_F(QelTest, MissingFolderExitsWithThreeBeforeAnythingRuns) {
    const LoopbackSocket listener(true);
    const std::string missing = (folder / "not here").string();
    const ProcessResult result =
        qel({"backup", "--host", listener.hostEntry(), "--folder", missing, "--log", log.string()});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.err, "Folder " + missing + " does not exist. \nPlease create the folder.\n");
    EXPECT_FALSE(listener.connectionPending());
    EXPECT_FALSE(fs::exists(log));
}

TEST_F(QelTest, UnreachableHostExitsWithTwo) {
    const LoopbackSocket refusing(false);
    std::vector<std::string> arguments = run("logs", refusing.hostEntry());
    arguments.insert(arguments.end(), {"--debug-level", "1"});
    const ProcessResult result = qel(arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "Cannot connect to site " + refusing.hostEntry() + "\n");
    EXPECT_EQ(result.out, "Preparing system:\n");
    const std::string written = readFile(log);
    EXPECT_NE(written.find("Debug Level : 1\nAttempting connection to " + refusing.hostEntry()),
              std::string::npos);
}

TEST_F(QelTest, BackupAndRestoreNotInitiatedExitWithSixAndSeven) {
    FtpTestServer server;
    SampleTreeOptions tree;
    tree.mailboxFiles = 3;
    tree.largeFileBytes = 100;
    tree.safeMarker = false;
    makeSampleServerTree(server.root(), tree);
    const auto before = snapshotTree(server.root());

    const ProcessResult backup = qel(run("backup", server.hostEntry()));
    EXPECT_EQ(backup.exitCode, 6);
    EXPECT_EQ(backup.err, "Backup operation has not been initiated from Velmora Manager for site " +
                              server.hostEntry() + "\n");

    std::vector<std::string> restoreArguments = run("restore", server.hostEntry());
    restoreArguments.push_back("--resume");
    const ProcessResult restore = qel(restoreArguments);
    EXPECT_EQ(restore.exitCode, 7);
    EXPECT_NE(restore.err.find("no recovery file of this operation"), std::string::npos);
    EXPECT_NE(restore.err.find("Restore operation has not been initiated from Velmora Manager "
                               "for site " +
                               server.hostEntry() + "\n"),
              std::string::npos);
    EXPECT_EQ(snapshotTree(server.root()), before);
}

// The last "Data backup: done/total" line of a plain (not terminal) run.
std::pair<int, int> lastCount(const std::string& out) {
    static const std::regex counted("Data backup: (\\d+)/(\\d+)\n");
    std::pair<int, int> last{-1, -1};
    for (std::sregex_iterator it(out.begin(), out.end(), counted), end; it != end; ++it)
        last = {std::stoi((*it)[1]), std::stoi((*it)[2])};
    return last;
}

TEST_F(QelTest, BackupShowsPlainProgressLinesAndReportsSuccess) {
    FtpTestServer server;
    SampleTreeOptions tree;
    tree.mailboxFiles = 12;
    tree.largeFileBytes = 1000;
    makeSampleServerTree(server.root(), tree);

    const ProcessResult result = qel(run("backup", server.hostEntry()));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("Preparing system:\nData backup:\n", 0), 0u) << result.out;
    const auto [done, total] = lastCount(result.out);
    EXPECT_GT(total, 12);
    EXPECT_EQ(done, total);
    EXPECT_NE(result.out.find("Operation completed successfully.\nPlease reboot the system by "
                              "temporarily removing power for 10 seconds.\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(server.root() / "safe"));
}

TEST_F(QelTest, FailedBackupNamesItsCodeAndResumeContinuesFromTheFailure) {
    FtpTestServer::Options faults;
    faults.faults = {"--fail-retr", "4"};
    FtpTestServer server(faults);
    SampleTreeOptions tree;
    tree.mailboxFiles = 12;
    tree.largeFileBytes = 1000;
    makeSampleServerTree(server.root(), tree);

    const ProcessResult failed = qel(run("backup", server.hostEntry()));
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "Operation failed:\n(code 12003)\n");
    const int total = lastCount(failed.out).second;
    ASSERT_GT(total, 4);

    server.restart({});
    std::vector<std::string> resume = run("backup", server.hostEntry());
    resume.push_back("--resume");
    const ProcessResult resumed = qel(resume);
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_EQ(lastCount(resumed.out), std::make_pair(total - 3, total - 3));
}

} // namespace
