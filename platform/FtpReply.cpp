#include "platform/FtpReply.h"

#include <cctype>

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// "ddd text", "ddd-text" or a bare "ddd"; the first digit 1 to 5.
std::optional<int> replyCode(const std::string& line) {
    if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !isDigit(line[1]) || !isDigit(line[2]))
        return std::nullopt;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
        return std::nullopt;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool endsMultiLineReply(const std::string& line, const std::string& first) {
    return line.compare(0, 3, first, 0, 3) == 0 && (line.size() == 3 || line[3] == ' ');
}

} // namespace

std::string FtpReply::text() const {
    std::string all;
    for (const auto& line : lines) {
        if (!all.empty())
            all += '\n';
        all += line;
    }
    return all;
}

ReplyStatus FtpReplyReader::nextLine(std::string& line) {
    for (;;) {
        const auto end = m_buffer.find('\n', m_scanned);
        if (end != std::string::npos) {
            if (end > kMaxLineLength)
                return ReplyStatus::TooLong;
            line.assign(m_buffer, 0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            m_buffer.erase(0, end + 1);
            m_scanned = 0;
            return ReplyStatus::Complete;
        }
        m_scanned = m_buffer.size();
        if (m_buffer.size() > kMaxLineLength)
            return ReplyStatus::TooLong;
        char chunk[4096];
        const std::size_t received = m_source(chunk, sizeof chunk);
        if (received == 0)
            return ReplyStatus::ConnectionClosed;
        m_buffer.append(chunk, received);
    }
}

ReplyStatus FtpReplyReader::read(FtpReply& reply) {
    reply = FtpReply{};
    std::string line;
    if (auto status = nextLine(line); status != ReplyStatus::Complete)
        return status;
    const auto code = replyCode(line);
    if (!code)
        return ReplyStatus::NotFtp;
    reply.code = *code;
    const bool multiLine = line.size() > 3 && line[3] == '-';
    std::size_t total = line.size();
    reply.lines.push_back(std::move(line));
    if (!multiLine)
        return ReplyStatus::Complete;
    for (;;) {
        if (auto status = nextLine(line); status != ReplyStatus::Complete)
            return status;
        total += line.size() + 1;
        if (total > kMaxReplySize)
            return ReplyStatus::TooLong;
        const bool last = endsMultiLineReply(line, reply.lines.front());
        reply.lines.push_back(std::move(line));
        if (last)
            return ReplyStatus::Complete;
    }
}

std::optional<std::string> ParsePwdReply(const FtpReply& reply) {
    if (reply.code != 257 || reply.lines.empty())
        return std::nullopt;
    const std::string& line = reply.lines.front();
    auto position = line.find('"', 3);
    if (position == std::string::npos)
        return std::nullopt;
    std::string path;
    for (++position; position < line.size(); ++position) {
        const char c = line[position];
        if (c == '"') {
            if (position + 1 < line.size() && line[position + 1] == '"') {
                path += '"';
                ++position;
                continue;
            }
            if (path.empty())
                return std::nullopt;
            return path;
        }
        if (c == '\r' || c == '\n' || c == '\0')
            return std::nullopt;
        path += c;
    }
    return std::nullopt;
}
