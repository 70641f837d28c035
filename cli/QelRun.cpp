#include "cli/QelRun.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include <unistd.h>

#include "cli/StopSignals.h"
#include "cli/TerminalProgress.h"
#include "common/StringTable.h"
#include "engine/OperationRunner.h"
#include "engine/RecoveryFiles.h"
#include "engine/oplog/OperationLog.h"
#include "platform/Internet.h"
#include "platform/Sleep.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr auto kPreparingStepInterval = std::chrono::seconds(3);
constexpr int kPreparingLimit = 96;

// Test hook: every FTP timeout of the run shortened to this many milliseconds.
void applyTestTimeout() {
    const char* value = std::getenv("QEL_TEST_TIMEOUT_MS");
    if (!value || !*value)
        return;
    char* stop = nullptr;
    const unsigned long milliseconds = std::strtoul(value, &stop, 10);
    if (*stop == '\0' && milliseconds <= UINT32_MAX)
        SetTimeoutOverrideForTesting(static_cast<std::uint32_t>(milliseconds));
}

void applyEngineSettings(const CliOptions& options) {
    // The run changes the current directory: a relative log path means the starting one.
    if (options.logFile) {
        std::error_code error;
        const fs::path absolute = fs::absolute(*options.logFile, error);
        setLogFilePath(error ? fs::path(*options.logFile) : absolute);
    }
    if (options.pauseScale)
        SetPauseScale(*options.pauseScale);
    applyTestTimeout();
}

bool askToResume() {
    std::cout << LoadString(IDS_RESUME_QUESTION) << " [y/n] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    std::erase_if(answer, [](unsigned char c) { return std::isspace(c); });
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes";
}

std::int32_t chooseResume(const CliOptions& options, const std::string& folder) {
    if (options.resume == ResumeMode::NoResume)
        return 0;
    const auto header = readRecoveryHeader(kRecoveryFileName);
    const bool matches =
        header && recoveryMatches(*header, options.operation, options.host, folder);
    if (options.resume == ResumeMode::Resume) {
        if (!matches)
            std::cerr << "qel: no recovery file of this operation, host and folder in " << folder
                      << "; starting afresh.\n";
        return matches ? 1 : 0;
    }
    return matches && ::isatty(STDIN_FILENO) && askToResume() ? 1 : 0;
}

// What the progress dialog does while the worker runs: creep the bar during preparation and
// show the operation's own title once it transfers.
std::uint32_t runWorker(OperationContext& context, TerminalProgress& progress,
                        const std::atomic<std::int32_t>& phase, const std::string& statusText) {
    OperationRunner runner;
    runner.start(context);
    auto lastStep = std::chrono::steady_clock::now();
    bool titleShown = false;
    std::optional<std::uint32_t> result;
    while (!(result = runner.exitCode())) {
        std::this_thread::sleep_for(kPollInterval);
        const std::int32_t current = phase.load(std::memory_order_acquire);
        if (current == Transferring && !titleShown) {
            progress.setTitle(statusText, true);
            titleShown = true;
        } else if (current == Preparing &&
                   std::chrono::steady_clock::now() - lastStep >= kPreparingStepInterval) {
            if (progress.position() < kPreparingLimit)
                progress.StepIt();
            lastStep = std::chrono::steady_clock::now();
        }
    }
    // A short transfer can end between two polls; the worker has ended, so its title can be read.
    if (!titleShown && statusText != LoadString(IDS_PREPARING))
        progress.setTitle(statusText, true);
    progress.finish();
    return *result;
}

std::uint32_t runOperationWithProgress(const CliOptions& options, const std::string& folder,
                                       std::int32_t resume) {
    std::atomic<std::int32_t> phase{Preparing};
    std::string statusText = LoadString(IDS_PREPARING);
    TerminalProgress progress(stdout, ::isatty(STDOUT_FILENO) ? TerminalProgress::Style::Bar
                                                              : TerminalProgress::Style::Lines);
    progress.setTitle(statusText, false);

    OperationContext context;
    context.operation = options.operation;
    context.localFolder = folder;
    context.host = options.host;
    context.progressBar = &progress;
    context.phase = &phase;
    context.statusText = &statusText;
    context.debugLevel = options.debugLevel;
    context.resume = resume;
    context.discardUnfinished = options.resume == ResumeMode::NoResume;
    progress.SetRange32(0, 100);
    progress.SetStep(1);
    progress.SetPos(0);
    return runWorker(context, progress, phase, statusText);
}

void reportResult(std::uint32_t result, const CliOptions& options, const std::string& folder) {
    std::string message = ResultMessage(result, options.operation, options.host, folder);
    if (exitStatusFor(result) != static_cast<int>(result)) {
        if (!message.empty() && message.back() != '\n')
            message += ' ';
        message += "(code " + std::to_string(result) + ")";
    }
    if (!message.empty() && message.back() == '\n')
        message.pop_back();
    (result == 0 ? std::cout : std::cerr) << message << '\n';
}

} // namespace

int exitStatusFor(std::uint32_t resultCode) {
    return resultCode <= 125 ? static_cast<int>(resultCode) : 1;
}

int runQel(const CliOptions& options) {
    applyEngineSettings(options);
    if (::chdir(options.folder.c_str()) != 0) {
        std::cerr << LoadString(IDS_FOLDER) << options.folder
                  << LoadString(IDS_FOLDER_DOES_NOT_EXIST) << '\n';
        return 3;
    }
    // The folder as the system names it: what the worker and its recovery file will use.
    std::error_code error;
    const fs::path current = fs::current_path(error);
    const std::string folder = error ? options.folder : current.string();

    const std::int32_t resume = chooseResume(options, folder);
    installStopHandlers();
    const std::uint32_t result = runOperationWithProgress(options, folder, resume);
    if (const auto stopped = reportStop(result))
        return *stopped;
    reportResult(result, options, options.folder);
    return exitStatusFor(result);
}
