#include "common/StringTable.h"
#include "engine/Connection.h"
#include "engine/Operations.h"
#include "engine/RecoveryFiles.h"
#include "engine/TransferLoopProgress.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "remotelog/RemoteLogFileManager.h"
#include "remotelog/ServerLogin.h"

int getLogFiles(OperationContext& context, const std::string& localFolder,
                CInternetSession& session, int resume) {
    CFileItemList files;
    if (!resumeFromRecoveryFile(files, resume)) {
        CRemoteLogFileManager manager(&session, ServerLogin(vlmFTPClient::state().host),
                                      localFolder);
        if (!manager.GetRemoteLogFiles(&files))
            return RESULT_TRANSFER_FAILED;
    }

    const std::size_t count = files.GetCount();
    if (count == 0)
        return RESULT_OK;
    enterTransferPhase(context, IDS_DOWNLOADING_LOGS, count);
    reconnect(context, session);
    if (vlmFTPClient::debugAbove(1))
        logMessage(formatString("getLogFiles %zu files\n", count));
    return getNormalFiles(context, kRemoteRoot, localFolder, files, session, false);
}
