#pragma once

// How the FTP client reports a failure: the thread's last error is set and a
// CInternetException carries the same code.

#include <cstdint>
#include <string>

#include "platform/Internet.h"

[[noreturn]] void ThrowInternetError(std::uint32_t code, std::string text);

// A failed socket call: timeouts give 12002, resets and broken pipes 12031, the rest 12030.
[[noreturn]] void ThrowSocketError(int error, const std::string& what);

[[noreturn]] void ThrowTimeout();

// "The server returned an error: <reply>\n"
std::string RefusalText(const std::string& replyText);
