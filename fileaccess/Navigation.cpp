#include "fileaccess/Navigation.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/PathLimit.h"
#include "fileaccess/PathRoutines.h"
#include "platform/LastError.h"

namespace {

// The process's current directory, however long; empty when it cannot be read (for example
// when it has been removed).
std::string ProcessCurrentDirectory() {
    char* directory = ::getcwd(nullptr, 0);
    if (!directory)
        return {};
    std::string result = directory;
    std::free(directory);
    return result;
}

// The last "/", and only when there is none the last "\".
std::size_t LastPreferredSeparator(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash != std::string::npos ? slash : path.rfind('\\');
}

constexpr int kMadeOrExists = 0;
constexpr int kCreationFailed = 4;
constexpr int kHomeUnreachable = 5;

bool SetRemoteDirectory(CFtpConnection* connection, const std::string& path) {
    return connection->SetCurrentDirectory(path);
}

// Empty when the server cannot tell.
std::string RemoteCurrentDirectory(CFtpConnection* connection) {
    std::string directory;
    connection->GetCurrentDirectory(directory);
    return directory;
}

// Climbs the path (every "/" before any "\") until the server lets us in, at the latest at
// the root; returns where the part below the directory entered begins.
std::size_t EnterNearestParent(CFtpConnection* connection, std::string path) {
    for (;;) {
        const auto separator = LastPreferredSeparator(path);
        if (separator == std::string::npos)
            return 0;
        if (separator == 0) {
            SetRemoteDirectory(connection, path.substr(0, 1));
            return 1;
        }
        path.resize(separator);
        if (SetRemoteDirectory(connection, path))
            return separator + 1;
    }
}

// Creates chain[start..] one component at a time, each named relative to where we stand.
bool CreateRemoteChain(CFtpConnection* connection, const std::string& chain, std::size_t start) {
    std::size_t searchFrom = start;
    for (;;) {
        auto next = chain.find('/', searchFrom);
        if (next == std::string::npos)
            next = chain.find('\\', searchFrom);
        const auto length = next == std::string::npos ? std::string::npos : next - start;
        if (!connection->CreateDirectory(chain.substr(start, length)))
            return false;
        if (next == std::string::npos)
            return true;
        searchFrom = next + 1;
    }
}

} // namespace

std::string LocalChDir(const std::string& path) {
    // A failed change shows in the directory read back, which the caller compares.
    [[maybe_unused]] const int changed = ::chdir(path.c_str());
    std::string directory = ProcessCurrentDirectory();
    if (vlmFTPClient::debugAbove(5))
        logMessage(formatString("LocalChDir:  Set Current Directory to %s\n", directory.c_str()));
    return directory;
}

std::string RemoteChDir(CFtpConnection* connection, const std::string& path) {
    SetRemoteDirectory(connection, path);
    std::string directory = RemoteCurrentDirectory(connection);
    if (vlmFTPClient::debugAbove(5))
        logMessage(formatString("RemoteChDir:  Set Current Directory to %s\n", directory.c_str()));
    return directory;
}

std::string RemoteChangeToParentDir(CFtpConnection* connection, const std::string& path) {
    if (path.empty())
        return {};
    if (path.size() > kMaxPathLength) {
        SetLastError(ENAMETOOLONG);
        return {};
    }
    EnterNearestParent(connection, path);
    std::string directory = RemoteCurrentDirectory(connection);
    if (vlmFTPClient::debugAbove(0))
        logMessage(formatString("RemoteChangeToParentDir:  Set Current Directory to %s\n",
                                directory.c_str()));
    return directory;
}

int RemoteMakeDirs(CFtpConnection* connection, const std::string& path, std::string home) {
    if (path.size() > kMaxPathLength) {
        SetLastError(ENAMETOOLONG);
        return kCreationFailed;
    }
    if (home.empty())
        home = RemoteCurrentDirectory(connection);
    if (SetRemoteDirectory(connection, path))
        return SetRemoteDirectory(connection, home) ? kMadeOrExists : kHomeUnreachable;

    std::string chain = path;
    StripRootPrefix(chain);
    StripTrailingSeparators(chain);
    if (chain.rfind('/') == 0 || chain.rfind('\\') == 0) {
        return connection->CreateDirectory(chain) ? kMadeOrExists : kCreationFailed;
    }
    const auto start = EnterNearestParent(connection, chain);
    if (!CreateRemoteChain(connection, chain, start))
        return kCreationFailed;
    SetRemoteDirectory(connection, home);
    return kMadeOrExists;
}
