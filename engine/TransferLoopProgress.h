#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/OperationTypes.h"

inline constexpr int kBarBeforeTransfers = 96;
inline constexpr std::uint32_t kPauseBeforeTransfersMs = 5000;

// Switches the display to the transfer phase: bar at 96, a pause, the phase title, then the
// phase itself and a bar ranged over the files to move.
void enterTransferPhase(OperationContext& context, int titleId, std::size_t fileCount);

// One file moved.
void stepProgress(OperationContext& context);
