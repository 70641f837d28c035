#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/Connection.h"
#include "engine/LocalLinks.h"
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
#include "platform/LastError.h"

namespace {

void logGetting(const std::string& remotePath, const std::string& localPath,
                const std::string& currentDirectory) {
    if (!vlmFTPClient::debugAbove(0))
        return;
    logMessage(formatString("Getting %s\nto %s\n", remotePath.c_str(), localPath.c_str()));
    logMessage(formatString("Current directory: %s\n", currentDirectory.c_str()));
}

// A hostile server can report directories with ".." in them, or answer PWD with another
// directory than the one entered; nothing it names may be stored outside its place.
bool refuseOutsideItsPlace(const std::string& remotePath, const std::string& localPath,
                           const std::string& localFolder, bool backup) {
    if (landsInItsPlace(localPath, localFolder, backup))
        return false;
    logMessage(formatString("getNormalFiles: %s would be stored at %s, outside its place in "
                            "the local folder\n",
                            remotePath.c_str(), localPath.c_str()));
    SetLastError(EINVAL);
    return true;
}

// A server can end a transfer with 226 before it has sent the whole file. A log file may have
// grown since it was listed, so only fewer bytes than listed tell of a short transfer.
bool receivedShort(const CFileItem& file, const std::string& localPath) {
    const auto listed = file.GetListedSize();
    struct stat status {};
    if (!listed || ::stat(localPath.c_str(), &status) != 0 ||
        static_cast<std::uint64_t>(status.st_size) >= *listed)
        return false;
    logMessage(formatString("getNormalFiles: %s came with %lld of the %llu bytes listed\n",
                            file.GetPath().c_str(), static_cast<long long>(status.st_size),
                            static_cast<unsigned long long>(*listed)));
    ::unlink(localPath.c_str());
    SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
    return true;
}

// A linked folder in the local folder would take the download (and the folders made for it)
// somewhere else.
bool refuseLinkedFolder(const std::string& localFolder, const std::string& localPath) {
    const auto link = linkedFolderOnTheWay(localFolder, localPath);
    if (!link)
        return false;
    logMessage(formatString("getNormalFiles: %s is a symbolic link; nothing is stored through "
                            "it\n",
                            link->c_str()));
    SetLastError(ELOOP);
    return true;
}

} // namespace

int getNormalFiles(OperationContext& context, const std::string& remoteRoot,
                   const std::string& localFolder, CFileItemList& files, CInternetSession& session,
                   bool backup) {
    const auto makeMover = [&](OperationContext& owner) -> MoveOneFile {
        return [&, lastLocalDirectory = std::string()](const CFileItem& file,
                                                       TransferStatistics& statistics) mutable {
            const std::string remotePath = file.GetPath();
            const std::string localPath = localPathForRemote(remotePath, remoteRoot, localFolder);
            if (refuseOutsideItsPlace(remotePath, localPath, localFolder, backup) ||
                refuseLinkedFolder(localFolder, localPath))
                return failedTransferResult("getNormalFiles");

            reconnect(owner, session);
            const std::string currentDirectory =
                RemoteChangeToParentDir(owner.connection.get(), remotePath);
            if (currentDirectory.empty()) {
                logMessage(formatString("getNormalFiles: the server did not report its current "
                                        "directory before %s\n",
                                        remotePath.c_str()));
                return static_cast<int>(RESULT_FTP_FAILED);
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
            const int result = RemoteGetFile(owner.connection.get(), remotePath, localPath);
            statistics.endFile();
            if (result == 0 && receivedShort(file, localPath))
                return failedTransferResult("getNormalFiles");
            if (result != 0) {
                // Without its folder the download fails with "no such file"; the folder's own
                // error is the one that tells the administrator what to fix.
                if (directoryError != 0)
                    SetLastError(directoryError);
                return failedTransferResult("getNormalFiles");
            }
            statistics.fileTransferred(localPath);
            return 0;
        };
    };
    const auto startAtTheRoot = [&] { RemoteChDir(context.connection.get(), "/"); };
    return runTransferLoop(context, session, files, localFolder,
                           backup ? kRecoveryCodeBackup : kRecoveryCodeLogFiles, startAtTheRoot,
                           makeMover);
}
