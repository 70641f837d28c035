#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "RemoteFixture.h"
#include "fileaccess/Enumeration.h"
#include "support/FileListPaths.h"

namespace fs = std::filesystem;

namespace {

// Generated tree: three levels below 7.0/access2, with files on every level.
const std::vector<std::set<std::string>> kFilesByLevel = {
    {"7.0/access2/f1", "7.0/access2/f2", "7.0/access2/f3"},
    {"7.0/access2/dirA/g1", "7.0/access2/dirA/g2", "7.0/access2/dirB/k1",
     "7.0/access2/dir C/space file"},
    {"7.0/access2/dirA/deep/h1", "7.0/access2/dirB/deep/h2"},
};
const std::set<std::string> kDirectories = {
    "7.0/access2",           "7.0/access2/dirA",      "7.0/access2/dirB", "7.0/access2/dir C",
    "7.0/access2/dirA/deep", "7.0/access2/dirB/deep", "7.0/access2/empty"};

std::string Relative(const std::string& serverPath) {
    return serverPath.substr(4);
}

class RemoteSearch : public RemoteFixture {
  protected:
    void SetUp() override { startWithTree({}); }

    void startWithTree(std::vector<std::string> faults) {
        startServer(std::move(faults));
        for (const auto& level : kFilesByLevel)
            for (const auto& file : level)
                serverFile(Relative(file), file);
        serverDirectory("access2/empty");
        serverFile("ST/syscfg.dat");
    }

    int find(bool recurse, const std::string& start) {
        CFtpFileFind finder(connection(), 1);
        return FindNormalFiles(kRemoteSearch, recurse, connection(), finder, start, &m_directories,
                               &m_files);
    }

    CFileItemList m_directories;
    CFileItemList m_files;
};

TEST_F(RemoteSearch, ListsTheTreeBreadthFirst) {
    EXPECT_EQ(find(true, "7.0/access2"), 9);
    const auto files = pathsOf(m_files);
    ASSERT_EQ(files.size(), 9u);
    // Level by level: every file of a directory comes before any file of its subdirectories.
    auto next = files.begin();
    for (const auto& level : kFilesByLevel) {
        const std::set<std::string> got(next, next + static_cast<long>(level.size()));
        EXPECT_EQ(got, level);
        next += static_cast<long>(level.size());
    }
    const auto directories = pathsOf(m_directories);
    EXPECT_EQ(directories.front(), "7.0/access2");
    EXPECT_EQ(std::set<std::string>(directories.begin(), directories.end()), kDirectories);
    EXPECT_EQ(directories.size(), kDirectories.size());
    // The subdirectories come after all of their parent's directories.
    const auto deepA = std::find(directories.begin(), directories.end(), "7.0/access2/dirA/deep");
    const auto empty = std::find(directories.begin(), directories.end(), "7.0/access2/empty");
    EXPECT_LT(empty, deepA);
}

TEST_F(RemoteSearch, WithoutRecurseOnlyTheStartDirectory) {
    EXPECT_EQ(find(false, "7.0/access2"), 3);
    const auto files = pathsOf(m_files);
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), kFilesByLevel[0]);
    EXPECT_EQ(pathsOf(m_directories), std::vector<std::string>{"7.0/access2"});
}

TEST_F(RemoteSearch, OneWorkListForTwoTrees) {
    EXPECT_EQ(find(true, "7.0/access2"), 9);
    EXPECT_EQ(find(true, "7.0/ST"), 1);
    EXPECT_EQ(pathsOf(m_files).back(), "7.0/ST/syscfg.dat");
    EXPECT_EQ(pathsOf(m_directories).back(), "7.0/ST");
    EXPECT_EQ(m_directories.GetCount(), kDirectories.size() + 1);
}

TEST_F(RemoteSearch, EmptyDirectory) {
    EXPECT_EQ(find(true, "7.0/access2/empty"), 0);
    EXPECT_EQ(pathsOf(m_directories), std::vector<std::string>{"7.0/access2/empty"});
    EXPECT_TRUE(m_files.IsEmpty());
}

TEST_F(RemoteSearch, StartPathInAnotherFormIsLookedUpAsOneFile) {
    struct Row {
        std::string start;
        int count;
    };
    // A directory in another form is not walked, nor taken for a file: its files would be
    // missing from a list that looks whole. The lookup of a name decides for a file.
    const std::vector<Row> rows = {
        {"7.0/access2/f1", 1},
        {"7.0/access2/missing", 0},
        {"/7.0/access2", kWalkFailed},       // "/7.0" lists as refused: no telling what is there
        {"7.0/access2/", kWalkFailed},       // reported without the separator
        {"7.0\\access2\\dirA", kWalkFailed}, // reported with "/"
    };
    for (const auto& row : rows) {
        CFileItemList directories;
        CFileItemList files;
        CFtpFileFind finder(connection(), 1);
        EXPECT_EQ(FindNormalFiles(kRemoteSearch, true, connection(), finder, row.start,
                                  &directories, &files),
                  row.count)
            << row.start;
        const auto expected =
            row.count == 1 ? std::vector<std::string>{row.start} : std::vector<std::string>{};
        EXPECT_EQ(pathsOf(files), expected) << row.start;
        EXPECT_TRUE(directories.IsEmpty()) << row.start;
    }
}

TEST_F(RemoteSearch, LogLinesFromLevelTwo) {
    LogCapture log(1);
    find(true, "7.0/access2/dirB");
    EXPECT_EQ(log.text(), "");
    log.setLevel(2);
    find(true, "7.0/access2/dirB");
    const auto lines = log.lines();
    const std::set<std::string> got(lines.begin(), lines.end());
    EXPECT_EQ(got, (std::set<std::string>{
                       "Searching = 7.0/access2/dirB",
                       "Found normal:\t\t7.0/access2/dirB/k1",
                       "Found directory:\t7.0/access2/dirB/deep",
                       "Searching = 7.0/access2/dirB/deep",
                       "Found normal:\t\t7.0/access2/dirB/deep/h2",
                   }));
    EXPECT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines.front(), "Searching = 7.0/access2/dirB");
}

TEST_F(RemoteSearch, DirectoryThatCannotBeEnteredStopsTheWalk) {
    // Stored with a blank in place of "?", the name no longer leads anywhere.
    serverFile("access2/dirA/odd?name/inside");
    LogCapture log(0);
    EXPECT_EQ(find(true, "7.0/access2"), kWalkFailed);
    EXPECT_EQ(log.text(), "Could not enter directory 7.0/access2/dirA/odd name\n");
    EXPECT_LT(m_files.GetCount(), 10u);
}

class RemoteSearchFaults : public RemoteSearch {
  protected:
    void SetUp() override {}
};

TEST_F(RemoteSearchFaults, BlanksListedAsQuestionMarksAreFound) {
    startWithTree({"--list-question-mark"});
    EXPECT_EQ(find(true, "7.0/access2/dir C"), 1);
    EXPECT_EQ(pathsOf(m_files), std::vector<std::string>{"7.0/access2/dir C/space file"});
}

TEST_F(RemoteSearchFaults, LostConnectionIsNoEmptyDirectory) {
    startWithTree({"--stall-command", "LIST:2"});
    SetTimeoutOverrideForTesting(1500);
    EXPECT_THROW(find(true, "7.0/access2"), CInternetException);
}

} // namespace
