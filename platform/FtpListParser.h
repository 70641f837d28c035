#pragma once

#include <string_view>
#include <vector>

#include "platform/Internet.h"

// Entries of a LIST reply in the Unix "ls -l" form or the DOS form, in listing order. Lines
// of neither form (totals, devices, FIFOs, anything unreadable) are skipped, and so is every
// name that could leave the listed directory (see IsSafeListedName).
std::vector<FtpListEntry> ParseListing(std::string_view listing);

// A name that is not empty, not "." or "..", and holds no "/", "\", NUL, CR or LF.
bool IsSafeListedName(std::string_view name);
