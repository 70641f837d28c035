#include "remotelog/RemoteLogFileManager.h"

#include <memory>
#include <new>
#include <utility>

#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/FtpWrappers.h"
#include "fileaccess/PathRoutines.h"

// The last component of each entry is the file pattern; the ones before it are directories
// entered one by one from the start directory. "/" and "\" separate alike.
const char* const kLogPatterns[6] = {
    "access2/*.txt", "ST\\*.out", "ST/*.log", "ST\\f983wui\\*.log", "LOGS/*", "",
};

namespace {

constexpr std::size_t kExceptionTextLimit = 255;

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// A step the walk cannot do without: no pattern may then pass for one without files.
struct ListingFailed {
    ListingFailed(std::string whatFailed, std::string serverReply)
        : what(std::move(whatFailed)), reply(std::move(serverReply)) {}
    std::string what;
    std::string reply;
};

// A directory the server would not enter may still be there; only a listing of its parent
// that lacks it shows the pattern has no files.
void requireMissing(CFtpConnection& connection, const std::string& directory) {
    const std::string refusal = connection.GetLastResponse();
    bool isDirectory = false;
    std::string failure;
    switch (RemoteLookUp(&connection, directory, isDirectory, failure)) {
    case FindOutcome::Failed:
        throw ListingFailed("cannot look up " + directory, failure);
    case FindOutcome::Found:
        throw ListingFailed("cannot enter " + directory, refusal);
    case FindOutcome::Empty:
    case FindOutcome::Missing:
        break;
    }
}

// The server reports "\" as "/".
bool sameDirectory(std::string reported, std::string asked) {
    ConvertSeparators(reported, '/');
    ConvertSeparators(asked, '/');
    return reported == asked;
}

} // namespace

CRemoteLogFileManager::CRemoteLogFileManager(CInternetSession* session, ServerLogin login,
                                             const std::string& localFolder)
    : m_session(session), m_login(std::move(login)), m_localFolder(localFolder) {}

bool CRemoteLogFileManager::GetRemoteLogFiles(CFileItemList* files) {
    bool result = true;
    logMessage("--- Generating Log File List ---\n");
    std::unique_ptr<CFtpConnection> connection;
    try {
        connection = m_session->GetFtpConnection(m_login.host, m_login.user, m_login.password,
                                                 m_login.port, false);
        std::string startDirectory;
        if (!connection->GetCurrentDirectory(startDirectory)) {
            // Without its start directory no pattern can be looked up; that is no empty list.
            logMessage("CRemoteLogFileManager::GetRemoteLogFiles: the server did not report its "
                       "current directory\n");
            throw _failobj{};
        }
        // The files are stored by their paths from the root: a walk from anywhere else would
        // put them in other places of the local folder.
        if (!sameDirectory(startDirectory, "/"))
            throw ListingFailed("the server reported " + startDirectory +
                                    " as its start directory, not its root",
                                connection->GetLastResponse());
        for (int index = 0;; ++index) {
            std::string pattern = kLogPatterns[index];
            if (pattern.empty())
                break;
            // Patterns skipped for want of the start directory would read as no log files.
            if (!connection->SetCurrentDirectory(startDirectory))
                throw ListingFailed("cannot return to " + startDirectory,
                                    connection->GetLastResponse());
            if (!EnterPatternDirectory(*connection, pattern))
                continue;
            CFtpFileFind finder(connection.get(), 1);
            bool more = finder.FindFile(pattern, INTERNET_FLAG_RELOAD);
            if (!more && finder.GetOutcome() == FindOutcome::Failed)
                throw ListingFailed(std::string("cannot list ") + kLogPatterns[index],
                                    finder.GetFailure());
            while (more) {
                more = finder.FindNextFile();
                if (finder.IsDirectory())
                    continue;
                const std::string path = formatString("%s", finder.GetFilePath().c_str());
                logMessage(path + "\n");
                std::unique_ptr<CFileItem> item(new (std::nothrow)
                                                    CFileItem(path, finder.GetLength()));
                if (!item)
                    throw _failobj{};
                files->AddTail(std::move(item));
            }
            finder.Close();
        }
    } catch (const ListingFailed& failed) {
        logMessage(formatString("CRemoteLogFileManager::GetRemoteLogFiles: %s: %s\n",
                                failed.what.c_str(), failed.reply.c_str()));
        result = false;
    } catch (const CInternetException& exception) {
        std::string text = exception.GetErrorMessage();
        if (text.size() > kExceptionTextLimit)
            text.resize(kExceptionTextLimit);
        logMessage(formatString("CRemoteLogFileManager::GetRemoteLogFiles caught "
                                "CInternetException(%d) %s",
                                static_cast<int>(exception.m_dwError), text.c_str()));
        result = false;
    } catch (...) {
        logMessage("CRemoteLogFileManager::GetRemoteLogFiles caught exception!");
        result = false;
    }
    connection.reset();
    logMessage("--- File List Complete ---\n");
    return result;
}

bool CRemoteLogFileManager::EnterPatternDirectory(CFtpConnection& connection,
                                                  std::string& pattern) {
    std::string prefix;
    if (!connection.GetCurrentDirectory(prefix))
        throw ListingFailed("no current directory before " + pattern, connection.GetLastResponse());
    for (;;) {
        const std::size_t cut = pattern.find_first_of("/\\");
        if (cut == std::string::npos)
            return true;
        if (cut == 0) {
            pattern.erase(0, 1);
            continue;
        }
        const std::string component = pattern.substr(0, cut);
        pattern.erase(0, cut);
        // A start directory reported without a trailing separator still needs one before
        // the first directory name.
        if (!prefix.empty() && !isSeparator(prefix.back()))
            prefix += m_login.separator;
        const std::string directory = prefix + component;
        if (!connection.SetCurrentDirectory(directory)) {
            requireMissing(connection, directory);
            logMessage(formatString("Could not find directory %s\n", directory.c_str()));
            return false;
        }
        if (!connection.GetCurrentDirectory(prefix))
            throw ListingFailed("no current directory in " + directory,
                                connection.GetLastResponse());
        // The reply names where the files are stored locally: a server that points elsewhere
        // would steer the downloads to any place in the local folder.
        if (!sameDirectory(prefix, directory))
            throw ListingFailed("the server reported " + prefix + " after entering " + directory,
                                connection.GetLastResponse());
        prefix += m_login.separator;
    }
}
