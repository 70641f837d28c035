#pragma once

#include <cstdint>
#include <optional>

#include "platform/FtpReply.h"
#include "platform/Socket.h"

// The port of a 229 reply to EPSV ("(|||port|)") or of a 227 reply to PASV
// ("(h1,h2,h3,h4,p1,p2)"); nothing when the reply holds none.
std::optional<int> ParsePassivePort(const FtpReply& reply);

// The data connection of passive mode, to the port on the control connection's peer. The
// address a 227 reply names is never used: a server must not steer data to another host.
// Throws CInternetException (12029) when the connection fails.
Socket ConnectDataToPeer(const Socket& control, int port, std::uint32_t timeoutMs);
