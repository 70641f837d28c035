#pragma once

#include <cstdint>
#include <string>

struct ServerLogin {
    ServerLogin(const std::string& host, const std::string& user, const std::string& password,
                const std::string& separator, std::int32_t port);
    explicit ServerLogin(std::string host);

    std::string host;
    std::string user;
    std::string password;
    std::string separator;
    std::int32_t port;
};
