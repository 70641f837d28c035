#include "cli/DryRun.h"

#include <sys/stat.h>

#include "cli/ServerSession.h"
#include "cli/TerminalProgress.h"
#include "cli/TreeListing.h"
#include "engine/Driver.h"
#include "engine/OperationTypes.h"
#include "engine/Operations.h"
#include "engine/RecoveryFiles.h"
#include "engine/TransferLoopPaths.h"
#include "remotelog/RemoteLogFileManager.h"
#include "remotelog/ServerLogin.h"

namespace {

constexpr std::size_t kEntriesShown = 10;

// The count, the bytes when known, and the first entries.
void printFiles(std::FILE* out, const std::string& heading, const TreeFiles& files,
                bool sizesKnown = true) {
    std::fprintf(out, "%s: %zu files%s\n", heading.c_str(), files.size(),
                 sizesKnown ? (", " + humanBytes(totalBytes(files))).c_str() : "");
    std::size_t shown = 0;
    for (const auto& [path, size] : files) {
        if (shown++ == kEntriesShown) {
            std::fprintf(out, "  ... and %zu more\n", files.size() - kEntriesShown);
            break;
        }
        if (sizesKnown)
            std::fprintf(out, "  %s (%s)\n", path.c_str(), humanBytes(size).c_str());
        else
            std::fprintf(out, "  %s\n", path.c_str());
    }
}

// A path below the folder as the listings name it ("access2/a/b.dat").
std::string belowFolder(const std::string& path, const std::string& folder) {
    return path.starts_with(folder + "/") ? path.substr(folder.size() + 1) : path;
}

void endWith(RunOutcome& outcome, std::uint32_t result) {
    outcome.result = result;
    outcome.exitStatus = static_cast<int>(result);
}

// The files a restore would upload, by the listing when there is one (as the restore reads
// it), else by the two local trees; false when the restore would refuse the folder.
bool restoreUploads(const std::string& folder, TreeFiles& uploads, std::FILE* out) {
    if (!fileListingExists()) {
        if (auto problem = listLocalTrees(folder, uploads)) {
            std::fprintf(out, "%s\n", problem->c_str());
            return false;
        }
        return true;
    }
    const auto listed = readFileListing(kListingFileName);
    if (!listed) {
        std::fprintf(out, "k7.lst cannot be read\n");
        return false;
    }
    bool complete = true;
    for (const std::string& path : *listed) {
        const auto local = localPathForListed(path, folder);
        struct stat info {};
        if (!local || ::stat(local->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            std::fprintf(out, "k7.lst names %s, which is missing\n", path.c_str());
            complete = false;
            continue;
        }
        uploads[belowFolder(*local, folder)] = static_cast<std::uint64_t>(info.st_size);
    }
    return complete;
}

void planBackup(CFtpConnection& connection, const std::string& folder, std::FILE* out,
                RunOutcome& outcome) {
    if (const std::uint32_t refused = checkServerForTrees(&connection, RESULT_BACKUP_NOT_INITIATED))
        return endWith(outcome, refused);
    TreeFiles fetches;
    if (auto problem = listServerTrees(connection, fetches)) {
        std::fprintf(out, "%s\n", problem->c_str());
        return endWith(outcome, RESULT_TRANSFER_FAILED);
    }
    printFiles(out, "would fetch from the server into " + folder, fetches);
    std::fprintf(out, "would write k7.lst, and remove %s from the server after success\n",
                 kSafeMarker);
    outcome.filesTotal = fetches.size();
    outcome.bytes = totalBytes(fetches);
}

void planRestore(CFtpConnection& connection, const std::string& folder, std::FILE* out,
                 RunOutcome& outcome) {
    if (const std::uint32_t refused =
            checkServerForTrees(&connection, RESULT_RESTORE_NOT_INITIATED))
        return endWith(outcome, refused);
    TreeFiles uploads;
    if (!checkBackupFolder() || !restoreUploads(folder, uploads, out))
        return endWith(outcome, RESULT_INVALID_BACKUP);
    TreeFiles deletions;
    if (auto problem = listServerTrees(connection, deletions)) {
        std::fprintf(out, "%s\n", problem->c_str());
        return endWith(outcome, RESULT_TRANSFER_FAILED);
    }
    printFiles(out, "would delete on the server", deletions);
    printFiles(out, "would upload from " + folder, uploads);
    std::fprintf(out, "would create %s while it runs, and remove it and %s after success\n",
                 kRestoreMarker, kSafeMarker);
    outcome.filesTotal = uploads.size();
    outcome.bytes = totalBytes(uploads);
}

void planLogDownload(const CliOptions& options, ServerSession& server, const std::string& folder,
                     std::FILE* out, RunOutcome& outcome) {
    CFileItemList found;
    CRemoteLogFileManager manager(&server.session(), ServerLogin(options.host), folder);
    if (!manager.GetRemoteLogFiles(&found))
        return endWith(outcome, RESULT_TRANSFER_FAILED);
    TreeFiles fetches;
    for (auto position = found.GetHeadPosition(); position;) {
        const std::string path = found.GetNext(position).GetPath();
        fetches[belowFolder(localPathForRemote(path, kRemoteRoot, folder), folder)] = 0;
    }
    printFiles(out, "would fetch from the server into " + folder, fetches, false);
    outcome.filesTotal = fetches.size();
}

} // namespace

RunOutcome dryRun(const CliOptions& options, const std::string& folder, std::FILE* out) {
    RunOutcome outcome;
    ServerSession server(options, outcome);
    if (!server.connection())
        return outcome;
    std::fprintf(out, "dry run: nothing is changed on the server or in %s\n", folder.c_str());
    try {
        if (options.operation == Backup)
            planBackup(*server.connection(), folder, out, outcome);
        else if (options.operation == Restore)
            planRestore(*server.connection(), folder, out, outcome);
        else
            planLogDownload(options, server, folder, out, outcome);
    } catch (const CInternetException& error) {
        recordFailure(outcome, error, true);
    }
    std::fflush(out);
    return outcome;
}
