#include "fileaccess/Navigation.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "fileaccess/PathLimit.h"
#include "fileaccess/PathRoutines.h"

namespace {

constexpr int kCreated = 0;
constexpr int kFailed = -1;
constexpr int kNotCreated = 4;

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool CreateOne(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

// A step of the chain that is already there (a doubled separator, or another process that
// was quicker) is no reason to stop.
bool CreateStep(const std::string& path) {
    if (CreateOne(path))
        return true;
    const int error = errno;
    if (error == EEXIST && IsDirectory(path))
        return true;
    errno = error;
    return false;
}

bool IsDriveForm(const std::string& path) {
    return path.size() >= 2 &&
           ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z')) &&
           path[1] == ':';
}

bool IsNetworkForm(const std::string& path) {
    return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// "\\server\share\..." needs a separator after the server name and one after the share.
bool HasShareSeparator(const std::string& path) {
    const auto afterServer = path.find_first_of("/\\", 2);
    return afterServer != std::string::npos &&
           path.find_first_of("/\\", afterServer + 1) != std::string::npos;
}

int ExistingPathResult(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return kFailed;
    if (S_ISDIR(status.st_mode))
        return kCreated;
    errno = ENOTDIR;
    return kNotCreated;
}

// The separator whose prefix exists, walking back from `last`; npos when no prefix does.
std::size_t DeepestExistingPrefix(const std::string& path, std::size_t last) {
    std::size_t cut = last;
    for (;;) {
        if (Exists(path.substr(0, cut)))
            return cut;
        if (cut == 0)
            return std::string::npos;
        cut = path.find_last_of('/', cut - 1);
        if (cut == std::string::npos)
            return cut;
    }
}

// Creates every prefix that ends at a separator after `searchFrom`, then the whole path.
int CreateForward(const std::string& path, std::size_t searchFrom) {
    for (;;) {
        const auto next = path.find('/', searchFrom);
        if (!CreateStep(next == std::string::npos ? path : path.substr(0, next)))
            return kFailed;
        if (next == std::string::npos)
            return kCreated;
        searchFrom = next + 1;
    }
}

} // namespace

int LocalMakeDirs(const std::string& path) {
    if (path.size() > kMaxPathLength) {
        errno = ENAMETOOLONG;
        return kFailed;
    }
    if (IsDriveForm(path)) {
        if (path.size() < 3 || !IsSeparator(path[2])) {
            errno = EINVAL;
            return kFailed;
        }
        if (path.size() == 3)
            return kCreated;
    }
    if (IsNetworkForm(path) && !HasShareSeparator(path))
        return kNotCreated;

    // Local paths on this system separate with "/"; a "\" handed in means the same.
    std::string buffer = path;
    ConvertSeparators(buffer, '/');
    if (Exists(buffer))
        return ExistingPathResult(buffer);

    auto last = buffer.rfind('/');
    if (last != std::string::npos && last + 1 == buffer.size()) {
        StripTrailingSeparators(buffer);
        last = buffer.rfind('/');
    }
    if (last == std::string::npos)
        return CreateOne(buffer) ? kCreated : kNotCreated;

    const auto existing = DeepestExistingPrefix(buffer, last);
    if (existing != std::string::npos)
        return CreateForward(buffer, existing + 1);
    return CreateForward(buffer, buffer.front() == '/' ? 1 : 0);
}
