// SIGKILL with several files in flight: one transfer stalls half-way while the others go on
// past the checkpoint before file 101. Whatever the dead run finished or not, the recovery
// file holds every file not yet complete, and the resume finishes the job.

#include <csignal>
#include <gtest/gtest.h>
#include <set>
#include <thread>

#include "Scenario.h"

using namespace faults;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatientTimeout = 60s;
constexpr auto kWaitLimit = 60s;
constexpr int kStalledTransfer = 60;

// The files a run moves, and where they stand after it: the server's for a backup, the local
// backup's for a restore.
struct Sides {
    Tree source;
    Tree arrived;
};

Sides sidesOf(Scenario& scenario) {
    const fs::path server = scenario.server().root();
    const fs::path local = scenario.user().folder();
    if (scenario.op() == Op::Restore)
        return {dataTrees(local), dataTrees(server)};
    return {dataTrees(server), collectedFiles(local)};
}

std::set<std::string> listedForRecovery(Scenario& scenario) {
    const auto recovery = readRecoveryFile(scenario.user().folder() / "k7.bad");
    if (!recovery)
        return {};
    if (scenario.op() == Op::Backup) {
        const auto relative = relativeRemotePaths(recovery->paths);
        return {relative.begin(), relative.end()};
    }
    const fs::path folder = fs::canonical(scenario.user().folder());
    std::set<std::string> listed;
    for (const auto& path : recovery->paths)
        listed.insert(fs::path(path).lexically_relative(folder).string());
    return listed;
}

class KilledWithFilesInFlight : public ::testing::TestWithParam<Op> {};

TEST_P(KilledWithFilesInFlight, RecoveryHoldsEveryIncompleteFile) {
    Scenario scenario(GetParam(), 150);
    scenario.user().addOptions({"--parallel", "4"});
    scenario.server().restart(
        {GetParam() == Op::Restore ? "--stall-data-stor" : "--stall-data-retr",
         std::to_string(scenario.transferCommand(kStalledTransfer))});
    const char* perFile = GetParam() == Op::Restore ? "Putting " : "Getting ";
    {
        RunningQel qel(scenario.user(), scenario.op(), scenario.host(), false, kPatientTimeout);
        // Every other file has begun; the stalled one holds its mover.
        ASSERT_TRUE(waitUntil(
            [&] {
                return countOf(scenario.user().log(), perFile) >=
                       static_cast<std::size_t>(scenario.fileCount());
            },
            kWaitLimit))
            << scenario.user().log();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(qel.kill(), SIGKILL);
    }
    const Sides sides = sidesOf(scenario);
    if (GetParam() == Op::Backup) {
        // Killed, the downloads in flight leave their temporary files, which the resume
        // sweeps; under its own name a file is whole.
        Tree named = sides.arrived;
        for (const auto& part : partialDownloads(scenario.user().folder()))
            named.erase(part);
        EXPECT_TRUE(onlyWholeFiles(named, sides.source));
    }
    const std::set<std::string> listed = listedForRecovery(scenario);
    std::size_t incomplete = 0;
    for (const auto& [path, bytes] : sides.source) {
        const auto found = sides.arrived.find(path);
        if (found != sides.arrived.end() && found->second == bytes)
            continue;
        ++incomplete;
        EXPECT_TRUE(listed.contains(path)) << path << " is in no recovery file";
    }
    EXPECT_GE(incomplete, 1u) << "the stalled file cannot be complete";
    scenario.expectResumeCompletes(static_cast<int>(listed.size()));
}

INSTANTIATE_TEST_SUITE_P(Faults, KilledWithFilesInFlight,
                         ::testing::Values(Op::Backup, Op::Restore),
                         [](const auto& info) { return std::string(opName(info.param)); });

} // namespace
