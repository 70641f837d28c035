#include <gtest/gtest.h>

#include "OperationHarness.h"
#include "support/FtpTestServer.h"

using namespace ops_test;

namespace {

// Runs qel as a user would, isolated in its own configuration and state folders.
ProcessResult qel(const TempDir& home, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{qelBinary().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProcess(argv,
                      {{"XDG_CONFIG_HOME", (home / "config").string()},
                       {"XDG_STATE_HOME", (home / "state").string()}},
                      std::chrono::seconds(120));
}

std::map<std::string, std::string> dataTrees(const fs::path& root) {
    std::map<std::string, std::string> data;
    for (const char* tree : {"access2", "ST"})
        for (const auto& [path, bytes] : snapshotIfPresent(root / tree))
            data[std::string(tree) + "/" + path] = bytes;
    return data;
}

} // namespace

TEST(QelEndToEnd, BackupThenRestoreAsProcesses) {
    FtpTestServer server;
    makeSampleServerTree(server.root(), sampleTree(25, 2u << 20));
    const auto original = dataTrees(server.root());
    TempDir home;
    const fs::path folder = home / "backup";
    fs::create_directories(folder);
    const std::vector<std::string> common{"--host",
                                          server.hostEntry(),
                                          "--folder",
                                          folder.string(),
                                          "--pause-scale",
                                          "0",
                                          "--no-resume",
                                          "--log",
                                          (home / "qel.log").string(),
                                          "--debug-level",
                                          "2"};

    std::vector<std::string> backup{"backup"};
    backup.insert(backup.end(), common.begin(), common.end());
    const ProcessResult backedUp = qel(home, backup);
    ASSERT_EQ(backedUp.exitCode, 0) << backedUp.out << backedUp.err;
    EXPECT_EQ(dataTrees(folder), original);
    EXPECT_TRUE(fs::exists(folder / "k7.lst"));
    EXPECT_FALSE(fs::exists(server.root() / "safe"));

    fs::remove_all(server.root() / "access2");
    putFile(server.root() / "ST" / "syscfg.extra", "left over");
    putFile(server.root() / "safe", "");
    std::vector<std::string> restore{"restore"};
    restore.insert(restore.end(), common.begin(), common.end());
    const ProcessResult restored = qel(home, restore);
    ASSERT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    EXPECT_EQ(dataTrees(server.root()), original);
    EXPECT_FALSE(fs::exists(server.root() / "safe"));
    EXPECT_FALSE(fs::exists(server.root() / "safe2"));
    EXPECT_FALSE(fs::exists(folder / "k7.bad"));
    const std::string log = readFile(home / "qel.log");
    EXPECT_NE(log.find("doBackup " + std::to_string(original.size()) + " files\n"),
              std::string::npos);
    EXPECT_NE(log.find("doRestore " + std::to_string(original.size()) + " files\n"),
              std::string::npos);
}

TEST(QelEndToEnd, AFailedRestoreExitsWithItsCodeAndResumes) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 30, 3);
    const auto original = dataTrees(server.root());
    TempDir home;
    const fs::path folder = home / "backup";
    fs::create_directories(folder);
    const std::vector<std::string> where{"--host",        server.hostEntry(), "--folder",
                                         folder.string(), "--pause-scale",    "0"};
    auto command = [&](const std::string& operation, const std::string& resume) {
        std::vector<std::string> arguments{operation};
        arguments.insert(arguments.end(), where.begin(), where.end());
        arguments.push_back(resume);
        return qel(home, arguments);
    };
    ASSERT_EQ(command("backup", "--no-resume").exitCode, 0);
    putFile(server.root() / "safe", "");
    server.restart({"--fail-stor", "7"});

    const ProcessResult failed = command("restore", "--no-resume");
    // A refused transfer is a communication failure; the message names the detailed code.
    EXPECT_EQ(failed.exitCode, 10) << failed.out << failed.err;
    EXPECT_NE((failed.out + failed.err).find("12003"), std::string::npos)
        << failed.out << failed.err;
    EXPECT_TRUE(fs::exists(folder / "k7.bad"));

    server.restart({});
    const ProcessResult resumed = command("restore", "--resume");
    EXPECT_EQ(resumed.exitCode, 0) << resumed.out << resumed.err;
    EXPECT_EQ(dataTrees(server.root()), original);
    EXPECT_FALSE(fs::exists(folder / "k7.bad"));
}
