#include "cli/QelRun.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <variant>

#include <sys/stat.h>
#include <unistd.h>

#include "cli/DryRun.h"
#include "cli/ExitStatus.h"
#include "cli/FailureMessage.h"
#include "cli/JsonSummary.h"
#include "cli/ResumeChoice.h"
#include "cli/RunOutcome.h"
#include "cli/StopSignals.h"
#include "cli/TerminalProgress.h"
#include "cli/Verify.h"
#include "common/StringTable.h"
#include "engine/OperationRunner.h"
#include "engine/RecoveryFiles.h"
#include "engine/RunReport.h"
#include "engine/oplog/OperationLog.h"
#include "platform/Internet.h"
#include "platform/Sleep.h"
#include "platform/TransferMeter.h"

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
    if (options.timeoutSeconds)
        SetTimeoutLimit(*options.timeoutSeconds * 1000);
    SetPassiveMode(options.passive);
}

void printError(const std::string& line) {
    std::cerr << "qel: " << line << '\n';
}

// A log that cannot be written would lose every diagnostic of the run: refuse to start.
// The outcome of a run that did not start when the named log cannot be appended to.
std::optional<RunOutcome> checkLogFile(const CliOptions& options) {
    if (!options.logFile)
        return std::nullopt;
    const fs::path file = logFilePath();
    struct stat info {};
    int error = 0;
    if (::stat(file.c_str(), &info) == 0)
        error = S_ISDIR(info.st_mode) ? EISDIR : ::access(file.c_str(), W_OK) == 0 ? 0 : errno;
    else if (errno != ENOENT)
        error = errno;
    else if (::access(file.parent_path().c_str(), W_OK | X_OK) != 0)
        error = errno;
    if (error == 0)
        return std::nullopt;
    RunOutcome outcome;
    outcome.result = static_cast<std::uint32_t>(error);
    outcome.exitStatus = exitStatusForLocalError(outcome.result);
    outcome.message = "cannot write the operation log " + file.string() + ": " +
                      std::strerror(error) + "; name a writable file with --log";
    return outcome;
}

// Why the folder cannot be made current; empty once it is.
std::string enterFolderOrSayWhy(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return "the folder " + folder +
                   " does not exist; create it or name another with "
                   "--folder";
        return "cannot use the folder " + folder + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(info.st_mode))
        return folder + " is a file, not a folder; name a folder with --folder";
    if (::chdir(folder.c_str()) != 0)
        return "cannot enter the folder " + folder + ": " + std::strerror(errno);
    return {};
}

// Makes the folder current; its full name as the system gives it, or the outcome of a run
// that could not start there.
std::variant<std::string, RunOutcome> enterFolder(const std::string& folder) {
    const std::string problem = enterFolderOrSayWhy(folder);
    if (!problem.empty()) {
        RunOutcome outcome;
        outcome.result = RESULT_FOLDER_NOT_CURRENT;
        outcome.exitStatus = static_cast<int>(outcome.result);
        outcome.message = problem;
        return outcome;
    }
    std::error_code error;
    const fs::path current = fs::current_path(error);
    return error ? folder : current.string();
}

LiveStatus liveStatus(const RunReport& report, std::uint64_t bytesAtStart) {
    LiveStatus status;
    status.bytes = TransferredBytes() - bytesAtStart;
    status.currentFile = report.currentFile();
    if (const auto end = report.pauseEnd()) {
        const auto left = *end - RunReport::Clock::now();
        if (left > RunReport::Clock::duration::zero())
            status.pauseLeft = std::chrono::ceil<std::chrono::seconds>(left);
    }
    return status;
}

TerminalProgress::Style progressStyle(const CliOptions& options, std::FILE* stream) {
    if (options.quiet)
        return TerminalProgress::Style::Silent;
    return ::isatty(::fileno(stream)) ? TerminalProgress::Style::Bar
                                      : TerminalProgress::Style::Lines;
}

// Where progress, notes and the success message go: stdout, unless it carries the JSON.
std::FILE* progressStream(const CliOptions& options) {
    return options.json ? stderr : stdout;
}

struct Watch {
    TerminalProgress& progress;
    const std::atomic<std::int32_t>& phase;
    const std::string& statusText;
    const RunReport& report;
    std::uint64_t bytesAtStart;
};

// What the progress dialog does while the worker runs: creep the bar during preparation, show
// the operation's own title once it transfers, and redraw the live line.
std::uint32_t runWorker(OperationContext& context, const Watch& watch) {
    OperationRunner runner;
    runner.start(context);
    auto lastStep = std::chrono::steady_clock::now();
    bool titleShown = false;
    std::optional<std::uint32_t> result;
    while (!(result = runner.exitCode())) {
        std::this_thread::sleep_for(kPollInterval);
        const std::int32_t current = watch.phase.load(std::memory_order_acquire);
        if (current == Transferring && !titleShown) {
            watch.progress.setTitle(watch.statusText, true);
            titleShown = true;
        } else if (current == Preparing &&
                   std::chrono::steady_clock::now() - lastStep >= kPreparingStepInterval) {
            if (watch.progress.position() < kPreparingLimit)
                watch.progress.StepIt();
            lastStep = std::chrono::steady_clock::now();
        }
        watch.progress.update(liveStatus(watch.report, watch.bytesAtStart));
    }
    // A short transfer can end between two polls; the worker has ended, so its title can be read.
    if (!titleShown && watch.statusText != LoadString(IDS_PREPARING))
        watch.progress.setTitle(watch.statusText, true);
    watch.progress.finish(liveStatus(watch.report, watch.bytesAtStart));
    return *result;
}

