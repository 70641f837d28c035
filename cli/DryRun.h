#pragma once

#include <cstdio>
#include <string>

#include "cli/Options.h"
#include "cli/RunOutcome.h"

// Connects, checks what the operation checks first (the marker, the server's path dialect,
// for a restore the local folder), and prints to `out` what it would delete,
// create and transfer, changing nothing on the server or in the folder: no marker, recovery
// file, listing or registry value. The outcome is that of a run that would start (0) or the
// one the run would end with before it changed anything.
RunOutcome dryRun(const CliOptions& options, const std::string& folder, std::FILE* out);
