// A hostile or broken server: listing names that try to leave the local folder, names with
// control characters or longer than any path, replies of megabytes, replies without a line
// end, binary garbage, and a current directory the client never asked for. Each run ends
// with a clean result and writes nothing outside the local folder.

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
    EXPECT_EQ(result.exitCode, c.code <= 125 ? static_cast<int>(c.code) : 1)
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
        HostileCase{"ReplyOfMegabytes", {"--hostile", "huge-reply"}, 2, "Cannot connect to site "},
        HostileCase{
            "ReplyWithoutLineEnd", {"--hostile", "pwd-no-eol"}, 2, "Cannot connect to site "},
        HostileCase{
            "BinaryGarbageReply", {"--hostile", "pwd-garbage"}, 2, "Cannot connect to site "},
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

// Real files whose names hold control characters and blanks are copied like any other, in
// both directions.
TEST(HostileNames, ControlCharactersInRealNamesRoundTrip) {
    Scenario scenario(Op::Backup, 3);
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
