#include "engine/TransferLoopCheckpoint.h"

#include "engine/RecoveryFiles.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "platform/Sleep.h"
#include "platform/StopRequest.h"

void writeCheckpoint(CFileItemList& remaining, const std::string& localFolder, std::int32_t code) {
    // A file that could not be written leaves the last checkpoint's, marked as before.
    if (createMarkedRecoveryFile(remaining, localFolder, code) || markRecoveryFile(code))
        setRecoveryDirectory(localFolder);
    else
        clearRecoveryFile();
}

void saveFromFileInFlight(CFileItemList& files, std::unique_ptr<CFileItem>& inFlight,
                          const std::string& localFolder, std::int32_t code) {
    if (inFlight)
        files.AddHead(std::move(inFlight));
    writeCheckpoint(files, localFolder, code);
    if (StopSignal() != 0)
        logMessage(formatString("Stopped by signal %d; k7.bad lists the %zu files left\n",
                                StopSignal(), files.GetCount()));
}

int finishTransferLoop(int result, bool failed, TransferStatistics& statistics) {
    if (failed) {
        if (auto* announced = vlmFTPClient::state().failurePause)
            announced->store(kPauseAfterFailureMs, std::memory_order_release);
        Sleep(kPauseAfterFailureMs);
        return result;
    }
    clearRecoveryFile();
    statistics.endRun();
    return result;
}

int failedTransferResult(const char* routine) {
    const std::uint32_t recorded = logFailure(routine, RESULT_TRANSFER_FAILED);
    return isOwnResultCode(recorded) ? static_cast<int>(RESULT_TRANSFER_FAILED)
                                     : static_cast<int>(recorded);
}
