#pragma once

// One operation against its own test server, broken once and then resumed, with the checks
// every fault case shares: what the failed run left on both sides, and that the resumed run
// finishes the job.

#include <cstdint>
#include <string>
#include <vector>

#include "FaultHarness.h"
#include "support/FtpTestServer.h"

namespace faults {

// What a failed run must have reported.
struct Outcome {
    std::uint32_t code = 0;
    std::string message;   // qel's output holds it
    std::string logRecord; // the operation log holds it
};

// The result of a failed transfer, by the code logFailure recorded.
Outcome transferFailure(Op op, std::uint32_t code, const std::string& message);
// The result of an FTP exception that ended the run in the driver.
Outcome connectionFailure(const std::string& host, const std::string& logRecord);
// qel's exit status for a failure recorded with this code once the server had been reached:
// every communication failure is 10, a local error keeps its number where it fits.
int exitStatusAfterLogin(std::uint32_t code);

class Scenario {
  public:
    // A data tree of `mailboxFiles` + 3 files, and ST/VOICE.DAT when `largeFileBytes` is set
    // (or the log tree); for a restore, a backup of it made beforehand in the user's folder
    // and the marker put back.
    Scenario(Op op, int mailboxFiles, std::size_t largeFileBytes = 0);

    Op op() const { return m_op; }
    FtpTestServer& server() { return m_server; }
    QelUser& user() { return m_user; }
    std::string host() const { return m_server.hostEntry(); }
    int fileCount() const { return static_cast<int>(m_source.size()); }

    // The Nth RETR or STOR of a run that moves file `file` (from 1), and the number of logins
    // a run has made before it connects for that file.
    int transferCommand(int file) const;
    int loginsBefore(int file) const;
    // The logins before the checkpoint that comes before file 101.
    int loginsBeforeFirstCheckpoint() const { return loginsBefore(101) - 1; }

    // Every later run of qel starts through this wrapper (privileges, limits).
    void setWrapper(std::vector<std::string> wrapper) { m_wrapper = std::move(wrapper); }
    ProcessResult run(bool resume, std::chrono::milliseconds ftpTimeout = kFtpTimeout);
    // Where a file comes in the transfer order (from 1); for a backup only once it has listed.
    int positionOf(const std::string& relative) const;
    // The local or remote path a run stores the file of that position at.
    fs::path targetOf(int file) const;

    // The failed run ended as `outcome` says and left exactly files `firstLeft`.. to transfer.
    void expectFailure(const ProcessResult& result, const Outcome& outcome, int firstLeft);
    // What any interrupted run must leave: whole files only, no download leftovers.
    void expectNothingBroken();
    // A recovery file of this operation, host and folder that lists files `firstLeft`.. .
    void expectRecoveryFrom(int firstLeft);
    // Exactly the files before `failedFile` have been moved.
    void expectProgressUpTo(int failedFile);
    // Restarts the server without faults, runs again with --resume, and checks the job is
    // done, moving `filesLeft` files; without a recovery file that run starts afresh.
    void expectResumeCompletes(int filesLeft, bool fromRecoveryFile = true);

  private:
    std::vector<std::string> transferOrder() const;
    std::string localPathOf(const std::string& relative) const;
    std::string folderAsSystemNamesIt() const;

    Op m_op;
    FtpTestServer m_server;
    QelUser m_user;
    Tree m_source;
    std::vector<std::string> m_restoreOrder; // relative paths, for a restore
    std::vector<std::string> m_wrapper;
};

} // namespace faults
