#include <cerrno>
#include <memory>

#include "engine/Connection.h"
#include "engine/Operations.h"
#include "engine/RecoveryFiles.h"
#include "engine/TransferLoopCheckpoint.h"
#include "engine/TransferLoopPaths.h"
#include "engine/TransferLoopProgress.h"
#include "engine/TransferStatistics.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/FtpWrappers.h"
#include "fileaccess/Navigation.h"
#include "fileaccess/PathRoutines.h"
#include "platform/LastError.h"
#include "platform/Sleep.h"

namespace {

void logGetting(const std::string& remotePath, const std::string& localPath,
                const std::string& currentDirectory) {
    if (!vlmFTPClient::debugAbove(0))
        return;
    logMessage(formatString("Getting %s\nto %s\n", remotePath.c_str(), localPath.c_str()));
    logMessage(formatString("Current directory: %s\n", currentDirectory.c_str()));
}

// A hostile server can report directories with ".." in them; nothing it names may be stored
// outside the local folder (whose own path, as the system reports it, has no "..").
bool refuseOutsideFolder(const std::string& remotePath, const std::string& localPath) {
    if (!climbsOut(localPath))
        return false;
    logMessage(formatString("getNormalFiles: %s would be stored outside the local folder\n",
                            remotePath.c_str()));
    SetLastError(EINVAL);
    return true;
}

} // namespace

int getNormalFiles(OperationContext& context, const std::string& remoteRoot,
                   const std::string& localFolder, CFileItemList& files, CInternetSession& session,
                   bool backup) {
    const std::int32_t code = backup ? kRecoveryCodeBackup : kRecoveryCodeLogFiles;
    int result = 0;
    bool failed = false;
    int batch = 0;
    TransferStatistics statistics;
    statistics.startRun();
    std::string lastLocalDirectory;
    std::unique_ptr<CFileItem> inFlight;
    try {
        RemoteChDir(context.connection.get(), "/");
        while (!files.IsEmpty()) {
            if (++batch > kFilesBetweenCheckpoints) {
                reconnect(context, session);
                batch = 0;
                writeCheckpoint(files, localFolder, code);
            }
            inFlight = files.RemoveHead();
            const std::string remotePath = inFlight->GetPath();
            const std::string localPath = localPathForRemote(remotePath, remoteRoot, localFolder);
            if (refuseOutsideFolder(remotePath, localPath)) {
                result = failedTransferResult("getNormalFiles");
                saveFromFileInFlight(files, inFlight, localFolder, code);
                failed = true;
                break;
            }

            reconnect(context, session);
            const std::string currentDirectory =
                RemoteChangeToParentDir(context.connection.get(), remotePath);
            if (currentDirectory.empty()) {
                // Saved like any failed file, so that the recovery file lists exactly what is
                // left and a resume starts here.
                logMessage(
                    formatString("getNormalFiles: the server did not report its current directory "
                                 "before %s\n",
                                 remotePath.c_str()));
                result = RESULT_FTP_FAILED;
                saveFromFileInFlight(files, inFlight, localFolder, code);
                failed = true;
                break;
            }
            logGetting(remotePath, localPath, currentDirectory);
            statistics.startFile();

            std::string localDirectory = localPath;
            RemoveFileName(localDirectory);
            std::uint32_t directoryError = 0;
            if (localDirectory != lastLocalDirectory) {
                lastLocalDirectory = localDirectory;
                if (LocalMakeDirs(localDirectory) != 0)
                    directoryError = static_cast<std::uint32_t>(errno);
            }
            result = RemoteGetFile(context.connection.get(), remotePath, localPath);
            statistics.endFile();
            if (result != 0) {
                // Without its folder the download fails with "no such file"; the folder's
                // own error is the one that tells the administrator what to fix.
                if (directoryError != 0)
                    SetLastError(directoryError);
                result = failedTransferResult("getNormalFiles");
                saveFromFileInFlight(files, inFlight, localFolder, code);
                failed = true;
                break;
            }
            statistics.fileTransferred(localPath);
            inFlight.reset();
            Sleep(0);
            stepProgress(context);
        }
    } catch (...) {
        // A lost connection ends the run in the driver; the file in flight is saved with the
        // rest so that a resume starts exactly there.
        saveFromFileInFlight(files, inFlight, localFolder, code);
        throw;
    }
    return finishTransferLoop(result, failed, statistics);
}
