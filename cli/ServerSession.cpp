#include "cli/ServerSession.h"

#include "cli/ExitStatus.h"
#include "engine/OperationTypes.h"
#include "engine/oplog/EngineState.h"

void recordFailure(RunOutcome& outcome, const CInternetException& error, bool everConnected) {
    outcome.result = RESULT_FTP_FAILED;
    outcome.everConnected = everConnected;
    outcome.failure = RunReport::Failure{error.m_dwError, error.GetErrorMessage(), {}};
    outcome.exitStatus = exitStatusFor(outcome.result, everConnected, outcome.failure);
}

// Passive mode, when chosen, comes from the process-wide setting the run applied.
ServerSession::ServerSession(const CliOptions& options, RunOutcome& outcome) {
    const auto& engine = vlmFTPClient::state();
    try {
        m_connection = m_session.GetFtpConnection(options.host, engine.user, engine.password,
                                                  INTERNET_DEFAULT_FTP_PORT);
        outcome.everConnected = true;
    } catch (const CInternetException& error) {
        recordFailure(outcome, error, false);
    }
}

ServerSession::~ServerSession() {
    if (m_connection)
        m_connection->Close();
    m_session.Close();
}
