#include "fileaccess/Enumeration.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>

#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/FtpWrappers.h"
#include "fileaccess/Navigation.h"
#include "fileaccess/PathRoutines.h"
#include "platform/LastError.h"
#include "platform/Sleep.h"

namespace {

std::string ChangeDirectory(int where, CFtpConnection* connection, const std::string& path) {
    return where == kRemoteSearch ? RemoteChDir(connection, path) : LocalChDir(path);
}

bool IsLocalRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

int WalkFailed(const char* what, const std::string& path, const std::string& reason) {
    logMessage(formatString("FindNormalFiles: %s %s: %s\n", what, path.c_str(), reason.c_str()));
    return kWalkFailed;
}

// Why the current directory could not be had after entering a directory.
std::string NoCurrentDirectoryReason(int where, CFtpConnection* connection) {
    if (where == kRemoteSearch)
        return "PWD: " + connection->GetLastResponse();
    return std::strerror(static_cast<int>(GetLastError()));
}

// A start that the server lists as a directory but reports back in another form cannot be
// walked by the names the server will give; one it cannot list at all is no missing file.
int LookUpRemoteStart(CFtpConnection* connection, const std::string& start,
                      const std::string& current, bool& exists) {
    bool isDirectory = false;
    std::string failure;
    const FindOutcome outcome = RemoteLookUp(connection, start, isDirectory, failure);
    exists = outcome == FindOutcome::Found;
    if (outcome == FindOutcome::Failed)
        return WalkFailed("cannot look up", start, failure);
    if (exists && isDirectory)
        return WalkFailed("cannot enter the directory", start,
                          "the server says it is in " + current);
    return 0;
}

// A start path that did not come back as the current directory may still name one file.
int TakeStartAsSingleFile(int where, CFtpConnection* connection, const std::string& start,
                          const std::string& current, CFileItemList* files) {
    bool exists = false;
    if (where != kRemoteSearch)
        exists = IsLocalRegularFile(start);
    else if (LookUpRemoteStart(connection, start, current, exists) == kWalkFailed)
        return kWalkFailed;
    if (!exists)
        return 0;
    if (vlmFTPClient::debugAbove(1))
        logMessage(formatString("Found normal:\t\t%s\n", start.c_str()));
    files->AddTail(std::make_unique<CFileItem>(start));
    return 1;
}

bool StartListing(int where, CFileFind& finder, const std::string& directory) {
    if (where == kRemoteSearch)
        return finder.FindFile("*", INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT);
    const bool endsInSeparator = !directory.empty() && directory.back() == '/';
    return finder.FindFile(directory + (endsInSeparator ? "*.*" : "/*.*"), 0);
}

// Lists the directory we stand in; returns the number of normal files appended, or
// kWalkFailed when no listing could be had.
int ListCurrentDirectory(int where, bool recurse, CFileFind& finder, const std::string& current,
                         CFileItemList* directories, CFileItemList* files) {
    int count = 0;
    bool more = StartListing(where, finder, current);
    if (!more && finder.GetOutcome() == FindOutcome::Failed)
        return WalkFailed("cannot list", current, finder.GetFailure());
    while (more) {
        more = finder.FindNextFile();
        if (finder.IsDots())
            continue;
        if (!finder.IsDirectory()) {
            const std::string path = finder.GetFilePath();
            if (vlmFTPClient::debugAbove(1))
                logMessage(formatString("Found normal:\t\t%s\n", path.c_str()));
            files->AddTail(std::make_unique<CFileItem>(path, finder.GetLength()));
            ++count;
        } else if (recurse) {
            const std::string path = finder.GetFilePath();
            if (vlmFTPClient::debugAbove(1))
                logMessage(formatString("Found directory:\t%s\n", path.c_str()));
            if (path != current)
                directories->AddTail(std::make_unique<CFileItem>(path));
        }
    }
    return count;
}

std::size_t Depth(const std::string& path) {
    return static_cast<std::size_t>(std::count_if(path.begin(), path.end(), IsSeparator));
}

// No real tree comes near these bounds; a server that makes up directories without end must
// not hold the walk, and its memory, for ever.
bool BeyondBounds(const std::string& directory, const std::string& start,
                  const CFileItemList& directories, const CFileItemList& files) {
    if (Depth(directory) > Depth(start) + kMaxWalkDepth) {
        logMessage(formatString("The walk stops at %s: deeper than %zu folders\n",
                                directory.c_str(), kMaxWalkDepth));
        return true;
    }
    if (directories.GetCount() + files.GetCount() > kMaxWalkEntries) {
        logMessage(formatString("The walk stops at %s: more than %zu entries\n", directory.c_str(),
                                kMaxWalkEntries));
        return true;
    }
    return false;
}

int WalkDirectories(int where, bool recurse, CFtpConnection* connection, CFileFind& finder,
                    const std::string& start, CFileItemList* directories, CFileItemList* files) {
    int count = 0;
    auto position = directories->GetTailPosition();
    while (position) {
        const std::string directory = directories->GetAt(position).GetPath();
        if (BeyondBounds(directory, start, *directories, *files))
            return kWalkFailed;
        if (vlmFTPClient::debugAbove(1))
            logMessage(formatString("Searching = %s\n", directory.c_str()));
        const std::string current = ChangeDirectory(where, connection, directory);
        if (current.empty())
            return WalkFailed("no current directory after entering", directory,
                              NoCurrentDirectoryReason(where, connection));
        // Listing wherever we happened to stay would repeat that directory (and, through its
        // subdirectories, the whole walk) over and over.
        if (current != directory) {
            logMessage(formatString("Could not enter directory %s\n", directory.c_str()));
            return kWalkFailed;
        }
        const int listed =
            ListCurrentDirectory(where, recurse, finder, current, directories, files);
        finder.Close();
        if (listed == kWalkFailed)
            return kWalkFailed;
        count += listed;
        directories->GetNext(position);
        if (where == kRemoteSearch)
            Sleep(0);
    }
    return count;
}

} // namespace

int FindNormalFiles(int where, bool recurse, CFtpConnection* connection, CFileFind& finder,
                    std::string start, CFileItemList* directories, CFileItemList* files) {
    const std::string current = ChangeDirectory(where, connection, start);
    if (current.empty())
        return WalkFailed("no current directory after entering", start,
                          NoCurrentDirectoryReason(where, connection));
    if (current != start)
        return TakeStartAsSingleFile(where, connection, start, current, files);
    try {
        directories->AddTail(std::make_unique<CFileItem>(start));
    } catch (const std::bad_alloc&) {
        logMessage(formatString("Insufficient memory to allocate %s\n", start.c_str()));
        return 0;
    }
    return WalkDirectories(where, recurse, connection, finder, start, directories, files);
}
