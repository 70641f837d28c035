#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/RunReport.h"

inline constexpr int kExitUsage = 64;
inline constexpr int kExitCommunication = 10;
inline constexpr int kExitOtherError = 1;

// The exit status an administrator scripts on, from the worker's detailed result: 2 only
// when the server was never reached, 10 for every communication failure after that, a local
// system error's number where it fits and means nothing else.
int exitStatusFor(std::uint32_t result, bool everConnected,
                  const std::optional<RunReport::Failure>& failure);

// A local system error number as an exit status: itself up to 125 unless it would read as
// one of the statuses above; 1 otherwise.
int exitStatusForLocalError(std::uint32_t errorNumber);

// What an exit status means, in a few words.
std::string exitMeaning(int status);

// The table printed by --help.
std::string exitStatusTable();