// The recovery file this run leaves for a resume of the same command, by its entry count.
std::optional<std::int32_t> recoveryLeft(const CliOptions& options, const std::string& folder) {
    const auto header = readRecoveryHeader(fs::path(folder) / kRecoveryFileName);
    if (header && recoveryMatches(*header, options.operation, options.host, folder))
        return header->entries;
    return std::nullopt;
}

RunOutcome runOperationWithProgress(const CliOptions& options, const std::string& folder,
                                    std::int32_t resume) {
    std::atomic<std::int32_t> phase{Preparing};
    std::string statusText = LoadString(IDS_PREPARING);
    std::FILE* stream = progressStream(options);
    TerminalProgress progress(stream, progressStyle(options, stream));
    progress.setTitle(statusText, false);
    RunReport report;

    OperationContext context;
    context.operation = options.operation;
    context.localFolder = folder;
    context.host = options.host;
    context.progressBar = &progress;
    context.phase = &phase;
    context.statusText = &statusText;
    context.debugLevel = options.debugLevel;
    context.filesAtOnce = options.filesAtOnce;
    context.resume = resume;
    context.discardUnfinished = options.resume == ResumeMode::NoResume;
    context.report = &report;
    progress.SetRange32(0, 100);
    progress.SetStep(1);
    progress.SetPos(0);

    const auto started = std::chrono::steady_clock::now();
    const std::uint64_t bytesAtStart = TransferredBytes();
    RunOutcome outcome;
    outcome.result = runWorker(context, {progress, phase, statusText, report, bytesAtStart});
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    outcome.everConnected = report.everConnected();
    outcome.failure = report.failure();
    outcome.exitStatus = exitStatusFor(outcome.result, outcome.everConnected, outcome.failure);
    outcome.filesDone = report.filesMoved();
    outcome.filesTotal = static_cast<std::size_t>(progress.total());
    outcome.bytes = TransferredBytes() - bytesAtStart;
    outcome.recoveryEntries = recoveryLeft(options, folder);
    outcome.logPath = logFilePath().string();
    return outcome;
}

std::string summaryLine(const std::string& statusText, const RunOutcome& outcome) {
    const auto whole = std::chrono::seconds(static_cast<long long>(outcome.seconds));
    std::string line = statusText + " " + std::to_string(outcome.filesDone) + " of " +
                       std::to_string(outcome.filesTotal) + " files, " + humanBytes(outcome.bytes) +
                       " in " + clockTime(whole);
    if (outcome.seconds > 0)
        line += " (" +
                humanBytes(static_cast<std::uint64_t>(static_cast<double>(outcome.bytes) /
                                                      outcome.seconds)) +
                "/s)";
    return line;
}

std::string resultMessage(const CliOptions& options, const RunOutcome& outcome) {
    if (options.dryRun && outcome.result == RESULT_OK)
        return "dry run: the operation could start; nothing was changed.";
    std::string text =
        ResultMessage(outcome.result, options.operation, options.host, options.folder);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void reportOutcome(const CliOptions& options, const std::string& folder,
                   const RunOutcome& outcome) {
    std::FILE* stream = progressStream(options);
    const bool ran = !options.dryRun && !options.verify;
    if (!options.quiet && ran && outcome.filesTotal > 0) {
        const std::string title = LoadString(options.operation == Backup    ? IDS_DATA_BACKUP
                                             : options.operation == Restore ? IDS_DATA_RESTORE
                                                                            : IDS_DOWNLOADING_LOGS);
        std::fprintf(stream, "%s\n", summaryLine(title, outcome).c_str());
    }
    if (outcome.exitStatus == 0) {
        if (!options.quiet)
            std::fprintf(stream, "%s\n", outcome.message.c_str());
    } else {
        for (const std::string& line : failureLines(options, folder, outcome))
            printError(line);
    }
    std::fflush(stream);
    if (options.json)
        std::cout << jsonSummary(options, folder, outcome) << std::flush;
}

} // namespace

// A run that could not start: the reason alone, and the summary when asked for.
int notStarted(const CliOptions& options, const RunOutcome& outcome) {
    printError(outcome.message);
    if (options.json)
        std::cout << jsonSummary(options, options.folder, outcome) << std::flush;
    return outcome.exitStatus;
}

int runQel(const CliOptions& options) {
    applyEngineSettings(options);
    if (const auto logUnusable = checkLogFile(options))
        return notStarted(options, *logUnusable);
    const auto entered = enterFolder(options.folder);
    if (const auto* folderUnusable = std::get_if<RunOutcome>(&entered))
        return notStarted(options, *folderUnusable);
    const std::string& folder = std::get<std::string>(entered);

    if (options.verify || options.dryRun) {
        RunOutcome outcome = options.verify ? verifyBackup(options, folder, progressStream(options))
                                            : dryRun(options, folder, progressStream(options));
        if (outcome.message.empty())
            outcome.message = resultMessage(options, outcome);
        reportOutcome(options, folder, outcome);
        return outcome.exitStatus;
    }
    const std::int32_t resume = chooseResume(options, folder);
    installStopHandlers();
    RunOutcome outcome = runOperationWithProgress(options, folder, resume);
    if (const auto stopped = reportStop(outcome.result))
        return *stopped;
    outcome.message = resultMessage(options, outcome);
    reportOutcome(options, folder, outcome);
    return outcome.exitStatus;
}
