// One refused or malformed reply, at one point of a run: the run either does the whole work
// or fails with the server's marker kept, and a run once the server is healthy again (resumed
// where a recovery file was left) completes byte-identically. Never exit 0 with less.

#include <gtest/gtest.h>

#include "Scenario.h"

using namespace faults;

namespace {

struct OneShot {
    const char* name;
    Op op;
    std::vector<std::string> switches;
    std::uint32_t code; // what the broken run ends with
    // A stale file on the server that a restore must delete.
    bool staleFile = false;
    // The broken run must not have changed anything on the server.
    bool serverUntouched = false;
};

const char* const kStale = "access2/box 0/STALE.vox";

// The server's trees, markers included, as the test compares them.
Tree serverState(const fs::path& root) {
    Tree state = dataTrees(root);
    for (const char* marker : {"safe", "safe2"}) {
        if (fs::exists(root / marker))
            state[marker] = "";
    }
    return state;
}

void expectWholeWork(Scenario& scenario, const Tree& source) {
    const fs::path root = scenario.server().root();
    switch (scenario.op()) {
    case Op::Backup:
        EXPECT_EQ(collectedFiles(scenario.user().folder()), source);
        EXPECT_FALSE(fs::exists(root / "safe"));
        break;
    case Op::Restore:
        EXPECT_EQ(dataTrees(root), source);
        EXPECT_FALSE(fs::exists(root / "safe"));
        EXPECT_FALSE(fs::exists(root / "safe2"));
        break;
    case Op::Logs:
        EXPECT_EQ(collectedFiles(scenario.user().folder()), source);
        break;
    }
}

class OneShotFault : public ::testing::TestWithParam<OneShot> {};

TEST_P(OneShotFault, WholeWorkOrAFailureAHealedRunCompletes) {
    const OneShot c = GetParam();
    Scenario scenario(c.op, 10);
    const fs::path root = scenario.server().root();
    const Tree source = c.op == Op::Logs ? logFilesOf(root) : dataTrees(root);
    if (c.staleFile)
        writeFile(root / kStale, "stale");
    const Tree before = serverState(root);
    scenario.server().restart(c.switches);

    const ProcessResult broken = scenario.run(false);
    const std::string log = scenario.user().log();
    EXPECT_EQ(broken.exitCode, exitStatusAfterLogin(c.code)) << broken.out << broken.err << log;
    scenario.expectNothingBroken();
    if (broken.exitCode == 0) {
        expectWholeWork(scenario, source);
        return;
    }
    if (c.op != Op::Logs) {
        EXPECT_TRUE(fs::exists(root / "safe")) << log;
    }
    if (c.serverUntouched) {
        EXPECT_EQ(serverState(root), before) << log;
    }

    scenario.server().restart({});
    const ProcessResult healed = scenario.run(true);
    ASSERT_EQ(healed.exitCode, 0) << healed.out << healed.err << scenario.user().log();
    expectWholeWork(scenario, source);
}

std::string code(const char* command, int number, int reply) {
    return std::string(command) + ":" + std::to_string(number) + "=" + std::to_string(reply);
}

// Commands are counted over the whole run. Backup: LIST 1 looks for the marker, 2 checks the
// path dialect, 3-6 walk access2, "access2/box 0", ST and ST/MMTA.BOX. Restore: LIST 3-8
// delete and check both trees. Log Files: LIST 1-5 list the patterns.
std::vector<OneShot> everyCase() {
    std::vector<OneShot> cases;
    const int listReplies[] = {450, 425, 550};
    for (int n = 1; n <= 6; ++n)
        cases.push_back({"", Op::Backup, {"--answer", code("LIST", n, listReplies[n % 3])}, 10});
    for (int n = 1; n <= 6; ++n)
        cases.push_back({"", Op::Backup, {"--answer", code("PWD", n, n % 2 ? 550 : 257)}, 10});
    cases.push_back({"", Op::Backup, {"--answer", code("PORT", 1, 500)}, 10, false, true});
    // A refused CWD where the walk already stands, or before a file fetched by its full path,
    // costs nothing; one that keeps the walk out of ST fails it.
    for (int n : {2, 3, 5, 9}) {
        cases.push_back(
            {"", Op::Backup, {"--answer", code("CWD", n, n % 2 ? 450 : 550)}, n == 5 ? 10u : 0u});
    }
    for (int n : {1, 11, 13})
        cases.push_back({"", Op::Backup, {"--short-retr", std::to_string(n)}, 12030});
    cases.push_back({"", Op::Backup, {"--close-on-delete", "7.1/safe"}, 2});
    cases.push_back({"AbsolutePwd", Op::Backup, {"--hostile", "pwd-absolute"}, 10, false, true});

    for (int n = 3; n <= 8; ++n)
        cases.push_back({"", Op::Restore, {"--answer", code("LIST", n, listReplies[n % 3])}, 10});
    for (int n : {1, 6, 11})
        cases.push_back({"", Op::Restore, {"--answer", code("DELE", n, 550)}, 10});
    for (int n : {2, 4})
        cases.push_back({"", Op::Restore, {"--answer", code("CWD", n, 550)}, 10});
    cases.push_back({"", Op::Restore, {"--answer", code("RMD", 1, 550)}, 10});
    cases.push_back({"", Op::Restore, {"--answer", code("MKD", 1, 550)}, 12003});
    cases.push_back({"StaleFileKept",
                     Op::Restore,
                     {"--refuse-delete", "7.0/" + std::string(kStale)},
                     10,
                     true});
    cases.push_back({"", Op::Restore, {"--close-on-delete", "7.1/safe"}, 2});
    cases.push_back({"", Op::Restore, {"--close-on-delete", "7.1/safe2"}, 2});
    cases.push_back({"AbsolutePwd", Op::Restore, {"--hostile", "pwd-absolute"}, 10, true, true});

    for (int n = 1; n <= 5; ++n)
        cases.push_back({"", Op::Logs, {"--answer", code("LIST", n, listReplies[n % 3])}, 10});
    for (int n = 1; n <= 4; ++n)
        cases.push_back({"", Op::Logs, {"--answer", code("PWD", n, n % 2 ? 550 : 257)}, 10});
    for (int n : {1, 2, 6})
        cases.push_back({"", Op::Logs, {"--answer", code("CWD", n, n % 2 ? 550 : 450)}, 10});
    cases.push_back({"", Op::Logs, {"--short-retr", "2"}, 12030});
    cases.push_back({"AbsolutePwd", Op::Logs, {"--hostile", "pwd-absolute"}, 0});
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<OneShot>& info) {
    const OneShot& c = info.param;
    std::string name = opName(c.op);
    name[0] = static_cast<char>(std::toupper(name[0]));
    if (*c.name)
        return name + "_" + c.name;
    std::string fault = c.switches.front().substr(2) + "_" + c.switches.back();
    for (char& ch : fault) {
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    }
    return name + "_" + fault;
}

INSTANTIATE_TEST_SUITE_P(Faults, OneShotFault, ::testing::ValuesIn(everyCase()), caseName);

} // namespace
