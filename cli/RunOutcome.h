#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/RunReport.h"

// Everything the messages and the summary of one run tell.
struct RunOutcome {
    std::uint32_t result = 0;
    int exitStatus = 0;
    bool everConnected = false;
    std::optional<RunReport::Failure> failure;
    std::size_t filesDone = 0;
    std::size_t filesTotal = 0;
    std::uint64_t bytes = 0;
    double seconds = 0;
    // Entries of the recovery file this run left for a resume; nullopt when none is left.
    std::optional<std::int32_t> recoveryEntries;
    std::string logPath;
    std::string message; // the result in a line, as printed
};
