#pragma once

// A request to end the run at its next safe point, set from a signal handler. The socket
// waits, the engine's pauses and the transfer loops look at it; the run then saves what is
// left and ends with the failure below.

// Async-signal-safe: the handler does nothing else.
void RequestStop(int signalNumber) noexcept;
// The signal that asked for the stop, 0 when none did.
int StopSignal() noexcept;
// Throws CInternetException ERROR_INTERNET_OPERATION_CANCELLED once a stop is requested.
void ThrowIfStopRequested();
