#include "engine/TransferLoop.h"

#include <memory>

#include "engine/Connection.h"
#include "engine/RunReport.h"
#include "engine/TransferLoopCheckpoint.h"
#include "engine/TransferLoopProgress.h"
#include "platform/LastError.h"
#include "platform/Sleep.h"
#include "platform/StopRequest.h"
#include "platform/TempFile.h"

namespace {

// The front end names the file and the server's words; the code alone says little. The
// recorded error, not the result: a local error number that would read as a result code
// comes back as 10.
void reportFailedFile(RunReport* report, int result) {
    if (!report)
        return;
    if (result == static_cast<int>(RESULT_FTP_FAILED)) {
        report->failed(ERROR_INTERNET_EXTENDED_ERROR,
                       "The server did not report its current directory");
        return;
    }
    const std::uint32_t code = GetLastError();
    report->failed(code, IsInternetError(code) ? GetLastErrorText() : std::string());
}

void reportLeftFiles(RunReport* report, const CFileItemList& files) {
    if (report)
        report->leftForRecovery(files.GetCount());
}

} // namespace

int runTransferLoop(OperationContext& context, CInternetSession& session, CFileItemList& files,
                    const std::string& localFolder, std::int32_t recoveryCode,
                    const std::function<void()>& beforeFirstFile, const MoveOneFile& moveOne) {
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
