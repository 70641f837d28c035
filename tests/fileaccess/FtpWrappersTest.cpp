#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RemoteFixture.h"
#include "fileaccess/FtpWrappers.h"

namespace fs = std::filesystem;

namespace {

class FtpWrappers : public RemoteFixture {
  protected:
    void SetUp() override {}

    void startWithFiles(std::vector<std::string> faults = {}) {
        startServer(std::move(faults));
        serverFile("safe", "");
        serverFile("access2/a/b.dat", "payload");
    }

    bool existsOnServer(const std::string& path) {
        bool isDirectory = false;
        std::string failure;
        return RemoteLookUp(connection(), path, isDirectory, failure) == FindOutcome::Found;
    }

    TempDir m_local;
};

TEST_F(FtpWrappers, TransfersGiveZeroOrTen) {
    startWithFiles();
    const std::string local = (m_local / "b.dat").string();
    EXPECT_EQ(RemoteGetFile(connection(), "7.0/access2/a/b.dat", local), 0);
    EXPECT_EQ(readFile(local), "payload");
    EXPECT_EQ(RemoteGetFile(connection(), "7.0/access2/a/missing.dat", local), 10);
    EXPECT_EQ(readFile(local), "payload");

    EXPECT_EQ(RemotePutFile(connection(), local, "7.0/access2/a/copy.dat"), 0);
    EXPECT_EQ(readFile(onServer("access2/a/copy.dat")), "payload");
    EXPECT_EQ(RemotePutFile(connection(), (m_local / "absent").string(), "7.0/access2/x"), 10);
    EXPECT_EQ(RemotePutFile(connection(), local, "7.0/nodir/copy.dat"), 10);
}

TEST_F(FtpWrappers, FileExistsAcceptsEitherSeparatorAndTrailingOnes) {
    startWithFiles();
    struct Row {
        std::string path;
        bool exists;
    };
    const std::vector<Row> rows = {
        {"7.1/safe", true},         {"7.1\\safe", true},  {"7.0\\access2\\a\\b.dat", true},
        {"/access2/a/b.dat", true}, {"7.1/safe2", false}, {"7.0/access2/a/none.dat", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(existsOnServer(row.path), row.exists) << row.path;
}

TEST_F(FtpWrappers, CreateEmptyFile) {
    startWithFiles();
    EXPECT_EQ(RemoteCreateEmptyFile(connection(), "7.1\\safe2"), 0);
    EXPECT_TRUE(fs::is_regular_file(onServer("safe2")));
    EXPECT_EQ(fs::file_size(onServer("safe2")), 0u);
    EXPECT_TRUE(existsOnServer("7.1/safe2"));
}

TEST_F(FtpWrappers, CreateEmptyFileWhoseUploadIsNotConfirmedGivesOne) {
    startWithFiles({"--drop-data-stor", "1"});
    EXPECT_EQ(RemoteCreateEmptyFile(connection(), "7.1/safe2"), 1);
}

TEST_F(FtpWrappers, RefusedCreationReachesTheCaller) {
    startWithFiles({"--fail-stor", "1"});
    EXPECT_THROW(RemoteCreateEmptyFile(connection(), "7.1/safe2"), CInternetException);
}

} // namespace
