#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/FileItemList.h"
#include "engine/OperationTypes.h"
#include "engine/TransferStatistics.h"

// Moves one file of the loop; returns 0 when it arrived, the loop's result otherwise.
using MoveOneFile = std::function<int(const CFileItem& file, TransferStatistics& statistics)>;

// Makes a mover that works over the connection kept in `owner`: the loop's own context, or
// that of one of the files moved at once.
using MakeMover = std::function<MoveOneFile(OperationContext& owner)>;

// What both transfer loops share: a fresh connection and a checkpoint every 100 files; on a
// failed file or a thrown exception, the recovery file lists exactly what is left, starting
// with the file that was in flight. With more than one file at once, every file still in
// flight is listed after the failed ones.
int runTransferLoop(OperationContext& context, CInternetSession& session, CFileItemList& files,
                    const std::string& localFolder, std::int32_t recoveryCode,
                    const std::function<void()>& beforeFirstFile, const MakeMover& makeMover);
