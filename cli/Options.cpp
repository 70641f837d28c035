#include "cli/Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "cli/ExitStatus.h"
#include "engine/OperationTypes.h"
#include "platform/HostEntry.h"

namespace {

struct Flags {
    bool operationGiven = false;
    bool resume = false;
    bool noResume = false;
};

bool parseCommand(const std::string& word, CliOptions& options) {
    if (word == "backup")
        options.operation = Backup;
    else if (word == "restore")
        options.operation = Restore;
    else if (word == "logs")
        options.operation = LogFiles;
    else if (word == "verify")
        options.verify = true;
    else
        return false;
    return true;
}

// A whole number within [lowest, highest], or the reason it is not one.
template <typename Number>
std::optional<std::string> parseWholeNumber(const std::string& name, const std::string& text,
                                            Number lowest, Number highest, Number& value) {
    const std::string range = std::to_string(lowest) + " to " + std::to_string(highest);
    long long parsed = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, parsed);
    if (text.empty() || stop != end ||
        (error != std::errc() && error != std::errc::result_out_of_range))
        return name + " needs a whole number from " + range + ", not \"" + text + "\"";
    if (error == std::errc::result_out_of_range || parsed < static_cast<long long>(lowest) ||
        parsed > static_cast<long long>(highest))
        return name + " " + text + " is out of range: give " + range;
    value = static_cast<Number>(parsed);
    return std::nullopt;
}

std::optional<double> parseScale(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* stop = nullptr;
    const double value = std::strtod(text.c_str(), &stop);
    if (*stop != '\0' || !std::isfinite(value) || value < 0)
        return std::nullopt;
    return value;
}

CommandLine usageError(std::string error) {
    CommandLine result;
    result.action = CommandLine::Action::UsageError;
    result.error = std::move(error);
    return result;
}

bool takesValue(const std::string& name) {
    return name == "--host" || name == "--folder" || name == "--debug-level" || name == "--log" ||
           name == "--pause-scale" || name == "--timeout" || name == "--parallel";
}

std::optional<std::string> applySwitch(CliOptions& options, const std::string& name, Flags& flags) {
    if (name == "--resume")
        flags.resume = true;
    else if (name == "--no-resume")
        flags.noResume = true;
    else if (name == "--quiet")
        options.quiet = true;
    else if (name == "--json")
        options.json = true;
    else if (name == "--dry-run")
        options.dryRun = true;
    else if (name == "--passive")
        options.passive = true;
    else
        return "unknown option " + name;
    return std::nullopt;
}

// Stores one option; an error text when its value does not fit.
std::optional<std::string> applyOption(CliOptions& options, const std::string& name,
                                       const std::string& value, Flags& flags) {
    if (name == "--host")
        options.host = value;
    else if (name == "--folder")
        options.folder = value;
    else if (name == "--log")
        options.logFile = value;
    else if (name == "--debug-level")
        return parseWholeNumber(name, value, std::int32_t{0}, kHighestDebugLevel,
                                options.debugLevel);
    else if (name == "--parallel")
        return parseWholeNumber(name, value, std::int32_t{1}, kMaxFilesAtOnce, options.filesAtOnce);
    else if (name == "--timeout") {
        std::uint32_t seconds = 0;
        if (auto error =
                parseWholeNumber(name, value, std::uint32_t{1}, kLongestTimeoutSeconds, seconds))
            return error;
        options.timeoutSeconds = seconds;
    } else if (name == "--pause-scale") {
        const auto scale = parseScale(value);
        if (!scale)
            return "--pause-scale needs a number of 0 or more, not \"" + value + "\"";
        options.pauseScale = *scale;
    } else
        return applySwitch(options, name, flags);
    return std::nullopt;
}

// An IPv6 address without brackets cannot be told from one with a port: "::1:2121" is a
// valid address on port 21 and almost never what was meant.
std::optional<std::string> checkHost(const std::string& host) {
    const bool bareIpv6 = !host.starts_with("[") && std::count(host.begin(), host.end(), ':') > 1;
    if (bareIpv6) {
        const auto lastColon = host.rfind(':');
        return "--host \"" + host + "\": put an IPv6 address in brackets, [" +
               host.substr(0, lastColon) + "]:" + host.substr(lastColon + 1) +
               " with a port, or [" + host + "] without";
    }
    if (!ParseHostEntry(host))
        return "--host \"" + host + "\" is not a host, host:port or [IPv6]:port";
    return std::nullopt;
}

