#include "engine/TransferLoopPaths.h"

#include <string_view>

#include "engine/Operations.h"
#include "fileaccess/PathRoutines.h"
#include "remotelog/RemoteLogFileManager.h"

namespace {

bool inDataTree(const std::string& directory) {
    for (const std::string tree : kDataTrees) {
        if (directory == tree || directory.starts_with(tree + kLocalSeparator))
            return true;
    }
    return false;
}

bool isLogPatternFolder(const std::string& directory) {
    for (const char* const* pattern = kLogPatterns; **pattern; ++pattern) {
        std::string folder = *pattern;
        RemoveFileName(folder);
        StripTrailingSeparators(folder);
        ConvertSeparators(folder, kLocalSeparator);
        if (directory == folder)
            return true;
    }
    return false;
}

} // namespace

std::string localPathForRemote(const std::string& remotePath, const std::string& remoteRoot,
                               const std::string& localFolder) {
    std::string relative = remotePath;
    MakeRelativePath(relative, remoteRoot);
    std::string local;
    JoinPath(local, kLocalSeparator, {localFolder, relative});
    return local;
}

std::string remotePathForLocal(const std::string& localPath, const std::string& localFolder,
                               const std::string& remoteRoot) {
    std::string relative = localPath;
    MakeRelativePath(relative, localFolder);
    std::string remote;
    JoinPath(remote, kRemoteSeparator, {remoteRoot, relative});
    return remote;
}

std::optional<std::string> localPathForListed(const std::string& listed,
                                              const std::string& localFolder) {
    const std::string_view releaseRoot = kRemoteRoot;
    std::string rest = listed;
    if (rest.compare(0, releaseRoot.size(), releaseRoot) == 0)
        rest.erase(0, releaseRoot.size() - 1);
    ConvertSeparators(rest, kLocalSeparator);
    if (rest.empty() || climbsOut(rest))
        return std::nullopt;
    // A path without a leading separator still belongs inside the folder, not beside it.
    if (rest.front() != kLocalSeparator)
        rest.insert(rest.begin(), kLocalSeparator);
    if (!localFolder.empty() && localFolder.back() == kLocalSeparator)
        rest.erase(0, 1);
    return localFolder + rest;
}

bool climbsOut(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        if (path.compare(start, end - start, "..") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

bool allBelowFolder(CFileItemList& files, const std::string& localFolder) {
    std::string prefix = localFolder;
    if (prefix.empty() || prefix.back() != kLocalSeparator)
        prefix += kLocalSeparator;
    for (auto pos = files.GetHeadPosition(); pos;) {
        const std::string& path = files.GetNext(pos).GetPath();
        if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size() ||
            climbsOut(path))
            return false;
    }
    return true;
}

bool landsInItsPlace(const std::string& localPath, const std::string& localFolder, bool backup) {
    std::string prefix = localFolder;
    if (prefix.empty() || prefix.back() != kLocalSeparator)
        prefix += kLocalSeparator;
    if (!localPath.starts_with(prefix) || climbsOut(localPath))
        return false;
    std::string directory = localPath.substr(prefix.size());
    const auto slash = directory.rfind(kLocalSeparator);
    directory.resize(slash == std::string::npos ? 0 : slash);
    return backup ? inDataTree(directory) : isLogPatternFolder(directory);
}
