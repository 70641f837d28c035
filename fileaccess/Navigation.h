#pragma once

#include <string>

#include "platform/Internet.h"

// Current-directory moves on both sides; each reports where it ended.
std::string LocalChDir(const std::string& path);
std::string RemoteChDir(CFtpConnection* connection, const std::string& path);
std::string RemoteChangeToParentDir(CFtpConnection* connection, const std::string& path);
int LocalMakeDirs(const std::string& path);
int RemoteMakeDirs(CFtpConnection* connection, const std::string& path, std::string home);
