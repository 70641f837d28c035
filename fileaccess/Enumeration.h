#pragma once

#include <string>

#include "common/FileItemList.h"
#include "platform/Internet.h"

inline constexpr int kRemoteSearch = 1;
inline constexpr int kLocalSearch = 0;

// Breadth-first listing of every normal file below start, on the server (where 1, finder a
// CFtpFileFind) or on the local disk (any other where, finder a local CFileFind).
int FindNormalFiles(int where, bool recurse, CFtpConnection* connection, CFileFind& finder,
                    std::string start, CFileItemList* directories, CFileItemList* files);

// Removes a remote file, or a directory with everything below it (never the server's root).
bool RemoteDeleteTree(CFtpConnection* connection, std::string path);
