// Feeds arbitrary bytes to the readers of "k7.bad" and "k7.lst" as files on disk.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/RecoveryFiles.h"
#include "engine/oplog/OperationLog.h"

namespace fs = std::filesystem;

namespace {

fs::path g_directory;

void removeWorkDirectory() {
    std::error_code ignored;
    fs::remove_all(g_directory, ignored);
}

// Memory-backed when the system has it: a run does thousands of small writes.
fs::path scratchBase() {
    std::error_code error;
    return fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
}

void writeInput(const fs::path& file, const std::uint8_t* data, std::size_t size) {
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size)
        std::abort();
    std::fclose(out);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (scratchBase() / "qel-fuzz-recovery-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    g_directory = pattern;
    std::atexit(removeWorkDirectory);
    setRecoveryFolder(g_directory);
    setLogFilePath(fs::path("/dev/null"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path recovery = g_directory / kRecoveryFileName;
    const fs::path listing = g_directory / kListingFileName;
    writeInput(recovery, data, size);
    writeInput(listing, data, size);

    const auto header = readRecoveryHeader(recovery);
    CFileItemList files;
    const int used = useRecoveryFile(files);
    // The two readers must agree on what is damaged, and a failure leaves nothing behind.
    if (used != (header ? 1 : 0) || (!used && !files.IsEmpty()))
        std::abort();

    // Every record takes at least one byte after the 8-byte head.
    const auto paths = readFileListing(listing);
    if (paths && 8 + paths->size() > size)
        std::abort();
    return 0;
}
