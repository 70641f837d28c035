// Transfers are byte-exact and a download never leaves anything but the finished file.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>

#include "ServerLogin.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string everyByteValue() {
    std::string bytes;
    for (int round = 0; round < 3; ++round)
        for (int value = 0; value < 256; ++value)
            bytes += static_cast<char>(value);
    // Line ends in all forms: a transfer in ASCII mode would change them.
    return bytes + "\r\n\n\r\r\n";
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const auto word = generator();
        std::memcpy(&bytes[i], &word, 8);
    }
    return bytes;
}

// In one read: the shared helper's character-by-character read takes seconds for 50 MB.
std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes(fs::file_size(file), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

class ServerTransfer : public testing::TestWithParam<const char*> {
  protected:
    ServerTransfer() : server(FtpTestServer::Options{{}, GetParam(), {}}) {
        connection = loginTo(session, server);
    }

    // Names in the local folder other than the expected ones: temporary files left behind.
    std::vector<std::string> strays(const std::vector<std::string>& expected) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(local.path())) {
            const auto name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end())
                names.push_back(name);
        }
        return names;
    }

    FtpTestServer server;
    CInternetSession session;
    std::unique_ptr<CFtpConnection> connection;
    TempDir local;
};

TEST_P(ServerTransfer, RoundTripsEveryByteExactly) {
    const std::vector<std::pair<std::string, std::string>> files{
        {"every-byte.bin", everyByteValue()},
        {"empty.bin", ""},
        {"large.bin", randomBytes(50u << 20, 7)}};
    for (const auto& [name, bytes] : files) {
        writeFile(local / name, bytes);
        ASSERT_TRUE(connection->PutFile((local / name).string(), "7.0/" + name)) << name;
        EXPECT_TRUE(contentOf(server.root() / name) == bytes) << name;
        fs::remove(local / name);
        ASSERT_TRUE(connection->GetFile("7.0/" + name, (local / name).string())) << name;
        EXPECT_TRUE(contentOf(local / name) == bytes) << name;
    }
    EXPECT_TRUE(strays({"every-byte.bin", "empty.bin", "large.bin"}).empty());
}

TEST_P(ServerTransfer, DownloadReplacesAnExistingFile) {
    writeFile(server.root() / "f.dat", "new");
    writeFile(local / "f.dat", "old content that is longer");
    ASSERT_TRUE(connection->GetFile("7.0/f.dat", (local / "f.dat").string()));
    EXPECT_EQ(readFile(local / "f.dat"), "new");
    EXPECT_EQ(fs::status(local / "f.dat").permissions() & fs::perms::owner_read,
              fs::perms::owner_read);
    EXPECT_TRUE(strays({"f.dat"}).empty());
}

TEST_P(ServerTransfer, LocalFailuresGiveTheSystemCodeAndTouchNothing) {
    writeFile(server.root() / "f.dat", "data");
    EXPECT_FALSE(connection->GetFile("7.0/f.dat", (local / "no such dir" / "f.dat").string()));
    EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));
    fs::create_directory(local / "taken");
    EXPECT_FALSE(connection->GetFile("7.0/f.dat", (local / "taken").string()));
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_TRUE(fs::is_directory(local / "taken"));
    EXPECT_TRUE(strays({"taken"}).empty());
    // The connection is still in step with the server.
    ASSERT_TRUE(connection->GetFile("7.0/f.dat", (local / "f.dat").string()));
}

// A full disk shows as a failed write; a file size limit produces the same failure.
TEST_P(ServerTransfer, WriteFailureMidDownloadKeepsTheOldFile) {
    writeFile(server.root() / "big.dat", randomBytes(4u << 20, 3));
    writeFile(local / "big.dat", "previous");
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit original{};
    getrlimit(RLIMIT_FSIZE, &original);
    rlimit limited = original;
    limited.rlim_cur = 1u << 20;
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool downloaded = connection->GetFile("7.0/big.dat", (local / "big.dat").string());
    const auto code = GetLastError();
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(downloaded);
    EXPECT_EQ(code, static_cast<std::uint32_t>(EFBIG));
    EXPECT_EQ(readFile(local / "big.dat"), "previous");
    EXPECT_TRUE(strays({"big.dat"}).empty());
    std::string directory;
    EXPECT_TRUE(connection->GetCurrentDirectory(directory));
}

INSTANTIATE_TEST_SUITE_P(Families, ServerTransfer, testing::Values("127.0.0.1", "::1"),
                         [](const auto& info) {
                             return std::string(info.param) == "::1" ? "IPv6" : "IPv4";
                         });

} // namespace
