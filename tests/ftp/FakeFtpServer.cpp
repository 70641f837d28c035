#include "FakeFtpServer.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 5000;

bool readable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

} // namespace

FakeFtpSession::~FakeFtpSession() {
    closeControl();
}

void FakeFtpSession::send(const std::string& bytes) {
    std::size_t offset = 0;
    while (m_control >= 0 && offset < bytes.size()) {
        const ssize_t sent =
            ::send(m_control, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        offset += static_cast<std::size_t>(sent);
    }
}

std::string FakeFtpSession::readCommand() {
    for (;;) {
        const auto end = m_buffer.find("\r\n");
        if (end != std::string::npos) {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 2);
            commands.push_back(line);
            if (line.starts_with("PORT "))
                m_lastPort = line.substr(5);
            return line;
        }
        char chunk[4096];
        if (m_control < 0 || !readable(m_control, kWaitMs))
            return {};
        const ssize_t got = ::recv(m_control, chunk, sizeof chunk, 0);
        if (got <= 0)
            return {};
        m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string
FakeFtpSession::answerUntil(const std::vector<std::pair<std::string, std::string>>& replies,
                            const std::string& until) {
    for (;;) {
        const std::string line = readCommand();
        if (line.empty() || line.starts_with(until))
            return line;
        std::string answer = "502 Not scripted\r\n";
        for (const auto& [key, reply] : replies)
            if (line.starts_with(key)) {
                answer = reply;
                break;
            }
        send(answer);
    }
}

void FakeFtpSession::login() {
    send("220 Fake ready\r\n");
    answerUntil({{"USER", "331 Password\r\n"}}, "PASS");
    send("230 Logged in\r\n");
}

int FakeFtpSession::connectBack() {
    unsigned h[4], p[2];
    if (std::sscanf(m_lastPort.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0],
                    &p[1]) != 6)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(p[0] * 256 + p[1]));
    address.sin_addr.s_addr = htonl((h[0] << 24) | (h[1] << 16) | (h[2] << 8) | h[3]);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool FakeFtpSession::clientClosedWithin(int milliseconds) {
    if (!readable(m_control, milliseconds))
        return false;
    char byte;
    return ::recv(m_control, &byte, 1, MSG_PEEK) == 0;
}

void FakeFtpSession::closeControl() {
    if (m_control >= 0)
        ::close(m_control);
    m_control = -1;
}

FakeFtpServer::FakeFtpServer(Script script) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_listener, 4) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("fake FTP server cannot listen");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&FakeFtpServer::run, this, std::move(script));
}

FakeFtpServer::~FakeFtpServer() {
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

std::vector<std::string> FakeFtpServer::commands() {
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    return m_commands;
}

void FakeFtpServer::run(Script script) {
    if (!readable(m_listener, kWaitMs))
        return;
    const int control = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (control < 0)
        return;
    FakeFtpSession session(control);
    script(session);
    std::lock_guard lock(m_mutex);
    m_commands = session.commands;
}

void sendAndClose(int fd, const std::string& bytes, bool reset) {
    if (fd < 0)
        return;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent <= 0)
            break;
        offset += static_cast<std::size_t>(sent);
    }
    if (reset) {
        const linger abortive{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    ::close(fd);
}
