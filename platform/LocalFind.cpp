#include "platform/LocalFind.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/LastError.h"
#include "platform/TempFile.h"

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::string withSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string joined(const std::string& directory, const std::string& name) {
    if (directory.empty() || directory == ".")
        return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> entryNames(const std::string& directory) {
    std::vector<std::string> names;
    DirHandle dir(opendir(directory.c_str()));
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// Finds each directory of the path in whatever letter case it has on disk. An exact match
// wins; otherwise the first matching name in sorted order.
std::optional<std::string> resolveIgnoringCase(const std::string& directory) {
    std::string resolved = directory.starts_with("/") ? "/" : "";
    std::size_t start = 0;
    while (start <= directory.size()) {
        std::size_t end = directory.find('/', start);
        if (end == std::string::npos)
            end = directory.size();
        const std::string component = directory.substr(start, end - start);
        start = end + 1;
        if (component.empty())
            continue;
        std::string next = joined(resolved, component);
        if (component != "." && component != ".." && !isDirectory(next)) {
            const std::string parent = resolved.empty() ? "." : resolved;
            const auto names = entryNames(parent);
            auto found = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
                return equalIgnoringCase(name, component) && isDirectory(joined(resolved, name));
            });
            if (found == names.end())
                return std::nullopt;
            next = joined(resolved, *found);
        }
        resolved = next;
    }
    return resolved.empty() ? "." : resolved;
}

std::optional<std::string> currentDirectory() {
    std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
    if (!cwd)
        return std::nullopt;
    return std::string(cwd.get());
}

// Regular files and directories only: a device or FIFO cannot be copied, and a link to a
// directory could lead a recursive walk round in a circle.
bool describe(int dirFd, const std::string& name, bool& directory, std::uint64_t& size) {
    struct stat link {};
    if (fstatat(dirFd, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    struct stat target {};
    if (fstatat(dirFd, name.c_str(), &target, 0) != 0)
        return false;
    if (S_ISDIR(target.st_mode)) {
        directory = true;
        return !S_ISLNK(link.st_mode);
    }
    directory = false;
    size = static_cast<std::uint64_t>(target.st_size);
    return S_ISREG(target.st_mode);
}

} // namespace

bool CFileFind::FindFile(const std::string& pattern, std::uint32_t) {
    SetResults({}, {});
    const auto separator = pattern.find_last_of("/\\");
    const std::string namePattern =
        separator == std::string::npos ? pattern : pattern.substr(separator + 1);
    std::string root;
    if (separator != std::string::npos)
        root = separator == 0 ? pattern.substr(0, 1) : pattern.substr(0, separator);
    if (namePattern.empty()) {
        SetLastError(ENOENT);
        return false;
    }
    std::string directory = root.empty() ? "." : withSlashes(root);
    if (m_ignoreCase) {
        auto resolved = resolveIgnoringCase(directory);
        if (!resolved) {
            SetLastError(ENOENT);
            return false;
        }
        directory = *resolved;
        if (!root.empty())
            root = directory;
    }
    if (root.empty()) {
        auto cwd = currentDirectory();
        if (!cwd) {
            SetLastError(errno);
            return false;
        }
        root = *cwd;
    }

    DirHandle dir(opendir(directory.c_str()));
    if (!dir) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR)
            Fail(directory + ": " + std::strerror(error));
        SetLastError(static_cast<std::uint32_t>(error));
        return false;
    }
    std::vector<Entry> entries;
    while (const dirent* found = readdir(dir.get())) {
        Entry entry{found->d_name};
        if (entry.name == "." || entry.name == ".." || IsDownloadLeftover(entry.name) ||
            !MatchesPattern(entry.name, namePattern, m_ignoreCase) ||
            !describe(dirfd(dir.get()), entry.name, entry.isDirectory, entry.size))
            continue;
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    const bool any = !entries.empty();
    SetResults(std::move(root), std::move(entries));
    if (!any)
        SetLastError(ENOENT);
    return any;
}
