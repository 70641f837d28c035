#pragma once

#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/RunOutcome.h"

// The lines printed after a failed run, each to be prefixed "qel: ": what failed, why, what
// to do, whether a resume is possible and where the log is.
std::vector<std::string> failureLines(const CliOptions& options, const std::string& folder,
                                      const RunOutcome& outcome);
