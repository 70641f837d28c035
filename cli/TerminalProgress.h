#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "common/ProgressCtrl.h"

// What the front end learns between the worker's progress calls.
struct LiveStatus {
    std::uint64_t bytes = 0; // file data moved in this run
    std::string currentFile;
    std::optional<std::chrono::seconds> pauseLeft; // the pause after a failure
};

// The progress display of the command line. On a terminal one line is redrawn, fitted to the
// terminal's width; otherwise (a log file, a pipe) plain lines at a moderate rate; or nothing.
// The worker moves the count; the waiting front end draws.
class TerminalProgress : public CProgressCtrl {
  public:
    enum class Style { Bar, Lines, Silent };

    TerminalProgress(std::FILE* out, Style style,
                     std::chrono::milliseconds lineInterval = std::chrono::seconds(2));

    void SetPos(int position) override;
    void SetRange32(int lower, int upper) override;
    void SetStep(int step) override;
    void StepIt() override;

    // Shows a status title. With counting, the display names position and range from here on.
    void setTitle(const std::string& title, bool counting);
    int position() const;
    // The file count of the transfer phase; 0 before it.
    int total() const;
    // Redraws when due.
    void update(const LiveStatus& status);
    // Shows where the count ended and ends the bar's line, so that what follows starts on a
    // line of its own.
    void finish(const LiveStatus& status);

  private:
    using Clock = std::chrono::steady_clock;

    std::string rateAndEta(std::uint64_t bytes) const;
    std::string countText(const LiveStatus& status, bool detailed) const;
    std::string barLine(const LiveStatus& status) const;
    void drawBar(const LiveStatus& status);
    void printLine(const LiveStatus& status);

    mutable std::mutex m_mutex;
    std::FILE* m_out;
    Style m_style;
    std::chrono::milliseconds m_lineInterval;
    std::string m_title;
    bool m_counting = false;
    bool m_barOnScreen = false;
    int m_lower = 0;
    int m_upper = 100;
    int m_step = 10;
    int m_position = 0;
    std::string m_lastLine;
    Clock::time_point m_lastShown{};
    Clock::time_point m_countingSince{};
    bool m_pauseAnnounced = false;
};

// "1.5 MB", "320 B": a byte count for people.
std::string humanBytes(std::uint64_t bytes);
// "1:05", "1:02:03"
std::string clockTime(std::chrono::seconds duration);
