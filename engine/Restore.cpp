#include <cerrno>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "common/StringTable.h"
#include "engine/Connection.h"
#include "engine/LocalLinks.h"
#include "engine/Operations.h"
#include "engine/RecoveryFiles.h"
#include "engine/TransferLoopCheckpoint.h"
#include "engine/TransferLoopPaths.h"
#include "engine/TransferLoopProgress.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/Enumeration.h"
#include "fileaccess/PathRoutines.h"
#include "platform/LastError.h"

namespace {

bool isEnterableDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           ::access(path.c_str(), R_OK | X_OK) == 0;
}

bool isReadableFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           ::access(path.c_str(), R_OK) == 0;
}

// Every directory the walk recorded from `from` on (the start directory included) could be
// read. The walk reports an unreadable directory only through its count, and not at all when
// no file had been found yet, so the directories are checked here.
bool recordedDirectoriesReadable(CFileItemList& directories, CFileItemList::POSITION from) {
    for (auto pos = from; pos;) {
        if (!isEnterableDirectory(directories.GetNext(pos).GetPath()))
            return false;
    }
    return true;
}

// The walk records its start directory first; a start it did not take for a directory (one
// it could not enter, or named in another form than the system reports) is not walked at all.
bool walkStartedAt(CFileItemList& directories, CFileItemList::POSITION first,
                   const std::string& tree) {
    return first && directories.GetAt(first).GetPath() == tree && isEnterableDirectory(tree);
}

CFileItemList::POSITION afterTail(CFileItemList& list, CFileItemList::POSITION tail) {
    if (!tail)
        return list.GetHeadPosition();
    list.GetNext(tail);
    return tail;
}

// The walk changes the current directory; the folder is the operation's home.
void returnToFolder(const std::string& localFolder) {
    std::error_code ignored;
    std::filesystem::current_path(localFolder, ignored);
}

// Lists both local trees into `files`, access2 first. False, with a log line, when a tree
// could not be read completely: the server trees must then stay as they are.
bool enumerateLocalTrees(OperationContext& context, const std::string& localFolder,
                         CFileItemList& directories, CFileItemList& files) {
    for (const char* name : kDataTrees) {
        std::string tree;
        JoinPath(tree, kLocalSeparator, {localFolder, name});
        const std::size_t before = files.GetCount();
        const auto lastDirectory = directories.GetTailPosition();
        CFileFind finder;
        const int found = FindNormalFiles(kLocalSearch, true, context.connection.get(), finder,
                                          tree, &directories, &files);
        returnToFolder(localFolder);
        if (vlmFTPClient::debugAbove(1))
            logMessage(formatString("Normal files found in %s:  %d\n", tree.c_str(), found));
        const auto firstRecorded = afterTail(directories, lastDirectory);
        const bool complete = walkStartedAt(directories, firstRecorded, tree) &&
                              static_cast<std::size_t>(found) == files.GetCount() - before &&
                              recordedDirectoriesReadable(directories, firstRecorded);
        if (!complete) {
            logMessage(formatString("doRestore: %s could not be read completely; the server "
                                    "was not changed\n",
                                    tree.c_str()));
            return false;
        }
    }
    return true;
}

// Uploading beside what could not be deleted would mix stale files into the restored trees,
// and a resumed upload never deletes again: the run stops here and a fresh run redoes it all.
bool deleteServerTrees(OperationContext& context) {
    for (const char* name : kDataTrees) {
        const std::string tree = std::string(kRemoteRoot) + name;
        if (!RemoteDeleteTreeFully(context.connection.get(), tree)) {
            logMessage(formatString("doRestore: %s could not be deleted completely; nothing was "
                                    "uploaded. Run the restore again once the server allows it\n",
                                    tree.c_str()));
            return false;
        }
    }
    return true;
}

// A backup holds no links: one in the trees was put there, and the walk would pass over a
// linked folder while a listed file would send what the link points to. Refused while the
// server is still whole.
bool treesHoldNoLinks(const std::string& localFolder) {
    const auto link = firstLinkInTrees(localFolder);
    if (!link)
        return true;
    logMessage(formatString("doRestore: %s is a symbolic link; remove it or put what it points "
                            "to in its place. The server was not changed\n",
                            link->c_str()));
    return false;
}

