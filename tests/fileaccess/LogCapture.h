#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "support/TestSupport.h"

// Sends the operation log to a fresh file at the given debug level; both are put back on
// destruction.
class LogCapture {
  public:
    explicit LogCapture(int debugLevel)
        : m_file(m_dir / "VelmoraQel.log"), m_savedLevel(vlmFTPClient::state().debugLevel) {
        setLogFilePath(m_file);
        vlmFTPClient::state().debugLevel = debugLevel;
    }
    ~LogCapture() {
        vlmFTPClient::state().debugLevel = m_savedLevel;
        setLogFilePath(std::nullopt);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void setLevel(int debugLevel) { vlmFTPClient::state().debugLevel = debugLevel; }

    std::string text() const {
        std::ifstream in(m_file, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream in(text());
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

    // The lines that begin with the prefix, in order.
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> result;
        for (const auto& line : lines())
            if (line.rfind(prefix, 0) == 0)
                result.push_back(line);
        return result;
    }

    void clear() { std::ofstream(m_file, std::ios::trunc); }

  private:
    TempDir m_dir;
    std::filesystem::path m_file;
    std::int32_t m_savedLevel;
};
