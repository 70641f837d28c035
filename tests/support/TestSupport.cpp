#include "support/TestSupport.h"

#include "support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

// --- Temporary folders --------------------------------------------------------------

fs::path createTempFolder(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary folder in " +
                                 fs::temp_directory_path().string() + ": " + strerror(errno));
    }
    return pattern;
}

void removeTree(const fs::path& root) {
    std::error_code error;
    fs::remove_all(root, error);
    if (!error) {
        return;
    }
    // A test may have left folders read-only; give them back to the owner and try again.
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(root, error);
}

TempDir::TempDir() : m_path(createTempFolder("qel-test-")) {}

TempDir::~TempDir() {
    removeTree(m_path);
}

// --- Files --------------------------------------------------------------------------

void writeFile(const fs::path& file, const std::string& bytes) {
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path());
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> snapshotTree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            files[fs::relative(entry.path(), root).generic_string()] = readFile(entry.path());
        }
    }
    return files;
}

// --- Sample server tree --------------------------------------------------------------

namespace {

// Mailbox folders below access2; the nesting and the blanks are what real servers have.
const char* const mailboxFolders[] = {
    "100/greetings", "100/messages/new",  "100/messages/saved",
    "101/greetings", "101/messages/new",  "102 Front Desk/messages/saved",
    "dist lists",    "system/prompts/en",
};

std::string randomBytes(std::mt19937& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

std::size_t mailboxFileSize(std::mt19937& random) {
    const auto sizeClass = random() % 10;
    if (sizeClass < 7) {
        return random() % 4096 + 1;
    }
    if (sizeClass < 9) {
        return random() % 65536 + 1;
    }
    return random() % 262144 + 1;
}

std::string mailboxFileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, index % 5 == 3 ? "memo %04d.vox" : "M%04d.vox", index);
    return name;
}

std::string logText(const std::string& name, int lines) {
    std::string text;
    for (int line = 1; line <= lines; ++line) {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, "2026-01-01 08:%02d:%02d %s: event %d\n",
                      line / 60 % 60, line % 60, name.c_str(), line);
        text += buffer;
    }
    return text;
}

void makeMailboxes(const fs::path& root, const SampleTreeOptions& options, std::mt19937& random) {
    const int folderCount = static_cast<int>(std::size(mailboxFolders));
    for (int index = 0; index < options.mailboxFiles; ++index) {
        const fs::path folder = root / "access2" / mailboxFolders[index % folderCount];
        const std::size_t size = index == 0 ? 0 : mailboxFileSize(random);
        writeFile(folder / mailboxFileName(index), randomBytes(random, size));
    }
    fs::create_directories(root / "access2" / "103" / "messages" / "new");
}

void makeSystemTree(const fs::path& root, const SampleTreeOptions& options, std::mt19937& random) {
    const fs::path st = root / "ST";
    writeFile(st / "syscfg.dat", randomBytes(random, 2048));
    writeFile(st / "syscfg.bak", randomBytes(random, 2048));
    writeFile(st / "SYSDIR.DAT", randomBytes(random, 8192));
    for (const char* profile : {"MBxProf.001", "MBxProf.002", "MBxProf.003"}) {
        writeFile(st / "MMTA.BOX" / profile, randomBytes(random, 1024));
    }
    writeFile(st / "MMTA.BOX" / "Mailbox Index.idx", randomBytes(random, 512));
    writeFile(st / "VOICE.DAT", randomBytes(random, options.largeFileBytes));
}

void makeLogFiles(const fs::path& root) {
    const char* const logs[] = {
        "access2/calls.txt", "access2/errors.txt", "ST/boot.out",        "ST/diag.out",
        "ST/system.log",     "ST/event log.log",   "ST/f983wui/web.log", "ST/f983wui/access.log",
        "LOGS/trace1.log",   "LOGS/trace2.log",    "LOGS/calls.csv",     "LOGS/old/trace0.log",
    };
    int lines = 5;
    for (const char* log : logs) {
        writeFile(root / log, logText(fs::path(log).filename().string(), lines));
        lines += 7;
    }
}

} // namespace

void makeSampleServerTree(const fs::path& root, const SampleTreeOptions& options) {
    std::mt19937 random(options.seed);
    fs::create_directories(root);
    makeMailboxes(root, options, random);
    makeSystemTree(root, options, random);
    if (options.logFiles) {
        makeLogFiles(root);
    }
    if (options.safeMarker) {
        writeFile(root / "safe", "");
    }
    if (options.restoreMarker) {
        writeFile(root / "safe2", "");
    }
}

// --- Child processes -----------------------------------------------------------------

namespace {

struct Pipe {
    int readEnd = -1;
    int writeEnd = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe failed: ") + strerror(errno));
        }
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeRead() {
        if (readEnd >= 0) {
            close(readEnd);
            readEnd = -1;
        }
    }
    void closeWrite() {
        if (writeEnd >= 0) {
            close(writeEnd);
            writeEnd = -1;
        }
    }
};

constexpr auto drainAfterKill = std::chrono::seconds(5);

// Reads what is ready on `pipe` into `sink`; closes the pipe at end of file.
void readAvailable(Pipe& pipe, std::string& sink) {
    char buffer[65536];
    const ssize_t count = read(pipe.readEnd, buffer, sizeof buffer);
    if (count > 0) {
        sink.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
        pipe.closeRead();
    }
}

void killGroup(int pid) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
}

int waitForExit(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extraEnv,
                         std::chrono::milliseconds timeout) {
    Pipe out;
    Pipe err;
    const int pid = spawnChild(argv, extraEnv, out.writeEnd, err.writeEnd, true);
    out.closeWrite();
    err.closeWrite();

    ProcessResult result;
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + timeout;
    while (out.readEnd >= 0 || err.readEnd >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            if (result.timedOut) {
                break; // something outside the group still holds the pipes
            }
            result.timedOut = true;
            killGroup(pid);
            deadline = Clock::now() + drainAfterKill;
            continue;
        }
        pollfd fds[2] = {{out.readEnd, POLLIN, 0}, {err.readEnd, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            throw std::runtime_error(std::string("poll failed: ") + strerror(errno));
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            readAvailable(out, result.out);
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            readAvailable(err, result.err);
        }
    }
    if (result.timedOut) {
        killGroup(pid);
    }
    const int status = waitForExit(pid);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

fs::path qelBinary() {
    return QEL_CLI_BINARY;
}
