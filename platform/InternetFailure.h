#pragma once

// How the FTP client reports a failure: the thread's last error is set and a
// CInternetException carries the same code.
//
//   12002  a socket step waited longer than its timeout (greeting, reply, data, accept)
//   12003  the server answered 4xx/5xx (refused greeting, TYPE/PORT/command/transfer)
//   12007  the host entry is malformed or its name does not resolve
//   12013  USER refused with 5xx          12014  PASS refused with 530
//   12015  any other refused login step
//   12029  no address of the host accepted the connection (refused, unreachable, timed out)
//   12030  the server closed the connection, sent a reply that is not FTP or too long, or
//          aborted a transfer with 426; a listing larger than 64 MiB
//   12031  the connection was reset (ECONNRESET, EPIPE)
//   errno  local failures: the file to upload or the download's folder (ENOENT, EACCES,
//          ENOSPC, EFBIG...), a path with CR/LF/NUL (EINVAL), no local data port;
//          a search that matches nothing (ENOENT)

#include <cstdint>
#include <string>

#include "platform/Internet.h"

[[noreturn]] void ThrowInternetError(std::uint32_t code, std::string text);

// A failed socket call: timeouts give 12002, resets and broken pipes 12031, the rest 12030.
[[noreturn]] void ThrowSocketError(int error, const std::string& what);

[[noreturn]] void ThrowTimeout();

// "The server returned an error: <reply>\n"
std::string RefusalText(const std::string& replyText);
