#include "platform/TransferMeter.h"

#include <atomic>

namespace {
std::atomic<std::uint64_t> g_transferred{0};
} // namespace

void CountTransferredBytes(std::size_t bytes) {
    g_transferred.fetch_add(bytes, std::memory_order_relaxed);
}

std::uint64_t TransferredBytes() {
    return g_transferred.load(std::memory_order_relaxed);
}
