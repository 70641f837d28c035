#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

// What a front end may tell beyond the result code: whether the server was ever reached, the
// file being moved, the failure in the FTP layer's own words, the pause after a failure and
// how many files the recovery file keeps. The worker writes it; the front end reads it at
// any time.
class RunReport {
  public:
    using Clock = std::chrono::steady_clock;

    struct Failure {
        std::uint32_t code = 0;
        std::string text; // the FTP layer's text (the server's reply for a refusal); may be empty
        std::string file; // the file in flight; empty outside the transfers
    };

    void connected() { m_connected.store(true, std::memory_order_relaxed); }
    bool everConnected() const { return m_connected.load(std::memory_order_relaxed); }

    void movingFile(const std::string& path);
    std::string currentFile() const;
    std::size_t filesMoved() const { return m_filesMoved.load(std::memory_order_relaxed); }
    // Between two files no file is in flight: a failure there belongs to none of them.
    void fileMoved();

    // The first failure of the run wins: what follows (a marker left alone) is its effect.
    void failed(std::uint32_t code, std::string text);
    std::optional<Failure> failure() const;

    void pausing(std::chrono::milliseconds length);
    // When the pause after a failure ends; nullopt when none has begun.
    std::optional<Clock::time_point> pauseEnd() const;

    void leftForRecovery(std::size_t count) { m_left.store(count, std::memory_order_relaxed); }
    std::size_t filesLeft() const { return m_left.load(std::memory_order_relaxed); }

  private:
    mutable std::mutex m_mutex;
    std::atomic<bool> m_connected{false};
    std::atomic<std::size_t> m_filesMoved{0};
    std::atomic<std::size_t> m_left{0};
    std::string m_currentFile;
    std::optional<Failure> m_failure;
    std::optional<Clock::time_point> m_pauseEnd;
};
