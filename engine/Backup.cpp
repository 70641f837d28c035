#include "common/StringTable.h"
#include "engine/Connection.h"
#include "engine/Operations.h"
#include "engine/RecoveryFiles.h"
#include "engine/TransferLoopProgress.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/Enumeration.h"

namespace {

// Lists both server trees into `files`. False when a walk failed: a backup made from a
// shorter list would lack files and still end as a success.
bool enumerateServerTrees(OperationContext& context, CFileItemList& directories,
                          CFileItemList& files) {
    CFtpFileFind finder(context.connection.get(), 1);
    for (const char* name : kDataTrees) {
        const std::string tree = std::string(kRemoteRoot) + name;
        const int found = FindNormalFiles(kRemoteSearch, true, context.connection.get(), finder,
                                          tree, &directories, &files);
        if (found == kWalkFailed) {
            logMessage(formatString("doBackup: the listing of %s was cut short; nothing was "
                                    "copied, the local folder is unchanged\n",
                                    tree.c_str()));
            return false;
        }
        if (vlmFTPClient::debugAbove(1))
            logMessage(formatString("Normal files found in %s:  %d\n", tree.c_str(), found));
    }
    return true;
}

} // namespace

int doBackup(OperationContext& context, std::string localFolder, CInternetSession& session,
             int resume) {
    CFileItemList directories;
    CFileItemList files;
    if (unfinishedOperationIs(Restore) && !context.discardUnfinished) {
        logMessage("doBackup: k7.bad holds an unfinished restore; resume the restore, or start "
                   "the backup afresh to discard it\n");
        return RESULT_INVALID_BACKUP;
    }
    if (!resumeFromRecoveryFile(files, resume)) {
        if (!enumerateServerTrees(context, directories, files))
            return RESULT_TRANSFER_FAILED;
        clearFileListing();
        reconnect(context, session);
        if (!createFileListing(files))
            clearFileListing();
    }

    const std::size_t count = files.GetCount();
    enterTransferPhase(context, IDS_DATA_BACKUP, count);
    if (vlmFTPClient::debugAbove(1))
        logMessage(formatString("doBackup %zu files\n", count));
    reconnect(context, session);

    if (files.IsEmpty())
        return RESULT_OK;
    return getNormalFiles(context, kRemoteRoot, localFolder, files, session, true);
}
