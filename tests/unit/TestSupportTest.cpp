// The test harness itself: if the fixture or the helpers lie, every other test lies with them.

#include "support/TestSupport.h"
#include "support/FtpTestServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Just enough FTP over a raw socket to see what the server answers.
class RawControl {
  public:
    RawControl(const std::string& address, int port) {
        const bool v6 = address.find(':') != std::string::npos;
        m_fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        timeval timeout{5, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_storage storage{};
        socklen_t length;
        if (v6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(static_cast<uint16_t>(port));
            inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
            length = sizeof *in6;
        } else {
            auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
            in4->sin_family = AF_INET;
            in4->sin_port = htons(static_cast<uint16_t>(port));
            inet_pton(AF_INET, address.c_str(), &in4->sin_addr);
            length = sizeof *in4;
        }
        m_connected = connect(m_fd, reinterpret_cast<sockaddr*>(&storage), length) == 0;
    }
    ~RawControl() { close(m_fd); }
    RawControl(const RawControl&) = delete;
    RawControl& operator=(const RawControl&) = delete;

    bool connected() const { return m_connected; }

    // The last line of the next reply, or "" when the connection ends first.
    std::string reply() {
        std::string line;
        while (true) {
            line = readLine();
            if (line.size() < 4 || line[3] != '-') {
                return line;
            }
        }
    }
    std::string command(const std::string& text) {
        const std::string line = text + "\r\n";
        (void)!send(m_fd, line.data(), line.size(), MSG_NOSIGNAL);
        return reply();
    }

  private:
    std::string readLine() {
        std::string line;
        char c;
        while (recv(m_fd, &c, 1, 0) == 1) {
            if (c == '\n') {
                return line;
            }
            if (c != '\r') {
                line += c;
            }
        }
        return line;
    }

    int m_fd = -1;
    bool m_connected = false;
};

std::string loginAndPwd(const FtpTestServer& server, const std::string& address = "127.0.0.1") {
    RawControl control(address, server.port());
    control.reply();
    control.command("USER tas");
    control.command("PASS ulm D-XI");
    return control.command("PWD");
}

bool ipv6LoopbackAvailable() {
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

} // namespace

TEST(FtpTestServerFixture, ServesAFreshRootOnAFreePortAndRemovesIt) {
    fs::path root;
    {
        FtpTestServer server;
        root = server.root();
        EXPECT_GT(server.port(), 0);
        EXPECT_TRUE(fs::is_directory(root));
        EXPECT_TRUE(fs::is_empty(root)) << "the port file must not show up in the served folder";
        EXPECT_EQ(server.hostEntry(), "127.0.0.1:" + std::to_string(server.port()));
        RawControl control("127.0.0.1", server.port());
        EXPECT_EQ(control.reply(), "220 Velmora test server ready.");
        EXPECT_EQ(loginAndPwd(server), "257 \"/\" is the current directory.");
    }
    EXPECT_FALSE(fs::exists(root));
}

TEST(FtpTestServerFixture, KeepsAGivenRoot) {
    TempDir dir;
    const fs::path root = dir / "served";
    {
        FtpTestServer::Options options;
        options.root = root;
        FtpTestServer server(options);
        EXPECT_EQ(server.root(), root);
    }
    EXPECT_TRUE(fs::is_directory(root));
}

TEST(FtpTestServerFixture, StopAndRestartKeepPortRootAndTakeNewFaults) {
    FtpTestServer server;
    const int port = server.port();
    RawControl idle("127.0.0.1", port); // an open client must not keep the port busy
    server.stop();
    RawControl refused("127.0.0.1", port);
    EXPECT_FALSE(refused.connected());

    server.restart();
    EXPECT_EQ(server.port(), port);
    EXPECT_EQ(loginAndPwd(server).substr(0, 3), "257");

    server.restart({"--fail-pwd"});
    EXPECT_EQ(server.port(), port);
    EXPECT_EQ(loginAndPwd(server).substr(0, 3), "550");
}

TEST(FtpTestServerFixture, ReportsAServerThatCannotStart) {
    FtpTestServer::Options options;
    options.faults = {"--no-such-switch"};
    try {
        FtpTestServer server(options);
        FAIL() << "a server with an unknown switch started";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("--no-such-switch"), std::string::npos)
            << error.what();
    }
}

TEST(FtpTestServerFixture, ListensOnIpv6Loopback) {
    if (!ipv6LoopbackAvailable()) {
        GTEST_SKIP() << "no ::1 on this machine";
    }
    FtpTestServer::Options options;
    options.bindAddress = "::1";
    FtpTestServer server(options);
    EXPECT_EQ(server.hostEntry(), "[::1]:" + std::to_string(server.port()));
    EXPECT_EQ(loginAndPwd(server, "::1").substr(0, 3), "257");
}

