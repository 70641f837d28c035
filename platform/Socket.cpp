#include "platform/Socket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/InternetFailure.h"
#include "platform/LastError.h"
#include "platform/StopRequest.h"

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void Socket::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void Socket::abort() {
    if (m_fd >= 0) {
        const linger reset{1, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    close();
}

namespace {

constexpr long long kStopSliceMs = 100;

} // namespace

int PollFor(pollfd* entries, unsigned count, std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ThrowIfStopRequested();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // The signal may reach another thread: the wait looks at the stop request in slices.
        const int ready =
            poll(entries, count, static_cast<int>(std::clamp<long long>(left, 0, kStopSliceMs)));
        if (ready > 0 || (ready == 0 && left <= kStopSliceMs))
            return ready;
        if (ready < 0 && errno != EINTR)
            ThrowSocketError(errno, "poll");
    }
}

short WaitFor(int fd, short events, std::uint32_t timeoutMs) {
    pollfd entry{fd, events, 0};
    return PollFor(&entry, 1, timeoutMs) > 0 ? entry.revents : 0;
}

namespace {

struct AddressListDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::unique_ptr<addrinfo, AddressListDeleter> resolve(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (status != 0 || !list)
        ThrowInternetError(ERROR_INTERNET_NAME_NOT_RESOLVED,
                           "The server name could not be resolved: " + host + " (" +
                               gai_strerror(status) + ")");
    return std::unique_ptr<addrinfo, AddressListDeleter>(list);
}

// 0 when connected, else the errno of the failure (ETIMEDOUT when no answer came in time).
int connectOne(const addrinfo& address, std::uint32_t timeoutMs, Socket& result) {
    Socket candidate(
        ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!candidate.valid())
        return errno;
    if (const int error = ConnectWithin(candidate, address.ai_addr, address.ai_addrlen, timeoutMs))
        return error;
    result = std::move(candidate);
    return 0;
}

} // namespace

int ConnectWithin(const Socket& socket, const sockaddr* address, unsigned length,
                  std::uint32_t timeoutMs) {
    if (::connect(socket.fd(), address, length) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    if (WaitFor(socket.fd(), POLLOUT, timeoutMs) == 0)
        return ETIMEDOUT;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return errno;
    return error;
}

Socket ConnectTo(const std::string& host, int port, std::uint32_t timeoutMs) {
    const auto addresses = resolve(host, port);
    int error = 0;
    for (const addrinfo* address = addresses.get(); address; address = address->ai_next) {
        Socket socket;
        error = connectOne(*address, timeoutMs, socket);
        if (error == 0)
            return socket;
    }
    const std::string reason = error == ETIMEDOUT
                                   ? "no answer within " + std::to_string(timeoutMs) + " ms"
                                   : std::strerror(error);
    ThrowInternetError(ERROR_INTERNET_CANNOT_CONNECT, "Cannot connect to " + host + " port " +
                                                          std::to_string(port) + ": " + reason);
}

void SendAll(const Socket& socket, const char* data, std::size_t size, std::uint32_t timeoutMs) {
    ThrowIfStopRequested();
    while (size > 0) {
        const ssize_t sent = ::send(socket.fd(), data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            ThrowSocketError(errno, "send");
        if (WaitFor(socket.fd(), POLLOUT, timeoutMs) == 0)
            ThrowTimeout();
    }
}

std::size_t ReceiveSome(const Socket& socket, char* data, std::size_t size,
                        std::uint32_t timeoutMs) {
    ThrowIfStopRequested();
    for (;;) {
        const ssize_t received = ::recv(socket.fd(), data, size, 0);
        if (received >= 0)
            return static_cast<std::size_t>(received);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            ThrowSocketError(errno, "receive");
        if (WaitFor(socket.fd(), POLLIN, timeoutMs) == 0)
            ThrowTimeout();
    }
}
