#include <gtest/gtest.h>

#include "platform/FtpListParser.h"

namespace {

struct ListCase {
    const char* name;
    std::string line;
    bool parsed;
    std::string entryName;
    bool directory;
    std::uint64_t size;
};

class ListLine : public testing::TestWithParam<ListCase> {};

TEST_P(ListLine, GivesTheEntryOrSkipsTheLine) {
    const auto& c = GetParam();
    const auto entries = ParseListing(c.line + "\r\n");
    if (!c.parsed) {
        EXPECT_TRUE(entries.empty()) << entries.front().name;
        return;
    }
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, c.entryName);
    EXPECT_EQ(entries[0].isDirectory, c.directory);
    EXPECT_EQ(entries[0].size, c.size);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ListLine,
    testing::Values(
        ListCase{"unixFile", "-rw-r--r--   1 tas      tas          1234 Jan 02 10:00 MB0001.dat",
                 true, "MB0001.dat", false, 1234},
        ListCase{"unixDirectory", "drwxr-xr-x   2 tas      tas          4096 Dec 31  2023 ST", true,
                 "ST", true, 0},
        ListCase{"unixNoGroup", "-rw-r--r-- 1 tas 77 Mar  5 09:15 syscfg.001", true, "syscfg.001",
                 false, 77},
        ListCase{"unixSpacesInName", "-rw-r--r-- 1 a b 5 Feb 29 23:59 my  file name.txt", true,
                 "my  file name.txt", false, 5},
        ListCase{"unixLeadingBlankKept", "-rw-r--r-- 1 a b 5 Feb 29 23:59  lead", true, " lead",
                 false, 5},
        ListCase{"unixMonthLikeName", "-rw-r--r-- 1 a b 5 Feb 29 2020 Jan 01 10:00", true,
                 "Jan 01 10:00", false, 5},
        ListCase{"unixLargeSize", "-rw-r--r-- 1 a b 5000000000 Feb 29 2020 big", true, "big", false,
                 5000000000u},
        ListCase{"unixQuestionMark", "-rw-r--r-- 1 a b 1 Feb 29 2020 a?b", true, "a?b", false, 1},
        ListCase{"symlinkGivesItsName", "lrwxrwxrwx 1 a b 7 Feb 29 2020 link -> target", true,
                 "link", false, 7},
        ListCase{"dosFile", "01-02-23  10:00AM              1234 report.txt", true, "report.txt",
                 false, 1234},
        ListCase{"dosDirectory", "01-02-2023  10:00PM       <DIR>          access2", true,
                 "access2", true, 0},
        ListCase{"dosSpacesInName", "12-31-99  11:59PM  10 two words", true, "two words", false,
                 10},
        ListCase{"total", "total 123", false, "", false, 0},
        ListCase{"characterDevice", "crw-rw-rw- 1 root root 1, 3 Jan 02 10:00 null", false, "",
                 false, 0},
        ListCase{"blockDevice", "brw-rw---- 1 root disk 8, 0 Jan 02 10:00 sda", false, "", false,
                 0},
        ListCase{"fifo", "prw-r--r-- 1 a b 0 Jan 02 10:00 pipe", false, "", false, 0},
        ListCase{"garbage", "Hello from the server", false, "", false, 0},
        ListCase{"sizeNotNumber", "-rw-r--r-- 1 a b xx Jan 02 10:00 name", false, "", false, 0},
        ListCase{"noName", "-rw-r--r-- 1 a b 1 Jan 02 10:00", false, "", false, 0},
        ListCase{"dotIsHostile", "drwxr-xr-x 2 a b 0 Jan 02 10:00 .", false, "", false, 0},
        ListCase{"dotDotIsHostile", "drwxr-xr-x 2 a b 0 Jan 02 10:00 ..", false, "", false, 0},
        ListCase{"slashIsHostile", "-rw-r--r-- 1 a b 1 Jan 02 10:00 ../../etc/passwd", false, "",
                 false, 0},
        ListCase{"backslashIsHostile", "-rw-r--r-- 1 a b 1 Jan 02 10:00 ..\\x", false, "", false,
                 0},
        ListCase{"dosSlashIsHostile", "01-02-23  10:00AM  1 a/b", false, "", false, 0},
        ListCase{"carriageReturnInName", "-rw-r--r-- 1 a b 1 Jan 02 10:00 a\rb", false, "", false,
                 0},
        ListCase{"nulInName", std::string("-rw-r--r-- 1 a b 1 Jan 02 10:00 a") + '\0' + "b", false,
                 "", false, 0},
        ListCase{"symlinkToDotDot", "lrwxrwxrwx 1 a b 2 Jan 02 10:00 .. -> /", false, "", false,
                 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Listing, KeepsListingOrderAndSkipsWhatItCannotRead) {
    const std::string listing = "total 12\r\n"
                                "drwxr-xr-x 2 a b 0 Jan 02 10:00 zeta\r\n"
                                "???\r\n"
                                "-rw-r--r-- 1 a b 3 Jan 02 10:00 alpha\n"
                                "-rw-r--r-- 1 a b 4 Jan 02 10:00 mid dle";
    const auto entries = ParseListing(listing);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "zeta");
    EXPECT_EQ(entries[1].name, "alpha");
    EXPECT_EQ(entries[2].name, "mid dle");
}

TEST(Listing, EmptyListingHasNoEntries) {
    EXPECT_TRUE(ParseListing("").empty());
    EXPECT_TRUE(ParseListing("\r\n\n").empty());
}

TEST(ListedName, OnlyPlainNamesAreSafe) {
    for (const char* name : {"a", "a b", "...", ".hidden", "a?b", "x..y"})
        EXPECT_TRUE(IsSafeListedName(name)) << name;
    for (const std::string& name :
         {std::string(), std::string("."), std::string(".."), std::string("a/b"),
          std::string("a\\b"), std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)})
        EXPECT_FALSE(IsSafeListedName(name)) << name;
}

} // namespace
