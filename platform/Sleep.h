#pragma once

#include <cstdint>
#include <functional>

// Every pause of the engine goes through here so that tests and the command line can
// shorten it. Sleep(0) yields the processor.
void Sleep(std::uint32_t milliseconds);

// How long Sleep(milliseconds) pauses with the current factor.
std::uint32_t ScaledPause(std::uint32_t milliseconds);

// Multiplies every non-zero pause by the factor (1 by default; 0 turns pauses into yields).
void SetPauseScale(double factor);

// Replaces the pause itself (tests record what was asked for); an empty function restores it.
void SetSleepHook(std::function<void(std::uint32_t)> hook);
