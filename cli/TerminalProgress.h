#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "common/ProgressCtrl.h"

// The progress display of the command line. On a terminal one line is redrawn as a bar;
// otherwise (a log file, a pipe) the count is printed as plain lines at a moderate rate.
// Calls come from the worker and from the waiting front end alike.
class TerminalProgress : public CProgressCtrl {
  public:
    enum class Style { Bar, Lines };

    TerminalProgress(std::FILE* out, Style style,
                     std::chrono::milliseconds lineInterval = std::chrono::seconds(2));

    void SetPos(int position) override;
    void SetRange32(int lower, int upper) override;
    void SetStep(int step) override;
    void StepIt() override;

    // Shows a status title. With counting, the display names position and range from here on.
    void setTitle(const std::string& title, bool counting);
    int position() const;
    // Shows where the count ended and ends the bar's line, so that what follows starts on a
    // line of its own.
    void finish();

  private:
    using Clock = std::chrono::steady_clock;

    void showLocked(bool force);
    void drawBarLocked();
    void printLineLocked();

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
    int m_lastShownPosition = -1;
    Clock::time_point m_lastShown{};
};
