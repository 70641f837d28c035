#include "support/RecordFileReader.h"

#include <cstring>

#include "support/TestSupport.h"

namespace {

constexpr std::size_t kRecoveryHeader = 12;
constexpr std::size_t kListingHeader = 8;

std::int32_t int32At(const std::string& bytes, std::size_t offset) {
    std::int32_t value = 0;
    if (offset + sizeof value <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::string recordAt(const std::string& bytes, std::size_t offset, std::size_t width) {
    if (offset >= bytes.size())
        return {};
    const std::string record = bytes.substr(offset, width);
    return record.substr(0, record.find('\0'));
}

// Records from `first` on, at most `count` and none beyond the end of the bytes.
std::vector<std::string> recordsFrom(const std::string& bytes, std::size_t first, std::size_t width,
                                     std::int32_t count) {
    std::vector<std::string> records;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t offset = first + width * static_cast<std::size_t>(i);
        if (offset >= bytes.size())
            break;
        records.push_back(recordAt(bytes, offset, width));
    }
    return records;
}

} // namespace

std::optional<RecoveryContent> readRecoveryFile(const std::filesystem::path& file) {
    if (!std::filesystem::exists(file))
        return std::nullopt;
    const std::string bytes = readFile(file);
    RecoveryContent content;
    content.code = int32At(bytes, 0);
    const std::int32_t width = int32At(bytes, 4);
    const std::int32_t count = int32At(bytes, 8);
    if (width <= 0 || count < 0)
        return content;
    const auto w = static_cast<std::size_t>(width);
    content.whole = bytes.size() == kRecoveryHeader + w * (2 + static_cast<std::size_t>(count));
    content.host = recordAt(bytes, kRecoveryHeader, w);
    content.folder = recordAt(bytes, kRecoveryHeader + w, w);
    content.paths = recordsFrom(bytes, kRecoveryHeader + 2 * w, w, count);
    return content;
}

void PrintTo(const RecoveryContent& content, std::ostream* out) {
    *out << "{code " << content.code << ", host " << content.host << ", folder " << content.folder
         << ", " << content.paths.size() << " paths" << (content.whole ? "" : ", NOT WHOLE");
    if (!content.paths.empty())
        *out << ", first " << content.paths.front();
    *out << "}";
}

std::vector<std::string> readListing(const std::filesystem::path& file) {
    const std::string bytes = readFile(file);
    const std::int32_t width = int32At(bytes, 0);
    if (width <= 0)
        return {};
    return recordsFrom(bytes, kListingHeader, static_cast<std::size_t>(width), int32At(bytes, 4));
}
