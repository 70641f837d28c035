#include "engine/oplog/OperationLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/oplog/EngineState.h"
#include "platform/LastError.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kLogFileName = "VelmoraQel.log";

std::mutex explicitPathMutex;
std::optional<fs::path> explicitPath;

std::optional<fs::path> explicitLogFile() {
    std::lock_guard lock(explicitPathMutex);
    return explicitPath;
}

// The mount point of the file system that holds the current directory stands in for the
// root of the local folder's drive.
fs::path rootOfCurrentFileSystem() {
    std::error_code error;
    fs::path directory = fs::current_path(error);
    struct stat here {};
    if (error || ::stat(directory.c_str(), &here) != 0)
        return {};
    for (fs::path parent = directory.parent_path(); parent != directory;
         parent = directory.parent_path()) {
        struct stat above {};
        if (::stat(parent.c_str(), &above) != 0 || above.st_dev != here.st_dev)
            break;
        directory = parent;
    }
    return directory;
}

fs::path homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    const passwd* user = ::getpwuid(::getuid());
    return user && user->pw_dir ? fs::path(user->pw_dir) : fs::path();
}

fs::path fallbackLogFile() {
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    fs::path base = stateHome && *stateHome && fs::path(stateHome).is_absolute()
                        ? fs::path(stateHome)
                        : homeDirectory() / ".local" / "state";
    return base / "velmora-qel" / kLogFileName;
}

fs::path rootLogFile() {
    const fs::path root = rootOfCurrentFileSystem();
    return root.empty() ? fs::path() : root / kLogFileName;
}

bool mayAppendTo(const fs::path& file) {
    if (file.empty())
        return false;
    struct stat status {};
    if (::lstat(file.c_str(), &status) == 0)
        return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
               ::access(file.c_str(), W_OK) == 0;
    return errno == ENOENT && ::access(file.parent_path().c_str(), W_OK) == 0;
}

FILE* openForAppend(const fs::path& file) {
    return file.empty() ? nullptr : std::fopen(file.c_str(), "ae");
}

// The default places are shared with other users (the root of a file system): a link there,
// or a file someone else made, must never receive the log.
FILE* openOwnForAppend(const fs::path& file) {
    if (file.empty())
        return nullptr;
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        ::close(fd);
        return nullptr;
    }
    FILE* stream = ::fdopen(fd, "a");
    if (!stream)
        ::close(fd);
    return stream;
}

FILE* openLogFile() {
    if (const auto named = explicitLogFile())
        return openForAppend(*named);
    if (FILE* atRoot = openOwnForAppend(rootLogFile()))
        return atRoot;
    const fs::path fallback = fallbackLogFile();
    std::error_code ignored;
    fs::create_directories(fallback.parent_path(), ignored);
    return openOwnForAppend(fallback);
}

// A caller may log a line between a failed call and its failure record: the writers must
// leave both the last error and errno as they found them.
class ErrorStateKeeper {
  public:
    ErrorStateKeeper() : m_lastError(GetLastError()), m_errno(errno) {}
    ~ErrorStateKeeper() {
        SetLastError(m_lastError);
        errno = m_errno;
    }
    ErrorStateKeeper(const ErrorStateKeeper&) = delete;
    ErrorStateKeeper& operator=(const ErrorStateKeeper&) = delete;

  private:
    std::uint32_t m_lastError;
    int m_errno;
};

void appendToLog(const std::string& text) {
    ErrorStateKeeper keeper;
    FILE* file = openLogFile();
    if (!file)
        return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::string versionLine() {
    return formatString("Velmora Qel tool version %s\n", vlmFTPClient::kToolVersion);
}

} // namespace

void logMessage(const std::string& text) {
    appendToLog(text);
}

std::uint32_t logFailure(const char* operationName, int rc) {
    const std::uint32_t savedCode = GetLastError();
    ErrorStateKeeper keeper;
    const std::string systemText = SystemErrorText(savedCode).value_or("(null)");
    appendToLog(versionLine() +
                formatString("FAIL:\t%s rc = %d\n\tMsg = %s (GetLastError code = %u)\n",
                             operationName ? operationName : "(null)", rc, systemText.c_str(),
                             savedCode));
    return savedCode;
}

void logException(const std::string& text) {
    appendToLog(versionLine() + text);
}

void logStart() {
    appendToLog(std::string("****** Start of Logging *************\n") +
                formatString("Velmora Qel tool version %s - Debug Level : %d\n",
                             vlmFTPClient::kToolVersion, vlmFTPClient::state().debugLevel));
}

void setLogFilePath(std::optional<fs::path> path) {
    std::lock_guard lock(explicitPathMutex);
    explicitPath = std::move(path);
}

fs::path logFilePath() {
    if (const auto named = explicitLogFile())
        return *named;
    const fs::path atRoot = rootLogFile();
    return mayAppendTo(atRoot) ? atRoot : fallbackLogFile();
}
