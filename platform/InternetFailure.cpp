#include "platform/InternetFailure.h"

#include <cerrno>
#include <cstring>

#include "platform/LastError.h"

CInternetException::CInternetException(std::uint32_t error, std::string message)
    : m_dwError(error), m_message(std::move(message)) {
    if (m_message.empty() || m_message.back() != '\n')
        m_message += '\n';
}

void ThrowInternetError(std::uint32_t code, std::string text) {
    SetLastError(code);
    SetLastErrorText(text);
    throw CInternetException(code, std::move(text));
}

void ThrowSocketError(int error, const std::string& what) {
    switch (error) {
    case ETIMEDOUT:
        ThrowTimeout();
    case ECONNRESET:
    case EPIPE:
        ThrowInternetError(ERROR_INTERNET_CONNECTION_RESET,
                           "The connection with the server was reset (" + what + ")");
    default:
        ThrowInternetError(ERROR_INTERNET_CONNECTION_ABORTED,
                           "The connection with the server was terminated abnormally (" + what +
                               ": " + std::strerror(error) + ")");
    }
}

void ThrowTimeout() {
    ThrowInternetError(ERROR_INTERNET_TIMEOUT, "The operation timed out");
}

std::string RefusalText(const std::string& replyText) {
    return "The server returned an error: " + replyText;
}
