#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "RemoteFixture.h"
#include "fileaccess/Navigation.h"

namespace fs = std::filesystem;

namespace {

class RemoteNavigation : public RemoteFixture {
  protected:
    void SetUp() override {
        startServer();
        serverFile("access2/a/b.dat");
        serverDirectory("access2/a/b/c");
        serverDirectory("ST");
        serverFile("access2/file.dat");
    }
};

TEST_F(RemoteNavigation, ChDirReportsTheServersAnswer) {
    LogCapture log(6);
    EXPECT_EQ(RemoteChDir(connection(), "7.0/access2"), "7.0/access2");
    EXPECT_EQ(RemoteChDir(connection(), "a"), "7.0/access2/a");
    EXPECT_EQ(RemoteChDir(connection(), "/missing"), "7.0/access2/a"); // stays put
    EXPECT_EQ(log.linesStartingWith("RemoteChDir:  Set Current Directory to "),
              (std::vector<std::string>{"RemoteChDir:  Set Current Directory to 7.0/access2",
                                        "RemoteChDir:  Set Current Directory to 7.0/access2/a",
                                        "RemoteChDir:  Set Current Directory to 7.0/access2/a"}));
    log.clear();
    log.setLevel(5);
    RemoteChDir(connection(), "/ST");
    EXPECT_EQ(log.text(), "");
}

TEST_F(RemoteNavigation, ChangeToParentStopsAtTheFirstParentItCanEnter) {
    struct Row {
        std::string from;
        std::string path;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"/", "7.0/access2/a/b.dat", "7.0/access2/a"},
        {"/", "7.0/access2/missing/deeper/b.dat", "7.0/access2"},
        {"/", "7.0\\access2\\a\\b.dat", "7.0/access2/a"},
        {"/", "/safe", "/"},
        {"7.0/access2", "b.dat", "7.0/access2"},         // no separator: no move
        {"/ST", "nothere/b.dat", "/ST"},                 // no parent enterable
        {"/", "a\\b/c\\d", "/"},                         // "a\b" and "a" are not there
        {"7.0/access2", "a\\b/c\\d", "7.0/access2/a/b"}, // every "/" before any "\"
        {"/", "7.0/access2/a/b/c/x.dat", "7.0/access2/a/b/c"},
    };
    LogCapture log(1);
    for (const auto& row : rows) {
        ASSERT_EQ(RemoteChDir(connection(), row.from), row.from);
        log.clear();
        EXPECT_EQ(RemoteChangeToParentDir(connection(), row.path), row.expected) << row.path;
        EXPECT_EQ(pwd(), row.expected) << row.path;
        EXPECT_EQ(log.text(),
                  "RemoteChangeToParentDir:  Set Current Directory to " + row.expected + "\n")
            << row.path;
    }
}

TEST_F(RemoteNavigation, ChangeToParentLogsFromLevelOne) {
    LogCapture log(0);
    EXPECT_EQ(RemoteChangeToParentDir(connection(), "7.0/access2/a/b.dat"), "7.0/access2/a");
    EXPECT_EQ(log.text(), "");
}

TEST_F(RemoteNavigation, ChangeToParentRefusesAbsurdPathsWithoutMoving) {
    ASSERT_EQ(RemoteChDir(connection(), "/ST"), "/ST");
    const std::string longPath = "7.0/" + std::string(PATH_MAX, 'x') + "/b.dat";
    EXPECT_EQ(RemoteChangeToParentDir(connection(), longPath), "");
    EXPECT_EQ(pwd(), "/ST");
}

// A server that never answers CWD or PWD: any call would end in a timeout exception.
class SilentServer : public RemoteFixture {};

TEST_F(SilentServer, ChangeToParentOfAnEmptyPathAsksNothing) {
    startServer({"--stall-command", "CWD:1", "--stall-command", "PWD:1"});
    SetTimeoutOverrideForTesting(2000);
    LogCapture log(7);
    EXPECT_EQ(RemoteChangeToParentDir(connection(), ""), "");
    EXPECT_EQ(log.text(), "");
    EXPECT_THROW(RemoteChangeToParentDir(connection(), "7.0/x/y"), CInternetException);
}

TEST_F(RemoteNavigation, MakeDirsCreatesAMissingChainAndComesBackHome) {
    ASSERT_EQ(RemoteChDir(connection(), "/ST"), "/ST");
    EXPECT_EQ(RemoteMakeDirs(connection(), "7.0/access2/new1/new2/new3", "7.0/"), 0);
    EXPECT_TRUE(fs::is_directory(onServer("access2/new1/new2/new3")));
    EXPECT_EQ(pwd(), "7.0");

    // From the root when no parent but the root exists.
    EXPECT_EQ(RemoteMakeDirs(connection(), "7.0/top/mid/leaf/", "7.0/"), 0);
    EXPECT_TRUE(fs::is_directory(onServer("top/mid/leaf")));
    EXPECT_EQ(pwd(), "7.0");
}

TEST_F(RemoteNavigation, MakeDirsWithoutHomeReturnsToWhereItStarted) {
    ASSERT_EQ(RemoteChDir(connection(), "/ST"), "/ST");
    EXPECT_EQ(RemoteMakeDirs(connection(), "7.0/access2/x/y", ""), 0);
    EXPECT_TRUE(fs::is_directory(onServer("access2/x/y")));
    EXPECT_EQ(pwd(), "/ST");
}

TEST_F(RemoteNavigation, MakeDirsOnAnExistingDirectory) {
    EXPECT_EQ(RemoteMakeDirs(connection(), "7.0/access2/a", "/ST"), 0);
    EXPECT_EQ(pwd(), "/ST");
    // Home cannot be entered: 5, and the connection stays inside the directory.
    EXPECT_EQ(RemoteMakeDirs(connection(), "7.0/access2/a", "7.0/nohome"), 5);
    EXPECT_EQ(pwd(), "7.0/access2/a");
}

TEST_F(RemoteNavigation, MakeDirsSingleDirectoryUnderTheRoot) {
    ASSERT_EQ(RemoteChDir(connection(), "/ST"), "/ST");
    EXPECT_EQ(RemoteMakeDirs(connection(), "7.0/newtop", "7.0/"), 0);
    EXPECT_TRUE(fs::is_directory(onServer("newtop")));
    EXPECT_EQ(pwd(), "/ST"); // does not go home
}

TEST_F(RemoteNavigation, MakeDirsFailedCreation) {
    // A file stands where a directory of the chain should be.
    EXPECT_EQ(RemoteMakeDirs(connection(), "7.0/access2/file.dat/sub", "7.0/"), 4);
    EXPECT_EQ(pwd(), "/access2"); // where the failure left it
    EXPECT_TRUE(fs::is_regular_file(onServer("access2/file.dat")));

    const std::string longPath = "7.0/" + std::string(PATH_MAX, 'x');
    EXPECT_EQ(RemoteMakeDirs(connection(), longPath, "7.0/"), 4);
}

} // namespace
