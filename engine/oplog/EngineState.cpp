#include "engine/oplog/EngineState.h"

#include <cstdarg>
#include <cstdio>

namespace vlmFTPClient {

State& state() {
    static State engine;
    return engine;
}

} // namespace vlmFTPClient

std::string formatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return text;
}
