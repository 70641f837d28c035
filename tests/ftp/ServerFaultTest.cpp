// The client against the test server's fault switches: each fault gives its code, within
// the timeouts, and never a partial or damaged local file.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "ServerLogin.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kShortTimeoutMs = 500;

class ServerFault : public testing::Test {
  protected:
    void SetUp() override { SetTimeoutOverrideForTesting(kShortTimeoutMs); }
    void TearDown() override { SetTimeoutOverrideForTesting(0); }

    static FtpTestServer startServer(std::vector<std::string> faults) {
        return FtpTestServer(FtpTestServer::Options{std::move(faults), "127.0.0.1", {}});
    }

    std::vector<std::string> localNames() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(local.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    CInternetSession session;
    TempDir local;
};

struct TransferFault {
    const char* name;
    std::vector<std::string> faults;
    bool upload;
    std::vector<std::uint32_t> codes; // any of these
    bool connectionSurvives;
};

class FaultyTransfer : public ServerFault, public testing::WithParamInterface<TransferFault> {};

TEST_P(FaultyTransfer, FailsWithItsCodeAndKeepsTheOldFile) {
    const auto& c = GetParam();
    FtpTestServer server = startServer(c.faults);
    writeFile(server.root() / "f.dat", std::string(3u << 20, 'n'));
    writeFile(local / "f.dat", "old content");
    auto connection = loginTo(session, server);

    const auto start = Clock::now();
    const bool done = c.upload ? connection->PutFile((local / "f.dat").string(), "7.0/up.dat")
                               : connection->GetFile("7.0/f.dat", (local / "f.dat").string());
    const auto code = GetLastError();
    EXPECT_FALSE(done);
    EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), code), c.codes.end()) << code;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(readFile(local / "f.dat"), "old content");
    EXPECT_EQ(localNames(), std::vector<std::string>{"f.dat"});

    std::string directory;
    if (c.connectionSurvives) {
        EXPECT_TRUE(connection->GetCurrentDirectory(directory));
        EXPECT_TRUE(connection->GetFile("7.0/f.dat", (local / "g.dat").string()));
    } else {
        EXPECT_NE(codeThrownBy([&] { connection->GetCurrentDirectory(directory); }), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultyTransfer,
    testing::Values(
        TransferFault{"retrRefused", {"--fail-retr", "1"}, false, {12003}, true},
        TransferFault{"retrDataDropped", {"--drop-data-retr", "1"}, false, {12030}, true},
        TransferFault{
            "retrControlDropped", {"--drop-control-retr", "1"}, false, {12030, 12031}, false},
        TransferFault{"retrDataStalled", {"--stall-data-retr", "1"}, false, {12002}, false},
        TransferFault{"retrUnanswered", {"--stall-command", "RETR:1"}, false, {12002}, false},
        TransferFault{"storRefused", {"--fail-stor", "1"}, true, {12003}, true},
        TransferFault{"storDataDropped", {"--drop-data-stor", "1"}, true, {12030, 12031}, true},
        TransferFault{
            "storControlDropped", {"--drop-control-stor", "1"}, true, {12030, 12031}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct StalledCommand {
    const char* command;
    std::function<void(CFtpConnection&)> step;
};

class Stall : public ServerFault, public testing::WithParamInterface<StalledCommand> {};

TEST_P(Stall, TimesOutWithoutHanging) {
    const auto& c = GetParam();
    FtpTestServer server = startServer({"--stall-command", std::string(c.command) + ":1"});
    const auto start = Clock::now();
    const auto code = codeThrownBy([&] {
        auto connection = loginTo(session, server);
        c.step(*connection);
    });
    EXPECT_EQ(code, ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Stall,
    testing::Values(StalledCommand{"USER", [](CFtpConnection&) {}},
                    StalledCommand{"PASS", [](CFtpConnection&) {}},
                    StalledCommand{"CWD", [](CFtpConnection& c) { c.SetCurrentDirectory("7.0"); }},
                    StalledCommand{"PWD",
                                   [](CFtpConnection& c) {
                                       std::string directory;
                                       c.GetCurrentDirectory(directory);
                                   }},
                    StalledCommand{"MKD", [](CFtpConnection& c) { c.CreateDirectory("7.0/new"); }},
                    StalledCommand{"LIST",
                                   [](CFtpConnection& c) {
                                       CFtpFileFind finder(&c);
                                       finder.FindFile("7.0/*");
                                   }},
                    StalledCommand{"STOR",
                                   [](CFtpConnection& c) { c.OpenFile("7.1/safe2")->Close(); }}),
    [](const auto& info) { return std::string(info.param.command); });

TEST_F(ServerFault, LoginsBeyondTheLimitAreRefusedWithTheServersText) {
    FtpTestServer server = startServer({"--max-logins", "1"});
    auto first = loginTo(session, server);
    try {
        loginTo(session, server);
        ADD_FAILURE() << "second login accepted";
    } catch (const CInternetException& failure) {
        EXPECT_EQ(failure.m_dwError, ERROR_INTERNET_EXTENDED_ERROR);
        EXPECT_TRUE(failure.GetErrorMessage().starts_with("The server returned an error: 421"))
            << failure.GetErrorMessage();
    }
}

TEST_F(ServerFault, FailingPwdIsAnEmptyDirectoryAndNoListing) {
    FtpTestServer server = startServer({"--fail-pwd"});
    writeFile(server.root() / "safe", "");
    auto connection = loginTo(session, server);
    std::string directory = "stale";
    EXPECT_FALSE(connection->GetCurrentDirectory(directory));
    EXPECT_EQ(directory, "");
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    CFtpFileFind finder(connection.get());
    EXPECT_FALSE(finder.FindFile("*"));
    EXPECT_TRUE(finder.FindFile("7.1/safe"));
}

TEST_F(ServerFault, RefusedDeleteIsFalseWithTheRefusalCode) {
    FtpTestServer server = startServer({"--refuse-delete", "7.0/access2/x.dat"});
    writeFile(server.root() / "access2" / "x.dat", "x");
    auto connection = loginTo(session, server);
    SetLastError(0);
    EXPECT_FALSE(connection->Remove("7.0/access2/x.dat"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_TRUE(fs::exists(server.root() / "access2" / "x.dat"));
}

TEST_F(ServerFault, QuestionMarksInListedNamesReachTheCaller) {
    FtpTestServer server = startServer({"--list-question-mark"});
    writeFile(server.root() / "LOGS" / "error log.txt", "x");
    auto connection = loginTo(session, server);
    CFtpFileFind finder(connection.get());
    ASSERT_TRUE(finder.FindFile("7.0/LOGS/*"));
    EXPECT_FALSE(finder.FindNextFile());
    EXPECT_EQ(finder.GetFilePath(), "7.0/LOGS/error?log.txt");
}

struct HostileCase {
    const char* mode;
    std::function<void(CInternetSession&, const FtpTestServer&)> check;
};

class HostileDialect : public ServerFault, public testing::WithParamInterface<HostileCase> {};

TEST_P(HostileDialect, FailsCleanlyOrFiltersTheDanger) {
    const auto& c = GetParam();
    FtpTestServer server = startServer({"--hostile", c.mode});
    writeFile(server.root() / "plain.dat", "x");
    c.check(session, server);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HostileDialect,
    testing::Values(
        HostileCase{"pwd-unquoted",
                    [](CInternetSession& session, const FtpTestServer& server) {
                        std::string directory;
                        EXPECT_FALSE(loginTo(session, server)->GetCurrentDirectory(directory));
                        EXPECT_EQ(directory, "");
                    }},
        HostileCase{"huge-reply",
                    [](CInternetSession& session, const FtpTestServer& server) {
                        auto connection = loginTo(session, server);
                        std::string directory;
                        EXPECT_EQ(codeThrownBy([&] { connection->GetCurrentDirectory(directory); }),
                                  ERROR_INTERNET_CONNECTION_ABORTED);
                    }},
        HostileCase{"multiline",
                    [](CInternetSession& session, const FtpTestServer& server) {
                        std::string directory;
                        EXPECT_TRUE(loginTo(session, server)->GetCurrentDirectory(directory));
                    }},
        HostileCase{"list-escape",
                    [](CInternetSession& session, const FtpTestServer& server) {
                        auto connection = loginTo(session, server);
                        std::vector<FtpListEntry> entries;
                        ASSERT_TRUE(connection->List("7.0", entries));
                        ASSERT_FALSE(entries.empty());
                        for (const auto& entry : entries)
                            EXPECT_EQ(entry.name, "plain.dat");
                    }}),
    [](const auto& info) {
        std::string name = info.param.mode;
        std::erase(name, '-');
        return name;
    });

} // namespace
