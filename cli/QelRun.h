#pragma once

#include <cstdint>

#include "cli/Options.h"

// Carries out one operation as the desktop program's two dialogs do, and returns the
// program's exit status.
int runQel(const CliOptions& options);

// 0 on success, the result code when it fits an exit status (1-125), 1 for larger codes.
int exitStatusFor(std::uint32_t resultCode);