std::optional<std::string> checkVerify(const CliOptions& options, const Flags& flags) {
    if (flags.resume || flags.noResume || options.dryRun)
        return "verify changes nothing: --resume, --no-resume and --dry-run do not apply";
    if (!options.host.empty())
        return checkHost(options.host);
    return std::nullopt;
}

std::optional<std::string> checkComplete(const CliOptions& options, const Flags& flags) {
    if (!flags.operationGiven)
        return "name the operation: backup, restore, logs or verify";
    if (options.folder.empty())
        return "--folder is required";
    if (options.verify)
        return checkVerify(options, flags);
    if (options.host.empty())
        return "--host is required";
    if (flags.resume && flags.noResume)
        return "--resume and --no-resume exclude each other";
    return checkHost(options.host);
}

bool isOption(const std::string& argument) {
    return argument.size() > 1 && argument[0] == '-';
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    const auto has = [&](const char* word) {
        return std::find(arguments.begin(), arguments.end(), word) != arguments.end();
    };
    if (has("--help") || has("-h")) {
        CommandLine result;
        result.action = CommandLine::Action::Help;
        return result;
    }
    if (has("--version")) {
        CommandLine result;
        result.action = CommandLine::Action::Version;
        return result;
    }

    CommandLine result;
    Flags flags;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!isOption(argument)) {
            if (flags.operationGiven)
                return usageError(parseCommand(argument, result.options)
                                      ? "only one operation at a time"
                                      : "unexpected argument \"" + argument + "\"");
            if (!parseCommand(argument, result.options))
                return usageError("unknown operation \"" + argument + "\"");
            flags.operationGiven = true;
            continue;
        }
        if (!argument.starts_with("--"))
            return usageError("unknown option " + argument + " (options are spelt --name)");
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        std::string value;
        if (equals != std::string::npos) {
            if (!takesValue(name))
                return usageError(name + " takes no value");
            value = argument.substr(equals + 1);
        } else if (takesValue(name)) {
            if (i + 1 >= arguments.size())
                return usageError(name + " needs a value");
            value = arguments[++i];
        }
        if (auto error = applyOption(result.options, name, value, flags))
            return usageError(*error);
    }
    if (auto error = checkComplete(result.options, flags))
        return usageError(*error);
    result.options.resume = flags.resume     ? ResumeMode::Resume
                            : flags.noResume ? ResumeMode::NoResume
                                             : ResumeMode::Ask;
    result.action = CommandLine::Action::Run;
    return result;
}

std::string shortUsageText() {
    return "usage: qel backup|restore|logs --host HOST[:PORT] --folder DIR [options]\n"
           "       qel verify --folder DIR [--host HOST[:PORT]]\n";
}

std::string usageText() {
    return shortUsageText() +
           "  --debug-level N   operation log detail, 0 to 7 (0 failures only; 1, 2, 6, 7 add "
           "more)\n"
           "  --resume          continue from the folder's recovery file when it matches\n"
           "  --no-resume       start afresh\n"
           "                    (neither: ask on a terminal, otherwise start afresh)\n"
           "  --dry-run         connect and show what would change; change nothing\n"
           "  --timeout S       give up a connect, reply or transfer silent for S seconds\n"
           "                    (default 900)\n"
           "  --parallel N      move up to N files at once, each over its own connection,\n"
           "                    1 to 16 (default 1: one after another)\n"
           "  --passive         passive mode (EPSV/PASV), where the server cannot connect back\n"
           "  --quiet           print errors only\n"
           "  --json            one JSON summary on stdout at the end; progress on stderr\n"
           "  --log FILE        write the operation log to FILE\n"
           "  --pause-scale F   multiply the built-in pauses by F (default 1)\n"
           "  --help, --version\n"
           "exit status:\n" +
           exitStatusTable();
}
