#include "support/ChildProcess.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& extraEnv) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text(*entry);
        if (!extraEnv.contains(text.substr(0, text.find('=')))) {
            entries.push_back(text);
        }
    }
    for (const auto& [name, value] : extraEnv) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void becomeChild(char* const* args, char* const* envp, int stdoutFd, int stderrFd,
                              bool ownProcessGroup, pid_t parent) {
    if (ownProcessGroup) {
        setpgid(0, 0);
    }
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
        _exit(127);
    }
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, STDIN_FILENO);
    dup2(stdoutFd, STDOUT_FILENO);
    dup2(stderrFd, STDERR_FILENO);
    close_range(3, ~0U, 0);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvpe(args[0], args, envp);
    const char message[] = "cannot start the program: ";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    (void)!write(STDERR_FILENO, args[0], strlen(args[0]));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(127);
}

} // namespace

int spawnChild(const std::vector<std::string>& argv,
               const std::map<std::string, std::string>& extraEnv, int stdoutFd, int stderrFd,
               bool ownProcessGroup) {
    if (argv.empty()) {
        throw std::invalid_argument("spawnChild needs a program");
    }
    std::vector<std::string> argStrings = argv;
    std::vector<std::string> envStrings = environmentWith(extraEnv);
    std::vector<char*> args = pointersTo(argStrings);
    std::vector<char*> envp = pointersTo(envStrings);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error(std::string("fork failed: ") + strerror(errno));
    }
    if (pid == 0) {
        becomeChild(args.data(), envp.data(), stdoutFd, stderrFd, ownProcessGroup, parent);
    }
    if (ownProcessGroup) {
        setpgid(pid, pid); // closes the race with the child's own call; errors are harmless
    }
    return pid;
}
