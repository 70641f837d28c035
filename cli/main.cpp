#include <iostream>
#include <string>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/Options.h"
#include "cli/QelRun.h"
#include "engine/oplog/EngineState.h"

int main(int argc, char** argv) {
    const CommandLine commandLine =
        parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::cout << usageText();
        return 0;
    case CommandLine::Action::Version:
        std::cout << "qel " << vlmFTPClient::kToolVersion << '\n';
        return 0;
    case CommandLine::Action::UsageError:
        std::cerr << "qel: " << commandLine.error << '\n'
                  << shortUsageText() << "qel --help lists the options and exit statuses\n";
        return kExitUsage;
    case CommandLine::Action::Run:
        break;
    }
    return runQel(commandLine.options);
}
