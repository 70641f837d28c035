#include "platform/LastError.h"

#include <cstring>

namespace {
thread_local std::uint32_t t_lastError = 0;
thread_local std::string t_lastErrorText;
} // namespace

std::uint32_t GetLastError() {
    return t_lastError;
}

void SetLastError(std::uint32_t code) {
    t_lastError = code;
}

std::string GetLastErrorText() {
    return t_lastErrorText;
}

void SetLastErrorText(std::string text) {
    t_lastErrorText = std::move(text);
}

std::optional<std::string> SystemErrorText(std::uint32_t code) {
    if (IsInternetError(code))
        return std::nullopt;
    char buffer[256];
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return std::string(text) + "\n";
}
