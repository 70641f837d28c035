#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ResumeMode { Ask, Resume, NoResume };

// The debug levels the operation log tells apart; higher ones would add nothing.
inline constexpr std::int32_t kHighestDebugLevel = 7;
// The longest --timeout whose milliseconds still fit the FTP client's limits.
inline constexpr std::uint32_t kLongestTimeoutSeconds = 4294967;

struct CliOptions {
    std::int32_t operation = 0;
    bool verify = false; // `qel verify` instead of an operation
    std::string host;
    std::string folder;
    std::int32_t debugLevel = 0;
    std::int32_t filesAtOnce = 1;
    ResumeMode resume = ResumeMode::Ask;
    std::optional<std::string> logFile;
    std::optional<double> pauseScale;
    std::optional<std::uint32_t> timeoutSeconds;
    bool quiet = false;
    bool json = false;
    bool dryRun = false;
    bool passive = false;
};

struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::UsageError;
    CliOptions options;
    std::string error; // what is wrong, for a usage error
};

// The arguments after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The synopsis alone, after a usage error; usageText adds the options and exit statuses.
std::string shortUsageText();
std::string usageText();
