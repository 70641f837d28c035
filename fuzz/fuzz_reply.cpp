// Control-connection replies from a hostile server: the reader must end every input with a
// status, never crash, and a 257 path must never hold a line break or NUL.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/FtpReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::size_t offset = 0;
    // Odd-sized pieces, so that line ends fall across reads.
    FtpReplyReader reader([&](char* buffer, std::size_t capacity) {
        const std::size_t count = std::min({capacity, std::size_t{13}, bytes.size() - offset});
        std::copy_n(bytes.data() + offset, count, buffer);
        offset += count;
        return count;
    });
    FtpReply reply;
    while (reader.read(reply) == ReplyStatus::Complete) {
        if (reply.code < 100 || reply.code > 599 || reply.lines.empty())
            std::abort();
        reply.code = 257;
        if (const auto path = ParsePwdReply(reply))
            if (path->empty() || path->find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
                std::abort();
    }
    return 0;
}
