#include "cli/TreeListing.h"

#include <filesystem>
#include <numeric>
#include <vector>

#include "engine/Operations.h"

namespace fs = std::filesystem;

namespace {

// Deeper than any real backup; a server that reports a directory inside itself stops here.
constexpr int kDeepestDirectory = 64;

std::optional<std::string> listServerDirectory(CFtpConnection& connection,
                                               const std::string& relative, int depth,
                                               TreeFiles& files) {
    if (depth > kDeepestDirectory)
        return "the server's tree " + relative + " is deeper than " +
               std::to_string(kDeepestDirectory) + " folders";
    std::vector<FtpListEntry> entries;
    if (!connection.List(kRemoteRoot + relative, entries))
        return depth == 0 ? std::nullopt
                          : std::optional<std::string>("the server refused to list " +
                                                       std::string(kRemoteRoot) + relative);
    for (const FtpListEntry& entry : entries) {
        const std::string path = relative + "/" + entry.name;
        if (!entry.isDirectory)
            files[path] = entry.size;
        else if (auto problem = listServerDirectory(connection, path, depth + 1, files))
            return problem;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> listServerTrees(CFtpConnection& connection, TreeFiles& files) {
    for (const char* tree : kDataTrees) {
        if (auto problem = listServerDirectory(connection, tree, 0, files))
            return problem;
    }
    return std::nullopt;
}

std::optional<std::string> listLocalTrees(const std::string& folder, TreeFiles& files) {
    for (const char* tree : kDataTrees) {
        const fs::path root = fs::path(folder) / tree;
        std::error_code error;
        if (!fs::is_directory(fs::symlink_status(root, error)))
            continue;
        for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_regular_file(error) && !it->is_symlink(error))
                files[fs::relative(it->path(), folder, error).generic_string()] =
                    it->file_size(error);
        }
        if (error)
            return "cannot read " + root.string() + " completely: " + error.message();
    }
    return std::nullopt;
}

std::uint64_t totalBytes(const TreeFiles& files) {
    return std::accumulate(files.begin(), files.end(), std::uint64_t{0},
                           [](std::uint64_t sum, const auto& file) { return sum + file.second; });
}
