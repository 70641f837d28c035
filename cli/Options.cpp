#include "cli/Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "engine/OperationTypes.h"
#include "platform/HostEntry.h"

namespace {

std::optional<std::int32_t> parseOperation(const std::string& word) {
    if (word == "backup")
        return Backup;
    if (word == "restore")
        return Restore;
    if (word == "logs")
        return LogFiles;
    return std::nullopt;
}

std::optional<std::int32_t> parseInteger(const std::string& text) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
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
           name == "--pause-scale";
}

// Stores one option; an error text when its value does not fit.
std::optional<std::string> applyOption(CliOptions& options, const std::string& name,
                                       const std::string& value, bool& resumeGiven,
                                       bool& noResumeGiven) {
    if (name == "--host")
        options.host = value;
    else if (name == "--folder")
        options.folder = value;
    else if (name == "--log")
        options.logFile = value;
    else if (name == "--debug-level") {
        const auto level = parseInteger(value);
        if (!level)
            return "--debug-level needs a whole number, not \"" + value + "\"";
        options.debugLevel = *level;
    } else if (name == "--pause-scale") {
        const auto scale = parseScale(value);
        if (!scale)
            return "--pause-scale needs a number of 0 or more, not \"" + value + "\"";
        options.pauseScale = *scale;
    } else if (name == "--resume")
        resumeGiven = true;
    else if (name == "--no-resume")
        noResumeGiven = true;
    else
        return "unknown option " + name;
    return std::nullopt;
}

std::optional<std::string> checkComplete(const CliOptions& options, bool operationGiven) {
    if (!operationGiven)
        return "name the operation: backup, restore or logs";
    if (options.host.empty())
        return "--host is required";
    if (!ParseHostEntry(options.host))
        return "--host \"" + options.host + "\" is not a host, host:port or [IPv6]:port";
    if (options.folder.empty())
        return "--folder is required";
    return std::nullopt;
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
    bool operationGiven = false;
    bool resumeGiven = false;
    bool noResumeGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.rfind("--", 0) != 0) {
            const auto operation = parseOperation(argument);
            if (!operation)
                return usageError("unknown operation \"" + argument + "\"");
            if (operationGiven)
                return usageError("only one operation at a time");
            result.options.operation = *operation;
            operationGiven = true;
            continue;
        }
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
        if (auto error = applyOption(result.options, name, value, resumeGiven, noResumeGiven))
            return usageError(*error);
    }
    if (resumeGiven && noResumeGiven)
        return usageError("--resume and --no-resume exclude each other");
    if (auto error = checkComplete(result.options, operationGiven))
        return usageError(*error);
    result.options.resume = resumeGiven     ? ResumeMode::Resume
                            : noResumeGiven ? ResumeMode::NoResume
                                            : ResumeMode::Ask;
    result.action = CommandLine::Action::Run;
    return result;
}

std::string usageText() {
    return "usage: qel backup|restore|logs --host HOST[:PORT] --folder DIR [options]\n"
           "  --debug-level N   operation log detail (0 failures only; 1, 2, 6, 7 add more)\n"
           "  --resume          continue from the folder's recovery file when it matches\n"
           "  --no-resume       start afresh\n"
           "                    (neither: ask on a terminal, otherwise start afresh)\n"
           "  --log FILE        write the operation log to FILE\n"
           "  --pause-scale F   multiply the built-in pauses by F (default 1)\n"
           "  --help, --version\n";
}
