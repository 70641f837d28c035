#include "platform/FtpControl.h"

#include "platform/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/DataListener.h"
#include "platform/InternetFailure.h"
#include "platform/LastError.h"
#include "platform/PassiveData.h"
#include "platform/PeerClose.h"
#include "platform/TransferMeter.h"

namespace {

// Large reads and writes: small ones cap a transfer far below what disk and network allow.
constexpr std::size_t kTransferBuffer = 1 << 20;
// How long a connection is kept after QUIT for the server to end it first.
constexpr std::uint32_t kQuitWaitMs = 5000;
// A server that keeps saying "120 ready soon" is not going to be ready.
constexpr int kMaxGreetingDelays = 16;

std::uint32_t codeForFinalReply(const FtpReply& reply) {
    if (reply.kind() == 2)
        return 0;
    return reply.code == 426 ? ERROR_INTERNET_CONNECTION_ABORTED : ERROR_INTERNET_EXTENDED_ERROR;
}

} // namespace

FtpControl::FtpControl(const HostEntry& host, const std::string& user, const std::string& password,
                       const FtpTimeouts& timeouts, bool passive)
    : m_timeouts(timeouts), m_reader([this](char* buffer, std::size_t capacity) {
          return ReceiveSome(m_socket, buffer, capacity, timeLeftForReply());
      }),
      m_passive(passive) {
    m_socket = ConnectTo(host.host, host.port, this->timeouts().connectMs);
    const int one = 1;
    setsockopt(m_socket.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    login(user, password);
}

FtpControl::~FtpControl() = default;

void FtpControl::login(const std::string& user, const std::string& password) {
    FtpReply reply = readReply();
    for (int delays = 0; reply.code == 120 && delays < kMaxGreetingDelays; ++delays)
        reply = readReply();
    if (reply.code != 220)
        ThrowInternetError(ERROR_INTERNET_EXTENDED_ERROR, RefusalText(reply.text()));
    // USER and PASS in one write: a login costs one round trip less, and what the server asks
    // for after USER is the password.
    sendLine("USER " + user + "\r\nPASS " + password);
    reply = readReply();
    if (reply.code == 331) {
        reply = readReply();
        if (reply.kind() == 2)
            return;
        ThrowInternetError(reply.code == 530 ? ERROR_INTERNET_INCORRECT_PASSWORD
                                             : ERROR_INTERNET_LOGIN_FAILURE,
                           RefusalText(reply.text()));
    }
    if (reply.kind() == 2) {
        // Logged in without a password: the unasked PASS still gets its answer.
        readReply();
        return;
    }
    ThrowInternetError(reply.kind() == 5 ? ERROR_INTERNET_INCORRECT_USER_NAME
                                         : ERROR_INTERNET_LOGIN_FAILURE,
                       RefusalText(reply.text()));
}

void FtpControl::throwIfDead() const {
    if (m_dead)
        ThrowInternetError(m_deadCode, m_deadText);
}

void FtpControl::die(std::uint32_t code, const std::string& text) {
    m_dead = true;
    m_deadCode = code;
    m_deadText = text;
    m_upload.close();
    m_socket.close();
    ThrowInternetError(code, text);
}

// The whole reply must arrive within the timeout: a server that trickles it a byte at a time
// must not hold the run for ever.
std::uint32_t FtpControl::timeLeftForReply() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          m_replyDeadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0)
        ThrowTimeout();
    return static_cast<std::uint32_t>(left);
}

FtpReply FtpControl::readReply() {
    throwIfDead();
    m_replyDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeouts().receiveMs);
    FtpReply reply;
    ReplyStatus status = ReplyStatus::Complete;
    try {
        status = m_reader.read(reply);
    } catch (const CInternetException& failure) {
        die(failure.m_dwError, failure.GetErrorMessage());
    }
    switch (status) {
    case ReplyStatus::Complete:
        m_lastReply = reply.text();
        return reply;
    case ReplyStatus::ConnectionClosed:
        die(ERROR_INTERNET_CONNECTION_ABORTED, "The server closed the connection");
    case ReplyStatus::NotFtp:
        die(ERROR_INTERNET_CONNECTION_ABORTED, "The server sent a reply that is not FTP");
    case ReplyStatus::TooLong:
        break;
    }
    die(ERROR_INTERNET_CONNECTION_ABORTED, "The server sent a reply that is too long");
}

