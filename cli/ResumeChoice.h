#pragma once

#include <cstdint>
#include <string>

#include "cli/Options.h"

// Whether the run resumes from the folder's recovery file (1) or starts afresh (0). Asks on
// the terminal when neither --resume nor --no-resume was given and there is one to ask; says
// in a line on stderr what it decided without asking, and why.
std::int32_t chooseResume(const CliOptions& options, const std::string& folder);
