#include "engine/TransferStatistics.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"

namespace {

bool gathering() {
    return vlmFTPClient::debugAbove(0);
}
bool writing() {
    return vlmFTPClient::debugAbove(6);
}

// Milliseconds of wall time: the C library's clock() counts processor time on this platform,
// which would leave out the time spent waiting for the network.
std::int64_t tickNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double rate(double bytes, double divisor, double scale) {
    return divisor == 0 ? bytes : bytes * scale / divisor;
}

void writeLine(const char* label, double seconds, double bytes, double bytesPerSecond) {
    logMessage(formatString("%s:  duration = %f bytesTransfered = %.0f Avg Rate = %6.1f\n", label,
                            seconds, bytes, bytesPerSecond));
}

} // namespace

void TransferStatistics::startRun() {
    *this = TransferStatistics{};
    if (gathering())
        m_startTime = std::time(nullptr);
}

void TransferStatistics::startFile() {
    if (gathering())
        m_fileStartTick = tickNow();
}

void TransferStatistics::endFile() {
    if (gathering())
        m_fileEndTick = tickNow();
}

void TransferStatistics::fileTransferred(const std::string& localPath) {
    if (!gathering())
        return;
    std::error_code error;
    const auto size = std::filesystem::file_size(localPath, error);
    if (error)
        return; // a file that cannot be measured is left out of the figures
    m_fileBytes = static_cast<double>(size);
    m_totalBytes += m_fileBytes;
    m_transferBytes = m_totalBytes;
    m_fileTicks = static_cast<double>(m_fileEndTick - m_fileStartTick);
    m_transferTicks += m_fileTicks;
    if (writing())
        writeLine("perfile", m_fileTicks / 1000, m_fileBytes, rate(m_fileBytes, m_fileTicks, 1000));
}

void TransferStatistics::absorb(const TransferStatistics& other) {
    m_totalBytes += other.m_totalBytes;
    m_transferBytes = m_totalBytes;
    m_transferTicks += other.m_transferTicks;
}

void TransferStatistics::endRun() {
    if (!gathering())
        return;
    m_endTime = std::time(nullptr);
    m_overallDuration = static_cast<double>(m_endTime - m_startTime);
    if (!writing())
        return;
    writeLine("overall", m_overallDuration, m_totalBytes, rate(m_totalBytes, m_overallDuration, 1));
    writeLine("minuswait", m_transferTicks / 1000, m_transferBytes,
              rate(m_transferBytes, m_transferTicks, 1000));
}
