#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "fileaccess/Enumeration.h"
#include "fileaccess/Navigation.h"
#include "support/FileListPaths.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Every test here moves the process's current directory; it goes back afterwards.
class LocalAccess : public ::testing::Test {
  protected:
    void SetUp() override { m_savedDirectory = fs::current_path(); }
    void TearDown() override { fs::current_path(m_savedDirectory); }

    // The form the system reports for the folder, as the engine passes it.
    std::string root() const { return fs::canonical(m_temp.path()).string(); }

    TempDir m_temp;

  private:
    fs::path m_savedDirectory;
};

TEST_F(LocalAccess, ChDirReportsWhereItEnded) {
    fs::create_directories(m_temp / "sub");
    const std::string sub = root() + "/sub";
    EXPECT_EQ(LocalChDir(sub), sub);
    EXPECT_EQ(fs::current_path().string(), sub);
    // A failed change reports the directory that stayed current.
    EXPECT_EQ(LocalChDir(root() + "/missing"), sub);
    EXPECT_EQ(LocalChDir(std::string(PATH_MAX + 10, 'x')), sub);
}

TEST_F(LocalAccess, ChDirLogsFromLevelSix) {
    fs::create_directories(m_temp / "sub");
    const std::string sub = root() + "/sub";
    LogCapture log(5);
    LocalChDir(sub);
    EXPECT_EQ(log.text(), "");
    log.setLevel(6);
    LocalChDir(sub);
    EXPECT_EQ(log.text(), "LocalChDir:  Set Current Directory to " + sub + "\n");
}

TEST_F(LocalAccess, MakeDirsResults) {
    writeFile(m_temp / "file", "x");
    fs::create_directories(m_temp / "exists");
    fs::current_path(m_temp.path());
    struct Row {
        std::string path;
        int result;
        int error; // errno after the call, 0 when not looked at
        std::string created;
    };
    const std::string r = root();
    const std::vector<Row> rows = {
        {r + "/exists", 0, 0, "exists"},
        {r + "/exists/", 0, 0, "exists"},
        {r + "/file", 4, ENOTDIR, ""},
        {r + "/file/", -1, 0, ""}, // the file cannot be read as a directory
        {r + "/file/below", -1, 0, ""},
        {r + "/a/b/c/d", 0, 0, "a/b/c/d"},
        {r + "/trail/x//", 0, 0, "trail/x"},
        {r + "/doubled//sep", 0, 0, "doubled/sep"},
        {r + "\\back\\slashes", 0, 0, "back/slashes"},
        {"single", 0, 0, "single"},
        {"rel/two/three", 0, 0, "rel/two/three"},
        {"C:", -1, EINVAL, ""},
        {"C:x", -1, EINVAL, ""},
        {"C:\\", 0, 0, ""},
        {"\\\\server", 4, 0, ""},
        {"\\\\server\\share", 4, 0, ""},
        {std::string(PATH_MAX, 'd'), -1, ENAMETOOLONG, ""},
    };
    for (const auto& row : rows) {
        errno = 0;
        EXPECT_EQ(LocalMakeDirs(row.path), row.result) << row.path;
        if (row.error) {
            EXPECT_EQ(errno, row.error) << row.path;
        }
        if (!row.created.empty()) {
            EXPECT_TRUE(fs::is_directory(m_temp / row.created)) << row.path;
        }
    }
    EXPECT_FALSE(fs::exists(m_temp / "C:"));
    EXPECT_TRUE(fs::is_regular_file(m_temp / "file"));
}

