#include "platform/HostEntry.h"

#include <algorithm>
#include <charconv>

namespace {

bool isPlainHostText(const std::string& host) {
    return !host.empty() && std::none_of(host.begin(), host.end(), [](unsigned char c) {
        return c <= ' ' || c == 0x7f || c == '[' || c == ']' || c == '/' || c == '\\';
    });
}

std::optional<int> parsePort(const std::string& text) {
    int port = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, port);
    if (text.empty() || ec != std::errc() || ptr != end || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

std::optional<HostEntry> withPort(std::string host, const std::string& portText) {
    if (!isPlainHostText(host))
        return std::nullopt;
    auto port = parsePort(portText);
    if (!port)
        return std::nullopt;
    return HostEntry{std::move(host), *port};
}

} // namespace

std::optional<HostEntry> ParseHostEntry(const std::string& entry, int defaultPort) {
    if (entry.starts_with("[")) {
        const auto close = entry.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        std::string host = entry.substr(1, close - 1);
        const std::string rest = entry.substr(close + 1);
        if (rest.empty())
            return isPlainHostText(host) ? std::optional(HostEntry{host, defaultPort})
                                         : std::nullopt;
        if (rest[0] != ':')
            return std::nullopt;
        return withPort(std::move(host), rest.substr(1));
    }
    const auto colons = std::count(entry.begin(), entry.end(), ':');
    if (colons == 1) {
        const auto colon = entry.find(':');
        return withPort(entry.substr(0, colon), entry.substr(colon + 1));
    }
    // No colon: a name or IPv4 address; several: a bare IPv6 address.
    if (!isPlainHostText(entry))
        return std::nullopt;
    return HostEntry{entry, defaultPort};
}
