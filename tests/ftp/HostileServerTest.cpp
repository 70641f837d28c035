// The client against replies no well-behaved server sends: every one must end in a clear
// failure within the timeouts, never a crash, a hang or a file at the wrong place.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "FakeFtpServer.h"
#include "platform/Internet.h"
#include "platform/LastError.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::vector<std::pair<std::string, std::string>> kAgreeable{
    {"TYPE", "200 Type set\r\n"}, {"PORT", "200 PORT ok\r\n"}, {"PWD", "257 \"/dir\"\r\n"}};

// Answers up to the transfer command, then opens the data connection and plays it out.
void serveTransfer(FakeFtpSession& session, const std::string& command, const std::string& data,
                   const std::string& finalReply, bool reset = false) {
    if (session.answerUntil(kAgreeable, command).empty())
        return;
    session.send("150 Opening data connection\r\n");
    sendAndClose(session.connectBack(), data, reset);
    if (finalReply.empty())
        session.closeControl();
    else
        session.send(finalReply);
}

std::string repeated(const std::string& line, int times) {
    std::string all;
    for (int i = 0; i < times; ++i)
        all += line;
    return all;
}

template <typename Step> std::uint32_t thrownCode(Step step) {
    try {
        step();
    } catch (const CInternetException& failure) {
        EXPECT_EQ(failure.GetErrorMessage().back(), '\n');
        EXPECT_EQ(GetLastError(), failure.m_dwError);
        return failure.m_dwError;
    }
    return 0;
}

class HostileServer : public testing::Test {
  protected:
    void SetUp() override { SetTimeoutOverrideForTesting(2000); }
    void TearDown() override { SetTimeoutOverrideForTesting(0); }

    std::unique_ptr<CFtpConnection> connect(FakeFtpServer& server) {
        return session.GetFtpConnection(server.hostEntry(), "tas", "secret");
    }

