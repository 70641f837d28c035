// LIST data from a hostile server: no input may crash the parser or yield a name that leaves
// the listed directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/FtpListParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view listing(reinterpret_cast<const char*>(data), size);
    for (const auto& entry : ParseListing(listing))
        if (!IsSafeListedName(entry.name) || entry.name.find('/') != std::string_view::npos)
            std::abort();
    return 0;
}
