#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/TransferLoop.h"

// The transfer loop with up to context.filesAtOnce files in flight, each over a fresh
// connection of its own. Checkpoints come at the same counts as one after another; each lists
// the files in flight before those not yet begun, so that a run killed at any moment leaves a
// recovery file that holds every file not yet complete. After a failure no further file
// begins; those in flight end, and the recovery file lists the failed ones first. A server
// that greets an extra connection with 421 leaves the run with one file fewer at once.
int runParallelTransferLoop(OperationContext& context, CFileItemList& files,
                            const std::string& localFolder, std::int32_t recoveryCode,
                            const std::function<void()>& beforeFirstFile,
                            const MakeMover& makeMover);