TEST_F(LocalAccess, MakeDirsTakesPathsUpToTheSystemLimit) {
    std::string path = root();
    while (path.size() + 201 < PATH_MAX - 1)
        path += "/" + std::string(200, 'n');
    path += "/" + std::string(PATH_MAX - 1 - path.size() - 1, 'e');
    ASSERT_EQ(path.size(), std::size_t(PATH_MAX - 1));
    EXPECT_EQ(LocalMakeDirs(path), 0);
    EXPECT_TRUE(fs::is_directory(path));

    errno = 0;
    EXPECT_EQ(LocalMakeDirs(path + "/x"), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
}

// root/.hidden a.txt b.txt, empty/, sub1/x.dat, sub1/deep/y.dat, sub2/z.dat
class LocalSearch : public LocalAccess {
  protected:
    void SetUp() override {
        LocalAccess::SetUp();
        writeFile(m_temp / "b.txt", "b");
        writeFile(m_temp / ".hidden", "h");
        writeFile(m_temp / "a.txt", "a");
        fs::create_directories(m_temp / "empty");
        writeFile(m_temp / "sub1/x.dat", "x");
        writeFile(m_temp / "sub1/deep/y.dat", "y");
        writeFile(m_temp / "sub2/z.dat", "z");
    }

    int find(bool recurse, const std::string& start) {
        return FindNormalFiles(kLocalSearch, recurse, nullptr, m_finder, start, &m_directories,
                               &m_files);
    }

    CFileFind m_finder;
    CFileItemList m_directories;
    CFileItemList m_files;
};

TEST_F(LocalSearch, ListsTheTreeBreadthFirst) {
    const std::string r = root();
    EXPECT_EQ(find(true, r), 6);
    EXPECT_EQ(pathsOf(m_files), (std::vector<std::string>{
                                    r + "/.hidden", r + "/a.txt", r + "/b.txt", r + "/sub1/x.dat",
                                    r + "/sub2/z.dat", r + "/sub1/deep/y.dat"}));
    EXPECT_EQ(pathsOf(m_directories), (std::vector<std::string>{r, r + "/empty", r + "/sub1",
                                                                r + "/sub2", r + "/sub1/deep"}));
    EXPECT_EQ(fs::current_path().string(), r + "/sub1/deep");
}

TEST_F(LocalSearch, WithoutRecurseOnlyTheStartDirectory) {
    const std::string r = root();
    EXPECT_EQ(find(false, r), 3);
    EXPECT_EQ(pathsOf(m_files),
              (std::vector<std::string>{r + "/.hidden", r + "/a.txt", r + "/b.txt"}));
    EXPECT_EQ(pathsOf(m_directories), std::vector<std::string>{r});
}

TEST_F(LocalSearch, SharedWorkListWalksOnlyFromItsOwnItem) {
    const std::string r = root();
    EXPECT_EQ(find(true, r + "/sub1"), 2);
    EXPECT_EQ(find(true, r + "/sub2"), 1);
    EXPECT_EQ(pathsOf(m_directories),
              (std::vector<std::string>{r + "/sub1", r + "/sub1/deep", r + "/sub2"}));
    EXPECT_EQ(pathsOf(m_files), (std::vector<std::string>{r + "/sub1/x.dat", r + "/sub1/deep/y.dat",
                                                          r + "/sub2/z.dat"}));
}

TEST_F(LocalSearch, EmptyDirectoryCountsNothing) {
    EXPECT_EQ(find(true, root() + "/empty"), 0);
    EXPECT_EQ(pathsOf(m_directories), std::vector<std::string>{root() + "/empty"});
    EXPECT_TRUE(m_files.IsEmpty());
}

TEST_F(LocalSearch, StartPathNotInTheSystemsForm) {
    const std::string r = root();
    struct Row {
        std::string start;
        int count;
        std::vector<std::string> files;
    };
    const std::vector<Row> rows = {
        {r + "/a.txt", 1, {r + "/a.txt"}}, // a single file
        {r + "/sub1/", 0, {}},             // a trailing separator: not searched
        {r + "//sub1", 0, {}},             // a doubled one neither
        {r + "/missing", 0, {}},
        {"sub1", 0, {}}, // relative
    };
    for (const auto& row : rows) {
        CFileItemList directories;
        CFileItemList files;
        fs::current_path(m_temp.path());
        EXPECT_EQ(
            FindNormalFiles(kLocalSearch, true, nullptr, m_finder, row.start, &directories, &files),
            row.count)
            << row.start;
        EXPECT_EQ(pathsOf(files), row.files) << row.start;
        EXPECT_TRUE(directories.IsEmpty()) << row.start;
    }
}

TEST_F(LocalSearch, LogLinesFromLevelTwo) {
    const std::string r = root();
    LogCapture log(1);
    find(true, r + "/sub1");
    EXPECT_EQ(log.text(), "");
    log.setLevel(2);
    find(true, r + "/sub1");
    EXPECT_EQ(log.text(), "Searching = " + r + "/sub1\n" + "Found directory:\t" + r +
                              "/sub1/deep\n" + "Found normal:\t\t" + r + "/sub1/x.dat\n" +
                              "Searching = " + r + "/sub1/deep\n" + "Found normal:\t\t" + r +
                              "/sub1/deep/y.dat\n");
    log.clear();
    find(true, r + "/a.txt");
    EXPECT_EQ(log.text(), "Found normal:\t\t" + r + "/a.txt\n");
}

} // namespace