void FtpControl::sendLine(const std::string& line) {
    throwIfDead();
    const std::string wire = line + "\r\n";
    try {
        SendAll(m_socket, wire.data(), wire.size(), timeouts().sendMs);
    } catch (const CInternetException& failure) {
        die(failure.m_dwError, failure.GetErrorMessage());
    }
}

FtpReply FtpControl::command(const std::string& line) {
    sendLine(line);
    return readReply();
}

std::optional<FtpReply> FtpControl::useType(char type) {
    if (m_type == type)
        return std::nullopt;
    FtpReply reply = command(std::string("TYPE ") + type);
    if (reply.kind() != 2)
        return reply;
    m_type = type;
    return std::nullopt;
}

FtpControl::Transfer FtpControl::openTransfer(char type, const std::string& line,
                                              std::uint32_t waitMs) {
    Transfer transfer;
    if (auto refused = useType(type)) {
        transfer.refusal = *refused;
        return transfer;
    }
    if (m_passive)
        return openPassiveTransfer(line);
    DataListener listener(m_socket);
    FtpReply port = command(listener.portCommand());
    if (port.kind() != 2) {
        transfer.refusal = port;
        return transfer;
    }
    sendLine(line);
    if (!awaitDataConnection(listener, transfer, waitMs))
        transfer.data.close();
    return transfer;
}

std::optional<int> FtpControl::passivePort(Transfer& transfer) {
    FtpReply reply = command("EPSV");
    // PASV names an IPv4 address, but only its port is used, so it serves IPv6 servers too.
    if (reply.kind() != 2)
        reply = command("PASV");
    const auto port = ParsePassivePort(reply);
    if (!port)
        transfer.refusal = reply;
    return port;
}

FtpControl::Transfer FtpControl::openPassiveTransfer(const std::string& line) {
    Transfer transfer;
    const auto port = passivePort(transfer);
    if (!port)
        return transfer;
    transfer.data = ConnectDataToPeer(m_socket, *port, timeouts().connectMs);
    sendLine(line);
    FtpReply reply = readReply();
    if (reply.code != 125 && reply.code != 150) {
        transfer.refusal = reply;
        transfer.data.close();
    }
    return transfer;
}

// Both the server's connection and its 125/150 must arrive, in either order; a refusal ends
// the wait at once.
bool FtpControl::awaitDataConnection(DataListener& listener, Transfer& transfer,
                                     std::uint32_t waitMs) {
    bool preliminary = false;
    while (!transfer.data.valid() || !preliminary) {
        bool replyWaiting = !preliminary && m_reader.hasBufferedData();
        if (!replyWaiting) {
            pollfd entries[2];
            unsigned count = 0;
            if (!transfer.data.valid())
                entries[count++] = {listener.fd(), POLLIN, 0};
            if (!preliminary)
                entries[count++] = {m_socket.fd(), POLLIN, 0};
            if (PollFor(entries, count, waitMs) == 0)
                die(ERROR_INTERNET_TIMEOUT,
                    preliminary ? "The operation timed out: the server did not open the data "
                                  "connection"
                                : "The operation timed out");
            if (!transfer.data.valid() && entries[0].revents != 0)
                transfer.data = listener.acceptFromPeer(m_socket);
            replyWaiting = !preliminary && entries[count - 1].revents != 0;
        }
        if (replyWaiting) {
            FtpReply reply = readReply();
            if (reply.code == 125 || reply.code == 150) {
                preliminary = true;
            } else if (reply.kind() != 1) {
                transfer.refusal = reply;
                return false;
            }
        }
    }
    return true;
}

FtpControl::TransferOutcome FtpControl::finishTransfer(Socket& data, TransferOutcome outcome) {
    if (outcome.code != 0)
        data.abort();
    else
        data.close();
    // A stalled data connection says nothing about when the final reply would come.
    if (outcome.code == ERROR_INTERNET_TIMEOUT)
        die(outcome.code, outcome.text);
    const FtpReply reply = readReply();
    if (outcome.code == 0 && reply.kind() != 2)
        outcome = {codeForFinalReply(reply), RefusalText(reply.text())};
    return outcome;
}

std::uint32_t FtpControl::settle(const TransferOutcome& outcome) {
    if (outcome.code != 0)
        SetLastErrorText(outcome.text);
    return outcome.code;
}

std::uint32_t FtpControl::refusedTransfer(const Transfer& transfer) {
    return settle({ERROR_INTERNET_EXTENDED_ERROR, RefusalText(transfer.refusal.text())});
}

