#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted FTP server on a real loopback socket, for replies no real server sends. It
// accepts one control connection and runs the script on its own thread. Every wait is
// bounded, so a script that expects more than the client does ends by itself.
class FakeFtpSession {
  public:
    explicit FakeFtpSession(int control) : m_control(control) {}
    ~FakeFtpSession();

    void send(const std::string& bytes);
    // The next command line without its line end; empty after EOF or 5 s of silence.
    std::string readCommand();
    // Reads commands, answering each by the first reply whose key starts the command, until
    // one starts with `until` (which is returned unanswered).
    std::string answerUntil(const std::vector<std::pair<std::string, std::string>>& replies,
                            const std::string& until);
    // Greets, takes USER and PASS, and answers TYPE.
    void login();
    // Connects to the address of the last PORT command.
    int connectBack();
    // Whether the client closed the control connection within the time.
    bool clientClosedWithin(int milliseconds);
    void closeControl();

    std::vector<std::string> commands;

  private:
    int m_control;
    std::string m_buffer;
    std::string m_lastPort;
};

class FakeFtpServer {
  public:
    using Script = std::function<void(FakeFtpSession&)>;

    explicit FakeFtpServer(Script script);
    ~FakeFtpServer();

    std::string hostEntry() const { return "127.0.0.1:" + std::to_string(m_port); }
    // Commands the session saw; call once the client is done with the server.
    std::vector<std::string> commands();

  private:
    void run(Script script);

    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_commands;
};

// Writes the bytes to a connected socket and closes it, optionally with a reset.
void sendAndClose(int fd, const std::string& bytes, bool reset = false);
