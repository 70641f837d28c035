#pragma once

// Blocking socket steps over non-blocking descriptors, each waiting at most its timeout in
// poll(). Failures throw CInternetException (see InternetFailure.h).

#include <cstddef>
#include <cstdint>
#include <string>

class Socket {
  public:
    Socket() = default;
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void close();
    // Closes with a reset, so that the peer sees an aborted transfer rather than a short one.
    void abort();

  private:
    int m_fd = -1;
};

// Tries every address of the host in turn. 12007 when the name does not resolve, 12029 when
// no address accepts the connection within the timeout.
Socket ConnectTo(const std::string& host, int port, std::uint32_t timeoutMs);

struct sockaddr;
// Connects a fresh non-blocking socket within the timeout: 0, or the errno of the failure
// (ETIMEDOUT when no answer came in time).
int ConnectWithin(const Socket& socket, const sockaddr* address, unsigned length,
                  std::uint32_t timeoutMs);

struct pollfd;
// poll() that resumes after signals; the number of ready descriptors, 0 after the timeout.
int PollFor(pollfd* entries, unsigned count, std::uint32_t timeoutMs);

// The events that occurred on fd (poll's revents); 0 when the timeout passed first.
short WaitFor(int fd, short events, std::uint32_t timeoutMs);

void SendAll(const Socket& socket, const char* data, std::size_t size, std::uint32_t timeoutMs);
// Up to size bytes; 0 at the end of the stream.
std::size_t ReceiveSome(const Socket& socket, char* data, std::size_t size,
                        std::uint32_t timeoutMs);
