#include "platform/StopRequest.h"

#include <atomic>
#include <cstring>
#include <string>

#include "platform/InternetFailure.h"
#include "platform/LastError.h"

namespace {

std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

} // namespace

void RequestStop(int signalNumber) noexcept {
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, signalNumber);
}

int StopSignal() noexcept {
    return g_stopSignal.load();
}

void ThrowIfStopRequested() {
    const int signalNumber = StopSignal();
    if (signalNumber != 0)
        ThrowInternetError(ERROR_INTERNET_OPERATION_CANCELLED,
                           std::string("The run was stopped by signal ") +
                               std::to_string(signalNumber) + " (" + ::strsignal(signalNumber) +
                               ")");
}
