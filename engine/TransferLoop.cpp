#include "engine/TransferLoop.h"

#include <memory>

#include "engine/Connection.h"
#include "engine/RunReport.h"
#include "engine/TransferLoopCheckpoint.h"
#include "engine/TransferLoopParallel.h"
#include "engine/TransferLoopProgress.h"
#include "engine/TransferLoopReport.h"
#include "platform/Sleep.h"
#include "platform/StopRequest.h"
#include "platform/TempFile.h"

int runTransferLoop(OperationContext& context, CInternetSession& session, CFileItemList& files,
                    const std::string& localFolder, std::int32_t recoveryCode,
                    const std::function<void()>& beforeFirstFile, const MakeMover& makeMover) {
    if (context.filesAtOnce > 1)
        return runParallelTransferLoop(context, files, localFolder, recoveryCode, beforeFirstFile,
                                       makeMover);
    const MoveOneFile moveOne = makeMover(context);
    int result = 0;
    bool failed = false;
    int batch = 0;
    TransferStatistics statistics;
    statistics.startRun();
    ResetLeftoverSweep();
    std::unique_ptr<CFileItem> inFlight;
    try {
        if (beforeFirstFile)
            beforeFirstFile();
        while (!files.IsEmpty()) {
            ThrowIfStopRequested();
            if (++batch > kFilesBetweenCheckpoints) {
                reconnect(context, session);
                batch = 0;
                writeCheckpoint(files, localFolder, recoveryCode);
            }
            inFlight = files.RemoveHead();
            if (context.report)
                context.report->movingFile(inFlight->GetPath());
            result = moveOne(*inFlight, statistics);
            if (result != 0) {
                reportFailedFile(context.report, result);
                saveFromFileInFlight(files, inFlight, localFolder, recoveryCode);
                reportLeftFiles(context.report, files);
                failed = true;
                break;
            }
            inFlight.reset();
            // The one yield per file, which lets a watching display catch up.
            Sleep(0);
            if (context.report)
                context.report->fileMoved();
            stepProgress(context);
        }
    } catch (...) {
        // A lost connection ends the run in the driver; the file in flight is saved with the
        // rest so that a resume starts exactly there.
        saveFromFileInFlight(files, inFlight, localFolder, recoveryCode);
        reportLeftFiles(context.report, files);
        throw;
    }
    if (failed && context.report)
        context.report->pausing(std::chrono::milliseconds(ScaledPause(kPauseAfterFailureMs)));
    return finishTransferLoop(result, failed, statistics);
}
