#pragma once

// The control connection of one FTP login and the transfers run over it. Transport failures
// (timeout, lost or reset connection, a reply that is not FTP) throw CInternetException and
// leave the connection dead: every later command throws the same failure at once.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/FtpReply.h"
#include "platform/HostEntry.h"
#include "platform/Internet.h"
#include "platform/Socket.h"

// The session's timeouts, or the test override for all of them when one is set.
FtpTimeouts EffectiveTimeouts(const FtpTimeouts& configured);

class FtpControl {
  public:
    // Connects, reads the greeting and logs in; throws on any failure. Passive: data
    // connections go from here to the server (EPSV, else PASV) instead of back.
    FtpControl(const HostEntry& host, const std::string& user, const std::string& password,
               const FtpTimeouts& timeouts, bool passive = false);
    ~FtpControl();
    FtpControl(const FtpControl&) = delete;
    FtpControl& operator=(const FtpControl&) = delete;

    FtpReply command(const std::string& line);
    // The text of the last reply the server sent, for the log when a step was refused.
    const std::string& lastReply() const { return m_lastReply; }

    // RETR into fileFd. 0 on success, else the error code (errno for the local file).
    std::uint32_t retrieve(const std::string& remote, int fileFd);
    // STOR from fileFd. 0 on success, else the error code.
    std::uint32_t store(const std::string& remote, int fileFd);
    // The raw LIST data; nothing when the server refuses the listing.
    std::optional<std::string> list(const std::string& path);

    // STOR with a data connection left open until endUpload; both throw on refusal.
    void beginUpload(const std::string& remote);
    void endUpload();

    // QUIT, then wait a bounded time for the server to close first. Never throws.
    void quit() noexcept;

    static constexpr std::size_t kMaxListing = 64u << 20;

  private:
    struct Transfer {
        Socket data;
        FtpReply refusal; // when data is not valid
    };
    struct TransferOutcome {
        std::uint32_t code = 0;
        std::string text;
    };

    Transfer openTransfer(char type, const std::string& line, std::uint32_t waitMs);
    bool awaitDataConnection(class DataListener& listener, Transfer& transfer,
                             std::uint32_t waitMs);
    Transfer openPassiveTransfer(const std::string& line);
    // The server's data port by EPSV, else PASV; the refusal is left in the transfer.
    std::optional<int> passivePort(Transfer& transfer);
    // The TYPE reply when the server refuses it.
    std::optional<FtpReply> useType(char type);
    // Closes the data connection (with a reset after a failure) and reads the final reply.
    TransferOutcome finishTransfer(Socket& data, TransferOutcome outcome);
    // The outcome's code, with its text left as the thread's last error text.
    static std::uint32_t settle(const TransferOutcome& outcome);
    static std::uint32_t refusedTransfer(const Transfer& transfer);
    FtpReply readReply();
    std::uint32_t timeLeftForReply() const;
    void sendLine(const std::string& line);
    void throwIfDead() const;
    [[noreturn]] void die(std::uint32_t code, const std::string& text);
    FtpTimeouts timeouts() const { return EffectiveTimeouts(m_timeouts); }
    void login(const std::string& user, const std::string& password);

    FtpTimeouts m_timeouts;
    Socket m_socket;
    FtpReplyReader m_reader;
    std::chrono::steady_clock::time_point m_replyDeadline;
    Socket m_upload;
    char m_type = 0;
    bool m_passive = false;
    bool m_dead = false;
    std::uint32_t m_deadCode = 0;
    std::string m_deadText;
    std::string m_lastReply;
};
