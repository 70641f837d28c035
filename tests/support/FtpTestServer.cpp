#include "support/FtpTestServer.h"

#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto startTimeout = 15s;
constexpr auto termTimeout = 3s;
constexpr auto pollInterval = 5ms;

std::string readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reaps the child if it has exited; returns true then.
bool reapIfExited(int pid, int& status) {
    int result;
    do {
        result = waitpid(pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    return result == pid || (result < 0 && errno == ECHILD);
}

} // namespace

FtpTestServer::FtpTestServer() : FtpTestServer(Options{}) {}

FtpTestServer::FtpTestServer(Options options) : m_options(std::move(options)) {
    m_controlDir = createTempFolder("qel-ftpd-");
    try {
        if (m_options.root.empty()) {
            m_root = createTempFolder("qel-ftproot-");
            m_ownsRoot = true;
        } else {
            m_root = m_options.root;
            fs::create_directories(m_root);
        }
        start();
    } catch (...) {
        removeOwnedFolders();
        throw;
    }
}

FtpTestServer::~FtpTestServer() {
    stop();
    removeOwnedFolders();
}

void FtpTestServer::removeOwnedFolders() {
    if (m_ownsRoot) {
        removeTree(m_root);
    }
    removeTree(m_controlDir);
}

std::string FtpTestServer::hostEntry() const {
    const std::string& address = m_options.bindAddress;
    if (address.find(':') != std::string::npos) {
        return "[" + address + "]:" + std::to_string(m_port);
    }
    return address + ":" + std::to_string(m_port);
}

void FtpTestServer::restart() {
    stop();
    start();
}

void FtpTestServer::restart(std::vector<std::string> faults) {
    m_options.faults = std::move(faults);
    restart();
}

void FtpTestServer::start() {
    const fs::path portFile = m_controlDir / "port";
    const fs::path errorFile = m_controlDir / "stderr";
    std::error_code ignored;
    fs::remove(portFile, ignored);

    std::vector<std::string> argv = {
        "/usr/bin/python3", QEL_TEST_SERVER,       "--root", m_root.string(),
        "--bind",           m_options.bindAddress, "--port", std::to_string(m_port),
        "--port-file",      portFile.string()};
    argv.insert(argv.end(), m_options.faults.begin(), m_options.faults.end());

    const int errorFd = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (errorFd < 0) {
        throw std::runtime_error("cannot create " + errorFile.string());
    }
    try {
        m_pid = spawnChild(argv, {}, errorFd, errorFd, /*ownProcessGroup=*/false);
    } catch (...) {
        close(errorFd);
        throw;
    }
    close(errorFd);

    const auto deadline = std::chrono::steady_clock::now() + startTimeout;
    while (!fs::exists(portFile)) {
        int status = 0;
        if (reapIfExited(m_pid, status)) {
            m_pid = -1;
            throw std::runtime_error("the test FTP server did not start:\n" + readWhole(errorFile));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("the test FTP server did not listen within 15 s:\n" +
                                     readWhole(errorFile));
        }
        std::this_thread::sleep_for(pollInterval);
    }
    m_port = std::stoi(readWhole(portFile));
}

void FtpTestServer::stop() {
    if (m_pid <= 0) {
        return;
    }
    kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + termTimeout;
    int status = 0;
    while (!reapIfExited(m_pid, status)) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    m_pid = -1;
}
