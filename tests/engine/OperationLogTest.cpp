#include <cerrno>
#include <climits>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/SpineTestSupport.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "platform/LastError.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace spine_test;

namespace {

constexpr int kAlways = INT_MIN;

struct GatedLine {
    int lowestLevel; // the line is written from this level on
    const char* text;
};

// One line of each kind the debug-level table distinguishes.
const std::vector<GatedLine> kGatedLines = {
    {kAlways, "Restore: Problems creating safe2 file\n"},
    {1, "Attempting connection to 10.0.0.1\n"},
    {2, "doBackup 3 files\n"},
    {6, "LocalChDir:  Set Current Directory to /srv/b\n"},
    {7, "perfile:  duration = 0.100000 bytesTransfered = 10 Avg Rate =  100.0\n"},
};

void writeGatedLines() {
    for (const auto& line : kGatedLines)
        if (line.lowestLevel == kAlways || vlmFTPClient::debugAbove(line.lowestLevel - 1))
            logMessage(line.text);
}

class OperationLogTest : public ::testing::Test {
  protected:
    void TearDown() override { vlmFTPClient::state().debugLevel = 0; }

    TempDir dir;
    fs::path log = dir / "VelmoraQel.log";
    LogFileGuard guard{log};
};

TEST_F(OperationLogTest, DebugLevelsGateLinesWithStrictComparisons) {
    const struct {
        int level;
        std::size_t linesWritten; // the first N lines of the table
    } cases[] = {{-1, 1}, {0, 1}, {1, 2}, {2, 3}, {5, 3}, {6, 4}, {7, 5}, {8, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        fs::remove(log);
        vlmFTPClient::state().debugLevel = c.level;
        writeGatedLines();
        std::string expected;
        for (std::size_t i = 0; i < c.linesWritten; ++i)
            expected += kGatedLines[i].text;
        EXPECT_EQ(readFile(log), expected);
    }
}

TEST_F(OperationLogTest, FailureRecordHasExactBytes) {
    const struct {
        std::uint32_t code;
        const char* name;
        int rc;
        std::string expected;
    } cases[] = {
        {ERROR_INTERNET_CONNECTION_RESET, "getNormalFiles", 10,
         "Velmora Qel tool version 2.0.55\n"
         "FAIL:\tgetNormalFiles rc = 10\n\tMsg = (null) (GetLastError code = 12031)\n"},
        {ENOENT, "readRestoreList: open k7.lst", 1,
         "Velmora Qel tool version 2.0.55\n"
         "FAIL:\treadRestoreList: open k7.lst rc = 1\n"
         "\tMsg = No such file or directory\n (GetLastError code = 2)\n"},
        {ENOSPC, "GetCurrentDirectory", -1,
         "Velmora Qel tool version 2.0.55\n"
         "FAIL:\tGetCurrentDirectory rc = -1\n"
         "\tMsg = No space left on device\n (GetLastError code = 28)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log);
        SetLastError(c.code);
        EXPECT_EQ(logFailure(c.name, c.rc), c.code);
        EXPECT_EQ(readFile(log), c.expected);
    }
}

TEST_F(OperationLogTest, BannerVersionLineAndTextsAreWrittenUnchanged) {
    vlmFTPClient::state().debugLevel = 7;
    logStart();
    logException("530 Login incorrect.\n");
    logMessage("no line end");
    EXPECT_EQ(readFile(log), "****** Start of Logging *************\n"
                             "Velmora Qel tool version 2.0.55 - Debug Level : 7\n"
                             "Velmora Qel tool version 2.0.55\n"
                             "530 Login incorrect.\n"
                             "no line end");
}

TEST_F(OperationLogTest, SavedErrorCodeSurvivesTheWritersFileCalls) {
    // A log that cannot be opened makes the writer's own calls fail as well.
    for (const fs::path& target : {log, dir / "missing" / "VelmoraQel.log"}) {
        SCOPED_TRACE(target.string());
        setLogFilePath(target);
        SetLastError(ERROR_INTERNET_TIMEOUT);
        errno = EACCES;
        logMessage("Getting 7.0/ST/a\nto ST\\a\n");
        EXPECT_EQ(logFailure("getNormalFiles", 10), ERROR_INTERNET_TIMEOUT);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
        EXPECT_EQ(errno, EACCES);
    }
    EXPECT_NE(readFile(log).find("(GetLastError code = 12002)"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(OperationLogTest, LongLinesAreKeptWhole) {
    const std::string path = "7.0/access2/" + std::string(400, 'm') + "/msg0001.vm";
    logMessage(formatString("Getting %s\nto %s\n", path.c_str(), path.c_str()));
    EXPECT_EQ(readFile(log), "Getting " + path + "\nto " + path + "\n");
}

// A tmpfs of our own, so that a folder lies on another file system than the one of "/".
class TmpfsMount {
  public:
    explicit TmpfsMount(const fs::path& point) : m_point(point) {
        fs::create_directories(point);
        m_mounted = ::mount("tmpfs", point.c_str(), "tmpfs", 0, "size=1m,mode=0755") == 0;
    }
    ~TmpfsMount() {
        if (m_mounted)
            ::umount2(m_point.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return m_mounted; }
    bool makeReadOnly() {
        return ::mount(nullptr, m_point.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

  private:
    fs::path m_point;
    bool m_mounted = false;
};

bool onOtherFileSystemThanRoot(const fs::path& folder) {
    struct stat root {};
    struct stat other {};
    return ::stat("/", &root) == 0 && ::stat(folder.c_str(), &other) == 0 &&
           root.st_dev != other.st_dev;
}

class LogPlacementTest : public ::testing::Test {
  protected:
    CurrentDirectoryGuard cwdGuard;
    TempDir dir;
    LogFileGuard guard{std::nullopt};
};

TEST_F(LogPlacementTest, LogGoesToTheRootOfTheLocalFoldersFileSystem) {
    TmpfsMount mount(dir / "mnt");
    fs::path root = dir / "mnt";
    if (!mount.mounted()) {
        if (!onOtherFileSystemThanRoot("/dev/shm"))
            GTEST_SKIP() << "cannot mount a tmpfs, and /dev/shm is on the root file system";
        root = "/dev/shm";
    }
    const fs::path folder = root / ("qel-log-test-" + std::to_string(::getpid())) / "site1";
    fs::create_directories(folder);
    fs::current_path(folder);

    EXPECT_EQ(logFilePath(), root / "VelmoraQel.log");
    logMessage("placed\n");
    const std::string written = readFile(root / "VelmoraQel.log");
    fs::current_path(dir.path());
    fs::remove_all(folder.parent_path());
    if (root == "/dev/shm")
        fs::remove(root / "VelmoraQel.log");
    EXPECT_NE(written.find("placed\n"), std::string::npos);
}

TEST_F(LogPlacementTest, UnwritableRootFallsBackToTheStateFolder) {
    TmpfsMount mount(dir / "mnt");
    if (!mount.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs to make a read-only file system root";
    fs::create_directories(dir / "mnt" / "site1");
    ASSERT_TRUE(mount.makeReadOnly());
    fs::current_path(dir / "mnt" / "site1");

    const struct {
        const char* name;
        std::optional<std::string> stateHome;
        fs::path expected;
    } cases[] = {
        {"XDG_STATE_HOME", (dir / "state").string(),
         dir / "state" / "velmora-qel" / "VelmoraQel.log"},
        {"HOME", std::nullopt,
         dir / "home" / ".local" / "state" / "velmora-qel" / "VelmoraQel.log"},
        {"relative XDG_STATE_HOME", "relative/state",
         dir / "home" / ".local" / "state" / "velmora-qel" / "VelmoraQel.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EnvironmentVariable stateHome("XDG_STATE_HOME", c.stateHome);
        EnvironmentVariable home("HOME", (dir / "home").string());
        fs::remove(c.expected);
        EXPECT_EQ(logFilePath(), c.expected);
        logMessage("fell back\n");
        EXPECT_EQ(readFile(c.expected), "fell back\n");
    }
}

// The root of a file system is shared: another user's link or file planted at the log's name
// there received the log. Either must be left alone, and the log goes to the state folder.
TEST_F(LogPlacementTest, ForeignFileOrLinkAtTheRootIsNeverWritten) {
    TmpfsMount mount(dir / "mnt");
    if (!mount.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs (nor give a file to another user)";
    fs::create_directories(dir / "mnt" / "site1");
    fs::current_path(dir / "mnt" / "site1");
    EnvironmentVariable stateHome("XDG_STATE_HOME", (dir / "state").string());
    const fs::path atRoot = dir / "mnt" / "VelmoraQel.log";
    const fs::path fallback = dir / "state" / "velmora-qel" / "VelmoraQel.log";
    const fs::path victim = dir / "victim";

    const struct {
        const char* name;
        std::function<void()> plant;
    } cases[] = {
        {"link", [&] { fs::create_symlink(victim, atRoot); }},
        {"another user's file",
         [&] {
             writeFile(atRoot, "theirs\n");
             ASSERT_EQ(::chown(atRoot.c_str(), 65534, 65534), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(victim, "theirs\n");
        fs::remove(atRoot);
        fs::remove(fallback);
        c.plant();
        EXPECT_EQ(logFilePath(), fallback);
        logMessage("mine\n");
        EXPECT_EQ(readFile(fallback), "mine\n");
        EXPECT_EQ(readFile(victim), "theirs\n");
        if (!fs::is_symlink(atRoot)) {
            EXPECT_EQ(readFile(atRoot), "theirs\n");
        }
    }
}

TEST_F(LogPlacementTest, ExplicitFileWinsAndAnUnopenableOneIsDropped) {
    setLogFilePath(dir / "named.log");
    EXPECT_EQ(logFilePath(), dir / "named.log");
    logMessage("named\n");
    EXPECT_EQ(readFile(dir / "named.log"), "named\n");

    setLogFilePath(dir / "no" / "such" / "folder.log");
    logStart();
    logException("lost\n");
    EXPECT_FALSE(fs::exists(dir / "no"));
}

} // namespace
