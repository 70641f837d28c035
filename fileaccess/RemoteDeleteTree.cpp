#include "fileaccess/Enumeration.h"

#include <cerrno>
#include <memory>

#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/FtpWrappers.h"
#include "fileaccess/Navigation.h"
#include "fileaccess/PathLimit.h"
#include "fileaccess/PathRoutines.h"
#include "platform/LastError.h"
#include "platform/Sleep.h"

namespace {

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// "/", or a bare release component ("7.0", "7.0.1") that names the root as well.
bool IsServerRoot(std::string directory) {
    while (!directory.empty() && IsSeparator(directory.back()))
        directory.pop_back();
    if (directory.empty())
        return true;
    const auto& d = directory;
    const bool twoNumbers =
        d.size() == 3 && IsAsciiDigit(d[0]) && d[1] == '.' && IsAsciiDigit(d[2]);
    const bool threeNumbers = d.size() == 5 && IsAsciiDigit(d[0]) && d[1] == '.' &&
                              IsAsciiDigit(d[2]) && d[3] == '.' && IsAsciiDigit(d[4]);
    return twoNumbers || threeNumbers;
}

void LogUnableToRemove(const std::string& path, std::uint32_t error) {
    logMessage(formatString("Unable to remove %s (GetLastError code = %u)\n", path.c_str(), error));
}

class RemoteTreeRemover {
  public:
    explicit RemoteTreeRemover(CFtpConnection* connection)
        : m_connection(connection), m_finder(connection, 1) {}

    bool RemovePath(const std::string& path) {
        std::string normalised;
        JoinPath(normalised, '/', {path});
        // Also bounds the descent through a server whose directories loop back on themselves.
        if (normalised.size() > kMaxPathLength) {
            LogUnableToRemove(normalised, ENAMETOOLONG);
            return false;
        }
        if (!Enter(normalised))
            return RemoveFile(normalised);
        return RemoveDirectoryTree(normalised);
    }

  private:
    bool Enter(const std::string& path) {
        const bool entered = m_connection->SetCurrentDirectory(path);
        Sleep(0);
        return entered;
    }

    bool RemoveFile(const std::string& path) {
        RemoteChangeToParentDir(m_connection, path);
        return RemoveEntry(path);
    }

    bool RemoveEntry(const std::string& path) {
        const bool removed = m_connection->Remove(path);
        if (!removed)
            LogUnableToRemove(path, GetLastError());
        Sleep(0);
        return removed;
    }

    bool RemoveDirectoryTree(const std::string& path) {
        std::string current;
        m_connection->GetCurrentDirectory(current);
        Sleep(0);
        if (vlmFTPClient::debugAbove(0))
            logMessage(formatString("Searching = %s\n", path.c_str()));
        // Without knowing where we stand, the listed names cannot be given full paths.
        if (current.empty()) {
            LogUnableToRemove(path, GetLastError());
            return false;
        }
        CFileItemList pending;
        if (!ListEntries(current, pending))
            return false;
        bool result = true;
        while (!pending.IsEmpty()) {
            const auto item = pending.RemoveHead();
            result = RemovePendingEntry(item->GetPath(), current);
        }
        if (!IsServerRoot(current)) {
            result = m_connection->RemoveDirectory(current);
            Sleep(0);
        }
        return result;
    }

    // Completes the listing before anything goes, so the finder is free for the levels below.
    // False when no listing could be had.
    bool ListEntries(const std::string& current, CFileItemList& pending) {
        bool more = m_finder.FindFile("*", INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT);
        if (!more && m_finder.GetOutcome() == FindOutcome::Failed) {
            logMessage(formatString("Unable to list %s: %s\n", current.c_str(),
                                    m_finder.GetFailure().c_str()));
            return false;
        }
        while (more) {
            more = m_finder.FindNextFile();
            if (m_finder.IsDots())
                continue;
            const std::string path = m_finder.GetFilePath();
            if (m_finder.IsDirectory() && path == current)
                continue;
            pending.AddTail(std::make_unique<CFileItem>(path));
        }
        m_finder.Close();
        return true;
    }

    bool RemovePendingEntry(const std::string& path, const std::string& current) {
        if (Enter(path) && path != current) {
            const bool result = RemovePath(path);
            RemoteChDir(m_connection, current);
            return result;
        }
        if (vlmFTPClient::debugAbove(0))
            logMessage(formatString("Deleting = %s\n", path.c_str()));
        return RemoveEntry(path);
    }

    CFtpConnection* m_connection;
    CFtpFileFind m_finder;
};

} // namespace

bool RemoteDeleteTree(CFtpConnection* connection, std::string path) {
    RemoteTreeRemover remover(connection);
    return remover.RemovePath(path);
}

bool RemoteDeleteTreeFully(CFtpConnection* connection, const std::string& path) {
    RemoteDeleteTree(connection, path);
    bool isDirectory = false;
    std::string failure;
    switch (RemoteLookUp(connection, path, isDirectory, failure)) {
    case FindOutcome::Empty:
    case FindOutcome::Missing:
        return true;
    case FindOutcome::Failed:
        logMessage(formatString("Cannot tell whether %s was removed: %s\n", path.c_str(),
                                failure.c_str()));
        return false;
    case FindOutcome::Found:
        break;
    }
    logMessage(formatString("%s is still on the server\n", path.c_str()));
    return false;
}
