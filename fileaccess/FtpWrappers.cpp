#include "fileaccess/FtpWrappers.h"

#include "fileaccess/PathRoutines.h"

namespace {

constexpr int kTransferred = 0;
constexpr int kTransferFailed = 10;

// The server form of a single path: "/" throughout and at most one trailing separator.
std::string ServerPathForm(const std::string& path) {
    std::string normalised;
    JoinPath(normalised, '/', {path});
    return normalised;
}

} // namespace

int RemoteGetFile(CFtpConnection* connection, const std::string& remote, const std::string& local) {
    const bool fetched = connection->GetFile(remote, local, false, FILE_ATTRIBUTE_NORMAL,
                                             FTP_TRANSFER_TYPE_BINARY, 1);
    return fetched ? kTransferred : kTransferFailed;
}

int RemotePutFile(CFtpConnection* connection, const std::string& local, const std::string& remote) {
    const bool sent = connection->PutFile(local, remote, FTP_TRANSFER_TYPE_BINARY, 1);
    return sent ? kTransferred : kTransferFailed;
}

FindOutcome RemoteLookUp(CFtpConnection* connection, const std::string& path, bool& isDirectory,
                         std::string& failure) {
    CFtpFileFind finder(connection, 1);
    if (finder.FindFile(ServerPathForm(path), INTERNET_FLAG_RELOAD))
        finder.FindNextFile();
    const FindOutcome outcome = finder.GetOutcome();
    isDirectory = finder.IsDirectory();
    failure = finder.GetFailure();
    finder.Close();
    return outcome;
}

int RemoteCreateEmptyFile(CFtpConnection* connection, const std::string& path) {
    auto file =
        connection->OpenFile(ServerPathForm(path), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 1);
    try {
        file->Close();
    } catch (const CInternetException&) {
        return 1;
    }
    return 0;
}
