#pragma once

#include <string>

#include "platform/Internet.h"

int RemoteGetFile(CFtpConnection* connection, const std::string& remote, const std::string& local);
int RemotePutFile(CFtpConnection* connection, const std::string& local, const std::string& remote);
bool RemoteFileExists(CFtpConnection* connection, const std::string& path);
int RemoteCreateEmptyFile(CFtpConnection* connection, const std::string& path);
