#pragma once

#include <string>

#include "platform/Internet.h"

int RemoteGetFile(CFtpConnection* connection, const std::string& remote, const std::string& local);
int RemotePutFile(CFtpConnection* connection, const std::string& local, const std::string& remote);
// What a listing of path's directory says about path: Found (isDirectory tells which kind),
// Missing, or Failed with the reason in `failure`.
FindOutcome RemoteLookUp(CFtpConnection* connection, const std::string& path, bool& isDirectory,
                         std::string& failure);
int RemoteCreateEmptyFile(CFtpConnection* connection, const std::string& path);
