#pragma once

// Reading FTP replies from the control connection. A reply that is not FTP, too long, or cut
// short by the end of the stream is reported as such; nothing here trusts the server.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct FtpReply {
    int code = 0;
    std::vector<std::string> lines; // as received, line ends removed

    int kind() const { return code / 100; }
    // Every line, joined with "\n", for messages.
    std::string text() const;
};

enum class ReplyStatus { Complete, ConnectionClosed, NotFtp, TooLong };

class FtpReplyReader {
  public:
    // Fills up to `capacity` bytes and returns how many; 0 at the end of the stream. Transport
    // failures are the source's business (it throws).
    using Source = std::function<std::size_t(char* buffer, std::size_t capacity)>;

    static constexpr std::size_t kMaxLineLength = 16 * 1024;
    static constexpr std::size_t kMaxReplySize = 256 * 1024;

    explicit FtpReplyReader(Source source) : m_source(std::move(source)) {}

    ReplyStatus read(FtpReply& reply);
    // Whether bytes of a following reply already arrived with the previous read.
    bool hasBufferedData() const { return !m_buffer.empty(); }

  private:
    ReplyStatus nextLine(std::string& line);

    Source m_source;
    std::string m_buffer;
    std::size_t m_scanned = 0; // bytes of m_buffer known to hold no line end
};

// The path of a 257 reply: the first quoted string, doubled quotes undone. Nothing when the
// closing quote is missing or the path is empty or holds CR, LF or NUL.
std::optional<std::string> ParsePwdReply(const FtpReply& reply);
