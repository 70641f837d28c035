#include "platform/PeerClose.h"

#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

// Enough for the connections of a few files in a row; a server slow to close makes the
// oldest one wait for it.
constexpr std::size_t kMaxHeld = 16;

struct Held {
    Socket socket;
    Clock::time_point deadline;
};

std::mutex g_mutex;

std::deque<Held>& held() {
    static std::deque<Held> connections;
    return connections;
}

// Reads whatever is left (the reply to QUIT); true once the server has closed or the
// connection has failed, so that nothing more can come.
bool peerHasClosed(const Socket& socket) {
    char sink[4096];
    for (;;) {
        const ssize_t got = ::recv(socket.fd(), sink, sizeof sink, 0);
        if (got > 0)
            continue;
        if (got == 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }
}

bool finished(const Held& connection, Clock::time_point now) {
    return connection.deadline <= now || peerHasClosed(connection.socket);
}

void waitForOldest(std::deque<Held>& connections) {
    const Held& oldest = connections.front();
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(oldest.deadline - Clock::now())
                .count();
        if (left <= 0 ||
            WaitFor(oldest.socket.fd(), POLLIN, static_cast<std::uint32_t>(left)) == 0 ||
            peerHasClosed(oldest.socket))
            break;
    }
    connections.pop_front();
}

} // namespace

void closeWhenPeerHasClosed(Socket socket, std::uint32_t waitMs) {
    std::lock_guard lock(g_mutex);
    auto& connections = held();
    const auto now = Clock::now();
    std::erase_if(connections, [now](const Held& connection) { return finished(connection, now); });
    while (connections.size() >= kMaxHeld)
        waitForOldest(connections);
    connections.push_back({std::move(socket), now + std::chrono::milliseconds(waitMs)});
}
