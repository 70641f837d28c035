#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// The test FTP server (tests/server/qel_ftpd.py) as a child process on a free loopback port,
// serving a fresh temporary root. Started by the constructor, stopped by the destructor.
//
// Fault switches are the server's command-line options, passed in `faults`, for example
// {"--fail-retr", "3"}; see `qel_ftpd.py --help`.
class FtpTestServer {
  public:
    struct Options {
        std::vector<std::string> faults;
        std::string bindAddress = "127.0.0.1"; // "::1" for IPv6
        // Serve this folder instead of a fresh temporary one (kept after the server stops).
        std::filesystem::path root;
    };

    FtpTestServer();
    explicit FtpTestServer(Options options);
    ~FtpTestServer();
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    int port() const { return m_port; }
    const std::filesystem::path& root() const { return m_root; }
    // What a user types as the host: "127.0.0.1:PORT" or "[::1]:PORT".
    std::string hostEntry() const;

    void stop();
    // Stops and starts again on the same port and root, optionally with other faults.
    void restart();
    void restart(std::vector<std::string> faults);

  private:
    void start();
    void removeOwnedFolders();

    Options m_options;
    std::filesystem::path m_root;
    bool m_ownsRoot = false;
    std::filesystem::path m_controlDir; // port file and the server's stderr
    int m_port = 0;
    int m_pid = -1;
};
