#include "FaultHarness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/TempFile.h"
#include "support/ChildProcess.h"

namespace faults {

namespace {

std::string randomBytes(std::mt19937& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

bool isProgramFile(const std::string& relative) {
    return relative == "k7.bad" || relative == "k7.lst" || relative == "k7.tmp";
}

} // namespace

const char* opName(Op op) {
    switch (op) {
    case Op::Backup:
        return "backup";
    case Op::Restore:
        return "restore";
    case Op::Logs:
        return "logs";
    }
    return "?";
}

std::int32_t recoveryCode(Op op) {
    return static_cast<std::int32_t>(op) + 1;
}

// --- The user ------------------------------------------------------------------------

QelUser::QelUser() {
    fs::create_directories(folder());
}

std::string QelUser::log() const {
    return fs::exists(logFile()) ? readFile(logFile()) : std::string();
}

std::optional<std::string> QelUser::registryDirectory() const {
    const fs::path value = home() / "config" / "velmora-qel" / "registry" / "HKEY_LOCAL_MACHINE" /
                           "SOFTWARE" / "Ardenvo" / "VelmoraMiniQel" / "Directory";
    if (!fs::exists(value))
        return std::nullopt;
    const std::string bytes = readFile(value);
    return bytes.substr(0, bytes.find('\0'));
}

std::map<std::string, std::string> QelUser::environment() const {
    return {{"XDG_CONFIG_HOME", (home() / "config").string()},
            {"XDG_STATE_HOME", (home() / "state").string()}};
}

void QelUser::addOptions(const std::vector<std::string>& options) {
    m_options.insert(m_options.end(), options.begin(), options.end());
}

std::vector<std::string> QelUser::arguments(Op op, const std::string& host, bool resume) const {
    std::vector<std::string> argv{qelBinary().string(),
                                  opName(op),
                                  "--host",
                                  host,
                                  "--folder",
                                  folder().string(),
                                  "--pause-scale",
                                  "0",
                                  resume ? "--resume" : "--no-resume",
                                  "--log",
                                  logFile().string(),
                                  "--debug-level",
                                  "1"};
    argv.insert(argv.end(), m_options.begin(), m_options.end());
    return argv;
}

ProcessResult QelUser::run(Op op, const std::string& host, bool resume,
                           const std::vector<std::string>& wrapper,
                           std::chrono::milliseconds ftpTimeout) const {
    std::vector<std::string> argv = wrapper;
    const auto own = arguments(op, host, resume);
    argv.insert(argv.end(), own.begin(), own.end());
    auto env = environment();
    env["QEL_TEST_TIMEOUT_MS"] = std::to_string(ftpTimeout.count());
    return runProcess(argv, env, std::chrono::seconds(120));
}

// --- A run in the background ------------------------------------------------------------

RunningQel::RunningQel(const QelUser& user, Op op, const std::string& host, bool resume,
                       std::chrono::milliseconds ftpTimeout, bool closedOutput) {
    auto env = user.environment();
    env["QEL_TEST_TIMEOUT_MS"] = std::to_string(ftpTimeout.count());
    const int output =
        open((user.home() / "qel.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int pipeEnds[2] = {-1, -1};
    if (closedOutput && pipe2(pipeEnds, O_CLOEXEC) == 0)
        close(pipeEnds[0]);
    m_pid = spawnChild(user.arguments(op, host, resume), env,
                       pipeEnds[1] >= 0 ? pipeEnds[1] : output, output, true);
    if (pipeEnds[1] >= 0)
        close(pipeEnds[1]);
    close(output);
}

RunningQel::~RunningQel() {
    kill();
}

bool RunningQel::running() {
    if (m_pid <= 0)
        return false;
    if (waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

int RunningQel::kill() {
    if (!running())
        return 0;
    ::kill(m_pid, SIGKILL);
    while (waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0;
}

int RunningQel::stop(int signalNumber) {
    if (m_pid > 0)
        ::kill(m_pid, signalNumber);
    return waitForExit();
}

int RunningQel::waitForExit() {
    if (!waitUntil([&] { return !running(); }, std::chrono::minutes(1))) {
        kill();
        return -1;
    }
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// --- Trees ------------------------------------------------------------------------------

void makeDataTree(const fs::path& root, int mailboxFiles, unsigned seed) {
    std::mt19937 random(seed);
    for (int index = 0; index < mailboxFiles; ++index) {
        const fs::path box = root / "access2" / ("box " + std::to_string(index / 10));
        writeFile(box / ("M" + std::to_string(1000 + index) + ".vox"),
                  randomBytes(random, 1024 + random() % 7168));
    }
    writeFile(root / "ST" / "syscfg.dat", randomBytes(random, 3000));
    writeFile(root / "ST" / "SYSDIR.DAT", randomBytes(random, 5000));
    writeFile(root / "ST" / "MMTA.BOX" / "MBxProf.001", randomBytes(random, 2000));
    writeFile(root / "safe", "");
}

void makeLogTree(const fs::path& root) {
    makeSampleServerTree(
        root, {.mailboxFiles = 4, .largeFileBytes = 4096, .safeMarker = false, .logFiles = true});
}

Tree dataTrees(const fs::path& root) {
    Tree data;
    for (const char* tree : {"access2", "ST"}) {
        if (!fs::exists(root / tree))
            continue;
        for (const auto& [path, bytes] : snapshotTree(root / tree))
            data[std::string(tree) + "/" + path] = bytes;
    }
    return data;
}

Tree logFilesOf(const fs::path& serverRoot) {
    auto matches = [](const fs::path& relative) {
        const std::string directory = relative.parent_path().generic_string();
        const std::string extension = relative.extension().string();
        return (directory == "access2" && extension == ".txt") ||
               (directory == "ST" && (extension == ".out" || extension == ".log")) ||
               (directory == "ST/f983wui" && extension == ".log") || directory == "LOGS";
    };
    Tree logs;
    for (const auto& [path, bytes] : snapshotTree(serverRoot))
        if (matches(path))
            logs[path] = bytes;
    return logs;
}

Tree collectedFiles(const fs::path& root) {
    Tree files = snapshotTree(root);
    std::erase_if(files, [](const auto& entry) { return isProgramFile(entry.first); });
    return files;
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

std::vector<std::string> partialDownloads(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (IsDownloadLeftover(entry.path().filename().string()))
            found.push_back(fs::relative(entry.path(), root).generic_string());
    return found;
}

::testing::AssertionResult onlyWholeFiles(const Tree& found, const Tree& source) {
    for (const auto& [path, bytes] : found) {
        const auto original = source.find(path);
        if (original == source.end())
            return ::testing::AssertionFailure() << path << " is not in the source";
        if (original->second != bytes)
            return ::testing::AssertionFailure()
                   << path << " holds " << bytes.size() << " bytes that differ from the source's "
                   << original->second.size();
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> relativeRemotePaths(const std::vector<std::string>& remotePaths) {
    std::vector<std::string> relative;
    for (const auto& path : remotePaths) {
        std::string text = path.starts_with(kDataRoot) ? path.substr(std::strlen(kDataRoot)) : path;
        if (text.starts_with("/"))
            text.erase(0, 1);
        relative.push_back(text);
    }
    return relative;
}

std::vector<std::string> entriesOf(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string printedResult(const ProcessResult& result) {
    return result.out + result.err;
}

} // namespace faults
