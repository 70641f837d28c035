#include "cli/StopSignals.h"

#include <csignal>
#include <cstring>
#include <iostream>

#include "platform/StopRequest.h"

namespace {

constexpr int kSignalExitBase = 128;

void askEngineToStop(int signalNumber) {
    RequestStop(signalNumber);
}

} // namespace

void installStopHandlers() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    struct sigaction stop {};
    stop.sa_handler = askEngineToStop;
    // A second signal ends the process at once, for a stop that cannot wait for the run.
    stop.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&stop.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signalNumber, &stop, nullptr);
}

std::optional<int> reportStop(std::uint32_t result) {
    const int signalNumber = StopSignal();
    if (signalNumber == 0 || result == 0)
        return std::nullopt;
    std::cerr << "qel: stopped by signal " << signalNumber << " (" << ::strsignal(signalNumber)
              << "); run the same command with --resume to continue.\n";
    return kSignalExitBase + signalNumber;
}
