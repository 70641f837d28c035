// Files moved at once: whatever stops a run with several files in flight, the recovery file
// holds every file not yet complete, the failed one first, and the resume finishes the job.

#include <gtest/gtest.h>

#include <set>

#include "OperationHarness.h"
#include "platform/LastError.h"
#include "support/FtpTestServer.h"

using namespace ops_test;

namespace {

constexpr int kFiles = 250;
constexpr int kFilesAtOnce = 4;

struct FaultCase {
    const char* name;
    OperationKind operation;
    std::vector<std::string> faults;
    std::uint32_t exitCode;
};

std::map<std::string, std::string> arrived(OperationKind operation, const FtpTestServer& server,
                                           const OperationHarness& harness) {
    return operation == Restore ? serverData(server.root()) : localData(harness.folder());
}

// Recovery paths as paths below the data trees' parent: a backup lists "7.0/access2/...", a
// restore the local files.
std::vector<std::string> relativeToTrees(const std::vector<std::string>& paths,
                                         const fs::path& folder) {
    std::vector<std::string> relative;
    for (const auto& path : paths)
        relative.push_back(path.starts_with("7.0/")
                               ? path.substr(4)
                               : fs::path(path).lexically_relative(folder).string());
    return relative;
}

class FilesAtOnce : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FilesAtOnce, AFailureLeavesEveryIncompleteFileForTheResume) {
    const FaultCase c = GetParam();
    FtpTestServer server;
    makeNumberedTree(server.root(), kFiles, 5);
    const auto source = serverData(server.root());
    OperationHarness harness;
    harness.filesAtOnce = kFilesAtOnce;
    if (c.operation == Restore)
        backUp(harness, server);
    server.restart(c.faults);

    const RunResult failed = harness.run(c.operation, server.hostEntry());

    EXPECT_EQ(failed.exitCode, c.exitCode) << harness.log();
    const auto saved = harness.recovery();
    ASSERT_TRUE(saved) << harness.log();
    EXPECT_EQ(saved->code, c.operation + 1);
    const auto listed = relativeToTrees(saved->paths, harness.folder());
    ASSERT_FALSE(listed.empty());
    const std::set<std::string> distinct(listed.begin(), listed.end());
    EXPECT_EQ(distinct.size(), listed.size()) << "a file listed twice";
    const auto partial = arrived(c.operation, server, harness);
    const auto complete = [&](const std::string& path) {
        return partial.contains(path) && partial.at(path) == source.at(path);
    };
    EXPECT_FALSE(complete(listed.front())) << "the failed file is not first: " << listed.front();
    for (const auto& [path, bytes] : source)
        EXPECT_TRUE(complete(path) || distinct.contains(path)) << path << " is lost";

    server.restart({});
    EXPECT_EQ(harness.run(c.operation, server.hostEntry(), 0, 1).exitCode, 0u) << harness.log();
    EXPECT_EQ(arrived(c.operation, server, harness), source);
    EXPECT_FALSE(fs::exists(harness.recoveryFile()));
}

INSTANTIATE_TEST_SUITE_P(
    Engine, FilesAtOnce,
    ::testing::Values(
        FaultCase{
            "BackupRefusedRetr", Backup, {"--fail-retr", "150"}, ERROR_INTERNET_EXTENDED_ERROR},
        FaultCase{"BackupDroppedControl",
                  Backup,
                  {"--drop-control-retr", "150"},
                  ERROR_INTERNET_CONNECTION_ABORTED},
        // Every further connection refused: the files hand their work on until the last one
        // fails, and the run ends in the driver as for a lost connection.
        FaultCase{"BackupLoginsRunOut", Backup, {"--max-logins", "120"}, RESULT_FTP_FAILED},
        FaultCase{
            "RestoreRefusedStor", Restore, {"--fail-stor", "150"}, ERROR_INTERNET_EXTENDED_ERROR},
        FaultCase{"RestoreDroppedControl",
                  Restore,
                  {"--drop-control-stor", "40"},
                  ERROR_INTERNET_CONNECTION_ABORTED}),
    [](const auto& info) { return std::string(info.param.name); });

class FilesAtOnceLimited : public ::testing::TestWithParam<OperationKind> {};

// A server that takes two sessions at once greets the third with 421: the run goes on with
// fewer, and says so.
TEST_P(FilesAtOnceLimited, FallsBackToWhatTheServerTakes) {
    FtpTestServer server;
    makeNumberedTree(server.root(), 60, 3);
    const auto source = serverData(server.root());
    OperationHarness harness;
    harness.filesAtOnce = kFilesAtOnce;
    if (GetParam() == Restore)
        backUp(harness, server);
    server.restart({"--max-sessions", "2"});

    const RunResult run = harness.run(GetParam(), server.hostEntry());

    EXPECT_EQ(run.exitCode, 0u) << harness.log();
    EXPECT_EQ(arrived(GetParam(), server, harness), source);
    EXPECT_EQ(run.progress.steps, 60);
    EXPECT_NE(harness.log().find("The server refused another connection (421); going on with "),
              std::string::npos)
        << harness.log();
}

INSTANTIATE_TEST_SUITE_P(Engine, FilesAtOnceLimited, ::testing::Values(Backup, Restore),
                         [](const auto& info) {
                             return info.param == Backup ? "Backup" : "Restore";
                         });

} // namespace
