#pragma once

#include "engine/OperationTypes.h"

// Closes and drops the context's connection (if any).
void closeConnection(OperationContext& context);

// Connects with the engine's host, user and password (port 21 unless the host names one,
// active mode) into the context. Throws CInternetException on failure.
void openConnection(OperationContext& context, CInternetSession& session);

// closeConnection then openConnection: every transferred file gets a connection of its own.
void reconnect(OperationContext& context, CInternetSession& session);
