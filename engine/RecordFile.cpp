#include "engine/RecordFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileIo.h"
#include "platform/LastError.h"

namespace recordfile {
namespace {

constexpr std::size_t kBufferBytes = 256 * 1024;

bool failWith(int code) {
    SetLastError(static_cast<std::uint32_t>(code));
    return false;
}

void encodeInt32(std::int32_t value, char* bytes) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFFu);
}

std::int32_t decodeInt32(const char* bytes) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

// A rename is durable only once the directory that holds the name is on the disk too.
void syncDirectoryOf(const std::filesystem::path& file) {
    const auto parent = file.parent_path();
    const int fd =
        ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

std::optional<std::int32_t> recordWidth(std::size_t longest) {
    if (longest > static_cast<std::size_t>(kLongestPath)) {
        failWith(ENAMETOOLONG);
        return std::nullopt;
    }
    return static_cast<std::int32_t>(longest) + kWidthMargin;
}

bool layoutFits(std::int32_t width, std::int64_t records, std::int64_t headerBytes,
                std::int64_t fileSize) {
    // A record holds a string of at least one byte: only a file without records is narrower.
    const std::int32_t narrowest = records > 0 ? kWidthMargin + 1 : kWidthMargin;
    if (width < narrowest || width > kMaxWidth || records < 0)
        return failWith(EINVAL);
    if (headerBytes + records * width > fileSize)
        return failWith(EINVAL);
    return true;
}

Writer::Writer(std::filesystem::path temporary) : m_temporary(std::move(temporary)) {
    // Whatever holds the temporary name (a leftover, or a link planted to make the program
    // overwrite another file) is removed, and the file is made new: no write goes through it.
    ::unlink(m_temporary.c_str());
    m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_fd < 0)
        failWith(errno);
}

Writer::~Writer() {
    if (!m_replaced)
        discard();
}

bool Writer::putInt32(std::int32_t value) {
    char bytes[4];
    encodeInt32(value, bytes);
    m_buffer.append(bytes, sizeof bytes);
    return true;
}

bool Writer::putRecord(const std::string& text, std::int32_t width) {
    const auto recordBytes = static_cast<std::size_t>(width);
    if (text.size() >= recordBytes)
        return failWith(ENAMETOOLONG);
    m_buffer.append(text);
    m_buffer.append(recordBytes - text.size(), '\0');
    return true;
}

void Writer::reserve(std::size_t bytes) {
    m_buffer.reserve(bytes);
}

bool Writer::flushBuffer() {
    if (m_fd < 0)
        return failWith(EBADF);
    const bool written = WriteAll(m_fd, m_buffer.data(), m_buffer.size()) || failWith(errno);
    m_buffer.clear();
    return written;
}

bool Writer::finish() {
    if (!flushBuffer())
        return false;
    if (::fsync(m_fd) != 0)
        return failWith(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return failWith(errno);
    m_finished = true;
    return true;
}

bool Writer::replace(const std::filesystem::path& target) {
    if (!m_finished)
        return failWith(EBADF);
    if (std::rename(m_temporary.c_str(), target.c_str()) != 0)
        return failWith(errno);
    m_replaced = true;
    syncDirectoryOf(target);
    return true;
}

void Writer::discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
}

Reader::Reader(const std::filesystem::path& file) {
    // Non-blocking, so that a FIFO in the file's place cannot hang the open.
    m_fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        failWith(errno);
        return;
    }
    struct stat info {};
    int error = 0;
    if (::fstat(m_fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!S_ISREG(info.st_mode))
        error = EINVAL;
    if (error != 0) {
        failWith(error);
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_size = static_cast<std::int64_t>(info.st_size);
}

Reader::~Reader() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Reader::getInt32(std::int32_t& value) {
    char bytes[4];
    if (!getBytes(bytes, sizeof bytes))
        return false;
    value = decodeInt32(bytes);
    return true;
}

bool Reader::getRecord(std::int32_t width, std::string& text) {
    if (width <= 0 || width > kMaxWidth)
        return failWith(EINVAL);
    std::string record(static_cast<std::size_t>(width), '\0');
    if (!getBytes(record.data(), record.size()))
        return false;
    const auto zero = record.find('\0');
    // No writer stores an empty string; a file of zeros must not pass for one of records.
    if (zero == std::string::npos || zero == 0)
        return failWith(EINVAL);
    // Only what the record holds is kept, not the width it is stored in.
    text.assign(record, 0, zero);
    return true;
}

bool Reader::getBytes(char* target, std::size_t count) {
    if (m_fd < 0)
        return failWith(EBADF);
    while (count > 0) {
        if (m_next == m_buffer.size()) {
            // A small file needs no large buffer.
            m_buffer.resize(static_cast<std::size_t>(
                std::clamp<std::int64_t>(m_size, 4096, std::int64_t{kBufferBytes})));
            ssize_t got;
            do
                got = ::read(m_fd, m_buffer.data(), m_buffer.size());
            while (got < 0 && errno == EINTR);
            if (got <= 0) {
                m_buffer.clear();
                m_next = 0;
                return failWith(got < 0 ? errno : EIO);
            }
            m_buffer.resize(static_cast<std::size_t>(got));
            m_next = 0;
        }
        const std::size_t take = std::min(count, m_buffer.size() - m_next);
        std::memcpy(target, m_buffer.data() + m_next, take);
        m_next += take;
        target += take;
        count -= take;
    }
    return true;
}

bool overwriteInt32AtStart(const std::filesystem::path& file, std::int32_t value, bool& opened) {
    opened = false;
    const int fd = ::open(file.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return failWith(errno);
    opened = true;
    char bytes[4];
    encodeInt32(value, bytes);
    ssize_t written;
    do
        written = ::pwrite(fd, bytes, sizeof bytes, 0);
    while (written < 0 && errno == EINTR);
    int error = 0;
    if (written != static_cast<ssize_t>(sizeof bytes))
        error = written < 0 ? errno : EIO;
    else if (::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error == 0 || failWith(error);
}

} // namespace recordfile
