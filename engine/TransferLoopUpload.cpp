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
#include "platform/Sleep.h"

int putNormalFiles(OperationContext& context, const std::string& localFolder,
                   const std::string& remoteRoot, CFileItemList& files, CInternetSession& session) {
    int result = 0;
    bool failed = false;
    int batch = 0;
    TransferStatistics statistics;
    statistics.startRun();
    std::string lastRemoteDirectory = "/";
    std::unique_ptr<CFileItem> inFlight;
    try {
        while (!files.IsEmpty()) {
            if (++batch > kFilesBetweenCheckpoints) {
                reconnect(context, session);
                batch = 0;
                writeCheckpoint(files, localFolder, kRecoveryCodeRestore);
            }
            inFlight = files.RemoveHead();
            const std::string localPath = inFlight->GetPath();
            const std::string remotePath = remotePathForLocal(localPath, localFolder, remoteRoot);
            if (vlmFTPClient::debugAbove(0))
                logMessage(
                    formatString("Putting %s\nto %s\n", localPath.c_str(), remotePath.c_str()));
            statistics.startFile();

            std::string remoteDirectory = remotePath;
            RemoveFileName(remoteDirectory);
            reconnect(context, session);
            if (remoteDirectory != lastRemoteDirectory) {
                lastRemoteDirectory = remoteDirectory;
                RemoteMakeDirs(context.connection.get(), remoteDirectory, remoteRoot);
            }
            if (RemoteChangeToParentDir(context.connection.get(), remotePath).empty()) {
                // Saved like any failed file, so that the recovery file lists exactly what is
                // left and a resume starts here.
                logMessage(
                    formatString("putNormalFiles: the server did not report its current directory "
                                 "before %s\n",
                                 localPath.c_str()));
                result = RESULT_FTP_FAILED;
                saveFromFileInFlight(files, inFlight, localFolder, kRecoveryCodeRestore);
                failed = true;
                break;
            }
            result = RemotePutFile(context.connection.get(), localPath, remotePath);
            statistics.endFile();
            if (result != 0) {
                result = failedTransferResult("putNormalFiles");
                saveFromFileInFlight(files, inFlight, localFolder, kRecoveryCodeRestore);
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
        saveFromFileInFlight(files, inFlight, localFolder, kRecoveryCodeRestore);
        throw;
    }
    return finishTransferLoop(result, failed, statistics);
}
