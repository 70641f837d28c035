#include "common/StringTable.h"

#include <cerrno>
#include <map>

#include "platform/LastError.h"

namespace {

const std::map<int, std::string>& stringTable() {
    static const std::map<int, std::string> table = {
        {IDS_ABOUTBOX, "&About Velmora Qel.."},
        {IDS_BACKUP, "Backup"},
        {IDS_RESTORE, "Restore"},
        {IDS_LOGFILES, "Log Files"},
        {IDS_SUCCESS, "Operation completed successfully."},
        {IDS_OPERATION_FAILED, "Operation failed:\n"},
        {IDS_DIRECTORY, "Directory "},
        {IDS_DOES_NOT_EXIST, " does not exist"},
        {IDS_BACKUP_NOT_INITIATED,
         "Backup operation has not been initiated from Velmora Manager for site "},
        {IDS_RESTORE_NOT_INITIATED,
         "Restore operation has not been initiated from Velmora Manager for site "},
        {IDS_UNKNOWN_OPERATION, "Unknown operation"},
        {IDS_REBOOT, "\nPlease reboot the system by temporarily removing power for 10 seconds."},
        {IDS_CANNOT_CONNECT, "Cannot connect to site "},
        {IDS_INVALID_DATA, "Invalid data found within the local folder.  \nPlease ensure that a "
                           "valid backup folder is specified."},
        {IDS_PREPARING, "Preparing system:"},
        {IDS_DOWNLOADING_LOGS, "Downloading log files:"},
        {IDS_DATA_BACKUP, "Data backup:"},
        {IDS_DATA_RESTORE, "Data restore:"},
        {IDS_DEBUG_LEVEL_SET, "Debug level set to "},
        {IDS_FOLDER, "Folder "},
        {IDS_FOLDER_DOES_NOT_EXIST, " does not exist. \nPlease create the folder."},
        {IDS_FOLDER_NOT_FOUND, "Folder not found"},
        {IDS_RESUME_QUESTION,
         "The application has detected a previous attempt at this operation that has failed.  "
         "Do you wish to continue with this operation from the previous failure point?"},
        {IDS_COMMUNICATION_PROBLEM, "Communication problem encountered with site "},
    };
    return table;
}

} // namespace

std::string LoadString(int id) {
    const auto& table = stringTable();
    const auto found = table.find(id);
    return found == table.end() ? std::string() : found->second;
}

std::string ResultMessage(std::uint32_t exitCode, int operation, const std::string& host,
                          const std::string& localFolder) {
    switch (exitCode) {
    case 0: {
        std::string text = LoadString(IDS_SUCCESS);
        if (operation == 0 || operation == 1)
            text += LoadString(IDS_REBOOT);
        return text;
    }
    case 2:
        return LoadString(IDS_CANNOT_CONNECT) + host;
    case 3:
        return LoadString(IDS_DIRECTORY) + localFolder + LoadString(IDS_DOES_NOT_EXIST);
    case 6:
        return LoadString(IDS_BACKUP_NOT_INITIATED) + host;
    case 7:
        return LoadString(IDS_RESTORE_NOT_INITIATED) + host;
    case 8:
        return LoadString(IDS_UNKNOWN_OPERATION);
    case 9:
        return LoadString(IDS_INVALID_DATA);
    case 10:
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_CONNECTION_RESET:
        return LoadString(IDS_COMMUNICATION_PROBLEM) + host;
    case EBUSY:
        // Another run holds the folder's lock.
        return LoadString(IDS_FOLDER) + localFolder +
               " is in use by another run.\nTry again when that run has finished.";
    default:
        return LoadString(IDS_OPERATION_FAILED) + SystemErrorText(exitCode).value_or("");
    }
}
