#pragma once

#include <memory>

#include "cli/Options.h"
#include "cli/RunOutcome.h"
#include "platform/Internet.h"

// A login of the command line's own, for the commands that only read the server.
class ServerSession {
  public:
    // Connects as the operations do. On failure, connection() is null and the outcome says
    // why, with the exit status of a run that could not connect.
    ServerSession(const CliOptions& options, RunOutcome& outcome);
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    CInternetSession& session() { return m_session; }
    CFtpConnection* connection() { return m_connection.get(); }

  private:
    CInternetSession m_session;
    std::unique_ptr<CFtpConnection> m_connection;
};

// Records an FTP failure of a reading command in the outcome, as a run's would be.
void recordFailure(RunOutcome& outcome, const CInternetException& error, bool everConnected);
