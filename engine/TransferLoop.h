#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/FileItemList.h"
#include "engine/OperationTypes.h"
#include "engine/TransferStatistics.h"

// Moves one file of the loop; returns 0 when it arrived, the loop's result otherwise.
using MoveOneFile = std::function<int(const CFileItem& file, TransferStatistics& statistics)>;

// What both transfer loops share: a fresh connection and a checkpoint every 100 files; on a
// failed file or a thrown exception, the recovery file lists exactly what is left, starting
// with the file that was in flight.
int runTransferLoop(OperationContext& context, CInternetSession& session, CFileItemList& files,
                    const std::string& localFolder, std::int32_t recoveryCode,
                    const std::function<void()>& beforeFirstFile, const MoveOneFile& moveOne);