// A local name such as "..\..\x" is one file here, yet would climb out of the server's trees.
bool walkedNamesStayInTrees(CFileItemList& files, const std::string& localFolder) {
    if (allBelowFolder(files, localFolder))
        return true;
    logMessage("doRestore: a file name in the local folder leads outside the server's trees; the "
               "server was not changed\n");
    return false;
}

// The list of a fresh restore, checked before anything on the server is deleted.
bool prepareFreshList(OperationContext& context, const std::string& localFolder,
                      CFileItemList& directories, CFileItemList& files) {
    if (fileListingExists()) {
        if (!readRestoreList(files, localFolder))
            return false;
    } else if (!enumerateLocalTrees(context, localFolder, directories, files) ||
               !walkedNamesStayInTrees(files, localFolder)) {
        return false;
    }
    return verifyRestoreFile(files) != 0;
}

bool resumedListUsable(CFileItemList& files, const std::string& localFolder) {
    if (!verifyRestoreFile(files))
        return false;
    if (allBelowFolder(files, localFolder))
        return true;
    logMessage("doRestore: the recovery file names files outside the local folder\n");
    return false;
}

} // namespace

int doRestore(OperationContext& context, std::string localFolder, CInternetSession& session,
              int resume) {
    CFileItemList directories;
    CFileItemList files;
    if (!treesHoldNoLinks(localFolder))
        return RESULT_INVALID_BACKUP;
    if (resumeFromRecoveryFile(files, resume)) {
        if (!resumedListUsable(files, localFolder))
            return RESULT_INVALID_BACKUP;
    } else {
        if (!prepareFreshList(context, localFolder, directories, files))
            return RESULT_INVALID_BACKUP;
        if (!deleteServerTrees(context))
            return RESULT_TRANSFER_FAILED;
        // From here on the server holds only what this run uploads: whatever ends the run,
        // the recovery file must say what is still missing. A read-only backup (a mounted
        // medium) cannot hold one; a fresh restore from it completes the job instead.
        if (::access(localFolder.c_str(), W_OK) == 0)
            writeCheckpoint(files, localFolder, kRecoveryCodeRestore);
    }

    const std::size_t count = files.GetCount();
    enterTransferPhase(context, IDS_DATA_RESTORE, count);
    reconnect(context, session);
    if (vlmFTPClient::debugAbove(1))
        logMessage(formatString("doRestore %zu files\n", count));

    if (files.IsEmpty())
        return RESULT_OK;
    return putNormalFiles(context, localFolder, kRemoteRoot, files, session);
}

int readRestoreList(CFileItemList& files, const std::string& localFolder) {
    const std::filesystem::path listingPath = recoveryPath(kListingFileName);
    if (::access(listingPath.c_str(), R_OK) != 0) {
        SetLastError(static_cast<std::uint32_t>(errno));
        logFailure("readRestoreList: open k7.lst", 1);
        return 0;
    }
    const auto listed = readFileListing(listingPath);
    if (!listed) {
        logFailure("readRestoreList", 1);
        return 0;
    }
    for (const std::string& path : *listed) {
        const auto local = localPathForListed(path, localFolder);
        if (!local) {
            logMessage(formatString("readRestoreList: %s lies outside the backup\n", path.c_str()));
            SetLastError(EINVAL);
            logFailure("readRestoreList", 1);
            return 0;
        }
        files.AddTail(std::make_unique<CFileItem>(*local));
    }
    return 1;
}

int verifyRestoreFile(CFileItemList& files) {
    for (auto pos = files.GetHeadPosition(); pos;) {
        const std::string& path = files.GetNext(pos).GetPath();
        if (!isReadableFile(path)) {
            logMessage(formatString("verifyRestoreFile unable to find %s\n", path.c_str()));
            return 0;
        }
    }
    return 1;
}
