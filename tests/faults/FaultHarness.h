#pragma once

// Runs `qel` as a real process against the test server, each run isolated in its own
// configuration, state and log folders, and reads back what a run left behind.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/RecordFileReader.h"
#include "support/TestSupport.h"

namespace faults {

namespace fs = std::filesystem;

// Every FTP timeout of a run: what a stalled server costs, and long enough that a loaded
// machine never runs into it on a healthy connection.
inline constexpr std::chrono::milliseconds kFtpTimeout{4000};

using Tree = std::map<std::string, std::string>;

// The release component that server data paths start with.
inline constexpr const char* kDataRoot = "7.0/";

enum class Op { Backup, Restore, Logs };
const char* opName(Op op);
// The operation code a recovery file carries.
std::int32_t recoveryCode(Op op);

// One user of qel: a temporary home with its own registry, state folder, operation log and
// local folder. Nothing a run does reaches outside it.
class QelUser {
  public:
    QelUser();
    const fs::path& home() const { return m_home.path(); }
    fs::path folder() const { return m_home / "local"; }
    fs::path logFile() const { return m_home / "qel.log"; }
    std::string log() const;
    // The registry value naming the recovery folder, when set.
    std::optional<std::string> registryDirectory() const;
    std::map<std::string, std::string> environment() const;

    std::vector<std::string> arguments(Op op, const std::string& host, bool resume) const;
    // Options every later run of this user gets as well (--parallel N).
    void addOptions(const std::vector<std::string>& options);
    // Runs qel to its end. `wrapper` goes before the program (privilege drop, limits).
    ProcessResult run(Op op, const std::string& host, bool resume,
                      const std::vector<std::string>& wrapper = {},
                      std::chrono::milliseconds ftpTimeout = kFtpTimeout) const;

  private:
    TempDir m_home;
    std::vector<std::string> m_options;
};

// qel started in the background, for tests that kill it; killed when destroyed.
class RunningQel {
  public:
    // With closedOutput, qel's standard output is a pipe nobody reads (its reader is closed).
    RunningQel(const QelUser& user, Op op, const std::string& host, bool resume,
               std::chrono::milliseconds ftpTimeout, bool closedOutput = false);
    ~RunningQel();
    RunningQel(const RunningQel&) = delete;
    RunningQel& operator=(const RunningQel&) = delete;

    bool running();
    // SIGKILL, then reap; returns the signal it died of (0 when it had already exited).
    int kill();
    // Sends the signal and waits for the exit; the exit status, -1 when qel did not exit by
    // itself within a minute (it is then killed).
    int stop(int signalNumber);
    int waitForExit();

  private:
    int m_pid = -1;
    int m_status = 0;
};

// Polls `condition` every few milliseconds; false when it did not hold within `limit`.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// A server data tree of `mailboxFiles` files in access2 (ten to a folder, 1-8 KiB each,
// random bytes) plus the ST files a restore insists on, and the "safe" marker.
void makeDataTree(const fs::path& root, int mailboxFiles, unsigned seed = 7);
// The server's log files (every pattern), a few data files and no marker.
void makeLogTree(const fs::path& root);

// access2/... and ST/... below root.
Tree dataTrees(const fs::path& root);
// What a Log Files run must collect from the server root, under the same relative paths.
Tree logFilesOf(const fs::path& serverRoot);
// Every regular file below root except the program's own k7.* files.
Tree collectedFiles(const fs::path& root);
// Download leftovers (temporary files of downloads) anywhere below root.
std::vector<std::string> partialDownloads(const fs::path& root);

// A failure or a crash must never leave a wrong file behind: every file in `found` is whole,
// byte-identical to the one in `source`.
::testing::AssertionResult onlyWholeFiles(const Tree& found, const Tree& source);

// Remote paths as the relative paths they land at locally: without "7.0/" or a leading "/".
std::vector<std::string> relativeRemotePaths(const std::vector<std::string>& remotePaths);

// How often `what` occurs in `text` (log lines, for example).
std::size_t countOf(const std::string& text, const std::string& what);

// Every entry directly below `dir`, by name.
std::vector<std::string> entriesOf(const fs::path& dir);

// What qel prints for a result: the message, and "(code N)" when N does not fit an exit status.
std::string printedResult(const ProcessResult& result);

} // namespace faults
