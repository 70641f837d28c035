#include "engine/LocalLinks.h"

#include <filesystem>
#include <system_error>

#include "engine/Operations.h"

namespace fs = std::filesystem;

namespace {

std::optional<std::string> firstLinkBelow(const fs::path& tree) {
    std::error_code error;
    if (fs::is_symlink(tree, error))
        return tree.string();
    fs::recursive_directory_iterator entries(tree, error);
    for (const fs::recursive_directory_iterator end; !error && entries != end;
         entries.increment(error)) {
        if (entries->is_symlink(error))
            return entries->path().string();
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> firstLinkInTrees(const std::string& localFolder) {
    for (const char* name : kDataTrees) {
        if (auto link = firstLinkBelow(fs::path(localFolder) / name))
            return link;
    }
    return std::nullopt;
}

std::optional<std::string> linkedFolderOnTheWay(const std::string& localFolder,
                                                const std::string& localPath) {
    const fs::path relative = fs::path(localPath).parent_path().lexically_relative(localFolder);
    fs::path folder = localFolder;
    for (const fs::path& component : relative) {
        folder /= component;
        std::error_code error;
        if (fs::is_symlink(folder, error))
            return folder.string();
        if (error)
            return std::nullopt;
    }
    return std::nullopt;
}
