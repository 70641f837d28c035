#include "engine/TransferLoopProgress.h"

#include <algorithm>
#include <climits>

#include "common/ProgressCtrl.h"
#include "common/StringTable.h"
#include "platform/Sleep.h"

void enterTransferPhase(OperationContext& context, int titleId, std::size_t fileCount) {
    CProgressCtrl* bar = context.progressBar;
    if (bar)
        bar->SetPos(kBarBeforeTransfers);
    Sleep(kPauseBeforeTransfersMs);
    // The display reads the title only once it has seen Transferring, so it goes first.
    if (context.statusText)
        *context.statusText = LoadString(titleId);
    if (context.phase)
        context.phase->store(Transferring, std::memory_order_release);
    if (bar) {
        bar->SetRange32(0, static_cast<int>(std::min<std::size_t>(fileCount, INT_MAX)));
        bar->SetStep(1);
        bar->SetPos(0);
    }
}

void stepProgress(OperationContext& context) {
    if (context.progressBar)
        context.progressBar->StepIt();
}
