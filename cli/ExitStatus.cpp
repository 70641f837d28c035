#include "cli/ExitStatus.h"

#include <cerrno>
#include <csignal>

#include "engine/OperationTypes.h"
#include "platform/LastError.h"

namespace {

struct Row {
    int status;
    const char* meaning;
};

constexpr Row kRows[] = {
    {0, "done"},
    {2, "cannot connect to the server or log in"},
    {3, "the local folder cannot be used (missing, a file, not accessible)"},
    {6, "the Backup was not initiated from Velmora Manager"},
    {7, "the Restore was not initiated from Velmora Manager"},
    {8, "unknown operation"},
    {9, "the local folder holds no valid backup, an unfinished run of the other operation "
        "(resume it, or start afresh with --no-resume), or verify found differences"},
    {kExitCommunication, "communication failed after the login: time-out, connection lost or "
                         "reset, a command or transfer the server refused"},
    {EBUSY, "another run is using the local folder; nothing was changed"},
    {128 + SIGHUP, "stopped by SIGHUP; run the same command with --resume"},
    {128 + SIGINT, "stopped by SIGINT; run the same command with --resume"},
    {128 + SIGTERM, "stopped by SIGTERM; run the same command with --resume"},
    {kExitOtherError, "a local system error numbered above 125 or like one of the statuses "
                      "above"},
    {kExitUsage, "usage error"},
};

bool isLocalError(const std::optional<RunReport::Failure>& failure) {
    return failure && failure->code != 0 && !IsInternetError(failure->code) &&
           !isOwnResultCode(failure->code);
}

} // namespace

int exitStatusForLocalError(std::uint32_t errorNumber) {
    const bool taken = isOwnResultCode(errorNumber) || errorNumber == kExitUsage;
    return errorNumber <= 125 && !taken ? static_cast<int>(errorNumber) : kExitOtherError;
}

int exitStatusFor(std::uint32_t result, bool everConnected,
                  const std::optional<RunReport::Failure>& failure) {
    switch (result) {
    case RESULT_OK:
    case RESULT_FOLDER_NOT_CURRENT:
    case RESULT_BACKUP_NOT_INITIATED:
    case RESULT_RESTORE_NOT_INITIATED:
    case RESULT_UNKNOWN_OPERATION:
    case RESULT_INVALID_BACKUP:
        return static_cast<int>(result);
    default:
        break;
    }
    // A local failure reaches the worker's result as 10 when its number would read as a result.
    if (isLocalError(failure))
        return exitStatusForLocalError(failure->code);
    if (result == RESULT_FTP_FAILED)
        return everConnected ? kExitCommunication : static_cast<int>(RESULT_FTP_FAILED);
    if (result == RESULT_TRANSFER_FAILED || IsInternetError(result))
        return kExitCommunication;
    return exitStatusForLocalError(result);
}

std::string exitMeaning(int status) {
    for (const Row& row : kRows) {
        if (row.status == status)
            return row.meaning;
    }
    return "a local system error (its error number)";
}

std::string exitStatusTable() {
    std::string table;
    for (const Row& row : kRows) {
        const std::string status = std::to_string(row.status);
        table += "  " + status + std::string(6 - status.size(), ' ') + row.meaning + "\n";
        if (row.status == EBUSY)
            table += "  4-125 other: a local system error: its error number (the message names "
                     "it)\n";
    }
    return table;
}
