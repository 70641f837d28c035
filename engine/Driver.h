#pragma once

#include <cstdint>

#include "engine/OperationTypes.h"

// The worker's procedure: one operation from connection to result code. Sets the phase to
// Finished as its last act and returns the exit code.
std::uint32_t runOperation(OperationContext* context);

// Whether a backup or restore may touch the server's trees: RESULT_OK when the marker
// "7.1/safe" is there and the server names directories as entered; `missingMarker` without
// the marker; 10 when the lookup or the check failed. Changes nothing on the server.
std::uint32_t checkServerForTrees(CFtpConnection* connection, std::uint32_t missingMarker);

// Whether the current local directory holds a backup: ST, access2, ST/syscfg.*, ST/SYSDIR.*
// and ST/MMTA.BOX/MBxProf.*, matched without regard to letter case.
bool checkBackupFolder();
