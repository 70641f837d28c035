#include "cli/TerminalProgress.h"

#include <algorithm>

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

} // namespace

TerminalProgress::TerminalProgress(std::FILE* out, Style style,
                                   std::chrono::milliseconds lineInterval)
    : m_out(out), m_style(style), m_lineInterval(lineInterval) {}

void TerminalProgress::SetPos(int position) {
    std::lock_guard lock(m_mutex);
    m_position = std::clamp(position, m_lower, std::max(m_lower, m_upper));
    showLocked(false);
}

void TerminalProgress::SetRange32(int lower, int upper) {
    std::lock_guard lock(m_mutex);
    m_lower = lower;
    m_upper = upper;
    m_position = std::clamp(m_position, m_lower, std::max(m_lower, m_upper));
    showLocked(true);
}

void TerminalProgress::SetStep(int step) {
    std::lock_guard lock(m_mutex);
    m_step = step;
}

void TerminalProgress::StepIt() {
    std::lock_guard lock(m_mutex);
    const long next = static_cast<long>(m_position) + m_step;
    m_position =
        static_cast<int>(std::clamp(next, long{m_lower}, long{std::max(m_lower, m_upper)}));
    showLocked(false);
}

void TerminalProgress::setTitle(const std::string& title, bool counting) {
    std::lock_guard lock(m_mutex);
    m_title = title;
    m_counting = counting;
    if (m_style == Style::Lines) {
        std::fprintf(m_out, "%s\n", title.c_str());
        std::fflush(m_out);
        m_lastShownPosition = -1;
        return;
    }
    showLocked(true);
}

int TerminalProgress::position() const {
    std::lock_guard lock(m_mutex);
    return m_position;
}

void TerminalProgress::finish() {
    std::lock_guard lock(m_mutex);
    if (m_style == Style::Lines && m_counting && m_position != m_lastShownPosition)
        printLineLocked();
    if (m_style == Style::Bar && m_barOnScreen) {
        drawBarLocked();
        std::fputc('\n', m_out);
        std::fflush(m_out);
        m_barOnScreen = false;
    }
}

void TerminalProgress::showLocked(bool force) {
    const auto now = Clock::now();
    const bool atEnd = m_position >= m_upper;
    if (m_style == Style::Bar) {
        if (force || atEnd || now - m_lastShown >= kRedrawInterval) {
            drawBarLocked();
            m_lastShown = now;
        }
        return;
    }
    if (!m_counting || m_position == m_lastShownPosition)
        return;
    if (force || atEnd || now - m_lastShown >= m_lineInterval) {
        printLineLocked();
        m_lastShown = now;
    }
}

void TerminalProgress::drawBarLocked() {
    const long span = std::max(1L, static_cast<long>(m_upper) - m_lower);
    const long done = static_cast<long>(m_position) - m_lower;
    const int filled = static_cast<int>(std::clamp(done * kBarWidth / span, 0L, long{kBarWidth}));
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    if (m_counting)
        std::fprintf(m_out, "\r%s [%s] %d/%d\x1b[K", m_title.c_str(), bar.c_str(), m_position,
                     m_upper);
    else
        std::fprintf(m_out, "\r%s [%s]\x1b[K", m_title.c_str(), bar.c_str());
    std::fflush(m_out);
    m_barOnScreen = true;
}

void TerminalProgress::printLineLocked() {
    std::fprintf(m_out, "%s %d/%d\n", m_title.c_str(), m_position, m_upper);
    std::fflush(m_out);
    m_lastShownPosition = m_position;
}
