#include "cli/JsonSummary.h"

#include <cstdio>

#include "cli/ExitStatus.h"
#include "engine/OperationTypes.h"

namespace {

const char* operationName(const CliOptions& options) {
    if (options.verify)
        return "verify";
    switch (options.operation) {
    case Backup:
        return "backup";
    case Restore:
        return "restore";
    default:
        return "logs";
    }
}

std::string field(const char* name, const std::string& jsonValue) {
    return jsonString(name) + ":" + jsonValue;
}

} // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonSummary(const CliOptions& options, const std::string& folder,
                        const RunOutcome& outcome) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", outcome.seconds);
    const std::string fields[] = {
        field("operation", jsonString(operationName(options))),
        field("dry_run", options.dryRun ? "true" : "false"),
        field("host", jsonString(options.host)),
        field("folder", jsonString(folder)),
        field("exit_status", std::to_string(outcome.exitStatus)),
        field("meaning", jsonString(exitMeaning(outcome.exitStatus))),
        field("result_code", std::to_string(outcome.result)),
        field("message", jsonString(outcome.message)),
        field("files_done", std::to_string(outcome.filesDone)),
        field("files_total", std::to_string(outcome.filesTotal)),
        field("bytes", std::to_string(outcome.bytes)),
        field("seconds", seconds),
        field("recovery_file_left", outcome.recoveryEntries ? "true" : "false"),
        field("recovery_entries", std::to_string(outcome.recoveryEntries.value_or(0))),
        field("log", jsonString(outcome.logPath)),
    };
    std::string object = "{";
    for (const std::string& entry : fields)
        object += (object.size() > 1 ? "," : "") + entry;
    return object + "}\n";
}
