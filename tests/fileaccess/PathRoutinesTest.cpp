#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fileaccess/PathRoutines.h"

namespace {

// One row of a routine that rewrites a string in place and answers yes or no.
struct Rewrite {
    std::string input;
    std::string expected;
    bool answer;
};

void CheckRewrites(bool (*routine)(std::string&), const std::vector<Rewrite>& rows) {
    for (const auto& row : rows) {
        std::string path = row.input;
        const bool answer = routine(path);
        EXPECT_EQ(path, row.expected) << "input \"" << row.input << "\"";
        EXPECT_EQ(answer, row.answer) << "input \"" << row.input << "\"";
    }
}

TEST(PathRoutines, SeparatorsAreBothSlashes) {
    EXPECT_TRUE(IsSeparator('/'));
    EXPECT_TRUE(IsSeparator('\\'));
    for (char c : std::string("a:. 7\0", 6))
        EXPECT_FALSE(IsSeparator(c)) << int(c);
}

TEST(PathRoutines, ConvertSeparators) {
    struct Row {
        std::string input;
        char separator;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"a\\b/c\\d", '/', "a/b/c/d"},
        {"a\\b/c\\d", '\\', "a\\b\\c\\d"},
        {"a/b", 'x', "a\\b"}, // any separator but "/" means the local form
        {"", '/', ""},
    };
    for (const auto& row : rows) {
        std::string path = row.input;
        ConvertSeparators(path, row.separator);
        EXPECT_EQ(path, row.expected) << row.input << " with " << row.separator;
    }
}

TEST(PathRoutines, StripTrailingSeparators) {
    CheckRewrites(StripTrailingSeparators, {
                                               {"a/b//", "a/b", true},
                                               {"C:\\", "C:", true},
                                               {"//", "/", true},
                                               {"/", "", true},
                                               {"///", "/", true},
                                               {"a\\b/\\", "a\\b", true},
                                               {"dir\\", "dir", true},
                                               {"a/b", "a/b", false},
                                               {"/a", "/a", false},
                                               {"name", "name", false},
                                               {"", "", false},
                                           });
}

TEST(PathRoutines, StripLeadingSeparator) {
    CheckRewrites(StripLeadingSeparator, {
                                             {"/a", "a", true},
                                             {"\\a", "a", true},
                                             {"//a", "/a", true}, // only one goes
                                             {"/", "", true},
                                             {"a/", "a/", false},
                                             {"", "", false},
                                         });
}

TEST(PathRoutines, RemoveFileName) {
    CheckRewrites(RemoveFileName, {
                                      {"C:\\Bk\\ST\\x.cfg", "C:\\Bk\\ST", true},
                                      {"7.0/access2/a/b.dat", "7.0/access2/a", true},
                                      {"/home/u/bk/ST/x.cfg", "/home/u/bk/ST", true},
                                      {"a/b/", "a/", true},
                                      {"b/", "b", true},
                                      {"a\\b/c", "a\\b", true},
                                      {"/x", "", true},
                                      {"/", "", true},
                                      {"x.cfg", "x.cfg", false},
                                      {"", "", false},
                                  });
}

TEST(PathRoutines, StripRootPrefix) {
    CheckRewrites(StripRootPrefix, {
                                       {"7.0/access2/x", "/access2/x", true},
                                       {"7.1\\safe", "\\safe", true},
                                       {"7.0/", "/", true},
                                       {"7.0.1/x", "/x", true},
                                       {"7.0.1/", "/", true},
                                       {"C:\\Bk", "\\Bk", true},
                                       {"c:/Bk", "/Bk", true},
                                       {"C:\\", "\\", true},
                                       {"/7.0/access2/x", "/7.0/access2/x", false},
                                       {"C:Bk", "C:Bk", false},
                                       {"access2", "access2", false},
                                       {"7.0", "7.0", false},
                                       {"7.0.1", "7.0.1", false},
                                       {"12.0/x", "12.0/x", false},
                                       {"7.x/y", "7.x/y", false},
                                       {"1:/x", "1:/x", false},
                                       {"\\\\server\\share\\x", "\\\\server\\share\\x", false},
                                       {"", "", false},
                                   });
}

TEST(PathRoutines, MakeRelativePath) {
    struct Row {
        std::string path;
        std::string base;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"7.0/access2/a/b.dat", "7.0/", "access2/a/b.dat"},
        {"C:\\Data\\Bk\\ST\\x.cfg", "C:\\Data\\Bk", "ST\\x.cfg"},
        {"/7.0/access2/b.dat", "7.0/", "7.0/access2/b.dat"},
        {"7.0\\ST\\x.cfg", "7.0/", "ST\\x.cfg"},
        {"C:\\Data\\Bk\\ST\\x.cfg", "C:/Data/Bk", "ST\\x.cfg"},
        {"/home/u/bk/access2/a/b.dat", "/home/u/bk", "access2/a/b.dat"},
        {"\\\\srv\\share\\bk\\ST\\x", "\\\\srv\\share\\bk", "ST\\x"},
        // A base that is not there leaves the path whole (only its leading separator goes).
        {"/elsewhere/x.dat", "/home/u/bk", "elsewhere/x.dat"},
    };
    for (const auto& row : rows) {
        std::string path = row.path;
        MakeRelativePath(path, row.base);
        EXPECT_EQ(path, row.expected) << row.path << " against " << row.base;
    }
}

std::string Joined(char separator, std::initializer_list<std::string> pieces) {
    std::string result = "stale";
    JoinPath(result, separator, pieces);
    return result;
}

TEST(PathRoutines, JoinPath) {
    struct Row {
        std::string joined;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {Joined('\\', {"C:\\Data\\Bk", "access2/a/b.dat"}), "C:\\Data\\Bk\\access2\\a\\b.dat"},
        {Joined('/', {"7.0/", "ST\\x.cfg"}), "7.0/ST/x.cfg"},
        {Joined('/', {"dir\\"}), "dir/"},
        {Joined('\\', {"dir/"}), "dir\\"},
        {Joined('/', {"/home/u/bk", "access2/a/b.dat"}), "/home/u/bk/access2/a/b.dat"},
        {Joined('/', {"a/b//"}), "a/b/"},
        {Joined('/', {"7.0/access2/"}), "7.0/access2/"},
        {Joined('/', {"/"}), "/"},
        {Joined('/', {"//"}), "//"}, // the root keeps its separator, then one is added
        {Joined('/', {"7.1\\safe"}), "7.1/safe"},
        {Joined('/', {"a/", "/b/", "\\c"}), "a/b/c"},
        {Joined('/', {"a", "b\\\\"}), "a/b/"},
        {Joined('\\', {"a", "b/"}), "a\\b\\"},
        // An empty piece ends the list and adds nothing.
        {Joined('/', {"a", "", "b"}), "a"},
        {Joined('/', {"a", "b", ""}), "a/b"},
        {Joined('/', {"a/", "", "b"}), "a/"},
        // A piece that only held separators is appended with its separator and ends the list.
        {Joined('/', {"a", "/", "b"}), "a/"},
        {Joined('/', {"a/", "//", "b"}), "a//"},
        // An empty first piece reads nothing further; a root first piece does.
        {Joined('/', {"", "b"}), ""},
        {Joined('/', {"/", "b"}), "/b"},
        {Joined('/', {}), ""},
    };
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].joined, rows[i].expected) << "row " << i;
}

} // namespace