TEST(RunProcess, CapturesOutputExitCodeAndEnvironment) {
    const ProcessResult result =
        runProcess({"/bin/sh", "-c", "echo out; echo err >&2; echo \"$QEL_PROBE\"; exit 7"},
                   {{"QEL_PROBE", "probe value"}}, 10s);
    EXPECT_EQ(result.exitCode, 7);
    EXPECT_EQ(result.signal, 0);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.out, "out\nprobe value\n");
    EXPECT_EQ(result.err, "err\n");
}

TEST(RunProcess, CapturesLargeOutputOnBothStreams) {
    const ProcessResult result = runProcess(
        {"/bin/sh", "-c", "head -c 3000000 /dev/zero; head -c 3000000 /dev/zero >&2"}, {}, 20s);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.size(), 3000000u);
    EXPECT_EQ(result.err.size(), 3000000u);
}

TEST(RunProcess, KillsAProcessAndItsChildrenAtTheTimeout) {
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult result =
        runProcess({"/bin/sh", "-c", "sleep 30 & sleep 30; echo never"}, {}, 300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(result.signal, SIGKILL);
    EXPECT_EQ(result.out, "");
}

TEST(RunProcess, ReportsAProgramThatCannotBeStarted) {
    const ProcessResult result = runProcess({"/nonexistent/qel-program"}, {}, 10s);
    EXPECT_EQ(result.exitCode, 127);
    EXPECT_NE(result.err.find("/nonexistent/qel-program"), std::string::npos);
}

TEST(SampleServerTree, IsDeterministicAndHasWhatTheOperationsNeed) {
    TempDir first;
    TempDir second;
    SampleTreeOptions options;
    options.largeFileBytes = 100000;
    makeSampleServerTree(first.path(), options);
    makeSampleServerTree(second.path(), options);
    const auto files = snapshotTree(first.path());
    EXPECT_EQ(files, snapshotTree(second.path()));

    int mailboxFiles = 0;
    bool emptyFile = false;
    bool blankInName = false;
    for (const auto& [path, content] : files) {
        if (path.starts_with("access2/")) {
            ++mailboxFiles;
            emptyFile = emptyFile || content.empty();
            blankInName = blankInName || path.find(' ') != std::string::npos;
        }
    }
    EXPECT_EQ(mailboxFiles, options.mailboxFiles);
    EXPECT_TRUE(emptyFile);
    EXPECT_TRUE(blankInName);
    for (const char* required :
         {"ST/syscfg.dat", "ST/SYSDIR.DAT", "ST/MMTA.BOX/MBxProf.001", "safe"}) {
        EXPECT_TRUE(files.contains(required)) << required;
    }
    EXPECT_EQ(files.at("ST/VOICE.DAT").size(), options.largeFileBytes);
    EXPECT_FALSE(files.contains("safe2"));
    EXPECT_FALSE(files.contains("LOGS/trace1.log"));
    EXPECT_TRUE(fs::is_empty(first / "access2/103/messages/new"));
}

TEST(SampleServerTree, OptionsAddMarkersAndLogsAndChangeContent) {
    TempDir plain;
    TempDir varied;
    SampleTreeOptions options;
    options.largeFileBytes = 1000;
    makeSampleServerTree(plain.path(), options);
    options.safeMarker = false;
    options.restoreMarker = true;
    options.logFiles = true;
    options.seed = 2;
    makeSampleServerTree(varied.path(), options);
    const auto files = snapshotTree(varied.path());
    EXPECT_FALSE(files.contains("safe"));
    EXPECT_TRUE(files.contains("safe2"));
    for (const char* log : {"access2/calls.txt", "ST/boot.out", "ST/system.log",
                            "ST/f983wui/web.log", "LOGS/trace1.log", "LOGS/old/trace0.log"}) {
        EXPECT_TRUE(files.contains(log)) << log;
    }
    EXPECT_NE(files.at("ST/syscfg.dat"), snapshotTree(plain.path()).at("ST/syscfg.dat"));
}

TEST(TempDirTest, RemovesEverythingEvenReadOnlyFolders) {
    fs::path path;
    {
        TempDir dir;
        path = dir.path();
        writeFile(dir / "locked/inner/file.dat", "bytes");
        EXPECT_EQ(readFile(dir / "locked/inner/file.dat"), "bytes");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST(FileHelpers, FailuresThrow) {
    TempDir dir;
    EXPECT_THROW(readFile(dir / "missing"), std::runtime_error);
    writeFile(dir / "plain", "x");
    EXPECT_THROW(writeFile(dir / "plain/child", "y"), std::runtime_error);
}
