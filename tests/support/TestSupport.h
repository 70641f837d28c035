#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// A fresh folder "<prefix>XXXXXX" under the system's temporary folder.
std::filesystem::path createTempFolder(const std::string& prefix);
// Removes root and everything below it, also folders a test left read-only; never throws.
void removeTree(const std::filesystem::path& root);

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

void writeFile(const std::filesystem::path& file, const std::string& bytes);
std::string readFile(const std::filesystem::path& file);

// Every regular file below root, as "relative/path" -> content.
std::map<std::string, std::string> snapshotTree(const std::filesystem::path& root);

// A server tree that looks like a real one: access2 with nested mailbox folders of binary
// files, ST with syscfg.*, SYSDIR.* and MMTA.BOX/MBxProf.*, names with spaces, a 0-byte file,
// an empty directory and one file of several MB. Markers "safe" (and "safe2" when asked).
struct SampleTreeOptions {
    int mailboxFiles = 40; // files under access2, spread over nested folders
    std::size_t largeFileBytes = 3u << 20;
    bool safeMarker = true;
    bool restoreMarker = false;
    bool logFiles = false; // log files for every log pattern
    unsigned seed = 1;
};
void makeSampleServerTree(const std::filesystem::path& root, const SampleTreeOptions& options = {});

// A child process with its output captured; killed when it outlives the timeout.
struct ProcessResult {
    int exitCode = -1; // -1 when it did not exit normally
    int signal = 0;
    bool timedOut = false;
    std::string out;
    std::string err;
};
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extraEnv = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(120));

// Path of the built `qel` program.
std::filesystem::path qelBinary();
