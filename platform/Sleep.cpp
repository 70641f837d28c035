#include "platform/Sleep.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "platform/StopRequest.h"

namespace {

constexpr std::chrono::milliseconds kStopSlice{100};

std::atomic<double> g_pauseScale{1.0};
std::mutex g_hookMutex;
std::function<void(std::uint32_t)> g_hook;

std::function<void(std::uint32_t)> currentHook() {
    std::lock_guard lock(g_hookMutex);
    return g_hook;
}

} // namespace

void Sleep(std::uint32_t milliseconds) {
    if (auto hook = currentHook()) {
        hook(milliseconds);
        return;
    }
    const std::uint32_t scaled = ScaledPause(milliseconds);
    if (scaled == 0) {
        std::this_thread::yield();
        return;
    }
    // A requested stop ends the pause: the run has to reach its safe point soon.
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::milliseconds(scaled));
    while (StopSignal() == 0) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, kStopSlice));
    }
}

std::uint32_t ScaledPause(std::uint32_t milliseconds) {
    // Capped so that no factor can overflow the clock's duration.
    return static_cast<std::uint32_t>(
        std::min(std::round(milliseconds * g_pauseScale.load()), 4294967295.0));
}

void SetPauseScale(double factor) {
    if (std::isfinite(factor))
        g_pauseScale.store(factor < 0.0 ? 0.0 : factor);
}

void SetSleepHook(std::function<void(std::uint32_t)> hook) {
    std::lock_guard lock(g_hookMutex);
    g_hook = std::move(hook);
}
