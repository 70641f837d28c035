#pragma once

// Helpers shared by the tests of the operation log, the driver, the runner and qel.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/oplog/OperationLog.h"

namespace spine_test {

// Restores the process's current directory, which the driver changes.
class CurrentDirectoryGuard {
  public:
    CurrentDirectoryGuard() : m_saved(std::filesystem::current_path()) {}
    ~CurrentDirectoryGuard() {
        std::error_code ignored;
        std::filesystem::current_path(m_saved, ignored);
    }
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

  private:
    std::filesystem::path m_saved;
};

// Sets (or, with nullopt, removes) an environment variable for the life of the guard.
class EnvironmentVariable {
  public:
    EnvironmentVariable(const char* name, std::optional<std::string> value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_saved = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~EnvironmentVariable() {
        if (m_saved)
            ::setenv(m_name.c_str(), m_saved->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_saved;
};

// Sends the operation log to one file for the life of the guard.
class LogFileGuard {
  public:
    explicit LogFileGuard(std::optional<std::filesystem::path> file) {
        setLogFilePath(std::move(file));
    }
    ~LogFileGuard() { setLogFilePath(std::nullopt); }
    LogFileGuard(const LogFileGuard&) = delete;
    LogFileGuard& operator=(const LogFileGuard&) = delete;
};

// A loopback TCP socket bound to a free port. Listening, it takes connections into its
// backlog without ever answering; not listening, connections to its port are refused.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(bool listening) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            (listening && ::listen(m_fd, 8) != 0))
            return;
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int port() const { return m_port; }
    std::string hostEntry() const { return "127.0.0.1:" + std::to_string(m_port); }
    // A listening socket has a connection waiting to be accepted.
    bool connectionPending() const {
        pollfd poller{m_fd, POLLIN, 0};
        return ::poll(&poller, 1, 0) > 0;
    }

  private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace spine_test
