#pragma once

// Reads the recovery file and the listing byte by byte, independently of the program's own
// readers, so that tests see exactly what a run left on disk. Short or damaged files never
// read past their end.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// "k7.bad" field by field. `whole` holds when the size is exactly what the header says; it
// is not part of the comparison, which is about the content.
struct RecoveryContent {
    std::int32_t code = -1;
    std::string host;
    std::string folder;
    std::vector<std::string> paths;
    bool whole = false;

    bool operator==(const RecoveryContent& other) const {
        return code == other.code && host == other.host && folder == other.folder &&
               paths == other.paths;
    }
};

std::optional<RecoveryContent> readRecoveryFile(const std::filesystem::path& file);
void PrintTo(const RecoveryContent& content, std::ostream* out);

// "k7.lst": the listed paths in order.
std::vector<std::string> readListing(const std::filesystem::path& file);
