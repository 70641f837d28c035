#pragma once

#include <optional>
#include <string>

// "host", "host:port", "[v6-address]:port" or a bare IPv6 address; without a port, the default.
struct HostEntry {
    std::string host;
    int port = 21;
};

std::optional<HostEntry> ParseHostEntry(const std::string& entry, int defaultPort = 21);
