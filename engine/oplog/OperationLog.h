#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// The operation log: four writers, each opening the file in append mode, writing and closing
// it again. A line that cannot be written is dropped; the run goes on.

void logMessage(const std::string& text);
// Reads the thread's last error before anything else, writes the version line and the FAIL
// record, and returns the saved code.
std::uint32_t logFailure(const char* operationName, int rc);
void logException(const std::string& text);
void logStart();

// Where the log goes. By default "VelmoraQel.log" at the root of the file system that holds
// the current directory, else $XDG_STATE_HOME/velmora-qel/VelmoraQel.log. A front end or a
// test can name the file; std::nullopt returns to the default.
void setLogFilePath(std::optional<std::filesystem::path> path);
std::filesystem::path logFilePath();
