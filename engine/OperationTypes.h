#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Internet.h"

class CProgressCtrl;
class RunReport;

enum OperationKind : std::int32_t { Backup = 0, Restore = 1, LogFiles = 2 };

enum OperationPhase : std::int32_t { Preparing = 0, Transferring = 1, Finished = 2 };

// Result codes of a run; any other value is a system error code recorded by logFailure.
enum ResultCode : std::uint32_t {
    RESULT_OK = 0,
    RESULT_FTP_FAILED = 2,
    RESULT_FOLDER_NOT_CURRENT = 3,
    RESULT_BACKUP_NOT_INITIATED = 6,
    RESULT_RESTORE_NOT_INITIATED = 7,
    RESULT_UNKNOWN_OPERATION = 8,
    RESULT_INVALID_BACKUP = 9,
    RESULT_TRANSFER_FAILED = 10,
};

// An error number equal to one of the result codes would be read as that code and show the
// wrong message; 9 (EBADF) would even drop the restore marker as for an invalid backup.
inline bool isOwnResultCode(std::uint32_t code) {
    return code == RESULT_OK || code == RESULT_FTP_FAILED || code == RESULT_FOLDER_NOT_CURRENT ||
           (code >= RESULT_BACKUP_NOT_INITIATED && code <= RESULT_TRANSFER_FAILED);
}

// Handed to the worker. The front end fills it before the worker starts and keeps it, the
// bar, the phase and the status text alive until the worker has ended.
struct OperationContext {
    std::unique_ptr<CFtpConnection> connection;
    std::int32_t operation = Backup;
    std::string localFolder;
    std::string host;
    CProgressCtrl* progressBar = nullptr;
    // The worker stores the status text before it stores Transferring (release); the display
    // reads the text only after it has loaded Transferring (acquire).
    std::atomic<std::int32_t>* phase = nullptr;
    std::string* statusText = nullptr;
    // Set by the worker to the length in ms of the pause it takes after a failed transfer, as
    // that pause begins, so that the display can say why nothing seems to happen.
    std::atomic<std::uint32_t>* failurePause = nullptr;
    std::int32_t debugLevel = 0;
    std::int32_t resume = 0;
    // The user chose to start afresh: a backup may then discard an unfinished restore.
    bool discardUnfinished = false;
    // Files in flight at once, each over its own connection; 1 moves them one after another.
    std::int32_t filesAtOnce = 1;
    // Optional: what a front end wants to tell beyond the result code.
    RunReport* report = nullptr;
};

inline constexpr std::int32_t kMaxFilesAtOnce = 16;

inline constexpr const char* kSafeMarker = "7.1/safe";
inline constexpr const char* kRestoreMarker = "7.1/safe2";
