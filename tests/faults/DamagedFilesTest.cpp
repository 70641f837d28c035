// Damaged or hostile "k7.bad" and "k7.lst" in the local folder: a resume that cannot trust
// its recovery file starts afresh and finishes; a restore that cannot trust its listing
// refuses before the server is touched; no path in either file reaches outside its tree.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <sys/resource.h>

#include "Scenario.h"

using namespace faults;

namespace {

std::string int32Bytes(std::int32_t value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

std::string record(const std::string& text, std::int32_t width) {
    std::string bytes = text;
    bytes.resize(static_cast<std::size_t>(width), '\0');
    return bytes;
}

struct RecoveryBytes {
    std::int32_t code = 1;
    std::string host;
    std::string folder;
    std::vector<std::string> paths;
    std::optional<std::int32_t> width; // the header's; records are always the natural width
    std::optional<std::int32_t> count;

    std::string bytes() const {
        std::size_t longest = std::max(host.size(), folder.size());
        for (const auto& path : paths)
            longest = std::max(longest, path.size());
        const auto natural = static_cast<std::int32_t>(longest + 10);
        std::string out = int32Bytes(code) + int32Bytes(width.value_or(natural)) +
                          int32Bytes(count.value_or(static_cast<std::int32_t>(paths.size())));
        out += record(host, natural) + record(folder, natural);
        for (const auto& path : paths)
            out += record(path, natural);
        return out;
    }
};

std::string listingBytes(const std::vector<std::string>& paths, std::int32_t count) {
    std::size_t longest = 0;
    for (const auto& path : paths)
        longest = std::max(longest, path.size());
    const auto width = static_cast<std::int32_t>(longest + 10);
    std::string out = int32Bytes(width) + int32Bytes(count);
    for (const auto& path : paths)
        out += record(path, width);
    return out;
}

struct RecoveryCase {
    const char* name;
    std::function<std::string(const RecoveryBytes& matching)> damage;
};

class DamagedRecoveryFile : public ::testing::TestWithParam<RecoveryCase> {};

// The backup failed at its fourth file; then its recovery file was damaged.
TEST_P(DamagedRecoveryFile, BackupResumeStartsAfreshAndFinishes) {
    Scenario scenario(Op::Backup, 10);
    scenario.server().restart({"--fail-retr", "4"});
    ASSERT_NE(scenario.run(false).exitCode, 0);
    const auto recovery = readRecoveryFile(scenario.user().folder() / "k7.bad");
    ASSERT_TRUE(recovery.has_value());
    const RecoveryBytes matching{1, recovery->host, recovery->folder, recovery->paths, {}, {}};
    writeFile(scenario.user().folder() / "k7.bad", GetParam().damage(matching));

    scenario.expectResumeCompletes(scenario.fileCount(), false);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedRecoveryFile,
    ::testing::Values(RecoveryCase{"Empty", [](const RecoveryBytes&) { return std::string(); }},
                      RecoveryCase{"HeaderOnly",
                                   [](const RecoveryBytes& r) { return r.bytes().substr(0, 12); }},
                      RecoveryCase{"RecordsCutShort",
                                   [](const RecoveryBytes& r) {
                                       const std::string bytes = r.bytes();
                                       return bytes.substr(0, bytes.size() - bytes.size() / 3);
                                   }},
                      RecoveryCase{"CountBeyondTheFile",
                                   [](RecoveryBytes r) {
                                       r.count = 0x7fffffff;
                                       return r.bytes();
                                   }},
                      RecoveryCase{"NegativeCount",
                                   [](RecoveryBytes r) {
                                       r.count = -7;
                                       return r.bytes();
                                   }},
                      RecoveryCase{"NegativeWidth",
                                   [](RecoveryBytes r) {
                                       r.width = -40;
                                       return r.bytes();
                                   }},
                      RecoveryCase{"HugeWidth",
                                   [](RecoveryBytes r) {
                                       r.width = 0x40000000;
                                       return r.bytes();
                                   }},
                      RecoveryCase{"NeverMarked",
                                   [](RecoveryBytes r) {
                                       // What a run killed between writing and marking leaves.
                                       r.code = 0;
                                       return r.bytes();
                                   }},
                      RecoveryCase{"RecordsWithoutTerminator",
                                   [](const RecoveryBytes& r) {
                                       std::string bytes = r.bytes();
                                       std::replace(bytes.begin() + 12, bytes.end(), '\0', 'x');
                                       return bytes;
                                   }}),
    [](const auto& info) { return std::string(info.param.name); });

// A recovery file that names files outside the trees: the resume moves nothing from or to
// anywhere else.
TEST(HostileRecoveryFile, BackupResumeNeverWritesOutsideTheFolder) {
    Scenario scenario(Op::Backup, 10);
    scenario.server().restart({"--fail-retr", "4"});
    ASSERT_NE(scenario.run(false).exitCode, 0);
    auto recovery = readRecoveryFile(scenario.user().folder() / "k7.bad");
    ASSERT_TRUE(recovery.has_value());
    writeFile(scenario.server().root() / "outside.dat", "not a data file");
    RecoveryBytes hostile{1, recovery->host, recovery->folder, recovery->paths, {}, {}};
    hostile.paths.insert(hostile.paths.begin(), {"7.0/../../outside.dat", "/../../outside.dat"});
    writeFile(scenario.user().folder() / "k7.bad", hostile.bytes());
    scenario.server().restart({});

    const ProcessResult resumed = scenario.run(true);
    // The first listed path is refused as it would be stored outside the folder.
    EXPECT_EQ(resumed.exitCode, EINVAL) << resumed.out << resumed.err << scenario.user().log();
    EXPECT_FALSE(fs::exists(scenario.user().home() / "outside.dat"));
    EXPECT_FALSE(fs::exists(scenario.user().home().parent_path() / "outside.dat"));
    scenario.expectNothingBroken();
}

TEST(HostileRecoveryFile, RestoreResumeNeverSendsAFileFromOutsideTheFolder) {
    Scenario scenario(Op::Restore, 10);
    scenario.server().restart({"--fail-stor", "5"});
    ASSERT_NE(scenario.run(false).exitCode, 0);
    auto recovery = readRecoveryFile(scenario.user().folder() / "k7.bad");
    ASSERT_TRUE(recovery.has_value());
    const fs::path secret = scenario.user().home() / "secret.txt";
    writeFile(secret, "private");
    RecoveryBytes hostile{2, recovery->host, recovery->folder, recovery->paths, {}, {}};
    hostile.paths.insert(hostile.paths.begin(),
                         {secret.string(), recovery->folder + "/../secret.txt"});
    writeFile(scenario.user().folder() / "k7.bad", hostile.bytes());
    scenario.server().restart({});

    const ProcessResult resumed = scenario.run(true);
    EXPECT_EQ(resumed.exitCode, 9) << resumed.out << resumed.err << scenario.user().log();
    for (const auto& [path, bytes] : snapshotTree(scenario.server().root())) {
        EXPECT_NE(bytes, "private") << path << " came from outside the local folder";
    }
}

struct ListingCase {
    const char* name;
    std::function<std::string(const std::vector<std::string>& listing)> damage;
    std::uintmax_t sparseSize = 0; // the file is then extended to this size with a hole
};

// Far above what qel needs, far below what reading every record of a huge listing takes.
constexpr long kPeakMemoryLimitKb = 200 * 1024;
constexpr std::int32_t kSparseSize = 200 << 20;

class DamagedListing : public ::testing::TestWithParam<ListingCase> {};

// A restore refuses with 9 before it deletes anything; only the restore marker goes.
TEST_P(DamagedListing, RestoreRefusesBeforeTheServerChanges) {
    Scenario scenario(Op::Restore, 10);
    const Tree before = dataTrees(scenario.server().root());
    const auto listing = readListing(scenario.user().folder() / "k7.lst");
    writeFile(scenario.user().folder() / "k7.lst", GetParam().damage(listing));
    if (GetParam().sparseSize > 0)
        fs::resize_file(scenario.user().folder() / "k7.lst", GetParam().sparseSize);

    const ProcessResult result = scenario.run(false);
    EXPECT_EQ(result.exitCode, 9) << result.out << result.err << scenario.user().log();
    EXPECT_NE(result.err.find("Invalid data found within the local folder."), std::string::npos)
        << result.err;
    EXPECT_EQ(dataTrees(scenario.server().root()), before);
    EXPECT_TRUE(fs::exists(scenario.server().root() / "safe"));
    EXPECT_FALSE(fs::exists(scenario.server().root() / "safe2"));
    EXPECT_FALSE(fs::exists(scenario.user().folder() / "k7.bad"));
    // The reader never takes more memory than the file's records hold: a sparse listing of
    // 200 MB once made a restore take over 600 MB before it refused.
    rusage children{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
    EXPECT_LT(children.ru_maxrss, kPeakMemoryLimitKb);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedListing,
    ::testing::Values(
        ListingCase{"Empty", [](const auto&) { return std::string(); }},
        ListingCase{"CutShort",
                    [](const auto& listing) {
                        const std::string bytes =
                            listingBytes(listing, static_cast<std::int32_t>(listing.size()));
                        return bytes.substr(0, bytes.size() / 2);
                    }},
        ListingCase{"CountBeyondTheFile",
                    [](const auto& listing) { return listingBytes(listing, 0x7fffffff); }},
        ListingCase{"NegativeCount", [](const auto& listing) { return listingBytes(listing, -1); }},
        ListingCase{"HugeAndSparse",
                    [](const auto&) {
                        const std::int32_t width = 11;
                        return int32Bytes(width) + int32Bytes((kSparseSize - 8) / width);
                    },
                    kSparseSize},
        ListingCase{"PathClimbingOut",
                    [](auto listing) {
                        // The operation log beside the local folder exists.
                        listing.push_back("7.0/../qel.log");
                        return listingBytes(listing, static_cast<std::int32_t>(listing.size()));
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
