#pragma once

#include <cstdint>
#include <optional>
#include <thread>

#include "engine/OperationTypes.h"

// Runs runOperation on a worker thread. The exit code is handed over only once the thread has
// ended, so no value can be mistaken for "still running".
class OperationRunner {
  public:
    OperationRunner() = default;
    ~OperationRunner();
    OperationRunner(const OperationRunner&) = delete;
    OperationRunner& operator=(const OperationRunner&) = delete;

    // The context must outlive the worker.
    void start(OperationContext& context);
    bool started() const { return m_thread.joinable() || m_exitCode.has_value(); }
    // The exit code once the worker has ended; std::nullopt while it runs.
    std::optional<std::uint32_t> exitCode();
    // Blocks until the worker has ended and returns its exit code.
    std::uint32_t wait();

  private:
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    std::uint32_t m_result = 0;
    std::optional<std::uint32_t> m_exitCode;
};
