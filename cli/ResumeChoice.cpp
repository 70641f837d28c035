#include "cli/ResumeChoice.h"

#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <unistd.h>

#include "common/StringTable.h"
#include "engine/OperationTypes.h"
#include "engine/RecoveryFiles.h"

namespace {

std::string operationWord(std::int32_t operation) {
    switch (operation) {
    case Backup:
        return "backup";
    case Restore:
        return "restore";
    case LogFiles:
        return "log download";
    default:
        return "unknown operation";
    }
}

// What a recovery file records, in the words of the command line.
std::string describe(const RecoveryHeader& header) {
    return "a " + operationWord(header.code - 1) + " of host \"" + header.host +
           "\" into folder \"" + header.folder + "\" with " + std::to_string(header.entries) +
           (header.entries == 1 ? " file" : " files") + " left";
}

std::string whatDiffers(const RecoveryHeader& header, const CliOptions& options,
                        const std::string& folder) {
    if (header.code - 1 != options.operation)
        return "another operation";
    if (header.host != options.host)
        return "host \"" + header.host + "\" (spelt differently counts as another host)";
    if (header.folder != folder)
        return "folder \"" + header.folder + "\"";
    return "nothing";
}

std::string readAnswer(int tty) {
    std::string answer;
    char c = 0;
    while (answer.size() < 64 && ::read(tty, &c, 1) == 1 && c != '\n')
        answer += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer;
}

// The question on the controlling terminal, whatever stdout is; nullopt without a terminal.
std::optional<bool> askOnTerminal(const RecoveryHeader& header) {
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return std::nullopt;
    const std::string question = "qel: the recovery file k7.bad holds " + describe(header) + ".\n" +
                                 LoadString(IDS_RESUME_QUESTION) + " [y/N] ";
    bool yes = false;
    if (::write(tty, question.data(), question.size()) == static_cast<ssize_t>(question.size())) {
        std::string answer = readAnswer(tty);
        while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
            answer.pop_back();
        yes = answer == "y" || answer == "yes";
    }
    ::close(tty);
    return yes;
}

// A decision taken without asking; --quiet keeps it to the log of the caller's choices.
void tell(const CliOptions& options, const std::string& line) {
    if (!options.quiet)
        std::cerr << "qel: " << line << '\n';
}

} // namespace

std::int32_t chooseResume(const CliOptions& options, const std::string& folder) {
    if (options.resume == ResumeMode::NoResume)
        return 0;
    const auto header = readRecoveryHeader(kRecoveryFileName);
    if (!header) {
        if (options.resume == ResumeMode::Resume)
            tell(options, "there is no recovery file in " + folder + "; starting afresh.");
        return 0;
    }
    if (!recoveryMatches(*header, options.operation, options.host, folder)) {
        tell(options, "the recovery file k7.bad holds " + describe(*header) +
                          ", not this one (it differs in " + whatDiffers(*header, options, folder) +
                          "); starting afresh.");
        return 0;
    }
    if (options.resume == ResumeMode::Resume)
        return 1;
    if (const auto answer = askOnTerminal(*header))
        return *answer ? 1 : 0;
    tell(options, "the recovery file k7.bad holds " + describe(*header) +
                      "; with no terminal to ask, starting afresh (--resume continues from it).");
    return 0;
}
