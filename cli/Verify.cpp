#include "cli/Verify.h"

#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "cli/ServerSession.h"
#include "cli/TreeListing.h"
#include "engine/OperationTypes.h"
#include "engine/RecoveryFiles.h"
#include "engine/TransferLoopPaths.h"

namespace {

constexpr std::size_t kEntriesShown = 10;

void printFindings(std::FILE* out, const std::string& heading,
                   const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    std::fprintf(out, "%s: %zu\n", heading.c_str(), paths.size());
    for (std::size_t i = 0; i < paths.size() && i < kEntriesShown; ++i)
        std::fprintf(out, "  %s\n", paths[i].c_str());
    if (paths.size() > kEntriesShown)
        std::fprintf(out, "  ... and %zu more\n", paths.size() - kEntriesShown);
}

void conclude(RunOutcome& outcome, std::size_t checked, std::size_t differences,
              const std::string& agreed, const std::string& disagreed) {
    outcome.filesTotal = checked;
    outcome.filesDone = checked - std::min(checked, differences);
    outcome.result = differences == 0 ? RESULT_OK : RESULT_INVALID_BACKUP;
    outcome.exitStatus = static_cast<int>(outcome.result);
    outcome.message = differences == 0 ? agreed : disagreed;
}

bool readable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char byte = 0;
    const bool ok = ::read(fd, &byte, 1) >= 0;
    ::close(fd);
    return ok;
}

RunOutcome verifyAgainstListing(const std::string& folder, std::FILE* out) {
    RunOutcome outcome;
    const auto listed = readFileListing(std::string(folder) + "/" + kListingFileName);
    if (!listed) {
        conclude(outcome, 0, 1, "",
                 "there is no readable k7.lst in " + folder + " to check the backup against");
        return outcome;
    }
    std::vector<std::string> missing;
    for (const std::string& path : *listed) {
        const auto local = localPathForListed(path, folder);
        if (!local || !readable(*local))
            missing.push_back(path);
    }
    printFindings(out, "named in k7.lst but missing or unreadable", missing);
    conclude(outcome, listed->size(), missing.size(),
             "all " + std::to_string(listed->size()) +
                 " files named in k7.lst are present and "
                 "readable",
             std::to_string(missing.size()) + " of " + std::to_string(listed->size()) +
                 " files named in k7.lst are missing or unreadable");
    return outcome;
}

void compareTrees(const TreeFiles& server, const TreeFiles& local, std::FILE* out,
                  RunOutcome& outcome) {
    std::vector<std::string> missingHere;
    std::vector<std::string> extraHere;
    std::vector<std::string> sizeDiffers;
    for (const auto& [path, size] : server) {
        const auto found = local.find(path);
        if (found == local.end())
            missingHere.push_back(path);
        else if (found->second != size)
            sizeDiffers.push_back(path);
    }
    for (const auto& entry : local) {
        if (!server.contains(entry.first))
            extraHere.push_back(entry.first);
    }
    printFindings(out, "on the server, missing in the folder", missingHere);
    printFindings(out, "in the folder, missing on the server", extraHere);
    printFindings(out, "size differs", sizeDiffers);
    const std::size_t differences = missingHere.size() + extraHere.size() + sizeDiffers.size();
    conclude(outcome, server.size(), differences,
             "the folder and the server agree: " + std::to_string(server.size()) + " files",
             "the folder and the server differ in " + std::to_string(differences) + " files");
    outcome.bytes = totalBytes(server);
}

RunOutcome verifyAgainstServer(const CliOptions& options, const std::string& folder,
                               std::FILE* out) {
    RunOutcome outcome;
    ServerSession server(options, outcome);
    if (!server.connection())
        return outcome;
    TreeFiles remote;
    TreeFiles local;
    try {
        if (auto problem = listServerTrees(*server.connection(), remote)) {
            conclude(outcome, 0, 1, "", *problem);
            outcome.result = RESULT_TRANSFER_FAILED;
            outcome.exitStatus = static_cast<int>(RESULT_TRANSFER_FAILED);
            return outcome;
        }
    } catch (const CInternetException& error) {
        recordFailure(outcome, error, true);
        return outcome;
    }
    if (auto problem = listLocalTrees(folder, local)) {
        conclude(outcome, 0, 1, "", *problem);
        return outcome;
    }
    compareTrees(remote, local, out, outcome);
    return outcome;
}

} // namespace

RunOutcome verifyBackup(const CliOptions& options, const std::string& folder, std::FILE* out) {
    RunOutcome outcome = options.host.empty() ? verifyAgainstListing(folder, out)
                                              : verifyAgainstServer(options, folder, out);
    std::fflush(out);
    return outcome;
}