std::uint32_t FtpControl::retrieve(const std::string& remote, int fileFd) {
    Transfer transfer = openTransfer('I', "RETR " + remote, timeouts().dataReceiveMs);
    if (!transfer.data.valid())
        return refusedTransfer(transfer);
    const auto buffer = std::make_unique_for_overwrite<char[]>(kTransferBuffer);
    TransferOutcome outcome;
    try {
        while (const std::size_t received = ReceiveSome(
                   transfer.data, buffer.get(), kTransferBuffer, timeouts().dataReceiveMs)) {
            if (!WriteAll(fileFd, buffer.get(), received)) {
                outcome = {static_cast<std::uint32_t>(errno), "Cannot write the local file"};
                break;
            }
            CountTransferredBytes(received);
        }
    } catch (const CInternetException& failure) {
        outcome = {failure.m_dwError, failure.GetErrorMessage()};
    }
    return settle(finishTransfer(transfer.data, outcome));
}

std::uint32_t FtpControl::store(const std::string& remote, int fileFd) {
    Transfer transfer = openTransfer('I', "STOR " + remote, timeouts().dataSendMs);
    if (!transfer.data.valid())
        return refusedTransfer(transfer);
    const auto buffer = std::make_unique_for_overwrite<char[]>(kTransferBuffer);
    TransferOutcome outcome;
    try {
        for (;;) {
            const ssize_t got = ::read(fileFd, buffer.get(), kTransferBuffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                outcome = {static_cast<std::uint32_t>(errno), "Cannot read the local file"};
                break;
            }
            if (got == 0)
                break;
            SendAll(transfer.data, buffer.get(), static_cast<std::size_t>(got),
                    timeouts().dataSendMs);
            CountTransferredBytes(static_cast<std::size_t>(got));
        }
    } catch (const CInternetException& failure) {
        outcome = {failure.m_dwError, failure.GetErrorMessage()};
    }
    return settle(finishTransfer(transfer.data, outcome));
}

std::optional<std::string> FtpControl::list(const std::string& path) {
    Transfer transfer =
        openTransfer('A', path.empty() ? "LIST" : "LIST " + path, timeouts().dataReceiveMs);
    if (!transfer.data.valid())
        return std::nullopt;
    std::string listing;
    TransferOutcome outcome;
    try {
        char chunk[64 * 1024];
        while (const std::size_t received =
                   ReceiveSome(transfer.data, chunk, sizeof chunk, timeouts().dataReceiveMs)) {
            listing.append(chunk, received);
            if (listing.size() > kMaxListing) {
                outcome = {ERROR_INTERNET_CONNECTION_ABORTED,
                           "The server's listing is larger than 64 MiB"};
                break;
            }
        }
    } catch (const CInternetException& failure) {
        outcome = {failure.m_dwError, failure.GetErrorMessage()};
    }
    outcome = finishTransfer(transfer.data, outcome);
    // A listing cut short must never pass for a complete one.
    if (outcome.code != 0)
        ThrowInternetError(outcome.code, outcome.text);
    return listing;
}

void FtpControl::beginUpload(const std::string& remote) {
    Transfer transfer = openTransfer('I', "STOR " + remote, timeouts().dataSendMs);
    if (!transfer.data.valid())
        ThrowInternetError(ERROR_INTERNET_EXTENDED_ERROR, RefusalText(transfer.refusal.text()));
    m_upload = std::move(transfer.data);
}

void FtpControl::endUpload() {
    const TransferOutcome outcome = finishTransfer(m_upload, {});
    if (outcome.code != 0)
        ThrowInternetError(outcome.code, outcome.text);
}

void FtpControl::quit() noexcept {
    if (m_dead)
        return;
    const std::uint32_t lastError = GetLastError();
    try {
        m_upload.close();
        const std::string line = "QUIT\r\n";
        SendAll(m_socket, line.data(), line.size(), std::min(timeouts().sendMs, kQuitWaitMs));
        closeWhenPeerHasClosed(std::move(m_socket), std::min(timeouts().receiveMs, kQuitWaitMs));
    } catch (const CInternetException&) {
        // The connection ends either way.
    }
    SetLastError(lastError);
    m_dead = true;
    m_deadCode = ERROR_INTERNET_CONNECTION_ABORTED;
    m_deadText = "The connection to the server is closed";
    m_socket.close();
}
