#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "RemoteFixture.h"
#include "fileaccess/Enumeration.h"

namespace fs = std::filesystem;

namespace {

class RemoteDelete : public RemoteFixture {
  protected:
    void SetUp() override {}

    void startWithTree(std::vector<std::string> faults = {}) {
        startServer(std::move(faults));
        serverFile("access2/f1");
        serverFile("access2/f2");
        serverFile("access2/dirA/g1");
        serverFile("access2/dirA/deep/h1");
        serverFile("access2/dirB/k1");
        serverDirectory("access2/empty");
        serverFile("ST/syscfg.dat");
        serverFile("safe");
    }

    std::map<std::string, std::string> remaining() { return snapshotTree(m_server->root()); }
};

// "Searching = X" and "Deleting = X" lines as (kind, path).
std::vector<std::pair<char, std::string>> Events(const LogCapture& log) {
    std::vector<std::pair<char, std::string>> events;
    for (const auto& line : log.lines()) {
        if (line.rfind("Searching = ", 0) == 0)
            events.emplace_back('S', line.substr(12));
        else if (line.rfind("Deleting = ", 0) == 0)
            events.emplace_back('D', line.substr(11));
        else
            ADD_FAILURE() << "unexpected log line: " << line;
    }
    return events;
}

bool IsInside(const std::string& path, const std::string& directory) {
    return path == directory || path.rfind(directory + "/", 0) == 0;
}

TEST_F(RemoteDelete, FileRemovesJustIt) {
    startWithTree();
    LogCapture log(1);
    EXPECT_TRUE(RemoteDeleteTree(connection(), "7.1/safe"));
    EXPECT_FALSE(fs::exists(onServer("safe")));
    EXPECT_EQ(remaining().size(), 6u);
    EXPECT_EQ(log.text(), "RemoteChangeToParentDir:  Set Current Directory to 7.1\n");
}

TEST_F(RemoteDelete, TreeGoesInDepthFirstOrderAndTheDirectoryLast) {
    startWithTree();
    LogCapture log(1);
    EXPECT_TRUE(RemoteDeleteTree(connection(), "7.0/access2"));
    EXPECT_FALSE(fs::exists(onServer("access2")));
    EXPECT_EQ(remaining(),
              (std::map<std::string, std::string>{{"ST/syscfg.dat", "data"}, {"safe", "data"}}));

    const auto events = Events(log);
    ASSERT_EQ(events.size(), 10u); // 5 directories searched, 5 files deleted
    EXPECT_EQ(events.front(), std::make_pair('S', std::string("7.0/access2")));
    // Each directory is finished before anything outside it is touched.
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].first != 'S')
            continue;
        std::size_t end = i + 1;
        while (end < events.size() && IsInside(events[end].second, events[i].second))
            ++end;
        for (std::size_t later = end; later < events.size(); ++later)
            EXPECT_FALSE(IsInside(events[later].second, events[i].second))
                << events[later].second << " after leaving " << events[i].second;
    }
}

TEST_F(RemoteDelete, TreeEnteredInAnotherFormIsRemovedByTheReportedPath) {
    startWithTree();
    EXPECT_TRUE(RemoteDeleteTree(connection(), "7.0\\access2\\dirA\\"));
    EXPECT_FALSE(fs::exists(onServer("access2/dirA")));
    EXPECT_TRUE(fs::exists(onServer("access2/dirB/k1")));
}

TEST_F(RemoteDelete, RootIsEmptiedButNeverRemoved) {
    for (const std::string root : {"/", "7.0", "7.0/"}) {
        startWithTree();
        EXPECT_TRUE(RemoteDeleteTree(connection(), root)) << root;
        EXPECT_TRUE(fs::is_directory(m_server->root())) << root;
        EXPECT_TRUE(fs::is_empty(m_server->root())) << root;
        m_connection->Close();
        m_connection.reset();
    }
}

TEST_F(RemoteDelete, RefusedFileLeavesItsDirectory) {
    startWithTree({"--refuse-delete", "7.0/access2/dirA/g1"});
    LogCapture log(0);
    EXPECT_FALSE(RemoteDeleteTree(connection(), "7.0/access2"));
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "Unable to remove 7.0/access2/dirA/g1 (GetLastError code = 12003)"});
    EXPECT_EQ(remaining(),
              (std::map<std::string, std::string>{
                  {"access2/dirA/g1", "data"}, {"ST/syscfg.dat", "data"}, {"safe", "data"}}));
}

TEST_F(RemoteDelete, MissingPathIsOneUnableToRemoveLine) {
    startWithTree();
    LogCapture log(0);
    EXPECT_FALSE(RemoteDeleteTree(connection(), "7.1/safe2"));
    EXPECT_FALSE(RemoteDeleteTree(connection(), "7.0/" + std::string(PATH_MAX, 'x')));
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Unable to remove 7.1/safe2 (GetLastError code = 12003)");
    EXPECT_TRUE(lines[1].ends_with("x (GetLastError code = 36)")) << lines[1];
    EXPECT_EQ(remaining().size(), 7u);
}

TEST_F(RemoteDelete, DirectoryThatCannotBeEnteredIsTriedAsAFile) {
    startWithTree();
    // Stored with a blank in place of "?", the name no longer leads anywhere.
    serverFile("access2/odd?name/inside");
    LogCapture log(0);
    EXPECT_FALSE(RemoteDeleteTree(connection(), "7.0/access2"));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Unable to remove 7.0/access2/odd name "
                                                    "(GetLastError code = 12003)"});
    EXPECT_EQ(remaining(), (std::map<std::string, std::string>{{"access2/odd?name/inside", "data"},
                                                               {"ST/syscfg.dat", "data"},
                                                               {"safe", "data"}}));
}

TEST_F(RemoteDelete, UnknownCurrentDirectoryDeletesNothing) {
    startWithTree({"--fail-pwd"});
    LogCapture log(0);
    EXPECT_FALSE(RemoteDeleteTree(connection(), "7.0/access2"));
    EXPECT_EQ(remaining().size(), 7u);
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(RemoteDelete, LostConnectionIsReported) {
    startWithTree({"--stall-command", "LIST:1"});
    SetTimeoutOverrideForTesting(1500);
    EXPECT_THROW(RemoteDeleteTree(connection(), "7.0/access2"), CInternetException);
    EXPECT_EQ(remaining().size(), 7u);
}

} // namespace
