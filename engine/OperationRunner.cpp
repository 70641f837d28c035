#include "engine/OperationRunner.h"

#include <stdexcept>

#include "engine/Driver.h"

OperationRunner::~OperationRunner() {
    if (m_thread.joinable())
        m_thread.join();
}

void OperationRunner::start(OperationContext& context) {
    if (m_thread.joinable())
        throw std::logic_error("OperationRunner: the previous worker has not been collected");
    m_done.store(false, std::memory_order_relaxed);
    m_exitCode.reset();
    m_thread = std::thread([this, &context] {
        m_result = runOperation(&context);
        m_done.store(true, std::memory_order_release);
    });
}

std::optional<std::uint32_t> OperationRunner::exitCode() {
    if (!m_exitCode && m_thread.joinable() && m_done.load(std::memory_order_acquire))
        wait();
    return m_exitCode;
}

std::uint32_t OperationRunner::wait() {
    if (m_thread.joinable()) {
        m_thread.join();
        m_exitCode = m_result;
    }
    if (!m_exitCode)
        throw std::logic_error("OperationRunner: no worker has been started");
    return *m_exitCode;
}
