#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/oplog/ToolVersion.h"

class CProgressCtrl;

// Module state of the engine: one set per process, owned by the worker thread while it runs.
namespace vlmFTPClient {

struct State {
    std::string password = "ulm D-XI";
    std::string user = "tas";
    std::string host;
    CProgressCtrl* progressBar = nullptr;
    std::atomic<std::int32_t>* phase = nullptr;
    std::string* statusText = nullptr;
    std::atomic<std::uint32_t>* failurePause = nullptr;
    std::int32_t debugLevel = 0;
    // Worker routines format their log lines here; it grows as a line needs, so a long path
    // is never cut off.
    std::string messageBuffer;
};

State& state();

// The gate of every optional log line: a strictly greater comparison with the signed level.
inline bool debugAbove(int threshold) {
    return state().debugLevel > threshold;
}

} // namespace vlmFTPClient

// printf-style formatting into a string of whatever length the result needs.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
