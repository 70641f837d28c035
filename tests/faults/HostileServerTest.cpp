// A hostile or broken server: listing names that try to leave the local folder, names with
// control characters or longer than any path, replies of megabytes, replies without a line
// end, binary garbage, and a current directory the client never asked for. Each run ends
// with a clean result and writes nothing outside the local folder.

#include <cerrno>
#include <gtest/gtest.h>

#include "Scenario.h"

using namespace faults;

namespace {

struct HostileCase {
    const char* name;
    std::vector<std::string> switches;
    std::uint32_t code; // what the backup ends with
    const char* message;
};

// Everything the run wrote is in the user's home, in its expected places.
void expectNothingOutside(const QelUser& user) {
    std::vector<std::string> allowed = {"config", "local", "qel.log", "state"};
    for (const auto& name : entriesOf(user.home())) {
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end())
            << name << " appeared beside the local folder";
    }
    for (const char* escape : {"escape.dat", "evil.dat", "qel-escape", "sub"}) {
        EXPECT_FALSE(fs::exists(user.home() / escape)) << escape;
        EXPECT_FALSE(fs::exists(user.home().parent_path() / escape)) << escape;
    }
}

class HostileServer : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileServer, BackupEndsCleanlyInsideTheFolder) {
    const HostileCase c = GetParam();
    Scenario scenario(Op::Backup, 10);
    const Tree source = dataTrees(scenario.server().root());
    scenario.server().restart(c.switches);

    const ProcessResult result = scenario.run(false);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0);
    // A greeting that never ends is a server never reached: 2, not a failure after the login.
    const bool beforeLogin = std::string(c.message).starts_with("Cannot connect");
    EXPECT_EQ(result.exitCode, beforeLogin ? 2 : exitStatusAfterLogin(c.code))
        << result.out << result.err << scenario.user().log();
    EXPECT_NE(printedResult(result).find(c.message), std::string::npos) << printedResult(result);
    expectNothingOutside(scenario.user());
    scenario.expectNothingBroken();
    if (c.code == 0) {
        EXPECT_EQ(collectedFiles(scenario.user().folder()), source);
    }
    if (const auto recovery = readRecoveryFile(scenario.user().folder() / "k7.bad")) {
        EXPECT_TRUE(recovery->whole);
    }
    // The server's trees are only read.
    EXPECT_EQ(dataTrees(scenario.server().root()), source);
    // Only a backup that has every file may tell the server it is done.
    EXPECT_EQ(fs::exists(scenario.server().root() / "safe"), c.code != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HostileServer,
    ::testing::Values(
        HostileCase{"NamesThatClimbOrHoldSeparators",
                    {"--hostile", "list-escape"},
                    0,
                    "Operation completed successfully."},
        // A directory that cannot be entered cuts the listing short: nothing is copied.
        HostileCase{"NamesWithControlCharactersOrTooLong",
                    {"--hostile", "list-control"},
                    10,
                    "Communication problem encountered with site "},
        HostileCase{"MultiLineGreeting",
                    {"--hostile", "multiline"},
                    0,
                    "Operation completed successfully."},
        HostileCase{"ReplyOfMegabytes",
                    {"--hostile", "huge-reply"},
                    2,
                    "Communication problem encountered with site "},
        // Never idle, never done: the whole reply has to arrive within the timeout.
        HostileCase{"ReplyTrickledForEver", {"--hostile", "trickle"}, 2, "Cannot connect to site "},
        HostileCase{"ReplyWithoutLineEnd",
                    {"--hostile", "pwd-no-eol"},
                    2,
                    "Communication problem encountered with site "},
        HostileCase{"BinaryGarbageReply",
                    {"--hostile", "pwd-garbage"},
                    2,
                    "Communication problem encountered with site "},
        // No current directory is no empty tree: nothing is copied and the marker stays.
        HostileCase{"UnquotedDirectory",
                    {"--hostile", "pwd-unquoted"},
                    10,
                    "Communication problem encountered with site "},
        // The server's path dialect is not confirmed: no tree is walked.
        HostileCase{"DirectoryNotAskedFor",
                    {"--hostile", "pwd-elsewhere"},
                    10,
                    "Communication problem encountered with site "}),
    [](const auto& info) { return std::string(info.param.name); });

