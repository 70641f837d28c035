#include "engine/Connection.h"

#include "engine/RunReport.h"
#include "engine/oplog/EngineState.h"

void closeConnection(OperationContext& context) {
    if (!context.connection)
        return;
    context.connection->Close();
    context.connection.reset();
}

void openConnection(OperationContext& context, CInternetSession& session) {
    const auto& engine = vlmFTPClient::state();
    context.connection = session.GetFtpConnection(engine.host, engine.user, engine.password,
                                                  INTERNET_DEFAULT_FTP_PORT, false);
    if (context.report)
        context.report->connected();
}

void reconnect(OperationContext& context, CInternetSession& session) {
    closeConnection(context);
    openConnection(context, session);
}
