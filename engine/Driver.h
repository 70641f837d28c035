#pragma once

#include <cstdint>

#include "engine/OperationTypes.h"

// The worker's procedure: one operation from connection to result code. Sets the phase to
// Finished as its last act and returns the exit code.
std::uint32_t runOperation(OperationContext* context);

// Whether the current local directory holds a backup: ST, access2, ST/syscfg.*, ST/SYSDIR.*
// and ST/MMTA.BOX/MBxProf.*, matched without regard to letter case.
bool checkBackupFolder();
