#include "engine/RunReport.h"

void RunReport::movingFile(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_currentFile = path;
}

std::string RunReport::currentFile() const {
    std::lock_guard lock(m_mutex);
    return m_currentFile;
}

void RunReport::fileMoved() {
    std::lock_guard lock(m_mutex);
    m_currentFile.clear();
    m_filesMoved.fetch_add(1, std::memory_order_relaxed);
}

void RunReport::failed(std::uint32_t code, std::string text) {
    std::lock_guard lock(m_mutex);
    if (!m_failure)
        m_failure = Failure{code, std::move(text), m_currentFile};
}

std::optional<RunReport::Failure> RunReport::failure() const {
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void RunReport::pausing(std::chrono::milliseconds length) {
    std::lock_guard lock(m_mutex);
    m_pauseEnd = Clock::now() + length;
}

std::optional<RunReport::Clock::time_point> RunReport::pauseEnd() const {
    std::lock_guard lock(m_mutex);
    return m_pauseEnd;
}
