#include "cli/TerminalProgress.h"

#include <algorithm>
#include <cinttypes>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 30;
constexpr int kDefaultColumns = 80;
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
// Rate and ETA mean little in the first moments of the transfers.
constexpr auto kSettled = std::chrono::seconds(2);

int terminalColumns(std::FILE* out) {
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kDefaultColumns;
}

// At most `columns` characters of UTF-8 text, never cutting a character in two.
std::string fitted(const std::string& text, int columns) {
    int shown = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (!continuation && ++shown > columns)
            return text.substr(0, i);
    }
    return text;
}

std::string pauseText(std::chrono::seconds left) {
    // The countdown first: a narrow terminal cuts the end of the line.
    return "waiting " + clockTime(left) +
           " after a failure, as the server requires; saving state, retrying is not automatic";
}

} // namespace

std::string humanBytes(std::uint64_t bytes) {
    static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1000 && unit + 1 < std::size(kUnits)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string clockTime(std::chrono::seconds duration) {
    const long long total = std::max<long long>(0, duration.count());
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

TerminalProgress::TerminalProgress(std::FILE* out, Style style,
                                   std::chrono::milliseconds lineInterval)
    : m_out(out), m_style(style), m_lineInterval(lineInterval) {}

void TerminalProgress::SetPos(int position) {
    std::lock_guard lock(m_mutex);
    m_position = std::clamp(position, m_lower, std::max(m_lower, m_upper));
}

void TerminalProgress::SetRange32(int lower, int upper) {
    std::lock_guard lock(m_mutex);
    m_lower = lower;
    m_upper = upper;
    m_position = std::clamp(m_position, m_lower, std::max(m_lower, m_upper));
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
}

void TerminalProgress::setTitle(const std::string& title, bool counting) {
    std::lock_guard lock(m_mutex);
    m_title = title;
    m_counting = counting;
    m_countingSince = Clock::now();
    m_lastShown = {};
    if (m_style != Style::Lines)
        return;
    std::fprintf(m_out, "%s\n", m_title.c_str());
    std::fflush(m_out);
    m_lastLine = m_title;
    m_lastShown = m_countingSince;
}

int TerminalProgress::position() const {
    std::lock_guard lock(m_mutex);
    return m_position;
}

int TerminalProgress::total() const {
    std::lock_guard lock(m_mutex);
    return m_counting ? m_upper : 0;
}

std::string TerminalProgress::rateAndEta(std::uint64_t bytes) const {
    const auto elapsed = Clock::now() - m_countingSince;
    if (elapsed < kSettled)
        return {};
    const double seconds = std::chrono::duration<double>(elapsed).count();
    std::string text =
        ", " + humanBytes(static_cast<std::uint64_t>(static_cast<double>(bytes) / seconds)) + "/s";
    if (m_position > 0 && m_position < m_upper) {
        const double left = seconds * (m_upper - m_position) / m_position;
        text += ", ETA " + clockTime(std::chrono::seconds(static_cast<long long>(left)));
    }
    return text;
}

std::string TerminalProgress::countText(const LiveStatus& status, bool detailed) const {
    std::string text = m_title + " " + std::to_string(m_position) + "/" + std::to_string(m_upper) +
                       " files, " + humanBytes(status.bytes);
    if (!detailed)
        return text;
    if (status.pauseLeft)
        return text + "; " + pauseText(*status.pauseLeft);
    text += rateAndEta(status.bytes);
    if (!status.currentFile.empty())
        text += ", " + status.currentFile;
    return text;
}

std::string TerminalProgress::barLine(const LiveStatus& status) const {
    if (m_counting)
        return countText(status, true);
    const long span = std::max(1L, static_cast<long>(m_upper) - m_lower);
    const long done = static_cast<long>(m_position) - m_lower;
    const int filled = static_cast<int>(std::clamp(done * kBarWidth / span, 0L, long{kBarWidth}));
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    std::string line = m_title + " [" + bar + "]";
    if (status.pauseLeft)
        line += " " + pauseText(*status.pauseLeft);
    return line;
}

void TerminalProgress::drawBar(const LiveStatus& status) {
    // One column short of the width: a full line would wrap on some terminals.
    const std::string line = fitted(barLine(status), terminalColumns(m_out) - 1);
    std::fprintf(m_out, "\r%s\x1b[K", line.c_str());
    std::fflush(m_out);
    m_barOnScreen = true;
}

void TerminalProgress::printLine(const LiveStatus& status) {
    const std::string line = m_counting ? countText(status, false) : m_title;
    if (line == m_lastLine)
        return;
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
    m_lastLine = line;
}

void TerminalProgress::update(const LiveStatus& status) {
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    if (m_style == Style::Silent)
        return;
    if (m_style == Style::Bar && now - m_lastShown >= kRedrawInterval) {
        drawBar(status);
        m_lastShown = now;
    } else if (m_style == Style::Lines && status.pauseLeft && !m_pauseAnnounced) {
        const std::string line = countText(status, false) + "; " + pauseText(*status.pauseLeft);
        std::fprintf(m_out, "%s\n", line.c_str());
        std::fflush(m_out);
        m_pauseAnnounced = true;
    } else if (m_style == Style::Lines && m_counting && now - m_lastShown >= m_lineInterval) {
        printLine(status);
        m_lastShown = now;
    }
}

void TerminalProgress::finish(const LiveStatus& status) {
    update(status);
    std::lock_guard lock(m_mutex);
    if (m_style == Style::Lines && m_counting)
        printLine(status);
    if (m_style == Style::Bar && m_barOnScreen) {
        drawBar(status);
        std::fputc('\n', m_out);
        std::fflush(m_out);
        m_barOnScreen = false;
    }
}