// A server that cannot say where it stands has not shown an empty log folder.
TEST(HostileNames, LogsFromAServerThatCannotReportItsDirectory) {
    Scenario scenario(Op::Logs, 0);
    scenario.server().restart({"--hostile", "pwd-unquoted"});
    const ProcessResult result = scenario.run(false);
    EXPECT_EQ(result.exitCode, 10) << result.out << result.err << scenario.user().log();
    EXPECT_NE(result.err.find("Communication problem encountered with site " + scenario.host()),
              std::string::npos)
        << result.err;
    EXPECT_NE(scenario.user().log().find("the server did not report its current directory"),
              std::string::npos);
    expectNothingOutside(scenario.user());
}

// A tree that keeps producing new directories was walked without bound (its memory grew
// about 1 MB/s). A tree deeper than any real one stops the walk with a clear failure and
// nothing copied.
TEST(HostileNames, TreeDeeperThanAnyRealOne) {
    Scenario scenario(Op::Backup, 3);
    fs::path deep = scenario.server().root() / "access2";
    for (std::size_t level = 0; level <= 70; ++level)
        deep /= "d";
    writeFile(deep / "bottom.vox", "deep");
    const ProcessResult result = scenario.run(false);
    EXPECT_EQ(result.exitCode, 10) << result.out << result.err << scenario.user().log();
    EXPECT_NE(scenario.user().log().find(": deeper than 64 folders"), std::string::npos)
        << scenario.user().log();
    EXPECT_EQ(collectedFiles(scenario.user().folder()), Tree());
    EXPECT_TRUE(fs::exists(scenario.server().root() / "safe"));
}

// A server that answers every PWD with "/" (or "/.ssh") made the log download store its log
// folder's files at the top of the local folder: a planted "k7.lst" then steered the next
// restore. The manager now checks each reply against the directory it entered.
TEST(HostileNames, LogsFromAServerThatNamesAnotherDirectory) {
    for (const char* pwd : {"/", "/.ssh"}) {
        SCOPED_TRACE(pwd);
        Scenario scenario(Op::Logs, 0);
        for (const char* name : {"k7.lst", ".profile", "authorized_keys"})
            writeFile(scenario.server().root() / "LOGS" / name, "planted");
        scenario.server().restart({"--pwd-says", pwd});
        const ProcessResult result = scenario.run(false);
        EXPECT_EQ(result.exitCode, 10) << result.out << result.err << scenario.user().log();
        EXPECT_NE(scenario.user().log().find("the server reported " + std::string(pwd) + " "),
                  std::string::npos)
            << scenario.user().log();
        EXPECT_EQ(entriesOf(scenario.user().folder()), std::vector<std::string>());
        expectNothingOutside(scenario.user());
    }
}

// Real files whose names hold control characters and blanks are copied like any other, in
// both directions. So is one named like the temporary file of another file's download: that
// download once removed it as a leftover, the backup still ended as a success, and every
// restore from the folder then refused the listing.
TEST(HostileNames, ControlCharactersInRealNamesRoundTrip) {
    Scenario scenario(Op::Backup, 3);
    writeFile(scenario.server().root() / "access2" / "box 0" / ".M1001.vox.qel-part-abc123",
              "a real file");
    writeFile(scenario.server().root() / "access2" / "box 0" / "tab\tname.vox", "tab");
    writeFile(scenario.server().root() / "access2" / "box 0" / "esc\x1b[31mred.vox", "escape");
    writeFile(scenario.server().root() / "access2" / "bell\x07 box" / "x.vox", "bell");
    const Tree source = dataTrees(scenario.server().root());

    const ProcessResult backup = scenario.run(false);
    ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err << scenario.user().log();
    EXPECT_EQ(collectedFiles(scenario.user().folder()), source);

    fs::remove_all(scenario.server().root() / "access2");
    writeFile(scenario.server().root() / "safe", "");
    const ProcessResult restore = scenario.user().run(Op::Restore, scenario.host(), false);
    ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err << scenario.user().log();
    EXPECT_EQ(dataTrees(scenario.server().root()), source);
    expectNothingOutside(scenario.user());
}

} // namespace
