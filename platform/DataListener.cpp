#include "platform/DataListener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/InternetFailure.h"

namespace {

[[noreturn]] void throwLocal(const char* step) {
    const int error = errno;
    ThrowInternetError(static_cast<std::uint32_t>(error), std::string("Cannot open a data port (") +
                                                              step + "): " + std::strerror(error));
}

sockaddr_storage localAddress(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throwLocal("getsockname");
    return address;
}

std::string portCommandFor(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        const auto* ip = reinterpret_cast<const unsigned char*>(&v4.sin_addr);
        const unsigned port = ntohs(v4.sin_port);
        return "PORT " + std::to_string(ip[0]) + "," + std::to_string(ip[1]) + "," +
               std::to_string(ip[2]) + "," + std::to_string(ip[3]) + "," +
               std::to_string(port >> 8) + "," + std::to_string(port & 0xff);
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    return "EPRT |2|" + std::string(text) + "|" + std::to_string(ntohs(v6.sin6_port)) + "|";
}

bool sameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, sizeof(in6_addr)) == 0;
}

} // namespace

DataListener::DataListener(const Socket& control) {
    sockaddr_storage address = localAddress(control.fd());
    if (address.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(address).sin_port = 0;
    else
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = 0;
    m_socket = Socket(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!m_socket.valid())
        throwLocal("socket");
    // Set before accept so that the accepted socket inherits them with window scaling.
    setsockopt(m_socket.fd(), SOL_SOCKET, SO_RCVBUF, &kDataSocketBuffer, sizeof kDataSocketBuffer);
    setsockopt(m_socket.fd(), SOL_SOCKET, SO_SNDBUF, &kDataSocketBuffer, sizeof kDataSocketBuffer);
    const socklen_t length =
        address.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (bind(m_socket.fd(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
        throwLocal("bind");
    if (listen(m_socket.fd(), 1) != 0)
        throwLocal("listen");
    m_portCommand = portCommandFor(localAddress(m_socket.fd()));
}

Socket DataListener::acceptFromPeer(const Socket& control) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    Socket accepted(accept4(m_socket.fd(), reinterpret_cast<sockaddr*>(&peer), &length,
                            SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!accepted.valid())
        return accepted;
    sockaddr_storage server{};
    socklen_t serverLength = sizeof server;
    if (getpeername(control.fd(), reinterpret_cast<sockaddr*>(&server), &serverLength) != 0 ||
        !sameHost(peer, server))
        accepted.close();
    return accepted;
}
