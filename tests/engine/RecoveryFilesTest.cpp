#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "engine/OperationTypes.h"
#include "engine/RecordFile.h"
#include "engine/RecoveryFiles.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "platform/Registry.h"
#include "support/FileListPaths.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kHost = "10.1.20.200";       // 11 bytes
const std::string kFolder = "/srv/backups/s1"; // 15 bytes
const std::vector<std::string> kThreePaths = {
    "7.0/ST/a.cfg",                   // 12
    "7.0/access2/mb/0001/msg0001.vm", // 30
    "7.0/a.b",                        // 7
};

std::string le32(std::int32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    return bytes;
}

std::string record(const std::string& text, std::size_t width) {
    return text + std::string(width - text.size(), '\0');
}

void fill(CFileItemList& list, const std::vector<std::string>& paths) {
    for (const auto& path : paths)
        list.AddTail(std::make_unique<CFileItem>(path));
}

std::size_t occurrences(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

// Makes writes beyond `bytes` of any file fail as on a full disk, for the life of the guard.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

  private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

class RecoveryFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_previousDirectory = fs::current_path();
        fs::current_path(m_folder.path());
        setLogFilePath(m_side / "qel.log");
        registry::setRoot(m_side / "registry");
        setRecoveryFolder({});
        vlmFTPClient::state().host = kHost;
    }

    void TearDown() override {
        fs::current_path(m_previousDirectory);
        setRecoveryFolder({});
        setLogFilePath(std::nullopt);
        registry::setRoot(std::nullopt);
        vlmFTPClient::state().host.clear();
    }

    std::string log() const {
        return fs::exists(m_side / "qel.log") ? readFile(m_side / "qel.log") : std::string();
    }

    void writeRecoveryFile(const std::vector<std::string>& paths) {
        CFileItemList list;
        fill(list, paths);
        createRecoveryFile(list, kFolder);
    }

    std::optional<std::string> directoryValue() const {
        registry::Key key;
        if (!key.create(kRegistryKey))
            return std::nullopt;
        return key.queryStringValue(kRegistryValue);
    }

    bool keyExists() const {
        return fs::exists(m_side / "registry" / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "Ardenvo" /
                          "VelmoraMiniQel");
    }

    TempDir m_folder;
    TempDir m_side;
    fs::path m_previousDirectory;
};

TEST_F(RecoveryFilesTest, RecoveryFileHasTheExactLayoutAndMarkingChangesOnlyTheCode) {
    writeRecoveryFile(kThreePaths);

    const std::string body = le32(40) + le32(3) + record(kHost, 40) + record(kFolder, 40) +
                             record(kThreePaths[0], 40) + record(kThreePaths[1], 40) +
                             record(kThreePaths[2], 40);
    const std::string unmarked = readFile("k7.bad");
    EXPECT_EQ(unmarked.size(), 212u);
    EXPECT_EQ(unmarked, le32(0) + body);
    EXPECT_FALSE(fs::exists("k7.bad.tmp"));

    EXPECT_EQ(markRecoveryFile(2), 1);
    EXPECT_EQ(readFile("k7.bad"), le32(2) + body);
    EXPECT_EQ(log(), "");
}

TEST_F(RecoveryFilesTest, ListingHasTheExactLayout) {
    struct Case {
        std::vector<std::string> paths;
        std::string bytes;
    };
    const Case cases[] = {
        {kThreePaths, le32(40) + le32(3) + record(kThreePaths[0], 40) + record(kThreePaths[1], 40) +
                          record(kThreePaths[2], 40)},
        {{}, le32(10) + le32(0)},
    };
    for (const auto& c : cases) {
        CFileItemList list;
        fill(list, c.paths);
        EXPECT_EQ(createFileListing(list), 1);
        EXPECT_EQ(readFile("k7.lst"), c.bytes);
        EXPECT_FALSE(fs::exists("k7.tmp"));
        EXPECT_EQ(fileListingExists(), 1);
        EXPECT_EQ(readFileListing("k7.lst"), c.paths);
    }
    EXPECT_EQ(readFile("k7.lst").size(), 8u);
    EXPECT_EQ(log(), "");
}