    // Files left in the download folder: the target or a temporary file beside it.
    std::vector<std::string> leftovers() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(temp.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    CInternetSession session;
    TempDir temp;
};

struct GreetingCase {
    const char* name;
    std::string greeting;
    bool closeAfter;
    std::uint32_t code;
};

class BadGreeting : public HostileServer, public testing::WithParamInterface<GreetingCase> {};

TEST_P(BadGreeting, ConnectThrowsTheCode) {
    const auto& c = GetParam();
    SetTimeoutOverrideForTesting(300);
    FakeFtpServer server([&](FakeFtpSession& s) {
        s.send(c.greeting);
        if (c.closeAfter)
            s.closeControl();
        else
            s.readCommand();
    });
    const auto start = Clock::now();
    EXPECT_EQ(thrownCode([&] { connect(server); }), c.code);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

INSTANTIATE_TEST_SUITE_P(
    Greetings, BadGreeting,
    testing::Values(GreetingCase{"garbage", "SSH-2.0-OpenSSH_9.2\r\n", false,
                                 ERROR_INTERNET_CONNECTION_ABORTED},
                    GreetingCase{"megabyteLine", "220 " + std::string(1 << 20, 'x') + "\r\n", false,
                                 ERROR_INTERNET_CONNECTION_ABORTED},
                    GreetingCase{"eofMidReply", "220-Welcome\r\n220-still", true,
                                 ERROR_INTERNET_CONNECTION_ABORTED},
                    GreetingCase{"eofBeforeGreeting", "", true, ERROR_INTERNET_CONNECTION_ABORTED},
                    GreetingCase{"silence", "", false, ERROR_INTERNET_TIMEOUT},
                    GreetingCase{"tooManyUsers", "421 Too many connections\r\n", true,
                                 ERROR_INTERNET_EXTENDED_ERROR},
                    GreetingCase{"endlessWaiting", repeated("120 Ready soon\r\n", 40), false,
                                 ERROR_INTERNET_EXTENDED_ERROR}),
    [](const auto& info) { return std::string(info.param.name); });

struct LoginCase {
    const char* name;
    std::string userReply;
    std::string passReply;
    std::uint32_t code;
};

class LoginRefused : public HostileServer, public testing::WithParamInterface<LoginCase> {};

TEST_P(LoginRefused, ThrowsWithTheServersReply) {
    const auto& c = GetParam();
    FakeFtpServer server([&](FakeFtpSession& s) {
        s.send("220 Ready\r\n");
        s.readCommand();
        s.send(c.userReply);
        if (!c.passReply.empty() && !s.readCommand().empty())
            s.send(c.passReply);
        s.readCommand();
    });
    try {
        connect(server);
        ADD_FAILURE() << "connected";
    } catch (const CInternetException& failure) {
        EXPECT_EQ(failure.m_dwError, c.code);
        const std::string reply = c.passReply.empty() ? c.userReply : c.passReply;
        EXPECT_EQ(failure.GetErrorMessage(),
                  "The server returned an error: " + reply.substr(0, reply.size() - 2) + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Logins, LoginRefused,
    testing::Values(LoginCase{"userUnknown", "530 Not allowed\r\n", "", 12013},
                    LoginCase{"badPassword", "331 Password\r\n", "530 Login incorrect.\r\n", 12014},
                    LoginCase{"passwordTemporarilyRefused", "331 Password\r\n",
                              "421 Service closing\r\n", 12015},
                    LoginCase{"userTemporarilyRefused", "421 Later\r\n", "", 12015}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileServer, WaitsThroughDelayAndMultiLineGreeting) {
    FakeFtpServer server([](FakeFtpSession& s) {
        s.send("120 Ready in a moment\r\n220-Velmora\r\n more text\r\n220 Ready\r\n");
        s.answerUntil({{"USER", "331 Password\r\n"}, {"PASS", "230 In\r\n"}}, "QUIT");
    });
    auto connection = connect(server);
    connection->Close();
}

TEST_F(HostileServer, SendsOnlyWhatEachOperationNeedsAndLetsTheServerCloseFirst) {
    std::atomic<bool> clientClosedFirst{true};
    FakeFtpServer server([&](FakeFtpSession& s) {
        s.login();
        serveTransfer(s, "RETR", "one", "226 Done\r\n");
        serveTransfer(s, "RETR", "two", "226 Done\r\n");
        serveTransfer(s, "STOR", "", "226 Done\r\n");
        if (s.answerUntil(kAgreeable, "QUIT").empty())
            return;
        s.send("221 Bye\r\n");
        clientClosedFirst = s.clientClosedWithin(200);
    });
    auto connection = connect(server);
    EXPECT_TRUE(connection->GetFile("a", (temp / "a").string()));
    EXPECT_TRUE(connection->GetFile("b", (temp / "b").string()));
    EXPECT_NO_THROW(connection->OpenFile("c")->Close());
    connection->Close();
    const auto commands = server.commands();
    const std::vector<std::string> expected{"USER tas", "PASS secret", "TYPE I", "RETR a",
                                            "RETR b",   "STOR c",      "QUIT"};
    std::vector<std::string> withoutPort;
    for (const auto& command : commands)
        if (!command.starts_with("PORT "))
            withoutPort.push_back(command);
    EXPECT_EQ(withoutPort, expected);
    EXPECT_FALSE(clientClosedFirst);
    EXPECT_EQ(readFile(temp / "b"), "two");
}

TEST_F(HostileServer, CloseIsBoundedWhenTheServerNeverHangsUp) {
    SetTimeoutOverrideForTesting(300);
    FakeFtpServer server([](FakeFtpSession& s) {
        s.login();
        s.answerUntil({}, "QUIT");
        s.readCommand();
    });
    auto connection = connect(server);
    const auto start = Clock::now();
    connection->Close();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(HostileServer, ServerThatNeverConnectsBackTimesOut) {
    SetTimeoutOverrideForTesting(300);
    FakeFtpServer server([](FakeFtpSession& s) {
        s.login();
        if (s.answerUntil(kAgreeable, "RETR").empty())
            return;
        s.send("150 Opening data connection\r\n");
        s.readCommand();
    });
    auto connection = connect(server);
    const auto start = Clock::now();
    EXPECT_FALSE(connection->GetFile("x", (temp / "x").string()));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(leftovers().empty());
    // The connection is out of step with the server now: everything else fails at once.
    EXPECT_EQ(thrownCode([&] { connection->SetCurrentDirectory("/"); }), ERROR_INTERNET_TIMEOUT);
}

TEST_F(HostileServer, RefusalWhileWaitingForTheDataConnectionFailsAtOnce) {
    SetTimeoutOverrideForTesting(20000);
    FakeFtpServer server([](FakeFtpSession& s) {
        s.login();
        if (s.answerUntil(kAgreeable, "RETR").empty())
            return;
        s.send("550 No such file\r\n");
        s.answerUntil({{"PWD", "257 \"/\"\r\n"}}, "QUIT");
    });
    auto connection = connect(server);
    const auto start = Clock::now();
    EXPECT_FALSE(connection->GetFile("x", (temp / "x").string()));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    std::string directory;
    EXPECT_TRUE(connection->GetCurrentDirectory(directory));
    EXPECT_TRUE(leftovers().empty());
}

struct EarlyEndCase {
    const char* name;
    bool reset;
    std::string finalReply;
    std::uint32_t code;
};

class DataEndsEarly : public HostileServer, public testing::WithParamInterface<EarlyEndCase> {};

TEST_P(DataEndsEarly, DownloadFailsAndTheOldFileStays) {
    const auto& c = GetParam();
    writeFile(temp / "x", "old content");
    FakeFtpServer server([&](FakeFtpSession& s) {
        s.login();
        serveTransfer(s, "RETR", std::string(300000, 'n'), c.finalReply, c.reset);
        s.answerUntil({}, "QUIT");
    });
    auto connection = connect(server);
    EXPECT_FALSE(connection->GetFile("x", (temp / "x").string()));
    EXPECT_EQ(GetLastError(), c.code);
    EXPECT_EQ(readFile(temp / "x"), "old content");
    EXPECT_EQ(leftovers(), std::vector<std::string>{"x"});
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DataEndsEarly,
    testing::Values(EarlyEndCase{"aborted", false, "426 Transfer aborted\r\n", 12030},
                    EarlyEndCase{"reset", true, "426 Connection reset\r\n", 12031},
                    EarlyEndCase{"localError", false, "451 Read error\r\n", 12003},
                    EarlyEndCase{"controlLost", false, "", 12030}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileServer, ListingKeepsOnlyPlainNames) {
    const std::string listing = "total 4\r\n"
                                "drwxr-xr-x 2 a b 0 Jan 02 10:00 ..\r\n"
                                "-rw-r--r-- 1 a b 1 Jan 02 10:00 ../escape\r\n"
                                "-rw-r--r-- 1 a b 1 Jan 02 10:00 a\\..\\b\r\n"
                                "<html>not a listing</html>\r\n"
                                "-rw-r--r-- 1 a b 1 Jan 02 10:00 plain name\r\n"
                                "drwxr-xr-x 2 a b 0 Jan 02 10:00 sub\r\n";
    FakeFtpServer server([&](FakeFtpSession& s) {
        s.login();
        serveTransfer(s, "LIST", listing, "226 Done\r\n");
        s.answerUntil({}, "QUIT");
    });
    auto connection = connect(server);
    CFtpFileFind finder(connection.get());
    ASSERT_TRUE(finder.FindFile("*"));
    std::vector<std::string> paths;
    for (bool more = true; more && paths.size() < 10;) {
        more = finder.FindNextFile();
        paths.push_back(finder.GetFilePath());
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/dir/plain name", "/dir/sub"}));
}

TEST_F(HostileServer, ListingCutShortThrowsInsteadOfLookingEmpty) {
    FakeFtpServer server([](FakeFtpSession& s) {
        s.login();
        if (s.answerUntil(kAgreeable, "LIST").empty())
            return;
        s.send("150 Here it comes\r\n");
        sendAndClose(s.connectBack(), "-rw-r--r-- 1 a b 1 Jan 02 10:00 partial\r\n");
        s.closeControl();
    });
    auto connection = connect(server);
    CFtpFileFind finder(connection.get());
    EXPECT_EQ(thrownCode([&] { finder.FindFile("7.0/access2/*"); }),
              ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_EQ(thrownCode([&] { finder.FindFile("*"); }), ERROR_INTERNET_CONNECTION_ABORTED);
}

struct PwdCase {
    const char* name;
    std::string reply;
    bool throws;
};

class BadPwd : public HostileServer, public testing::WithParamInterface<PwdCase> {};

TEST_P(BadPwd, IsAFailureNeverAPath) {
    const auto& c = GetParam();
    FakeFtpServer server([&](FakeFtpSession& s) {
        s.login();
        s.answerUntil({}, "PWD");
        s.send(c.reply);
        s.answerUntil({}, "QUIT");
    });
    auto connection = connect(server);
    std::string directory = "stale";
    if (c.throws) {
        EXPECT_EQ(thrownCode([&] { connection->GetCurrentDirectory(directory); }),
                  ERROR_INTERNET_CONNECTION_ABORTED);
        // Once the connection is dead, every later call fails at once the same way.
        EXPECT_EQ(thrownCode([&] { connection->Remove("x"); }), ERROR_INTERNET_CONNECTION_ABORTED);
    } else {
        EXPECT_FALSE(connection->GetCurrentDirectory(directory));
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    }
    EXPECT_EQ(directory, "");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadPwd,
    testing::Values(PwdCase{"unquoted", "257 /dir is current\r\n", false},
                    PwdCase{"unclosed", "257 \"/dir is current\r\n", false},
                    PwdCase{"refused", "550 Not now\r\n", false},
                    PwdCase{"garbage", "garbage\r\n", true},
                    PwdCase{"huge", "257-\"/\"\r\n" + std::string(1 << 20, 'x') + "\r\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileServer, PathsWithLineBreaksAreNeverSent) {
    FakeFtpServer server([](FakeFtpSession& s) {
        s.login();
        s.answerUntil({}, "QUIT");
    });
    auto connection = connect(server);
    EXPECT_FALSE(connection->SetCurrentDirectory("a\r\nDELE b"));
    EXPECT_FALSE(connection->Remove(std::string("a\0b", 3)));
    EXPECT_FALSE(connection->GetFile("a\nb", (temp / "x").string()));
    connection->Close();
    for (const auto& command : server.commands())
        EXPECT_TRUE(command == "USER tas" || command == "PASS secret" || command == "QUIT")
            << command;
}

} // namespace
