#include "remotelog/ServerLogin.h"

#include <utility>

ServerLogin::ServerLogin(const std::string& host, const std::string& user,
                         const std::string& password, const std::string& separator,
                         std::int32_t port)
    : host(host), user(user), password(password), separator(separator), port(port) {}

ServerLogin::ServerLogin(std::string host)
    : ServerLogin(std::move(host), "tas", "ulm D-XI", "/", 21) {}
