#pragma once

#include <cstdint>
#include <string>

// The program's user-visible texts, by their resource ids 101-127.
enum StringId : int {
    IDS_ABOUTBOX = 101,
    IDS_BACKUP = 104,
    IDS_RESTORE = 105,
    IDS_LOGFILES = 106,
    IDS_SUCCESS = 107,
    IDS_OPERATION_FAILED = 108,
    IDS_DIRECTORY = 110,
    IDS_DOES_NOT_EXIST = 111,
    IDS_BACKUP_NOT_INITIATED = 112,
    IDS_RESTORE_NOT_INITIATED = 113,
    IDS_UNKNOWN_OPERATION = 114,
    IDS_REBOOT = 115,
    IDS_CANNOT_CONNECT = 116,
    IDS_INVALID_DATA = 117,
    IDS_PREPARING = 118,
    IDS_DOWNLOADING_LOGS = 119,
    IDS_DATA_BACKUP = 120,
    IDS_DATA_RESTORE = 121,
    IDS_DEBUG_LEVEL_SET = 122,
    IDS_FOLDER = 123,
    IDS_FOLDER_DOES_NOT_EXIST = 124,
    IDS_FOLDER_NOT_FOUND = 125,
    IDS_RESUME_QUESTION = 126,
    IDS_COMMUNICATION_PROBLEM = 127,
};

// The text of a resource id; empty for an id the table does not hold.
std::string LoadString(int id);

// The one-line result the user sees for a worker's exit code.
std::string ResultMessage(std::uint32_t exitCode, int operation, const std::string& host,
                          const std::string& localFolder);
