#pragma once

#include <cstdio>
#include <string>

#include "cli/Options.h"
#include "cli/RunOutcome.h"

// Checks a backup folder, changing nothing anywhere. Without a host: every file k7.lst names
// is present and readable. With a host: the server's two trees, listed read-only (no marker
// needed or touched), against the folder's: files missing on either side and files whose
// size differs. Prints the findings to `out`; the result is 0 only when all agree.
RunOutcome verifyBackup(const CliOptions& options, const std::string& folder, std::FILE* out);
