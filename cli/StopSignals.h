#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A closed output pipe never ends a run; SIGINT, SIGTERM and SIGHUP ask the engine to stop at
// its next safe point instead of killing the process in the middle of a file; the same
// signal a second time has its usual effect.
void installStopHandlers();

// For a run that a signal stopped before it finished: the exit status (128 + the signal)
// after telling how to continue; nothing otherwise.
std::optional<int> reportStop(std::uint32_t result);
