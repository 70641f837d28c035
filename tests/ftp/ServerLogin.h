#pragma once

#include <memory>
#include <string>

#include "platform/Internet.h"
#include "platform/LastError.h"
#include "support/FtpTestServer.h"

inline const std::string kTestUser = "tas";
inline const std::string kTestPassword = "ulm D-XI";

inline std::unique_ptr<CFtpConnection> loginTo(CInternetSession& session,
                                               const FtpTestServer& server) {
    return session.GetFtpConnection(server.hostEntry(), kTestUser, kTestPassword);
}

// The code of the CInternetException the step throws; 0 when it throws none.
template <typename Step> std::uint32_t codeThrownBy(Step step) {
    try {
        step();
    } catch (const CInternetException& failure) {
        return failure.m_dwError;
    }
    return 0;
}
