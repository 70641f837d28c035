#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/FileItemList.h"
#include "engine/OperationTypes.h"
#include "engine/TransferStatistics.h"

// The operation code a recovery file carries: the operation's kind plus one.
inline constexpr std::int32_t kRecoveryCodeBackup = Backup + 1;
inline constexpr std::int32_t kRecoveryCodeRestore = Restore + 1;
inline constexpr std::int32_t kRecoveryCodeLogFiles = LogFiles + 1;

// Checkpoints before the 101st file and every 101 files after it.
inline constexpr int kFilesBetweenCheckpoints = 100;
inline constexpr std::uint32_t kPauseAfterFailureMs = 120000;

// Saves the files still to move, marks the file with the loop's code and names the folder in
// the registry; a file that cannot be marked is removed so that it is never offered.
void writeCheckpoint(CFileItemList& remaining, const std::string& localFolder, std::int32_t code);

// Logs the failed transfer and gives the loop's result: the recorded error code, or 10 when
// none was recorded or the code would read as one of the run's own results (0 above all).
int failedTransferResult(const char* routine);

// Puts the file that was being moved (if any) back at the head and saves what is left, so
// that a resume starts exactly with that file.
void saveFromFileInFlight(CFileItemList& files, std::unique_ptr<CFileItem>& inFlight,
                          const std::string& localFolder, std::int32_t code);

// Ends a transfer loop: a failed one pauses before it returns its result; one that moved
// every file removes the recovery file and writes the run's statistics.
int finishTransferLoop(int result, bool failed, TransferStatistics& statistics);
