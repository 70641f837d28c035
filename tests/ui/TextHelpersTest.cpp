#include <QList>
#include <gtest/gtest.h>

#include "ui/DecimalText.h"
#include "ui/PathCompaction.h"

namespace {

TEST(CompactPath, KeepsTheLastComponentAndShortensTheMiddle) {
    struct Case {
        const char* path;
        const char* shown;
    };
    const Case cases[] = {
        {"/srv/velmora", "/srv/velmora"},
        {"/srv/velmora/backup/202", "/srv/velmora/backup/202"},
        {"/srv/velmora/backup/2024", "/srv/velmora/ba.../2024"},
        {"/home/admin/backups/velmora/site-one", "/home/admin.../site-one"},
        {"/home/admin/backups/velmora/site-one/", "/home/admi.../site-one/"},
        {"/data/a-very-long-last-component-name", "/data/a-very-long-la..."},
        {"relative-folder-name-that-is-long", "relative-folder-name..."},
        {"/mnt/R&D/velmora-backups/x", "/mnt/R&D/velmora-b.../x"},
    };
    for (const Case& c : cases) {
        const QString shown = compactPath(QString::fromUtf8(c.path), 23);
        EXPECT_EQ(shown.toStdString(), c.shown) << c.path;
        EXPECT_LE(shown.toUcs4().size(), 23) << c.path;
    }
}

TEST(CompactPath, CountsCharactersNotBytesAndSplitsNone) {
    // 25 characters, four of them outside the basic plane.
    const QString path = QString::fromUtf8("/m\U0001F600\U0001F600\U0001F600\U0001F600"
                                           "edia/usb-stick/vm/x");
    const QString shown = compactPath(path, 23);
    EXPECT_EQ(shown.toUcs4().size(), 23);
    EXPECT_TRUE(shown.endsWith(QStringLiteral(".../x")));
    EXPECT_EQ(shown, QString::fromUtf8("/m\U0001F600\U0001F600\U0001F600\U0001F600"
                                       "edia/usb-sti.../x"));
}

TEST(StrToInt, ReadsTheLeadingNumber) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {{"7", 7},
                          {"abc", 0},
                          {"", 0},
                          {"-3", -3},
                          {"12abc", 12},
                          {" 5", 0},
                          {"+5", 0},
                          {"-", 0},
                          {"99999999999", 2147483647},
                          {"-99999999999", -2147483647 - 1}};
    for (const Case& c : cases)
        EXPECT_EQ(strToInt(QString::fromLatin1(c.text)), c.value) << c.text;
}

} // namespace
