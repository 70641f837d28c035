// Symbolic links in the local folder are never followed: a backup wrote through a linked
// subfolder to outside the folder, a restore uploaded a linked file's target and, without a
// listing, skipped a linked folder after it had deleted the server's trees. Each attack now
// ends in a clear refusal with nothing written outside and the server as it was.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <functional>

#include "Scenario.h"

using namespace faults;
using namespace std::chrono_literals;

namespace {

struct LinkCase {
    const char* name;
    Op op;
    // Plants the link in the user's folder; what the link points to lies in `outside`.
    std::function<void(const fs::path& folder, const fs::path& outside)> plant;
    const char* logged;
    int exitCode;
};

class LinkInTheFolder : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkInTheFolder, IsRefusedWithNothingWrittenOrLost) {
    const LinkCase& c = GetParam();
    Scenario scenario(c.op, 10);
    const fs::path outside = scenario.user().home() / "outside";
    writeFile(outside / "planted.dat", "not part of the backup");
    c.plant(scenario.user().folder(), outside);
    const Tree outsideBefore = snapshotTree(outside);
    const Tree serverBefore = dataTrees(scenario.server().root());

    const ProcessResult result = scenario.run(false);
    EXPECT_EQ(result.exitCode, c.exitCode) << printedResult(result);
    EXPECT_NE(scenario.user().log().find(c.logged), std::string::npos) << scenario.user().log();
    EXPECT_EQ(snapshotTree(outside), outsideBefore);
    EXPECT_EQ(dataTrees(scenario.server().root()), serverBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LinkInTheFolder,
    ::testing::Values(
        LinkCase{"BackupThroughALinkedSubfolder", Op::Backup,
                 [](const fs::path& folder, const fs::path& outside) {
                     fs::create_directories(folder / "access2");
                     fs::create_directory_symlink(outside, folder / "access2" / "box 0");
                 },
                 "box 0 is a symbolic link; nothing is stored through it", ELOOP},
        LinkCase{"RestoreWithoutListingOverALinkedFolder", Op::Restore,
                 [](const fs::path& folder, const fs::path& outside) {
                     fs::remove(folder / "k7.lst");
                     fs::create_directory_symlink(outside, folder / "ST" / "linked");
                 },
                 "ST/linked is a symbolic link; remove it or put what it points to in its place",
                 9},
        LinkCase{"RestoreOfALinkedFile", Op::Restore,
                 [](const fs::path& folder, const fs::path& outside) {
                     const fs::path file = folder / "access2" / "box 0" / "M1000.vox";
                     fs::remove(file);
                     fs::create_symlink(outside / "planted.dat", file);
                 },
                 "M1000.vox is a symbolic link; remove it or put what it points to in its place",
                 9},
        // Not a link, but the same steer: one local file whose name the server reads as a
        // climb out of its trees ("STOR 7.0/ST/../../planted.dat").
        LinkCase{"RestoreWithoutListingOfANameThatClimbs", Op::Restore,
                 [](const fs::path& folder, const fs::path&) {
                     fs::remove(folder / "k7.lst");
                     writeFile(folder / "ST" / "..\\..\\planted.dat", "climbs out");
                 },
                 "a file name in the local folder leads outside the server's trees", 9}),
    [](const auto& info) { return std::string(info.param.name); });

std::size_t gettingCount(Scenario& scenario) {
    const std::string log = scenario.user().log();
    std::size_t count = 0;
    for (auto at = log.find("Getting "); at != std::string::npos; at = log.find("Getting ", at + 1))
        ++count;
    return count;
}

// Links planted at the record files' own names: "k7.tmp" before the run, "k7.bad.tmp" while
// it runs. The files they point to stay as they were; the listing and the recovery file are
// whole files of their own.
TEST(RecordFileLinks, AreReplacedNeverWrittenThrough) {
    Scenario scenario(Op::Backup, 10);
    const fs::path folder = scenario.user().folder();
    const fs::path victim = scenario.user().home() / "victim";
    writeFile(victim, "someone else's file");
    fs::create_symlink(victim, folder / "k7.tmp");
    scenario.server().restart({"--stall-data-retr", std::to_string(scenario.transferCommand(4))});
    {
        RunningQel qel(scenario.user(), Op::Backup, scenario.host(), false, 60s);
        ASSERT_TRUE(waitUntil(
            [&] { return gettingCount(scenario) >= 4 && !partialDownloads(folder).empty(); }, 60s));
        fs::create_symlink(victim, folder / "k7.bad.tmp");
        EXPECT_EQ(qel.stop(SIGTERM), 128 + SIGTERM);
    }
    EXPECT_EQ(readFile(victim), "someone else's file");
    EXPECT_EQ(readListing(folder / "k7.lst").size(), 13u);
    scenario.expectRecoveryFrom(4);
    scenario.expectResumeCompletes(10);
}

} // namespace
