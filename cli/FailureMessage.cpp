#include "cli/FailureMessage.h"

#include "cli/ExitStatus.h"
#include "common/StringTable.h"
#include "engine/OperationTypes.h"
#include "engine/Operations.h"
#include "engine/TransferLoopPaths.h"
#include "platform/LastError.h"

namespace {

constexpr std::uint32_t kBuiltInTimeoutSeconds = 900;

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// The FTP layer's words with the detailed code, which the log and the summary name too.
std::string withCode(const RunReport::Failure& failure) {
    return withoutLineEnd(failure.text) + " (code " + std::to_string(failure.code) + ")";
}

// The desktop program's result text on one line: its line breaks become blanks.
std::string oneLine(const std::string& text) {
    std::string line;
    for (const char c : withoutLineEnd(text)) {
        if (c != '\n')
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    return line;
}

bool mentions(const std::string& text, const char* words) {
    return text.find(words) != std::string::npos;
}

std::string timeoutText(const CliOptions& options) {
    return std::to_string(options.timeoutSeconds.value_or(kBuiltInTimeoutSeconds)) + " s";
}

// Why the connection could not be made, in the words of someone who has to fix it.
std::pair<std::string, std::string> connectionCause(const RunReport::Failure& failure,
                                                    const CliOptions& options) {
    const std::string& text = failure.text;
    switch (failure.code) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return {"its name was not resolved", "check the host name, or give the server's address"};
    case ERROR_INTERNET_CANNOT_CONNECT:
        if (mentions(text, "refused"))
            return {"the connection was refused",
                    "check that the FTP server runs and listens on that port"};
        if (mentions(text, "no answer"))
            return {"the connection timed out after " + timeoutText(options),
                    "check the address, the network and any firewall on the way"};
        return {"the connection failed", "check the address and the network"};
    case ERROR_INTERNET_EXTENDED_ERROR:
        return {"the server refused the session",
                "the server may be busy or allow no more connections; try again later"};
    case ERROR_INTERNET_INCORRECT_USER_NAME:
    case ERROR_INTERNET_INCORRECT_PASSWORD:
    case ERROR_INTERNET_LOGIN_FAILURE:
        return {"the server refused the login", "check that the host is a Velmora server"};
    case ERROR_INTERNET_TIMEOUT:
        return {"the server did not answer within " + timeoutText(options),
                "check that the host runs an FTP server and that it is not overloaded"};
    default:
        return {"the connection was lost before the login", "try again later"};
    }
}

bool noDataConnection(const RunReport::Failure& failure) {
    return mentions(failure.text, "data connection") || mentions(failure.text, "error: 425");
}

std::string communicationHint(const RunReport::Failure& failure, const CliOptions& options) {
    if (noDataConnection(failure))
        return options.passive
                   ? "the data connection to the server failed; check the firewall in front of "
                     "the server"
                   : "the server could not connect back to this machine: transfers use active "
                     "mode, which a firewall or NAT between the two blocks; try --passive";
    switch (failure.code) {
    case ERROR_INTERNET_TIMEOUT:
        return "the server was silent for " + timeoutText(options) +
               "; check the server and the network (--timeout sets the limit)";
    case ERROR_INTERNET_EXTENDED_ERROR:
        if (mentions(failure.text, "error: 4"))
            return "the server refused for the moment; try again later";
        return "the server refused the command; check the file and the free space on the server";
    default:
        return "the connection was lost; check the server and the network";
    }
}

std::string localPathOf(const CliOptions& options, const std::string& folder,
                        const std::string& file) {
    if (file.empty() || options.operation == Restore)
        return file;
    return localPathForRemote(file, kRemoteRoot, folder);
}

std::vector<std::string> localFailure(const CliOptions& options, const std::string& folder,
                                      const RunReport::Failure& failure) {
    const std::string reason = withoutLineEnd(
        SystemErrorText(failure.code).value_or("error " + std::to_string(failure.code)));
    const std::string path = localPathOf(options, folder, failure.file);
    const std::string what = path.empty() ? withoutLineEnd(failure.text) : path;
    return {"Operation failed: " + (what.empty() ? "" : what + ": ") + reason + " (error " +
                std::to_string(failure.code) + ")",
            "check the local folder's free space and permissions"};
}

std::vector<std::string> communicationFailure(const CliOptions& options,
                                              const std::optional<RunReport::Failure>& failure,
                                              std::uint32_t result) {
    std::string first = LoadString(IDS_COMMUNICATION_PROBLEM) + options.host;
    if (!failure) {
        const bool logList = result == RESULT_TRANSFER_FAILED && options.operation == LogFiles;
        return {first + (logList ? ": the list of the server's log files was not obtained" : "")};
    }
    if (!failure->file.empty())
        first += " while moving " + failure->file;
    std::vector<std::string> lines = {first};
    lines.push_back(failure->text.empty()
                        ? "the transfer failed (code " + std::to_string(failure->code) + ")"
                        : withCode(*failure));
    lines.push_back(communicationHint(*failure, options));
    return lines;
}

std::vector<std::string> connectionFailure(const CliOptions& options,
                                           const std::optional<RunReport::Failure>& failure) {
    const std::string first = LoadString(IDS_CANNOT_CONNECT) + options.host;
    if (!failure)
        return {first};
    const auto [cause, hint] = connectionCause(*failure, options);
    return {first + ": " + cause, withCode(*failure), hint};
}

std::vector<std::string> resultWithHint(const CliOptions& options, const RunOutcome& outcome,
                                        const std::string& folder) {
    std::vector<std::string> lines = {oneLine(outcome.message)};
    if (options.verify)
        return lines;
    switch (outcome.result) {
    case RESULT_BACKUP_NOT_INITIATED:
    case RESULT_RESTORE_NOT_INITIATED:
        lines.push_back("start it from Velmora Manager first (that creates 7.1/safe on the "
                        "server), then run this command again");
        break;
    case RESULT_INVALID_BACKUP:
        lines.push_back(folder + " needs ST, access2, ST/syscfg.*, ST/SYSDIR.* and "
                                 "ST/MMTA.BOX/MBxProf.*: name the folder a backup wrote");
        break;
    default:
        break;
    }
    return lines;
}

std::vector<std::string> causeLines(const CliOptions& options, const std::string& folder,
                                    const RunOutcome& outcome) {
    if (outcome.failure && outcome.exitStatus != kExitCommunication &&
        outcome.exitStatus != static_cast<int>(RESULT_FTP_FAILED))
        return localFailure(options, folder, *outcome.failure);
    if (outcome.exitStatus == static_cast<int>(RESULT_FTP_FAILED))
        return connectionFailure(options, outcome.failure);
    if (outcome.exitStatus == kExitCommunication)
        return communicationFailure(options, outcome.failure, outcome.result);
    return resultWithHint(options, outcome, folder);
}

} // namespace

std::vector<std::string> failureLines(const CliOptions& options, const std::string& folder,
                                      const RunOutcome& outcome) {
    std::vector<std::string> lines = causeLines(options, folder, outcome);
    if (outcome.recoveryEntries)
        lines.push_back(std::to_string(*outcome.recoveryEntries) +
                        (*outcome.recoveryEntries == 1 ? " file is" : " files are") +
                        " left; run the same command with --resume to continue");
    if (!outcome.logPath.empty())
        lines.push_back("the operation log is " + outcome.logPath);
    return lines;
}
