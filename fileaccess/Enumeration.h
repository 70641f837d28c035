#pragma once

#include <cstddef>
#include <string>

#include "common/FileItemList.h"
#include "platform/Internet.h"

inline constexpr int kRemoteSearch = 1;
inline constexpr int kLocalSearch = 0;

// FindNormalFiles' result when the walk could not see everything: a directory could not be
// listed or entered, or the server could not say where it stands. A log line names the
// directory and the reply; a shorter list must never pass for the whole tree.
inline constexpr int kWalkFailed = -1;
// Bounds no real tree reaches: folders below the start, and directories plus files listed.
// Beyond them the walk fails.
inline constexpr std::size_t kMaxWalkDepth = 64;
inline constexpr std::size_t kMaxWalkEntries = 2'000'000;

// Breadth-first listing of every normal file below start, on the server (where 1, finder a
// CFtpFileFind) or on the local disk (any other where, finder a local CFileFind). Returns the
// number of files appended, 0 for a start that does not exist, or kWalkFailed.
int FindNormalFiles(int where, bool recurse, CFtpConnection* connection, CFileFind& finder,
                    std::string start, CFileItemList* directories, CFileItemList* files);

// Removes a remote file, or a directory with everything below it (never the server's root).
// The result is that of the last server step.
bool RemoteDeleteTree(CFtpConnection* connection, std::string path);

// RemoteDeleteTree, then a listing of the path's directory: true only when it shows the path
// gone (also when it never was there). Otherwise false, with a log line saying what stayed or
// which listing failed.
bool RemoteDeleteTreeFully(CFtpConnection* connection, const std::string& path);