TEST_F(RecoveryFilesTest, PathsSurviveTheRoundTripWithQuestionMarksAsBlanks) {
    const std::vector<std::string> written = {
        "7.0/access2/mb 12/greeting one.vm",
        "7.0/access2/what?.dat",
        "7.0/ST/Grüße €/名前.cfg",
        "7.0/ST/x",
    };
    const std::vector<std::string> expected = {
        "7.0/access2/mb 12/greeting one.vm",
        "7.0/access2/what .dat",
        "7.0/ST/Grüße €/名前.cfg",
        "7.0/ST/x",
    };
    writeRecoveryFile(written);
    CFileItemList back;
    EXPECT_EQ(useRecoveryFile(back), 1);
    EXPECT_EQ(pathsOf(back), expected);

    CFileItemList listing;
    fill(listing, written);
    EXPECT_EQ(createFileListing(listing), 1);
    EXPECT_EQ(readFileListing("k7.lst"), expected);

    // A file written elsewhere may still hold "?": the reader's items turn it into a blank.
    writeFile("k7.bad", le32(1) + le32(20) + le32(1) + record(kHost, 20) + record("/f", 20) +
                            record("a?b?c", 20));
    CFileItemList handWritten;
    EXPECT_EQ(useRecoveryFile(handWritten), 1);
    EXPECT_EQ(pathsOf(handWritten), std::vector<std::string>{"a b c"});
    EXPECT_EQ(log(), "");
}

