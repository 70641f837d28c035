// Every operation of the client against the test server, over IPv4 and IPv6.

#include <gtest/gtest.h>

#include <filesystem>

#include "ServerLogin.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

class ServerOperations : public testing::TestWithParam<const char*> {
  protected:
    ServerOperations() : server(FtpTestServer::Options{{}, GetParam(), {}}) {
        fs::create_directories(server.root() / "access2" / "sub dir");
        writeFile(server.root() / "access2" / "MB0001.dat", "mailbox");
        writeFile(server.root() / "access2" / "sub dir" / "with space.dat", "x");
        writeFile(server.root() / "safe", "");
        connection = loginTo(session, server);
    }

    std::vector<std::string> found(const std::string& pattern) {
        CFtpFileFind finder(connection.get());
        std::vector<std::string> paths;
        if (!finder.FindFile(pattern))
            return paths;
        for (bool more = true; more && paths.size() < 100;) {
            more = finder.FindNextFile();
            paths.push_back(finder.GetFilePath() + (finder.IsDirectory() ? " <dir>" : ""));
        }
        return paths;
    }

    FtpTestServer server;
    CInternetSession session;
    std::unique_ptr<CFtpConnection> connection;
    TempDir local;
};

TEST_P(ServerOperations, CurrentDirectoryReadsBackAsEntered) {
    std::string directory;
    ASSERT_TRUE(connection->GetCurrentDirectory(directory));
    EXPECT_EQ(directory, "/");
    const std::vector<std::pair<std::string, std::string>> moves{{"7.0/access2", "7.0/access2"},
                                                                 {"sub dir", "7.0/access2/sub dir"},
                                                                 {"/access2", "/access2"},
                                                                 {"7.0/", "7.0"}};
    for (const auto& [entered, reported] : moves) {
        EXPECT_TRUE(connection->SetCurrentDirectory(entered)) << entered;
        ASSERT_TRUE(connection->GetCurrentDirectory(directory));
        EXPECT_EQ(directory, reported);
    }
    SetLastError(0);
    EXPECT_FALSE(connection->SetCurrentDirectory("7.0/missing"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
}

TEST_P(ServerOperations, CreatesAndRemovesDirectoriesAndFiles) {
    EXPECT_TRUE(connection->CreateDirectory("7.0/access2/new"));
    EXPECT_TRUE(fs::is_directory(server.root() / "access2" / "new"));
    EXPECT_FALSE(connection->CreateDirectory("7.0/access2/new"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_TRUE(connection->RemoveDirectory("7.0/access2/new"));
    EXPECT_FALSE(fs::exists(server.root() / "access2" / "new"));

    EXPECT_TRUE(connection->Remove("7.1/safe"));
    EXPECT_FALSE(fs::exists(server.root() / "safe"));
    SetLastError(0);
    EXPECT_FALSE(connection->Remove("7.1/safe"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_FALSE(connection->RemoveDirectory("7.0/access2/missing"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
}

TEST_P(ServerOperations, FindsByPatternWithTheRootTheEngineExpects) {
    ASSERT_TRUE(connection->SetCurrentDirectory("7.0/access2"));
    EXPECT_EQ(found("*"),
              (std::vector<std::string>{"7.0/access2/MB0001.dat", "7.0/access2/sub dir <dir>"}));
    EXPECT_EQ(found("7.0/access2/sub dir/*.dat"),
              (std::vector<std::string>{"7.0/access2/sub dir/with space.dat"}));
    EXPECT_EQ(found("/access2/*.DAT"), std::vector<std::string>{});
    EXPECT_EQ(found("7.0/access2/M?0001.*"), (std::vector<std::string>{"7.0/access2/MB0001.dat"}));
    EXPECT_EQ(found("7.0/"), std::vector<std::string>{});
}

TEST_P(ServerOperations, FindsOneNamedFileOrDirectory) {
    EXPECT_EQ(found("7.1/safe"), (std::vector<std::string>{"7.1/safe"}));
    EXPECT_EQ(found("7.0/access2"), (std::vector<std::string>{"7.0/access2 <dir>"}));
    EXPECT_EQ(found("7.0/access2/sub dir/"),
              (std::vector<std::string>{"7.0/access2/sub dir <dir>"}));
    EXPECT_EQ(found("safe"), (std::vector<std::string>{"/safe"}));
    CFtpFileFind finder(connection.get());
    EXPECT_FALSE(finder.FindFile("7.1/safe2"));
    EXPECT_FALSE(finder.FindFile("7.0/missing/safe"));
    EXPECT_FALSE(finder.FindNextFile());
}

TEST_P(ServerOperations, TransfersFilesBothWays) {
    EXPECT_TRUE(connection->GetFile("7.0/access2/MB0001.dat", (local / "copy.dat").string()));
    EXPECT_EQ(readFile(local / "copy.dat"), "mailbox");

    writeFile(local / "up.dat", "uploaded");
    EXPECT_TRUE(connection->PutFile((local / "up.dat").string(), "7.0/access2/up.dat"));
    EXPECT_EQ(readFile(server.root() / "access2" / "up.dat"), "uploaded");

    SetLastError(0);
    EXPECT_FALSE(connection->GetFile("7.0/access2/none.dat", (local / "none.dat").string()));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_FALSE(fs::exists(local / "none.dat"));
    EXPECT_FALSE(connection->PutFile((local / "missing.dat").string(), "7.0/x.dat"));
    EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_FALSE(connection->PutFile(local.path().string(), "7.0/x.dat"));
    EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(EISDIR));
    EXPECT_FALSE(fs::exists(server.root() / "x.dat"));
}

TEST_P(ServerOperations, OpenFileForWritingLeavesAnEmptyFile) {
    writeFile(server.root() / "safe2", "old");
    auto file = connection->OpenFile("7.1/safe2");
    file->Close();
    EXPECT_EQ(readFile(server.root() / "safe2"), "");
    EXPECT_EQ(codeThrownBy([&] { connection->OpenFile("7.0/missing/dir/file"); }),
              ERROR_INTERNET_EXTENDED_ERROR);
    std::string directory;
    EXPECT_TRUE(connection->GetCurrentDirectory(directory));
}

TEST_P(ServerOperations, ListOfAMissingDirectoryIsARefusal) {
    std::vector<FtpListEntry> entries{{"stale"}};
    EXPECT_FALSE(connection->List("7.0/missing", entries));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_TRUE(entries.empty());
    ASSERT_TRUE(connection->List("", entries));
    EXPECT_EQ(entries.size(), 2u);
}

TEST_P(ServerOperations, AClosedConnectionRefusesFurtherUse) {
    connection->Close();
    EXPECT_EQ(codeThrownBy([&] { connection->SetCurrentDirectory("/"); }),
              ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_FALSE(connection->GetFile("7.1/safe", (local / "safe").string()));
    EXPECT_FALSE(fs::exists(local / "safe"));
}

INSTANTIATE_TEST_SUITE_P(Families, ServerOperations, testing::Values("127.0.0.1", "::1"),
                         [](const auto& info) {
                             return std::string(info.param) == "::1" ? "IPv6" : "IPv4";
                         });

TEST(ServerLogin, WrongPasswordThrowsWithTheServersReply) {
    FtpTestServer server;
    CInternetSession session;
    try {
        session.GetFtpConnection(server.hostEntry(), kTestUser, "wrong");
        ADD_FAILURE() << "logged in";
    } catch (const CInternetException& failure) {
        EXPECT_EQ(failure.m_dwError, ERROR_INTERNET_INCORRECT_PASSWORD);
        EXPECT_TRUE(failure.GetErrorMessage().starts_with("The server returned an error: 530"));
        EXPECT_EQ(failure.GetErrorMessage().back(), '\n');
    }
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_PASSWORD);
}

TEST(ServerLogin, ClosedPortCannotConnect) {
    int port = 0;
    {
        FtpTestServer server;
        port = server.port();
    }
    CInternetSession session;
    EXPECT_EQ(codeThrownBy([&] {
                  session.GetFtpConnection("127.0.0.1:" + std::to_string(port), kTestUser,
                                           kTestPassword);
              }),
              ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ(codeThrownBy([&] { session.GetFtpConnection("[::1", kTestUser, kTestPassword); }),
              ERROR_INTERNET_NAME_NOT_RESOLVED);
}

TEST(ServerLogin, PortInTheHostEntryWinsOverThePortArgument) {
    FtpTestServer server;
    CInternetSession session;
    auto connection = session.GetFtpConnection(server.hostEntry(), kTestUser, kTestPassword, 1);
    std::string directory;
    EXPECT_TRUE(connection->GetCurrentDirectory(directory));
}

} // namespace
