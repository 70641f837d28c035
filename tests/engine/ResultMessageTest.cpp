#include <gtest/gtest.h>
#include <string>

#include "common/StringTable.h"

namespace {

TEST(ResultMessageTest, EveryExitCodeGetsTheMessageOfTheTable) {
    const std::string host = "10.1.20.200:2121";
    const std::string folder = "/srv/R&D backups";
    const struct {
        std::uint32_t code;
        int operation;
        std::string expected;
    } cases[] = {
        {0, 0,
         "Operation completed successfully.\nPlease reboot the system by temporarily removing "
         "power for 10 seconds."},
        {0, 1,
         "Operation completed successfully.\nPlease reboot the system by temporarily removing "
         "power for 10 seconds."},
        {0, 2, "Operation completed successfully."},
        {2, 0, "Cannot connect to site " + host},
        {3, 1, "Directory " + folder + " does not exist"},
        {6, 0, "Backup operation has not been initiated from Velmora Manager for site " + host},
        {7, 1, "Restore operation has not been initiated from Velmora Manager for site " + host},
        {8, 5, "Unknown operation"},
        {9, 1,
         "Invalid data found within the local folder.  \nPlease ensure that a valid backup "
         "folder is specified."},
        {10, 2, "Communication problem encountered with site " + host},
        {12002, 0, "Communication problem encountered with site " + host},
        {12031, 1, "Communication problem encountered with site " + host},
        {16, 0,
         "Folder " + folder + " is in use by another run.\nTry again when that run has finished."},
        {5, 0, "Operation failed:\nInput/output error\n"},
        {1, 0, "Operation failed:\nOperation not permitted\n"},
        {28, 0, "Operation failed:\nNo space left on device\n"},
        {12029, 0, "Operation failed:\n"},
        {12003, 2, "Operation failed:\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " op " + std::to_string(c.operation));
        EXPECT_EQ(ResultMessage(c.code, c.operation, host, folder), c.expected);
    }
}

TEST(ResultMessageTest, DialogTextsAreExactAndUnknownIdsAreEmpty) {
    EXPECT_EQ(LoadString(IDS_ABOUTBOX), "&About Velmora Qel..");
    EXPECT_EQ(LoadString(IDS_RESUME_QUESTION),
              "The application has detected a previous attempt at this operation that has "
              "failed.  Do you wish to continue with this operation from the previous failure "
              "point?");
    EXPECT_EQ(LoadString(IDS_FOLDER) + "/x" + LoadString(IDS_FOLDER_DOES_NOT_EXIST),
              "Folder /x does not exist. \nPlease create the folder.");
    EXPECT_EQ(LoadString(IDS_DEBUG_LEVEL_SET), "Debug level set to ");
    for (const int unused : {0, 100, 102, 103, 109, 128})
        EXPECT_EQ(LoadString(unused), "") << unused;
}

} // namespace
