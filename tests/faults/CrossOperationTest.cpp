// One operation's unfinished work in the folder is never thrown away by the other: a restore
// from an unfinished backup uploaded a mix of old and new files and deleted its recovery
// file; a backup over an unfinished restore replaced the listing with the few files restored.

#include <gtest/gtest.h>

#include "Scenario.h"

using namespace faults;

namespace {

// The run failed with its recovery file in place; the server is healthy again.
void leaveUnfinished(Scenario& scenario, const char* failOption) {
    scenario.server().restart({failOption, std::to_string(scenario.transferCommand(4))});
    ASSERT_NE(scenario.run(false).exitCode, 0);
    ASSERT_TRUE(fs::exists(scenario.user().folder() / "k7.bad"));
    scenario.server().restart({});
}

TEST(CrossOperation, RestoreRefusesAnUnfinishedBackup) {
    Scenario scenario(Op::Backup, 10);
    leaveUnfinished(scenario, "--fail-retr");
    const std::string recovery = readFile(scenario.user().folder() / "k7.bad");
    const Tree server = dataTrees(scenario.server().root());

    const ProcessResult restore = scenario.user().run(Op::Restore, scenario.host(), true);
    EXPECT_EQ(restore.exitCode, 9) << printedResult(restore);
    EXPECT_NE(scenario.user().log().find("doRestore: k7.bad holds an unfinished backup"),
              std::string::npos)
        << scenario.user().log();
    EXPECT_EQ(readFile(scenario.user().folder() / "k7.bad"), recovery);
    EXPECT_EQ(dataTrees(scenario.server().root()), server);
}

TEST(CrossOperation, BackupRefusesAnUnfinishedRestoreUnlessStartedAfresh) {
    Scenario scenario(Op::Restore, 10);
    leaveUnfinished(scenario, "--fail-stor");
    const std::string recovery = readFile(scenario.user().folder() / "k7.bad");
    const std::string listing = readFile(scenario.user().folder() / "k7.lst");

    const ProcessResult resumed = scenario.user().run(Op::Backup, scenario.host(), true);
    EXPECT_EQ(resumed.exitCode, 9) << printedResult(resumed);
    EXPECT_NE(scenario.user().log().find("doBackup: k7.bad holds an unfinished restore"),
              std::string::npos)
        << scenario.user().log();
    EXPECT_EQ(readFile(scenario.user().folder() / "k7.bad"), recovery);
    EXPECT_EQ(readFile(scenario.user().folder() / "k7.lst"), listing);

    // --no-resume is the explicit choice to start afresh.
    const ProcessResult afresh = scenario.user().run(Op::Backup, scenario.host(), false);
    EXPECT_EQ(afresh.exitCode, 0) << printedResult(afresh);
    EXPECT_TRUE(
        onlyWholeFiles(dataTrees(scenario.server().root()), dataTrees(scenario.user().folder())));
    EXPECT_FALSE(fs::exists(scenario.user().folder() / "k7.bad"));
}

} // namespace
