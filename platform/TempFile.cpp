#include "platform/TempFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// No listed name holds a backslash (the listing parser drops such names), so no server file
// can ever be taken for a temporary file and be removed as a leftover.
constexpr const char* kMarker = "\\qel-part-";
constexpr std::size_t kUniqueSuffix = 6; // mkstemp's XXXXXX

// Keeps the temporary name within the file system's limit of 255 bytes.
constexpr std::size_t kMaxNamePart = 200;

// The process's umask, read without changing it (umask() would race with other threads).
mode_t processUmask() {
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.starts_with("Umask:"))
                return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        return static_cast<mode_t>(022);
    }();
    return mask;
}

std::mutex g_sweptMutex;
std::set<std::string> g_swept;

// A process killed in the middle of a download leaves its temporary file behind; the first
// download into a folder in a run removes every such file there, so that none ever becomes
// part of a backup. Reading the folder before every file would cost time in its size.
void removeLeftoversOnce(const std::string& directory) {
    std::lock_guard lock(g_sweptMutex);
    if (!g_swept.insert(directory).second)
        return;
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsDownloadLeftover(entry->d_name))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

TempFile::TempFile(const std::string& target) : m_target(target) {
    const auto slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string prefix = "." + name.substr(0, kMaxNamePart) + kMarker;
    removeLeftoversOnce(directory);
    m_path = directory + prefix + "XXXXXX";
    std::vector<char> pattern(m_path.begin(), m_path.end());
    pattern.push_back('\0');
    m_fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_error = static_cast<std::uint32_t>(errno);
        return;
    }
    m_path.assign(pattern.data());
}

TempFile::~TempFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed && !m_path.empty() && m_error == 0)
        ::unlink(m_path.c_str());
}

std::uint32_t TempFile::commit() {
    fchmod(m_fd, 0666 & ~processUmask());
    const int fd = m_fd;
    m_fd = -1;
    // close() reports what a full disk or a quota refused after the last write.
    if (::close(fd) != 0 || ::rename(m_path.c_str(), m_target.c_str()) != 0)
        return static_cast<std::uint32_t>(errno);
    m_committed = true;
    return 0;
}

bool IsDownloadLeftover(const std::string& name) {
    const std::string marker = kMarker;
    if (!name.starts_with(".") || name.size() < 1 + marker.size() + kUniqueSuffix)
        return false;
    return name.compare(name.size() - kUniqueSuffix - marker.size(), marker.size(), marker) == 0;
}

void ResetLeftoverSweep() {
    std::lock_guard lock(g_sweptMutex);
    g_swept.clear();
}
