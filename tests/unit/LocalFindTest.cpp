#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/LastError.h"
#include "platform/LocalFind.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct MatchCase {
    const char* name;
    const char* pattern;
    bool ignoreCase;
    bool matches;
};

class PatternMatching : public testing::TestWithParam<MatchCase> {};

TEST_P(PatternMatching, MatchesLikeTheFileSystemsBackupsComeFrom) {
    const auto& c = GetParam();
    EXPECT_EQ(MatchesPattern(c.name, c.pattern, c.ignoreCase), c.matches)
        << c.name << " vs " << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, PatternMatching,
    testing::Values(
        MatchCase{"a.txt", "*", false, true}, MatchCase{"noext", "*.*", false, true},
        MatchCase{".hidden", "*", false, true}, MatchCase{"a.txt", "*.txt", false, true},
        MatchCase{"a.txt.bak", "*.txt", false, false}, MatchCase{"A.TXT", "*.txt", false, false},
        MatchCase{"A.TXT", "*.txt", true, true}, MatchCase{"abc", "a?c", false, true},
        MatchCase{"ac", "a?c", false, false}, MatchCase{"abc", "abc", false, true},
        MatchCase{"abcd", "abc", false, false}, MatchCase{"mbox.001.log", "*.log", false, true},
        MatchCase{"x", "**?**", false, true}, MatchCase{"", "*", false, true},
        MatchCase{"", "?", false, false},
        MatchCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*c", false, false}));

class LocalFind : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir / "sub");
        writeFile(dir / "a.txt", "aaa");
        writeFile(dir / ".hidden", "h");
        writeFile(dir / "b.log", "");
        writeFile(dir / "sub" / "inner.dat", "1234");
    }

    // name -> is directory, in the finder's order, the last entry included.
    static std::vector<std::pair<std::string, bool>> walk(CFileFind& finder) {
        std::vector<std::pair<std::string, bool>> seen;
        bool more = true;
        while (more && seen.size() < 100) {
            more = finder.FindNextFile();
            seen.emplace_back(finder.GetFileName(), finder.IsDirectory());
        }
        return seen;
    }

    TempDir temp;
    fs::path dir = temp.path() / "data";
};

TEST_F(LocalFind, StarListsEveryEntryButTheDotsHiddenOnesIncluded) {
    for (const char* pattern : {"/*", "/*.*"}) {
        CFileFind finder;
        ASSERT_TRUE(finder.FindFile(dir.string() + pattern)) << pattern;
        const std::vector<std::pair<std::string, bool>> expected{
            {".hidden", false}, {"a.txt", false}, {"b.log", false}, {"sub", true}};
        EXPECT_EQ(walk(finder), expected) << pattern;
        EXPECT_EQ(finder.GetFilePath(), (dir / "sub").string());
        EXPECT_FALSE(finder.IsDots());
    }
}

TEST_F(LocalFind, FiltersByTheLastComponentAndReportsLengths) {
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile(dir.string() + "/*.txt"));
    EXPECT_FALSE(finder.FindNextFile()); // the only entry is also the last
    EXPECT_EQ(finder.GetFileName(), "a.txt");
    EXPECT_EQ(finder.GetLength(), 3u);
    EXPECT_EQ(finder.GetFilePath(), dir.string() + "/a.txt");
}

TEST_F(LocalFind, FindsOneNamedEntryWithBackslashesAccepted) {
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile(dir.string() + "\\sub\\inner.dat"));
    finder.FindNextFile();
    EXPECT_EQ(finder.GetFilePath(), dir.string() + "\\sub/inner.dat");
    ASSERT_TRUE(finder.FindFile(dir.string() + "/sub"));
    finder.FindNextFile();
    EXPECT_TRUE(finder.IsDirectory());
}

TEST_F(LocalFind, BarePatternSearchesTheCurrentDirectory) {
    const auto previous = fs::current_path();
    fs::current_path(dir / "sub");
    CFileFind finder;
    const bool found = finder.FindFile("*.*");
    finder.FindNextFile();
    const std::string path = finder.GetFilePath();
    fs::current_path(previous);
    ASSERT_TRUE(found);
    EXPECT_EQ(path, fs::canonical(dir / "sub").string() + "/inner.dat");
}

TEST_F(LocalFind, NothingMatchingOrNoDirectoryIsFalseWithACode) {
    CFileFind finder;
    SetLastError(0);
    EXPECT_FALSE(finder.FindFile(dir.string() + "/*.none"));
    EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_FALSE(finder.FindNextFile());
    EXPECT_EQ(finder.GetFileName(), "");
    EXPECT_FALSE(finder.FindFile(dir.string() + "/missing/*"));
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_FALSE(finder.FindFile(dir.string() + "/"));
}

TEST_F(LocalFind, IgnoringCaseMatchesEveryComponent) {
    fs::create_directories(dir / "ST" / "f983wui");
    writeFile(dir / "ST" / "f983wui" / "Trace.LOG", "t");
    const std::string pattern = dir.string() + "/st/F983WUI/*.log";

    CFileFind exact;
    EXPECT_FALSE(exact.FindFile(pattern));

    CFileFind finder;
    finder.SetIgnoreCase(true);
    ASSERT_TRUE(finder.FindFile(pattern));
    finder.FindNextFile();
    EXPECT_EQ(finder.GetFilePath(), dir.string() + "/ST/f983wui/Trace.LOG");
    EXPECT_FALSE(finder.FindFile(dir.string() + "/nope/*"));
}

TEST_F(LocalFind, ClosingForgetsTheResults) {
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile(dir.string() + "/*"));
    finder.FindNextFile();
    finder.Close();
    EXPECT_EQ(finder.GetFileName(), "");
    EXPECT_FALSE(finder.FindNextFile());
}

// A download interrupted by a kill leaves its temporary file; it is not data to restore. A
// server file can never be named like one (no listed name holds a backslash).
TEST_F(LocalFind, SkipsTemporaryFilesOfDownloads) {
    writeFile(dir / "sub" / ".inner.dat\\qel-part-a1B2c3", "partial");
    writeFile(dir / "sub" / ".inner.dat.qel-part-a1B2c3", "a server's file");
    writeFile(dir / "sub" / ".qel-part-notours", "kept");
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile((dir / "sub" / "*").string()));
    const std::vector<std::pair<std::string, bool>> expected{
        {".inner.dat.qel-part-a1B2c3", false}, {".qel-part-notours", false}, {"inner.dat", false}};
    EXPECT_EQ(walk(finder), expected);
}

// A link to a directory could send a recursive walk round in a circle; a FIFO would block a
// copy forever. Neither is listed.
TEST_F(LocalFind, SkipsLinksToDirectoriesAndSpecialFiles) {
    fs::create_directory_symlink(dir, dir / "sub" / "loop");
    fs::create_symlink(dir / "a.txt", dir / "sub" / "file-link");
    ASSERT_EQ(mkfifo((dir / "sub" / "fifo").c_str(), 0600), 0);
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile((dir / "sub" / "*").string()));
    const std::vector<std::pair<std::string, bool>> expected{{"file-link", false},
                                                             {"inner.dat", false}};
    EXPECT_EQ(walk(finder), expected);
}

} // namespace
