// Server-side faults at the first file, in the middle, at the last file and around the first
// checkpoint, for each operation: the failed run reports the fault and leaves a recovery file
// that lists exactly what is left; the resumed run fetches or sends only that and finishes.

#include <gtest/gtest.h>

#include "Scenario.h"

using namespace faults;

namespace {

enum class Fault {
    Answer550,     // RETR/STOR refused
    DropData,      // data connection closed half-way, 426
    DropControl,   // control and data connections dropped half-way
    StallData,     // data stops half-way and stays open until the timeout
    StallCommand,  // RETR/STOR never answered
    RefuseLogin,   // the next connection greeted with 421
    StallLogin,    // the next connection's USER never answered
    LostDirectory, // PWD fails from this file on: the server cannot say where it stands
};

enum class At { First, Middle, Last, FirstAfterCheckpoint, CheckpointReconnect };

struct Case {
    Op op;
    Fault fault;
    At at;
};

const char* faultName(Fault fault) {
    switch (fault) {
    case Fault::Answer550:
        return "Answer550";
    case Fault::DropData:
        return "DropData";
    case Fault::DropControl:
        return "DropControl";
    case Fault::StallData:
        return "StallData";
    case Fault::StallCommand:
        return "StallCommand";
    case Fault::RefuseLogin:
        return "RefuseLogin";
    case Fault::StallLogin:
        return "StallLogin";
    case Fault::LostDirectory:
        return "LostDirectory";
    }
    return "?";
}

const char* atName(At at) {
    switch (at) {
    case At::First:
        return "First";
    case At::Middle:
        return "Middle";
    case At::Last:
        return "Last";
    case At::FirstAfterCheckpoint:
        return "AfterCheckpoint";
    case At::CheckpointReconnect:
        return "InCheckpoint";
    }
    return "?";
}

bool needsCheckpoint(At at) {
    return at == At::FirstAfterCheckpoint || at == At::CheckpointReconnect;
}

int fileAt(At at, int count) {
    switch (at) {
    case At::First:
        return 1;
    case At::Middle:
        return (count + 1) / 2;
    case At::Last:
        return count;
    case At::FirstAfterCheckpoint:
    case At::CheckpointReconnect:
        return 101;
    }
    return 1;
}

// The PWDs a run has sent before it asks where it stands for `file`, on the tree of ten
// mailbox files: one checks the server's path dialect; then a backup walks its trees with ten
// (one per directory visit) and starts its loop at "/"; a restore deletes the server's trees
// with ten.
int pwdsBefore(Op op, int file) {
    return 1 + (op == Op::Backup ? 11 : 10) + file - 1;
}

std::vector<std::string> switchesFor(const Scenario& scenario, Fault fault, At at, int file) {
    const bool upload = scenario.op() == Op::Restore;
    const std::string transfer = std::to_string(scenario.transferCommand(file));
    const int logins = at == At::CheckpointReconnect ? scenario.loginsBeforeFirstCheckpoint()
                                                     : scenario.loginsBefore(file);
    switch (fault) {
    case Fault::Answer550:
        return {upload ? "--fail-stor" : "--fail-retr", transfer};
    case Fault::DropData:
        return {upload ? "--drop-data-stor" : "--drop-data-retr", transfer};
    case Fault::DropControl:
        return {upload ? "--drop-control-stor" : "--drop-control-retr", transfer};
    case Fault::StallData:
        return {upload ? "--stall-data-stor" : "--stall-data-retr", transfer};
    case Fault::StallCommand:
        return {"--stall-command", (upload ? "STOR:" : "RETR:") + transfer};
    case Fault::RefuseLogin:
        return {"--max-logins", std::to_string(logins)};
    case Fault::StallLogin:
        return {"--stall-command", "USER:" + std::to_string(logins + 1)};
    case Fault::LostDirectory:
        return {"--fail-pwd-after", std::to_string(pwdsBefore(scenario.op(), file) + 1)};
    }
    return {};
}

// What each fault must end with, as the user and the operation log see it.
Outcome outcomeOf(Fault fault, Op op, const std::string& host) {
    const std::string communication = "Communication problem encountered with site " + host;
    const std::string failed = communication + " while moving ";
    switch (fault) {
    case Fault::Answer550:
        return transferFailure(op, 12003, failed);
    case Fault::DropData:
        return transferFailure(op, 12030, failed);
    case Fault::DropControl:
        return transferFailure(op, 12030, failed);
    case Fault::StallData:
    case Fault::StallCommand:
        return transferFailure(op, 12002, communication);
    case Fault::RefuseLogin:
        return connectionFailure(host, "The server returned an error: 421 Too many logins");
    case Fault::StallLogin:
        return connectionFailure(host, "The operation timed out");
    case Fault::LostDirectory:
        return {2, failed, "the server did not report its current directory before "};
    }
    return {};
}

class TransferFault : public ::testing::TestWithParam<Case> {};

TEST_P(TransferFault, LeavesWhatIsLeftAndResumes) {
    const Case c = GetParam();
    Scenario scenario(c.op, needsCheckpoint(c.at) ? 110 : 10);
    const int file = fileAt(c.at, scenario.fileCount());
    scenario.server().restart(switchesFor(scenario, c.fault, c.at, file));

    const ProcessResult failed = scenario.run(false);
    scenario.expectFailure(failed, outcomeOf(c.fault, c.op, scenario.host()), file);
    scenario.expectResumeCompletes(scenario.fileCount() - file + 1);
}

std::vector<Case> everyCase() {
    std::vector<Case> cases;
    for (Op op : {Op::Backup, Op::Restore, Op::Logs})
        for (Fault fault : {Fault::Answer550, Fault::DropData, Fault::DropControl, Fault::StallData,
                            Fault::StallCommand, Fault::RefuseLogin, Fault::StallLogin})
            for (At at : {At::First, At::Middle, At::Last})
                cases.push_back({op, fault, at});
    // The log tree is too small for a checkpoint; its loop is the backup's.
    for (Op op : {Op::Backup, Op::Restore}) {
        for (At at : {At::First, At::Middle, At::Last})
            cases.push_back({op, Fault::LostDirectory, at});
        cases.push_back({op, Fault::DropData, At::FirstAfterCheckpoint});
        cases.push_back({op, Fault::RefuseLogin, At::CheckpointReconnect});
        cases.push_back({op, Fault::StallLogin, At::CheckpointReconnect});
    }
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    std::string op = opName(c.op);
    op[0] = static_cast<char>(std::toupper(op[0]));
    return op + "_" + faultName(c.fault) + "_" + atName(c.at);
}

INSTANTIATE_TEST_SUITE_P(Faults, TransferFault, ::testing::ValuesIn(everyCase()), caseName);

} // namespace
