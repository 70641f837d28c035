#include <mutex>

#include "engine/Connection.h"
#include "engine/Operations.h"
#include "engine/TransferLoop.h"
#include "engine/TransferLoopCheckpoint.h"
#include "engine/TransferLoopPaths.h"
#include "engine/TransferStatistics.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/FtpWrappers.h"
#include "fileaccess/Navigation.h"
#include "fileaccess/PathRoutines.h"

int putNormalFiles(OperationContext& context, const std::string& localFolder,
                   const std::string& remoteRoot, CFileItemList& files, CInternetSession& session) {
    // Files moved at once may need the same new directory; one maker at a time, so that
    // none finds a chain half made by another.
    std::mutex makingDirectories;
    const auto makeMover = [&](OperationContext& owner) -> MoveOneFile {
        return [&, lastRemoteDirectory = std::string("/")](const CFileItem& file,
                                                           TransferStatistics& statistics) mutable {
            const std::string localPath = file.GetPath();
            const std::string remotePath = remotePathForLocal(localPath, localFolder, remoteRoot);
            if (vlmFTPClient::debugAbove(0))
                logMessage(
                    formatString("Putting %s\nto %s\n", localPath.c_str(), remotePath.c_str()));
            statistics.startFile();

            std::string remoteDirectory = remotePath;
            RemoveFileName(remoteDirectory);
            reconnect(owner, session);
            if (remoteDirectory != lastRemoteDirectory) {
                lastRemoteDirectory = remoteDirectory;
                const std::lock_guard oneMaker(makingDirectories);
                RemoteMakeDirs(owner.connection.get(), remoteDirectory, remoteRoot);
            }
            if (RemoteChangeToParentDir(owner.connection.get(), remotePath).empty()) {
                logMessage(formatString("putNormalFiles: the server did not report its current "
                                        "directory before %s\n",
                                        localPath.c_str()));
                return static_cast<int>(RESULT_FTP_FAILED);
            }
            const int result = RemotePutFile(owner.connection.get(), localPath, remotePath);
            statistics.endFile();
            if (result != 0)
                return failedTransferResult("putNormalFiles");
            statistics.fileTransferred(localPath);
            return 0;
        };
    };
    return runTransferLoop(context, session, files, localFolder, kRecoveryCodeRestore, {},
                           makeMover);
}
