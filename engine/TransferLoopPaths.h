#pragma once

#include <optional>
#include <string>

#include "common/FileItemList.h"

// Local paths use "/" on this platform.
inline constexpr char kLocalSeparator = '/';
inline constexpr char kRemoteSeparator = '/';

// Where a remote file lands under the local folder: 7.0/access2/a/b.dat becomes
// <folder>/access2/a/b.dat, /ST/x.log becomes <folder>/ST/x.log.
std::string localPathForRemote(const std::string& remotePath, const std::string& remoteRoot,
                               const std::string& localFolder);

// Where a local file of the backup goes on the server: <folder>/access2/a/b.dat becomes
// 7.0/access2/a/b.dat.
std::string remotePathForLocal(const std::string& localPath, const std::string& localFolder,
                               const std::string& remoteRoot);

// The local file a path of the listing names; nullopt for a path that could lead out of the
// local folder.
std::optional<std::string> localPathForListed(const std::string& listed,
                                              const std::string& localFolder);

// Whether a path has a ".." component, with which it could climb out of the folder it is
// joined to.
bool climbsOut(const std::string& path);

// Whether every listed path lies below the local folder.
bool allBelowFolder(CFileItemList& files, const std::string& localFolder);

// Whether a download stays in its place: a backup's file inside a data tree, a log file
// directly in the folder of one of the log patterns. Nothing else in the local folder (the
// recovery file, the listing, a hidden file beside them) is ever a download's target.
bool landsInItsPlace(const std::string& localPath, const std::string& localFolder, bool backup);
