#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/oplog/EngineState.h"
#include "platform/Internet.h"
#include "support/FtpTestServer.h"
#include "support/TestSupport.h"

// A test server with its own root and one logged-in connection to it.
class RemoteFixture : public ::testing::Test {
  protected:
    void TearDown() override {
        if (m_connection)
            m_connection->Close();
        m_connection.reset();
        SetTimeoutOverrideForTesting(0);
    }

    void startServer(std::vector<std::string> faults = {}) {
        FtpTestServer::Options options;
        options.faults = std::move(faults);
        m_server = std::make_unique<FtpTestServer>(std::move(options));
        m_connection = m_session.GetFtpConnection(m_server->hostEntry(), vlmFTPClient::state().user,
                                                  vlmFTPClient::state().password, 21, false);
    }

    CFtpConnection* connection() { return m_connection.get(); }
    std::filesystem::path onServer(const std::string& relative) const {
        return m_server->root() / relative;
    }
    void serverFile(const std::string& relative, const std::string& bytes = "data") {
        writeFile(onServer(relative), bytes);
    }
    void serverDirectory(const std::string& relative) {
        std::filesystem::create_directories(onServer(relative));
    }

    std::string pwd() {
        std::string directory;
        m_connection->GetCurrentDirectory(directory);
        return directory;
    }

    std::unique_ptr<FtpTestServer> m_server;
    CInternetSession m_session;
    std::unique_ptr<CFtpConnection> m_connection;
};
