#pragma once

#include <string>

#include "platform/Socket.h"

// The listening end of an active-mode data connection: the control connection's local
// address with an ephemeral port.
class DataListener {
  public:
    // Throws CInternetException with the errno code when no port can be opened.
    explicit DataListener(const Socket& control);

    // "PORT h1,h2,h3,h4,p1,p2" for IPv4, "EPRT |2|address|port|" for IPv6.
    const std::string& portCommand() const { return m_portCommand; }
    int fd() const { return m_socket.fd(); }

    // The waiting connection when it comes from the control connection's peer; an invalid
    // socket for a connection from anywhere else (it is dropped).
    Socket acceptFromPeer(const Socket& control);

  private:
    Socket m_socket;
    std::string m_portCommand;
};

// Socket buffers of data connections; small buffers cap a transfer well below disk speed.
inline constexpr int kDataSocketBuffer = 1 << 20;
