#include "platform/PassiveData.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/DataListener.h"
#include "platform/InternetFailure.h"
#include "platform/LastError.h"

namespace {

std::optional<int> portNumber(long value) {
    return value >= 1 && value <= 65535 ? std::optional<int>(static_cast<int>(value))
                                        : std::nullopt;
}

// "(|||port|)": the delimiter is the first character inside the parentheses.
std::optional<int> extendedPort(const std::string& text) {
    const auto open = text.find('(');
    if (open == std::string::npos || open + 4 >= text.size())
        return std::nullopt;
    const char delimiter = text[open + 1];
    const std::string start(3, delimiter);
    if (text.compare(open + 1, 3, start) != 0)
        return std::nullopt;
    const char* first = text.data() + open + 4;
    long port = 0;
    const auto [stop, error] = std::from_chars(first, text.data() + text.size(), port);
    if (error != std::errc() || stop == first || *stop != delimiter)
        return std::nullopt;
    return portNumber(port);
}

// "h1,h2,h3,h4,p1,p2" after the first digit following the code.
std::optional<int> classicPort(const std::string& text) {
    const auto first = text.find_first_of("0123456789", 4);
    if (first == std::string::npos)
        return std::nullopt;
    long numbers[6] = {};
    const char* position = text.data() + first;
    const char* end = text.data() + text.size();
    for (int i = 0; i < 6; ++i) {
        const auto [stop, error] = std::from_chars(position, end, numbers[i]);
        if (error != std::errc() || numbers[i] < 0 || numbers[i] > 255)
            return std::nullopt;
        if (i < 5 && (stop == end || *stop != ','))
            return std::nullopt;
        position = stop + 1;
    }
    return portNumber(numbers[4] * 256 + numbers[5]);
}

[[noreturn]] void cannotConnect(int port, int error) {
    ThrowInternetError(ERROR_INTERNET_CANNOT_CONNECT,
                       "Cannot open the passive data connection to port " + std::to_string(port) +
                           ": " + std::strerror(error));
}

} // namespace

std::optional<int> ParsePassivePort(const FtpReply& reply) {
    const std::string text = reply.text();
    if (reply.code == 229)
        return extendedPort(text);
    if (reply.code == 227)
        return classicPort(text);
    return std::nullopt;
}

Socket ConnectDataToPeer(const Socket& control, int port, std::uint32_t timeoutMs) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(control.fd(), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        cannotConnect(port, errno);
    if (peer.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(peer).sin_port = htons(static_cast<std::uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6&>(peer).sin6_port = htons(static_cast<std::uint16_t>(port));
    Socket data(::socket(peer.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!data.valid())
        cannotConnect(port, errno);
    setsockopt(data.fd(), SOL_SOCKET, SO_RCVBUF, &kDataSocketBuffer, sizeof kDataSocketBuffer);
    setsockopt(data.fd(), SOL_SOCKET, SO_SNDBUF, &kDataSocketBuffer, sizeof kDataSocketBuffer);
    if (const int error =
            ConnectWithin(data, reinterpret_cast<const sockaddr*>(&peer), length, timeoutMs))
        cannotConnect(port, error);
    return data;
}
