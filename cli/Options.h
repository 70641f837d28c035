#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ResumeMode { Ask, Resume, NoResume };

struct CliOptions {
    std::int32_t operation = 0;
    std::string host;
    std::string folder;
    std::int32_t debugLevel = 0;
    ResumeMode resume = ResumeMode::Ask;
    std::optional<std::string> logFile;
    std::optional<double> pauseScale;
};

struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::UsageError;
    CliOptions options;
    std::string error; // what is wrong, for a usage error
};

// The arguments after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText();