TEST_F(RecoveryFilesTest, HeaderIsReadAndMatchedExactly) {
    writeRecoveryFile(kThreePaths);
    const auto unmarked = readRecoveryHeader("k7.bad");
    ASSERT_TRUE(unmarked);
    EXPECT_EQ(unmarked->code, 0);
    EXPECT_FALSE(recoveryMatches(*unmarked, -1, kHost, kFolder));

    ASSERT_EQ(markRecoveryFile(Restore + 1), 1);
    const auto header = readRecoveryHeader(m_folder / "k7.bad");
    ASSERT_TRUE(header);
    EXPECT_EQ(header->host, kHost);
    EXPECT_EQ(header->folder, kFolder);

    struct Case {
        std::int32_t operation;
        std::string host;
        std::string folder;
        bool matches;
    };
    const Case cases[] = {
        {Restore, kHost, kFolder, true},
        {Backup, kHost, kFolder, false},
        {LogFiles, kHost, kFolder, false},
        {Restore, "10.1.20.201", kFolder, false},
        {Restore, kHost, "/srv/backups/S1", false},
        {Restore, kHost, kFolder + "/", false},
        {INT32_MAX, kHost, kFolder, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(recoveryMatches(*header, c.operation, c.host, c.folder), c.matches)
            << c.operation << " " << c.host << " " << c.folder;

    // An existing folder matches however it is spelled, as long as the system names it alike.
    const std::string real = fs::canonical(m_folder.path()).string();
    fs::create_directory(m_folder / "sub");
    fs::create_symlink(real, m_folder / "sub" / "link");
    const RecoveryHeader written{Restore + 1, kHost, real};
    for (const std::string& spelled :
         {real + "/", real + "/sub/..", (m_folder / "sub" / "link").string()})
        EXPECT_TRUE(recoveryMatches(written, Restore, kHost, spelled)) << spelled;
    EXPECT_FALSE(recoveryMatches(written, Restore, kHost, (m_folder / "sub").string()));
}

TEST_F(RecoveryFilesTest, MissingFilesFailWithTheirOwnLines) {
    EXPECT_EQ(markRecoveryFile(1), 0);
    EXPECT_FALSE(fs::exists("k7.bad"));
    EXPECT_NE(log().find("FAIL:\tmarkRecoveryFile: open k7.bad rc = 1\n"), std::string::npos);

    CFileItemList list;
    EXPECT_EQ(useRecoveryFile(list), 0);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_NE(log().find("useRecoveryFile: open k7.bad\n"), std::string::npos);

    EXPECT_EQ(fileListingExists(), 0);
    EXPECT_FALSE(readFileListing("k7.lst"));
    EXPECT_FALSE(readRecoveryHeader("k7.bad"));
    clearRecoveryFile();
    clearFileListing();
    EXPECT_EQ(occurrences(log(), "FAIL:"), 1u);
}

TEST_F(RecoveryFilesTest, CheckpointRecordsTheFolderAndClearingRemovesEverything) {
    writeRecoveryFile(kThreePaths);
    ASSERT_EQ(markRecoveryFile(1), 1);
    setRecoveryDirectory(kFolder);
    EXPECT_EQ(directoryValue(), kFolder);

    clearRecoveryFile();
    EXPECT_FALSE(fs::exists("k7.bad"));
    EXPECT_FALSE(keyExists());
    EXPECT_EQ(log(), "");
}

TEST_F(RecoveryFilesTest, CheckpointWhoseMarkFailsLeavesNeitherFileNorKey) {
    setRecoveryDirectory(kFolder); // from an earlier checkpoint
    writeRecoveryFile({"7.0/ST/b.cfg"});
    int marked = -1;
    {
        const FileSizeLimit noWrites(0);
        marked = markRecoveryFile(1);
        if (marked == 1)
            setRecoveryDirectory(kFolder);
        else
            clearRecoveryFile();
    }
    EXPECT_EQ(marked, 0);
    EXPECT_FALSE(fs::exists("k7.bad"));
    EXPECT_FALSE(keyExists());
}

TEST_F(RecoveryFilesTest, FullDiskKeepsThePreviousFilesWhole) {
    writeRecoveryFile(kThreePaths);
    ASSERT_EQ(markRecoveryFile(1), 1);
    CFileItemList old;
    fill(old, kThreePaths);
    ASSERT_EQ(createFileListing(old), 1);
    const std::string oldRecovery = readFile("k7.bad");
    const std::string oldListing = readFile("k7.lst");

    CFileItemList big;
    for (int i = 0; i < 300; ++i)
        big.AddTail(std::make_unique<CFileItem>("7.0/access2/mailbox/file" + std::to_string(i)));
    int listed = -1;
    {
        const FileSizeLimit limit(4096); // larger than the log, smaller than the new files
        createRecoveryFile(big, kFolder);
        listed = createFileListing(big);
    }
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(readFile("k7.bad"), oldRecovery);
    EXPECT_EQ(readFile("k7.lst"), oldListing);
    EXPECT_FALSE(fs::exists("k7.bad.tmp"));
    EXPECT_FALSE(fs::exists("k7.tmp"));
    EXPECT_NE(log().find("FAIL:\tcreateRecoveryFile rc = 1\n"), std::string::npos);
    EXPECT_NE(log().find("FAIL:\tcreateFileListing: creating file rc = 1\n"), std::string::npos);
}

TEST_F(RecoveryFilesTest, EveryTruncationIsACleanFailure) {
    writeRecoveryFile(kThreePaths);
    ASSERT_EQ(markRecoveryFile(1), 1);
    const std::string recovery = readFile("k7.bad");
    CFileItemList listing;
    fill(listing, kThreePaths);
    ASSERT_EQ(createFileListing(listing), 1);
    const std::string list = readFile("k7.lst");

    for (std::size_t length = 0; length < recovery.size(); ++length) {
        writeFile("k7.bad", recovery.substr(0, length));
        CFileItemList files;
        EXPECT_EQ(useRecoveryFile(files), 0) << length;
        EXPECT_TRUE(files.IsEmpty()) << length;
        EXPECT_FALSE(readRecoveryHeader("k7.bad")) << length;
    }
    EXPECT_EQ(occurrences(log(), "FAIL:\tuseRecoveryFile rc = 1\n"), recovery.size());
    for (std::size_t length = 0; length < list.size(); ++length) {
        writeFile("k7.lst", list.substr(0, length));
        EXPECT_FALSE(readFileListing("k7.lst")) << length;
    }
}

TEST_F(RecoveryFilesTest, HostileWidthsCountsAndRecordsAreCleanFailures) {
    writeRecoveryFile(kThreePaths);
    const std::string recovery = readFile("k7.bad");
    CFileItemList listing;
    fill(listing, kThreePaths);
    ASSERT_EQ(createFileListing(listing), 1);
    const std::string list = readFile("k7.lst");

    struct Damage {
        const char* what;
        std::size_t widthOffset; // 4 in "k7.bad", 0 in "k7.lst"
        std::size_t offset;      // relative to the width field
        std::string bytes;
    };
    const std::string unterminated(40, 'x');
    const Damage damages[] = {
        {"zero width", 0, 0, le32(0)},
        {"negative width", 0, 0, le32(-1)},
        {"smallest width", 0, 0, le32(INT32_MIN)},
        {"width beyond any path", 0, 0, le32(recordfile::kMaxWidth + 1)},
        {"largest width", 0, 0, le32(INT32_MAX)},
        {"negative count", 0, 4, le32(-1)},
        {"smallest count", 0, 4, le32(INT32_MIN)},
        {"largest count", 0, 4, le32(INT32_MAX)},
        {"one record more than the file holds", 0, 4, le32(4)},
        {"last record without its zero", 0, 0, ""},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.what);
        std::string badRecovery = recovery;
        std::string badList = list;
        if (damage.bytes.empty()) {
            badRecovery.replace(badRecovery.size() - 40, 40, unterminated);
            badList.replace(badList.size() - 40, 40, unterminated);
        } else {
            badRecovery.replace(4 + damage.offset, 4, damage.bytes);
            badList.replace(damage.offset, 4, damage.bytes);
        }
        writeFile("k7.bad", badRecovery);
        writeFile("k7.lst", badList);
        CFileItemList files;
        EXPECT_EQ(useRecoveryFile(files), 0);
        EXPECT_TRUE(files.IsEmpty());
        EXPECT_FALSE(readRecoveryHeader("k7.bad"));
        EXPECT_FALSE(readFileListing("k7.lst"));
    }
    EXPECT_EQ(occurrences(log(), "FAIL:\tuseRecoveryFile rc = 1\n"), std::size(damages));
}

TEST_F(RecoveryFilesTest, TheLongestPathFitsAndALongerOneIsRefused) {
    const std::string longest(recordfile::kLongestPath, 'p');
    writeRecoveryFile({longest});
    CFileItemList back;
    ASSERT_EQ(useRecoveryFile(back), 1);
    EXPECT_EQ(pathsOf(back), std::vector<std::string>{longest});

    fs::remove("k7.bad");
    CFileItemList tooLong;
    fill(tooLong, {longest + "p"});
    createRecoveryFile(tooLong, kFolder);
    EXPECT_EQ(createFileListing(tooLong), 0);
    EXPECT_FALSE(fs::exists("k7.bad"));
    EXPECT_FALSE(fs::exists("k7.lst"));
    EXPECT_NE(log().find("FAIL:\tcreateRecoveryFile rc = 1\n"), std::string::npos);
    EXPECT_NE(log().find("FAIL:\tcreateFileListing: creating file rc = 1\n"), std::string::npos);

    // Complete files whose records are one byte wider than any writer makes them.
    const std::size_t wide = recordfile::kMaxWidth + 1;
    writeFile("k7.bad", le32(1) + le32(wide) + le32(1) + record(kHost, wide) +
                            record(kFolder, wide) + record("p", wide));
    writeFile("k7.lst", le32(wide) + le32(1) + record("p", wide));
    CFileItemList files;
    EXPECT_EQ(useRecoveryFile(files), 0);
    EXPECT_TRUE(files.IsEmpty());
    EXPECT_FALSE(readRecoveryHeader("k7.bad"));
    EXPECT_FALSE(readFileListing("k7.lst"));
}

TEST_F(RecoveryFilesTest, PinnedFolderHoldsTheFilesWhateverTheCurrentDirectory) {
    setRecoveryFolder(m_folder.path());
    fs::create_directory("access2");
    fs::current_path("access2");

    writeRecoveryFile(kThreePaths);
    CFileItemList listing;
    fill(listing, kThreePaths);
    EXPECT_EQ(createFileListing(listing), 1);
    EXPECT_EQ(markRecoveryFile(1), 1);
    EXPECT_TRUE(fs::exists(m_folder / "k7.bad"));
    EXPECT_TRUE(fs::exists(m_folder / "k7.lst"));
    EXPECT_TRUE(fs::is_empty(fs::current_path()));
    EXPECT_EQ(fileListingExists(), 1);

    setRecoveryFolder({});
    EXPECT_EQ(fileListingExists(), 0);
    EXPECT_EQ(recoveryPath("k7.bad"), fs::path("k7.bad"));

    setRecoveryFolder(m_folder.path());
    clearFileListing();
    clearRecoveryFile();
    EXPECT_FALSE(fs::exists(m_folder / "k7.bad"));
    EXPECT_FALSE(fs::exists(m_folder / "k7.lst"));
}

} // namespace
