#include <gtest/gtest.h>

#include <optional>

#include "engine/oplog/OperationLog.h"
#include "remotelog/LogServerTree.h"
#include "remotelog/RemoteLogFileManager.h"
#include "support/FileListPaths.h"
#include "support/FtpTestServer.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

FtpTestServer::Options withFaults(std::vector<std::string> faults) {
    FtpTestServer::Options options;
    options.faults = std::move(faults);
    return options;
}

// The manager's log goes to a temporary file; every test gets a session of its own.
class ManagerTest : public ::testing::Test {
  protected:
    ManagerTest() { setLogFilePath(m_dir / "qel.log"); }
    ~ManagerTest() override {
        setLogFilePath(std::nullopt);
        SetTimeoutOverrideForTesting(0);
    }

    bool list(const FtpTestServer& server, CFileItemList& files) {
        CRemoteLogFileManager manager(&m_session, ServerLogin(server.hostEntry()), "/unused");
        return manager.GetRemoteLogFiles(&files);
    }
    std::string log() const {
        return fs::exists(m_dir / "qel.log") ? readFile(m_dir / "qel.log") : std::string();
    }

    TempDir m_dir;
    CInternetSession m_session;
};

} // namespace

TEST(ServerLogin, TheHostAloneTakesTheBuiltInLogin) {
    const ServerLogin defaults("velmora.example");
    EXPECT_EQ(defaults.host, "velmora.example");
    EXPECT_EQ(defaults.user, "tas");
    EXPECT_EQ(defaults.password, "ulm D-XI");
    EXPECT_EQ(defaults.separator, "/");
    EXPECT_EQ(defaults.port, 21);
    const ServerLogin custom("h", "u", "p", "\\", 2121);
    const ServerLogin copy = custom;
    EXPECT_EQ(copy.user + copy.password + copy.separator, "up\\");
    EXPECT_EQ(copy.port, 2121);
}

TEST(LogPatterns, AreTheSixEntriesWithSingleBackslashes) {
    const std::vector<std::string> table(kLogPatterns, kLogPatterns + 6);
    EXPECT_EQ(table, (std::vector<std::string>{"access2/*.txt", "ST\\*.out", "ST/*.log",
                                               "ST\\f983wui\\*.log", "LOGS/*", ""}));
    EXPECT_EQ(std::string(kLogPatterns[1]).size(), 8u);
}

TEST_F(ManagerTest, AppendsEveryMatchingPlainFileInPatternOrder) {
    FtpTestServer server;
    log_tree::makeLogTree(server.root());
    CFileItemList files;
    files.AddTail(std::make_unique<CFileItem>("already there"));

    ASSERT_TRUE(list(server, files));

    std::vector<std::string> expected{"already there"};
    for (const auto& path : log_tree::expectedLogList(server.root()))
        expected.push_back(path);
    EXPECT_EQ(pathsOf(files), expected);
    std::string block = "--- Generating Log File List ---\n";
    for (std::size_t i = 1; i < expected.size(); ++i)
        block += expected[i] + "\n";
    EXPECT_EQ(log(), block + "--- File List Complete ---\n");
}

TEST_F(ManagerTest, AMissingDirectorySkipsOnlyItsPattern) {
    FtpTestServer server;
    log_tree::put(server.root() / "LOGS" / "kept.log", "x");
    CFileItemList files;

    ASSERT_TRUE(list(server, files));

    EXPECT_EQ(pathsOf(files), std::vector<std::string>{"/LOGS/kept.log"});
    EXPECT_EQ(log(), "--- Generating Log File List ---\n"
                     "Could not find directory /access2\n"
                     "Could not find directory /ST\n"
                     "Could not find directory /ST\n"
                     "Could not find directory /ST\n"
                     "/LOGS/kept.log\n"
                     "--- File List Complete ---\n");
}

TEST_F(ManagerTest, ARefusedConnectionLeavesTheListAsItWas) {
    FtpTestServer server(withFaults({"--max-logins", "0"}));
    log_tree::makeLogTree(server.root());
    CFileItemList files;
    files.AddTail(std::make_unique<CFileItem>("kept"));

    EXPECT_FALSE(list(server, files));

    EXPECT_EQ(pathsOf(files), std::vector<std::string>{"kept"});
    const std::string text = log();
    EXPECT_EQ(text.rfind("--- Generating Log File List ---\n"
                         "CRemoteLogFileManager::GetRemoteLogFiles caught CInternetException(",
                         0),
              0u)
        << text;
    EXPECT_TRUE(text.ends_with("--- File List Complete ---\n"));
}

TEST_F(ManagerTest, AListingLostPartWayKeepsWhatWasFound) {
    SetTimeoutOverrideForTesting(1500);
    FtpTestServer server(withFaults({"--stall-command", "LIST:2"}));
    log_tree::makeLogTree(server.root());
    CFileItemList files;

    EXPECT_FALSE(list(server, files));

    std::vector<std::string> firstPattern;
    for (const auto& path : log_tree::expectedLogList(server.root()))
        if (path.rfind("/access2/", 0) == 0)
            firstPattern.push_back(path);
    EXPECT_EQ(pathsOf(files), firstPattern);
    EXPECT_NE(log().find("caught CInternetException(12002) "), std::string::npos) << log();
}

TEST_F(ManagerTest, QuestionMarksOfTheListingBecomeBlanks) {
    FtpTestServer server(withFaults({"--list-question-mark"}));
    log_tree::put(server.root() / "ST" / "f983wui" / "a b c.log", "x");
    CFileItemList files;

    ASSERT_TRUE(list(server, files));

    EXPECT_EQ(pathsOf(files), std::vector<std::string>{"/ST/f983wui/a b c.log"});
    EXPECT_NE(log().find("/ST/f983wui/a?b?c.log\n"), std::string::npos);
}
