#pragma once

#include <string>

#include "cli/Options.h"
#include "cli/RunOutcome.h"

// The run as one JSON object on a line, for scripts: operation, host, folder, exit status and
// its meaning, the detailed result code, message, files, bytes, seconds, the recovery file
// left and the log.
std::string jsonSummary(const CliOptions& options, const std::string& folder,
                        const RunOutcome& outcome);

// text as a JSON string, quotes included.
std::string jsonString(const std::string& text);
