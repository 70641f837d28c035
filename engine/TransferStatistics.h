#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Timings and byte counts of one run of a transfer loop, behind the statistics lines of the
// operation log. Figures are gathered from debug level 1 on and written from level 7 on; below
// level 1 every call does nothing.
class TransferStatistics {
  public:
    void startRun();
    void startFile();
    void endFile();
    // Counts the file just moved, measured on its local copy, and writes its "perfile" line.
    void fileTransferred(const std::string& localPath);
    // Adds the bytes and transfer time of files another set of figures counted (files moved at
    // once count their own).
    void absorb(const TransferStatistics& other);
    // Writes the "overall" and "minuswait" lines.
    void endRun();

  private:
    std::time_t m_startTime = 0;
    std::time_t m_endTime = 0;
    double m_totalBytes = 0;
    double m_overallDuration = 0;
    std::int64_t m_fileStartTick = 0;
    std::int64_t m_fileEndTick = 0;
    double m_fileBytes = 0;
    double m_fileTicks = 0;
    double m_transferBytes = 0;
    double m_transferTicks = 0;
};
