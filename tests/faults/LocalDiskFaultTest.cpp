// Faults of the local disk under a download: it fills up, or a folder cannot be written.
// The run reports the system's error, leaves no partial file, and the resume finishes once
// the administrator has made room or fixed the permissions.

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/mount.h>
#include <unistd.h>

#include "Scenario.h"

using namespace faults;

namespace {

constexpr std::size_t kDiskBytes = 1u << 20;
constexpr std::size_t kLargeFileBytes = 2u << 20;
constexpr uid_t kNobody = 65534;

// A small file system over the local folder where the machine lets the test mount one (a
// real ENOSPC); otherwise a file-size limit on qel (EFBIG, with SIGXFSZ ignored so that
// write() fails instead of killing the process).
class FullDisk {
  public:
    explicit FullDisk(const fs::path& folder) : m_folder(folder) {
        const std::string options = "size=" + std::to_string(kDiskBytes);
        m_mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~FullDisk() {
        if (m_mounted)
            ::umount2(m_folder.c_str(), MNT_DETACH);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    std::vector<std::string> wrapper() const {
        if (m_mounted)
            return {};
        return {"/bin/bash", "-c",
                "trap '' XFSZ; ulimit -f " + std::to_string(kDiskBytes / 1024) + "; exec \"$@\"",
                "qel"};
    }
    std::uint32_t error() const { return m_mounted ? ENOSPC : EFBIG; }
    std::string errorText() const {
        return m_mounted ? "No space left on device" : "File too large";
    }
    // What the administrator does: a bigger file system, or no limit on the next run.
    void makeRoom() {
        if (m_mounted) {
            ASSERT_EQ(::mount("tmpfs", m_folder.c_str(), "tmpfs", MS_REMOUNT,
                              ("size=" + std::to_string(16 * kDiskBytes)).c_str()),
                      0);
        }
    }

  private:
    fs::path m_folder;
    bool m_mounted = false;
};

TEST(LocalDisk, FullDuringABackupThenResumedWithRoom) {
    Scenario scenario(Op::Backup, 10, kLargeFileBytes);
    FullDisk disk(scenario.user().folder());
    if (!disk.wrapper().empty())
        std::cerr << "no tmpfs mount allowed here: limiting qel's file size instead\n";

    scenario.setWrapper(disk.wrapper());
    const ProcessResult failed = scenario.run(false);
    const int large = scenario.positionOf("ST/VOICE.DAT");
    ASSERT_GT(large, 0);
    scenario.expectFailure(
        failed,
        transferFailure(Op::Backup, disk.error(),
                        disk.errorText() + " (error " + std::to_string(disk.error()) + ")"),
        large);
    disk.makeRoom();
    scenario.setWrapper({});
    scenario.expectResumeCompletes(scenario.fileCount() - large + 1);
}

// Runs qel as an ordinary user: root ignores file modes.
std::vector<std::string> asOrdinaryUser() {
    if (::geteuid() != 0)
        return {};
    return {"setpriv", "--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNobody),
            "--clear-groups", "--"};
}

void handToOrdinaryUser(const fs::path& path) {
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0) << path;
    }
}

void makeUnwritable(const fs::path& dir) {
    fs::create_directories(dir);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir.c_str(), 0, 0), 0) << dir;
    }
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    if (::geteuid() != 0)
        fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove);
}

// The user's home, folders and log belong to the ordinary user that runs qel.
void prepareHome(const QelUser& user) {
    fs::permissions(user.home(), fs::perms::others_exec | fs::perms::others_read,
                    fs::perm_options::add);
    for (const fs::path& dir :
         {user.home(), user.home() / "config", user.home() / "state", user.folder()}) {
        fs::create_directories(dir);
        handToOrdinaryUser(dir);
    }
}

TEST(LocalDisk, SubfolderThatCannotBeWrittenThenFixed) {
    Scenario scenario(Op::Backup, 20);
    QelUser& user = scenario.user();
    const fs::path blocked = user.folder() / "access2" / "box 1";
    prepareHome(user);
    makeUnwritable(blocked);
    handToOrdinaryUser(user.folder() / "access2");
    scenario.setWrapper(asOrdinaryUser());

    const ProcessResult failed = scenario.run(false);
    int first = 0;
    for (int file = 1; file <= scenario.fileCount() && first == 0; ++file)
        if (scenario.targetOf(file).parent_path() == blocked)
            first = file;
    ASSERT_GT(first, 0);
    scenario.expectFailure(
        failed, transferFailure(Op::Backup, EACCES, "Permission denied (error 13)"), first);

    handToOrdinaryUser(blocked);
    fs::permissions(blocked, fs::perms::owner_write, fs::perm_options::add);
    scenario.expectResumeCompletes(scenario.fileCount() - first + 1);
}

// Nothing at all can be written: the run refuses before anything changed, and once the
// folder is fixed a new run does the whole job.
TEST(LocalDisk, FolderThatCannotBeWrittenThenFixed) {
    Scenario scenario(Op::Backup, 10);
    QelUser& user = scenario.user();
    prepareHome(user);
    makeUnwritable(user.folder());
    scenario.setWrapper(asOrdinaryUser());

    const ProcessResult failed = scenario.run(false);
    EXPECT_EQ(failed.exitCode, EACCES) << failed.out << failed.err << user.log();
    EXPECT_NE(failed.err.find("qel: Operation failed: "), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("Permission denied"), std::string::npos) << failed.err;
    EXPECT_NE(user.log().find("(GetLastError code = 13)"), std::string::npos) << user.log();
    EXPECT_EQ(entriesOf(user.folder()), std::vector<std::string>());
    EXPECT_EQ(user.registryDirectory(), std::nullopt);

    handToOrdinaryUser(user.folder());
    fs::permissions(user.folder(), fs::perms::owner_write, fs::perm_options::add);
    scenario.expectResumeCompletes(scenario.fileCount(), false);
}

} // namespace
