#pragma once

#include <cstdint>

#include "platform/Socket.h"

// Takes a control connection after QUIT and closes it once the server has closed its end, so
// that the server keeps the TIME_WAIT port (one connection per file would otherwise exhaust
// ours), without making the caller wait for it. A server that has not closed within waitMs is
// closed on regardless; at most a few connections are ever held.
void closeWhenPeerHasClosed(Socket socket, std::uint32_t waitMs);
